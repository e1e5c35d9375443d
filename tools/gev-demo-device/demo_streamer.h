// The streaming half of the demo device: once a client starts acquisition, synthetic frames of the current
// PixelFormat and image size go out on stream channel 0, as fast as the link takes them or at the rate of
// AcquisitionFrameRate, with the temperature chunk while the client has chunks on. SingleFrame mode sends one frame per
// start; with TriggerMode On a frame leaves for each TriggerSoftware.
#pragma once

#include "gev_camera.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace demo {

// The identifier under which the demo declares ChunkTemperature.
constexpr std::uint32_t kTemperatureChunkId = 0xFFFFF0;

// Declares what streaming needs beyond the demo's own tree: the pixel formats it has patterns for, the
// image size, SingleFrame acquisition, a software trigger, the frame rate (`fps`, 0: unlimited) and the
// sensor, exposure and gain properties clients expect (before startServer).
void declareStreamFeatures(CGevCamera& camera, std::uint16_t width, std::uint16_t height, double fps);

class DemoStreamer {
public:
    explicit DemoStreamer(CGevCamera& camera);
    ~DemoStreamer();
    DemoStreamer(const DemoStreamer&) = delete;
    DemoStreamer& operator=(const DemoStreamer&) = delete;

    void start();
    void stop();
    // Called from the device's write callback with the name of the feature a client wrote.
    void featureWritten(const char* name);
    // A client lost control: an acquisition it started ends.
    void clientGone();
    std::uint64_t framesSent() const { return framesSent_.load(); }

private:
    void run();
    bool sendOne(std::uint32_t number);
    void updateChunkLayout();

    CGevCamera& camera_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool acquiring_ = false;
    bool stopping_ = false;
    unsigned triggers_ = 0;
    bool temperatureOn_ = false;
    std::atomic<std::uint64_t> framesSent_{0};
    // The frame being built, on the streaming thread only; refilled when the format or size changes.
    std::vector<std::uint8_t> frame_;
    std::string patternOf_;
    int patternWidth_ = 0;
    int patternHeight_ = 0;
    std::thread thread_;
};

}  // namespace demo
