// Acting on a client's register write: read the stored value from the device, trace it, then turn it into
// a sensor command or a change of the bridge's selectors, chunk bookkeeping, pixel format or acquisition.
// A write that the sensor refuses, or that the bridge does not carry out, answers false: the device then
// answers the client with an error status and keeps the feature's previous value.
#include <filesystem>
#include <string>
#include <system_error>

#include "coordinate_scaling.h"
#include "frame_formats.h"
#include "multipart_frame.h"
#include "main_class.h"
#include "trace_format.h"

namespace {

// propertySelector for each FilterSelector value; larger values leave it unchanged.
constexpr std::uint16_t kFirstPropertyOfFilter[kFilterCount] = {0, 1, 2, 3, 6, 7};

std::uint16_t propertyIndexFor(std::uint16_t propertySelector) {
    if (propertySelector >= 3 && propertySelector <= 5) return static_cast<std::uint16_t>(propertySelector - 3);
    if (propertySelector >= 7 && propertySelector <= 9) return static_cast<std::uint16_t>(propertySelector - 7);
    return 0;
}

// A mask path is taken when it contains at least one of the characters '.', 'p', 'n' or 'g' (the rule is
// deliberately that loose, not a check of the file name's extension) and names an existing regular file. Only
// the file's status is asked for: nothing is opened, so a FIFO or a device node can neither block the control
// channel nor be touched.
bool isAcceptableMaskPath(const std::string& path) {
    if (path.find_first_of(".png") == std::string::npos) return false;
    std::error_code error;
    return std::filesystem::is_regular_file(std::filesystem::status(path, error));
}

}  // namespace

void CMainClass::applyCoordinateScaling() {
    std::lock_guard<std::mutex> lock(stateMutex);
    const AxisScaling scaling = advertisedScaling(*this, findFrameFormat(pixelFormat));
    for (int axis = 0; axis < 3; ++axis) {
        coordinates[axis].scale = static_cast<float>(scaling.scale[axis]);
        coordinates[axis].offset = static_cast<float>(scaling.offset[axis]);
    }
}

