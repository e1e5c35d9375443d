// The scripted sensor SDK: each Tavrion_ call answers from the test's script and is captured in order.
#include "scripted_sensor.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "tavrion.h"

namespace {
int fakeConnection;  // its address is the handle
}

ScriptedSensor& ScriptedSensor::instance() {
    static ScriptedSensor sensor;
    return sensor;
}

void ScriptedSensor::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    failConnect_ = false;
    results_.clear();
    status_ = {{0, TAVRION_STATUS_LINK_ALIVE | TAVRION_STATUS_DATABASE_LOADED}};
    replies_ = {{"GetTemperature", "35"}, {"GetXmlDescriptor", ""}};
    pointSource_ = nullptr;
    imageSource_ = nullptr;
    pointCloudCode_ = 0;
    cameraImageCode_ = 0;
    acquiring_ = false;
    triggered_ = false;
    calls_.clear();
    commands_.clear();
}

void ScriptedSensor::failConnect(bool fail) {
    std::lock_guard<std::mutex> lock(mutex_);
    failConnect_ = fail;
}

void ScriptedSensor::scriptResult(const std::string& command, std::vector<std::int32_t> codes) {
    std::lock_guard<std::mutex> lock(mutex_);
    results_[command] = std::deque<std::int32_t>(codes.begin(), codes.end());
}

void ScriptedSensor::scriptStatus(std::vector<std::pair<std::int32_t, std::int32_t>> answers) {
    std::lock_guard<std::mutex> lock(mutex_);
    status_ = std::deque<std::pair<std::int32_t, std::int32_t>>(answers.begin(), answers.end());
}

void ScriptedSensor::setReply(const std::string& command, const std::string& reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[command] = reply;
}

void ScriptedSensor::setPointCloudSource(std::function<void(double*, std::uint16_t*, std::size_t)> source) {
    std::lock_guard<std::mutex> lock(mutex_);
    pointSource_ = std::move(source);
}

void ScriptedSensor::setCameraImageSource(std::function<void(std::uint8_t*, std::size_t)> source) {
    std::lock_guard<std::mutex> lock(mutex_);
    imageSource_ = std::move(source);
}

void ScriptedSensor::setFetchResult(std::int32_t pointCloudCode, std::int32_t cameraImageCode) {
    std::lock_guard<std::mutex> lock(mutex_);
    pointCloudCode_ = pointCloudCode;
    cameraImageCode_ = cameraImageCode;
}

std::vector<std::string> ScriptedSensor::calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

void ScriptedSensor::clearCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
    commands_.clear();
}

std::vector<std::string> ScriptedSensor::commands() {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

int ScriptedSensor::count(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count(calls_.begin(), calls_.end(), call));
}

void* ScriptedSensor::handle() const { return &fakeConnection; }

void ScriptedSensor::capture(const std::string& call) { calls_.push_back(call); }

std::int32_t ScriptedSensor::nextResult(const std::string& command) {
    auto found = results_.find(command);
    if (found == results_.end() || found->second.empty()) return 0;
    const std::int32_t code = found->second.front();
    if (found->second.size() > 1) found->second.pop_front();
    return code;
}

void* ScriptedSensor::connect(const char* address, const char* port) {
    std::lock_guard<std::mutex> lock(mutex_);
    capture(std::string("Connect ") + address + " " + port);
    return failConnect_ ? nullptr : handle();
}

std::int32_t ScriptedSensor::disconnect(void*) {
    std::lock_guard<std::mutex> lock(mutex_);
    capture("Disconnect");
    return 0;
}

std::int32_t ScriptedSensor::status(std::int32_t* word) {
    std::lock_guard<std::mutex> lock(mutex_);
    capture("GetSensorStatus");
    const auto [code, value] = status_.front();
    if (status_.size() > 1) status_.pop_front();
    if (code == 0) *word = value;
    return code;
}

