// Bounded big-endian reading of wire bytes. Every field the control channel decodes goes through the
// reader: a read past the end latches a failure instead of touching memory outside the datagram, so a
// decoder checks ok() once at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "gvsp/byte_writer.h"

namespace gige {

class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t u8() { return static_cast<std::uint8_t>(take(1)); }
    std::uint16_t u16() { return static_cast<std::uint16_t>(take(2)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(take(4)); }
    std::uint64_t u64() { return take(8); }
    // Copies `count` bytes, or latches the failure and leaves `out` untouched.
    void bytes(std::uint8_t* out, std::size_t count) {
        if (!fits(count)) return;
        std::memcpy(out, data_ + position_, count);
        position_ += count;
    }
    void skip(std::size_t count) {
        if (fits(count)) position_ += count;
    }

    bool ok() const { return ok_; }
    std::size_t position() const { return position_; }
    std::size_t remaining() const { return ok_ ? size_ - position_ : 0; }

private:
    bool fits(std::size_t count) {
        if (!ok_ || count > size_ - position_) ok_ = false;
        return ok_;
    }
    std::uint64_t take(std::size_t count) {
        if (!fits(count)) return 0;
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < count; ++i) value = (value << 8) | data_[position_ + i];
        position_ += count;
        return value;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
    bool ok_ = true;
};

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
