// Control semantics end to end: the emulated sensor, the bridge program and a libaravis client. The
// client's last acquisition command wins, a client that leaves stops the sensor, the pixel format and the
// acquisition mode cannot change under a running stream, a mask path that is no regular file is refused without
// blocking the control channel, and writes that the sensor refuses or the bridge does not carry out are answered with
// an error and leave the value the sensor has. With TriggerMode On each software trigger gives exactly one
// frame, stamped with the moment the sensor was triggered on the host's real-time clock.
#include <gtest/gtest.h>

#include <arv.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "bridge_process.h"
#include "emulator_process.h"

namespace {

using Clock = std::chrono::steady_clock;

class ControlEndToEnd : public testing::Test {
protected:
    void start(int n, std::vector<std::string> emulatorOptions = {}) {
        sensorAddress = "127.0.8." + std::to_string(n);
        deviceAddress = program_under_test::deviceAddress("127.0.9." + std::to_string(n));
        commandLog = testing::TempDir() + "e2e-control-commands-" + std::to_string(n) + ".log";
        std::remove(commandLog.c_str());
        std::vector<std::string> arguments{
            "--address", sensorAddress,        "--width", "64", "--height", "48", "--log-commands",
            commandLog,  "--trigger-delay-ms", "5"};
        arguments.insert(arguments.end(), emulatorOptions.begin(), emulatorOptions.end());
        emulator = std::make_unique<EmulatorProcess>(arguments);
        ASSERT_TRUE(emulator->waitReady());
        bridge = std::make_unique<BridgeProcess>(std::vector<std::string>{"-i", sensorAddress, "-s", deviceAddress});
        ASSERT_TRUE(bridge->waitForError("GigeServer is online\n")) << bridge->err();
        open();
    }
    void TearDown() override { close(); }

    void open() {
        GError* error = nullptr;
        camera = arv_camera_new(deviceAddress.c_str(), &error);
        ASSERT_NE(camera, nullptr) << (error ? error->message : "");
    }
    void close() {
        if (stream != nullptr) g_object_unref(stream);
        if (camera != nullptr) g_object_unref(camera);
        stream = nullptr;
        camera = nullptr;
    }
    void openStream() {
        GError* error = nullptr;
        stream = arv_camera_create_stream(camera, nullptr, nullptr, &error);
        ASSERT_NE(stream, nullptr) << (error ? error->message : "");
        const guint payload = arv_camera_get_payload(camera, nullptr);
        for (int i = 0; i < 8; ++i) arv_stream_push_buffer(stream, arv_buffer_new(payload, nullptr));
    }
    // Frames that arrive complete within `ms`; each buffer goes back to the stream.
    int framesWithin(int ms) {
        int complete = 0;
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream, 100000);
            if (buffer == nullptr) continue;
            if (arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS) ++complete;
            arv_stream_push_buffer(stream, buffer);
        }
        return complete;
    }
    // A write through the client; the error message, empty when the device accepted it.
    std::string writeString(const char* feature, const char* value) {
        GError* error = nullptr;
        arv_camera_set_string(camera, feature, value, &error);
        return takeError(error);
    }
    std::string writeFloat(const char* feature, double value) {
        GError* error = nullptr;
        arv_camera_set_float(camera, feature, value, &error);
        return takeError(error);
    }
    static std::string takeError(GError* error) {
        if (error == nullptr) return "";
        std::string message = error->message[0] != '\0' ? error->message : "error";
        g_error_free(error);
        return message;
    }
    // A value within the feature's limits that differs from `current`.
    double anotherValue(const char* feature, double current) {
        double min = 0, max = 0;
        arv_camera_get_float_bounds(camera, feature, &min, &max, nullptr);
        return current + 1.0 <= max ? current + 1.0 : current - 1.0;
    }
    std::int64_t readInt(const char* feature) { return arv_camera_get_integer(camera, feature, nullptr); }
    std::vector<std::string> commands() { return fileLines(commandLog); }
    long countOf(const std::string& command) {
        const auto log = commands();
        return std::count(log.begin(), log.end(), command);
    }

    std::string sensorAddress;
    std::string deviceAddress;
    std::string commandLog;
    std::unique_ptr<EmulatorProcess> emulator;
    std::unique_ptr<BridgeProcess> bridge;
    ArvCamera* camera = nullptr;
    ArvStream* stream = nullptr;
};

