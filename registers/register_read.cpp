// Answering a client's register read: refresh the settings from the sensor when they are stale or a write
// asked for it, then store the feature's current value in the device and trace the read.
#include <cstring>
#include <string>

#include "main_class.h"
#include "tavrion.h"
#include "trace_format.h"

namespace {

constexpr std::uint32_t kRefreshIntervalMs = 1000;

// What a read stores in the device and how its trace shows the value.
struct ReadAnswer {
    enum class Kind { TraceOnly, Integer, Float, Text } kind = Kind::TraceOnly;
    std::int64_t integer = 0;
    float real = 0.0f;
    std::string text;
    std::string traced;
};

ReadAnswer integerAnswer(std::int64_t value) {
    return {ReadAnswer::Kind::Integer, value, 0.0f, {}, std::to_string(value)};
}
ReadAnswer floatAnswer(float value) { return {ReadAnswer::Kind::Float, 0, value, {}, traceFloat(value)}; }
ReadAnswer traceOnly(std::int64_t value) { return {ReadAnswer::Kind::TraceOnly, 0, 0.0f, {}, std::to_string(value)}; }

// The selected entries of the selector tables; null when a selector lies outside its table, so that such
// a read answers 0 instead of reaching past the table.
const CoordinateInfo* selectedCoordinate(const CMainClass& bridge) {
    return bridge.coordinateSelector < 3 ? &bridge.coordinates[bridge.coordinateSelector] : nullptr;
}
const FilterEntry* selectedFilter(const CMainClass& bridge) {
    return bridge.filterSelector < kFilterCount ? &bridge.filters[bridge.filterSelector] : nullptr;
}
const FilterProperty* selectedProperty(const CMainClass& bridge) {
    const FilterEntry* filter = selectedFilter(bridge);
    return filter != nullptr && bridge.propertyIndex < kPropertiesPerFilter ? &filter->properties[bridge.propertyIndex]
                                                                            : nullptr;
}

// The answer for a feature with a dispatch row; false for any other name.
bool answerFor(const CMainClass& bridge, const std::string& name, ReadAnswer& answer) {
    const CoordinateInfo* coordinate = selectedCoordinate(bridge);
    const FilterEntry* filter = selectedFilter(bridge);
    const FilterProperty* property = selectedProperty(bridge);
    const auto coordinateFloat = [coordinate](float CoordinateInfo::*field) {
        return floatAnswer(coordinate != nullptr ? coordinate->*field : 0.0f);
    };
    const auto propertyFloat = [property](float FilterProperty::*field) {
        return floatAnswer(property != nullptr ? property->*field : 0.0f);
    };
    // The chunk twins of the selector, scale, offset and invalid-data features answer from the same records.
    const std::string plain = name.rfind("ChunkScan3d", 0) == 0 ? name.substr(5) : name;

    if (name == "Width")
        answer = traceOnly(bridge.roiWidth);
    else if (name == "Height")
        answer = traceOnly(bridge.roiHeight);
    else if (name == "OffsetX")
        answer = traceOnly(bridge.roiOffsetX);
    else if (name == "OffsetY")
        answer = traceOnly(bridge.roiOffsetY);
    else if (name == "PathToMask")
        answer = {ReadAnswer::Kind::Text, 0, 0.0f, bridge.maskPath, bridge.maskPath};
    else if (name == "AcquisitionMode")
        answer = integerAnswer(bridge.acquisitionMode);
    else if (name == "ExposureTime")
        answer = floatAnswer(bridge.exposureTimeCurrent);
    else if (name == "StackAcquisitionMode")
        answer = integerAnswer(bridge.stackAcquisitionModeCurrent);
    else if (name == "Gain") {
        answer = floatAnswer(static_cast<float>(bridge.gainCurrent));
        answer.traced = std::to_string(bridge.gainCurrent);
    } else if (name == "LightBrightness")
        answer = integerAnswer(bridge.ledPowerCurrent);
    else if (plain == "Scan3dCoordinateSelector")
        answer = integerAnswer(bridge.coordinateSelector);
    else if (plain == "Scan3dCoordinateScale")
        answer = coordinateFloat(&CoordinateInfo::scale);
    else if (plain == "Scan3dCoordinateOffset")
        answer = coordinateFloat(&CoordinateInfo::offset);
    else if (plain == "Scan3dInvalidDataFlag")
        answer = integerAnswer(coordinate != nullptr && coordinate->invalidDataFlag);
    else if (plain == "Scan3dInvalidDataValue")
        answer = coordinateFloat(&CoordinateInfo::invalidDataValue);
    else if (name == "Scan3dAxisMin")
        answer = coordinateFloat(&CoordinateInfo::axisMin);
    else if (name == "Scan3dAxisMax")
        answer = coordinateFloat(&CoordinateInfo::axisMax);
    else if (name == "ChunkSelector")
        answer = integerAnswer(bridge.chunkSelector);
    else if (name == "ChunkEnable") {
        answer = integerAnswer(bridge.chunkSelector < kChunkCount && bridge.chunks[bridge.chunkSelector].enabled);
    } else if (name == "DeviceTemperature")
        answer = integerAnswer(bridge.sensorTemperature.load());
    else if (name == "ComponentSelector")
        answer = integerAnswer(bridge.componentSelector);
    else if (name == "ComponentEnable") {
        answer = integerAnswer(bridge.componentSelector < kComponentCount &&
                               bridge.componentEnabled[bridge.componentSelector]);
    } else if (name == "ComponentIDValue") {
        answer =
            integerAnswer(bridge.componentSelector < kComponentCount ? kComponents[bridge.componentSelector].id : 0);
    } else if (name == "AcquisitionMultiPartMode")
        answer = integerAnswer(bridge.multiPartMode);
    else if (name == "FilterSelector")
        answer = integerAnswer(bridge.filterSelector);
    else if (name == "FilterMode")
        answer = integerAnswer(filter != nullptr && filter->enabled);
    else if (name == "PropertySelector")
        answer = integerAnswer(bridge.propertySelector);
    else if (name == "PropertyValue")
        answer = propertyFloat(&FilterProperty::current);
    else if (name == "PropertyValueMin")
        answer = propertyFloat(&FilterProperty::min);
    else if (name == "PropertyValueMax")
        answer = propertyFloat(&FilterProperty::max);
    else
        return false;
    return true;
}

}  // namespace

