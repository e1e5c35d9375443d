// The demo device's features and the callbacks that print every register access.
#include "demo_features.h"

#include <cstring>
#include <string>

namespace demo {

void declareDemoFeatures(CGevCamera& camera, const char* serial) {
    camera.setDeviceInfo("Pellicor", "DemoDevice", "1.0.0", "Example device of the GigE library", serial);
    camera.setUserDefinedName("demo");

    camera.addCategory("DeviceControl", "Root");
    camera.addFeature(GevString, "DeviceVendorName", "DeviceControl", GevReadOnly, nullptr, 1);
    camera.setStringValue("DeviceVendorName", "Pellicor");
    camera.addFeature(GevString, "DeviceModelName", "DeviceControl", GevReadOnly, nullptr, 1);
    camera.setStringValue("DeviceModelName", "DemoDevice");
    camera.addFeature(GevString, "DeviceSerialNumber", "DeviceControl", GevReadOnly, nullptr, 1);
    camera.setStringValue("DeviceSerialNumber", serial);

    camera.addCategory("DemoControl", "Root");
    camera.setDescription("DemoControl", "Features of every type to try the library with");
    camera.addFeature(GevInteger, "DemoInteger", "DemoControl", GevReadWrite, nullptr, 1);
    camera.setIntRange("DemoInteger", 0, 100, 1);
    camera.setDescription("DemoInteger", "An integer from 0 to 100");
    camera.setIntValue("DemoInteger", 42);
    camera.addFeature(GevInteger, "DemoReadCounter", "DemoControl", GevReadOnly, nullptr, 1);
    camera.setDescription("DemoReadCounter", "Read-only: counts its own reads");
    camera.setNodeElement("regDemoReadCounter", "PollingTime", "1000", false);
    camera.addFeature(GevFloat, "DemoGain", "DemoControl", GevReadWrite, nullptr, 1);
    camera.setFloatRange("DemoGain", 0.0F, 24.0F);
    camera.setFloatValue("DemoGain", 1.5F);
    camera.addFeature(GevString, "DemoLabel", "DemoControl", GevReadWrite, nullptr, 1);
    camera.setStringValue("DemoLabel", "hello");
    camera.addFeature(GevBoolean, "DemoEnable", "DemoControl", GevReadWrite, nullptr, 1);
    camera.addFeature(GevEnumeration, "DemoMode", "DemoControl", GevReadWrite, nullptr, 1);
    camera.addEnumEntry("DemoMode", "Slow", 0);
    camera.addEnumEntry("DemoMode", "Fast", 1);
    camera.addEnumEntry("DemoMode", "Auto", 2);
    camera.setEnumEntryElement("DemoMode", "Auto", "pIsAvailable", "DemoEnable", false);
    camera.setEnumValue("DemoMode", "Fast");
    camera.setNodeElement("DemoMode", "pSelected", "DemoModeIsFast", true);
    camera.addNode("IntSwissKnife", "DemoModeIsFast", "DemoControl", 0);
    camera.setNodeElementAttribute("DemoModeIsFast", "pVariable", "DemoMode", "Name", "VAR1");
    camera.setNodeElement("DemoModeIsFast", "Formula", "VAR1=1?1:0", false);
    camera.setNodeElement("DemoModeIsFast", "Visibility", "Guru", false);

    camera.addChunkCategory("ChunkDataControl");
    camera.addChunkFeature(0xFFFFF0, "ChunkTemperature", "ChunkDataControl", GevReadOnly, 4,
                           "Device temperature in degrees Celsius");
    camera.addPixelFormat("Mono16");
    camera.setImageSize(640, 480, 0);
}

void AccessReporter::install() {
    camera_.setReadCallback(this, &AccessReporter::onRead);
    camera_.setWriteCallback(this, &AccessReporter::onWrite);
    camera_.setConnectionCallback(this, &AccessReporter::onConnection);
    camera_.setActionCallback(this, &AccessReporter::onAction);
}

bool AccessReporter::onRead(void* context, const char* name) {
    auto* self = static_cast<AccessReporter*>(context);
    const int count = ++self->reads;
    if (std::strcmp(name, "DemoReadCounter") == 0) self->camera_.setIntValue(name, count);
    if (self->log_ != nullptr) std::fprintf(self->log_, "read %s\n", name);
    return true;
}

bool AccessReporter::onWrite(void* context, const char* name) {
    auto* self = static_cast<AccessReporter*>(context);
    ++self->writes;
    if (self->writeListener) self->writeListener(name);
    if (self->log_ == nullptr) return true;
    std::int64_t integer = 0;
    float number = 0;
    char text[128] = {};
    if (self->camera_.getIntValue(name, &integer))
        std::fprintf(self->log_, "write %s = %lld\n", name, static_cast<long long>(integer));
    else if (self->camera_.getFloatValue(name, &number))
        std::fprintf(self->log_, "write %s = %g\n", name, static_cast<double>(number));
    else if (self->camera_.getStringValue(name, text, sizeof text))
        std::fprintf(self->log_, "write %s = %s\n", name, text);
    else
        std::fprintf(self->log_, "write %s\n", name);
    std::fflush(self->log_);
    return true;
}

void AccessReporter::onConnection(void* context, bool connected) {
    auto* self = static_cast<AccessReporter*>(context);
    ++(connected ? self->connections : self->disconnections);
    if (self->connectionListener) self->connectionListener(connected);
    if (self->log_ != nullptr) {
        std::fprintf(self->log_, connected ? "client connected\n" : "client disconnected\n");
        std::fflush(self->log_);
    }
}

// How late the library delivered the action, on the device clock, shows what a trigger by action may expect.
void AccessReporter::onAction(void* context, int actionIndex, std::uint64_t actionTicks) {
    auto* self = static_cast<AccessReporter*>(context);
    const std::uint64_t now = self->camera_.getTimestamp();
    ++self->actions;
    if (self->log_ == nullptr) return;
    std::fprintf(self->log_, "action Action%d for device time %llu, taken %lld ns after it\n", actionIndex + 1,
                 static_cast<unsigned long long>(actionTicks), static_cast<long long>(now - actionTicks));
    std::fflush(self->log_);
}

}  // namespace demo
