// How numbers are written in the register trace and in sensor commands.
#include "trace_format.h"

#include <cstdio>
#include <sstream>

std::string traceFloat(float value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

std::string commandFloat(float value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", static_cast<double>(value));
    return text;
}
