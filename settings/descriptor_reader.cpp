// Walking the sensor's XML descriptor along a ':'-separated key; a key that names no element yields no value.
#include "descriptor_reader.h"

#include <tinyxml2.h>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>

bool readDescriptorValue(const tinyxml2::XMLDocument& document, const std::string& key, std::string& value) {
    const tinyxml2::XMLNode* node = &document;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = key.find(':', start);
        const std::string token = key.substr(start, end == std::string::npos ? std::string::npos : end - start);
        node = node->FirstChildElement(token.c_str());
        if (node == nullptr) return false;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    const char* text = node->ToElement()->GetText();
    if (text == nullptr) {
        value.clear();
        return false;
    }
    value = text;
    return true;
}

bool convertInteger(const std::string& text, std::int32_t& result) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long number = std::strtoll(begin, &end, 10);
    if (end == begin || errno == ERANGE || number < INT32_MIN || number > INT32_MAX) return false;
    result = static_cast<std::int32_t>(number);
    return true;
}

bool convertDouble(const std::string& text, double& result) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double number = std::strtod(begin, &end);
    if (end == begin || (errno == ERANGE && std::isinf(number))) return false;
    result = number;
    return true;
}

bool convertFloat(const std::string& text, float& result) {
    double number = 0.0;
    if (!convertDouble(text, number)) return false;
    if (std::isfinite(number) && std::fabs(number) > FLT_MAX) return false;
    result = static_cast<float>(number);
    return true;
}
