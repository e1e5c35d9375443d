// End to end on loopback: the device library in this process streams synthetic frames and a libaravis
// client receives them. Every pixel format arrives byte-exact with the right size, format and timestamp;
// the chunk parser reads the temperature; with a share of payload packets dropped on the device side,
// every frame still completes through resends.
#include "gev_camera.h"
#include "synthetic_frame.h"

#include <arv.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

namespace {

constexpr std::uint16_t kWidth = 160;
constexpr std::uint16_t kHeight = 120;

// The device side: frames of the current pixel format, with the temperature chunk while it is on.
class Device {
public:
    explicit Device(const char* address) : camera_(createCamera()) {
        camera_->setDeviceInfo("Corvastrum", "StreamTest", "1.0", "stream test", "ST0001");
        camera_->addChunkCategory("ChunkDataControl");
        camera_->addChunkFeature(0xFFFFF0, "ChunkTemperature", "ChunkDataControl", kGevReadOnly, 4, nullptr);
        for (const char* format : {"Mono16", "RGB16", "Coord3D_ABC32f"}) camera_->addPixelFormat(format);
        camera_->setImageSize(kWidth, kHeight, 0);
        started_ = camera_->startServer(address) == 0;
    }
    ~Device() {
        stop();
        camera_->stopServer();
    }
    bool started() const { return started_; }
    CGevCamera& camera() { return *camera_; }

