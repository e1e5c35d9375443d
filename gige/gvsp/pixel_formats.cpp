// The known pixel formats as a list, and the payload size of a frame.
#include "pixel_formats.h"

#include "gvsp_protocol.h"

#include <iterator>

namespace gvsp {

const PixelFormatInfo* pixelFormats(std::size_t* count) {
    *count = std::size(pfnc::kPixelFormats);
    return pfnc::kPixelFormats;
}

std::uint64_t payloadSize(std::uint32_t width, std::uint32_t height, std::uint32_t code, std::uint32_t chunkBytes,
                          std::uint32_t chunkCount) {
    const std::uint64_t image = std::uint64_t{width} * height * bytesPerPixel(code);
    if (chunkCount == 0) return image;
    return image + kChunkTailSize + chunkBytes + std::uint64_t{kChunkTailSize} * chunkCount;
}

}  // namespace gvsp
