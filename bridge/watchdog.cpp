// The two watchers of the bridge's ends: the sensor link (polled) and the client's presence (called back).
#include <string>

#include "main_class.h"
#include "tavrion.h"

namespace {

// While a client watches the temperature against a threshold, it is read this often even when nobody reads
// DeviceTemperature or the temperature chunk.
constexpr int kTemperaturePolls = 10;  // status polls

}  // namespace

void sensorWatchdog(void* context) {
    auto* bridge = static_cast<CMainClass*>(context);
    std::int32_t status = 0;
    if (bridge->stopThreads) return;
    for (int poll = 1;; ++poll) {
        if (poll % kTemperaturePolls == 0 && bridge->temperatureThreshold.load() > 0) bridge->readSensorTemperature();
        const std::int32_t code = Tavrion_GetSensorStatus(bridge->sensorHandle, &status);
        if (code != 0) {
            bridge->trace("WARNING: Failed GetSensorStatus. Error code " + std::to_string(code) + "\n");
        }
        if ((status & TAVRION_STATUS_LINK_ALIVE) == 0) break;
        os::sleepMs(100);
        if (bridge->stopThreads) return;
    }
    // The line goes to standard error first and then to the debug file, so it shows even without -f.
    const std::string lost = "Error: Connection to Corvastrum 3D Sensor is lost\n";
    bridge->sendDeviceEvent(DeviceEvent::Error, 0, static_cast<std::uint32_t>(TAVRION_ERR_LINK_DOWN));
    bridge->printError(lost);
    bridge->writeToDebugFile(lost);
    bridge->sensorLost = true;
}

void CMainClass::onClientConnection(bool connected) {
    if (connected) {
        printError("\nClient is connected\n");
        return;
    }
    printError("\nClient is disconnected\n");
    // Nobody receives the frames any more: the acquisition stops (the thread tells the sensor), without
    // holding up the control channel until it has.
    requestAcquisitionStop(false);
}
