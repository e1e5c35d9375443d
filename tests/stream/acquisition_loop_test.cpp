// The acquisition loop on its own thread of a started bridge, driven as a client would: start and stop
// writes, SingleFrame, failed fetches, blank cycles, a format change mid-acquisition, the temperature chunk,
// an image size beyond the sensor's resolution, and shut-down while idle or running. The loop's pauses step
// a clock of the test's own instead of waiting.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/bridge_fixture.h"
#include "tavrion.h"

namespace {

using bridge_test::BridgeTest;
using bridge_test::waitUntil;
using Commands = std::vector<std::string>;

constexpr std::size_t kPixels = 64 * 48;  // the sample sensor's resolution and region of interest

// The loop's clock, moved on only by the loop's own pauses, and every pause the loop took.
std::mutex steppedMutex;
std::chrono::steady_clock::time_point steppedClock;
std::vector<std::uint32_t> steppedPauses;

std::chrono::steady_clock::time_point steppedNow() {
    std::lock_guard<std::mutex> lock(steppedMutex);
    return steppedClock;
}

// A pause steps the clock and returns at once; the yield only lets the test's thread in between, so that a
// loop that runs continuously does not take a core from it.
void steppedPause(std::uint32_t milliseconds) {
    {
        std::lock_guard<std::mutex> lock(steppedMutex);
        steppedClock += std::chrono::milliseconds(milliseconds);
        steppedPauses.push_back(milliseconds);
    }
    std::this_thread::yield();
}

std::vector<std::uint32_t> pausesTaken() {
    std::lock_guard<std::mutex> lock(steppedMutex);
    return steppedPauses;
}

class AcquisitionLoopTest : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        {
            std::lock_guard<std::mutex> lock(steppedMutex);
            steppedClock = {};
            steppedPauses.clear();
        }
        sensor().setCameraImageSource([](std::uint8_t* image, std::size_t pixels) {
            for (std::size_t i = 0; i < pixels; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 1);
        });
        ASSERT_NO_FATAL_FAILURE(connect());
        bridge->loopTime = {&steppedNow, &steppedPause};
        testing::internal::CaptureStderr();
        const bool started = bridge->startDeviceServer("", -1);
        testing::internal::GetCapturedStderr();
        ASSERT_TRUE(started);
    }

    // A client starts an acquisition in `mode` (1 Continuous, 2 SingleFrame).
    void startAcquisition(std::int64_t mode) {
        writeInt("AcquisitionMode", mode);
        camera->fireWrite("AcquisitionStart");
    }
    bool waitForFrames(std::size_t count) {
        return waitUntil([&] { return camera->frameCount() >= count; });
    }
    bool waitForStop() {
        return waitUntil([&] { return bridge->acquisitionState() == AcquisitionState::Idle; });
    }
    // A Continuous acquisition that the client stops once `condition` holds; returns standard error meanwhile.
    std::string runUntil(const std::function<bool()>& condition) {
        testing::internal::CaptureStderr();
        startAcquisition(1);
        EXPECT_TRUE(waitUntil(condition));
        camera->fireWrite("AcquisitionStop");
        EXPECT_TRUE(waitForStop());
        return testing::internal::GetCapturedStderr();
    }
    // One SingleFrame acquisition, waited for to its end.
    void singleFrame() {
        const std::size_t before = camera->frameCount();
        startAcquisition(2);
        ASSERT_TRUE(waitForFrames(before + 1));
        ASSERT_TRUE(waitForStop());
    }
    void enableTemperatureChunk() {
        writeInt("ChunkSelector", 0);
        writeInt("ChunkEnable", 1);
    }
    std::vector<std::uint8_t> pattern() {
        std::vector<std::uint8_t> bytes(kPixels);
        for (std::size_t i = 0; i < kPixels; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
        return bytes;
    }
    int sensorCalls(const std::string& prefix) {
        const std::vector<std::string> calls = sensor().calls();
        return static_cast<int>(std::count_if(calls.begin(), calls.end(),
                                              [&](const std::string& call) { return call.rfind(prefix, 0) == 0; }));
    }
};

