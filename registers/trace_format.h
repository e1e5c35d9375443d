// Number formats shared by the register trace and the sensor commands.
#pragma once

#include <string>

// A float as the output stream writes it by default: at most six significant digits, trailing zeros
// dropped, exponent form for very large and very small magnitudes ("1234.57", "1.5", "1e+06").
std::string traceFloat(float value);

// A value for a sensor command: fixed notation with exactly six decimals ("2.500000").
std::string commandFloat(float value);
