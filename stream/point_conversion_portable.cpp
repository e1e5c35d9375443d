// Point-cloud conversions for processors without a vectorised implementation: the per-point rules in order.
#include "point_conversion_rules.h"

void convertCloudToU16Portable(const double* points, std::size_t count, const AxisScaling& s, std::uint16_t* output) {
    for (std::size_t i = 0; i < count; ++i) convertPointToU16(points + 3 * i, s, output + 3 * i);
}

void convertCloudToFloatPortable(const double* points, std::size_t count, const AxisScaling& s, float* output) {
    for (std::size_t i = 0; i < count; ++i) convertPointToFloat(points + 3 * i, s, output + 3 * i);
}
