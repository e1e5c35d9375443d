// The capture tool's files: raw 3D pixels to millimetres with the advertised scaling, points without a
// measurement left out, and a PLY whose header matches its binary body.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "frame_files.h"

namespace {

std::vector<std::uint8_t> u16Pixels(std::initializer_list<std::uint16_t> values) {
    std::vector<std::uint8_t> bytes;
    for (const std::uint16_t v : values) {
        bytes.push_back(static_cast<std::uint8_t>(v));
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    return bytes;
}

TEST(FrameFiles, SixteenBitPixelsBecomeMillimetresAndZeroPixelsAreLeftOut) {
    const auto data = u16Pixels({0, 0, 0, 100, 200, 300, 65535, 0, 1});
    AxisScaling scaling;
    scaling.scale[0] = 0.5;
    scaling.offset[0] = -10.0;
    scaling.offset[2] = 400.0;
    std::vector<float> depth;
    const std::vector<Point3> points = pointsInMillimetres(data.data(), 3, false, scaling, &depth);
    ASSERT_EQ(points.size(), 2u);
    EXPECT_FLOAT_EQ(points[0].x, 40.0f);
    EXPECT_FLOAT_EQ(points[0].y, 200.0f);
    EXPECT_FLOAT_EQ(points[0].z, 700.0f);
    EXPECT_FLOAT_EQ(points[1].x, 65535 * 0.5f - 10.0f);
    EXPECT_FLOAT_EQ(points[1].z, 401.0f);
    EXPECT_EQ(depth, (std::vector<float>{-1.0f, 700.0f, 401.0f}));
}

TEST(FrameFiles, FloatPixelsPassThroughWithUnitScaling) {
    const float values[6] = {1.5f, -2.25f, 300.125f, 0.0f, 0.0f, 0.0f};
    std::uint8_t data[sizeof values];
    std::memcpy(data, values, sizeof values);
    const std::vector<Point3> points = pointsInMillimetres(data, 2, true, AxisScaling{}, nullptr);
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0].x, 1.5f);
    EXPECT_EQ(points[0].y, -2.25f);
    EXPECT_EQ(points[0].z, 300.125f);
}

TEST(FrameFiles, PlyHeaderCountsTheVerticesOfItsBody) {
    const std::string path = testing::TempDir() + "capture-test.ply";
    std::string error;
    ASSERT_TRUE(writePly(path, {{1, 2, 3}, {4, 5, 6}}, error)) << error;
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    const std::string text = content.str();
    const std::string header =
        "ply\nformat binary_little_endian 1.0\ncomment units mm\nelement vertex 2\n"
        "property float x\nproperty float y\nproperty float z\nend_header\n";
    ASSERT_EQ(text.substr(0, header.size()), header);
    ASSERT_EQ(text.size(), header.size() + 2 * 12);
    float last = 0;
    std::memcpy(&last, text.data() + text.size() - 4, 4);
    EXPECT_EQ(last, 6.0f);
}

TEST(FrameFiles, MultipartConfidenceMasksThePointsAndIntensityTravelsWithEachPoint) {
    // Pixel 0 is measured at the origin (all zeros) and kept; pixel 1 has coordinates but no confidence.
    const float range[9] = {0.0f, 0.0f, 0.0f, 7.0f, 8.0f, 9.0f, 1.0f, 2.0f, 3.0f};
    std::uint8_t data[sizeof range];
    std::memcpy(data, range, sizeof range);
    const auto intensity = u16Pixels({1000, 2000, 65535});
    const std::uint8_t confidence[3] = {255, 0, 255};
    RangeParts parts;
    parts.range = data;
    parts.intensity = intensity.data();
    parts.confidence = confidence;
    std::vector<std::uint16_t> values;
    const std::vector<Point3> points = maskedPointsInMillimetres(parts, 3, AxisScaling{}, &values, nullptr);
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[1].z, 3.0f);
    EXPECT_EQ(values, (std::vector<std::uint16_t>{1000, 65535}));

    const std::string path = testing::TempDir() + "capture-intensity.ply";
    std::string error;
    ASSERT_TRUE(writePly(path, points, error, &values)) << error;
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    const std::string text = content.str();
    ASSERT_NE(text.find("property ushort intensity\nend_header\n"), std::string::npos);
    ASSERT_EQ(text.size(), text.find("end_header\n") + 11 + 2 * 14);
    EXPECT_EQ(static_cast<std::uint8_t>(text[text.size() - 1]), 0xFF);
    const std::vector<std::uint16_t> tooFew{1};
    EXPECT_FALSE(writePly(path, points, error, &tooFew));
}

TEST(FrameFiles, UnwritablePathsReportAnError) {
    std::string error;
    EXPECT_FALSE(writePly("/nonexistent-folder/x.ply", {}, error));
    EXPECT_NE(error.find("cannot create"), std::string::npos);
    const std::uint8_t pixel = 7;
    EXPECT_FALSE(writeImagePng("/nonexistent-folder/x.png", &pixel, 1, 1, 8, 1, error));
}

}  // namespace
