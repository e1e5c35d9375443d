// What the bridge reports as events, and when; see device_events.h.
#include "device_events.h"

#include <string>

#include "main_class.h"

namespace {

struct EventDeclaration {
    const char* name;
    DeviceEvent event;
    const char* dataFeature;
};

constexpr EventDeclaration kEvents[] = {
    {"AcquisitionStart", DeviceEvent::AcquisitionStart, nullptr},
    {"AcquisitionEnd", DeviceEvent::AcquisitionEnd, nullptr},
    {"ExposureEnd", DeviceEvent::ExposureEnd, nullptr},
    {"FrameEnd", DeviceEvent::FrameEnd, nullptr},
    {"FrameTriggerMissed", DeviceEvent::FrameTriggerMissed, nullptr},
    {"DeviceTemperatureExceeded", DeviceEvent::DeviceTemperatureExceeded, nullptr},
    {"Error", DeviceEvent::Error, "EventErrorCode"},
};

}  // namespace

void declareDeviceEvents(CGevCamera& camera) {
    camera.addCategory("EventControl", "Root");
    for (const EventDeclaration& declaration : kEvents)
        camera.addEvent(declaration.name, static_cast<std::uint16_t>(declaration.event), declaration.dataFeature,
                        "EventControl");
}

void CMainClass::sendDeviceEvent(DeviceEvent event, std::uint64_t blockId, std::uint32_t data) {
    if (!camera) return;
    camera->sendEvent(static_cast<std::uint16_t>(event), blockId, camera->getTimestamp(), data);
}

void CMainClass::noteSensorTemperature(std::uint16_t degrees) {
    const std::int32_t threshold = temperatureThreshold.load();
    const bool above = threshold > 0 && degrees > threshold;
    // Once per crossing, whichever thread read the temperature first.
    if (!above) {
        temperatureAboveThreshold = false;
    } else if (!temperatureAboveThreshold.exchange(true)) {
        printError("WARNING: The sensor temperature " + std::to_string(degrees) + " \xC2\xB0" + "C exceeds " +
                   std::to_string(threshold) + " \xC2\xB0" + "C\n");
        sendDeviceEvent(DeviceEvent::DeviceTemperatureExceeded, camera->getUpcomingBlockId(0, 1));
    }
}
