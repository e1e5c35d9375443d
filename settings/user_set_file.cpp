// Reading and writing the user set file. The text is
//
//   corvastrum-user-sets 1
//   DeviceUserID=<name>
//   UserSetDefault=<set>
//   set UserSet1
//   <key>=<value>          one line per setting, every setting of the set
//   ...
//   end
//
// Blank lines and lines starting with '#' are skipped. The closing "end" tells a complete file from one cut off
// at a line end; everything else that does not fit (a line without its line end, an unknown or repeated key, a
// value out of range, a set with a setting missing) refuses the whole file.
#include "user_set_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "main_class.h"

namespace {

constexpr std::string_view kHeader = "corvastrum-user-sets 1";
constexpr std::string_view kHeaderName = "corvastrum-user-sets";
constexpr std::string_view kEnd = "end";
constexpr std::string_view kSetPrefix = "set ";
constexpr std::size_t kMaxLineBytes = 256;
constexpr std::size_t kMaxEntryLength = 64;
constexpr double kAnyFloat = std::numeric_limits<float>::max();

std::vector<UserSetField> makeFields() {
    using Kind = UserSetValueKind;
    std::vector<UserSetField> fields;
    const auto add = [&fields](std::string key, std::string feature, Kind kind, double min = 0.0, double max = 0.0,
                               std::vector<std::pair<std::string, std::int64_t>> selectors = {},
                               std::vector<std::string> entries = {}) {
        fields.push_back(
            {std::move(key), std::move(feature), std::move(selectors), kind, min, max, std::move(entries)});
    };
    // The camera mode first: the sensor takes the settings that follow in the mode it is then in. The stack
    // mode, exposure, gain and LED power next; each filter is switched before its properties are set, as a
    // client must (a property is reachable only while its filter is on). The settings the program keeps itself
    // (chunks, components, trigger) send nothing to the sensor and come last.
    add("PixelFormat", "PixelFormat", Kind::Entry);
    add("StackAcquisitionMode", "StackAcquisitionMode", Kind::Entry);
    add("ExposureTime", "ExposureTime", Kind::Float, 0.0, kAnyFloat);
    add("Gain", "Gain", Kind::Float, -kAnyFloat, kAnyFloat);
    add("LightBrightness", "LightBrightness", Kind::Integer, std::numeric_limits<std::int32_t>::min(),
        std::numeric_limits<std::int32_t>::max());
    for (std::size_t f = 0; f < kFilterCount; ++f) {
        const auto filter = static_cast<std::int64_t>(f);
        add("FilterMode." + std::to_string(f), "FilterMode", Kind::Boolean, 0, 1, {{"FilterSelector", filter}});
        for (std::size_t entry = 0; entry < kPropertySelectorCount; ++entry) {
            if (kPropertyOwners[entry].filter != f) continue;
            add("PropertyValue." + std::to_string(f) + "." + std::to_string(kPropertyOwners[entry].property),
                "PropertyValue", Kind::Float, -kAnyFloat, kAnyFloat,
                {{"FilterSelector", filter}, {"PropertySelector", static_cast<std::int64_t>(entry)}});
        }
    }
    // Chunks are switched on before ChunkModeActive is restored, since switching the first one on sets it.
    add("ChunkEnable.Temperature", "ChunkEnable", Kind::Boolean, 0, 1, {{"ChunkSelector", 0}});
    add("ChunkModeActive", "ChunkModeActive", Kind::Boolean, 0, 1);
    for (std::size_t c = 0; c < kComponentCount; ++c) {
        add(std::string("ComponentEnable.") + kComponents[c].name, "ComponentEnable", Kind::Boolean, 0, 1,
            {{"ComponentSelector", static_cast<std::int64_t>(c)}});
    }
    add("AcquisitionMultiPartMode", "AcquisitionMultiPartMode", Kind::Entry, 0, 0, {},
        {"SingleComponent", "SynchronizedComponents"});
    add("TriggerMode", "TriggerMode", Kind::Entry, 0, 0, {{"TriggerSelector", 0}}, {"Off", "On"});
    std::vector<std::string> sources{"Software"};
    for (int action = 1; action <= kTriggerActionSources; ++action)
        sources.push_back("Action" + std::to_string(action));
    add("TriggerSource", "TriggerSource", Kind::Entry, 0, 0, {{"TriggerSelector", 0}}, sources);
    add("TriggerDelay", "TriggerDelay", Kind::Float, 0.0, kMaxTriggerDelayUs, {{"TriggerSelector", 0}});
    return fields;
}

const UserSetField* findField(std::string_view key) {
    for (const UserSetField& field : userSetFields())
        if (field.key == key) return &field;
    return nullptr;
}

bool isEntryName(std::string_view text) {
    return !text.empty() && text.size() <= kMaxEntryLength && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    });
}

template <typename Number>
bool readNumber(std::string_view text, Number& value) {
    if (text.empty() || text.front() == '+') return false;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end;
}

std::string lineProblem(std::size_t line, const std::string& text) {
    return "line " + std::to_string(line) + ": " + text;
}

// The set being read: its name and the keys seen so far.
struct OpenSet {
    std::string name;
    UserSetValues values;
};

std::string missingKey(const UserSetValues& values) {
    for (const UserSetField& field : userSetFields())
        if (values.count(field.key) == 0) return field.key;
    return {};
}

}  // namespace

const std::vector<UserSetField>& userSetFields() {
    static const std::vector<UserSetField> fields = makeFields();
    return fields;
}

int userSetIndex(std::string_view name) {
    for (std::size_t i = 0; i < kUserSetCount; ++i)
        if (name == kUserSetNames[i]) return static_cast<int>(i);
    return -1;
}

