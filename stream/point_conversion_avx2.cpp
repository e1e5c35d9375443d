// Point-cloud conversions with AVX2, for processors that have it: four coordinates per instruction, eight
// points per step, the frame written past the caches. The results are bit for bit those of the per-point
// rules:
// - x - offset is the same subtraction as in the rule; unit and power-of-two scales are applied exactly, as
//   in the SSE2 code;
// - for the 16-bit formats, any other scale of ordinary size is applied as a multiplication by its rounded
//   reciprocal. That product lies within 2^-51 (relative) of the exact quotient, and so does the rule's
//   rounded quotient. The 16-bit value (and the range test, whose limits are integers) depends only on
//   which integers the quotient lies between: when both ends of a band of 2^-50 around the product truncate
//   to the same 32-bit integer (or both lie outside that range, or are not numbers), that is the rule's.
//   Four points whose band holds an integer are divided instead. Division costs several times the
//   multiplication, and it is what made this conversion slower than copying the same bytes;
// - the float conversion needs the rounded quotient itself, so it divides by scales that are not powers of
//   two (the float format is sent with unit scaling, so this is not the path frames take).
#include <immintrin.h>

#include <cmath>
#include <cstdint>

#include "point_conversion_rules.h"

namespace {

enum class Scaling { None, Multiply, Reciprocal, Divide };

bool isPowerOfTwo(double value) {
    int exponent = 0;
    return std::isfinite(value) && value != 0.0 && std::fabs(std::frexp(value, &exponent)) == 0.5;
}

// A scale whose reciprocal is a normal number, so that the product's error bound holds.
bool hasOrdinarySize(double value) {
    return std::isfinite(value) && std::fabs(value) > 0x1p-1000 && std::fabs(value) < 0x1p1000;
}

Scaling scalingFor(const AxisScaling& s, bool integerResult) {
    bool unit = true, powersOfTwo = true, ordinary = true;
    for (int axis = 0; axis < 3; ++axis) {
        // x - 0.0 is x for every x, x - (-0.0) is not (it turns -0.0 into 0.0).
        unit = unit && s.scale[axis] == 1.0 && s.offset[axis] == 0.0 && !std::signbit(s.offset[axis]);
        powersOfTwo = powersOfTwo && isPowerOfTwo(s.scale[axis]);
        ordinary = ordinary && hasOrdinarySize(s.scale[axis]);
    }
    if (unit) return Scaling::None;
    if (powersOfTwo) return Scaling::Multiply;
    return integerResult && ordinary ? Scaling::Reciprocal : Scaling::Divide;
}

// Offset, factor (the scale for a division, its reciprocal otherwise) and scale for three registers, given
// the axis of each of their four lanes.
struct RegisterFactors {
    __m256d offset[3];
    __m256d factor[3];
    __m256d scale[3];
};

using LaneAxes = int[3][4];
constexpr LaneAxes kOneAxisPerRegister = {{0, 0, 0, 0}, {1, 1, 1, 1}, {2, 2, 2, 2}};  // X X X X | Y ... | Z ...
constexpr LaneAxes kAxesAsStored = {{0, 1, 2, 0}, {1, 2, 0, 1}, {2, 0, 1, 2}};        // X Y Z X | Y Z X Y | Z X Y Z

RegisterFactors factorsFor(const AxisScaling& s, Scaling mode, const LaneAxes& axes) {
    const auto factor = [&](int axis) { return mode == Scaling::Divide ? s.scale[axis] : 1.0 / s.scale[axis]; };
    RegisterFactors f{};
    for (int k = 0; k < 3; ++k) {
        const int* a = axes[k];
        f.offset[k] = _mm256_setr_pd(s.offset[a[0]], s.offset[a[1]], s.offset[a[2]], s.offset[a[3]]);
        f.factor[k] = _mm256_setr_pd(factor(a[0]), factor(a[1]), factor(a[2]), factor(a[3]));
        f.scale[k] = _mm256_setr_pd(s.scale[a[0]], s.scale[a[1]], s.scale[a[2]], s.scale[a[3]]);
    }
    return f;
}

template <Scaling mode>
inline __m256d scaled(__m256d value, __m256d offset, __m256d factor) {
    if constexpr (mode == Scaling::None) return value;
    const __m256d difference = _mm256_sub_pd(value, offset);
    return mode == Scaling::Divide ? _mm256_div_pd(difference, factor) : _mm256_mul_pd(difference, factor);
}

// No software prefetch: at this speed the processor's own prefetcher follows the linear pass better than
// prefetch instructions, which only add work.
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

struct FourPoints {
    __m256d x, y, z;
};

// Four points, stored X Y Z X | Y Z X Y | Z X Y Z, as one register per axis.
inline FourPoints loadFourPoints(const double* p) {
    const __m256d r0 = _mm256_loadu_pd(p), r1 = _mm256_loadu_pd(p + 4), r2 = _mm256_loadu_pd(p + 8);
    const __m256d xy = _mm256_blend_pd(r0, r1, 0b1100);       // x0 y0 | x2 y2
    const __m256d zx = _mm256_permute2f128_pd(r0, r2, 0x21);  // z0 x1 | z2 x3
    const __m256d yz = _mm256_blend_pd(r1, r2, 0b1100);       // y1 z1 | y3 z3
    return {_mm256_shuffle_pd(xy, zx, 0b1010), _mm256_shuffle_pd(xy, yz, 0b0101), _mm256_shuffle_pd(zx, yz, 0b1010)};
}

// The quotients of one axis of four points truncated toward zero to 32-bit integers (INT32_MIN for values
// out of that range and for NaN), with `settled` cleared in the lanes where the truncation of the exact
// quotient cannot be told from the product.
inline __m128i truncatedByReciprocal(__m256d value, __m256d offset, __m256d reciprocal, __m128i& settled) {
    const __m256d product = _mm256_mul_pd(_mm256_sub_pd(value, offset), reciprocal);
    const __m128i below = _mm256_cvttpd_epi32(_mm256_mul_pd(product, _mm256_set1_pd(1.0 - 0x1p-50)));
    const __m128i above = _mm256_cvttpd_epi32(_mm256_mul_pd(product, _mm256_set1_pd(1.0 + 0x1p-50)));
    settled = _mm_and_si128(settled, _mm_cmpeq_epi32(below, above));
    return below;
}

// A mask of four 64-bit lanes as four 32-bit lanes.
inline __m128i narrowed(__m256d mask) {
    const __m128 low = _mm_castpd_ps(_mm256_castpd256_pd128(mask));
    const __m128 high = _mm_castpd_ps(_mm256_extractf128_pd(mask, 1));
    return _mm_castps_si128(_mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0)));
}

