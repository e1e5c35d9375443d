// The pixel formats the bridge streams, and for each what the acquisition loop and the register handlers
// need to know: how large a pixel is, how a frame is built and sent, and which camera mode the sensor must be
// in to deliver it.
#pragma once

#include <cstdint>
#include <string_view>

// Where a frame's bytes come from.
enum class FrameBuild {
    CopyCameraImage,  // the sensor's 8-bit camera image as it is
    CopyMonoImage,    // the 16-bit mono image that comes with a point cloud
    Convert16Bit,     // the point cloud scaled to 16-bit coordinates
    ConvertFloat,     // the point cloud as 32-bit float coordinates
};

// How the device puts a frame on the wire.
enum class FrameSending { Image, PointCloud };

struct FrameFormat {
    std::string_view name;  // the PFNC name, as PixelFormat shows it
    std::int32_t bytesPerPixel;
    FrameBuild build;
    FrameSending sending;
    std::int32_t cameraMode;  // SetCameraMode: 0 camera images, 1 point clouds
};

// The entry of a format by its name; null for a format the bridge cannot stream.
const FrameFormat* findFrameFormat(std::string_view name);

// The largest frame of all formats, in bytes per pixel of the full resolution.
constexpr std::int32_t kLargestBytesPerPixel = 12;
