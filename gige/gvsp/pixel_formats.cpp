// PFNC codes: byte 3 is the colour class, byte 2 the bits per pixel, the low 16 bits the format id.
#include "pixel_formats.h"

#include "gvsp_protocol.h"

#include <iterator>

namespace gvsp {

namespace {

constexpr PixelFormatInfo kFormats[] = {
    {"Mono8", 0x01080001},         {"Mono10", 0x01100003},         {"Mono12", 0x01100005},
    {"Mono16", 0x01100007},        {"RGB8", 0x02180014},           {"BGR8", 0x02180015},
    {"RGBa8", 0x02200016},         {"RGB16", 0x02300033},          {"RGB16_Planar", 0x02300024},
    {"Coord3D_C8", 0x010800B1},    {"Coord3D_A16", 0x011000B6},    {"Coord3D_B16", 0x011000B7},
    {"Coord3D_C16", 0x011000B8},   {"Coord3D_ABC16", 0x023000B9},  {"Coord3D_ABC16_Planar", 0x023000BA},
    {"Coord3D_AC16", 0x022000BB},  {"Coord3D_A32f", 0x012000BD},   {"Coord3D_B32f", 0x012000BE},
    {"Coord3D_C32f", 0x012000BF},  {"Coord3D_ABC32f", 0x026000C0}, {"Coord3D_ABC32f_Planar", 0x026000C1},
    {"Coord3D_AC32f", 0x024000C2}, {"Confidence8", 0x010800C6},    {"Confidence16", 0x011000C7},
    {"Confidence32f", 0x012000C8},
};

}  // namespace

const PixelFormatInfo* pixelFormats(std::size_t* count) {
    *count = std::size(kFormats);
    return kFormats;
}

const PixelFormatInfo* findPixelFormat(std::string_view name) {
    for (const auto& format : kFormats) {
        if (format.name == name) return &format;
    }
    return nullptr;
}

const PixelFormatInfo* findPixelFormat(std::uint32_t code) {
    for (const auto& format : kFormats) {
        if (format.code == code) return &format;
    }
    return nullptr;
}

bool isCoordinateFormat(std::uint32_t code) {
    const auto* format = findPixelFormat(code);
    return format != nullptr && format->name.substr(0, 8) == "Coord3D_";
}

std::uint64_t payloadSize(std::uint32_t width, std::uint32_t height, std::uint32_t code, std::uint32_t chunkBytes,
                          std::uint32_t chunkCount) {
    const std::uint64_t image = std::uint64_t{width} * height * bytesPerPixel(code);
    if (chunkCount == 0) return image;
    return image + kChunkTailSize + chunkBytes + std::uint64_t{kChunkTailSize} * chunkCount;
}

}  // namespace gvsp
