// Acting on a client's register write as the feature's row says: read the stored value from the device, trace
// it, then turn it into a sensor command or a change of the bridge's selectors, chunk bookkeeping, pixel format
// or acquisition.
// A write that the sensor refuses, or that the bridge does not carry out, answers false: the device then
// answers the client with an error status and keeps the feature's previous value.
#include <string>

#include "coordinate_scaling.h"
#include "feature_table.h"
#include "frame_formats.h"
#include "main_class.h"
#include "trace_format.h"

void CMainClass::applyCoordinateScaling() {
    std::lock_guard<std::mutex> lock(stateMutex);
    const AxisScaling scaling = advertisedScaling(*this, findFrameFormat(pixelFormat));
    for (int axis = 0; axis < 3; ++axis) {
        coordinates[axis].scale = static_cast<float>(scaling.scale[axis]);
        coordinates[axis].offset = static_cast<float>(scaling.offset[axis]);
    }
}

std::int64_t readWrittenInteger(CMainClass& bridge, const char* featureName) {
    std::int64_t integer = 0;
    bridge.camera->getIntValue(featureName, &integer);
    bridge.trace("Write " + std::string(featureName) + " = " + std::to_string(integer) + "\n");
    return integer;
}

float readWrittenFloat(CMainClass& bridge, const char* featureName) {
    float real = 0.0f;
    bridge.camera->getFloatValue(featureName, &real);
    bridge.trace("Write " + std::string(featureName) + " = " + traceFloat(real) + "\n");
    return real;
}

bool sendAndRequestRefresh(CMainClass& bridge, const std::string& command) {
    if (bridge.sendSensorCommand(command) != 0) return false;
    bridge.settingsRefreshRequested = true;
    return true;
}

namespace {

// "command=value", appended piece by piece: GCC 12 at -O3 takes a text inserted before a temporary string for
// an overlapping copy.
std::string commandWithValue(const char* command, const std::string& value) {
    std::string text = command;
    text += '=';
    text += value;
    return text;
}

}  // namespace

bool CMainClass::onRegisterWrite(const char* featureName) {
    const std::string name = featureName != nullptr ? featureName : "";
    const FeatureRow* row = findFeatureRow(name);
    const WriteRule rule = row != nullptr ? row->write : WriteRule{};
    switch (rule.kind) {
        case WriteKind::TraceName: break;
        case WriteKind::TraceEmptyValue: trace("Write " + name + " = \n"); return true;
        case WriteKind::SendInteger: {
            const std::int64_t integer = readWrittenInteger(*this, featureName);
            return sendAndRequestRefresh(*this, commandWithValue(rule.command, std::to_string(integer)));
        }
        case WriteKind::SendFloat: {
            const float real = readWrittenFloat(*this, featureName);
            return sendAndRequestRefresh(*this, commandWithValue(rule.command, commandFloat(real)));
        }
        case WriteKind::StoreInteger: {
            const std::int64_t integer = readWrittenInteger(*this, featureName);
            std::lock_guard<std::mutex> lock(stateMutex);
            rule.store(*this, integer);
            if (rule.afterStore != nullptr) rule.afterStore(*this);
            return true;
        }
        case WriteKind::PayloadChange: {
            const std::int64_t integer = readWrittenInteger(*this, featureName);
            if (isAcquisitionActive()) return false;
            return rule.apply == nullptr || rule.apply(*this, integer);
        }
        case WriteKind::Handler: return rule.handle(*this, featureName);
    }
    trace("Write " + name + "\n");
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
