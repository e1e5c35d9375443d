// Point clouds into the 16-bit and float 3D formats: validity of points, scaling, truncation toward zero,
// values outside the 16-bit range, and the blank cycle.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "main_class.h"
#include "scripted_sensor.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class PointConversionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ScriptedSensor::instance().reset();
        bridge = std::make_unique<CMainClass>();
        scaleAll(1.0f, 0.0f);
    }

    void scaleAll(float scale, float offset) {
        for (CoordinateInfo& axis : bridge->coordinates) {
            axis.scale = scale;
            axis.offset = offset;
        }
    }

    std::vector<std::uint16_t> toU16(const std::vector<double>& points, int width, int height, bool noData = false) {
        std::vector<std::uint16_t> out(points.size(), 0xBEEF);
        bridge->convertPointsToU16(width, height, noData, points.data(), out.data());
        return out;
    }
    std::vector<float> toFloat(const std::vector<double>& points, int width, int height, bool noData = false) {
        std::vector<float> out(points.size(), -7.0f);
        bridge->convertPointsToFloat(width, height, noData, points.data(), out.data());
        return out;
    }

    std::unique_ptr<CMainClass> bridge;
};

TEST_F(PointConversionTest, AnEmptyImageWritesNothing) {
    const std::vector<double> points = {1, 2, 3, 4, 5, 6};
    for (const auto& [width, height] : {std::pair{0, 2}, std::pair{2, 0}, std::pair{0, 0}, std::pair{-1, 2}}) {
        EXPECT_EQ(toU16(points, width, height, false), std::vector<std::uint16_t>(6, 0xBEEF));
        EXPECT_EQ(toU16(points, width, height, true), std::vector<std::uint16_t>(6, 0xBEEF));
        EXPECT_EQ(toFloat(points, width, height), std::vector<float>(6, -7.0f));
    }
}

TEST_F(PointConversionTest, ABlankCycleZeroesEveryPixelWhateverTheInput) {
    const std::vector<double> points = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(toU16(points, 2, 2, true), std::vector<std::uint16_t>(12, 0));
    EXPECT_EQ(toFloat(points, 2, 2, true), std::vector<float>(12, 0.0f));
}

TEST_F(PointConversionTest, PointsWithoutAPositiveZAreInvalidButANaNZCounts) {
    const std::vector<double> points = {5, 6, 0.0, 5, 6, -3.0, 5, 6, 0.001, 5, 6, -0.0};
    EXPECT_EQ(toFloat(points, 4, 1), (std::vector<float>{0, 0, 0, 0, 0, 0, 5, 6, 0.001f, 0, 0, 0}));
    EXPECT_EQ(toU16(points, 2, 2), (std::vector<std::uint16_t>{0, 0, 0, 0, 0, 0, 5, 6, 0, 0, 0, 0}));

    const std::vector<float> nanZ = toFloat({1.5, 2.5, kNaN}, 1, 1);
    EXPECT_EQ(nanZ[0], 1.5f);
    EXPECT_EQ(nanZ[1], 2.5f);
    EXPECT_TRUE(std::isnan(nanZ[2]));
    // A NaN cannot be a 16-bit value: the whole point is sent as without measurement.
    EXPECT_EQ(toU16({1.5, 2.5, kNaN}, 1, 1), (std::vector<std::uint16_t>{0, 0, 0}));
}

TEST_F(PointConversionTest, ScaleAndOffsetApplyPerAxis) {
    scaleAll(0.25f, -8.0f);
    EXPECT_EQ(toU16({1.0, 2.0, 3.0}, 1, 1), (std::vector<std::uint16_t>{36, 40, 44}));
    EXPECT_EQ(toFloat({1.0, 2.0, 3.0}, 1, 1), (std::vector<float>{36.0f, 40.0f, 44.0f}));

    bridge->coordinates[0] = {2.0f, 10.0f};
    bridge->coordinates[1] = {0.5f, -1.0f};
    bridge->coordinates[2] = {4.0f, 400.0f};
    EXPECT_EQ(toFloat({30.0, 1.0, 500.0}, 1, 1), (std::vector<float>{10.0f, 4.0f, 25.0f}));
}

TEST_F(PointConversionTest, SixteenBitValuesTruncateTowardZeroAndOutOfRangePointsBecomeZero) {
    struct Case {
        double a;
        std::vector<std::uint16_t> pixel;
    };
    const Case cases[] = {
        {3.9, {3, 7, 9}},
        {-0.5, {0, 7, 9}},
        {-0.999, {0, 7, 9}},
        {65535.9, {65535, 7, 9}},
        {-1.0, {0, 0, 0}},
        {-1.7, {0, 0, 0}},
        {65536.0, {0, 0, 0}},
        {70000.9, {0, 0, 0}},
        {1e300, {0, 0, 0}},
        {kNaN, {0, 0, 0}},
        {-std::numeric_limits<double>::infinity(), {0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.a);
        EXPECT_EQ(toU16({c.a, 7.2, 9.99}, 1, 1), c.pixel);
        // The same rule on axis B.
        const bool valid = c.pixel[1] != 0;
        EXPECT_EQ(toU16({7.2, c.a, 9.99}, 1, 1),
                  valid ? (std::vector<std::uint16_t>{7, c.pixel[0], 9}) : (std::vector<std::uint16_t>{0, 0, 0}));
    }
    // Z itself beyond the range, and a scale of zero (division by zero).
    EXPECT_EQ(toU16({1, 2, 65536.5}, 1, 1), (std::vector<std::uint16_t>{0, 0, 0}));
    bridge->coordinates[1].scale = 0.0f;
    EXPECT_EQ(toU16({1, 2, 3}, 1, 1), (std::vector<std::uint16_t>{0, 0, 0}));
}

TEST_F(PointConversionTest, UnitScalingPassesTheCoordinatesAsFloats) {
    const std::vector<float> out = toFloat({1.5, -2.25, 300.125, 0.1, 1e10, 1e-3}, 2, 1);
    EXPECT_EQ(out, (std::vector<float>{1.5f, -2.25f, 300.125f, 0.1f, 1e10f, 1e-3f}));
}

TEST_F(PointConversionTest, PointsAreReadRowAfterRowOnlyUpToWidthTimesHeight) {
    std::vector<double> points;
    for (int i = 0; i < 8; ++i) {
        points.insert(points.end(), {double(i), double(10 + i), double(100 + i)});
    }
    std::vector<std::uint16_t> out = toU16(points, 3, 2);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(out[3 * i], i);
        EXPECT_EQ(out[3 * i + 2], 100 + i);
    }
    EXPECT_EQ(out[18], 0xBEEF);  // beyond the image: untouched
}

}  // namespace
