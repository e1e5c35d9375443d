// The emulated sensor's behaviour; see sensor_model.h.
#include "sensor_model.h"

#include <cmath>
#include <thread>

#include "database_format.h"
#include "tavrion.h"

namespace emulator {
namespace {

SceneRanges rangesOf(const SensorSettings& settings) {
    return {settings.workingRangeZStart(), settings.measuringRangeX(), settings.measuringRangeY(),
            settings.measuringRangeZ()};
}

double brightnessOf(const SensorSettings& settings) {
    return Scene::brightness(settings.exposureUs(), settings.gain(), settings.ledPower());
}

}  // namespace

SensorModel::SensorModel(const EmulatorConfig& config)
    : config_(config),
      scene_(config.width, config.height, rangesOf(SensorSettings(config.serialNumber, config.width, config.height)),
             config.seed),
      database_(sensorlink::buildDatabase(config.serialNumber, config.seed, config.databaseBytes)),
      settings_(config.serialNumber, config.width, config.height) {}

std::optional<std::int32_t> SensorModel::injectedFailure(const std::string& text) const {
    auto found = config_.failures.find(text);
    if (found == config_.failures.end()) found = config_.failures.find(text.substr(0, text.find('=')));
    if (found == config_.failures.end()) return std::nullopt;
    return found->second;
}

std::int32_t SensorModel::command(const std::string& text) {
    const std::size_t equals = text.find('=');
    const std::string name = text.substr(0, equals);
    std::optional<std::string> value;
    if (equals != std::string::npos) value = text.substr(equals + 1);

    if (name == "SetTriggerSoftware") return value ? TAVRION_ERR_VALUE_REFUSED : trigger();
    if (name == "SetLoadSdb" || name == "SetLoadSdbFromSensor") return value ? TAVRION_ERR_VALUE_REFUSED : TAVRION_OK;
    if (name == "SetSdbPath") return value && !value->empty() ? TAVRION_OK : TAVRION_ERR_VALUE_REFUSED;

    std::lock_guard lock(mutex_);
    if (name == "SetAcquisitionStart") {
        if (value != "0" && value != "1") return TAVRION_ERR_VALUE_REFUSED;
        const bool start = *value == "1";
        // A new acquisition starts without data; the first trigger brings it.
        if (start != acquiring_) frame_.reset();
        acquiring_ = start;
        return TAVRION_OK;
    }
    return settings_.apply(name, value);
}

std::int32_t SensorModel::trigger() {
    std::lock_guard render(renderMutex_);
    const auto triggeredAt = std::chrono::steady_clock::now();
    auto frame = std::make_shared<CloudFrame>();
    double brightness = 0;
    {
        std::lock_guard lock(mutex_);
        if (!acquiring_) return TAVRION_ERR_NOT_READY;
        brightness = brightnessOf(settings_);
        frame->index = ++frameCount_;
        if (rendered_ && renderedBrightness_ == brightness) frame->cloud = rendered_;
    }
    if (!frame->cloud) {
        // The noise of the cloud is that of the frame that rendered it, so the same commands give the same bytes.
        auto cloud = std::make_shared<RenderedCloud>();
        cloud->xyz.resize(std::size_t{3} * scene_.pixelCount());
        cloud->mono.resize(scene_.pixelCount());
        scene_.renderCloud(frame->index, brightness, cloud->xyz.data(), cloud->mono.data());
        frame->cloud = std::move(cloud);
    }
    std::lock_guard lock(mutex_);
    if (frame->cloud != rendered_) {
        rendered_ = frame->cloud;
        renderedBrightness_ = brightness;
        ++renders_;
    }
    frameReadyAt_ = triggeredAt + std::chrono::milliseconds(config_.triggerDelayMs);
    // An acquisition stopped while this frame was rendered gets no data.
    frame_ = acquiring_ ? std::move(frame) : nullptr;
    return TAVRION_OK;
}

std::uint64_t SensorModel::renderCount() {
    std::lock_guard lock(mutex_);
    return renders_;
}

std::int32_t SensorModel::query(const std::string& text, std::string& reply) {
    std::lock_guard lock(mutex_);
    if (text == "GetXmlDescriptor") {
        reply = settings_.descriptorXml();
        return TAVRION_OK;
    }
    if (text == "GetTemperature") {
        // A slow swing between about 36 and 44 degrees Celsius with a faster ripple, advancing per reading, so
        // that it is plausible over a session and still reproducible.
        const double k = static_cast<double>(temperatureReads_++);
        const double phase = static_cast<double>(config_.seed % 1000) / 1000.0 * 6.283185307179586;
        const double celsius = 40.0 + 3.0 * std::sin(6.283185307179586 * k / 720.0 + phase) +
                               0.8 * std::sin(6.283185307179586 * k / 131.0);
        reply = std::to_string(static_cast<int>(std::lround(celsius)));
        return TAVRION_OK;
    }
    return TAVRION_ERR_UNKNOWN_COMMAND;
}

std::int32_t SensorModel::status(std::int32_t& word) {
    std::lock_guard lock(mutex_);
    ++statusReads_;
    word = config_.noDataEvery != 0 && statusReads_ % config_.noDataEvery == 0 ? TAVRION_STATUS_NO_DATA : 0;
    return TAVRION_OK;
}

std::int32_t SensorModel::pointCloud(std::shared_ptr<const CloudFrame>& frame) {
    std::chrono::steady_clock::time_point readyAt;
    {
        std::lock_guard lock(mutex_);
        if (!acquiring_ || !frame_) return TAVRION_ERR_NOT_READY;
        frame = frame_;
        readyAt = frameReadyAt_;
    }
    std::this_thread::sleep_until(readyAt);
    return TAVRION_OK;
}

void SensorModel::returnFrame(std::shared_ptr<const CloudFrame>& frame) {
    std::lock_guard lock(mutex_);
    frame.reset();
}

std::int32_t SensorModel::cameraImage(std::shared_ptr<const CameraImage>& image) {
    double brightness = 0;
    std::uint64_t index = 0;
    {
        std::lock_guard lock(mutex_);
        brightness = brightnessOf(settings_);
        index = ++imageCount_;
    }
    auto fresh = std::make_shared<CameraImage>();
    fresh->index = index;
    fresh->pixels.resize(scene_.pixelCount());
    scene_.renderCameraImage(index, brightness, fresh->pixels.data());
    image = std::move(fresh);
    return TAVRION_OK;
}

std::int32_t SensorModel::databaseChunk(std::uint32_t offset, std::uint32_t maxLength, std::uint32_t& total,
                                        std::vector<std::uint8_t>& chunk, std::chrono::milliseconds& delay) const {
    total = static_cast<std::uint32_t>(database_.size());
    if (offset >= total) return TAVRION_ERR_VALUE_REFUSED;
    const std::uint32_t length = std::min(maxLength, total - offset);
    chunk.assign(database_.begin() + offset, database_.begin() + offset + length);
    delay = std::chrono::milliseconds(static_cast<long long>(config_.downloadSeconds * 1000.0 * length / total));
    return TAVRION_OK;
}

}  // namespace emulator
