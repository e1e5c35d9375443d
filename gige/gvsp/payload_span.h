// A read-only run of bytes that becomes part of a datagram without being copied.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gvsp {

struct Span {
    const std::uint8_t* data = nullptr;
    std::size_t length = 0;
};

// Cuts [offset, offset + length) out of consecutive segments into at most `maxOut` spans; returns the
// number of spans written (0 when the range lies outside the segments).
std::size_t sliceSegments(const Span* segments, std::size_t segmentCount, std::uint64_t offset, std::size_t length,
                          Span* out, std::size_t maxOut);

}  // namespace gvsp
