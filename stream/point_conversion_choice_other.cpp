// The choice of point-cloud conversion on processors without a vectorised implementation: the per-point rules.
#include "point_conversion_rules.h"

ConversionCode conversionCodeInUse() { return ConversionCode::Portable; }

bool useConversionCode(ConversionCode code) { return code == ConversionCode::Portable; }

void convertCloudToU16(const double* points, std::size_t count, const AxisScaling& scaling, std::uint16_t* output) {
    convertCloudToU16Portable(points, count, scaling, output);
}

void convertCloudToFloat(const double* points, std::size_t count, const AxisScaling& scaling, float* output) {
    convertCloudToFloatPortable(points, count, scaling, output);
}
