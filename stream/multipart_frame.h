// The multipart blocks of AcquisitionMultiPartMode = SynchronizedComponents: from one sensor fetch, the Range
// part (the point cloud in the 3D PixelFormat, as a single-part frame would carry it), the Intensity part (the
// Mono16 image of the same trigger) and the Confidence part (Confidence8: 255 where the Range part holds a
// measured point, 0 where it does not), each only while its ComponentEnable is set.
//
// Multipart blocks are built only while PixelFormat is a 3D format (the Range part's format), at least one
// component is enabled (the last one cannot be disabled in this mode, nor an acquisition started without one)
// and the client takes multipart blocks; otherwise the acquisition streams single images as in SingleComponent
// mode, the Range image in PixelFormat.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "frame_formats.h"

class CMainClass;

// The parts a multipart block carries under the current settings.
struct MultipartChoice {
    bool active = false;                      // multipart blocks are sent
    bool enabled[3] = {false, false, false};  // Range, Intensity, Confidence
    int partCount = 0;
    // Bytes of all parts for `pixels` points.
    std::uint64_t partBytes(std::size_t pixels, const FrameFormat& range) const;
};

// What the settings of `bridge` choose (its state lock is taken here).
MultipartChoice chooseMultipart(CMainClass& bridge, const FrameFormat* format);

// Tells the device the size of the blocks the current settings give (PayloadSize follows).
void applyMultipartLayout(CMainClass& bridge);

class MultipartFrame {
public:
    // Buffers for up to `pixels` points; false when there is not enough memory.
    bool allocate(std::size_t pixels);

    // Sends the parts of one fetch: `range` is the Range part already built in `format`, `points` the
    // sensor's cloud (x, y, z per point) and `mono` its intensity image (cleared for a cycle without data, as
    // single-part frames are). Returns the device's result.
    int send(CMainClass& bridge, const MultipartChoice& choice, const FrameFormat& format, int width, int height,
             bool noData, const std::uint8_t* range, const double* points, std::uint16_t* mono);

private:
    std::unique_ptr<std::uint8_t[]> confidence_;
};
