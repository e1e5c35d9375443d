// The events the device tells its controlling client about on the message channel, with the ids they carry.
// Each event names the block it belongs to (0: none) and the device time it happened; Error carries the
// sensor SDK's error code as its data (EventErrorCode). A client chooses which it receives with
// EventSelector / EventNotification.
#pragma once

#include <cstdint>

class CGevCamera;

enum class DeviceEvent : std::uint16_t {
    AcquisitionStart = 0x9000,  // the sensor was told to start acquiring
    AcquisitionEnd = 0x9001,    // the sensor was told to stop acquiring
    ExposureEnd = 0x9002,       // the sensor answered its trigger: the capture is over, the scene may move
    FrameEnd = 0x9003,          // the block's last packet was handed to the network
    FrameTriggerMissed = 0x9004,
    DeviceTemperatureExceeded = 0x9005,  // once per rise above DeviceTemperatureThreshold
    Error = 0x9006,                      // a sensor command failed, or the sensor link was lost
};

// Declares every event above with its data features, under the category "EventControl".
void declareDeviceEvents(CGevCamera& camera);