TEST_F(AcquisitionLoopTest, SingleFrameSendsOneFrameThenStopsTheSensorAndTheNextStartSendsTheNext) {
    ASSERT_NO_FATAL_FAILURE(singleFrame());
    EXPECT_EQ(sensor().commands(), (Commands{"SetCameraMode=0", "SetAcquisitionStart=1", "SetAcquisitionStart=0"}));
    ASSERT_EQ(camera->frameCount(), 1u);
    EXPECT_EQ(camera->frames()[0].kind, "image");
    EXPECT_EQ(camera->callsNamed("sendImage"), (std::vector<std::string>{"sendImage(3072, 0)"}));
    EXPECT_TRUE(camera->callsNamed("addChunkData").empty());  // no chunk enabled: no chunk data at all
    EXPECT_EQ(bridge->acquisitionState(), AcquisitionState::Idle);

    ASSERT_NO_FATAL_FAILURE(singleFrame());
    EXPECT_EQ(camera->frameCount(), 2u);
    EXPECT_EQ(sensor().commands(), (Commands{"SetCameraMode=0", "SetAcquisitionStart=1", "SetAcquisitionStart=0",
                                             "SetAcquisitionStart=1", "SetAcquisitionStart=0"}));
    EXPECT_EQ(sensor().count("GetCameraImage " + std::to_string(kPixels)), 2);
}

TEST_F(AcquisitionLoopTest, AStopAfterAFrameEndsTheContinuousAcquisition) {
    startAcquisition(1);
    ASSERT_TRUE(waitForFrames(1));
    camera->fireWrite("AcquisitionStop");
    ASSERT_TRUE(waitForStop());
    EXPECT_EQ(sensor().commands().back(), "SetAcquisitionStart=0");
    EXPECT_EQ(sensor().count("WriteData SetAcquisitionStart=0"), 1);
    // Idle again: nothing is fetched or sent until the next start, which brings exactly its own frame.
    const std::size_t frames = camera->frameCount();
    const int fetches = sensorCalls("GetCameraImage");
    ASSERT_NO_FATAL_FAILURE(singleFrame());
    EXPECT_EQ(camera->frameCount(), frames + 1);
    EXPECT_EQ(sensorCalls("GetCameraImage"), fetches + 1);
}

TEST_F(AcquisitionLoopTest, AClientDisconnectStopsTheAcquisition) {
    startAcquisition(1);
    ASSERT_TRUE(waitForFrames(1));
    testing::internal::CaptureStderr();
    camera->fireConnection(false);
    ASSERT_TRUE(waitForStop());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\nClient is disconnected\n");
    EXPECT_EQ(sensor().commands().back(), "SetAcquisitionStart=0");
}

TEST_F(AcquisitionLoopTest, AStopRequestMadeWhileIdleIsClearedByTheNextStart) {
    testing::internal::CaptureStderr();
    camera->fireConnection(false);  // a client leaves while nothing runs
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(bridge->isAcquisitionActive());
    ASSERT_NO_FATAL_FAILURE(singleFrame());
    EXPECT_EQ(camera->frameCount(), 1u);
}