bool CMainClass::onRegisterWrite(const char* featureName) {
    const std::string name = featureName != nullptr ? featureName : "";
    std::int64_t integer = 0;
    float real = 0.0f;
    const auto readInteger = [&] {
        camera->getIntValue(featureName, &integer);
        trace("Write " + name + " = " + std::to_string(integer) + "\n");
    };
    const auto readFloat = [&] {
        camera->getFloatValue(featureName, &real);
        trace("Write " + name + " = " + traceFloat(real) + "\n");
    };
    const auto sendAndRequestRefresh = [this](const std::string& command) {
        if (sendSensorCommand(command) != 0) return false;
        settingsRefreshRequested = true;
        return true;
    };
    const auto low16 = [&integer] { return static_cast<std::uint16_t>(integer); };

    if (name == "PixelFormat") {
        camera->getIntValue(featureName, &integer);
        const std::string format = camera->getPixelFormatName(static_cast<int>(integer));
        trace("Write " + name + " = " + format + "\n");
        // Frames are described by the current format: it may change only while no acquisition runs, and only
        // to a format the acquisition loop can build.
        const FrameFormat* frameFormat = findFrameFormat(format);
        if (frameFormat == nullptr || isAcquisitionActive()) return false;
        std::string previous;
        {
            std::lock_guard<std::mutex> lock(stateMutex);
            previous = pixelFormat;
            pixelFormat = format;
        }
        const bool switched = sendSensorCommand("SetCameraMode=" + std::to_string(frameFormat->cameraMode)) == 0;
        if (!switched) {
            std::lock_guard<std::mutex> lock(stateMutex);
            pixelFormat = previous;
        }
        applyCoordinateScaling();
        applyMultipartLayout(*this);
        return switched;
    } else if (name == "PathToMask") {
        char text[128] = {};
        camera->getStringValue(featureName, text, sizeof text);
        text[sizeof text - 1] = '\0';
        const std::string path = text;
        trace("Write " + name + " = " + path + "\n");
        if (!path.empty() && !isAcceptableMaskPath(path)) return false;
        std::lock_guard<std::mutex> lock(stateMutex);
        maskPath = path;
    } else if (name == "AcquisitionMode") {
        readInteger();
        std::lock_guard<std::mutex> lock(stateMutex);
        acquisitionMode = low16();
    } else if (name == "AcquisitionStop") {
        trace("Write " + name + "\n");
        requestAcquisitionStop(false);
        // A frame paced by a long packet delay could hold the stop for seconds; it is cut short instead.
        camera->abortFrame(0);
        awaitAcquisitionStop();
    } else if (name == "AcquisitionStart") {
        trace("Write " + name + "\n");
        return requestAcquisitionStart();
    } else if (name == "ExposureTime") {
        readFloat();
        bool mayChange = !isAcquisitionActive();
        {
            std::lock_guard<std::mutex> lock(stateMutex);
            const FrameFormat* format = findFrameFormat(pixelFormat);
            mayChange = mayChange || (format != nullptr && format->cameraMode == 0);
        }
        // While an acquisition in camera mode 1 (point clouds) runs the sensor keeps its exposure: the write is
        // refused.
        return mayChange && sendAndRequestRefresh("SetExposureTime=" + commandFloat(real));
    } else if (name == "StackAcquisitionMode") {
        readInteger();
        return sendAndRequestRefresh("SetStackAcquisitionMode=" + std::to_string(integer));
    } else if (name == "TriggerSoftware") {
        trace("Write " + name + " = \n");
    } else if (name == "Gain") {
        readFloat();
        return sendAndRequestRefresh("SetGain=" + commandFloat(real));
    } else if (name == "LightBrightness") {
        readInteger();
        return sendAndRequestRefresh("SetLEDPower=" + std::to_string(integer));
    } else if (name == "Scan3dCoordinateSelector" || name == "ChunkScan3dCoordinateSelector") {
        readInteger();
        std::lock_guard<std::mutex> lock(stateMutex);
        coordinateSelector = low16();
    } else if (name == "ChunkSelector") {
        readInteger();
        std::lock_guard<std::mutex> lock(stateMutex);
        chunkSelector = low16();
    } else if (name == "ChunkEnable") {
        readInteger();
        // A chunk changes the payload, which stays as it is while an acquisition runs.
        return !isAcquisitionActive() && applyChunkEnable(integer);
    } else if (name == "ChunkModeActive") {
        readInteger();
        return !isAcquisitionActive();
    } else if (name == "ComponentSelector") {
        readInteger();
        std::lock_guard<std::mutex> lock(stateMutex);
        componentSelector = low16();
    } else if (name == "ComponentEnable") {
        readInteger();
        // The parts make up the payload, which stays as it is while an acquisition runs.
        if (isAcquisitionActive()) return false;
        {
            std::lock_guard<std::mutex> lock(stateMutex);
            if (componentSelector >= kComponentCount || (integer != 0 && integer != 1)) return false;
            componentEnabled[componentSelector] = integer == 1;
        }
        applyMultipartLayout(*this);
    } else if (name == "AcquisitionMultiPartMode") {
        readInteger();
        if (isAcquisitionActive()) return false;
        {
            std::lock_guard<std::mutex> lock(stateMutex);
            if (integer != kMultiPartSingleComponent && integer != kMultiPartSynchronizedComponents) return false;
            multiPartMode = low16();
        }
        applyMultipartLayout(*this);
    } else if (name == "FilterSelector") {
        readInteger();
        std::lock_guard<std::mutex> lock(stateMutex);
        filterSelector = low16();
        if (filterSelector < kFilterCount) propertySelector = kFirstPropertyOfFilter[filterSelector];
        propertyIndex = 0;
    } else if (name == "FilterMode") {
        readInteger();
        return applyFilterMode(integer);
    } else if (name == "PropertySelector") {
        readInteger();
        std::lock_guard<std::mutex> lock(stateMutex);
        propertySelector = low16();
        propertyIndex = propertyIndexFor(propertySelector);
    } else if (name == "PropertyValue") {
        readFloat();
        std::string command;
        {
            std::lock_guard<std::mutex> lock(stateMutex);
            if (filterSelector >= kFilterCount || propertyIndex >= kPropertiesPerFilter) return false;
            command = filters[filterSelector].properties[propertyIndex].command + "=" + commandFloat(real);
        }
        const bool sent = sendSensorCommand(command) == 0;
        settingsRefreshRequested = true;
        return sent;
    } else {
        trace("Write " + name + "\n");
    }
    return true;
}

bool CMainClass::applyChunkEnable(std::int64_t value) {
    std::uint16_t bytes = 0;
    std::uint16_t count = 0;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (chunkSelector >= kChunkCount || (value != 0 && value != 1)) return false;
        ChunkEntry& chunk = chunks[chunkSelector];
        if ((value == 1) == chunk.enabled) return true;
        const int step = value == 1 ? 1 : -1;
        chunkPayloadSize = static_cast<std::uint16_t>(chunkPayloadSize + 4 * step);
        enabledChunkCount = static_cast<std::uint16_t>(enabledChunkCount + step);
        chunk.enabled = value == 1;
        bytes = chunkPayloadSize;
        count = enabledChunkCount;
    }
    camera->setChunkLayout(bytes, count, 0);
    return true;
}

bool CMainClass::applyFilterMode(std::int64_t value) {
    std::string command;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (filterSelector >= kFilterCount) return false;
        const FilterEntry& filter = filters[filterSelector];
        if ((value == 0 && !filter.enabled) || (value == 1 && filter.enabled)) return true;
        command = filter.command + (value == 1 ? "=1" : "=0");
        if (value == 1) propertyIndex = 0;
    }
    const bool sent = sendSensorCommand(command) == 0;
    settingsRefreshRequested = true;
    return sent;
}
