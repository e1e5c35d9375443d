// Point clouds (three 64-bit floats X, Y, Z per point, mm) into the 3D pixel formats: three unsigned 16-bit
// values (Coord3D_ABC16, RGB16) or three 32-bit floats (Coord3D_ABC32f) per pixel, with the advertised
// per-axis scale and offset applied and (0, 0, 0) for points without a measurement.
#include <cstring>

#include "main_class.h"

namespace {

struct AxisScaling {
    double offset[3];
    double scale[3];
};

// One consistent scaling for the whole frame: a PixelFormat write during a conversion applies from the
// next frame on instead of changing the scaling part-way through this one.
AxisScaling scalingOf(CMainClass& bridge) {
    std::lock_guard<std::recursive_mutex> lock(bridge.stateMutex);
    AxisScaling scaling{};
    for (int axis = 0; axis < 3; ++axis) {
        scaling.offset[axis] = static_cast<double>(bridge.coordinates[axis].offset);
        scaling.scale[axis] = static_cast<double>(bridge.coordinates[axis].scale);
    }
    return scaling;
}

std::size_t pointCount(std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0) return 0;
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}

// A Z that is not greater than 0 marks a point without measurement; written as a negated test so that a
// Z that is not a number counts as measured.
inline bool isMeasured(double z) { return !(0.0 >= z); }

// True when the value truncates toward zero into 0..65535 (false for values that are not numbers).
inline bool fitsUnsigned16(double value) { return value > -1.0 && value < 65536.0; }

}  // namespace

void CMainClass::convertPointsToU16(std::int32_t width, std::int32_t height, bool noData, const double* points,
                                    std::uint16_t* output) {
    const std::size_t count = pointCount(width, height);
    if (noData) {
        std::memset(output, 0, count * 3 * sizeof *output);
        return;
    }
    const AxisScaling s = scalingOf(*this);
    for (std::size_t i = 0; i < count; ++i) {
        const double* point = points + 3 * i;
        std::uint16_t* pixel = output + 3 * i;
        const double a = (point[0] - s.offset[0]) / s.scale[0];
        const double b = (point[1] - s.offset[1]) / s.scale[1];
        const double c = (point[2] - s.offset[2]) / s.scale[2];
        // A coordinate outside the 16-bit range would wrap into a wrong value that looks valid, so such a
        // point is sent as a point without measurement.
        if (isMeasured(point[2]) && fitsUnsigned16(a) && fitsUnsigned16(b) && fitsUnsigned16(c)) {
            pixel[0] = static_cast<std::uint16_t>(a);
            pixel[1] = static_cast<std::uint16_t>(b);
            pixel[2] = static_cast<std::uint16_t>(c);
        } else {
            pixel[0] = pixel[1] = pixel[2] = 0;
        }
    }
}

void CMainClass::convertPointsToFloat(std::int32_t width, std::int32_t height, bool noData, const double* points,
                                      float* output) {
    const std::size_t count = pointCount(width, height);
    if (noData) {
        std::memset(output, 0, count * 3 * sizeof *output);
        return;
    }
    const AxisScaling s = scalingOf(*this);
    for (std::size_t i = 0; i < count; ++i) {
        const double* point = points + 3 * i;
        float* pixel = output + 3 * i;
        const bool measured = isMeasured(point[2]);
        for (int axis = 0; axis < 3; ++axis) {
            pixel[axis] = measured ? static_cast<float>((point[axis] - s.offset[axis]) / s.scale[axis]) : 0.0f;
        }
    }
}