TEST_F(AcquisitionLoopTest, TheLastCommandWinsAfterStopStartStop) {
    for (int round = 0; round < 5; ++round) {
        startAcquisition(1);
        ASSERT_TRUE(waitForFrames(camera->frameCount() + 1));
        camera->fireWrite("AcquisitionStop");
        camera->fireWrite("AcquisitionStart");
        camera->fireWrite("AcquisitionStop");
        ASSERT_TRUE(waitForStop());
        EXPECT_FALSE(bridge->isAcquisitionActive());
        EXPECT_EQ(sensor().commands().back(), "SetAcquisitionStart=0");
        // Nothing runs on after the stop: the next start brings exactly its own frame.
        const std::size_t frames = camera->frameCount();
        const int fetches = sensorCalls("GetCameraImage");
        ASSERT_NO_FATAL_FAILURE(singleFrame());
        EXPECT_EQ(camera->frameCount(), frames + 1);
        EXPECT_EQ(sensorCalls("GetCameraImage"), fetches + 1);
    }
    EXPECT_EQ(sensor().count("WriteData SetAcquisitionStart=1"), sensor().count("WriteData SetAcquisitionStart=0"));
}

TEST_F(AcquisitionLoopTest, AFrameTheDeviceRefusesEndsTheAcquisitionWithAnError) {
    startAcquisition(1);
    ASSERT_TRUE(waitForFrames(1));
    testing::internal::CaptureStderr();
    camera->setIntValue("PixelFormat", RecordingCamera::kCoord3dAbc32f);  // the device describes frames anew
    EXPECT_TRUE(waitUntil([&] { return !bridge->isAcquisitionActive(); }));
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_NE(console.find("ERROR: The device refused a Mono8 frame"), std::string::npos) << console;
    EXPECT_EQ(camera->refusedFrameCount(), 1u);
    EXPECT_EQ(sensor().commands().back(), "SetAcquisitionStart=0");
}

TEST_F(AcquisitionLoopTest, AFormatWithoutAFrameRecipeEndsTheAcquisitionWithAnErrorAndNoSensorRequest) {
    {
        std::lock_guard<std::mutex> lock(bridge->stateMutex);
        bridge->pixelFormat = "Mono10";
    }
    testing::internal::CaptureStderr();
    startAcquisition(1);
    EXPECT_TRUE(waitUntil([&] { return !bridge->isAcquisitionActive(); }));
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_NE(console.find("ERROR: Frames in the pixel format Mono10 cannot be built"), std::string::npos) << console;
    EXPECT_EQ(camera->frameCount(), 0u);
    EXPECT_EQ(sensor().commands(), (Commands{"SetCameraMode=0", "SetAcquisitionStart=1", "SetAcquisitionStart=0"}));
    EXPECT_EQ(sensorCalls("GetPointCloud") + sensorCalls("GetCameraImage"), 0);
}

TEST_F(AcquisitionLoopTest, AStartWrittenWhileRunningRestartsNothing) {
    startAcquisition(1);
    ASSERT_TRUE(waitForFrames(1));
    camera->fireWrite("AcquisitionStart");
    ASSERT_TRUE(waitForFrames(camera->frameCount() + 2));
    EXPECT_EQ(sensor().count("WriteData SetAcquisitionStart=1"), 1);
    camera->fireWrite("AcquisitionStop");
    ASSERT_TRUE(waitForStop());
    EXPECT_EQ(sensor().count("WriteData SetAcquisitionStart=0"), 1);
}

TEST_F(AcquisitionLoopTest, AStopBeforeAnyFrameStopsTheSensorWithoutAFrame) {
    writeInt("PixelFormat", RecordingCamera::kCoord3dAbc32f);
    sensor().setFetchResult(TAVRION_ERR_NOT_READY, 0);
    const std::string console = runUntil([&] { return sensorCalls("GetPointCloud") >= 2; });
    EXPECT_EQ(camera->frameCount(), 0u);
    EXPECT_TRUE(camera->callsNamed("beginFrame").empty());
    const Commands commands = sensor().commands();
    ASSERT_GE(commands.size(), 5u);
    EXPECT_EQ(commands[1], "SetCameraMode=1");
    EXPECT_EQ(commands[2], "SetAcquisitionStart=1");
    EXPECT_EQ(commands[3], "SetTriggerSoftware");
    EXPECT_EQ(commands.back(), "SetAcquisitionStart=0");
    EXPECT_NE(console.find("WARNING: Image is lost\n"), std::string::npos);
    EXPECT_EQ(console.find("3D image is lost"), std::string::npos);  // that report follows the trace switches
}

