// Streaming end to end: the emulated sensor (dumping every cloud and image it serves), the bridge program
// and a libaravis client. Each received frame must equal what this test computes on its own from one of the
// sensor's dumps, in each of the five pixel formats; the Linux and the Windows build (under wine, see
// program_under_test.h) are held to the same frames.
#include <gtest/gtest.h>

#include <arv.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <chrono>
#include <thread>

#include "bridge_process.h"
#include "emulator_process.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr std::size_t kPixels = static_cast<std::size_t>(kWidth) * kHeight;

Bytes readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Every dump of one kind ("cloud", "mono16", "image"), in the order served.
std::vector<Bytes> dumps(const std::filesystem::path& folder, const std::string& kind) {
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string().rfind(kind + "-", 0) == 0) paths.push_back(entry.path());
    }
    std::sort(paths.begin(), paths.end());
    std::vector<Bytes> contents;
    for (const auto& path : paths) contents.push_back(readFile(path));
    return contents;
}

struct Scaling {
    double scale[3];
    double offset[3];
};

template <typename T>
void put(Bytes& out, T value) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof value);  // this machine is little-endian, as the wire data
}

// The frame a 3D format carries for one dumped cloud, computed from the coordinates and the advertised scaling.
Bytes expected3d(const Bytes& cloud, const std::string& format, const Scaling& s) {
    Bytes out;
    const bool sixteen = format != "Coord3D_ABC32f";
    for (std::size_t i = 0; i < kPixels; ++i) {
        double xyz[3];
        std::memcpy(xyz, cloud.data() + 24 * i, 24);
        double abc[3];
        for (int axis = 0; axis < 3; ++axis) abc[axis] = (xyz[axis] - s.offset[axis]) / s.scale[axis];
        const bool measured = !(0.0 >= xyz[2]);
        if (!sixteen) {
            for (int axis = 0; axis < 3; ++axis) put(out, measured ? static_cast<float>(abc[axis]) : 0.0f);
            continue;
        }
        bool fits = measured;
        for (double v : abc) fits = fits && std::trunc(v) >= 0.0 && std::trunc(v) <= 65535.0;
        for (int axis = 0; axis < 3; ++axis) {
            put(out, fits ? static_cast<std::uint16_t>(std::trunc(abc[axis])) : std::uint16_t{0});
        }
    }
    return out;
}

struct Received {
    std::vector<Bytes> frames;
    std::vector<std::int64_t> temperatures;
    int incomplete = 0;
    Scaling scaling{};
};

class StreamEndToEnd : public testing::Test {
protected:
    void start(int n, std::vector<std::string> emulatorOptions = {}) {
        sensorAddress = "127.0.6." + std::to_string(n);
        deviceAddress = program_under_test::deviceAddress("127.0.7." + std::to_string(n));
        dumpDir = std::filesystem::path(testing::TempDir()) / ("e2e-dumps-" + std::to_string(n));
        commandLog = testing::TempDir() + "e2e-stream-commands-" + std::to_string(n) + ".log";
        std::filesystem::remove_all(dumpDir);
        std::remove(commandLog.c_str());
        std::vector<std::string> arguments{"--address",
                                           sensorAddress,
                                           "--width",
                                           std::to_string(kWidth),
                                           "--height",
                                           std::to_string(kHeight),
                                           "--dump-dir",
                                           dumpDir.string(),
                                           "--log-commands",
                                           commandLog,
                                           "--trigger-delay-ms",
                                           "5"};
        arguments.insert(arguments.end(), emulatorOptions.begin(), emulatorOptions.end());
        emulator = std::make_unique<EmulatorProcess>(arguments);
        ASSERT_TRUE(emulator->waitReady());
        bridge = std::make_unique<BridgeProcess>(std::vector<std::string>{"-i", sensorAddress, "-s", deviceAddress});
        ASSERT_TRUE(bridge->waitForError("GigeServer is online\n")) << bridge->err();
    }

