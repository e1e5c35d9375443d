// The demo device's stream features and its streaming thread: it waits for a start, then sends synthetic
// frames until the stop.
#include "demo_streamer.h"

#include "synthetic_frame.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace demo {

namespace {

bool flag(CGevCamera& camera, const char* name) {
    std::int64_t value = 0;
    camera.getIntValue(name, &value);
    return value != 0;
}

}  // namespace

void declareStreamFeatures(CGevCamera& camera, std::uint16_t width, std::uint16_t height, double fps) {
    // Mono8 and Coord3D_ABC16 are the library's own entries.
    for (const char* format : {"Mono16", "RGB16", "Coord3D_ABC32f"}) camera.addPixelFormat(format);
    camera.setImageSize(width, height, 0);
    camera.addEnumEntry("AcquisitionMode", "SingleFrame", 2);
    camera.addFeature(GevEnumeration, "TriggerSelector", "AcquisitionControl", GevReadWrite, nullptr, 1);
    camera.addEnumEntry("TriggerSelector", "FrameStart", 0);
    camera.addFeature(GevEnumeration, "TriggerMode", "AcquisitionControl", GevReadWrite, nullptr, 1);
    camera.addEnumEntry("TriggerMode", "Off", 0);
    camera.addEnumEntry("TriggerMode", "On", 1);
    camera.addFeature(GevEnumeration, "TriggerSource", "AcquisitionControl", GevReadWrite, nullptr, 1);
    camera.addEnumEntry("TriggerSource", "Software", 0);
    // The rate frames leave at while acquiring; 0 means as fast as the link takes them.
    camera.addFeature(GevFloat, "AcquisitionFrameRate", "AcquisitionControl", GevReadWrite, nullptr, 1);
    camera.setFloatRange("AcquisitionFrameRate", 0.0F, 100000.0F);
    camera.setFloatValue("AcquisitionFrameRate", static_cast<float>(fps));
    camera.setNodeElement("AcquisitionFrameRate", "Unit", "Hz", false);
    // Properties clients expect of a camera; the synthetic frames do not depend on them.
    for (const char* name : {"SensorWidth", "SensorHeight"}) {
        camera.addFeature(GevInteger, name, "ImageFormatControl", GevReadOnly, nullptr, 1);
    }
    camera.setIntValue("SensorWidth", width);
    camera.setIntValue("SensorHeight", height);
    camera.addFeature(GevFloat, "ExposureTime", "AcquisitionControl", GevReadWrite, nullptr, 1);
    camera.setFloatRange("ExposureTime", 10.0F, 1000000.0F);
    camera.setFloatValue("ExposureTime", 10000.0F);
    camera.setNodeElement("ExposureTime", "Unit", "us", false);
    camera.addCategory("AnalogControl", "Root");
    camera.addFeature(GevFloat, "Gain", "AnalogControl", GevReadWrite, nullptr, 1);
    camera.setFloatRange("Gain", 0.0F, 24.0F);
    camera.setNodeElement("Gain", "Unit", "dB", false);
}

DemoStreamer::DemoStreamer(CGevCamera& camera) : camera_(camera) {}

DemoStreamer::~DemoStreamer() { stop(); }

void DemoStreamer::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.joinable()) return;
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
}

void DemoStreamer::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void DemoStreamer::featureWritten(const char* name) {
    const std::string feature = name == nullptr ? "" : name;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (feature == "AcquisitionStart") {
            acquiring_ = true;
        } else if (feature == "AcquisitionStop") {
            acquiring_ = false;
            triggers_ = 0;
        } else if (feature == "TriggerSoftware") {
            ++triggers_;
        } else if (feature != "ChunkModeActive" && feature != "ChunkEnable" && feature != "ChunkSelector") {
            return;
        }
    }
    updateChunkLayout();
    wake_.notify_all();
}

void DemoStreamer::clientGone() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        acquiring_ = false;
        triggers_ = 0;
    }
    wake_.notify_all();
}