// Continuous point clouds: the next frame's trigger and fetch go out while the current frame is being sent, yet
// the sensor sees each frame's commands in the same order as one frame after the other, and a frame triggered
// ahead is fetched before the sensor is told to stop. (Status polls are left out: the watchdog polls too.)
TEST_F(AcquisitionLoopTest, ContinuousPointCloudsFetchTheNextFrameWhileSendingInTheSameCommandOrder) {
    enableTemperatureChunk();
    writeInt("PixelFormat", RecordingCamera::kCoord3dAbc32f);
    static std::atomic<int> fetches;
    fetches = 0;
    sensor().setPointCloudSource([](double* points, std::uint16_t*, std::size_t pixels) {
        const double number = ++fetches;
        for (std::size_t i = 0; i < 3 * pixels; ++i) points[i] = number;
    });
    sensor().clearCalls();
    std::atomic<int> overlapped{0};
    camera->setSendHook([&] {
        const int next = static_cast<int>(camera->frameCount()) + 2;
        if (waitUntil([&] { return sensor().count("WriteData SetTriggerSoftware") >= next; },
                      std::chrono::milliseconds(2000)))
            ++overlapped;
    });
    runUntil([&] { return camera->frameCount() >= 4; });
    camera->setSendHook(nullptr);

    const int sent = static_cast<int>(camera->frameCount());
    EXPECT_GE(overlapped, sent - 1);  // the stop may come before the last frame's next trigger
    const std::string fetch = "GetPointCloud " + std::to_string(26 * kPixels);
    Commands calls;
    for (const std::string& call : sensor().calls())
        if (call != "GetSensorStatus") calls.push_back(call);
    Commands expected{"WriteData SetAcquisitionStart=1"};
    for (int frame = 0; frame < sent; ++frame)
        expected.insert(expected.end(), {"WriteData SetTriggerSoftware", fetch, "ReadData GetTemperature"});
    if (calls.size() == expected.size() + 3) {  // the frame triggered ahead, fetched and dropped at the stop
        expected.insert(expected.end(), {"WriteData SetTriggerSoftware", fetch});
    }
    expected.push_back("WriteData SetAcquisitionStart=0");
    EXPECT_EQ(calls, expected);
    // Each frame is built from its own fetch, never from the one under way.
    const std::vector<RecordedFrame> frames = camera->frames();
    for (std::size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(frames[i].image.size(), 12 * kPixels);
        float first = 0;
        float last = 0;
        std::memcpy(&first, frames[i].image.data(), sizeof first);
        std::memcpy(&last, frames[i].image.data() + 12 * kPixels - sizeof last, sizeof last);
        EXPECT_EQ(first, static_cast<float>(i + 1)) << i;
        EXPECT_EQ(last, static_cast<float>(i + 1)) << i;
    }

    // SingleFrame never fetches ahead: one trigger per start.
    sensor().clearCalls();
    ASSERT_NO_FATAL_FAILURE(singleFrame());
    EXPECT_EQ(sensor().count("WriteData SetTriggerSoftware"), 1);
    EXPECT_EQ(sensorCalls("GetPointCloud"), 1);
}