    // Opens the device, selects `format`, grabs `count` frames (SingleFrame: one AcquisitionStart each).
    Received grab(const std::string& format, int count, bool chunks, bool singleFrame = false) {
        Received got;
        GError* error = nullptr;
        ArvCamera* camera = arv_camera_new(deviceAddress.c_str(), &error);
        EXPECT_NE(camera, nullptr) << (error ? error->message : "");
        if (camera == nullptr) return got;
        arv_camera_set_pixel_format_from_string(camera, format.c_str(), &error);
        if (chunks) arv_camera_set_chunks(camera, "Temperature", &error);
        arv_camera_set_acquisition_mode(
            camera, singleFrame ? ARV_ACQUISITION_MODE_SINGLE_FRAME : ARV_ACQUISITION_MODE_CONTINUOUS, &error);
        const char* axes[3] = {"CoordinateA", "CoordinateB", "CoordinateC"};
        for (int axis = 0; axis < 3; ++axis) {
            arv_camera_set_string(camera, "Scan3dCoordinateSelector", axes[axis], &error);
            got.scaling.scale[axis] = arv_camera_get_float(camera, "Scan3dCoordinateScale", &error);
            got.scaling.offset[axis] = arv_camera_get_float(camera, "Scan3dCoordinateOffset", &error);
        }
        EXPECT_EQ(error, nullptr) << (error ? error->message : "");
        g_clear_error(&error);
        ArvStream* stream = arv_camera_create_stream(camera, nullptr, nullptr, &error);
        ArvChunkParser* parser = arv_camera_create_chunk_parser(camera);
        const guint payload = arv_camera_get_payload(camera, nullptr);
        // Each buffer is used once: one given back while the stream runs would be taken up by the frame in
        // flight from one of its middle packets, and the client fails such a frame (more missing than it may
        // ask to have resent), which is this loop being slower than the sensor, not a fault of the device.
        const int buffers = count * 3;
        for (int i = 0; i < buffers; ++i) arv_stream_push_buffer(stream, arv_buffer_new(payload, nullptr));
        if (!singleFrame) arv_camera_start_acquisition(camera, nullptr);
        for (int i = 0; i < buffers && static_cast<int>(got.frames.size()) < count; ++i) {
            if (singleFrame) arv_camera_execute_command(camera, "AcquisitionStart", nullptr);
            ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream, 3000000);
            if (buffer == nullptr) break;
            if (arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS) {
                size_t size = 0;
                const auto* data = static_cast<const std::uint8_t*>(arv_buffer_get_image_data(buffer, &size));
                got.frames.emplace_back(data, data + size);
                if (chunks && arv_buffer_has_chunks(buffer)) {
                    got.temperatures.push_back(
                        arv_chunk_parser_get_integer_value(parser, buffer, "ChunkTemperature", nullptr));
                }
                EXPECT_EQ(arv_buffer_get_image_width(buffer), kWidth);
                EXPECT_EQ(arv_buffer_get_image_height(buffer), kHeight);
            } else {
                ++got.incomplete;
            }
            g_object_unref(buffer);
        }
        if (!singleFrame) arv_camera_stop_acquisition(camera, nullptr);
        g_object_unref(parser);
        g_object_unref(stream);
        g_object_unref(camera);
        g_clear_error(&error);
        return got;
    }

    // True when `frame` equals the expected frame of some dump.
    bool matchesADump(const Bytes& frame, const std::string& format, const Scaling& scaling) {
        if (format == "Mono8" || format == "Mono16") {
            for (const Bytes& dump : dumps(dumpDir, format == "Mono8" ? "image" : "mono16")) {
                if (dump == frame) return true;
            }
            return false;
        }
        for (const Bytes& cloud : dumps(dumpDir, "cloud")) {
            if (cloud.size() == 24 * kPixels && expected3d(cloud, format, scaling) == frame) return true;
        }
        return false;
    }

    std::vector<std::string> commands() { return fileLines(commandLog); }

    std::string sensorAddress;
    std::string deviceAddress;
    std::filesystem::path dumpDir;
    std::string commandLog;
    std::unique_ptr<EmulatorProcess> emulator;
    std::unique_ptr<BridgeProcess> bridge;
};

TEST_F(StreamEndToEnd, EveryFormatEqualsWhatTheSensorServed) {
    start(1);
    for (const std::string format : {"Coord3D_ABC32f", "Coord3D_ABC16", "RGB16", "Mono16", "Mono8"}) {
        const Received got = grab(format, 3, false);
        ASSERT_EQ(got.frames.size(), 3u) << format;
        EXPECT_EQ(got.incomplete, 0) << format;
        for (const Bytes& frame : got.frames) EXPECT_TRUE(matchesADump(frame, format, got.scaling)) << format;
    }
}

