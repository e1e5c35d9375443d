// The two sensor requests every part of the bridge makes the same way: a command whose failure goes to the
// trace, and the temperature read that keeps the last good value when the sensor does not answer.
#include <cstdlib>
#include <string>

#include "main_class.h"
#include "tavrion.h"

std::int32_t CMainClass::sendSensorCommand(const std::string& command) {
    const std::int32_t code = Tavrion_WriteData(sensorHandle, command.c_str(), 0);
    if (code != 0) {
        trace("WARNING: Failed WriteData [" + command + "]. Error code " + std::to_string(code) + "\n");
        sendDeviceEvent(DeviceEvent::Error, 0, static_cast<std::uint32_t>(code));
    }
    return code;
}

void CMainClass::readSensorTemperature() {
    char reply[100] = {};
    const std::int32_t code = Tavrion_ReadData(sensorHandle, "GetTemperature", reply, sizeof reply, 0);
    if (code != 0) {
        // The reply holds nothing to convert then.
        trace("WARNING: Failed ReadData [GetTemperature]. Error code " + std::to_string(code) + "\n");
        return;
    }
    reply[sizeof reply - 1] = '\0';
    const auto degrees = static_cast<std::uint16_t>(std::atoi(reply));
    sensorTemperature.store(degrees);
    noteSensorTemperature(degrees);
}