TEST_F(ControlEndToEnd, TheLastAcquisitionCommandWinsAndTheFormatIsLockedWhileStreaming) {
    start(1);
    for (const char* format : {"Mono8", "Coord3D_ABC32f"}) {
        ASSERT_EQ(writeString("PixelFormat", format), "") << format;
        openStream();
        arv_camera_start_acquisition(camera, nullptr);
        ASSERT_GT(framesWithin(1500), 0) << format;

        // While frames flow the format cannot change, and it stays what it was.
        EXPECT_NE(writeString("PixelFormat", "Mono16"), "") << format;
        EXPECT_EQ(arv_camera_get_pixel_format_as_string(camera, nullptr), std::string(format));
        // Nor the mode, which would end the acquisition by itself after the next frame.
        EXPECT_NE(writeString("AcquisitionMode", "SingleFrame"), "") << format;
        EXPECT_EQ(arv_camera_get_string(camera, "AcquisitionMode", nullptr), std::string("Continuous"));
        EXPECT_GT(framesWithin(800), 0) << format;

        // Stop, start, stop as a client reconfiguring: stopped, and no frame follows.
        arv_camera_stop_acquisition(camera, nullptr);
        arv_camera_start_acquisition(camera, nullptr);
        arv_camera_stop_acquisition(camera, nullptr);
        framesWithin(300);  // frames sent before the last stop took effect
        EXPECT_EQ(framesWithin(800), 0) << format;
        EXPECT_EQ(readInt("AcquisitionStart"), 0) << format;
        EXPECT_EQ(commands().back(), "SetAcquisitionStart=0") << format;
        g_object_unref(stream);
        stream = nullptr;
    }
    // Stopped, the format and the mode may change again.
    EXPECT_EQ(writeString("PixelFormat", "Mono16"), "");
    EXPECT_EQ(arv_camera_get_pixel_format_as_string(camera, nullptr), std::string("Mono16"));
    EXPECT_EQ(writeString("AcquisitionMode", "SingleFrame"), "");
    EXPECT_EQ(writeString("AcquisitionMode", "Continuous"), "");
}

TEST_F(ControlEndToEnd, AClientLeavingAfterStopAndStartStopsTheSensor) {
    start(2);
    ASSERT_EQ(writeString("PixelFormat", "Coord3D_ABC32f"), "");
    openStream();
    arv_camera_start_acquisition(camera, nullptr);
    ASSERT_GT(framesWithin(1000), 0);
    // A start into the running acquisition changes nothing and is answered at once.
    const auto before = Clock::now();
    GError* error = nullptr;
    arv_camera_start_acquisition(camera, &error);
    EXPECT_EQ(takeError(error), "");
    std::printf("start while acquiring answered in %.1f ms\n",
                std::chrono::duration<double, std::milli>(Clock::now() - before).count());
    EXPECT_GT(framesWithin(500), 0);
    arv_camera_stop_acquisition(camera, nullptr);
    arv_camera_start_acquisition(camera, nullptr);
    close();  // leaves without a stop
    ASSERT_TRUE(bridge->waitForError("\nClient is disconnected\n"));
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (Clock::now() < deadline && commands().back() != "SetAcquisitionStart=0")
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(commands().back(), "SetAcquisitionStart=0");
    EXPECT_EQ(countOf("SetAcquisitionStart=1"), countOf("SetAcquisitionStart=0"));
    open();
    EXPECT_EQ(readInt("AcquisitionStart"), 0);
}

