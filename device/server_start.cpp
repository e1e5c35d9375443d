// Turning a connected sensor into a GigE Vision device: reset the device state, derive the coordinate
// records, put the sensor into camera mode 0, declare identity and feature tree, restore the stored name and
// user set, choose the address, bring the server online and start the watchdog and acquisition threads.
#include <string>

#include "feature_tree.h"
#include "main_class.h"

namespace {

void resetDeviceState(CMainClass& bridge) {
    std::lock_guard<std::mutex> lock(bridge.stateMutex);
    bridge.filterSelector = 0;
    bridge.propertySelector = 0;
    bridge.propertyIndex = 0;
    bridge.coordinateSelector = 0;
    bridge.chunkSelector = 0;
    bridge.chunkPayloadSize = 0;
    bridge.enabledChunkCount = 0;
    bridge.acquisitionMode = 1;
    bridge.triggerSelector = 0;
    bridge.triggerMode = 0;
    bridge.triggerSource = kTriggerSourceSoftware;
    bridge.triggerDelayUs = 0.0f;
    bridge.maskPath.clear();
    bridge.pixelFormat = "Mono8";

    bridge.scale16X = bridge.measuringRangeX / 65535.0;
    bridge.scale16Y = bridge.measuringRangeY / 65535.0;
    bridge.scale16Z = bridge.measuringRangeZ / 65535.0;

    bridge.chunks[0].name = "ChunkTemperature";
    bridge.chunks[0].address = kTemperatureChunkId;
    bridge.chunks[0].enabled = false;

    const double limits[3][2] = {
        {bridge.measuringRangeX * -0.5, bridge.measuringRangeX * 0.5},
        {bridge.measuringRangeY * -0.5, bridge.measuringRangeY * 0.5},
        {bridge.workingRangeZStart, bridge.measuringRangeZ + bridge.workingRangeZStart},
    };
    for (int axis = 0; axis < 3; ++axis) {
        CoordinateInfo& coordinate = bridge.coordinates[axis];
        coordinate.scale = 1.0f;
        coordinate.offset = 0.0f;
        coordinate.invalidDataFlag = axis == 2;
        coordinate.invalidDataValue = 0.0f;
        coordinate.axisMin = static_cast<float>(limits[axis][0]);
        coordinate.axisMax = static_cast<float>(limits[axis][1]);
    }
}

}  // namespace

bool CMainClass::startDeviceServer(std::string serverAddress, std::int32_t interfaceIndex) {
    resetDeviceState(*this);
    resetAcquisitionState();

    sendSensorCommand("SetCameraMode=0");

    camera->setDeviceInfo(producer.c_str(), orderNumber.c_str(), "1.0.0", description.c_str(), serialNumber.c_str());
    camera->setMacAddress(macAddress.c_str());
    if (!userDefinedName.empty()) camera->setUserDefinedName(userDefinedName.c_str());

    declareFeatureTree(*this);
    // Before the server is online, so that discovery shows the stored name from the first answer on and no client
    // meets a set half loaded.
    restoreUserSettings();

    // An index that names no listed interface is refused like a failed start, before the list is read.
    const bool validIndex = interfaceIndex == -1 || (interfaceIndex >= 0 && static_cast<std::size_t>(interfaceIndex) <
                                                                                interfaceAddresses.size());
    int started = 1;
    if (validIndex && interfaceIndex == -1) {
        started = camera->startServer(serverAddress.c_str());
    } else if (validIndex) {
        const std::string interfaceAddress = interfaceAddresses[static_cast<std::size_t>(interfaceIndex)];
        if (serverAddress == interfaceAddress) {
            started = camera->startServer(serverAddress.c_str());
        } else {
            camera->addIpAddress(serverAddress.c_str(), "255.255.255.0", "0.0.0.0");
            started = camera->startServer(interfaceAddress.c_str());
        }
    }
    if (started != 0) {
        printError("ERROR: Could not bring the server online\n");
        return false;
    }
    printError("GigeServer is online\n");
    stopThreads = false;
    watchdogThread = std::make_unique<std::thread>(sensorWatchdog, this);
    setAcquisitionLoopPresent(true);  // from now on start and stop wait for the thread to act on them
    acquisitionThread = std::make_unique<std::thread>(acquisitionLoop, this);
    return true;
}
