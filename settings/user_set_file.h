// The file that keeps a sensor's user sets and DeviceUserID across restarts: which settings a user set holds, in
// the order a load applies them, and the line-based text the file holds them in. Reading it checks everything, so
// that a file cut off while written, changed by hand or written by something else is refused as a whole.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The entries of UserSetSelector and UserSetDefault. Default is never stored: it stands for the sensor's own
// values.
constexpr std::size_t kUserSetCount = 4;
constexpr const char* kUserSetNames[kUserSetCount] = {"Default", "UserSet1", "UserSet2", "UserSet3"};
// DeviceUserID holds what the discovery answer's user-defined name field takes.
constexpr std::size_t kDeviceUserIdLength = 16;
// Far more than a file of three sets needs; a longer text is not one this program wrote.
constexpr std::size_t kUserSetFileMaxBytes = 64 * 1024;

enum class UserSetValueKind { Boolean, Integer, Float, Entry };

// One setting of a user set: the key it has in the file, the feature a load writes and the selector values
// written first, the kind of its value and what the file may hold for it.
struct UserSetField {
    std::string key;
    std::string feature;
    std::vector<std::pair<std::string, std::int64_t>> selectors;
    UserSetValueKind kind = UserSetValueKind::Float;
    double min = 0.0;  // Integer and Float
    double max = 0.0;
    std::vector<std::string> entries;  // Entry: the names allowed; empty: any name the device may offer
};

// Every setting of a user set, in the order a load applies them.
const std::vector<UserSetField>& userSetFields();

// A set's values as text, by key; a stored set holds every field.
using UserSetValues = std::map<std::string, std::string>;

struct UserSetFile {
    std::string deviceUserId;
    std::string defaultSet = kUserSetNames[0];
    std::map<std::string, UserSetValues> sets;  // the saved ones, by name (UserSet1 to UserSet3)
};

struct UserSetFileReading {
    bool valid = false;
    UserSetFile file;     // valid: what the file holds; otherwise empty
    std::string problem;  // otherwise: why it was refused, naming the line
};

// The index of a set name in kUserSetNames, or -1.
int userSetIndex(std::string_view name);
// Whether `name` may be a DeviceUserID: at most 16 printable ASCII characters.
bool isValidDeviceUserId(std::string_view name);
// Whether `value` is a value the file may hold for `field`.
bool isValidUserSetValue(const UserSetField& field, std::string_view value);
// The shortest text that reads back as exactly `value`.
std::string userSetFloatText(float value);

UserSetFileReading readUserSetFile(std::string_view text);
std::string writeUserSetFile(const UserSetFile& file);
