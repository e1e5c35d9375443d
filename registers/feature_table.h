// The bridge's features as the register callbacks see them: one row a feature name, saying how a read
// answers and how a write acts. A plain feature is one row built from the helpers below; the few that need
// more name a handler of their own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

class CMainClass;

// What a read stores in the device and how its trace shows the value.
struct ReadAnswer {
    enum class Kind { TraceOnly, Integer, Float, Text } kind = Kind::TraceOnly;
    std::int64_t integer = 0;
    float real = 0.0f;
    std::string text;
    std::string traced;
};

ReadAnswer integerAnswer(std::int64_t value);
ReadAnswer floatAnswer(float value);

struct ReadRule {
    ReadAnswer (*answer)(CMainClass& bridge) = nullptr;  // null: the read is traced by its name alone
    // The command registers answer from the acquisition's own lock, which is never taken inside the state lock.
    bool holdsStateLock = true;
};

enum class WriteKind {
    TraceName,        // traced by name and accepted
    TraceEmptyValue,  // traced with an empty value and accepted
    SendInteger,      // "command=value" to the sensor, then a settings refresh
    SendFloat,        // the same with the value in six decimals
    StoreInteger,     // the value goes into a member of the bridge under the state lock
    PayloadChange,    // refused while an acquisition runs, since the payload must stay as it is
    Handler,          // a handler of the feature's own reads and traces the value itself
};

struct WriteRule {
    WriteKind kind = WriteKind::TraceName;
    const char* command = nullptr;                       // SendInteger, SendFloat
    void (*store)(CMainClass&, std::int64_t) = nullptr;  // StoreInteger, under the state lock
    void (*afterStore)(CMainClass&) = nullptr;           // StoreInteger: selectors that follow, same lock
    bool (*apply)(CMainClass&, std::int64_t) = nullptr;  // PayloadChange; null: nothing to apply
    bool (*handle)(CMainClass&, const char*) = nullptr;  // Handler, given the feature's name
};

struct FeatureRow {
    std::string_view name;
    ReadRule read = {};    // none: the read is traced by name
    WriteRule write = {};  // none: the write is traced by name and accepted
};

// The row of a feature name; null for a name the bridge only traces.
const FeatureRow* findFeatureRow(std::string_view name);

// Helpers that make a row.
template <auto Member>
ReadAnswer answerMember(CMainClass& bridge) {
    return integerAnswer(static_cast<std::int64_t>(bridge.*Member));
}
template <auto Member>
constexpr ReadRule readsInteger() {
    return {&answerMember<Member>};
}

template <auto Member>
void storeMember(CMainClass& bridge, std::int64_t value) {
    // Members are as wide as their feature's values; a wider value keeps its low bits, as it always did.
    bridge.*Member = static_cast<std::remove_reference_t<decltype(bridge.*Member)>>(value);
}
template <auto Member>
constexpr WriteRule storesInteger(void (*afterStore)(CMainClass&) = nullptr) {
    return {WriteKind::StoreInteger, nullptr, &storeMember<Member>, afterStore};
}

constexpr WriteRule sendsInteger(const char* command) { return {WriteKind::SendInteger, command}; }
constexpr WriteRule sendsFloat(const char* command) { return {WriteKind::SendFloat, command}; }
constexpr WriteRule changesPayload(bool (*apply)(CMainClass&, std::int64_t) = nullptr) {
    return {WriteKind::PayloadChange, nullptr, nullptr, nullptr, apply};
}
constexpr WriteRule handledBy(bool (*handle)(CMainClass&, const char*)) {
    return {WriteKind::Handler, nullptr, nullptr, nullptr, nullptr, handle};
}

// What the write callback and the handlers share: the written value read from the device and traced, and a
// sensor command that asks for a settings refresh once the sensor took it.
std::int64_t readWrittenInteger(CMainClass& bridge, const char* featureName);
float readWrittenFloat(CMainClass& bridge, const char* featureName);
bool sendAndRequestRefresh(CMainClass& bridge, const std::string& command);