TEST_F(AcquisitionLoopTest, AFailedCameraImageIsReportedAlwaysAndSendsNothing) {
    sensor().setFetchResult(0, TAVRION_ERR_TIMEOUT);
    const std::string console = runUntil([&] { return sensorCalls("GetCameraImage") >= 3; });
    EXPECT_EQ(camera->frameCount(), 0u);
    EXPECT_EQ(sensor().commands(), (Commands{"SetCameraMode=0", "SetAcquisitionStart=1", "SetAcquisitionStart=0"}));
    EXPECT_EQ(console.rfind("WARNING: Image is lost\n", 0), 0u);
    EXPECT_EQ(console.find("2D image is lost"), std::string::npos);

    // With the trace on, each loss is followed by its report. The paces are stepped, so the first run may have
    // fetched many more times than it waited for: the second waits for fetches of its own.
    bridge->enableConsoleLog();
    const int before = sensorCalls("GetCameraImage");
    EXPECT_NE(
        runUntil([&] {
            return sensorCalls("GetCameraImage") >= before + 3;
        }).find("WARNING: Image is lost\nWARNING: 2D image is lost. Error code " + std::to_string(TAVRION_ERR_TIMEOUT)),
        std::string::npos);
}

TEST_F(AcquisitionLoopTest, RepeatedLossesArePacedAndTheirWarningsBounded) {
    sensor().setFetchResult(0, TAVRION_ERR_TIMEOUT);
    const std::string console = runUntil([&] { return sensorCalls("GetCameraImage") >= 10; });
    const int fetches = sensorCalls("GetCameraImage");
    // A 10 ms pause after each failure, not a spin; the stop may come between the last failure and its pause.
    const std::vector<std::uint32_t> pauses = pausesTaken();
    EXPECT_GE(static_cast<int>(pauses.size()), fetches - 1);
    EXPECT_LE(static_cast<int>(pauses.size()), fetches);
    EXPECT_EQ(std::count(pauses.begin(), pauses.end(), 10u), static_cast<std::ptrdiff_t>(pauses.size()));
    std::size_t lines = 0;
    for (std::size_t at = console.find("Image is lost"); at != std::string::npos;
         at = console.find("Image is lost", at + 1))
        ++lines;
    EXPECT_EQ(lines, 3u) << console;
    EXPECT_NE(console.find("WARNING: " + std::to_string(fetches) + " images in a row were lost\n"), std::string::npos)
        << console;
}

TEST_F(AcquisitionLoopTest, ACycleWithoutDataSendsAFrameOfZerosWithoutFetching) {
    enableTemperatureChunk();
    ASSERT_NO_FATAL_FAILURE(singleFrame());  // a frame with content first, so that zeros are not left-overs
    ASSERT_EQ(camera->frames()[0].image, pattern());

    sensor().scriptStatus({{0, TAVRION_STATUS_LINK_ALIVE | TAVRION_STATUS_DATABASE_LOADED | TAVRION_STATUS_NO_DATA}});
    ASSERT_NO_FATAL_FAILURE(singleFrame());
    EXPECT_EQ(camera->frames()[1].image, std::vector<std::uint8_t>(kPixels, 0));
    EXPECT_EQ(sensorCalls("GetCameraImage"), 1);
}

TEST_F(AcquisitionLoopTest, TheFormatCannotChangeUntilTheAcquisitionStopped) {
    startAcquisition(1);
    ASSERT_TRUE(waitForFrames(1));
    EXPECT_FALSE(writeInt("PixelFormat", RecordingCamera::kCoord3dAbc32f));
    ASSERT_TRUE(waitForFrames(camera->frameCount() + 2));
    EXPECT_EQ(camera->refusedFrameCount(), 0u);
    camera->fireWrite("AcquisitionStop");
    ASSERT_TRUE(waitForStop());
    for (const RecordedFrame& frame : camera->frames()) EXPECT_EQ(frame.kind, "image");
    EXPECT_EQ(sensorCalls("GetPointCloud"), 0);

    ASSERT_TRUE(writeInt("PixelFormat", RecordingCamera::kCoord3dAbc32f));
    ASSERT_NO_FATAL_FAILURE(singleFrame());
    const RecordedFrame last = camera->frames().back();
    EXPECT_EQ(last.kind, "pointcloud");
    EXPECT_EQ(last.count, static_cast<std::int64_t>(kPixels));
}

