// The scene in front of the emulated sensor: a tilted plane, a sphere and a box, seen by a camera at the origin
// looking along +Z and lit by a projector beside it. The geometry is traced once at start; each frame then only
// adds seeded noise and the brightness of the current exposure, gain and LED power, so frames are cheap and
// the same seed and frame number give the same bytes.
//
// Pixels without measurement (in the projector's shadow, beyond the measuring range, too dark or saturated)
// have X = Y = Z = 0.
#pragma once

#include <cstdint>
#include <vector>

namespace emulator {

struct SceneRanges {
    double workingRangeZStart;  // mm
    double measuringRangeX;     // mm, at the middle of the Z range
    double measuringRangeY;
    double measuringRangeZ;
};

class Scene {
public:
    Scene(std::uint32_t width, std::uint32_t height, const SceneRanges& ranges, std::uint64_t seed);

    // Brightness is the light that reaches the camera relative to full scale on a white surface: exposure,
    // gain and LED power together.
    static double brightness(double exposureUs, double gain, double ledPowerPercent);

    // X, Y, Z doubles per pixel (mm) into `xyz` (3 per pixel) and the 16-bit intensity into `mono`.
    void renderCloud(std::uint64_t frameIndex, double brightness, double* xyz, std::uint16_t* mono) const;
    // The 8-bit 2D image of the camera: surfaces stay visible where 3D fails, shadows are dark.
    void renderCameraImage(std::uint64_t imageIndex, double brightness, std::uint8_t* image) const;

    std::uint32_t pixelCount() const { return width_ * height_; }

private:
    std::uint32_t width_;
    std::uint32_t height_;
    std::vector<float> points_;        // 3 per pixel; the surface hit, valid or not (float halves the memory traffic)
    std::vector<std::uint8_t> state_;  // PixelState per pixel
    std::vector<float> reflectance_;   // light returned towards the camera, 0..1
    std::vector<float> depthNoise_;    // depth noise in mm over the pixel's distance
    std::vector<float> noise_;         // standard-normal samples, one per pixel, reused at shifting offsets
};

}  // namespace emulator