// The A, B and C values of four points as 32-bit lanes, each within 0..65535; all three 0 for a point
// without measurement or with a value outside that range.
struct FourValues {
    __m128i a, b, c;
};

template <Scaling mode>
inline FourValues fourValues(const double* points, const RegisterFactors& f) {
    const FourPoints p = loadFourPoints(points);
    const __m256d v[3] = {p.x, p.y, p.z};
    // A point without measurement gets C = all bits set, which fails the range test below.
    const __m128i unmeasured = narrowed(_mm256_cmp_pd(_mm256_setzero_pd(), p.z, _CMP_GE_OQ));
    // Truncation to 32-bit integers gives INT32_MIN for values out of that range and for NaN.
    __m128i value[3];
    bool divide = mode == Scaling::Divide;
    if constexpr (mode == Scaling::Reciprocal) {
        // Points without measurement become zeros whatever their quotients are.
        __m128i known = _mm_set1_epi32(-1);
        for (int axis = 0; axis < 3; ++axis) {
            value[axis] = truncatedByReciprocal(v[axis], f.offset[axis], f.factor[axis], known);
        }
        divide = _mm_movemask_epi8(_mm_or_si128(known, unmeasured)) != 0xFFFF;
    }
    if (divide) {
        for (int axis = 0; axis < 3; ++axis) {
            value[axis] = _mm256_cvttpd_epi32(_mm256_div_pd(_mm256_sub_pd(v[axis], f.offset[axis]), f.scale[axis]));
        }
    } else if constexpr (mode != Scaling::Reciprocal) {
        for (int axis = 0; axis < 3; ++axis) {
            value[axis] = _mm256_cvttpd_epi32(scaled<mode>(v[axis], f.offset[axis], f.factor[axis]));
        }
    }
    value[2] = _mm_or_si128(value[2], unmeasured);
    // In range exactly when all bits above the low 16 are clear, for each of A, B and C.
    const __m128i outside = _mm_or_si128(_mm_or_si128(value[0], value[1]), value[2]);
    const __m128i valid = _mm_cmpeq_epi32(_mm_srli_epi32(outside, 16), _mm_setzero_si128());
    return {_mm_and_si128(value[0], valid), _mm_and_si128(value[1], valid), _mm_and_si128(value[2], valid)};
}

