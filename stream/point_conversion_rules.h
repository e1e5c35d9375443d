// The per-point rules of the point-cloud conversions, shared by the block-wise implementations (which must
// give bit for bit the same results) and used by them for the points they leave to the plain rule, and the
// choice among the implementations.
//
// The rules are static: each implementation file is compiled for its own instruction set, and one shared
// out-of-line copy could otherwise be taken from a file whose instructions the processor does not have.
#pragma once

#include <cstddef>
#include <cstdint>

#include "coordinate_scaling.h"

// A Z that is not greater than 0 marks a point without measurement; written as a negated test so that a
// Z that is not a number counts as measured.
static inline bool isMeasured(double z) { return !(0.0 >= z); }

// True when the value truncates toward zero into 0..65535 (false for values that are not numbers).
static inline bool fitsUnsigned16(double value) { return value > -1.0 && value < 65536.0; }

static inline void convertPointToU16(const double* point, const AxisScaling& s, std::uint16_t* pixel) {
    const double a = (point[0] - s.offset[0]) / s.scale[0];
    const double b = (point[1] - s.offset[1]) / s.scale[1];
    const double c = (point[2] - s.offset[2]) / s.scale[2];
    // A coordinate outside the 16-bit range would wrap into a wrong value that looks valid, so such a
    // point is sent as a point without measurement.
    if (isMeasured(point[2]) && fitsUnsigned16(a) && fitsUnsigned16(b) && fitsUnsigned16(c)) {
        pixel[0] = static_cast<std::uint16_t>(a);
        pixel[1] = static_cast<std::uint16_t>(b);
        pixel[2] = static_cast<std::uint16_t>(c);
    } else {
        pixel[0] = pixel[1] = pixel[2] = 0;
    }
}

static inline void convertPointToFloat(const double* point, const AxisScaling& s, float* pixel) {
    const bool measured = isMeasured(point[2]);
    for (int axis = 0; axis < 3; ++axis) {
        pixel[axis] = measured ? static_cast<float>((point[axis] - s.offset[axis]) / s.scale[axis]) : 0.0f;
    }
}

// Whole clouds of `count` points, by the implementation in use.
void convertCloudToU16(const double* points, std::size_t count, const AxisScaling& scaling, std::uint16_t* output);
void convertCloudToFloat(const double* points, std::size_t count, const AxisScaling& scaling, float* output);

// The implementations: the per-point rules in order everywhere, SSE2 on every x86-64 processor, AVX2 where the
// processor has it. The best the processor has is in use from the start.
enum class ConversionCode { Portable, Sse2, Avx2 };
ConversionCode conversionCodeInUse();
// Puts `code` in use; false (and nothing changed) when this processor cannot run it. For tests and benchmarks
// that compare the implementations; not to be called while a conversion runs.
bool useConversionCode(ConversionCode code);
const char* conversionCodeName(ConversionCode code);

// Each implementation's entry points, for the choice above.
void convertCloudToU16Portable(const double* points, std::size_t count, const AxisScaling& s, std::uint16_t* output);
void convertCloudToFloatPortable(const double* points, std::size_t count, const AxisScaling& s, float* output);
void convertCloudToU16Sse2(const double* points, std::size_t count, const AxisScaling& s, std::uint16_t* output);
void convertCloudToFloatSse2(const double* points, std::size_t count, const AxisScaling& s, float* output);
void convertCloudToU16Avx2(const double* points, std::size_t count, const AxisScaling& s, std::uint16_t* output);
void convertCloudToFloatAvx2(const double* points, std::size_t count, const AxisScaling& s, float* output);
