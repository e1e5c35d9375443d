// Point-cloud conversions for processors without a vectorised implementation: the per-point rules in order.
#include "point_conversion_rules.h"

void convertCloudToU16(const double* points, std::size_t count, const AxisScaling& scaling, std::uint16_t* output) {
    for (std::size_t i = 0; i < count; ++i) convertPointToU16(points + 3 * i, scaling, output + 3 * i);
}

void convertCloudToFloat(const double* points, std::size_t count, const AxisScaling& scaling, float* output) {
    for (std::size_t i = 0; i < count; ++i) convertPointToFloat(points + 3 * i, scaling, output + 3 * i);
}
