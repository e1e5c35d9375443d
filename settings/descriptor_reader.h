// Looking values up in the sensor's XML descriptor by key: a ':'-separated path of element names from the
// document's root, e.g. "device:settings:exposuretime:min".
#pragma once

#include <cstdint>
#include <string>

namespace tinyxml2 {
class XMLDocument;
}

// True with `value` holding the element's text. False when an element of the path is missing (`value`
// unchanged) or when the last element has no text (`value` emptied).
bool readDescriptorValue(const tinyxml2::XMLDocument& document, const std::string& key, std::string& value);

// Conversions of descriptor texts: leading white space and a sign are allowed, text after the number is
// ignored. A text without a number at its start, or a number outside the target's range, does not convert.
bool convertInteger(const std::string& text, std::int32_t& result);
bool convertDouble(const std::string& text, double& result);
bool convertFloat(const std::string& text, float& result);
