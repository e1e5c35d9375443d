// Answering a client's register read: refresh the settings from the sensor when they are stale or a write
// asked for it, then store the feature's current value in the device and trace the read.
#include <string>

#include "feature_table.h"
#include "main_class.h"
#include "tavrion.h"

namespace {

constexpr std::uint32_t kRefreshIntervalMs = 1000;

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
    const FeatureRow* row = findFeatureRow(name);
    const ReadRule rule = row != nullptr ? row->read : ReadRule{};
    if (rule.answer == nullptr) {
        trace("Read " + name + "\n");
        return true;
    }
    ReadAnswer answer;
    if (rule.holdsStateLock) {
        std::lock_guard<std::mutex> lock(stateMutex);
        answer = rule.answer(*this);
    } else {
        answer = rule.answer(*this);
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
