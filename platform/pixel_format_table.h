// The pixel formats the device knows, by their PFNC names and codes: the one table that the device library
// offers PixelFormat from and checks frames against, and that the bridge names the formats of its parts by.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pfnc {

struct PixelFormatInfo {
    std::string_view name;
    std::uint32_t code;
};

// PFNC codes: byte 3 is the colour class, byte 2 the bits per pixel, the low 16 bits the format id. The order
// is stable: PixelFormat lists the formats in it.
inline constexpr PixelFormatInfo kPixelFormats[] = {
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

// Null for a name or code the table does not hold.
constexpr const PixelFormatInfo* findPixelFormat(std::string_view name) {
    for (const auto& format : kPixelFormats) {
        if (format.name == name) return &format;
    }
    return nullptr;
}

constexpr const PixelFormatInfo* findPixelFormat(std::uint32_t code) {
    for (const auto& format : kPixelFormats) {
        if (format.code == code) return &format;
    }
    return nullptr;
}

// The code of a format named in the program's text; a name the table does not hold stops the build.
// The entry is compared by name, not through a pointer to it: the sanitizer builds do not accept a pointer
// compared with null in a constant expression.
consteval std::uint32_t pixelFormatCode(std::string_view name) {
    for (const auto& format : kPixelFormats) {
        if (format.name == name) return format.code;
    }
    throw "not a known pixel format";
}

// PFNC codes carry the bits per pixel in bits 16..23; every known format is a whole number of bytes.
constexpr std::uint32_t bytesPerPixel(std::uint32_t code) { return ((code >> 16) & 0xFF) / 8; }

// True for the 3D coordinate formats (Coord3D_*), the ones a point cloud is sent in.
constexpr bool isCoordinateFormat(std::uint32_t code) {
    const PixelFormatInfo* format = findPixelFormat(code);
    return format != nullptr && format->name.starts_with("Coord3D_");
}

}  // namespace pfnc
