// Wire bytes of the sensor protocol: the shared bounded reader, and a writer that builds a message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "byte_reader.h"

namespace sensorlink {

using wire::ByteReader;

// Appends big-endian fields to a growing message.
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