void CMainClass::refreshSettingsIfStale() {
    const std::uint32_t elapsed = tickSource() - lastSettingsUpdateTick;  // unsigned: the wrap does no harm
    if (elapsed <= kRefreshIntervalMs && !settingsRefreshRequested) return;

    trace("\nUpdating Data\n");
    settingsRefreshRequested = false;
    const std::uint32_t start = tickSource();
    const std::int32_t code = Tavrion_ReadData(sensorHandle, "GetXmlDescriptor", xmlDescriptor,
                                               static_cast<std::int32_t>(kDescriptorBufferSize), 0);
    if (code != 0) {
        trace("WARNING: Failed ReadData [GetXmlDescriptor]. Error code " + std::to_string(code) + "\n");
    } else if (!parseSensorDescriptor(xmlDescriptor)) {
        trace("WARNING: XML parser error\n");
    } else {
        trace("data has been updated [" + std::to_string(tickSource() - start) + "]\n");
    }
}

bool CMainClass::onRegisterRead(const char* featureName) {
    refreshSettingsIfStale();

    const std::string name = featureName != nullptr ? featureName : "";
    ReadAnswer answer;
    bool known = false;
    // A command register reads 1 while its command has not been carried out yet, 0 after: clients poll it
    // for completion.
    if (name == "AcquisitionStart") {
        answer = integerAnswer(isAcquisitionStartPending() ? 1 : 0);
        known = true;
    } else if (name == "AcquisitionStop") {
        answer = integerAnswer(isAcquisitionStopPending() ? 1 : 0);
        known = true;
    } else {
        std::lock_guard<std::mutex> lock(stateMutex);
        known = answerFor(*this, name, answer);
    }
    if (!known) {
        trace("Read " + name + "\n");
        return true;
    }
    switch (answer.kind) {
        case ReadAnswer::Kind::Integer: camera->setIntValue(featureName, answer.integer); break;
        case ReadAnswer::Kind::Float: camera->setFloatValue(featureName, answer.real); break;
        case ReadAnswer::Kind::Text: camera->setStringValue(featureName, answer.text.c_str()); break;
        case ReadAnswer::Kind::TraceOnly: break;
    }
    trace("Read " + name + " = " + answer.traced + "\n");
    return true;
}