TEST_F(AcquisitionLoopTest, PointCloudFormatsAreConvertedAndSentWithTheirPixelSize) {
    enableTemperatureChunk();
    sensor().setPointCloudSource([](double* points, std::uint16_t*, std::size_t pixels) {
        for (std::size_t i = 0; i < pixels; ++i) {
            points[3 * i] = 1.5;
            points[3 * i + 1] = -2.25;
            points[3 * i + 2] = 300.125;
        }
    });
    struct Case {
        std::int64_t format;
        std::string kind;
        std::size_t bytesPerPixel;
        std::string sent;
    };
    const Case cases[] = {
        {RecordingCamera::kCoord3dAbc32f, "pointcloud", 12, "sendPointCloud(3072, 0)"},
        {RecordingCamera::kCoord3dAbc16, "pointcloud", 6, "sendPointCloud(3072, 0)"},
        {RecordingCamera::kRgb16, "image", 6, "sendImage(18432, 0)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sent + " " + std::to_string(c.bytesPerPixel));
        writeInt("PixelFormat", c.format);
        camera->clearCalls();
        ASSERT_NO_FATAL_FAILURE(singleFrame());
        const RecordedFrame frame = camera->frames().back();
        EXPECT_EQ(frame.kind, c.kind);
        EXPECT_EQ(frame.image.size(), kPixels * c.bytesPerPixel);
        EXPECT_EQ(camera->callsNamed(c.kind == "image" ? "sendImage" : "sendPointCloud"),
                  std::vector<std::string>{c.sent});
        if (c.bytesPerPixel == 12) {
            float last[3];
            std::memcpy(last, frame.image.data() + (kPixels - 1) * 12, sizeof last);
            EXPECT_EQ(last[0], 1.5f);
            EXPECT_EQ(last[1], -2.25f);
            EXPECT_EQ(last[2], 300.125f);
        }
    }
    EXPECT_EQ(sensor().count("WriteData SetTriggerSoftware"), 3);
}

TEST_F(AcquisitionLoopTest, TheFirstMono16FrameAfterAFormatChangeIsTriggeredAndFetchedAnew) {
    enableTemperatureChunk();
    static std::atomic<int> fetches;
    fetches = 0;
    sensor().setPointCloudSource([](double* points, std::uint16_t* mono, std::size_t pixels) {
        ++fetches;
        for (std::size_t i = 0; i < pixels; ++i) {
            points[3 * i] = points[3 * i + 1] = points[3 * i + 2] = 1.0;
            mono[i] = static_cast<std::uint16_t>(0x0100 * fetches + 1);
        }
    });
    writeInt("PixelFormat", RecordingCamera::kCoord3dAbc32f);
    ASSERT_NO_FATAL_FAILURE(singleFrame());
    writeInt("PixelFormat", RecordingCamera::kMono16);
    ASSERT_NO_FATAL_FAILURE(singleFrame());

    EXPECT_EQ(sensor().count("WriteData SetTriggerSoftware"), 2);
    EXPECT_EQ(sensorCalls("GetPointCloud"), 2);
    const RecordedFrame frame = camera->frames().back();
    EXPECT_EQ(frame.kind, "image");
    ASSERT_EQ(frame.image.size(), 2 * kPixels);
    std::uint16_t first = 0;
    std::memcpy(&first, frame.image.data(), sizeof first);
    EXPECT_EQ(first, 0x0201);  // from the second fetch, not the first
}

TEST_F(AcquisitionLoopTest, TheTemperatureChunkCarriesTheSensorTemperatureBigEndian) {
    enableTemperatureChunk();
    ASSERT_NO_FATAL_FAILURE(singleFrame());
    RecordedFrame frame = camera->frames().back();
    EXPECT_EQ(frame.chunks, (std::vector<std::vector<std::uint8_t>>{{0x00, 0x00, 0x00, 0x23}}));
    EXPECT_EQ(frame.chunkIds, std::vector<std::uint32_t>{0xFFFFF0});
    EXPECT_EQ(frame.image, pattern());
    EXPECT_EQ(camera->callsNamed("addChunkData"),
              (std::vector<std::string>{"addChunkData(data, 4, 16777200, 0)", "addChunkData(null, 3072, 0, 0)"}));
    EXPECT_EQ(bridge->sensorTemperature, 35);

    // The reply is read like atoi; a failed read keeps the last temperature.
    sensor().setReply("GetTemperature", "  297C");
    ASSERT_NO_FATAL_FAILURE(singleFrame());
    EXPECT_EQ(camera->frames().back().chunks[0], (std::vector<std::uint8_t>{0x00, 0x00, 0x01, 0x29}));
    sensor().scriptResult("GetTemperature", {TAVRION_ERR_TIMEOUT});
    ASSERT_NO_FATAL_FAILURE(singleFrame());
    EXPECT_EQ(camera->frames().back().chunks[0], (std::vector<std::uint8_t>{0x00, 0x00, 0x01, 0x29}));
    EXPECT_EQ(bridge->sensorTemperature, 297);

    // Switched off, the frame carries no chunk data at all.
    writeInt("ChunkEnable", 0);
    camera->clearCalls();
    ASSERT_NO_FATAL_FAILURE(singleFrame());
    EXPECT_TRUE(camera->callsNamed("addChunkData").empty());
}

TEST_F(AcquisitionLoopTest, AnImageSizeBeyondTheSensorResolutionIsSkippedWithAWarning) {
    camera->setImageSize(65, 48, 0);
    testing::internal::CaptureStderr();
    startAcquisition(2);
    EXPECT_TRUE(waitForStop());
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_NE(console.find("WARNING: The image size 65 x 48 exceeds the sensor resolution"), std::string::npos);
    EXPECT_EQ(camera->frameCount(), 0u);
    EXPECT_TRUE(camera->callsNamed("sendImage").empty());
}

TEST_F(AcquisitionLoopTest, ShutDownWhileIdleEndsTheLoopWithoutACommand) {
    bridge.reset();
    EXPECT_EQ(sensor().commands(), Commands{"SetCameraMode=0"});
    const std::vector<std::string> log = RecordingCamera::globalLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "stopServer()"), log.end());
    EXPECT_EQ(log.back(), "~CGevCamera()");
}

