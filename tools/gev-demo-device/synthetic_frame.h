// Synthetic frames of the demo device: a fixed pattern per pixel format and size, with the frame's number
// stamped into its first four bytes (little-endian), so a receiver can rebuild the exact bytes of any
// frame it gets and compare them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace demo {

// Fills `out` with the pattern of `format` ("Mono8", "Mono16", "RGB16", "Coord3D_ABC16",
// "Coord3D_ABC32f") at width x height; false for a format without a pattern.
bool fillPattern(const std::string& format, std::uint32_t width, std::uint32_t height, std::vector<std::uint8_t>& out);
// Stamps the frame number into the first four bytes (when the frame has them).
void stampFrameNumber(std::vector<std::uint8_t>& frame, std::uint32_t number);
std::uint32_t frameNumberOf(const std::uint8_t* frame, std::size_t size);

}  // namespace demo
