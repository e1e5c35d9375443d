// Filling a synthetic frame with its format's pattern and stamping the frame number into it.
#include "synthetic_frame.h"

#include <cmath>
#include <cstring>

namespace demo {

namespace {

void putU16(std::uint8_t* p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

void putF32(std::uint8_t* p, float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, 4);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

}  // namespace

bool fillPattern(const std::string& format, std::uint32_t width, std::uint32_t height, std::vector<std::uint8_t>& out) {
    std::size_t bytes = 0;
    if (format == "Mono8")
        bytes = 1;
    else if (format == "Mono16")
        bytes = 2;
    else if (format == "RGB16" || format == "Coord3D_ABC16")
        bytes = 6;
    else if (format == "Coord3D_ABC32f")
        bytes = 12;
    else
        return false;
    out.resize(std::size_t{width} * height * bytes);
    std::uint8_t* p = out.data();
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x, p += bytes) {
            // Pixel data is little-endian, as clients read multi-byte pixels by default.
            if (bytes == 1) {
                *p = static_cast<std::uint8_t>(x + 3 * y);
            } else if (bytes == 2) {
                putU16(p, x * 64 + y * 7);
            } else if (bytes == 6) {
                putU16(p, x * 16);
                putU16(p + 2, y * 16);
                putU16(p + 4, (x * y) & 0xFFFF);
            } else {
                // A tilted, rippled surface in millimetres: something a 3D viewer shows as a shape.
                const float a = static_cast<float>(x) - width / 2.0F;
                const float b = static_cast<float>(y) - height / 2.0F;
                putF32(p, a);
                putF32(p + 4, b);
                putF32(p + 8, 500.0F + 0.1F * a + 20.0F * std::sin(a * 0.05F) * std::cos(b * 0.05F));
            }
        }
    }
    return true;
}

void stampFrameNumber(std::vector<std::uint8_t>& frame, std::uint32_t number) {
    if (frame.size() < 4) return;
    for (int i = 0; i < 4; ++i) frame[i] = static_cast<std::uint8_t>(number >> (8 * i));
}

std::uint32_t frameNumberOf(const std::uint8_t* frame, std::size_t size) {
    if (size < 4) return 0;
    return std::uint32_t{frame[0]} | (std::uint32_t{frame[1]} << 8) | (std::uint32_t{frame[2]} << 16) |
           (std::uint32_t{frame[3]} << 24);
}

}  // namespace demo