void DemoStreamer::updateChunkLayout() {
    // The demo has one chunk, so ChunkEnable applies to it whatever the selector says.
    const bool on = flag(camera_, "ChunkModeActive") && flag(camera_, "ChunkEnable");
    std::lock_guard<std::mutex> lock(mutex_);
    if (on == temperatureOn_) return;
    temperatureOn_ = on;
    camera_.setChunkLayout(on ? 4 : 0, on ? 1 : 0, 0);
}

void DemoStreamer::run() {
    using Clock = std::chrono::steady_clock;
    auto due = Clock::now();
    std::uint32_t number = 0;
    for (;;) {
        bool triggered = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || acquiring_; });
            if (stopping_) return;
            // With TriggerMode On a frame waits for its TriggerSoftware.
            if (flag(camera_, "TriggerMode")) {
                wake_.wait(lock, [this] { return stopping_ || !acquiring_ || triggers_ > 0; });
                if (stopping_) return;
                if (!acquiring_) continue;
                --triggers_;
                triggered = true;
            }
        }
        float rate = 0.0F;
        camera_.getFloatValue("AcquisitionFrameRate", &rate);
        if (rate > 0.0F && !triggered) {
            const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
            due = std::max(due + period, Clock::now());
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_until(lock, due, [this] { return stopping_ || !acquiring_; });
            if (stopping_) return;
            if (!acquiring_) continue;
        }
        if (!sendOne(++number)) {
            // Refused (a size the client has not caught up with, a blocked link): try again shortly.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        framesSent_++;
        // SingleFrame (value 2, as the device declares it): one frame per AcquisitionStart.
        std::int64_t mode = 0;
        camera_.getIntValue("AcquisitionMode", &mode);
        if (mode == 2) {
            std::lock_guard<std::mutex> lock(mutex_);
            acquiring_ = false;
        }
    }
}

bool DemoStreamer::sendOne(std::uint32_t number) {
    std::int64_t code = 0;
    camera_.getIntValue("PixelFormat", &code);
    const std::string format = camera_.getPixelFormatName(static_cast<int>(code));
    const int width = camera_.getWidth(0);
    const int height = camera_.getHeight(0);
    if (format != patternOf_ || width != patternWidth_ || height != patternHeight_) {
        if (width <= 0 || height <= 0 ||
            !fillPattern(format, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), frame_)) {
            std::fprintf(stderr, "demo device: no synthetic frames for pixel format '%s'\n", format.c_str());
            return false;
        }
        patternOf_ = format;
        patternWidth_ = width;
        patternHeight_ = height;
    }
    stampFrameNumber(frame_, number);
    camera_.beginFrame(0);
    bool temperature = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        temperature = temperatureOn_;
    }
    if (temperature) {
        // A slowly drifting sensor temperature in degrees, big-endian as the chunk register declares it.
        const auto celsius = static_cast<std::uint32_t>(35 + (number / 50) % 10);
        const std::uint8_t bigEndian[4] = {static_cast<std::uint8_t>(celsius >> 24),
                                           static_cast<std::uint8_t>(celsius >> 16),
                                           static_cast<std::uint8_t>(celsius >> 8), static_cast<std::uint8_t>(celsius)};
        camera_.addChunkData(frame_.data(), bigEndian, 4, kTemperatureChunkId, 0);
    }
    camera_.addChunkData(frame_.data(), nullptr, static_cast<std::uint32_t>(frame_.size()), 0, 0);
    const int result = format.rfind("Coord3D_", 0) == 0
                           ? camera_.sendPointCloud(frame_.data(), std::int64_t{width} * height, 0)
                           : camera_.sendImage(frame_.data(), 0, 0);
    if (result != 0) {
        std::fprintf(stderr, "demo device: frame %u refused (code %d)\n", number, result);
        return false;
    }
    return true;
}

}  // namespace demo
