// Point clouds (three 64-bit floats X, Y, Z per point, mm) into the 3D pixel formats: three unsigned 16-bit
// values (Coord3D_ABC16, RGB16) or three 32-bit floats (Coord3D_ABC32f) per pixel, with the advertised
// per-axis scale and offset applied and (0, 0, 0) for points without a measurement.
#include <cstring>

#include "main_class.h"
#include "point_conversion_rules.h"

namespace {

std::size_t pointCount(std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0) return 0;
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}

}  // namespace

void CMainClass::convertPointsToU16(std::int32_t width, std::int32_t height, bool noData, const double* points,
                                    std::uint16_t* output) {
    const std::size_t count = pointCount(width, height);
    if (noData) {
        std::memset(output, 0, count * 3 * sizeof *output);
        return;
    }
    convertCloudToU16(points, count, frameScaling(*this), output);
}

void CMainClass::convertPointsToFloat(std::int32_t width, std::int32_t height, bool noData, const double* points,
                                      float* output) {
    const std::size_t count = pointCount(width, height);
    if (noData) {
        std::memset(output, 0, count * 3 * sizeof *output);
        return;
    }
    convertCloudToFloat(points, count, frameScaling(*this), output);
}

const char* conversionCodeName(ConversionCode code) {
    switch (code) {
        case ConversionCode::Avx2: return "AVX2";
        case ConversionCode::Sse2: return "SSE2";
        case ConversionCode::Portable: break;
    }
    return "portable";
}