bool isValidDeviceUserId(std::string_view name) {
    return name.size() <= kDeviceUserIdLength &&
           std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

bool isValidUserSetValue(const UserSetField& field, std::string_view value) {
    switch (field.kind) {
        case UserSetValueKind::Boolean: return value == "0" || value == "1";
        case UserSetValueKind::Integer: {
            std::int64_t number = 0;
            return readNumber(value, number) && static_cast<double>(number) >= field.min &&
                   static_cast<double>(number) <= field.max;
        }
        case UserSetValueKind::Float: {
            float number = 0.0f;
            return readNumber(value, number) && std::isfinite(number) && number >= field.min && number <= field.max;
        }
        case UserSetValueKind::Entry:
            return field.entries.empty()
                       ? isEntryName(value)
                       : std::find(field.entries.begin(), field.entries.end(), value) != field.entries.end();
    }
    return false;
}

std::string userSetFloatText(float value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

UserSetFileReading readUserSetFile(std::string_view text) {
    UserSetFileReading reading;
    const auto refuse = [&reading](std::string problem) {
        reading.problem = std::move(problem);
        return reading;
    };
    if (text.size() > kUserSetFileMaxBytes)
        return refuse("larger than " + std::to_string(kUserSetFileMaxBytes) + " bytes");
    if (!text.empty() && text.back() != '\n') return refuse("the last line has no line end: the file was cut off");

    UserSetFile file;
    bool headerRead = false;
    bool ended = false;
    bool userIdRead = false;
    bool defaultRead = false;
    OpenSet open;
    const auto closeSet = [&file, &open]() -> std::string {
        if (open.name.empty()) return {};
        const std::string missing = missingKey(open.values);
        if (!missing.empty()) return open.name + " has no " + missing;
        file.sets[open.name] = std::move(open.values);
        open = {};
        return {};
    };

    std::size_t number = 0;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t stop = text.find('\n', start);
        std::string_view line = text.substr(start, stop - start);
        start = stop + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // written by a Windows editor
        if (line.size() > kMaxLineBytes)
            return refuse(lineProblem(number, "longer than " + std::to_string(kMaxLineBytes) + " characters"));
        if (!headerRead) {
            if (line.substr(0, kHeaderName.size()) != kHeaderName)
                return refuse(lineProblem(
                    number, "not a user set file (its first line is not \"" + std::string(kHeader) + "\")"));
            if (line != kHeader) return refuse(lineProblem(number, "a format version this program does not know"));
            headerRead = true;
            continue;
        }
        if (line.empty() || line.front() == '#') continue;
        if (ended) return refuse(lineProblem(number, "text after the end line"));
        if (line == kEnd) {
            const std::string problem = closeSet();
            if (!problem.empty()) return refuse(lineProblem(number, problem));
            ended = true;
            continue;
        }
        if (line.substr(0, kSetPrefix.size()) == kSetPrefix) {
            const std::string problem = closeSet();
            if (!problem.empty()) return refuse(lineProblem(number, problem));
            const std::string name(line.substr(kSetPrefix.size()));
            if (userSetIndex(name) < 1) return refuse(lineProblem(number, "no user set is named \"" + name + "\""));
            if (file.sets.count(name) != 0) return refuse(lineProblem(number, name + " appears twice"));
            open.name = name;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) return refuse(lineProblem(number, "neither a setting nor a set"));
        const std::string key(line.substr(0, equals));
        const std::string_view value = line.substr(equals + 1);
        if (open.name.empty()) {
            // The settings of the device itself stand before the sets.
            if (key == "DeviceUserID" && !userIdRead) {
                if (!isValidDeviceUserId(value))
                    return refuse(lineProblem(number, "DeviceUserID is longer than 16 characters or not printable"));
                file.deviceUserId = std::string(value);
                userIdRead = true;
            } else if (key == "UserSetDefault" && !defaultRead) {
                if (userSetIndex(value) < 0)
                    return refuse(lineProblem(number, "no user set is named \"" + std::string(value) + "\""));
                file.defaultSet = std::string(value);
                defaultRead = true;
            } else {
                return refuse(lineProblem(number, "\"" + key + "\" is unknown here or given twice"));
            }
            continue;
        }
        const UserSetField* field = findField(key);
        if (field == nullptr) return refuse(lineProblem(number, "a user set has no setting \"" + key + "\""));
        if (open.values.count(key) != 0) return refuse(lineProblem(number, key + " appears twice in " + open.name));
        if (!isValidUserSetValue(*field, value))
            return refuse(lineProblem(number, key + " = " + std::string(value) + " is out of range"));
        open.values[key] = std::string(value);
    }
    if (!headerRead) return refuse("the file is empty");
    if (!ended) return refuse("the end line is missing: the file was cut off");
    reading.valid = true;
    reading.file = std::move(file);
    return reading;
}

std::string writeUserSetFile(const UserSetFile& file) {
    std::string text(kHeader);
    text += "\n# DeviceUserID, the set loaded at start and the saved user sets of one sensor\n";
    text += "DeviceUserID=" + file.deviceUserId + "\n";
    text += "UserSetDefault=" + file.defaultSet + "\n";
    for (const auto& [name, values] : file.sets) {
        text += "set " + name + "\n";
        // In the order a load applies them, which is also the order to read them in.
        for (const UserSetField& field : userSetFields()) {
            const auto value = values.find(field.key);
            if (value != values.end()) text += field.key + "=" + value->second + "\n";
        }
    }
    text += std::string(kEnd) + "\n";
    return text;
}
