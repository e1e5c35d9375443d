// The table of the streamed pixel formats.
#include "frame_formats.h"

namespace {

constexpr FrameFormat kFrameFormats[] = {
    {"Mono8", 1, FrameBuild::CopyCameraImage, FrameSending::Image, 0},
    {"Mono16", 2, FrameBuild::CopyMonoImage, FrameSending::Image, 1},
    {"RGB16", 6, FrameBuild::Convert16Bit, FrameSending::Image, 1},
    {"Coord3D_ABC16", 6, FrameBuild::Convert16Bit, FrameSending::PointCloud, 1},
    {"Coord3D_ABC32f", 12, FrameBuild::ConvertFloat, FrameSending::PointCloud, 1},
};

constexpr bool fitsTheLargestFrame() {
    for (const FrameFormat& format : kFrameFormats)
        if (format.bytesPerPixel > kLargestBytesPerPixel) return false;
    return true;
}
static_assert(fitsTheLargestFrame(), "the frame buffer is sized by kLargestBytesPerPixel");

}  // namespace

const FrameFormat* findFrameFormat(std::string_view name) {
    for (const FrameFormat& format : kFrameFormats)
        if (format.name == name) return &format;
    return nullptr;
}
