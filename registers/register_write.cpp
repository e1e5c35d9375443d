// Acting on a client's register write: read the stored value from the device, trace it, then turn it into
// a sensor command or a change of the bridge's selectors, chunk bookkeeping, pixel format or acquisition.
#include <fstream>
#include <string>

#include "main_class.h"
#include "tavrion.h"
#include "trace_format.h"

namespace {

// propertySelector for each FilterSelector value; larger values leave it unchanged.
constexpr std::uint16_t kFirstPropertyOfFilter[kFilterCount] = {0, 1, 2, 3, 6, 7};

std::uint16_t propertyIndexFor(std::uint16_t propertySelector) {
    if (propertySelector >= 3 && propertySelector <= 5) return static_cast<std::uint16_t>(propertySelector - 3);
    if (propertySelector >= 7 && propertySelector <= 9) return static_cast<std::uint16_t>(propertySelector - 7);
    return 0;
}

// A mask path is taken when it looks like a file name and names a file that can be read.
bool isAcceptableMaskPath(const std::string& path) {
    if (path.find_first_of(".png") == std::string::npos) return false;
    std::ifstream file(path);
    return file.is_open();
}

}  // namespace

std::int32_t CMainClass::sendSensorCommand(const std::string& command) {
    const std::int32_t code = Tavrion_WriteData(sensorHandle, command.c_str(), 0);
    if (code != 0) trace("WARNING: Failed WriteData [" + command + "]. Error code " + std::to_string(code) + "\n");
    return code;
}