TEST_F(AcquisitionLoopTest, ShutDownWhileRunningEndsTheLoopAndStopsTheSensor) {
    startAcquisition(1);
    ASSERT_TRUE(waitForFrames(1));
    bridge.reset();
    EXPECT_EQ(sensor().count("WriteData SetAcquisitionStart=1"), 1);
    EXPECT_EQ(sensor().commands().back(), "SetAcquisitionStart=0");
    EXPECT_EQ(RecordingCamera::globalLog().back(), "~CGevCamera()");
}

TEST_F(BridgeTest, WithoutImageBuffersEveryStartIsUndoneAndReported) {
    // A sensor that reports no pixels leaves the loop without buffers.
    ASSERT_NO_FATAL_FAILURE(
        connect(replaceFirst(sampleDescriptor(), "<pixel_x_max>64</pixel_x_max>", "<pixel_x_max>0</pixel_x_max>")));
    testing::internal::CaptureStderr();
    ASSERT_TRUE(bridge->startDeviceServer("", -1));
    camera->fireWrite("AcquisitionStart");
    EXPECT_TRUE(waitUntil([&] { return bridge->acquisitionState() == AcquisitionState::Idle; }));
    bridge.reset();
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_NE(console.find("cannot be streamed"), std::string::npos) << console;
    EXPECT_NE(console.find("WARNING: The acquisition cannot start"), std::string::npos) << console;
    EXPECT_EQ(sensor().count("WriteData SetAcquisitionStart=1"), 0);
}

}  // namespace
