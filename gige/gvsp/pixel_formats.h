// The pixel formats the device knows (PFNC names and codes) and the payload size that follows from
// the image size, the pixel format and the chunk layout.
#pragma once

#include <cstdint>
#include <string_view>

namespace gvsp {

struct PixelFormatInfo {
    std::string_view name;
    std::uint32_t code;
};

// The known formats, in a stable order. Unknown names and codes are refused by the lookups below.
const PixelFormatInfo* pixelFormats(std::size_t* count);
const PixelFormatInfo* findPixelFormat(std::string_view name);
const PixelFormatInfo* findPixelFormat(std::uint32_t code);

// PFNC codes carry the bits per pixel in bits 16..23; every known format is a whole number of bytes.
constexpr std::uint32_t bytesPerPixel(std::uint32_t code) { return ((code >> 16) & 0xFF) / 8; }

// True for the 3D coordinate formats (Coord3D_*), the ones a point cloud is sent in.
bool isCoordinateFormat(std::uint32_t code);

// Bytes one frame carries: the image, and with chunks on (chunkCount > 0) the image's own chunk tail
// plus the chunk values and one tail per chunk.
std::uint64_t payloadSize(std::uint32_t width, std::uint32_t height, std::uint32_t code, std::uint32_t chunkBytes,
                          std::uint32_t chunkCount);

}  // namespace gvsp
