// A complete sensor descriptor with known values, for tests of the parse and of everything built on it.
#pragma once

#include <string>

// Values: exposure 100..100000 current 10000 µs, gain 1..16 current 2, LED power 0..100 current 80,
// order number "C3D-2040", product version "2.1", producer "Corvastrum", description "Corvastrum 3D sensor",
// serial "SN4711", mac "00:11:22:33:44:55", hardware "HW3", firmware "FW1.2.3", working range Z start 400,
// measuring ranges X 300, Y 200, Z 500 (mm), 64 x 48 pixels, ROI 0,0 64 x 48, stack acquisition mode 1 in 0..3.
// Filter commands "SetSFilter1" .. "SetSFilter3", "SetPFilter1" .. "SetPFilter3" (names "lter1" ...),
// property commands "SetSFilter<n>Prop<p>" / "SetPFilter<n>Prop<p>", values current 1.5, min 0, max 10.
// Stack filter 2 is enabled, the others are off.
std::string sampleDescriptor();

// The same text with the first occurrence of `from` replaced by `to`.
std::string replaceFirst(std::string text, const std::string& from, const std::string& to);
