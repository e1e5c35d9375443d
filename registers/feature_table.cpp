// The ordered table of the bridge's features: for every name a client reads or writes, what the read answers
// and what the write does. The answers of the selected 3D axis, filter and property and the write handlers
// that do more than one plain step stand before the table.
#include "feature_table.h"

#include <filesystem>
#include <system_error>

#include "frame_formats.h"
#include "main_class.h"
#include "multipart_frame.h"
#include "trace_format.h"

namespace {

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

// The region features are the library's own; a read only traces the bridge's value.
template <auto Member>
constexpr ReadRule tracesInteger() {
    return {[](CMainClass& bridge) {
        ReadAnswer answer = integerAnswer(bridge.*Member);
        answer.kind = ReadAnswer::Kind::TraceOnly;
        return answer;
    }};
}

template <auto Field>
constexpr ReadRule readsCoordinate() {
    return {[](CMainClass& bridge) {
        const CoordinateInfo* coordinate = selectedCoordinate(bridge);
        return floatAnswer(coordinate != nullptr ? coordinate->*Field : 0.0f);
    }};
}

template <auto Field>
constexpr ReadRule readsProperty() {
    return {[](CMainClass& bridge) {
        const FilterProperty* property = selectedProperty(bridge);
        return floatAnswer(property != nullptr ? property->*Field : 0.0f);
    }};
}

template <auto Member>
constexpr ReadRule readsFloat() {
    return {[](CMainClass& bridge) { return floatAnswer(bridge.*Member); }};
}

// A command register reads 1 while its command has not been carried out yet, 0 after: clients poll it for
// completion.
constexpr ReadRule kStartPending = {
    [](CMainClass& bridge) { return integerAnswer(bridge.isAcquisitionStartPending()); }, false};
constexpr ReadRule kStopPending = {[](CMainClass& bridge) { return integerAnswer(bridge.isAcquisitionStopPending()); },
                                   false};

ReadAnswer answerPathToMask(CMainClass& bridge) {
    return {ReadAnswer::Kind::Text, 0, 0.0f, bridge.maskPath, bridge.maskPath};
}

// The sensor's gain is whole; the device holds it as a float, the trace shows the whole number.
ReadAnswer answerGain(CMainClass& bridge) {
    ReadAnswer answer = floatAnswer(static_cast<float>(bridge.gainCurrent));
    answer.traced = std::to_string(bridge.gainCurrent);
    return answer;
}

ReadAnswer answerInvalidDataFlag(CMainClass& bridge) {
    const CoordinateInfo* coordinate = selectedCoordinate(bridge);
    return integerAnswer(coordinate != nullptr && coordinate->invalidDataFlag);
}

ReadAnswer answerChunkEnable(CMainClass& bridge) {
    return integerAnswer(bridge.chunkSelector < kChunkCount && bridge.chunks[bridge.chunkSelector].enabled);
}

// A float in degrees Celsius of the sensor's whole degrees; the trace shows the whole number.
ReadAnswer answerTemperature(CMainClass& bridge) {
    const std::uint16_t degrees = bridge.sensorTemperature.load();
    ReadAnswer answer = floatAnswer(static_cast<float>(degrees));
    answer.traced = std::to_string(degrees);
    return answer;
}

ReadAnswer answerTemperatureThreshold(CMainClass& bridge) { return integerAnswer(bridge.temperatureThreshold.load()); }

ReadAnswer answerComponentEnable(CMainClass& bridge) {
    return integerAnswer(bridge.componentSelector < kComponentCount &&
                         bridge.componentEnabled[bridge.componentSelector]);
}

ReadAnswer answerComponentId(CMainClass& bridge) {
    return integerAnswer(bridge.componentSelector < kComponentCount ? kComponents[bridge.componentSelector].id : 0);
}

ReadAnswer answerFilterMode(CMainClass& bridge) {
    const FilterEntry* filter = selectedFilter(bridge);
    return integerAnswer(filter != nullptr && filter->enabled);
}

// propertySelector for each FilterSelector value; larger values leave it unchanged.
constexpr std::uint16_t kFirstPropertyOfFilter[kFilterCount] = {0, 1, 2, 3, 6, 7};

void selectFirstPropertyOfFilter(CMainClass& bridge) {
    if (bridge.filterSelector < kFilterCount) bridge.propertySelector = kFirstPropertyOfFilter[bridge.filterSelector];
    bridge.propertyIndex = 0;
}

void selectPropertyIndex(CMainClass& bridge) {
    const std::uint16_t selector = bridge.propertySelector;
    if (selector >= 3 && selector <= 5)
        bridge.propertyIndex = static_cast<std::uint16_t>(selector - 3);
    else if (selector >= 7 && selector <= 9)
        bridge.propertyIndex = static_cast<std::uint16_t>(selector - 7);
    else
        bridge.propertyIndex = 0;
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

bool writePixelFormat(CMainClass& bridge, const char* featureName) {
    std::int64_t integer = 0;
    bridge.camera->getIntValue(featureName, &integer);
    const std::string format = bridge.camera->getPixelFormatName(static_cast<int>(integer));
    bridge.trace("Write " + std::string(featureName) + " = " + format + "\n");
    // Frames are described by the current format: it may change only while no acquisition runs, and only
    // to a format the acquisition loop can build.
    const FrameFormat* frameFormat = findFrameFormat(format);
    if (frameFormat == nullptr || bridge.isAcquisitionActive()) return false;
    std::string previous;
    {
        std::lock_guard<std::mutex> lock(bridge.stateMutex);
        previous = bridge.pixelFormat;
        bridge.pixelFormat = format;
    }
    const bool switched = bridge.sendSensorCommand("SetCameraMode=" + std::to_string(frameFormat->cameraMode)) == 0;
    if (!switched) {
        std::lock_guard<std::mutex> lock(bridge.stateMutex);
        bridge.pixelFormat = previous;
    }
    bridge.applyCoordinateScaling();
    applyMultipartLayout(bridge);
    return switched;
}

bool writePathToMask(CMainClass& bridge, const char* featureName) {
    char text[128] = {};
    bridge.camera->getStringValue(featureName, text, sizeof text);
    text[sizeof text - 1] = '\0';
    const std::string path = text;
    bridge.trace("Write " + std::string(featureName) + " = " + path + "\n");
    if (!path.empty() && !isAcceptableMaskPath(path)) return false;
    std::lock_guard<std::mutex> lock(bridge.stateMutex);
    bridge.maskPath = path;
    return true;
}

bool writeAcquisitionStop(CMainClass& bridge, const char* featureName) {
    bridge.trace("Write " + std::string(featureName) + "\n");
    bridge.requestAcquisitionStop(false);
    // A frame paced by a long packet delay could hold the stop for seconds; it is cut short instead.
    bridge.camera->abortFrame(0);
    bridge.awaitAcquisitionStop();
    return true;
}

bool writeAcquisitionStart(CMainClass& bridge, const char* featureName) {
    bridge.trace("Write " + std::string(featureName) + "\n");
    // SynchronizedComponents with a 3D format and no component would send empty blocks.
    std::string formatName;
    bool components = false;
    {
        std::lock_guard<std::mutex> lock(bridge.stateMutex);
        formatName = bridge.pixelFormat;
        for (const bool enabled : bridge.componentEnabled) components = components || enabled;
        components = components || bridge.multiPartMode != kMultiPartSynchronizedComponents;
    }
    const FrameFormat* format = findFrameFormat(formatName);
    if (!components && format != nullptr && format->sending == FrameSending::PointCloud) {
        bridge.printError(
            "ERROR: AcquisitionStart refused: AcquisitionMultiPartMode is SynchronizedComponents and "
            "no component is enabled, so every block would be empty\n");
        return false;
    }
    return bridge.requestAcquisitionStart();
}

// The mode decides when the acquisition ends by itself, so it stays as it was started with.
bool writeAcquisitionMode(CMainClass& bridge, const char* featureName) {
    const std::int64_t mode = readWrittenInteger(bridge, featureName);
    if (bridge.isAcquisitionActive()) return false;
    std::lock_guard<std::mutex> lock(bridge.stateMutex);
    storeMember<&CMainClass::acquisitionMode>(bridge, mode);
    return true;
}

bool writeExposureTime(CMainClass& bridge, const char* featureName) {
    const float real = readWrittenFloat(bridge, featureName);
    bool mayChange = !bridge.isAcquisitionActive();
    {
        std::lock_guard<std::mutex> lock(bridge.stateMutex);
        const FrameFormat* format = findFrameFormat(bridge.pixelFormat);
        mayChange = mayChange || (format != nullptr && format->cameraMode == 0);
    }
    // While an acquisition in camera mode 1 (point clouds) runs the sensor keeps its exposure: the write is
    // refused.
    return mayChange && sendAndRequestRefresh(bridge, "SetExposureTime=" + commandFloat(real));
}

// A software trigger is accepted whatever becomes of it: with TriggerMode Off it does nothing, as it always did.
bool writeTriggerSoftware(CMainClass& bridge, const char* featureName) {
    bridge.trace("Write " + std::string(featureName) + " = \n");
    bridge.offerTrigger(kTriggerSourceSoftware, bridge.camera->getTimestamp());
    return true;
}

bool writeTriggerDelay(CMainClass& bridge, const char* featureName) {
    const float delayUs = readWrittenFloat(bridge, featureName);
    if (!(delayUs >= 0.0f && delayUs <= kMaxTriggerDelayUs)) return false;
    std::lock_guard<std::mutex> lock(bridge.stateMutex);
    bridge.triggerDelayUs = delayUs;
    return true;
}

// A new threshold is compared with the next reading, which sends the event if that is already above it.
bool writeTemperatureThreshold(CMainClass& bridge, const char* featureName) {
    const std::int64_t degrees = readWrittenInteger(bridge, featureName);
    if (degrees < 0 || degrees > 100) return false;
    bridge.temperatureThreshold = static_cast<std::int32_t>(degrees);
    bridge.temperatureAboveThreshold = false;
    return true;
}

bool applyChunkEnable(CMainClass& bridge, std::int64_t value) { return bridge.applyChunkEnable(value); }

bool applyComponentEnable(CMainClass& bridge, std::int64_t value) {
    const char* lastComponent = nullptr;
    {
        std::lock_guard<std::mutex> lock(bridge.stateMutex);
        if (bridge.componentSelector >= kComponentCount || (value != 0 && value != 1)) return false;
        // In SynchronizedComponents mode the last enabled component stays: without one a block would be empty.
        bool others = false;
        for (std::size_t c = 0; c < kComponentCount; ++c)
            others = others || (c != bridge.componentSelector && bridge.componentEnabled[c]);
        if (value == 0 && !others && bridge.multiPartMode == kMultiPartSynchronizedComponents) {
            lastComponent = kComponents[bridge.componentSelector].name;
        } else {
            bridge.componentEnabled[bridge.componentSelector] = value == 1;
        }
    }
    if (lastComponent != nullptr) {
        bridge.printError(std::string("ERROR: ComponentEnable = false refused for ") + lastComponent +
                          ": it is the last enabled component and AcquisitionMultiPartMode is "
                          "SynchronizedComponents, so the blocks would be empty\n");
        return false;
    }
    applyMultipartLayout(bridge);
    return true;
}

bool applyMultiPartMode(CMainClass& bridge, std::int64_t value) {
    {
        std::lock_guard<std::mutex> lock(bridge.stateMutex);
        if (value != kMultiPartSingleComponent && value != kMultiPartSynchronizedComponents) return false;
        bridge.multiPartMode = static_cast<std::uint16_t>(value);
    }
    applyMultipartLayout(bridge);
    return true;
}

bool writeFilterMode(CMainClass& bridge, const char* featureName) {
    return bridge.applyFilterMode(readWrittenInteger(bridge, featureName));
}

bool writePropertyValue(CMainClass& bridge, const char* featureName) {
    const float real = readWrittenFloat(bridge, featureName);
    std::string command;
    {
        std::lock_guard<std::mutex> lock(bridge.stateMutex);
        if (bridge.filterSelector >= kFilterCount || bridge.propertyIndex >= kPropertiesPerFilter) return false;
        command =
            bridge.filters[bridge.filterSelector].properties[bridge.propertyIndex].command + "=" + commandFloat(real);
    }
    const bool sent = bridge.sendSensorCommand(command) == 0;
    bridge.settingsRefreshRequested = true;
    return sent;
}

ReadAnswer answerDeviceUserId(CMainClass& bridge) {
    return {ReadAnswer::Kind::Text, 0, 0.0f, bridge.userDefinedName, bridge.userDefinedName};
}

// The name is stored at once, as cameras keep theirs; one that cannot be stored is refused and the device keeps
// its name.
bool writeDeviceUserId(CMainClass& bridge, const char* featureName) {
    char text[128] = {};
    bridge.camera->getStringValue(featureName, text, sizeof text);
    text[sizeof text - 1] = '\0';
    const std::string name = text;
    bridge.trace("Write " + std::string(featureName) + " = " + name + "\n");
    return isValidDeviceUserId(name) && bridge.storeDeviceUserId(name);
}

bool writeUserSetDefault(CMainClass& bridge, const char* featureName) {
    const std::int64_t set = readWrittenInteger(bridge, featureName);
    return set >= 0 && set < static_cast<std::int64_t>(kUserSetCount) &&
           bridge.storeUserSetDefault(static_cast<std::size_t>(set));
}

// Loading and saving are refused while acquiring: a load would change the stream's format under it, and a save
// would store settings the acquisition may still change.
bool writeUserSetCommand(CMainClass& bridge, const char* featureName, bool load) {
    bridge.trace("Write " + std::string(featureName) + "\n");
    std::size_t set = 0;
    {
        std::lock_guard<std::mutex> lock(bridge.stateMutex);
        set = bridge.userSetSelector;
    }
    if (set >= kUserSetCount) return false;
    if (bridge.isAcquisitionActive()) {
        bridge.printErrorAndLog("ERROR: " + std::string(featureName) + " is refused while acquiring\n");
        return false;
    }
    return load ? bridge.loadUserSet(set) : bridge.saveUserSet(set);
}

bool writeUserSetLoad(CMainClass& bridge, const char* featureName) {
    return writeUserSetCommand(bridge, featureName, true);
}

bool writeUserSetSave(CMainClass& bridge, const char* featureName) {
    return writeUserSetCommand(bridge, featureName, false);
}

// In the order the callbacks always tried the names. A plain feature is one row: readsInteger with
// storesInteger for a selector kept by the bridge, sendsInteger or sendsFloat for a sensor setting. The chunk
// twins of the selector, scale, offset and invalid-data features answer from the same records.
constexpr FeatureRow kFeatures[] = {
    {"AcquisitionStart", kStartPending, handledBy(writeAcquisitionStart)},
    {"AcquisitionStop", kStopPending, handledBy(writeAcquisitionStop)},
    {"Width", tracesInteger<&CMainClass::roiWidth>()},
    {"Height", tracesInteger<&CMainClass::roiHeight>()},
    {"OffsetX", tracesInteger<&CMainClass::roiOffsetX>()},
    {"OffsetY", tracesInteger<&CMainClass::roiOffsetY>()},
    {"PixelFormat", {}, handledBy(writePixelFormat)},
    {"PathToMask", {answerPathToMask}, handledBy(writePathToMask)},
    {"AcquisitionMode", readsInteger<&CMainClass::acquisitionMode>(), handledBy(writeAcquisitionMode)},
    {"ExposureTime", readsFloat<&CMainClass::exposureTimeCurrent>(), handledBy(writeExposureTime)},
    {"StackAcquisitionMode", readsInteger<&CMainClass::stackAcquisitionModeCurrent>(),
     sendsInteger("SetStackAcquisitionMode")},
    {"TriggerSoftware", {}, handledBy(writeTriggerSoftware)},  // the library's command
    {"TriggerSelector", readsInteger<&CMainClass::triggerSelector>(), storesInteger<&CMainClass::triggerSelector>()},
    {"TriggerMode", readsInteger<&CMainClass::triggerMode>(), storesInteger<&CMainClass::triggerMode>()},
    {"TriggerSource", readsInteger<&CMainClass::triggerSource>(), storesInteger<&CMainClass::triggerSource>()},
    {"TriggerDelay", readsFloat<&CMainClass::triggerDelayUs>(), handledBy(writeTriggerDelay)},
    {"Gain", {answerGain}, sendsFloat("SetGain")},
    {"LightBrightness", readsInteger<&CMainClass::ledPowerCurrent>(), sendsInteger("SetLEDPower")},
    {"Scan3dCoordinateSelector", readsInteger<&CMainClass::coordinateSelector>(),
     storesInteger<&CMainClass::coordinateSelector>()},
    {"ChunkScan3dCoordinateSelector", readsInteger<&CMainClass::coordinateSelector>(),
     storesInteger<&CMainClass::coordinateSelector>()},
    {"Scan3dCoordinateScale", readsCoordinate<&CoordinateInfo::scale>()},
    {"ChunkScan3dCoordinateScale", readsCoordinate<&CoordinateInfo::scale>()},
    {"Scan3dCoordinateOffset", readsCoordinate<&CoordinateInfo::offset>()},
    {"ChunkScan3dCoordinateOffset", readsCoordinate<&CoordinateInfo::offset>()},
    {"Scan3dInvalidDataFlag", {answerInvalidDataFlag}},
    {"ChunkScan3dInvalidDataFlag", {answerInvalidDataFlag}},
    {"Scan3dInvalidDataValue", readsCoordinate<&CoordinateInfo::invalidDataValue>()},
    {"ChunkScan3dInvalidDataValue", readsCoordinate<&CoordinateInfo::invalidDataValue>()},
    {"Scan3dAxisMin", readsCoordinate<&CoordinateInfo::axisMin>()},
    {"Scan3dAxisMax", readsCoordinate<&CoordinateInfo::axisMax>()},
    {"ChunkSelector", readsInteger<&CMainClass::chunkSelector>(), storesInteger<&CMainClass::chunkSelector>()},
    {"ChunkEnable", {answerChunkEnable}, changesPayload(applyChunkEnable)},
    {"ChunkModeActive", {}, changesPayload()},
    {"DeviceTemperature", {answerTemperature}},
    {"DeviceTemperatureThreshold", {answerTemperatureThreshold}, handledBy(writeTemperatureThreshold)},
    {"ComponentSelector", readsInteger<&CMainClass::componentSelector>(),
     storesInteger<&CMainClass::componentSelector>()},
    {"ComponentEnable", {answerComponentEnable}, changesPayload(applyComponentEnable)},
    {"ComponentIDValue", {answerComponentId}},
    {"AcquisitionMultiPartMode", readsInteger<&CMainClass::multiPartMode>(), changesPayload(applyMultiPartMode)},
    {"FilterSelector", readsInteger<&CMainClass::filterSelector>(),
     storesInteger<&CMainClass::filterSelector>(selectFirstPropertyOfFilter)},
    {"FilterMode", {answerFilterMode}, handledBy(writeFilterMode)},
    {"PropertySelector", readsInteger<&CMainClass::propertySelector>(),
     storesInteger<&CMainClass::propertySelector>(selectPropertyIndex)},
    {"PropertyValue", readsProperty<&FilterProperty::current>(), handledBy(writePropertyValue)},
    {"PropertyValueMin", readsProperty<&FilterProperty::min>()},
    {"PropertyValueMax", readsProperty<&FilterProperty::max>()},
    {"DeviceUserID", {answerDeviceUserId}, handledBy(writeDeviceUserId)},
    {"UserSetSelector", readsInteger<&CMainClass::userSetSelector>(), storesInteger<&CMainClass::userSetSelector>()},
    {"UserSetDefault", readsInteger<&CMainClass::userSetDefault>(), handledBy(writeUserSetDefault)},
    {"UserSetLoad", {}, handledBy(writeUserSetLoad)},
    {"UserSetSave", {}, handledBy(writeUserSetSave)},
};

// A name stands in one row only, so that the row a lookup finds is the only one that could answer.
consteval bool namesAreDistinct() {
    for (const FeatureRow& row : kFeatures)
        for (const FeatureRow& other : kFeatures)
            if (&row != &other && row.name == other.name) return false;
    return true;
}
static_assert(namesAreDistinct());

}  // namespace

ReadAnswer integerAnswer(std::int64_t value) {
    return {ReadAnswer::Kind::Integer, value, 0.0f, {}, std::to_string(value)};
}

ReadAnswer floatAnswer(float value) { return {ReadAnswer::Kind::Float, 0, value, {}, traceFloat(value)}; }

const FeatureRow* findFeatureRow(std::string_view name) {
    for (const FeatureRow& row : kFeatures)
        if (row.name == name) return &row;
    return nullptr;
}
