// The pixel formats the device knows (the table of pixel_format_table.h) and the payload size that follows
// from the image size, the pixel format and the chunk layout.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pixel_format_table.h"

namespace gvsp {

using pfnc::bytesPerPixel;
using pfnc::findPixelFormat;
using pfnc::isCoordinateFormat;
using pfnc::PixelFormatInfo;

// The known formats, in a stable order.
const PixelFormatInfo* pixelFormats(std::size_t* count);

// Bytes one frame carries: the image, and with chunks on (chunkCount > 0) the image's own chunk tail
// plus the chunk values and one tail per chunk.
std::uint64_t payloadSize(std::uint32_t width, std::uint32_t height, std::uint32_t code, std::uint32_t chunkBytes,
                          std::uint32_t chunkCount);

}  // namespace gvsp
