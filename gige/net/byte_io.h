// Wire bytes of the control channel: the shared bounded reader, the stream path's bounded writer, and
// big-endian helpers for register images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "byte_reader.h"
#include "gvsp/byte_writer.h"

namespace gige {

using wire::ByteReader;

// Writing shares the stream path's bounded writer, so both channels encode fields the same way.
using gvsp::ByteWriter;

// Big-endian helpers for values kept in register images.
inline std::uint32_t loadBe32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
inline void storeBe32(std::uint8_t* p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value >> 24);
    p[1] = static_cast<std::uint8_t>(value >> 16);
    p[2] = static_cast<std::uint8_t>(value >> 8);
    p[3] = static_cast<std::uint8_t>(value);
}

}  // namespace gige
