// Texts that come from outside (the sensor's names and descriptions) on their way into the GenICam XML and
// the bootstrap strings: made valid UTF-8 that XML may carry, and shortened only between characters, so a
// client's XML parser never meets a cut or foreign byte sequence.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace genicam {

// `text` with every byte that does not belong to a well-formed UTF-8 character (including overlong forms,
// surrogates and values above U+10FFFF) and every control character XML 1.0 forbids replaced by U+FFFD.
std::string validXmlText(std::string_view text);

// The longest start of `text` of at most `maxBytes` bytes that ends between two UTF-8 characters.
std::string_view utf8Prefix(std::string_view text, std::size_t maxBytes);

}  // namespace genicam
