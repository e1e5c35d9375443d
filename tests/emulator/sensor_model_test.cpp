// The emulated sensor in-process: deterministic scene, acquisition rules, status and temperature, faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>

#include "database_format.h"
#include "scene.h"
#include "sensor_model.h"
#include "tavrion.h"

using emulator::CloudFrame;
using emulator::EmulatorConfig;
using emulator::Scene;
using emulator::SensorModel;

namespace {

EmulatorConfig smallSensor() {
    EmulatorConfig config;
    config.width = 64;
    config.height = 48;
    config.triggerDelayMs = 0;
    config.databaseBytes = 100000;
    return config;
}

struct Rendered {
    std::vector<double> xyz;
    std::vector<std::uint16_t> mono;
};

Rendered render(const Scene& scene, std::uint64_t frame, double brightness) {
    Rendered out{std::vector<double>(3 * scene.pixelCount()), std::vector<std::uint16_t>(scene.pixelCount())};
    scene.renderCloud(frame, brightness, out.xyz.data(), out.mono.data());
    return out;
}

const emulator::SceneRanges kRanges{300, 320, 240, 400};

}  // namespace

TEST(Scene, SameSeedAndFrameGiveTheSameBytesOthersDiffer) {
    const Scene a(64, 48, kRanges, 7), b(64, 48, kRanges, 7), c(64, 48, kRanges, 8);
    const Rendered first = render(a, 3, 0.4);
    EXPECT_EQ(first.xyz, render(b, 3, 0.4).xyz);
    EXPECT_EQ(first.mono, render(b, 3, 0.4).mono);
    EXPECT_NE(first.xyz, render(a, 4, 0.4).xyz);
    EXPECT_NE(first.xyz, render(c, 3, 0.4).xyz);
}

TEST(Scene, MeasuresInsideTheRangeAndLeavesGapsWithZeroes) {
    const Scene scene(64, 48, kRanges, 1);
    const Rendered frame = render(scene, 1, 0.4);
    std::size_t valid = 0, invalid = 0;
    for (std::size_t i = 0; i < scene.pixelCount(); ++i) {
        const double x = frame.xyz[3 * i], y = frame.xyz[3 * i + 1], z = frame.xyz[3 * i + 2];
        if (z == 0.0) {
            EXPECT_EQ(x, 0.0);
            EXPECT_EQ(y, 0.0);
            ++invalid;
            continue;
        }
        ++valid;
        EXPECT_GE(z, 299.5);
        EXPECT_LE(z, 700.5);
        EXPECT_LT(std::abs(x), 300.0);
    }
    // Mostly measured, with shadows and an out-of-range corner.
    EXPECT_GT(valid, scene.pixelCount() * 6 / 10);
    EXPECT_GT(invalid, scene.pixelCount() / 50);
}

TEST(Scene, BrightnessFollowsExposureGainAndLedPower) {
    const Scene scene(64, 48, kRanges, 1);
    const auto sum = [](const Rendered& r) {
        double total = 0;
        for (auto v : r.mono) total += v;
        return total;
    };
    EXPECT_DOUBLE_EQ(Scene::brightness(10000, 1, 80), 0.4);
    EXPECT_GT(Scene::brightness(20000, 1, 80), Scene::brightness(10000, 1, 80));
    EXPECT_GT(Scene::brightness(10000, 2, 80), Scene::brightness(10000, 1, 80));
    EXPECT_LT(sum(render(scene, 1, 0.2)), sum(render(scene, 1, 0.4)));
    // Far too much light saturates the pattern, which then decodes no depth either.
    const Rendered glare = render(scene, 1, 16.0);
    EXPECT_TRUE(std::all_of(glare.xyz.begin(), glare.xyz.end(), [](double v) { return v == 0.0; }));
    // No light, no depth.
    const Rendered dark = render(scene, 1, 0.0);
    EXPECT_TRUE(std::all_of(dark.xyz.begin(), dark.xyz.end(), [](double v) { return v == 0.0; }));
    std::vector<std::uint8_t> dim(scene.pixelCount()), bright(scene.pixelCount());
    scene.renderCameraImage(1, 0.2, dim.data());
    scene.renderCameraImage(1, 0.4, bright.data());
    EXPECT_LT(std::accumulate(dim.begin(), dim.end(), 0.0), std::accumulate(bright.begin(), bright.end(), 0.0));
}

TEST(SensorModel, PointCloudsOnlyAfterStartAndTrigger) {
    SensorModel model(smallSensor());
    std::shared_ptr<const CloudFrame> frame;
    EXPECT_EQ(model.pointCloud(frame), TAVRION_ERR_NOT_READY);
    EXPECT_EQ(model.command("SetTriggerSoftware"), TAVRION_ERR_NOT_READY);
    EXPECT_EQ(model.command("SetAcquisitionStart=1"), TAVRION_OK);
    EXPECT_EQ(model.pointCloud(frame), TAVRION_ERR_NOT_READY);
    EXPECT_EQ(model.command("SetTriggerSoftware"), TAVRION_OK);
    ASSERT_EQ(model.pointCloud(frame), TAVRION_OK);
    EXPECT_EQ(frame->index, 1u);
    EXPECT_EQ(frame->cloud->xyz.size(), 3u * 64 * 48);
    EXPECT_EQ(model.command("SetTriggerSoftware"), TAVRION_OK);
    ASSERT_EQ(model.pointCloud(frame), TAVRION_OK);
    EXPECT_EQ(frame->index, 2u);
    EXPECT_EQ(model.command("SetAcquisitionStart=0"), TAVRION_OK);
    EXPECT_EQ(model.pointCloud(frame), TAVRION_ERR_NOT_READY);
    EXPECT_EQ(model.command("SetAcquisitionStart=2"), TAVRION_ERR_VALUE_REFUSED);
    EXPECT_EQ(model.command("SetTriggerSoftware=1"), TAVRION_ERR_VALUE_REFUSED);
}