void CMainClass::applyCoordinateScaling() {
    std::lock_guard<std::recursive_mutex> lock(stateMutex);
    const bool sixteenBit = pixelFormat == "RGB16" || pixelFormat == "Coord3D_ABC16";
    const double scales[3] = {scale16X, scale16Y, scale16Z};
    const double offsets[3] = {-0.5 * measuringRangeX, -0.5 * measuringRangeY, workingRangeZStart};
    for (int axis = 0; axis < 3; ++axis) {
        coordinates[axis].scale = sixteenBit ? static_cast<float>(scales[axis]) : 1.0f;
        coordinates[axis].offset = sixteenBit ? static_cast<float>(offsets[axis]) : 0.0f;
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
        if (sendSensorCommand(command) == 0) settingsRefreshRequested = true;
    };
    const auto low16 = [&integer] { return static_cast<std::uint16_t>(integer); };

    if (name == "PixelFormat") {
        camera->getIntValue(featureName, &integer);
        const std::string format = camera->getPixelFormatName(static_cast<int>(integer));
        trace("Write " + name + " = " + format + "\n");
        {
            std::lock_guard<std::recursive_mutex> lock(stateMutex);
            pixelFormat = format;
        }
        sendSensorCommand(format == "Mono8" ? "SetCameraMode=0" : "SetCameraMode=1");
        applyCoordinateScaling();
    } else if (name == "PathToMask") {
        char text[128] = {};
        camera->getStringValue(featureName, text, sizeof text);
        text[sizeof text - 1] = '\0';
        const std::string path = text;
        trace("Write " + name + " = " + path + "\n");
        std::lock_guard<std::recursive_mutex> lock(stateMutex);
        if (path.empty() || isAcceptableMaskPath(path)) {
            maskPath = path;
        } else {
            camera->setStringValue("PathToMask", maskPath.c_str());
        }
    } else if (name == "AcquisitionMode") {
        readInteger();
        std::lock_guard<std::recursive_mutex> lock(stateMutex);
        acquisitionMode = low16();
    } else if (name == "AcquisitionStop") {
        trace("Write " + name + "\n");
        acquisitionStopRequested.exchange(true);
        // A frame paced by a long packet delay could hold the stop for seconds; it is cut short instead.
        camera->abortFrame(0);
    } else if (name == "AcquisitionStart") {
        trace("Write " + name + "\n");
        // A stop the loop has not acted on yet (a client's stop, format change, start) is carried out and
        // followed by a new acquisition; cancelling it would keep streaming in the old pixel format.
        if (acquisitionStopRequested && !acquisitionStopped) {
            acquisitionRestartRequested.exchange(true);
        } else {
            acquisitionStopRequested.exchange(false);
            acquisitionStopped.exchange(false);
        }
        os::setEvent(acquisitionStartEvent);
    } else if (name == "ExposureTime") {
        readFloat();
        bool mayChange = acquisitionStopped;
        {
            std::lock_guard<std::recursive_mutex> lock(stateMutex);
            mayChange = mayChange || pixelFormat == "Mono8";
        }
        // While a 3D acquisition runs the sensor keeps its exposure; the write is dropped silently.
        if (mayChange) sendAndRequestRefresh("SetExposureTime=" + commandFloat(real));
    } else if (name == "StackAcquisitionMode") {
        readInteger();
        sendAndRequestRefresh("SetStackAcquisitionMode=" + std::to_string(integer));
    } else if (name == "TriggerSoftware") {
        trace("Write " + name + " = \n");
    } else if (name == "Gain") {
        readFloat();
        sendAndRequestRefresh("SetGain=" + commandFloat(real));
    } else if (name == "LightBrightness") {
        readInteger();
        sendAndRequestRefresh("SetLEDPower=" + std::to_string(integer));
    } else if (name == "Scan3dCoordinateSelector" || name == "ChunkScan3dCoordinateSelector") {
        readInteger();
        std::lock_guard<std::recursive_mutex> lock(stateMutex);
        coordinateSelector = low16();
    } else if (name == "ChunkSelector") {
        readInteger();
        std::lock_guard<std::recursive_mutex> lock(stateMutex);
        chunkSelector = low16();
    } else if (name == "ChunkEnable") {
        readInteger();
        applyChunkEnable(integer);
    } else if (name == "ComponentSelector") {
        readInteger();
        std::lock_guard<std::recursive_mutex> lock(stateMutex);
        componentSelector = low16();
    } else if (name == "ComponentEnable") {
        readInteger();
        std::lock_guard<std::recursive_mutex> lock(stateMutex);
        if (componentSelector < kComponentCount && (integer == 0 || integer == 1)) {
            componentEnabled[componentSelector] = integer == 1;
        }
    } else if (name == "AcquisitionMultiPartMode") {
        readInteger();
        std::lock_guard<std::recursive_mutex> lock(stateMutex);
        if (integer == kMultiPartSingleComponent) multiPartMode = low16();
    } else if (name == "FilterSelector") {
        readInteger();
        std::lock_guard<std::recursive_mutex> lock(stateMutex);
        filterSelector = low16();
        if (filterSelector < kFilterCount) propertySelector = kFirstPropertyOfFilter[filterSelector];
        propertyIndex = 0;
    } else if (name == "FilterMode") {
        readInteger();
        applyFilterMode(integer);
    } else if (name == "PropertySelector") {
        readInteger();
        std::lock_guard<std::recursive_mutex> lock(stateMutex);
        propertySelector = low16();
        propertyIndex = propertyIndexFor(propertySelector);
    } else if (name == "PropertyValue") {
        readFloat();
        std::string command;
        {
            std::lock_guard<std::recursive_mutex> lock(stateMutex);
            if (filterSelector >= kFilterCount || propertyIndex >= kPropertiesPerFilter) return true;
            command = filters[filterSelector].properties[propertyIndex].command + "=" + commandFloat(real);
        }
        sendSensorCommand(command);
        settingsRefreshRequested = true;
    } else {
        trace("Write " + name + "\n");
    }
    return true;
}

void CMainClass::applyChunkEnable(std::int64_t value) {
    std::lock_guard<std::recursive_mutex> lock(stateMutex);
    if (chunkSelector >= kChunkCount || (value != 0 && value != 1)) return;
    ChunkEntry& chunk = chunks[chunkSelector];
    if ((value == 1) == chunk.enabled) return;
    const int step = value == 1 ? 1 : -1;
    chunkPayloadSize = static_cast<std::uint16_t>(chunkPayloadSize + 4 * step);
    enabledChunkCount = static_cast<std::uint16_t>(enabledChunkCount + step);
    camera->setChunkLayout(chunkPayloadSize, enabledChunkCount, 0);
    chunk.enabled = value == 1;
}

void CMainClass::applyFilterMode(std::int64_t value) {
    std::string command;
    {
        std::lock_guard<std::recursive_mutex> lock(stateMutex);
        if (filterSelector >= kFilterCount) return;
        const FilterEntry& filter = filters[filterSelector];
        if ((value == 0 && !filter.enabled) || (value == 1 && filter.enabled)) return;
        command = filter.command + (value == 1 ? "=1" : "=0");
        if (value == 1) propertyIndex = 0;
    }
    sendSensorCommand(command);
    settingsRefreshRequested = true;
}
