// The emulated sensor behind the network front end: settings, acquisition state, frames, temperature, status,
// database and the injected faults. Every operation is safe to call from several connection threads at once;
// frames are handed out as shared immutable buffers so that no lock is held while they are sent.
//
// A point cloud is rendered once per change of the settings that shape it (exposure, gain, LED power) and
// served again for every trigger after that, so that a trigger answers at the speed of the connection and
// the emulator is never what limits a measurement of the bridge.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "emulator_config.h"
#include "scene.h"
#include "sensor_settings.h"

namespace emulator {

struct RenderedCloud {
    std::vector<double> xyz;
    std::vector<std::uint16_t> mono;
};

struct CloudFrame {
    std::uint64_t index = 0;  // 1 for the first trigger
    std::shared_ptr<const RenderedCloud> cloud;
};

struct CameraImage {
    std::uint64_t index = 0;
    std::vector<std::uint8_t> pixels;
};

class SensorModel {
public:
    explicit SensorModel(const EmulatorConfig& config);

    // The failure code configured for this command text (whole text first, then its name before '='), if any.
    std::optional<std::int32_t> injectedFailure(const std::string& text) const;

    // A command text: settings, "SetAcquisitionStart=0/1", "SetTriggerSoftware", and the database commands,
    // which the sensor acknowledges (the database folder lives on the computer).
    std::int32_t command(const std::string& text);
    // "GetXmlDescriptor" or "GetTemperature".
    std::int32_t query(const std::string& text, std::string& reply);
    // The sensor's own status bits: TAVRION_STATUS_NO_DATA on every Nth read when so configured.
    std::int32_t status(std::int32_t& word);
    // The point cloud of the last trigger; waits out the trigger-to-data time first. TAVRION_ERR_NOT_READY
    // unless acquisition runs and a trigger came since it started.
    std::int32_t pointCloud(std::shared_ptr<const CloudFrame>& frame);
    // Takes back a frame from pointCloud once it has been sent.
    void returnFrame(std::shared_ptr<const CloudFrame>& frame);
    // A fresh 2D camera image.
    std::int32_t cameraImage(std::shared_ptr<const CameraImage>& image);
    // Up to `maxLength` database bytes from `offset`; `delay` is how long the sensor takes to hand them out.
    std::int32_t databaseChunk(std::uint32_t offset, std::uint32_t maxLength, std::uint32_t& total,
                               std::vector<std::uint8_t>& chunk, std::chrono::milliseconds& delay) const;

    // How many point clouds were rendered so far.
    std::uint64_t renderCount();

    std::uint32_t width() const { return config_.width; }
    std::uint32_t height() const { return config_.height; }
    const std::string& serialNumber() const { return config_.serialNumber; }

private:
    std::int32_t trigger();

    const EmulatorConfig config_;
    const Scene scene_;
    const std::vector<std::uint8_t> database_;

    std::mutex mutex_;  // guards everything below
    SensorSettings settings_;
    bool acquiring_ = false;
    std::uint64_t frameCount_ = 0;
    std::uint64_t imageCount_ = 0;
    std::uint64_t statusReads_ = 0;
    std::uint64_t temperatureReads_ = 0;
    std::shared_ptr<const CloudFrame> frame_;        // null until a trigger in this acquisition
    std::shared_ptr<const RenderedCloud> rendered_;  // null until the first trigger
    double renderedBrightness_ = 0;
    std::uint64_t renders_ = 0;
    std::chrono::steady_clock::time_point frameReadyAt_;
    std::mutex renderMutex_;  // one trigger at a time; a render runs outside the state lock
};

}  // namespace emulator