    void setTemperatureChunk(bool on) {
        temperature_ = on;
        camera_->setChunkLayout(on ? 4 : 0, on ? 1 : 0, 0);
    }
    void start() {
        running_ = true;
        thread_ = std::thread([this] { run(); });
    }
    void stop() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
    }

private:
    void run() {
        std::vector<std::uint8_t> frame;
        std::string patternOf;
        std::uint32_t number = 0;
        while (running_) {
            std::int64_t code = 0;
            camera_->getIntValue("PixelFormat", &code);
            const std::string format = camera_->getPixelFormatName(static_cast<int>(code));
            if (format != patternOf) {
                if (!demo::fillPattern(format, kWidth, kHeight, frame)) return;
                patternOf = format;
            }
            demo::stampFrameNumber(frame, ++number);
            camera_->beginFrame(0);
            if (temperature_) {
                const std::uint8_t bigEndian35[4] = {0, 0, 0, 35};
                camera_->addChunkData(frame.data(), bigEndian35, 4, 0xFFFFF0, 0);
            }
            camera_->addChunkData(frame.data(), nullptr, static_cast<std::uint32_t>(frame.size()), 0, 0);
            if (format.rfind("Coord3D_", 0) == 0) {
                camera_->sendPointCloud(frame.data(), std::int64_t{kWidth} * kHeight, 0);
            } else {
                camera_->sendImage(frame.data(), 0, 0);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    std::unique_ptr<CGevCamera> camera_;
    bool started_ = false;
    std::atomic<bool> temperature_{false};
    std::atomic<bool> running_{false};
    std::thread thread_;
};

struct Received {
    int complete = 0;
    int failed = 0;
    int mismatched = 0;
    guint64 lastTimestamp = 0;
    bool timestampsRise = true;
    std::int64_t temperature = -1;
    guint64 resentPackets = 0;
};

// Opens the device as a client, streams `frames` frames in `format` and checks each against the pattern.
Received receive(const char* address, const char* format, int frames, bool chunks) {
    Received result;
    GError* error = nullptr;
    ArvCamera* camera = arv_camera_new(address, &error);
    EXPECT_NE(camera, nullptr) << (error ? error->message : "");
    if (camera == nullptr) return result;
    arv_camera_set_pixel_format_from_string(camera, format, &error);
    EXPECT_EQ(error, nullptr) << (error ? error->message : "");
    ArvStream* stream = arv_camera_create_stream(camera, nullptr, nullptr, &error);
    EXPECT_NE(stream, nullptr) << (error ? error->message : "");
    ArvChunkParser* parser = arv_camera_create_chunk_parser(camera);
    const guint payload = arv_camera_get_payload(camera, nullptr);
    std::vector<std::uint8_t> expected;
    demo::fillPattern(format, kWidth, kHeight, expected);
    for (int i = 0; i < 8; ++i) arv_stream_push_buffer(stream, arv_buffer_new(payload, nullptr));
    arv_camera_start_acquisition(camera, nullptr);
    for (int i = 0; i < frames * 3 && result.complete < frames; ++i) {
        ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream, 1000000);
        if (buffer == nullptr) break;
        if (arv_buffer_get_status(buffer) != ARV_BUFFER_STATUS_SUCCESS) {
            ++result.failed;
        } else {
            size_t size = 0;
            const auto* data = static_cast<const std::uint8_t*>(arv_buffer_get_image_data(buffer, &size));
            demo::stampFrameNumber(expected, demo::frameNumberOf(data, size));
            const bool sameBytes = size >= expected.size() && std::memcmp(data, expected.data(), expected.size()) == 0;
            const bool sameShape = arv_buffer_get_image_width(buffer) == kWidth &&
                                   arv_buffer_get_image_height(buffer) == kHeight &&
                                   arv_buffer_get_image_pixel_format(buffer) ==
                                       arv_camera_get_pixel_format(camera, nullptr);
            if (!sameBytes || !sameShape) ++result.mismatched;
            const guint64 timestamp = arv_buffer_get_timestamp(buffer);
            if (timestamp <= result.lastTimestamp) result.timestampsRise = false;
            result.lastTimestamp = timestamp;
            if (chunks && arv_buffer_has_chunks(buffer)) {
                result.temperature = arv_chunk_parser_get_integer_value(parser, buffer, "ChunkTemperature", nullptr);
            }
            ++result.complete;
        }
        arv_stream_push_buffer(stream, buffer);
    }
    arv_camera_stop_acquisition(camera, nullptr);
    guint64 missing = 0;
    arv_gv_stream_get_statistics(ARV_GV_STREAM(stream), &result.resentPackets, &missing);
    g_object_unref(parser);
    g_object_unref(stream);
    g_object_unref(camera);
    if (error != nullptr) g_error_free(error);
    return result;
}

}  // namespace

TEST(AravisStream, EveryPixelFormatArrivesByteExact) {
    Device device("127.0.7.30");
    ASSERT_TRUE(device.started());
    device.start();
    for (const char* format : {"Mono8", "Mono16", "RGB16", "Coord3D_ABC16", "Coord3D_ABC32f"}) {
        for (bool chunks : {false, true}) {
            device.setTemperatureChunk(chunks);
            const Received got = receive("127.0.7.30", format, 10, chunks);
            EXPECT_EQ(got.complete, 10) << format;
            EXPECT_EQ(got.failed, 0) << format;
            EXPECT_EQ(got.mismatched, 0) << format;
            EXPECT_TRUE(got.timestampsRise) << format;
            EXPECT_NE(got.lastTimestamp, 0u) << format;
            if (chunks) {
                EXPECT_EQ(got.temperature, 35) << format;
            }
        }
    }
}

TEST(AravisStream, DroppedPacketsAreResentAndEveryFrameCompletes) {
    // The test-only switch: the device drops 2% of the payload packets it sends the first time.
    setenv("PELLICOR_TEST_DROP_PERCENT", "2", 1);
    Device device("127.0.7.31");
    unsetenv("PELLICOR_TEST_DROP_PERCENT");
    ASSERT_TRUE(device.started());
    device.setTemperatureChunk(true);
    device.start();
    const Received got = receive("127.0.7.31", "Coord3D_ABC32f", 30, true);
    EXPECT_EQ(got.complete, 30);
    EXPECT_EQ(got.failed, 0);
    EXPECT_EQ(got.mismatched, 0);
    EXPECT_EQ(got.temperature, 35);
    EXPECT_GT(got.resentPackets, 0u);
}