TEST_F(ControlEndToEnd, AMaskPathThatIsNoRegularFileIsRefusedAtOnce) {
    start(3);
    const std::filesystem::path folder = std::filesystem::path(testing::TempDir()) / "e2e-control-mask";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string fifo = (folder / "mask.png").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string file = (folder / "real.png").string();
    std::ofstream(file) << "mask";

    const auto begin = Clock::now();
    EXPECT_NE(writeString("PathToMask", fifo.c_str()), "");
    EXPECT_NE(writeString("PathToMask", "/dev/null"), "");
    EXPECT_NE(writeString("PathToMask", (folder / "missing.png").string().c_str()), "");
    EXPECT_LT(Clock::now() - begin, std::chrono::seconds(3));
    EXPECT_EQ(std::string(arv_camera_get_string(camera, "PathToMask", nullptr)), "");

    // The control channel stays free: another client finds and reads the device.
    close();
    open();
    EXPECT_EQ(writeString("PathToMask", file.c_str()), "");
    EXPECT_EQ(std::string(arv_camera_get_string(camera, "PathToMask", nullptr)), file);
}

TEST_F(ControlEndToEnd, WritesTheSensorRefusesOrTheBridgeCannotCarryOutAnswerAnError) {
    start(4, {"--fail", "SetGain=-107"});
    const double gain = arv_camera_get_float(camera, "Gain", nullptr);
    EXPECT_NE(writeFloat("Gain", anotherValue("Gain", gain)), "");
    EXPECT_EQ(arv_camera_get_float(camera, "Gain", nullptr), gain);

    // During a 3D acquisition the sensor keeps its exposure: the write is refused and nothing is sent.
    ASSERT_EQ(writeString("PixelFormat", "Coord3D_ABC16"), "");
    const double exposure = arv_camera_get_float(camera, "ExposureTime", nullptr);
    openStream();
    arv_camera_start_acquisition(camera, nullptr);
    ASSERT_GT(framesWithin(1000), 0);
    const double otherExposure = anotherValue("ExposureTime", exposure);
    EXPECT_NE(writeFloat("ExposureTime", otherExposure), "");
    EXPECT_EQ(arv_camera_get_float(camera, "ExposureTime", nullptr), exposure);
    arv_camera_stop_acquisition(camera, nullptr);
    const auto log = commands();
    EXPECT_TRUE(
        std::none_of(log.begin(), log.end(), [](const std::string& c) { return c.rfind("SetExposureTime", 0) == 0; }));
    EXPECT_EQ(writeFloat("ExposureTime", otherExposure), "");
}

// A sensor that refuses to start: the client's start is answered with an error, the console says why, and no
// trigger follows. A sensor that starts but refuses every trigger is asked less and less often and given up on.
TEST_F(ControlEndToEnd, ARefusedStartIsAnErrorAndRefusedTriggersAreBounded) {
    start(6, {"--fail", "SetAcquisitionStart=1=-109"});
    ASSERT_EQ(writeString("PixelFormat", "Coord3D_ABC16"), "");
    GError* error = nullptr;
    arv_camera_start_acquisition(camera, &error);
    EXPECT_NE(takeError(error), "");
    EXPECT_TRUE(bridge->waitForError("ERROR: The sensor refused to start the acquisition (error code -109)"))
        << bridge->err();
    EXPECT_EQ(readInt("AcquisitionStart"), 0);
    EXPECT_EQ(writeString("PixelFormat", "Coord3D_ABC32f"), "");  // nothing runs
    EXPECT_EQ(countOf("SetTriggerSoftware"), 0);
    close();
    bridge.reset();
    emulator.reset();

    start(7, {"--fail", "SetTriggerSoftware=-108"});
    ASSERT_EQ(writeString("PixelFormat", "Coord3D_ABC16"), "");
    const auto started = Clock::now();
    error = nullptr;
    arv_camera_start_acquisition(camera, &error);
    EXPECT_EQ(takeError(error), "");
    ASSERT_TRUE(bridge->waitForError("triggers in a row; the acquisition stops\n")) << bridge->err();
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    std::printf("refused triggers: %ld in %.2f s before the loop gave up\n", countOf("SetTriggerSoftware"), seconds);
    EXPECT_EQ(countOf("SetTriggerSoftware"), 12);
    const std::string err = bridge->err();
    EXPECT_NE(err.find("WARNING: The sensor refused a trigger (error code -108)\n"), std::string::npos) << err;
    EXPECT_NE(err.find("WARNING: The sensor keeps refusing triggers"), std::string::npos) << err;
    EXPECT_EQ(readInt("AcquisitionStart"), 0);
    EXPECT_EQ(commands().back(), "SetAcquisitionStart=0");
}

