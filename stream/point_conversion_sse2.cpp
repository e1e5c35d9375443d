// Point-cloud conversions with SSE2, which every x86-64 processor has: two coordinates per instruction,
// eight points per step, the frame written past the caches. The results are bit for bit those of the
// per-point rules:
// - x - offset is the same subtraction as in the rule;
// - a scale that is a power of two (1.0 included) is applied as a multiplication by its reciprocal, which is
//   exact, so the product equals the rule's quotient;
// - any other scale divides, two quotients per instruction. (Multiplying by a rounded reciprocal and redoing
//   the products that lie too close to an integer costs as much as the division on current processors.)
#include <emmintrin.h>

#include <cmath>
#include <cstdint>

#include "point_conversion_rules.h"

namespace {

enum class Scaling { None, Multiply, Divide };

bool isPowerOfTwo(double value) {
    int exponent = 0;
    return std::isfinite(value) && value != 0.0 && std::fabs(std::frexp(value, &exponent)) == 0.5;
}

Scaling scalingFor(const AxisScaling& s) {
    bool unit = true, powersOfTwo = true;
    for (int axis = 0; axis < 3; ++axis) {
        // x - 0.0 is x for every x, x - (-0.0) is not (it turns -0.0 into 0.0).
        unit = unit && s.scale[axis] == 1.0 && s.offset[axis] == 0.0 && !std::signbit(s.offset[axis]);
        powersOfTwo = powersOfTwo && isPowerOfTwo(s.scale[axis]);
    }
    if (unit) return Scaling::None;
    return powersOfTwo ? Scaling::Multiply : Scaling::Divide;
}

// Offset and factor (the scale for a division, its reciprocal otherwise) for three registers, given the
// axis of each of their two lanes.
struct RegisterFactors {
    __m128d offset[3];
    __m128d factor[3];
};

using LaneAxes = int[3][2];
constexpr LaneAxes kOneAxisPerRegister = {{0, 0}, {1, 1}, {2, 2}};  // X X | Y Y | Z Z
constexpr LaneAxes kAxesAsStored = {{0, 1}, {2, 0}, {1, 2}};        // X Y | Z X | Y Z

RegisterFactors factorsFor(const AxisScaling& s, Scaling mode, const LaneAxes& axes) {
    const auto factor = [&](int axis) { return mode == Scaling::Divide ? s.scale[axis] : 1.0 / s.scale[axis]; };
    RegisterFactors f{};
    for (int k = 0; k < 3; ++k) {
        f.offset[k] = _mm_setr_pd(s.offset[axes[k][0]], s.offset[axes[k][1]]);
        f.factor[k] = _mm_setr_pd(factor(axes[k][0]), factor(axes[k][1]));
    }
    return f;
}

template <Scaling mode>
inline __m128d scaled(__m128d value, __m128d offset, __m128d factor) {
    if constexpr (mode == Scaling::None) return value;
    const __m128d difference = _mm_sub_pd(value, offset);
    return mode == Scaling::Divide ? _mm_div_pd(difference, factor) : _mm_mul_pd(difference, factor);
}

// One core keeps too few reads from memory in flight on its own to follow a linear pass; asking for the
// points a kilobyte ahead keeps it busy. One step reads eight points, 192 bytes, three cache lines.
inline void prefetchStep(const double* points) {
    const char* ahead = reinterpret_cast<const char*>(points) + 1024;
    for (int line = 0; line < 3; ++line) _mm_prefetch(ahead + 64 * line, _MM_HINT_T0);
}

bool isAligned(const void* address) { return reinterpret_cast<std::uintptr_t>(address) % 16 == 0; }

// The output is far larger than the caches and not read again by this thread: streaming stores spare the
// reads of the lines they overwrite.
inline void store(void* target, __m128i value, bool aligned) {
    if (aligned) {
        _mm_stream_si128(static_cast<__m128i*>(target), value);
    } else {
        _mm_storeu_si128(static_cast<__m128i*>(target), value);
    }
}

// ---- 16-bit conversion ----

// Truncation toward zero of one axis of four points (two per register) to 32-bit integers; out-of-range
// values and NaN become INT32_MIN.
inline __m128i truncated(__m128d first, __m128d second) {
    return _mm_unpacklo_epi64(_mm_cvttpd_epi32(first), _mm_cvttpd_epi32(second));
}

// Four pixels as 64-bit lanes A | B << 16 | C << 32 (top two bytes zero): points 0 and 1 in `low`, 2 and 3
// in `high`.
template <Scaling mode>
inline void fourPixels(const double* points, const RegisterFactors& f, __m128i& low, __m128i& high) {
    __m128d axes[3][2];  // [axis][pair of points]
    for (int pair = 0; pair < 2; ++pair) {
        const double* p = points + 6 * pair;
        const __m128d x0y0 = _mm_loadu_pd(p), z0x1 = _mm_loadu_pd(p + 2), y1z1 = _mm_loadu_pd(p + 4);
        const __m128d z = _mm_shuffle_pd(z0x1, y1z1, 2);
        const __m128d unmeasured = _mm_cmpge_pd(_mm_setzero_pd(), z);
        axes[0][pair] = scaled<mode>(_mm_shuffle_pd(x0y0, z0x1, 2), f.offset[0], f.factor[0]);
        axes[1][pair] = scaled<mode>(_mm_shuffle_pd(x0y0, y1z1, 1), f.offset[1], f.factor[1]);
        // A point without measurement gets C = NaN (all bits set), which fails the range test below.
        axes[2][pair] = _mm_or_pd(scaled<mode>(z, f.offset[2], f.factor[2]), unmeasured);
    }
    __m128i value[3];
    for (int axis = 0; axis < 3; ++axis) value[axis] = truncated(axes[axis][0], axes[axis][1]);
    // In range exactly when all bits above the low 16 are clear, for each of A, B and C.
    const __m128i outside = _mm_or_si128(_mm_or_si128(value[0], value[1]), value[2]);
    const __m128i valid = _mm_cmpeq_epi32(_mm_srli_epi32(outside, 16), _mm_setzero_si128());
    const __m128i ab = _mm_and_si128(_mm_or_si128(value[0], _mm_slli_epi32(value[1], 16)), valid);
    const __m128i c = _mm_and_si128(value[2], valid);
    low = _mm_unpacklo_epi32(ab, c);
    high = _mm_unpackhi_epi32(ab, c);
}

// Two pixels, one per 64-bit lane, moved together into the low 12 bytes.
inline __m128i packedPair(__m128i pair) {
    return _mm_or_si128(_mm_move_epi64(pair), _mm_srli_si128(_mm_unpackhi_epi64(_mm_setzero_si128(), pair), 2));
}

// Eight pixels, 48 bytes.
template <Scaling mode>
inline void eightPixels(const double* points, const RegisterFactors& f, __m128i out[3]) {
    __m128i pairs[4];
    fourPixels<mode>(points, f, pairs[0], pairs[1]);
    fourPixels<mode>(points + 12, f, pairs[2], pairs[3]);
    const __m128i p0 = packedPair(pairs[0]), p1 = packedPair(pairs[1]);
    const __m128i p2 = packedPair(pairs[2]), p3 = packedPair(pairs[3]);
    out[0] = _mm_or_si128(p0, _mm_slli_si128(p1, 12));
    out[1] = _mm_or_si128(_mm_srli_si128(p1, 4), _mm_slli_si128(p2, 8));
    out[2] = _mm_or_si128(_mm_srli_si128(p2, 8), _mm_slli_si128(p3, 4));
}

template <Scaling mode>
void convertU16(const double* points, std::size_t count, const AxisScaling& s, std::uint16_t* output) {
    const RegisterFactors f = factorsFor(s, mode, kOneAxisPerRegister);
    std::size_t i = 0;
    for (; i < count && i < 8 && !isAligned(output + 3 * i); ++i) convertPointToU16(points + 3 * i, s, output + 3 * i);
    const bool aligned = isAligned(output + 3 * i);
    for (; i + 8 <= count; i += 8) {
        prefetchStep(points + 3 * i);
        __m128i out[3];
        eightPixels<mode>(points + 3 * i, f, out);
        for (int k = 0; k < 3; ++k) store(output + 3 * i + 8 * k, out[k], aligned);
    }
    for (; i < count; ++i) convertPointToU16(points + 3 * i, s, output + 3 * i);
    _mm_sfence();
}

// ---- Float conversion ----

// Four pixels, 48 bytes.
template <Scaling mode>
inline void fourFloatPixels(const double* points, const RegisterFactors& f, __m128 out[3]) {
    __m128 converted[6];
    for (int pair = 0; pair < 2; ++pair) {
        const double* p = points + 6 * pair;
        const __m128d values[3] = {_mm_loadu_pd(p), _mm_loadu_pd(p + 2), _mm_loadu_pd(p + 4)};
        const __m128d measured = _mm_cmpnge_pd(_mm_setzero_pd(), _mm_shuffle_pd(values[1], values[2], 2));
        // Lanes X0 Y0 | Z0 X1 | Y1 Z1 keep the first point's, both points', the second point's measurement.
        const __m128d keep[3] = {_mm_shuffle_pd(measured, measured, 0), measured,
                                 _mm_shuffle_pd(measured, measured, 3)};
        for (int k = 0; k < 3; ++k) {
            const __m128d value = scaled<mode>(values[k], f.offset[k], f.factor[k]);
            converted[3 * pair + k] = _mm_cvtpd_ps(_mm_and_pd(value, keep[k]));
        }
    }
    for (int k = 0; k < 3; ++k) out[k] = _mm_movelh_ps(converted[2 * k], converted[2 * k + 1]);
}

template <Scaling mode>
void convertFloat(const double* points, std::size_t count, const AxisScaling& s, float* output) {
    const RegisterFactors f = factorsFor(s, mode, kAxesAsStored);
    std::size_t i = 0;
    for (; i < count && i < 4 && !isAligned(output + 3 * i); ++i) {
        convertPointToFloat(points + 3 * i, s, output + 3 * i);
    }
    const bool aligned = isAligned(output + 3 * i);
    for (; i + 8 <= count; i += 8) {
        prefetchStep(points + 3 * i);
        __m128 out[6];
        fourFloatPixels<mode>(points + 3 * i, f, out);
        fourFloatPixels<mode>(points + 3 * i + 12, f, out + 3);
        for (int k = 0; k < 6; ++k) store(output + 3 * i + 4 * k, _mm_castps_si128(out[k]), aligned);
    }
    for (; i < count; ++i) convertPointToFloat(points + 3 * i, s, output + 3 * i);
    _mm_sfence();
}

}  // namespace

void convertCloudToU16Sse2(const double* points, std::size_t count, const AxisScaling& scaling, std::uint16_t* output) {
    switch (scalingFor(scaling)) {
        case Scaling::None: return convertU16<Scaling::None>(points, count, scaling, output);
        case Scaling::Multiply: return convertU16<Scaling::Multiply>(points, count, scaling, output);
        case Scaling::Divide: return convertU16<Scaling::Divide>(points, count, scaling, output);
    }
}

void convertCloudToFloatSse2(const double* points, std::size_t count, const AxisScaling& scaling, float* output) {
    switch (scalingFor(scaling)) {
        case Scaling::None: return convertFloat<Scaling::None>(points, count, scaling, output);
        case Scaling::Multiply: return convertFloat<Scaling::Multiply>(points, count, scaling, output);
        case Scaling::Divide: return convertFloat<Scaling::Divide>(points, count, scaling, output);
    }
}
