// A bridge built on the test doubles: the recording camera, the scripted sensor answering with the sample
// descriptor, and a hand-stepped millisecond clock. Shared by the tests of the device, register and stream
// code, which all start from a connected sensor.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "main_class.h"
#include "recording_camera.h"
#include "sample_descriptor.h"
#include "scripted_sensor.h"

namespace bridge_test {

// The clock the bridge reads through its tick source; tests move it by hand.
inline std::atomic<std::uint32_t> fakeNow{100000};
inline std::uint32_t fakeTick() { return fakeNow.load(); }

// Polls `condition` until it holds or `limit` has passed; returns the last answer.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class BridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ScriptedSensor::instance().reset();
        RecordingCamera::resetGlobalLog();
        fakeNow = 100000;
    }

    void TearDown() override { bridge.reset(); }

    static ScriptedSensor& sensor() { return ScriptedSensor::instance(); }

    // A new bridge, connected to the scripted sensor that describes itself with `descriptor`.
    void connect(const std::string& descriptor = sampleDescriptor(), const std::string& userName = "") {
        sensor().setReply("GetXmlDescriptor", descriptor);
        bridge = std::make_unique<CMainClass>();
        camera = RecordingCamera::last();
        ASSERT_NE(camera, nullptr);
        bridge->tickSource = &fakeTick;
        ASSERT_TRUE(bridge->connectSensor("127.0.0.1", userName));
    }

    // The device state of a server start whose server refuses to come online: everything declared and
    // reset, but no worker thread, so the callbacks can be driven without an acquisition running.
    void connectOffline() {
        connect();
        camera->setStartResult(1);
        testing::internal::CaptureStderr();
        const bool started = bridge->startDeviceServer("", -1);
        testing::internal::GetCapturedStderr();
        ASSERT_FALSE(started);
        camera->clearCalls();
    }

    // A client's write, checked and undone as the device library does; false: answered with an error.
    bool writeInt(const std::string& feature, std::int64_t value) { return camera->clientWriteInt(feature, value); }
    bool writeFloat(const std::string& feature, float value) { return camera->clientWriteFloat(feature, value); }
    bool writeString(const std::string& feature, const std::string& value) {
        return camera->clientWriteString(feature, value);
    }

    std::unique_ptr<CMainClass> bridge;
    RecordingCamera* camera = nullptr;
};

}  // namespace bridge_test