TEST_F(StreamEndToEnd, TemperatureChunkTravelsWithEveryFrame) {
    start(2);
    // SingleFrame: no frame follows the last one received, so the device's DeviceTemperature is that frame's.
    // (The emulated temperature drifts with every reading.)
    const Received got = grab("Coord3D_ABC16", 3, true, true);
    ASSERT_EQ(got.frames.size(), 3u);
    ASSERT_EQ(got.temperatures.size(), 3u);
    for (const std::int64_t temperature : got.temperatures) {
        EXPECT_GE(temperature, 30);
        EXPECT_LE(temperature, 50);
    }
    const std::string reading = runCommand("arv-tool-0.8 -a " + deviceAddress + " control DeviceTemperature");
    EXPECT_NE(reading.find("DeviceTemperature = " + std::to_string(got.temperatures.back())), std::string::npos)
        << reading << " vs " << got.temperatures.back();
}

TEST_F(StreamEndToEnd, SingleFrameGivesOneFramePerStartAndStopsTheSensor) {
    start(3);
    const Received got = grab("Coord3D_ABC32f", 2, false, true);
    EXPECT_EQ(got.frames.size(), 2u);
    // The program tells the sensor to stop after it has sent the frame, so the client may hold the frame
    // before the sensor has the command: the log is read once it has both stops, or after a generous while.
    std::vector<std::string> log = commands();
    for (int wait = 0; wait < 100 && std::count(log.begin(), log.end(), "SetAcquisitionStart=0") < 2; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        log = commands();
    }
    EXPECT_EQ(std::count(log.begin(), log.end(), "SetAcquisitionStart=1"), 2);
    EXPECT_EQ(std::count(log.begin(), log.end(), "SetAcquisitionStart=0"), 2);
}

TEST_F(StreamEndToEnd, ClientLeavingMidStreamStopsTheSensorAcquisition) {
    start(4);
    {
        GError* error = nullptr;
        ArvCamera* camera = arv_camera_new(deviceAddress.c_str(), &error);
        ASSERT_NE(camera, nullptr);
        arv_camera_set_pixel_format_from_string(camera, "Coord3D_ABC32f", nullptr);
        arv_camera_start_acquisition(camera, nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        g_object_unref(camera);  // leaves without AcquisitionStop
    }
    ASSERT_TRUE(bridge->waitForError("\nClient is disconnected\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::vector<std::string> log = commands();
    ASSERT_FALSE(log.empty());
    EXPECT_NE(std::find(log.begin(), log.end(), "SetAcquisitionStart=1"), log.end());
    EXPECT_EQ(log.back(), "SetAcquisitionStart=0");
}

// A client's long packet delay (0.3 s per packet, seconds per frame) must not hold AcquisitionStop: the frame
// being sent is cut short and the sensor is told to stop at once.
TEST_F(StreamEndToEnd, StopTakesEffectAtOnceWhatEverThePacketDelay) {
    start(6);
    GError* error = nullptr;
    ArvCamera* camera = arv_camera_new(deviceAddress.c_str(), &error);
    ASSERT_NE(camera, nullptr);
    arv_camera_set_pixel_format_from_string(camera, "Coord3D_ABC32f", nullptr);
    arv_camera_gv_set_packet_delay(camera, 300000000, &error);  // device ticks are nanoseconds
    EXPECT_EQ(error, nullptr) << (error ? error->message : "");
    g_clear_error(&error);
    ArvStream* stream = arv_camera_create_stream(camera, nullptr, nullptr, &error);
    ASSERT_NE(stream, nullptr) << (error ? error->message : "");
    arv_stream_push_buffer(stream, arv_buffer_new(arv_camera_get_payload(camera, nullptr), nullptr));
    arv_camera_start_acquisition(camera, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const auto stop = std::chrono::steady_clock::now();
    arv_camera_stop_acquisition(camera, nullptr);
    std::vector<std::string> log;
    while (std::chrono::steady_clock::now() - stop < std::chrono::seconds(5)) {
        log = commands();
        if (!log.empty() && log.back() == "SetAcquisitionStart=0") break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - stop);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "SetAcquisitionStart=0");
    EXPECT_LT(waited.count(), 2000);
    g_object_unref(stream);
    g_object_unref(camera);
}

TEST_F(StreamEndToEnd, NoDataCyclesArriveAsZeroFrames) {
    start(5, {"--no-data-every", "2"});
    const Received got = grab("Mono8", 6, false);
    ASSERT_EQ(got.frames.size(), 6u);
    int zero = 0;
    for (const Bytes& frame : got.frames) {
        const bool allZero = std::all_of(frame.begin(), frame.end(), [](std::uint8_t b) { return b == 0; });
        if (allZero) {
            ++zero;
        } else {
            EXPECT_TRUE(matchesADump(frame, "Mono8", got.scaling));
        }
    }
    EXPECT_GT(zero, 0);
}

}  // namespace