// Byte shuffles that interleave A0..A3 B0..B3 (one register) and C0..C3 (another) into A B C order; -1 leaves
// a zero byte. Eight pixels are 48 bytes: the first four fill 16 bytes and the low half of the next 16, the
// second four the high half of those and the last 16.
struct Interleave {
    __m128i ab, c;
};
inline Interleave interleave(const std::int8_t (&ab)[16], const std::int8_t (&c)[16]) {
    return {_mm_load_si128(reinterpret_cast<const __m128i*>(ab)), _mm_load_si128(reinterpret_cast<const __m128i*>(c))};
}
alignas(16) constexpr std::int8_t kFirstAB[16] = {0, 1, 8, 9, -1, -1, 2, 3, 10, 11, -1, -1, 4, 5, 12, 13};
alignas(16) constexpr std::int8_t kFirstC[16] = {-1, -1, -1, -1, 0, 1, -1, -1, -1, -1, 2, 3, -1, -1, -1, -1};
alignas(16) constexpr std::int8_t kFirstTailAB[16] = {-1, -1, 6, 7, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
alignas(16) constexpr std::int8_t kFirstTailC[16] = {4, 5, -1, -1, -1, -1, 6, 7, -1, -1, -1, -1, -1, -1, -1, -1};
alignas(16) constexpr std::int8_t kSecondHeadAB[16] = {-1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 8, 9, -1, -1, 2, 3};
alignas(16) constexpr std::int8_t kSecondHeadC[16] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 1, -1, -1};
alignas(16) constexpr std::int8_t kSecondAB[16] = {10, 11, -1, -1, 4, 5, 12, 13, -1, -1, 6, 7, 14, 15, -1, -1};
alignas(16) constexpr std::int8_t kSecondC[16] = {-1, -1, 2, 3, -1, -1, -1, -1, 4, 5, -1, -1, -1, -1, 6, 7};

inline __m128i shuffled(__m128i ab, __m128i c, const Interleave& order) {
    return _mm_or_si128(_mm_shuffle_epi8(ab, order.ab), _mm_shuffle_epi8(c, order.c));
}

struct PixelOrder {
    Interleave first = interleave(kFirstAB, kFirstC);
    Interleave firstTail = interleave(kFirstTailAB, kFirstTailC);
    Interleave secondHead = interleave(kSecondHeadAB, kSecondHeadC);
    Interleave second = interleave(kSecondAB, kSecondC);
};

// Eight pixels, 48 bytes.
template <Scaling mode>
inline void eightPixels(const double* points, const RegisterFactors& f, const PixelOrder& order, __m128i out[3]) {
    const FourValues v0 = fourValues<mode>(points, f), v1 = fourValues<mode>(points + 12, f);
    // Values within 0..65535 pack to 16 bits unchanged.
    const __m128i ab0 = _mm_packus_epi32(v0.a, v0.b), c0 = _mm_packus_epi32(v0.c, v0.c);
    const __m128i ab1 = _mm_packus_epi32(v1.a, v1.b), c1 = _mm_packus_epi32(v1.c, v1.c);
    out[0] = shuffled(ab0, c0, order.first);
    out[1] = _mm_or_si128(shuffled(ab0, c0, order.firstTail), shuffled(ab1, c1, order.secondHead));
    out[2] = shuffled(ab1, c1, order.second);
}

