// Bounded big-endian reading of wire bytes, shared by the GigE Vision control and stream channels and the
// sensor protocol. A read past the end latches a failure: it yields zero (or nothing), touches no memory
// outside the given bytes, and ok() stays false, so a decoder checks once at the end instead of per field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace wire {

class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t u8() { return static_cast<std::uint8_t>(take(1)); }
    std::uint16_t u16() { return static_cast<std::uint16_t>(take(2)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(take(4)); }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    std::uint64_t u64() { return take(8); }

    // Copies `count` bytes, or latches the failure and leaves `out` untouched.
    void bytes(std::uint8_t* out, std::size_t count) {
        if (!fits(count)) return;
        std::memcpy(out, data_ + position_, count);
        position_ += count;
    }
    // `count` bytes as text; an overrun yields an empty text.
    std::string text(std::size_t count) {
        if (!fits(count)) return {};
        std::string out(reinterpret_cast<const char*>(data_ + position_), count);
        position_ += count;
        return out;
    }
    void skip(std::size_t count) {
        if (fits(count)) position_ += count;
    }

    bool ok() const { return ok_; }
    std::size_t position() const { return position_; }
    std::size_t remaining() const { return ok_ ? size_ - position_ : 0; }

private:
    // `count <= size - position` rather than `position + count <= size`: the sum could wrap.
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

// One big-endian word of a register image; the caller has checked that four bytes are there.
inline std::uint32_t loadBe32(const std::uint8_t* at) { return ByteReader(at, 4).u32(); }

}  // namespace wire
