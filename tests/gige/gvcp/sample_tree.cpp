// Declaring the sample feature tree through the public CGevCamera interface.
#include "sample_tree.h"

#include <string>

namespace gvcp_test {

namespace {

void feature(CGevCamera& camera, int type, const char* name, const char* category, std::uint16_t access,
             const char* description = nullptr) {
    camera.addFeature(type, name, category, access, nullptr, 1);
    if (description != nullptr) camera.setDescription(name, description);
}

}  // namespace

void declareSampleTree(CGevCamera& camera) {
    camera.setDeviceInfo("Test Vendor", "CVS-3D-1280x1024", "1.0.0", "sample tree", "SN0001");
    camera.addCategory("TLParamsLockedCategory", "Root");
    camera.setNodeElement("TLParamsLockedCategory", "Visibility", "Invisible", true);
    for (const char* name : {"AnalogControl", "LightControl"}) camera.addCategory(name, "Root");
    camera.addChunkCategory("ChunkDataControl");
    for (const char* name : {"Scan3DControl", "DeviceControl", "FilterControl"}) camera.addCategory(name, "Root");
    camera.setNodeElement("FilterControl", "Visibility", "Guru", false);

    feature(camera, GevInteger, "TLParamsLocked", "TLParamsLockedCategory", GevReadWrite);
    camera.setIntRange("TLParamsLocked", 0, 1, 1);
    camera.setNodeElement("TLParamsLocked", "Visibility", "Invisible", true);
    for (const char* name : {"Width", "Height", "OffsetX", "OffsetY"}) {
        camera.setAccessMode(name, GevReadOnly);
        camera.setNodeElement((std::string("reg") + name).c_str(), "pInvalidator", "StackAcquisitionMode", false);
    }
    for (const char* name : {"Mono16", "RGB16", "Coord3D_ABC32f"}) camera.addPixelFormat(name);
    camera.setNodeElement("PixelFormat", "Streamable", "Yes", false);
    camera.setNodeElement("PixelFormat", "pIsLocked", "regTLParamsLocked", false);
    camera.setImageSize(1280, 1024, 0);
    camera.setImageOffset(0, 0, 0);

    feature(camera, GevInteger, "SensorWidth", "ImageFormatControl", GevReadOnly, "Effective width");
    camera.setIntRange("SensorWidth", 1280, 1280, 1);
    camera.setIntValue("SensorWidth", 1280);
    feature(camera, GevString, "PathToMask", "ImageFormatControl", GevReadWrite, "Defines the path");
    camera.setNodeElement("PathToMask", "Visibility", "Invisible", false);
    camera.setNodeElement("PathToMask", "Streamable", "Yes", false);
    camera.setNodeElement("PathToMask", "Cachable", "WriteAround", false);
    camera.setNodeElement("PathToMask", "pIsLocked", "regTLParamsLocked", false);
    camera.addEnumEntry("AcquisitionMode", "Continuous", 1);
    camera.addEnumEntry("AcquisitionMode", "SingleFrame", 2);
    camera.setNodeElement("regAcquisitionMode", "Cachable", "WriteAround", false);

    feature(camera, GevFloat, "ExposureTime", "AcquisitionControl", GevReadWrite, "Exposure time in \xCE\xBCs.");
    camera.setFloatRange("ExposureTime", 10.0F, 100000.0F);
    feature(camera, GevEnumeration, "StackAcquisitionMode", "AcquisitionControl", GevReadWrite);
    for (int i = 0; i <= 3; ++i) camera.addEnumEntry("StackAcquisitionMode", ("mode" + std::to_string(i)).c_str(), i);
    camera.setNodeElement("StackAcquisitionMode", "pIsLocked", "regTLParamsLocked", false);
    feature(camera, GevFloat, "Gain", "AnalogControl", GevReadWrite, "Controls the gain");
    camera.setFloatRange("Gain", 0.0F, 24.0F);
    camera.setNodeElement("Gain", "Inc", "1", false);
    camera.setNodeElement("regGain", "Cachable", "WriteAround", false);
    camera.setNodeElement("regGain", "Streamable", "Yes", false);
    feature(camera, GevInteger, "LightBrightness", "LightControl", GevReadWrite, "Controls the LED Power");
    camera.setIntRange("LightBrightness", 0, 100, 1);
    camera.addChunkFeature(0xFFFFF0, "ChunkTemperature", "ChunkDataControl", GevReadOnly, 4, nullptr);

    feature(camera, GevEnumeration, "Scan3dCoordinateSelector", "Scan3DControl", GevReadWrite);
    const char* axes[] = {"CoordinateA", "CoordinateB", "CoordinateC"};
    for (int i = 0; i < 3; ++i) camera.addEnumEntry("Scan3dCoordinateSelector", axes[i], i);
    const char* selected[] = {"Scan3dCoordinateScale",  "Scan3dCoordinateOffset", "Scan3dInvalidDataFlag",
                              "Scan3dInvalidDataValue", "Scan3dAxisMin",          "Scan3dAxisMax"};
    for (const char* name : selected) camera.setNodeElement("Scan3dCoordinateSelector", "pSelected", name, true);
    for (const char* name : selected) {
        feature(camera, std::string(name) == "Scan3dInvalidDataFlag" ? GevBoolean : GevFloat, name, "Scan3DControl",
                GevReadOnly, "coordinate record");
        const std::string reg = std::string("reg") + name;
        camera.setNodeElement(reg.c_str(), "pInvalidator", "Scan3dCoordinateSelector", true);
        camera.setNodeElement(reg.c_str(), "pInvalidator", "PixelFormat", true);
    }
    for (const char* name : {"DeviceType", "DeviceModelName", "DeviceVendorName", "DeviceFamilyName", "DeviceVersion",
                             "DeviceFirmwareVersion", "DeviceSerialNumber", "DeviceTLType"}) {
        feature(camera, GevString, name, "DeviceControl", GevReadOnly);
        camera.setStringValue(name, name);
    }
    feature(camera, GevInteger, "DeviceTemperature", "DeviceControl", GevReadOnly, "Device temperature");
    camera.setIntRange("DeviceTemperature", 0, 100, 1);
    camera.setNodeElement("regDeviceTemperature", "PollingTime", "10000", true);

    feature(camera, GevEnumeration, "FilterSelector", "FilterControl", GevReadWrite);
    // Entry names come from the sensor's settings: one empty, one with a blank.
    for (int i = 0; i < 6; ++i) {
        const std::string name = i == 1 ? "" : (i == 2 ? "Median filter" : "Filter" + std::to_string(i));
        camera.addEnumEntry("FilterSelector", name.c_str(), i);
    }
    camera.setNodeElement("FilterSelector", "Visibility", "Guru", false);
    for (const char* name : {"FilterMode", "PropertySelector", "PropertyValue"})
        camera.setNodeElement("FilterSelector", "pSelected", name, true);
    for (int k = 0; k < 6; ++k) {
        const std::string node = "filterselected" + std::to_string(k);
        camera.addNode("IntSwissKnife", node.c_str(), "FilterControl", 0);
        camera.setNodeElement(node.c_str(), "Formula", ("VAR1=" + std::to_string(k) + "?1:0").c_str(), false);
        camera.setNodeElement(node.c_str(), "Visibility", "Invisible", true);
        camera.setNodeElement(node.c_str(), "pVariable", "FilterSelector", true);
        camera.setNodeElementAttribute(node.c_str(), "pVariable", "FilterSelector", "Name", "VAR1");
    }
    feature(camera, GevBoolean, "FilterMode", "FilterControl", GevReadWrite);
    camera.setNodeElement("regFilterMode", "pInvalidator", "FilterSelector", false);
    camera.setNodeElement("regFilterMode", "Cachable", "WriteAround", false);
    feature(camera, GevEnumeration, "PropertySelector", "FilterControl", GevReadWrite);
    camera.setNodeElement("PropertySelector", "pIsAvailable", "FilterMode", false);
    const int owner[kPropertyEntries] = {0, 1, 2, 3, 3, 3, 4, 5, 5, 5};
    for (int value = 0; value < kPropertyEntries; ++value) {
        const std::string entry = "Property" + std::to_string(value);
        camera.addEnumEntry("PropertySelector", entry.c_str(), value);
        camera.setEnumEntryElement("PropertySelector", entry.c_str(), "pIsAvailable",
                                   ("filterselected" + std::to_string(owner[value])).c_str(), true);
    }
    camera.setNodeElement("PropertySelector", "pSelected", "PropertyValue", true);
    feature(camera, GevFloat, "PropertyValue", "FilterControl", GevReadWrite);
    camera.removeNodeElement("PropertyValue", "Max", 0);
    camera.removeNodeElement("PropertyValue", "Min", 0);
    camera.setNodeElement("PropertyValue", "pMax", "regPropertyValueMax", false);
    camera.setNodeElement("PropertyValue", "pMin", "regPropertyValueMin", false);
    camera.setNodeElement("PropertyValue", "pIsAvailable", "FilterMode", false);
    for (const char* name : {"PropertyValueMin", "PropertyValueMax"}) {
        feature(camera, GevFloat, name, "FilterControl", GevReadWrite);
        camera.setNodeElement(name, "Visibility", "Invisible", false);
        const std::string reg = std::string("reg") + name;
        camera.setNodeElement(reg.c_str(), "pInvalidator", "FilterSelector", true);
        camera.setNodeElement(reg.c_str(), "pInvalidator", "PropertySelector", true);
    }
    camera.setFloatValue("PropertyValueMin", -5.0F);
    camera.setFloatValue("PropertyValueMax", 5.0F);

    // The events of the message channel, the last with a data feature.
    const char* events[] = {
        "AcquisitionStart",          "AcquisitionEnd", "ExposureEnd", "FrameEnd", "FrameTriggerMissed",
        "DeviceTemperatureExceeded", "Error"};
    for (std::uint16_t i = 0; i < 7; ++i)
        camera.addEvent(events[i], static_cast<std::uint16_t>(0x9000 + i), i == 6 ? "EventErrorCode" : nullptr,
                        "EventControl");
}

}  // namespace gvcp_test