template <Scaling mode>
void convertU16(const double* points, std::size_t count, const AxisScaling& s, std::uint16_t* output) {
    const RegisterFactors f = factorsFor(s, mode, kOneAxisPerRegister);
    const PixelOrder order;
    std::size_t i = 0;
    for (; i < count && i < 8 && !isAligned(output + 3 * i); ++i) convertPointToU16(points + 3 * i, s, output + 3 * i);
    const bool aligned = isAligned(output + 3 * i);
    for (; i + 8 <= count; i += 8) {
        __m128i out[3];
        eightPixels<mode>(points + 3 * i, f, order, out);
        for (int k = 0; k < 3; ++k) store(output + 3 * i + 8 * k, out[k], aligned);
    }
    for (; i < count; ++i) convertPointToU16(points + 3 * i, s, output + 3 * i);
    _mm_sfence();
}

// ---- Float conversion ----

// Four pixels, 48 bytes, converted in the order they are stored.
template <Scaling mode>
inline void fourFloatPixels(const double* points, const RegisterFactors& f, __m128 out[3]) {
    const __m256d r[3] = {_mm256_loadu_pd(points), _mm256_loadu_pd(points + 4), _mm256_loadu_pd(points + 8)};
    const __m256d zx = _mm256_permute2f128_pd(r[0], r[2], 0x21);  // z0 x1 | z2 x3
    const __m256d yz = _mm256_blend_pd(r[1], r[2], 0b1100);       // y1 z1 | y3 z3
    const __m256d measured = _mm256_cmp_pd(_mm256_setzero_pd(), _mm256_shuffle_pd(zx, yz, 0b1010), _CMP_NGE_UQ);
    // Each lane keeps its point's measurement: points 0 0 0 1 | 1 1 2 2 | 2 3 3 3.
    const __m256d keep[3] = {_mm256_permute4x64_pd(measured, _MM_SHUFFLE(1, 0, 0, 0)),
                             _mm256_permute4x64_pd(measured, _MM_SHUFFLE(2, 2, 1, 1)),
                             _mm256_permute4x64_pd(measured, _MM_SHUFFLE(3, 3, 3, 2))};
    for (int k = 0; k < 3; ++k) {
        out[k] = _mm256_cvtpd_ps(_mm256_and_pd(scaled<mode>(r[k], f.offset[k], f.factor[k]), keep[k]));
    }
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
        __m128 out[6];
        fourFloatPixels<mode>(points + 3 * i, f, out);
        fourFloatPixels<mode>(points + 3 * i + 12, f, out + 3);
        for (int k = 0; k < 6; ++k) store(output + 3 * i + 4 * k, _mm_castps_si128(out[k]), aligned);
    }
    for (; i < count; ++i) convertPointToFloat(points + 3 * i, s, output + 3 * i);
    _mm_sfence();
}

}  // namespace

void convertCloudToU16Avx2(const double* points, std::size_t count, const AxisScaling& scaling, std::uint16_t* output) {
    switch (scalingFor(scaling, true)) {
        case Scaling::None: return convertU16<Scaling::None>(points, count, scaling, output);
        case Scaling::Multiply: return convertU16<Scaling::Multiply>(points, count, scaling, output);
        case Scaling::Reciprocal: return convertU16<Scaling::Reciprocal>(points, count, scaling, output);
        case Scaling::Divide: return convertU16<Scaling::Divide>(points, count, scaling, output);
    }
}

void convertCloudToFloatAvx2(const double* points, std::size_t count, const AxisScaling& scaling, float* output) {
    switch (scalingFor(scaling, false)) {
        case Scaling::None: return convertFloat<Scaling::None>(points, count, scaling, output);
        case Scaling::Multiply: return convertFloat<Scaling::Multiply>(points, count, scaling, output);
        case Scaling::Reciprocal:
        case Scaling::Divide: return convertFloat<Scaling::Divide>(points, count, scaling, output);
    }
}
