// The bridge object's construction, destruction order, interface list, watchdog and client presence.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "main_class.h"
#include "recording_camera.h"
#include "sample_descriptor.h"
#include "scripted_sensor.h"
#include "tavrion.h"

namespace {

using Lines = std::vector<std::string>;

class BridgeLifecycle : public testing::Test {
protected:
    void SetUp() override {
        ScriptedSensor::instance().reset();
        ScriptedSensor::instance().setReply("GetXmlDescriptor", sampleDescriptor());
        RecordingCamera::resetGlobalLog();
    }

    // A bridge that is connected to the scripted sensor and serving (both worker threads running).
    std::unique_ptr<CMainClass> servingBridge() {
        auto bridge = std::make_unique<CMainClass>();
        EXPECT_TRUE(bridge->connectSensor("127.0.0.1", ""));
        EXPECT_TRUE(bridge->startDeviceServer("", -1));
        return bridge;
    }

    template <typename Condition>
    static bool waitFor(Condition condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
};

TEST_F(BridgeLifecycle, ConstructionConfiguresTheCameraInOrder) {
    CMainClass bridge;
    EXPECT_EQ(
        RecordingCamera::last()->calls(),
        (Lines{"setServerOptionD(1)", "setServerOptionA(1)", "setServerOptionE(1, 0)",
               "setServerTimeouts(10000, 10000)", "setReadCallback()", "setWriteCallback()", "setConnectionCallback()",
               "setActionCallback()", "setServerOptionB(1)", "setServerOptionC(1, 0)"}));
    EXPECT_FALSE(bridge.isSensorLost());
    EXPECT_EQ(bridge.acquisitionState(), AcquisitionState::Idle);
    EXPECT_EQ(bridge.sensorHandle, nullptr);
}

TEST_F(BridgeLifecycle, InterfaceListIsCollectedAndPrintedWithItsIndex) {
    CMainClass bridge;
    RecordingCamera::last()->setInterfaces({"127.0.0.1", "192.168.1.20"});
    bridge.collectInterfaceAddresses();
    EXPECT_EQ(bridge.interfaceAddresses, (Lines{"127.0.0.1", "192.168.1.20"}));
    testing::internal::CaptureStderr();
    bridge.printInterfaceList();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Interface 0  IP: 127.0.0.1\nInterface 1  IP: 192.168.1.20\n");
}

TEST_F(BridgeLifecycle, NoInterfacesPrintNothing) {
    CMainClass bridge;
    bridge.collectInterfaceAddresses();
    testing::internal::CaptureStderr();
    bridge.printInterfaceList();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(BridgeLifecycle, DestructionStopsServerJoinsThreadsDisconnectsThenReleasesCamera) {
    auto bridge = servingBridge();
    ASSERT_TRUE(waitFor([] { return ScriptedSensor::instance().count("GetSensorStatus") >= 2; }));
    const auto started = std::chrono::steady_clock::now();
    bridge.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));

    const Lines log = RecordingCamera::globalLog();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "stopServer()");
    EXPECT_EQ(log.back(), "~CGevCamera()");
    const Lines calls = ScriptedSensor::instance().calls();
    EXPECT_EQ(calls.back(), "Disconnect");
    // No acquisition ever started, so the loop was released by the event without a sensor command.
    for (const std::string& command : ScriptedSensor::instance().commands()) {
        EXPECT_EQ(command.find("SetAcquisitionStart"), std::string::npos) << command;
    }
}

TEST_F(BridgeLifecycle, WatchdogKeepsRunningWhileBitZeroIsSetAndReportsALostLink) {
    ScriptedSensor::instance().scriptStatus({{0, 3}, {0, 3}, {0, 1 | 8}, {-101, 0}, {0, 2}});
    auto bridge = std::make_unique<CMainClass>();
    bridge->enableConsoleLog();
    ASSERT_TRUE(bridge->connectSensor("127.0.0.1", ""));
    testing::internal::CaptureStderr();
    ASSERT_TRUE(bridge->startDeviceServer("", -1));
    ASSERT_TRUE(waitFor([&] { return bridge->isSensorLost(); }));
    const std::string err = testing::internal::GetCapturedStderr();
    // The failed read keeps the previous word (bit 0 set); only the word without bit 0 ends the watchdog.
    EXPECT_NE(err.find("WARNING: Failed GetSensorStatus. Error code -101\n"), std::string::npos) << err;
    EXPECT_NE(err.find("Error: Connection to Corvastrum 3D Sensor is lost\n"), std::string::npos) << err;
    bridge.reset();  // joins the finished watchdog without blocking
}

TEST_F(BridgeLifecycle, FirstStatusReadFailingWithAZeroWordIsALostLink) {
    ScriptedSensor::instance().scriptStatus({{0, 3}, {-102, 0}});
    auto bridge = std::make_unique<CMainClass>();
    ASSERT_TRUE(bridge->connectSensor("127.0.0.1", ""));
    testing::internal::CaptureStderr();
    sensorWatchdog(bridge.get());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Connection to Corvastrum 3D Sensor is lost\n");
    EXPECT_TRUE(bridge->isSensorLost());
}

TEST_F(BridgeLifecycle, ClientDisconnectTakesBackTheStartAndBothChangesArePrinted) {
    CMainClass bridge;
    testing::internal::CaptureStderr();
    RecordingCamera::last()->fireConnection(true);
    bridge.requestAcquisitionStart();
    EXPECT_TRUE(bridge.isAcquisitionActive());
    RecordingCamera::last()->fireConnection(false);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\nClient is connected\n\nClient is disconnected\n");
    EXPECT_FALSE(bridge.isAcquisitionActive());
}

TEST_F(BridgeLifecycle, TraceMessagesFromManyThreadsStayWhole) {
    CMainClass bridge;
    bridge.enableConsoleLog();
    testing::internal::CaptureStderr();
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&bridge, t] {
            for (int i = 0; i < 200; ++i) bridge.trace(std::string(50, static_cast<char>('a' + t)) + "\n");
        });
    }
    for (std::thread& writer : writers) writer.join();
    std::istringstream lines(testing::internal::GetCapturedStderr());
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        ASSERT_EQ(line.size(), 50u);
        EXPECT_EQ(line.find_first_not_of(line[0]), std::string::npos) << line;
    }
    EXPECT_EQ(count, 800);
}

}  // namespace