// The host's real-time clock in ns, which the device clock counts.
std::uint64_t hostTimeNs() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

TEST_F(ControlEndToEnd, EachSoftwareTriggerGivesOneFrameStampedWhenTheSensorWasTriggered) {
    start(5);
    ASSERT_EQ(writeString("PixelFormat", "Coord3D_ABC16"), "");
    ASSERT_EQ(writeString("TriggerSelector", "FrameStart"), "");
    ASSERT_EQ(writeString("TriggerMode", "On"), "");
    ASSERT_EQ(writeString("TriggerSource", "Software"), "");
    openStream();
    const auto trigger = [&] {
        GError* error = nullptr;
        arv_camera_execute_command(camera, "TriggerSoftware", &error);
        return takeError(error);
    };
    // One frame for one trigger, its leader stamped between the trigger and its arrival, at least `delayMs`
    // after the trigger; then nothing more.
    const auto oneFramePerTrigger = [&](const std::string& round, int delayMs) {
        const std::uint64_t before = hostTimeNs();
        ASSERT_EQ(trigger(), "") << round;
        ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream, 5000000);
        ASSERT_NE(buffer, nullptr) << round;
        const std::uint64_t after = hostTimeNs();
        EXPECT_EQ(arv_buffer_get_status(buffer), ARV_BUFFER_STATUS_SUCCESS) << round;
        const std::uint64_t stamp = arv_buffer_get_timestamp(buffer);
        EXPECT_GE(stamp, before + static_cast<std::uint64_t>(delayMs) * 1000000) << round;
        EXPECT_LE(stamp, after) << round;
        arv_stream_push_buffer(stream, buffer);
        EXPECT_EQ(framesWithin(300), 0) << round;
    };

    arv_camera_set_acquisition_mode(camera, ARV_ACQUISITION_MODE_CONTINUOUS, nullptr);
    arv_camera_start_acquisition(camera, nullptr);
    EXPECT_EQ(framesWithin(500), 0);  // armed, waiting for a trigger
    for (int round = 0; round < 3; ++round) oneFramePerTrigger("continuous " + std::to_string(round), 0);
    ASSERT_EQ(writeFloat("TriggerDelay", 100000.0), "");
    oneFramePerTrigger("delayed", 100);
    ASSERT_EQ(writeFloat("TriggerDelay", 0.0), "");
    // Switched Off while acquiring, the sensor free-runs again.
    ASSERT_EQ(writeString("TriggerMode", "Off"), "");
    EXPECT_GT(framesWithin(1000), 1);
    arv_camera_stop_acquisition(camera, nullptr);
    const long freeRunning = countOf("SetTriggerSoftware");

    ASSERT_EQ(writeString("TriggerMode", "On"), "");
    arv_camera_set_acquisition_mode(camera, ARV_ACQUISITION_MODE_SINGLE_FRAME, nullptr);
    for (int round = 0; round < 2; ++round) {
        arv_camera_start_acquisition(camera, nullptr);
        oneFramePerTrigger("single frame " + std::to_string(round), 0);
    }
    // Each single frame took exactly one capture of the sensor.
    EXPECT_EQ(countOf("SetTriggerSoftware"), freeRunning + 2);
}

}  // namespace