// The sensor's own rules, as the emulator keeps them: a setting outside the range its descriptor gives is
// refused, and a trigger or point cloud needs a running acquisition (and the cloud a trigger).
std::int32_t ScriptedSensor::write(const char* command) {
    std::lock_guard<std::mutex> lock(mutex_);
    capture(std::string("WriteData ") + command);
    commands_.emplace_back(command);
    const std::int32_t scripted = nextResult(command);
    if (scripted != 0) return scripted;
    const std::string text = command;
    if (text == "SetAcquisitionStart=1" || text == "SetAcquisitionStart=0") {
        acquiring_ = text.back() == '1';
        triggered_ = false;
    } else if (text == "SetTriggerSoftware") {
        if (!acquiring_) return TAVRION_ERR_NOT_READY;
        triggered_ = true;
    } else if (!withinDescriptorRange(text)) {
        return TAVRION_ERR_VALUE_REFUSED;
    }
    return 0;
}

bool ScriptedSensor::withinDescriptorRange(const std::string& command) {
    static const std::pair<const char*, const char*> kRanged[] = {
        {"SetGain=", "gain"}, {"SetExposureTime=", "exposuretime"}, {"SetLEDPower=", "ledpower"}};
    const std::string& descriptor = replies_["GetXmlDescriptor"];
    for (const auto& [prefix, tag] : kRanged) {
        if (command.rfind(prefix, 0) != 0) continue;
        const std::size_t group = descriptor.find(std::string("<") + tag + ">");
        if (group == std::string::npos) return true;  // no descriptor: nothing to check against
        const auto number = [&](const std::string& element) {
            const std::size_t at = descriptor.find("<" + element + ">", group);
            return at == std::string::npos ? 0.0 : std::atof(descriptor.c_str() + at + element.size() + 2);
        };
        const double value = std::atof(command.c_str() + std::strlen(prefix));
        return value >= number("min") && value <= number("max");
    }
    return true;
}

std::int32_t ScriptedSensor::read(const char* command, char* reply, std::int32_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    capture(std::string("ReadData ") + command);
    const std::int32_t code = nextResult(command);
    if (code != 0) return code;
    const std::string& text = replies_[command];
    if (static_cast<std::size_t>(size) <= text.size()) return TAVRION_ERR_BUFFER_TOO_SMALL;
    std::memcpy(reply, text.c_str(), text.size() + 1);
    return 0;
}

std::int32_t ScriptedSensor::pointCloud(void* buffers, std::int32_t size) {
    std::function<void(double*, std::uint16_t*, std::size_t)> source;
    std::int32_t code = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        capture("GetPointCloud " + std::to_string(size));
        code = acquiring_ && triggered_ ? pointCloudCode_ : TAVRION_ERR_NOT_READY;
        source = pointSource_;
    }
    if (code != 0) return code;
    auto* const* pointers = static_cast<void* const*>(buffers);
    if (source) source(static_cast<double*>(pointers[0]), static_cast<std::uint16_t*>(pointers[1]), size / 26);
    return 0;
}

std::int32_t ScriptedSensor::cameraImage(std::uint8_t* image, std::int32_t size) {
    std::function<void(std::uint8_t*, std::size_t)> source;
    std::int32_t code = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        capture("GetCameraImage " + std::to_string(size));
        code = cameraImageCode_;
        source = imageSource_;
    }
    if (code != 0) return code;
    if (source) source(image, static_cast<std::size_t>(size));
    return 0;
}

extern "C" {
void* Tavrion_Connect(const char* address, const char* port, std::int32_t) {
    return ScriptedSensor::instance().connect(address, port);
}
std::int32_t Tavrion_Disconnect(void* handle) { return ScriptedSensor::instance().disconnect(handle); }
std::int32_t Tavrion_GetSensorStatus(void*, std::int32_t* status) { return ScriptedSensor::instance().status(status); }
std::int32_t Tavrion_WriteData(void*, const char* command, std::int32_t) {
    return ScriptedSensor::instance().write(command);
}
std::int32_t Tavrion_ReadData(void*, const char* command, char* reply, std::int32_t size, std::int32_t) {
    return ScriptedSensor::instance().read(command, reply, size);
}
std::int32_t Tavrion_GetPointCloud(void*, void* buffers, std::int32_t size, std::int32_t, std::int32_t) {
    return ScriptedSensor::instance().pointCloud(buffers, size);
}
std::int32_t Tavrion_GetCameraImage(void*, std::uint8_t* image, std::int32_t size, std::int32_t, std::int32_t) {
    return ScriptedSensor::instance().cameraImage(image, size);
}
}
