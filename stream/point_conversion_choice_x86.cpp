// The choice of point-cloud conversion on x86-64: AVX2 where the processor has it, SSE2 (which every x86-64
// processor has) otherwise; the per-point rules on request.
#include <atomic>

#include "point_conversion_rules.h"

namespace {

bool hasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

ConversionCode bestCode() { return hasAvx2() ? ConversionCode::Avx2 : ConversionCode::Sse2; }

std::atomic<ConversionCode>& codeInUse() {
    static std::atomic<ConversionCode> code{bestCode()};
    return code;
}

}  // namespace

ConversionCode conversionCodeInUse() { return codeInUse().load(std::memory_order_relaxed); }

bool useConversionCode(ConversionCode code) {
    if (code == ConversionCode::Avx2 && !hasAvx2()) return false;
    codeInUse().store(code, std::memory_order_relaxed);
    return true;
}

void convertCloudToU16(const double* points, std::size_t count, const AxisScaling& scaling, std::uint16_t* output) {
    switch (conversionCodeInUse()) {
        case ConversionCode::Avx2: return convertCloudToU16Avx2(points, count, scaling, output);
        case ConversionCode::Sse2: return convertCloudToU16Sse2(points, count, scaling, output);
        case ConversionCode::Portable: break;
    }
    convertCloudToU16Portable(points, count, scaling, output);
}

void convertCloudToFloat(const double* points, std::size_t count, const AxisScaling& scaling, float* output) {
    switch (conversionCodeInUse()) {
        case ConversionCode::Avx2: return convertCloudToFloatAvx2(points, count, scaling, output);
        case ConversionCode::Sse2: return convertCloudToFloatSse2(points, count, scaling, output);
        case ConversionCode::Portable: break;
    }
    convertCloudToFloatPortable(points, count, scaling, output);
}
