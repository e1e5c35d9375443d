// Bounded big-endian writer for building stream packets: it never writes past its buffer and remembers
// the first overflow, so an encoder checks once at the end instead of after every field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace gvsp {

class ByteWriter {
public:
    ByteWriter(std::uint8_t* buffer, std::size_t capacity) : buffer_(buffer), capacity_(capacity) {}

    void u8(std::uint8_t value) { put(value, 1); }
    void u16(std::uint16_t value) { put(value, 2); }
    void u24(std::uint32_t value) { put(value, 3); }
    void u32(std::uint32_t value) { put(value, 4); }
    void u64(std::uint64_t value) { put(value, 8); }
    void bytes(const void* data, std::size_t length) {
        if (!reserve(length)) return;
        if (length != 0) std::memcpy(buffer_ + position_, data, length);
        position_ += length;
    }

    bool ok() const { return !overflow_; }
    // Bytes written, or 0 after an overflow so a caller cannot send a half-built packet.
    std::size_t size() const { return overflow_ ? 0 : position_; }

private:
    bool reserve(std::size_t length) {
        if (overflow_ || length > capacity_ - position_) {
            overflow_ = true;
            return false;
        }
        return true;
    }
    void put(std::uint64_t value, std::size_t width) {
        if (!reserve(width)) return;
        for (std::size_t i = 0; i < width; ++i) {
            buffer_[position_ + i] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
        }
        position_ += width;
    }

    std::uint8_t* buffer_;
    std::size_t capacity_;
    std::size_t position_ = 0;
    bool overflow_ = false;
};

}  // namespace gvsp
