// User sets and DeviceUserID kept across restarts: the file of the connected sensor (<serial>.usersets beside
// the sensor database), reading it at start-up, loading a set through the client's write path and saving the
// current values. The file is replaced in one step (a complete temporary file, on the disk, renamed over it), so a
// crash or power loss leaves either the old file or the new one.
#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "main_class.h"
#include "program_folder.h"

namespace {

// The selectors a load writes on its way, restored afterwards so that a client finds them as it left them. The
// filter comes before the property, since choosing a filter resets the property selector.
constexpr const char* kSelectors[] = {"FilterSelector", "PropertySelector", "ChunkSelector", "ComponentSelector",
                                      "TriggerSelector"};

// A serial number names the file; a character a file name cannot hold on every system becomes '_'.
std::string userSetFileName(const std::string& serial) {
    std::string name;
    for (const char c : serial) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || c == '.';
        name += plain ? c : '_';
    }
    return name + ".usersets";
}

const char* entryOf(std::uint16_t value, std::initializer_list<const char*> names) {
    return value < names.size() ? names.begin()[value] : *names.begin();
}

// The current values of every setting of a user set, from the settings record and the program's own state.
UserSetValues currentValues(CMainClass& bridge) {
    std::int64_t chunkMode = 0;
    bridge.camera->getIntValue("ChunkModeActive", &chunkMode);
    const auto flag = [](bool on) { return std::string(on ? "1" : "0"); };
    UserSetValues values;
    std::lock_guard<std::mutex> lock(bridge.stateMutex);
    values["PixelFormat"] = bridge.pixelFormat;
    values["StackAcquisitionMode"] = "mode" + std::to_string(bridge.stackAcquisitionModeCurrent);
    values["ExposureTime"] = userSetFloatText(bridge.exposureTimeCurrent);
    values["Gain"] = std::to_string(bridge.gainCurrent);
    values["LightBrightness"] = std::to_string(bridge.ledPowerCurrent);
    for (std::size_t f = 0; f < kFilterCount; ++f)
        values["FilterMode." + std::to_string(f)] = flag(bridge.filters[f].enabled);
    for (const auto& [filter, property] : kPropertyOwners) {
        values["PropertyValue." + std::to_string(filter) + "." + std::to_string(property)] =
            userSetFloatText(bridge.filters[filter].properties[property].current);
    }
    values["ChunkEnable.Temperature"] = flag(bridge.chunks[0].enabled);
    values["ChunkModeActive"] = flag(chunkMode != 0);
    for (std::size_t c = 0; c < kComponentCount; ++c)
        values[std::string("ComponentEnable.") + kComponents[c].name] = flag(bridge.componentEnabled[c]);
    values["AcquisitionMultiPartMode"] = entryOf(bridge.multiPartMode, {"SingleComponent", "SynchronizedComponents"});
    values["TriggerMode"] = entryOf(bridge.triggerMode, {"Off", "On"});
    values["TriggerSource"] = entryOf(bridge.triggerSource, {"Software", "Action1", "Action2", "Action3", "Action4"});
    values["TriggerDelay"] = userSetFloatText(bridge.triggerDelayUs);
    return values;
}

// The setting that keeps `values` from being stored as a set, or empty when every one is there and in range.
std::string unstorableSetting(const UserSetValues& values) {
    for (const UserSetField& field : userSetFields()) {
        const auto value = values.find(field.key);
        if (value == values.end()) return field.key;
        if (!isValidUserSetValue(field, value->second)) return field.key + " = " + value->second;
    }
    return {};
}

