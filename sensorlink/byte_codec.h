// Bounded big-endian reading and writing of wire bytes. The reader latches the first overrun: every later
// read yields zero and ok() stays false, so a decoder checks once at the end instead of after every field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace sensorlink {

class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t u8() { return static_cast<std::uint8_t>(take(1)); }
    std::uint16_t u16() { return static_cast<std::uint16_t>(take(2)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(take(4)); }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }

    // Copies `count` bytes as text; an overrun yields an empty text.
    std::string text(std::size_t count) {
        if (!fits(count)) return {};
        std::string out(reinterpret_cast<const char*>(data_ + offset_), count);
        offset_ += count;
        return out;
    }

    std::size_t remaining() const { return ok_ ? size_ - offset_ : 0; }
    bool ok() const { return ok_; }

private:
    bool fits(std::size_t count) {
        if (!ok_ || count > size_ - offset_) {
            ok_ = false;
            return false;
        }
        return true;
    }
    std::uint64_t take(std::size_t count) {
        if (!fits(count)) return 0;
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < count; ++i) value = (value << 8) | data_[offset_ + i];
        offset_ += count;
        return value;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
    bool ok_ = true;
};

class ByteWriter {
public:
    void u8(std::uint8_t value) { put(value, 1); }
    void u16(std::uint16_t value) { put(value, 2); }
    void u32(std::uint32_t value) { put(value, 4); }
    void i32(std::int32_t value) { put(static_cast<std::uint32_t>(value), 4); }
    void bytes(std::string_view text) { out_.insert(out_.end(), text.begin(), text.end()); }
    void bytes(const std::uint8_t* data, std::size_t size) { out_.insert(out_.end(), data, data + size); }

    // Overwrites four bytes already written, for length fields known only at the end.
    void patchU32(std::size_t offset, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) out_[offset + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }

    std::size_t size() const { return out_.size(); }
    const std::vector<std::uint8_t>& data() const { return out_; }
    std::vector<std::uint8_t>& data() { return out_; }

private:
    void put(std::uint64_t value, int count) {
        for (int i = count - 1; i >= 0; --i) out_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
    std::vector<std::uint8_t> out_;
};

}  // namespace sensorlink