TEST(SensorModel, RendersOncePerChangeOfTheLightAndServesThatCloud) {
    SensorModel model(smallSensor());
    std::shared_ptr<const CloudFrame> first, second, third;
    ASSERT_EQ(model.command("SetAcquisitionStart=1"), TAVRION_OK);
    ASSERT_EQ(model.command("SetTriggerSoftware"), TAVRION_OK);
    ASSERT_EQ(model.pointCloud(first), TAVRION_OK);
    ASSERT_EQ(model.command("SetTriggerSoftware"), TAVRION_OK);
    ASSERT_EQ(model.pointCloud(second), TAVRION_OK);
    EXPECT_EQ(model.renderCount(), 1u);
    EXPECT_EQ(second->index, 2u);
    EXPECT_EQ(second->cloud, first->cloud);

    ASSERT_EQ(model.command("SetGain=2.0"), TAVRION_OK);
    ASSERT_EQ(model.command("SetTriggerSoftware"), TAVRION_OK);
    ASSERT_EQ(model.pointCloud(third), TAVRION_OK);
    EXPECT_EQ(model.renderCount(), 2u);
    EXPECT_NE(third->cloud->mono, first->cloud->mono);
    // A cloud still being sent stays intact while the next one is rendered.
    EXPECT_EQ(first->cloud->xyz.size(), 3u * 64 * 48);
}

TEST(SensorModel, DatabaseCommandsAreAcknowledgedAndChunksCoverTheDatabase) {
    SensorModel model(smallSensor());
    EXPECT_EQ(model.command("SetSdbPath=/tmp/"), TAVRION_OK);
    EXPECT_EQ(model.command("SetSdbPath="), TAVRION_ERR_VALUE_REFUSED);
    EXPECT_EQ(model.command("SetLoadSdb"), TAVRION_OK);
    EXPECT_EQ(model.command("SetLoadSdbFromSensor"), TAVRION_OK);
    std::vector<std::uint8_t> all, chunk;
    std::uint32_t total = 0;
    std::chrono::milliseconds delay{};
    while (model.databaseChunk(static_cast<std::uint32_t>(all.size()), 30000, total, chunk, delay) == TAVRION_OK) {
        all.insert(all.end(), chunk.begin(), chunk.end());
        if (all.size() == total) break;
    }
    EXPECT_TRUE(sensorlink::isValidDatabase(all, model.serialNumber()));
    EXPECT_EQ(model.databaseChunk(total, 10, total, chunk, delay), TAVRION_ERR_VALUE_REFUSED);
}

TEST(SensorModel, StatusReportsNoDataOnEveryNthRead) {
    EmulatorConfig config = smallSensor();
    config.noDataEvery = 3;
    SensorModel model(config);
    std::vector<std::int32_t> words;
    for (int i = 0; i < 6; ++i) {
        std::int32_t word = -1;
        ASSERT_EQ(model.status(word), TAVRION_OK);
        words.push_back(word);
    }
    EXPECT_EQ(words, (std::vector<std::int32_t>{0, 0, TAVRION_STATUS_NO_DATA, 0, 0, TAVRION_STATUS_NO_DATA}));
}

TEST(SensorModel, TemperatureDriftsSlowlyWithinAPlausibleBand) {
    SensorModel model(smallSensor());
    std::string reply;
    int previous = -1, lowest = 100, highest = 0;
    for (int i = 0; i < 1500; ++i) {
        ASSERT_EQ(model.query("GetTemperature", reply), TAVRION_OK);
        const int celsius = std::stoi(reply);
        EXPECT_EQ(reply, std::to_string(celsius));
        if (previous >= 0) {
            EXPECT_LE(std::abs(celsius - previous), 1);
        }
        previous = celsius;
        lowest = std::min(lowest, celsius);
        highest = std::max(highest, celsius);
    }
    EXPECT_GE(lowest, 35);
    EXPECT_LE(highest, 45);
    EXPECT_GE(highest - lowest, 3);
    EXPECT_EQ(model.query("GetFirmware", reply), TAVRION_ERR_UNKNOWN_COMMAND);
}

TEST(SensorModel, InjectedFailuresMatchTheWholeTextOrTheName) {
    EmulatorConfig config = smallSensor();
    config.failures = {{"SetGain", -107}, {"SetAcquisitionStart=1", -109}};
    SensorModel model(config);
    EXPECT_EQ(model.injectedFailure("SetGain=2.500000"), -107);
    EXPECT_EQ(model.injectedFailure("SetAcquisitionStart=1"), -109);
    EXPECT_EQ(model.injectedFailure("SetAcquisitionStart=0"), std::nullopt);
    EXPECT_EQ(model.injectedFailure("SetLEDPower=3"), std::nullopt);
}
