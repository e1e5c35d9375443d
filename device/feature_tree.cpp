// Declaring the bridge's feature tree to the camera object: the categories and features in the order clients
// list them, with the limits and fixed values of the settings record.
#include "feature_tree.h"

#include <algorithm>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "component_features.h"
#include "main_class.h"

namespace {

constexpr const char* kRoot = "Root";
constexpr const char* kLock = "regTLParamsLocked";

// The six read-only features that follow the selected 3D coordinate axis.
constexpr const char* kCoordinateFeatures[][2] = {
    {"Scan3dCoordinateScale", "Scale factor when transforming a pixel from relative coordinates to sensor coordinates"},
    {"Scan3dCoordinateOffset",
     "Offset factor when transforming a pixel from relative coordinates to sensor coordinates"},
    {"Scan3dInvalidDataFlag", "Enables the definition of a non-valid flag value in the data stream"},
    {"Scan3dInvalidDataValue", "Value which identifies a non-valid pixel if Scan3dInvalidDataFlag is enabled"},
    {"Scan3dAxisMin", "Minimum valid transmitted coordinate value of the selected axis"},
    {"Scan3dAxisMax", "Maximum valid transmitted coordinate value of the selected axis"},
};

std::string reg(const std::string& feature) { return "reg" + feature; }

// The bridge's categories; ImageFormatControl and AcquisitionControl are the library's own, and the library files
// DeviceManufacturerInfo under DeviceControl.
void declareCategories(CGevCamera& camera) {
    camera.addCategory("TLParamsLockedCategory", kRoot);
    camera.setNodeElement("TLParamsLockedCategory", "Visibility", "Invisible", true);
    camera.addCategory("AnalogControl", kRoot);
    camera.addCategory("LightControl", kRoot);
    camera.addChunkCategory("ChunkDataControl");
    camera.addCategory("Scan3DControl", kRoot);
    camera.addCategory("DeviceControl", kRoot);
    camera.addCategory("FilterControl", kRoot);
    camera.setNodeElement("FilterControl", "Visibility", "Guru", false);
}

void declareLockAndImageFormat(CMainClass& bridge, CGevCamera& camera) {
    camera.addFeature(GevInteger, "TLParamsLocked", "TLParamsLockedCategory", GevReadWrite, nullptr, 1);
    camera.setIntRange("TLParamsLocked", 0, 1, 1);
    camera.setIntValue("TLParamsLocked", 0);
    camera.setNodeElement("TLParamsLocked", "Visibility", "Invisible", true);

    for (const char* name : {"Width", "Height", "OffsetX", "OffsetY"}) {
        camera.setAccessMode(name, GevReadOnly);
        camera.setNodeElement(reg(name).c_str(), "pInvalidator", "StackAcquisitionMode", false);
    }
    for (const char* format : {"Mono16", "RGB16", "Coord3D_ABC32f"}) camera.addPixelFormat(format);
    camera.setNodeElement("PixelFormat", "Streamable", "Yes", false);
    camera.setNodeElement("PixelFormat", "pIsLocked", kLock, false);
    camera.setImageSize(bridge.roiWidth, bridge.roiHeight, 0);
    camera.setImageOffset(bridge.roiOffsetX, bridge.roiOffsetY, 0);

    for (const auto& [name, text, size] :
         {std::tuple{"SensorWidth", "Effective width of the camera sensor in pixels", bridge.pixelXMax},
          std::tuple{"SensorHeight", "Effective height of the camera sensor in pixels", bridge.pixelYMax}}) {
        camera.addFeature(GevInteger, name, "ImageFormatControl", GevReadOnly, nullptr, 1);
        camera.setDescription(name, text);
        camera.setIntRange(name, size, size, 1);
        camera.setIntValue(name, size);
    }

    camera.addFeature(GevString, "PathToMask", "ImageFormatControl", GevReadWrite, nullptr, 1);
    camera.setDescription("PathToMask", "Defines the path to the binary mask");
    camera.setNodeElement("PathToMask", "Visibility", "Invisible", false);
    camera.setNodeElement("PathToMask", "Streamable", "Yes", false);
    camera.setNodeElement("PathToMask", "Cachable", "WriteAround", false);
    camera.setNodeElement("PathToMask", "pIsLocked", kLock, false);
}

void declareAcquisitionAndAnalog(CMainClass& bridge, CGevCamera& camera) {
    camera.setDescription("AcquisitionMode", "Sets the acquisition mode of the sensor");
    camera.addEnumEntry("AcquisitionMode", "Continuous", 1);
    camera.addEnumEntry("AcquisitionMode", "SingleFrame", 2);
    camera.setNodeElement("AcquisitionMode", "Streamable", "Yes", false);
    camera.setNodeElement("AcquisitionMode", "pIsLocked", kLock, false);
    camera.setNodeElement("regAcquisitionMode", "Cachable", "WriteAround", false);

    camera.addFeature(GevFloat, "ExposureTime", "AcquisitionControl", GevReadWrite, nullptr, 1);
    camera.setDescription("ExposureTime", "Sets the exposure time of the integrated camera in \xCE\xBCs.");
    camera.setFloatRange("ExposureTime", bridge.exposureTimeMin, bridge.exposureTimeMax);

    camera.addFeature(GevEnumeration, "StackAcquisitionMode", "AcquisitionControl", GevReadWrite, nullptr, 1);
    camera.setDescription("StackAcquisitionMode", "Selects the Stack acquisition mode");
    for (int mode = bridge.stackAcquisitionModeMin; mode <= bridge.stackAcquisitionModeMax; ++mode) {
        camera.addEnumEntry("StackAcquisitionMode", ("mode" + std::to_string(mode)).c_str(), mode);
    }
    camera.setNodeElement("StackAcquisitionMode", "pIsLocked", kLock, false);
    camera.setNodeElement("StackAcquisitionMode", "Streamable", "Yes", false);
    camera.setNodeElement("regStackAcquisitionMode", "Cachable", "WriteAround", false);

    camera.addFeature(GevFloat, "Gain", "AnalogControl", GevReadWrite, nullptr, 1);
    camera.setDescription("Gain", "Controls the gain of the integrated camera");
    camera.setFloatRange("Gain", static_cast<float>(bridge.gainMin), static_cast<float>(bridge.gainMax));
    // The sensor takes the written value (SetGain with six decimals) and keeps its whole part: the increment tells
    // a client that 2.5 reads back as 2.
    camera.setNodeElement("Gain", "Inc", "1", false);
    camera.setNodeElement("regGain", "Cachable", "WriteAround", false);
    camera.setNodeElement("regGain", "Streamable", "Yes", false);

    camera.addFeature(GevInteger, "LightBrightness", "LightControl", GevReadWrite, nullptr, 1);
    camera.setDescription("LightBrightness", "Controls the LED Power");
    camera.setIntRange("LightBrightness", bridge.ledPowerMin, bridge.ledPowerMax, 1);
    camera.setNodeElement("LightBrightness", "Visibility", "Guru", false);
    camera.setNodeElement("regLightBrightness", "Cachable", "WriteAround", false);
    camera.setNodeElement("regLightBrightness", "Streamable", "Yes", false);

    camera.addChunkFeature(bridge.chunks[0].address, bridge.chunks[0].name.c_str(), "ChunkDataControl", GevReadOnly, 4,
                           nullptr);
}

// The frame-start trigger in the standard model. Its features stay writable while an acquisition runs, as on
// cameras, so that a cell can switch between free-running and triggered without stopping.
void declareTrigger(CGevCamera& camera) {
    camera.addFeature(GevEnumeration, "TriggerSelector", "AcquisitionControl", GevReadWrite, nullptr, 1);
    camera.setDescription("TriggerSelector", "Selects the trigger to configure: the start of each frame");
    camera.addEnumEntry("TriggerSelector", "FrameStart", 0);
    for (const char* selected : {"TriggerMode", "TriggerSource", "TriggerSoftware", "TriggerDelay"})
        camera.setNodeElement("TriggerSelector", "pSelected", selected, true);

    camera.addFeature(GevEnumeration, "TriggerMode", "AcquisitionControl", GevReadWrite, nullptr, 1);
    camera.setDescription("TriggerMode",
                          "Off: the sensor captures continuously. On: each trigger from TriggerSource starts "
                          "exactly one capture and one frame");
    camera.addEnumEntry("TriggerMode", "Off", 0);
    camera.addEnumEntry("TriggerMode", "On", kTriggerModeOn);

    camera.addFeature(GevEnumeration, "TriggerSource", "AcquisitionControl", GevReadWrite, nullptr, 1);
    camera.setDescription("TriggerSource",
                          "Software: TriggerSoftware. ActionN: an action command for action signal N (see "
                          "ActionSelector), at its action time when scheduled");
    camera.addEnumEntry("TriggerSource", "Software", kTriggerSourceSoftware);
    for (std::uint16_t action = 0; action < kTriggerActionSources; ++action) {
        const std::string entry = "Action" + std::to_string(action + 1);
        camera.addEnumEntry("TriggerSource", entry.c_str(), kTriggerSourceAction1 + action);
    }

    camera.addFeature(GevFloat, "TriggerDelay", "AcquisitionControl", GevReadWrite, nullptr, 1);
    camera.setDescription("TriggerDelay",
                          "Time in \xCE\xBCs from the trigger to the sensor's capture, so that the sensors of a cell "
                          "fired by one action command can take turns");
    camera.setFloatRange("TriggerDelay", 0.0f, kMaxTriggerDelayUs);
    camera.setNodeElement("TriggerDelay", "Unit", "us", false);
    for (const char* name : {"regTriggerSelector", "regTriggerMode", "regTriggerSource", "regTriggerDelay"})
        camera.setNodeElement(name, "Cachable", "WriteAround", false);
}

void declareScan3d(CGevCamera& camera) {
    camera.addFeature(GevEnumeration, "Scan3dCoordinateSelector", "Scan3DControl", GevReadWrite, nullptr, 1);
    camera.setDescription("Scan3dCoordinateSelector", "Selects the individual axis for 3D information/transformation");
    camera.addEnumEntry("Scan3dCoordinateSelector", "CoordinateA", 0);
    camera.addEnumEntry("Scan3dCoordinateSelector", "CoordinateB", 1);
    camera.addEnumEntry("Scan3dCoordinateSelector", "CoordinateC", 2);
    camera.setEnumValue("Scan3dCoordinateSelector", "CoordinateA");
    for (const auto& feature : kCoordinateFeatures) {
        camera.setNodeElement("Scan3dCoordinateSelector", "pSelected", feature[0], true);
    }
    for (const auto& [name, text] : kCoordinateFeatures) {
        const bool isFlag = std::string(name) == "Scan3dInvalidDataFlag";
        camera.addFeature(isFlag ? GevBoolean : GevFloat, name, "Scan3DControl", GevReadOnly, nullptr, 1);
        camera.setDescription(name, text);
        camera.setNodeElement(reg(name).c_str(), "pInvalidator", "Scan3dCoordinateSelector", true);
        camera.setNodeElement(reg(name).c_str(), "pInvalidator", "PixelFormat", true);
    }

    // The same values under their chunk names, for clients that look for those. They are the device's current
    // settings, not data the frames carry: PixelFormat cannot change while acquiring, so they hold for every frame
    // of the running acquisition, but not for frames kept from an earlier one.
    camera.addFeature(GevEnumeration, "ChunkScan3dCoordinateSelector", "Scan3DControl", GevReadWrite, nullptr, 1);
    camera.setDescription("ChunkScan3dCoordinateSelector", "Selects the axis, as Scan3dCoordinateSelector does");
    camera.addEnumEntry("ChunkScan3dCoordinateSelector", "CoordinateA", 0);
    camera.addEnumEntry("ChunkScan3dCoordinateSelector", "CoordinateB", 1);
    camera.addEnumEntry("ChunkScan3dCoordinateSelector", "CoordinateC", 2);
    for (const auto& [name, text] : kCoordinateFeatures) {
        const std::string plain = name;
        if (plain == "Scan3dAxisMin" || plain == "Scan3dAxisMax") continue;
        const std::string chunkName = "Chunk" + plain;
        camera.setNodeElement("ChunkScan3dCoordinateSelector", "pSelected", chunkName.c_str(), true);
        camera.addFeature(plain == "Scan3dInvalidDataFlag" ? GevBoolean : GevFloat, chunkName.c_str(), "Scan3DControl",
                          GevReadOnly, nullptr, 1);
        camera.setDescription(chunkName.c_str(), ("The device's current " + plain +
                                                  ", not read from a frame's chunk "
                                                  "data: the value of the acquisition that is running")
                                                     .c_str());
        for (const char* invalidator : {"ChunkScan3dCoordinateSelector", "Scan3dCoordinateSelector", "PixelFormat"})
            camera.setNodeElement(reg(chunkName).c_str(), "pInvalidator", invalidator, true);
    }
}

void declareDeviceControl(CMainClass& bridge, CGevCamera& camera) {
    const std::pair<const char*, std::string> strings[] = {
        {"DeviceModelName", bridge.orderNumber},
        {"DeviceVendorName", bridge.producer},
        {"DeviceFamilyName", "Corvastrum"},
        {"DeviceVersion", bridge.productVersion},
        {"DeviceFirmwareVersion", bridge.firmwareVersion},
        {"DeviceSerialNumber", bridge.serialNumber},
    };
    for (const auto& [name, value] : strings) {
        camera.addFeature(GevString, name, "DeviceControl", GevReadOnly, nullptr, 1);
        camera.setStringValue(name, value.c_str());
    }
    // Enumerations with the standard entries, the device's own kind current.
    const struct {
        const char* name;
        std::vector<const char*> entries;
        const char* current;
    } kinds[] = {
        {"DeviceType", {"Transmitter", "Receiver", "Transceiver", "Peripheral"}, "Transmitter"},
        {"DeviceTLType",
         {"GigEVision", "CameraLink", "CameraLinkHS", "CoaXPress", "USB3Vision", "Custom"},
         "GigEVision"},
    };
    for (const auto& [name, entries, current] : kinds) {
        camera.addFeature(GevEnumeration, name, "DeviceControl", GevReadOnly, nullptr, 1);
        for (std::size_t entry = 0; entry < entries.size(); ++entry)
            camera.addEnumEntry(name, entries[entry], static_cast<std::int64_t>(entry));
        camera.setEnumValue(name, current);
    }
    // The sensor reports whole degrees; the feature is a float in degrees Celsius, as clients expect.
    camera.addFeature(GevFloat, "DeviceTemperature", "DeviceControl", GevReadOnly, nullptr, 1);
    camera.setDescription("DeviceTemperature", "Device temperature in degrees Celsius (C)");
    camera.setFloatRange("DeviceTemperature", 0.0f, 100.0f);
    camera.setNodeElement("DeviceTemperature", "Unit", "C", false);
    camera.setNodeElement("regDeviceTemperature", "PollingTime", "10000", true);
    camera.addFeature(GevInteger, "DeviceTemperatureThreshold", "DeviceControl", GevReadWrite, nullptr, 1);
    camera.setDescription("DeviceTemperatureThreshold",
                          "Temperature in degrees Celsius (C) above which the event DeviceTemperatureExceeded is "
                          "sent, once per rise; 0: none");
    camera.setIntRange("DeviceTemperatureThreshold", 0, 100, 1);
    camera.addFeature(GevString, "DeviceUserID", "DeviceControl", GevReadWrite, nullptr, 1);
    camera.setDescription("DeviceUserID",
                          "User-defined name of the device, up to 16 printable ASCII characters, shown by discovery; "
                          "kept for this sensor across restarts");
    camera.setNodeElement("regDeviceUserID", "Cachable", "WriteAround", false);
}

// Settings a client saves under a name and loads again, also after a restart; UserSetDefault chooses the set
// loaded at start-up.
void declareUserSets(CGevCamera& camera) {
    camera.addCategory("UserSetControl", kRoot);
    for (const char* name : {"UserSetSelector", "UserSetDefault"}) {
        camera.addFeature(GevEnumeration, name, "UserSetControl", GevReadWrite, nullptr, 1);
        for (std::size_t set = 0; set < kUserSetCount; ++set)
            camera.addEnumEntry(name, kUserSetNames[set], static_cast<std::int64_t>(set));
        camera.setNodeElement(reg(name).c_str(), "Cachable", "WriteAround", false);
    }
    camera.setDescription("UserSetSelector", "Selects the user set UserSetLoad and UserSetSave act on");
    camera.setDescription("UserSetDefault",
                          "The user set loaded when the program starts; Default: the sensor keeps its own settings");
    for (const char* selected : {"UserSetLoad", "UserSetSave"})
        camera.setNodeElement("UserSetSelector", "pSelected", selected, true);
    camera.addFeature(GevCommand, "UserSetLoad", "UserSetControl", GevReadWrite, nullptr, 1);
    camera.setDescription("UserSetLoad", "Sends the selected user set's settings to the sensor; not while acquiring");
    camera.addFeature(GevCommand, "UserSetSave", "UserSetControl", GevReadWrite, nullptr, 1);
    camera.setDescription("UserSetSave",
                          "Stores the current settings as the selected user set (UserSet1 to UserSet3); not while "
                          "acquiring");
}

// Selector entry names as the sensor names its filters, made distinct: a repeated name gets "_2", "_3", ...
// appended, since an enumeration cannot hold two entries of one name and the later one would be lost.
std::vector<std::string> distinctFilterNames(const CMainClass& bridge) {
    std::vector<std::string> names;
    for (std::size_t f = 0; f < kFilterCount; ++f) {
        std::string name = bridge.filters[f].name;
        for (int copy = 2; std::find(names.begin(), names.end(), name) != names.end(); ++copy)
            name = bridge.filters[f].name + "_" + std::to_string(copy);
        names.push_back(name);
    }
    return names;
}

void declareFilters(CMainClass& bridge, CGevCamera& camera) {
    camera.addFeature(GevEnumeration, "FilterSelector", "FilterControl", GevReadWrite, nullptr, 1);
    const std::vector<std::string> names = distinctFilterNames(bridge);
    for (std::size_t f = 0; f < kFilterCount; ++f) {
        camera.addEnumEntry("FilterSelector", names[f].c_str(), static_cast<std::int64_t>(f));
    }
    camera.setNodeElement("FilterSelector", "Visibility", "Guru", false);
    for (const char* selected : {"FilterMode", "PropertySelector", "PropertyValue"}) {
        camera.setNodeElement("FilterSelector", "pSelected", selected, true);
    }

    for (std::size_t f = 0; f < kFilterCount; ++f) {
        const std::string node = "filterselected" + std::to_string(f);
        camera.addNode("IntSwissKnife", node.c_str(), "FilterControl", 0);
        camera.setNodeElement(node.c_str(), "Formula", ("VAR1=" + std::to_string(f) + "?1:0").c_str(), false);
        camera.setNodeElement(node.c_str(), "Visibility", "Invisible", true);
        camera.setNodeElement(node.c_str(), "pVariable", "FilterSelector", true);
        camera.setNodeElementAttribute(node.c_str(), "pVariable", "FilterSelector", "Name", "VAR1");
    }

    camera.addFeature(GevBoolean, "FilterMode", "FilterControl", GevReadWrite, nullptr, 1);
    camera.setNodeElement("FilterMode", "Visibility", "Guru", false);
    camera.setNodeElement("FilterMode", "Streamable", "Yes", false);
    camera.setNodeElement("FilterMode", "pIsLocked", kLock, false);
    camera.setNodeElement("regFilterMode", "pInvalidator", "FilterSelector", false);
    camera.setNodeElement("regFilterMode", "Cachable", "WriteAround", false);

    camera.addFeature(GevEnumeration, "PropertySelector", "FilterControl", GevReadWrite, nullptr, 1);
    for (std::size_t entry = 0; entry < kPropertySelectorCount; ++entry) {
        const auto [filter, property] = kPropertyOwners[entry];
        const char* name = bridge.filters[filter].properties[property].name.c_str();
        camera.addEnumEntry("PropertySelector", name, static_cast<std::int64_t>(entry));
        camera.setEnumEntryElement("PropertySelector", name, "pIsAvailable",
                                   ("filterselected" + std::to_string(filter)).c_str(), true);
    }
    camera.setNodeElement("PropertySelector", "pIsAvailable", "FilterMode", false);
    camera.setNodeElement("PropertySelector", "Visibility", "Guru", false);
    camera.setNodeElement("PropertySelector", "pSelected", "PropertyValue", true);
    camera.setNodeElement("regPropertySelector", "pInvalidator", "FilterSelector", true);
    camera.setNodeElement("regPropertySelector", "Cachable", "WriteAround", false);

    camera.addFeature(GevFloat, "PropertyValue", "FilterControl", GevReadWrite, nullptr, 1);
    camera.removeNodeElement("PropertyValue", "Max", 0);
    camera.removeNodeElement("PropertyValue", "Min", 0);
    camera.setNodeElement("PropertyValue", "pMax", "regPropertyValueMax", false);
    camera.setNodeElement("PropertyValue", "pMin", "regPropertyValueMin", false);
    camera.setNodeElement("PropertyValue", "Visibility", "Guru", false);
    camera.setNodeElement("PropertyValue", "Streamable", "Yes", false);
    camera.setNodeElement("PropertyValue", "pIsLocked", kLock, false);
    camera.setNodeElement("PropertyValue", "pIsAvailable", "FilterMode", false);
    camera.setNodeElement("regPropertyValue", "pInvalidator", "FilterSelector", true);
    camera.setNodeElement("regPropertyValue", "pInvalidator", "PropertySelector", true);
    camera.setNodeElement("regPropertyValue", "Cachable", "WriteAround", false);

    // The sensor's limits of the selected property: read-only, since the sensor sets them.
    for (const char* limit : {"PropertyValueMin", "PropertyValueMax"}) {
        camera.addFeature(GevFloat, limit, "FilterControl", GevReadOnly, nullptr, 1);
        camera.setNodeElement(limit, "Visibility", "Invisible", false);
        camera.setNodeElement(reg(limit).c_str(), "pInvalidator", "FilterSelector", true);
        camera.setNodeElement(reg(limit).c_str(), "pInvalidator", "PropertySelector", true);
    }
}

}  // namespace

void declareFeatureTree(CMainClass& bridge) {
    CGevCamera& camera = *bridge.camera;
    declareCategories(camera);
    declareLockAndImageFormat(bridge, camera);
    declareAcquisitionAndAnalog(bridge, camera);
    declareTrigger(camera);
    declareScan3d(camera);
    declareDeviceControl(bridge, camera);
    declareDeviceEvents(camera);
    declareFilters(bridge, camera);
    declareComponentFeatures(bridge);
    declareUserSets(camera);
}