// Writes `value` into `feature` as a client's write reaches the program: the device holds the value, then the
// write callback acts on it. A refused write leaves the device's previous value, as the device library does.
bool writeAsClient(CMainClass& bridge, const std::string& feature, UserSetValueKind kind, const std::string& value) {
    CGevCamera& camera = *bridge.camera;
    const char* name = feature.c_str();
    if (kind == UserSetValueKind::Float) {
        float real = 0.0f;
        float previous = 0.0f;
        std::from_chars(value.data(), value.data() + value.size(), real);
        camera.getFloatValue(name, &previous);
        if (!camera.setFloatValue(name, real)) return false;
        if (bridge.onRegisterWrite(name)) return true;
        camera.setFloatValue(name, previous);
        return false;
    }
    std::int64_t previous = 0;
    camera.getIntValue(name, &previous);
    bool stored = false;
    if (kind == UserSetValueKind::Entry) {
        stored = camera.setEnumValue(name, value.c_str());
    } else {
        std::int64_t integer = 0;
        std::from_chars(value.data(), value.data() + value.size(), integer);
        stored = camera.setIntValue(name, integer);
    }
    if (!stored) return false;
    if (bridge.onRegisterWrite(name)) return true;
    camera.setIntValue(name, previous);
    return false;
}

}  // namespace

void CMainClass::restoreUserSettings() {
    const std::string folder = programFolder();
    std::string serial;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        serial = serialNumber;
    }
    const std::string fileName = userSetFileName(serial);
    const std::filesystem::path path = pathInFolder(folder, fileName);
    const std::string shown = shownFolder(folder) + (folder.empty() ? "/" : "") + fileName;
    const std::string unwritable = unwritableReason(folder);
    if (!unwritable.empty()) {
        printErrorAndLog("WARNING: user sets and DeviceUserID cannot be stored in " + shownFolder(folder) + ": " +
                         unwritable + "\n");
    }

    UserSetFile file;
    std::error_code error;
    if (std::filesystem::exists(path, error)) {
        std::ifstream input(path, std::ios::binary);
        // One byte more than the reader takes, so that a longer file is refused as such.
        std::string text(kUserSetFileMaxBytes + 1, '\0');
        input.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<std::size_t>(input.gcount()));
        UserSetFileReading reading = readUserSetFile(text);
        if (!input.is_open() || input.bad()) reading = {false, {}, "it cannot be read"};
        if (reading.valid) {
            file = std::move(reading.file);
        } else {
            printErrorAndLog("ERROR: the user set file " + shown + " is not used: " + reading.problem +
                             ". The Default set is used; the next save replaces the file.\n");
        }
    }

    const int defaultSet = userSetIndex(file.defaultSet);
    {
        std::lock_guard<std::mutex> lock(userSetMutex_);
        userSetFileName_ = fileName;
        userSetFolder_ = folder;
        userSetFile_ = file;
        userSetStorageReported_ = !unwritable.empty();
        defaultValues_ = currentValues(*this);
    }
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        userSetDefault = static_cast<std::uint16_t>(defaultSet);
        if (!userNameFromOption) userDefinedName = file.deviceUserId;
    }
    if (!userNameFromOption && !file.deviceUserId.empty()) camera->setUserDefinedName(file.deviceUserId.c_str());

    const std::string setName = kUserSetNames[defaultSet];
    if (defaultSet == 0) {
        printError("User set Default in use: the sensor keeps its own settings\n");
    } else if (file.sets.count(setName) == 0) {
        printErrorAndLog("WARNING: UserSetDefault is " + setName +
                         ", which was never saved; the Default set is used\n");
    } else if (loadUserSet(static_cast<std::size_t>(defaultSet))) {
        printError("User set " + setName + " loaded\n");
    }
}

