// The point-cloud conversions against a plain per-point copy of their rules, bit for bit, over millions of
// random points mixed with special values (NaN with any payload, infinities, signed zeros, subnormals) and
// with quotients placed at and within a few units in the last place of every integer where the 16-bit
// value or its range test changes, for unit, power-of-two, 16-bit, degenerate and random scalings, any
// output alignment and any point count; every implementation this processor can run is compared.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "main_class.h"
#include "point_conversion_rules.h"
#include "scripted_sensor.h"

namespace {

using Limits = std::numeric_limits<double>;

struct Scaling {
    float scale[3];
    float offset[3];
};

// The rules, point by point, as they were written before the conversions were vectorised.
void referenceU16(const double* points, std::size_t count, const Scaling& s, std::uint16_t* out) {
    for (std::size_t i = 0; i < count; ++i) {
        const double* p = points + 3 * i;
        double v[3];
        bool valid = !(0.0 >= p[2]);
        for (int axis = 0; axis < 3; ++axis) {
            v[axis] = (p[axis] - static_cast<double>(s.offset[axis])) / static_cast<double>(s.scale[axis]);
            valid = valid && v[axis] > -1.0 && v[axis] < 65536.0;
        }
        for (int axis = 0; axis < 3; ++axis) out[3 * i + axis] = valid ? static_cast<std::uint16_t>(v[axis]) : 0;
    }
}

void referenceFloat(const double* points, std::size_t count, const Scaling& s, float* out) {
    for (std::size_t i = 0; i < count; ++i) {
        const double* p = points + 3 * i;
        const bool measured = !(0.0 >= p[2]);
        for (int axis = 0; axis < 3; ++axis) {
            const double v = (p[axis] - static_cast<double>(s.offset[axis])) / static_cast<double>(s.scale[axis]);
            out[3 * i + axis] = measured ? static_cast<float>(v) : 0.0f;
        }
    }
}

double fromBits(std::uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Coordinates that stress the conversions under one scaling.
class PointSource {
public:
    PointSource(const Scaling& scaling, std::uint64_t seed) : s(scaling), random(seed) {}

    double coordinate(int axis) {
        const double scale = s.scale[axis], offset = s.offset[axis];
        switch (pick(9)) {
            case 0:  // a quotient at or a few ulps from an integer around the 16-bit limits
            case 1: {
                static constexpr double kIntegers[] = {-2, -1, 0, 1, 2, 32767, 32768, 65534, 65535, 65536, 65537};
                return nearby(offset + kIntegers[pick(std::size(kIntegers))] * scale);
            }
            case 2:  // a quotient at or a few ulps from any integer of the range
                return nearby(offset + static_cast<double>(static_cast<int>(pick(65540)) - 2) * scale);
            case 3: return special();
            case 4: {  // a quotient at or a few ulps from halfway between two floats
                const float below = std::uniform_real_distribution<float>(-70000.0f, 70000.0f)(random);
                const double halfway =
                    0.5 * (static_cast<double>(below) + static_cast<double>(std::nextafter(below, 1e9f)));
                return nearby(offset + halfway * scale);
            }
            case 5:  // any bit pattern
                return fromBits(random());
            default:  // a plain measurement somewhere in and around the range
                return offset + std::uniform_real_distribution<double>(-0.1, 1.1)(random) * 65536.0 * scale;
        }
    }

    double z() {
        switch (pick(10)) {
            case 0: return 0.0;
            case 1: return -0.0;
            case 2: return -std::uniform_real_distribution<double>(0.0, 1000.0)(random);
            default: return coordinate(2);
        }
    }

private:
    std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); }

    double nearby(double value) {
        for (int steps = static_cast<int>(pick(9)) - 4; steps != 0; steps += steps > 0 ? -1 : 1) {
            value = std::nextafter(value, steps > 0 ? Limits::infinity() : -Limits::infinity());
        }
        return value;
    }

    double special() {
        const double values[] = {Limits::quiet_NaN(),
                                 -Limits::quiet_NaN(),
                                 Limits::infinity(),
                                 -Limits::infinity(),
                                 0.0,
                                 -0.0,
                                 Limits::denorm_min(),
                                 -Limits::denorm_min(),
                                 Limits::min() / 3,
                                 Limits::max(),
                                 -Limits::max(),
                                 -1.0,
                                 65535.0,
                                 65536.0,
                                 1e300,
                                 -1e-300};
        if (pick(4) == 0) {  // NaN with a random payload and sign
            return fromBits(random() | 0x7FF0000000000001ull);
        }
        return values[pick(std::size(values))];
    }

    Scaling s;
    std::mt19937_64 random;
};

class PointConversionEquivalenceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ScriptedSensor::instance().reset();
        bridge = std::make_unique<CMainClass>();
    }
    void TearDown() override { useConversionCode(bestCode); }

    void expectSameAsReference(const Scaling& s, std::size_t pointCount, std::uint64_t seed) {
        for (ConversionCode code : {ConversionCode::Portable, ConversionCode::Sse2, ConversionCode::Avx2}) {
            if (!useConversionCode(code)) continue;
            SCOPED_TRACE(conversionCodeName(code));
            expectSameAsReferenceWithCodeInUse(s, pointCount, seed);
        }
    }

    // Converts `points` in clouds of varied sizes into outputs at varied alignments, both ways, and compares
    // every bit with the reference.
    void expectSameAsReferenceWithCodeInUse(const Scaling& s, std::size_t pointCount, std::uint64_t seed) {
        for (int axis = 0; axis < 3; ++axis) bridge->coordinates[axis] = {s.scale[axis], s.offset[axis]};
        PointSource source(s, seed);
        std::vector<double> points(3 * pointCount);
        for (std::size_t i = 0; i < pointCount; ++i) {
            points[3 * i] = source.coordinate(0);
            points[3 * i + 1] = source.coordinate(1);
            points[3 * i + 2] = source.z();
        }
        std::mt19937 sizes(static_cast<std::uint32_t>(seed));
        std::vector<std::uint16_t> u16(3 * pointCount + 16), expectedU16(3 * pointCount);
        std::vector<float> floats(3 * pointCount + 16), expectedFloats(3 * pointCount);
        referenceU16(points.data(), pointCount, s, expectedU16.data());
        referenceFloat(points.data(), pointCount, s, expectedFloats.data());
        for (std::size_t done = 0; done < pointCount;) {
            // Mostly long rows, sometimes short ones so that every remainder of a block is exercised.
            const std::size_t width =
                std::min<std::size_t>(pointCount - done, sizes() % 4 == 0 ? 1 + sizes() % 23 : 1 + sizes() % 70000);
            const std::size_t shift = sizes() % 8;
            bridge->convertPointsToU16(static_cast<std::int32_t>(width), 1, false, points.data() + 3 * done,
                                       u16.data() + shift);
            bridge->convertPointsToFloat(static_cast<std::int32_t>(width), 1, false, points.data() + 3 * done,
                                         floats.data() + shift);
            ASSERT_EQ(0, std::memcmp(u16.data() + shift, expectedU16.data() + 3 * done, width * 6))
                << firstDifference(u16.data() + shift, expectedU16.data() + 3 * done, points.data() + 3 * done, width);
            ASSERT_EQ(0, std::memcmp(floats.data() + shift, expectedFloats.data() + 3 * done, width * 12))
                << "float output differs in a row of " << width << " points from point " << done;
            done += width;
        }
    }

    static std::string firstDifference(const std::uint16_t* got, const std::uint16_t* expected, const double* points,
                                       std::size_t count) {
        for (std::size_t i = 0; i < 3 * count; ++i) {
            if (got[i] != expected[i]) {
                const double* p = points + 3 * (i / 3);
                return "point (" + std::to_string(p[0]) + ", " + std::to_string(p[1]) + ", " + std::to_string(p[2]) +
                       ") value " + std::to_string(i % 3) + ": " + std::to_string(got[i]) + " instead of " +
                       std::to_string(expected[i]);
            }
        }
        return {};
    }

    const ConversionCode bestCode = conversionCodeInUse();
    std::unique_ptr<CMainClass> bridge;
};

constexpr std::size_t kPoints = 1'000'000;

// The scaling the device sets for the 16-bit formats: range / 65535, offsets -range / 2 and the Z start.
Scaling sixteenBit(double rangeX, double rangeY, double rangeZ, double zStart) {
    return {{static_cast<float>(rangeX / 65535.0), static_cast<float>(rangeY / 65535.0),
             static_cast<float>(rangeZ / 65535.0)},
            {static_cast<float>(-0.5 * rangeX), static_cast<float>(-0.5 * rangeY), static_cast<float>(zStart)}};
}

TEST_F(PointConversionEquivalenceTest, UnitScaling) {
    expectSameAsReference({{1, 1, 1}, {0, 0, 0}}, kPoints, 1);
    // An offset of -0.0 is not the same as none: x - (-0.0) turns -0.0 into 0.0.
    expectSameAsReference({{1, 1, 1}, {-0.0f, 0, -0.0f}}, kPoints / 4, 2);
}

TEST_F(PointConversionEquivalenceTest, SixteenBitScalings) {
    expectSameAsReference(sixteenBit(300, 220, 400, 250), kPoints, 3);
    expectSameAsReference(sixteenBit(1000, 750, 1200, 600), kPoints, 4);
    expectSameAsReference(sixteenBit(37.5, 21.1, 48.7, 101.3), kPoints, 5);
}

TEST_F(PointConversionEquivalenceTest, PowerOfTwoAndNegativeScalings) {
    expectSameAsReference({{0.25f, 0.25f, 0.25f}, {-8, -8, -8}}, kPoints / 2, 6);
    expectSameAsReference({{-0.5f, 1024.0f, 0x1p-140f}, {3.5f, -7.25f, 100}}, kPoints / 2, 7);
    expectSameAsReference({{-0.013f, 0.02f, -3.7f}, {-150, 0, 12}}, kPoints / 2, 8);
}

TEST_F(PointConversionEquivalenceTest, DegenerateScalings) {
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    expectSameAsReference({{0.0f, 0.01f, 0.01f}, {0, 0, 0}}, kPoints / 8, 9);
    expectSameAsReference({{0.01f, -0.0f, 0.01f}, {0, 0, 1}}, kPoints / 8, 10);
    expectSameAsReference({{inf, 0.01f, -inf}, {1, 0, 0}}, kPoints / 8, 11);
    expectSameAsReference({{0.01f, nan, 0.01f}, {0, 0, nan}}, kPoints / 8, 12);
    expectSameAsReference({{1e-45f, 3e38f, 1}, {-inf, 0, 0}}, kPoints / 8, 13);
}

TEST_F(PointConversionEquivalenceTest, RandomScalings) {
    std::mt19937_64 random(14);
    std::uniform_real_distribution<float> scale(-2.0f, 2.0f), offset(-1000.0f, 1000.0f);
    for (int round = 0; round < 16; ++round) {
        Scaling s{};
        for (int axis = 0; axis < 3; ++axis) {
            s.scale[axis] = std::ldexp(scale(random), static_cast<int>(random() % 24) - 16);
            s.offset[axis] = offset(random);
        }
        SCOPED_TRACE(round);
        expectSameAsReference(s, kPoints / 16, 100 + round);
    }
}

}  // namespace
