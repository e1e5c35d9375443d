// Bounded big-endian writing of wire bytes, shared by the GigE Vision control and stream channels and the
// sensor protocol. Over a caller's buffer it never writes past the end and remembers the first overflow, so
// an encoder checks once at the end instead of after every field; without a buffer it grows a message of
// its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace wire {

class ByteWriter {
public:
    // Builds a message in a vector of its own, for encoders whose size is known only at the end.
    ByteWriter() = default;
    // Writes into `buffer`, never more than `capacity` bytes.
    ByteWriter(std::uint8_t* buffer, std::size_t capacity) : buffer_(buffer), capacity_(capacity), fixed_(true) {}

    void u8(std::uint8_t value) { put(value, 1); }
    void u16(std::uint16_t value) { put(value, 2); }
    void u24(std::uint32_t value) { put(value, 3); }
    void u32(std::uint32_t value) { put(value, 4); }
    void i32(std::int32_t value) { put(static_cast<std::uint32_t>(value), 4); }
    void u64(std::uint64_t value) { put(value, 8); }
    void bytes(const void* data, std::size_t length) {
        std::uint8_t* at = reserve(length);
        if (at != nullptr && length != 0) std::memcpy(at, data, length);
    }
    void bytes(std::string_view text) { bytes(text.data(), text.size()); }

    // Overwrites four bytes already written, for length fields known only at the end.
    void patchU32(std::size_t offset, std::uint32_t value) {
        if (offset > size() || size() - offset < 4) {
            overflow_ = true;
            return;
        }
        store(begin() + offset, value, 4);
    }

    bool ok() const { return !overflow_; }
    // Bytes written; over a caller's buffer 0 after an overflow, so a half-built packet cannot be sent.
    std::size_t size() const { return fixed_ ? (overflow_ ? 0 : position_) : message_.size(); }
    // The message of a writer without a buffer.
    const std::vector<std::uint8_t>& data() const { return message_; }
    std::vector<std::uint8_t>& data() { return message_; }

private:
    std::uint8_t* begin() { return fixed_ ? buffer_ : message_.data(); }
    // Where `length` more bytes go, or nullptr (and the overflow latched) when they do not fit.
    std::uint8_t* reserve(std::size_t length) {
        if (!fixed_) {
            const std::size_t at = message_.size();
            message_.resize(at + length);
            return message_.data() + at;
        }
        // `length <= capacity - position` rather than `position + length <= capacity`: the sum could wrap.
        if (overflow_ || length > capacity_ - position_) {
            overflow_ = true;
            return nullptr;
        }
        std::uint8_t* at = buffer_ + position_;
        position_ += length;
        return at;
    }
    static void store(std::uint8_t* at, std::uint64_t value, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
    }
    void put(std::uint64_t value, std::size_t width) {
        if (std::uint8_t* at = reserve(width)) store(at, value, width);
    }

    std::uint8_t* buffer_ = nullptr;
    std::size_t capacity_ = 0;
    bool fixed_ = false;
    std::size_t position_ = 0;
    bool overflow_ = false;
    std::vector<std::uint8_t> message_;
};

// One big-endian word of a register image; the caller has checked that four bytes are there.
inline void storeBe32(std::uint8_t* at, std::uint32_t value) { ByteWriter(at, 4).u32(value); }

}  // namespace wire