bool CMainClass::loadUserSet(std::size_t set) {
    const std::string setName = kUserSetNames[set];
    UserSetValues values;
    {
        std::lock_guard<std::mutex> lock(userSetMutex_);
        const auto saved = userSetFile_.sets.find(setName);
        if (set != 0 && saved == userSetFile_.sets.end()) {
            printErrorAndLog("ERROR: " + setName + " was never saved, so it cannot be loaded\n");
            return false;
        }
        values = set == 0 ? defaultValues_ : saved->second;
    }
    std::int64_t selectors[std::size(kSelectors)] = {};
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        const std::uint16_t current[] = {filterSelector, propertySelector, chunkSelector, componentSelector,
                                         triggerSelector};
        static_assert(std::size(current) == std::size(kSelectors));
        std::copy(std::begin(current), std::end(current), selectors);
    }

    // The components are written in SingleComponent mode, where disabling one never leaves a multipart block
    // empty on the way to the set's own components; the set's mode follows them.
    if (values.count("AcquisitionMultiPartMode") != 0)
        writeAsClient(*this, "AcquisitionMultiPartMode", UserSetValueKind::Entry, "SingleComponent");
    std::string refused;
    for (const UserSetField& field : userSetFields()) {
        const auto value = values.find(field.key);
        if (value == values.end()) continue;
        for (const auto& [selector, entry] : field.selectors)
            writeAsClient(*this, selector, UserSetValueKind::Integer, std::to_string(entry));
        if (!writeAsClient(*this, field.feature, field.kind, value->second)) {
            refused = field.key + " = " + value->second;
            break;
        }
    }
    for (std::size_t s = 0; s < std::size(kSelectors); ++s)
        writeAsClient(*this, kSelectors[s], UserSetValueKind::Integer, std::to_string(selectors[s]));
    // Reads show the sensor's values from now on, also those of a load that stopped half-way.
    settingsRefreshRequested = true;
    if (!refused.empty()) {
        printErrorAndLog("ERROR: " + setName + " could not be loaded: the device refused " + refused + "\n");
        return false;
    }
    return true;
}

bool CMainClass::saveUserSet(std::size_t set) {
    const std::string setName = kUserSetNames[set];
    if (set == 0) {
        printErrorAndLog("ERROR: the Default set cannot be saved: it stands for the sensor's own settings\n");
        return false;
    }
    refreshSettingsIfStale();
    const UserSetValues values = currentValues(*this);
    const std::string unstorable = unstorableSetting(values);
    if (!unstorable.empty()) {
        printErrorAndLog("ERROR: " + setName + " was not saved: " + unstorable + " cannot be stored\n");
        return false;
    }
    std::lock_guard<std::mutex> lock(userSetMutex_);
    UserSetFile file = userSetFile_;
    file.sets[setName] = values;
    if (!writeUserSetFileLocked(file)) return false;
    userSetFile_ = std::move(file);
    printError("User set " + setName + " saved\n");
    return true;
}

bool CMainClass::storeUserSetDefault(std::size_t set) {
    {
        std::lock_guard<std::mutex> lock(userSetMutex_);
        UserSetFile file = userSetFile_;
        file.defaultSet = kUserSetNames[set];
        if (!writeUserSetFileLocked(file)) return false;
        userSetFile_ = std::move(file);
    }
    std::lock_guard<std::mutex> lock(stateMutex);
    userSetDefault = static_cast<std::uint16_t>(set);
    return true;
}

bool CMainClass::storeDeviceUserId(const std::string& name) {
    {
        std::lock_guard<std::mutex> lock(userSetMutex_);
        UserSetFile file = userSetFile_;
        file.deviceUserId = name;
        if (!writeUserSetFileLocked(file)) return false;
        userSetFile_ = std::move(file);
    }
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        userDefinedName = name;
    }
    camera->setUserDefinedName(name.c_str());
    return true;
}

bool CMainClass::writeUserSetFileLocked(const UserSetFile& file) {
    std::string reason = "the sensor is not connected";
    if (!userSetFileName_.empty()) {
        const std::filesystem::path path = pathInFolder(userSetFolder_, userSetFileName_);
        const std::filesystem::path temporary = pathInFolder(userSetFolder_, userSetFileName_ + ".tmp");
        reason = os::writeFileToDisk(temporary, writeUserSetFile(file));
        std::error_code error;
        if (reason.empty()) std::filesystem::rename(temporary, path, error);
        if (error) reason = error.message();
        if (!reason.empty()) std::filesystem::remove(temporary, error);
    }
    if (reason.empty()) {
        userSetStorageReported_ = false;
        return true;
    }
    // A folder found unwritable at start-up was reported then; the client's write answers the error.
    const std::string message = "ERROR: the user sets could not be stored in " + shownFolder(userSetFolder_) +
                                userSetFileName_ + ": " + reason + "\n";
    if (userSetStorageReported_) {
        trace(message);
    } else {
        printErrorAndLog(message);
        userSetStorageReported_ = true;
    }
    return false;
}
