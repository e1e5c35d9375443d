// The feature tree declared at server start, checked node by node against the device's table of features:
// which calls each node gets, the order of the nodes, and the order of repeated elements and entries.
#include <algorithm>
#include <iterator>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "device/bridge_fixture.h"

namespace {

using bridge_test::BridgeTest;
using Calls = std::vector<std::string>;

struct Node {
    std::string name;
    Calls calls;  // in the order the table lists them
};

std::string element(const std::string& node, const std::string& name, const std::string& text, bool flag) {
    return "setNodeElement(" + node + ", " + name + ", " + text + ", " + (flag ? "true" : "false") + ")";
}
std::string feature(int type, const std::string& name, const std::string& category, int access) {
    return "addFeature(" + std::to_string(type) + ", " + name + ", " + category + ", " + std::to_string(access) +
           ", null, 1)";
}

std::vector<std::string> argumentsOf(const std::string& call) {
    std::vector<std::string> arguments;
    const std::size_t open = call.find('(');
    std::string rest = call.substr(open + 1, call.size() - open - 2);
    for (std::size_t cut; (cut = rest.find(", ")) != std::string::npos; rest = rest.substr(cut + 2)) {
        arguments.push_back(rest.substr(0, cut));
    }
    arguments.push_back(rest);
    return arguments;
}

std::string operationOf(const std::string& call) { return call.substr(0, call.find('(')); }

// The node a declaration call belongs to: register nodes count with their feature, the image size and
// offset with PixelFormat.
std::string nodeOf(const std::string& call) {
    const std::string operation = operationOf(call);
    const std::vector<std::string> arguments = argumentsOf(call);
    if (operation == "addFeature" || operation == "addNode" || operation == "addChunkFeature") return arguments[1];
    if (operation == "setImageSize" || operation == "setImageOffset" || operation == "addPixelFormat") {
        return "PixelFormat";
    }
    if (operation == "setMultipartOffered") return "AcquisitionMultiPartMode";
    if (operation == "addEvent") return "Event" + arguments[0];
    const std::string& node = arguments[0];
    return node.rfind("reg", 0) == 0 ? node.substr(3) : node;
}

// Calls whose relative order the table fixes share a key: repeated elements of one node, the entries of an
// enumeration together with their elements, and the removed literals.
std::string orderKey(const std::string& call) {
    const std::string operation = operationOf(call);
    const std::vector<std::string> arguments = argumentsOf(call);
    if (operation == "addEnumEntry" || operation == "setEnumEntryElement") return "entries " + arguments[0];
    if (operation == "removeNodeElement") return "removed " + arguments[0];
    if (operation == "setNodeElement") return "element " + arguments[0] + " " + arguments[1];
    return call;
}

// The standard 3D descriptors, identification features and multipart components, after the filters.
void appendComponentNodes(std::vector<Node>& tree) {
    const auto fixed = [](const std::string& n, const std::string& category, const std::string& entry,
                          const std::string& text) {
        return Node{n,
                    {feature(7, n, category, 1), "setDescription(" + n + ", " + text + ")",
                     "addEnumEntry(" + n + ", " + entry + ", 0)", "setEnumValue(" + n + ", " + entry + ")"}};
    };
    tree.push_back(fixed("Scan3dDistanceUnit", "Scan3DControl", "Millimeter",
                         "Unit of the 3D coordinates after scale and offset are applied"));
    tree.push_back(fixed("Scan3dOutputMode", "Scan3DControl", "CalibratedABC_Grid",
                         "Layout of the Range data: calibrated A, B, C coordinates on the pixel grid"));
    tree.push_back(
        fixed("Scan3dCoordinateSystem", "Scan3DControl", "Cartesian", "Coordinate system of the Range data"));
    tree.push_back(fixed("Scan3dCoordinateSystemReference", "Scan3DControl", "Anchor",
                         "The coordinates are given in the sensor's own frame, not transformed"));
    tree.push_back({"DeviceID", {feature(4, "DeviceID", "DeviceControl", 1), "setStringValue(DeviceID, SN4711)"}});
    tree.push_back(fixed("DeviceScanType", "DeviceControl", "Areascan3D",
                         "The device delivers 3D images of a whole area at once"));
    for (const auto& [name, text, size] : {std::tuple{"WidthMax", "Largest image width the sensor delivers", "64"},
                                           std::tuple{"HeightMax", "Largest image height the sensor delivers", "48"}}) {
        const std::string n = name;
        tree.push_back(
            {n,
             {feature(1, n, "ImageFormatControl", 1), "setDescription(" + n + ", " + text + ")",
              "setIntRange(" + n + ", " + size + ", " + size + ", 1)", "setIntValue(" + n + ", " + size + ")"}});
    }
    tree.push_back({"AcquisitionMultiPartMode",
                    {feature(7, "AcquisitionMultiPartMode", "AcquisitionControl", 3),
                     "setDescription(AcquisitionMultiPartMode, SingleComponent: one image per block, in PixelFormat. "
                     "SynchronizedComponents: with a 3D PixelFormat, the enabled components of one trigger in one "
                     "multipart block)",
                     "addEnumEntry(AcquisitionMultiPartMode, SingleComponent, 0)",
                     "addEnumEntry(AcquisitionMultiPartMode, SynchronizedComponents, 1)", "setMultipartOffered(1)",
                     "setEnumValue(AcquisitionMultiPartMode, SingleComponent)",
                     element("AcquisitionMultiPartMode", "pIsLocked", "regTLParamsLocked", false)}});
    tree.push_back({"ComponentSelector",
                    {feature(7, "ComponentSelector", "ImageFormatControl", 3),
                     "setDescription(ComponentSelector, Selects the image component that ComponentEnable and "
                     "ComponentIDValue address)",
                     "addEnumEntry(ComponentSelector, Range, 0)", "addEnumEntry(ComponentSelector, Intensity, 1)",
                     "addEnumEntry(ComponentSelector, Confidence, 2)", "setEnumValue(ComponentSelector, Range)",
                     element("ComponentSelector", "pSelected", "ComponentEnable", true),
                     element("ComponentSelector", "pSelected", "ComponentIDValue", true)}});
    tree.push_back({"ComponentEnable",
                    {feature(5, "ComponentEnable", "ImageFormatControl", 3),
                     "setDescription(ComponentEnable, Whether the selected component goes into a multipart block)",
                     element("ComponentEnable", "pIsLocked", "regTLParamsLocked", false),
                     element("regComponentEnable", "pInvalidator", "ComponentSelector", true)}});
    tree.push_back(
        {"ComponentIDValue",
         {feature(1, "ComponentIDValue", "ImageFormatControl", 1),
          "setDescription(ComponentIDValue, Identifier of the selected component in the parts of a multipart "
          "block)",
          element("regComponentIDValue", "pInvalidator", "ComponentSelector", true)}});
    tree.push_back({"PayloadSize",
                    {element("regPayloadSize", "pInvalidator", "AcquisitionMultiPartMode", true),
                     element("regPayloadSize", "pInvalidator", "ComponentEnable", true)}});
}

// The user sets, after the components.
void appendUserSetNodes(std::vector<Node>& tree) {
    tree.push_back({"UserSetControl", {"addCategory(UserSetControl, Root)"}});
    for (const std::string name : {"UserSetSelector", "UserSetDefault"}) {
        Node node{name, {feature(7, name, "UserSetControl", 3)}};
        for (const std::string entry : {"Default", "UserSet1", "UserSet2", "UserSet3"})
            node.calls.push_back("addEnumEntry(" + name + ", " + entry + ", " + std::to_string(node.calls.size() - 1) +
                                 ")");
        node.calls.push_back(element("reg" + name, "Cachable", "WriteAround", false));
        tree.push_back(node);
    }
    tree[tree.size() - 2].calls.insert(
        tree[tree.size() - 2].calls.end(),
        {"setDescription(UserSetSelector, Selects the user set UserSetLoad and UserSetSave act on)",
         element("UserSetSelector", "pSelected", "UserSetLoad", true),
         element("UserSetSelector", "pSelected", "UserSetSave", true)});
    tree.back().calls.push_back(
        "setDescription(UserSetDefault, The user set loaded when the program starts; Default: the sensor keeps its "
        "own settings)");
    tree.push_back({"UserSetLoad",
                    {feature(2, "UserSetLoad", "UserSetControl", 3),
                     "setDescription(UserSetLoad, Sends the selected user set's settings to the sensor; not while "
                     "acquiring)"}});
    tree.push_back({"UserSetSave",
                    {feature(2, "UserSetSave", "UserSetControl", 3),
                     "setDescription(UserSetSave, Stores the current settings as the selected user set (UserSet1 to "
                     "UserSet3); not while acquiring)"}});
}

std::vector<Node> expectedTree() {
    std::vector<Node> tree = {
        {"TLParamsLockedCategory",
         {"addCategory(TLParamsLockedCategory, Root)",
          element("TLParamsLockedCategory", "Visibility", "Invisible", true)}},
        {"AnalogControl", {"addCategory(AnalogControl, Root)"}},
        {"LightControl", {"addCategory(LightControl, Root)"}},
        {"ChunkDataControl", {"addChunkCategory(ChunkDataControl)"}},
        {"Scan3DControl", {"addCategory(Scan3DControl, Root)"}},
        {"DeviceControl", {"addCategory(DeviceControl, Root)"}},
        {"FilterControl", {"addCategory(FilterControl, Root)", element("FilterControl", "Visibility", "Guru", false)}},
        {"TLParamsLocked",
         {feature(1, "TLParamsLocked", "TLParamsLockedCategory", 3), "setIntRange(TLParamsLocked, 0, 1, 1)",
          "setIntValue(TLParamsLocked, 0)", element("TLParamsLocked", "Visibility", "Invisible", true)}},
    };
    for (const char* name : {"Width", "Height", "OffsetX", "OffsetY"}) {
        tree.push_back({name,
                        {"setAccessMode(" + std::string(name) + ", 1)",
                         element("reg" + std::string(name), "pInvalidator", "StackAcquisitionMode", false)}});
    }
    tree.push_back({"PixelFormat",
                    {"addPixelFormat(Mono16)", "addPixelFormat(RGB16)", "addPixelFormat(Coord3D_ABC32f)",
                     element("PixelFormat", "Streamable", "Yes", false),
                     element("PixelFormat", "pIsLocked", "regTLParamsLocked", false), "setImageSize(64, 48, 0)",
                     "setImageOffset(0, 0, 0)"}});
    for (const auto& [name, text, size] :
         {std::tuple{"SensorWidth", "Effective width of the camera sensor in pixels", "64"},
          std::tuple{"SensorHeight", "Effective height of the camera sensor in pixels", "48"}}) {
        const std::string n = name;
        tree.push_back(
            {n,
             {feature(1, n, "ImageFormatControl", 1), "setDescription(" + n + ", " + text + ")",
              "setIntRange(" + n + ", " + size + ", " + size + ", 1)", "setIntValue(" + n + ", " + size + ")"}});
    }
    tree.push_back(
        {"PathToMask",
         {feature(4, "PathToMask", "ImageFormatControl", 3),
          "setDescription(PathToMask, Defines the path to the binary mask)",
          element("PathToMask", "Visibility", "Invisible", false), element("PathToMask", "Streamable", "Yes", false),
          element("PathToMask", "Cachable", "WriteAround", false),
          element("PathToMask", "pIsLocked", "regTLParamsLocked", false)}});
    tree.push_back({"AcquisitionMode",
                    {"setDescription(AcquisitionMode, Sets the acquisition mode of the sensor)",
                     "addEnumEntry(AcquisitionMode, Continuous, 1)", "addEnumEntry(AcquisitionMode, SingleFrame, 2)",
                     element("AcquisitionMode", "Streamable", "Yes", false),
                     element("AcquisitionMode", "pIsLocked", "regTLParamsLocked", false),
                     element("regAcquisitionMode", "Cachable", "WriteAround", false)}});
    tree.push_back({"ExposureTime",
                    {feature(3, "ExposureTime", "AcquisitionControl", 3),
                     "setDescription(ExposureTime, Sets the exposure time of the integrated camera in \xCE\xBCs.)",
                     "setFloatRange(ExposureTime, 100, 100000)"}});
    tree.push_back({"StackAcquisitionMode",
                    {feature(7, "StackAcquisitionMode", "AcquisitionControl", 3),
                     "setDescription(StackAcquisitionMode, Selects the Stack acquisition mode)",
                     "addEnumEntry(StackAcquisitionMode, mode0, 0)", "addEnumEntry(StackAcquisitionMode, mode1, 1)",
                     "addEnumEntry(StackAcquisitionMode, mode2, 2)", "addEnumEntry(StackAcquisitionMode, mode3, 3)",
                     element("StackAcquisitionMode", "pIsLocked", "regTLParamsLocked", false),
                     element("StackAcquisitionMode", "Streamable", "Yes", false),
                     element("regStackAcquisitionMode", "Cachable", "WriteAround", false)}});
    tree.push_back(
        {"Gain",
         {feature(3, "Gain", "AnalogControl", 3), "setDescription(Gain, Controls the gain of the integrated camera)",
          "setFloatRange(Gain, 1, 16)", element("Gain", "Inc", "1", false),
          element("regGain", "Cachable", "WriteAround", false), element("regGain", "Streamable", "Yes", false)}});
    tree.push_back(
        {"LightBrightness",
         {feature(1, "LightBrightness", "LightControl", 3), "setDescription(LightBrightness, Controls the LED Power)",
          "setIntRange(LightBrightness, 0, 100, 1)", element("LightBrightness", "Visibility", "Guru", false),
          element("regLightBrightness", "Cachable", "WriteAround", false),
          element("regLightBrightness", "Streamable", "Yes", false)}});
    tree.push_back(
        {"ChunkTemperature",
         {"addChunkFeature(" + std::to_string(0xFFFFF0) + ", ChunkTemperature, ChunkDataControl, 1, 4, null)"}});
    tree.push_back(
        {"TriggerSelector",
         {feature(7, "TriggerSelector", "AcquisitionControl", 3),
          "setDescription(TriggerSelector, Selects the trigger to configure: the start of each frame)",
          "addEnumEntry(TriggerSelector, FrameStart, 0)", element("TriggerSelector", "pSelected", "TriggerMode", true),
          element("TriggerSelector", "pSelected", "TriggerSource", true),
          element("TriggerSelector", "pSelected", "TriggerSoftware", true),
          element("TriggerSelector", "pSelected", "TriggerDelay", true),
          element("regTriggerSelector", "Cachable", "WriteAround", false)}});
    tree.push_back({"TriggerMode",
                    {feature(7, "TriggerMode", "AcquisitionControl", 3),
                     "setDescription(TriggerMode, Off: the sensor captures continuously. On: each trigger from "
                     "TriggerSource starts exactly one capture and one frame)",
                     "addEnumEntry(TriggerMode, Off, 0)", "addEnumEntry(TriggerMode, On, 1)",
                     element("regTriggerMode", "Cachable", "WriteAround", false)}});
    tree.push_back(
        {"TriggerSource",
         {feature(7, "TriggerSource", "AcquisitionControl", 3),
          "setDescription(TriggerSource, Software: TriggerSoftware. ActionN: an action command for action "
          "signal N (see ActionSelector), at its action time when scheduled)",
          "addEnumEntry(TriggerSource, Software, 0)", "addEnumEntry(TriggerSource, Action1, 1)",
          "addEnumEntry(TriggerSource, Action2, 2)", "addEnumEntry(TriggerSource, Action3, 3)",
          "addEnumEntry(TriggerSource, Action4, 4)", element("regTriggerSource", "Cachable", "WriteAround", false)}});
    tree.push_back({"TriggerDelay",
                    {feature(3, "TriggerDelay", "AcquisitionControl", 3),
                     "setDescription(TriggerDelay, Time in \xCE\xBCs from the trigger to the sensor's capture, so that "
                     "the sensors of a cell fired by one action command can take turns)",
                     "setFloatRange(TriggerDelay, 0, 1e+07)", element("TriggerDelay", "Unit", "us", false),
                     element("regTriggerDelay", "Cachable", "WriteAround", false)}});

    const std::pair<const char*, const char*> coordinateFeatures[] = {
        {"Scan3dCoordinateScale",
         "Scale factor when transforming a pixel from relative coordinates to sensor coordinates"},
        {"Scan3dCoordinateOffset",
         "Offset factor when transforming a pixel from relative coordinates to sensor coordinates"},
        {"Scan3dInvalidDataFlag", "Enables the definition of a non-valid flag value in the data stream"},
        {"Scan3dInvalidDataValue", "Value which identifies a non-valid pixel if Scan3dInvalidDataFlag is enabled"},
        {"Scan3dAxisMin", "Minimum valid transmitted coordinate value of the selected axis"},
        {"Scan3dAxisMax", "Maximum valid transmitted coordinate value of the selected axis"},
    };
    Node selector{
        "Scan3dCoordinateSelector",
        {feature(7, "Scan3dCoordinateSelector", "Scan3DControl", 3),
         "setDescription(Scan3dCoordinateSelector, Selects the individual axis for 3D information/transformation)",
         "addEnumEntry(Scan3dCoordinateSelector, CoordinateA, 0)",
         "addEnumEntry(Scan3dCoordinateSelector, CoordinateB, 1)",
         "addEnumEntry(Scan3dCoordinateSelector, CoordinateC, 2)",
         "setEnumValue(Scan3dCoordinateSelector, CoordinateA)"}};
    for (const auto& [name, text] : coordinateFeatures) {
        selector.calls.push_back(element("Scan3dCoordinateSelector", "pSelected", name, true));
    }
    tree.push_back(selector);
    for (const auto& [name, text] : coordinateFeatures) {
        const std::string n = name;
        tree.push_back({n,
                        {feature(n == "Scan3dInvalidDataFlag" ? 5 : 3, n, "Scan3DControl", 1),
                         "setDescription(" + n + ", " + text + ")",
                         element("reg" + n, "pInvalidator", "Scan3dCoordinateSelector", true),
                         element("reg" + n, "pInvalidator", "PixelFormat", true)}});
    }
    // The chunk-named twins of the first four, ordinary features of the device's current values.
    Node chunkSelector{
        "ChunkScan3dCoordinateSelector",
        {feature(7, "ChunkScan3dCoordinateSelector", "Scan3DControl", 3),
         "setDescription(ChunkScan3dCoordinateSelector, Selects the axis, as Scan3dCoordinateSelector does)",
         "addEnumEntry(ChunkScan3dCoordinateSelector, CoordinateA, 0)",
         "addEnumEntry(ChunkScan3dCoordinateSelector, CoordinateB, 1)",
         "addEnumEntry(ChunkScan3dCoordinateSelector, CoordinateC, 2)"}};
    for (int c = 0; c < 4; ++c)
        chunkSelector.calls.push_back(element("ChunkScan3dCoordinateSelector", "pSelected",
                                              "Chunk" + std::string(coordinateFeatures[c].first), true));
    tree.push_back(chunkSelector);
    for (int c = 0; c < 4; ++c) {
        const std::string plain = coordinateFeatures[c].first;
        const std::string n = "Chunk" + plain;
        Node twin{n,
                  {feature(plain == "Scan3dInvalidDataFlag" ? 5 : 3, n, "Scan3DControl", 1),
                   "setDescription(" + n + ", The device's current " + plain +
                       ", not read from a frame's chunk data: the value of the acquisition that is running)"}};
        for (const char* invalidator : {"ChunkScan3dCoordinateSelector", "Scan3dCoordinateSelector", "PixelFormat"})
            twin.calls.push_back(element("reg" + n, "pInvalidator", invalidator, true));
        tree.push_back(twin);
    }

    const std::pair<const char*, const char*> strings[] = {
        {"DeviceModelName", "C3D-2040"}, {"DeviceVendorName", "Corvastrum"},   {"DeviceFamilyName", "Corvastrum"},
        {"DeviceVersion", "2.1"},        {"DeviceFirmwareVersion", "FW1.2.3"}, {"DeviceSerialNumber", "SN4711"},
    };
    for (const auto& [name, value] : strings) {
        const std::string n = name;
        tree.push_back({n, {feature(4, n, "DeviceControl", 1), "setStringValue(" + n + ", " + value + ")"}});
    }
    const std::pair<const char*, std::vector<std::string>> kinds[] = {
        {"DeviceType", {"Transmitter", "Receiver", "Transceiver", "Peripheral"}},
        {"DeviceTLType", {"GigEVision", "CameraLink", "CameraLinkHS", "CoaXPress", "USB3Vision", "Custom"}},
    };
    for (const auto& [name, entries] : kinds) {
        const std::string n = name;
        Node kind{n, {feature(7, n, "DeviceControl", 1)}};
        for (std::size_t e = 0; e < entries.size(); ++e)
            kind.calls.push_back("addEnumEntry(" + n + ", " + entries[e] + ", " + std::to_string(e) + ")");
        kind.calls.push_back("setEnumValue(" + n + ", " + entries[0] + ")");
        tree.push_back(kind);
    }
    tree.push_back({"DeviceTemperature",
                    {feature(3, "DeviceTemperature", "DeviceControl", 1),
                     "setDescription(DeviceTemperature, Device temperature in degrees Celsius (C))",
                     "setFloatRange(DeviceTemperature, 0, 100)", element("DeviceTemperature", "Unit", "C", false),
                     element("regDeviceTemperature", "PollingTime", "10000", true)}});
    tree.push_back({"DeviceTemperatureThreshold",
                    {feature(1, "DeviceTemperatureThreshold", "DeviceControl", 3),
                     "setDescription(DeviceTemperatureThreshold, Temperature in degrees Celsius (C) above which the "
                     "event DeviceTemperatureExceeded is sent, once per rise; 0: none)",
                     "setIntRange(DeviceTemperatureThreshold, 0, 100, 1)"}});
    tree.push_back({"DeviceUserID",
                    {feature(4, "DeviceUserID", "DeviceControl", 3),
                     "setDescription(DeviceUserID, User-defined name of the device, up to 16 printable ASCII "
                     "characters, shown by discovery; kept for this sensor across restarts)",
                     element("regDeviceUserID", "Cachable", "WriteAround", false)}});
    tree.push_back({"EventControl", {"addCategory(EventControl, Root)"}});
    const char* events[] = {"AcquisitionStart", "AcquisitionEnd",     "ExposureEnd",
                            "FrameEnd",         "FrameTriggerMissed", "DeviceTemperatureExceeded"};
    for (int e = 0; e < 6; ++e) {
        tree.push_back(
            {std::string("Event") + events[e],
             {"addEvent(" + std::string(events[e]) + ", " + std::to_string(0x9000 + e) + ", , EventControl)"}});
    }
    tree.push_back({"EventError", {"addEvent(Error, " + std::to_string(0x9006) + ", EventErrorCode, EventControl)"}});

    // Filter names are the command texts from their seventh character on: "SetSFilter1" gives "lter1". The
    // point-cloud filters' names repeat the stack filters' ones and are told apart by a suffix.
    Node filterSelector{"FilterSelector", {feature(7, "FilterSelector", "FilterControl", 3)}};
    const char* filterNames[] = {"lter1", "lter2", "lter3", "lter1_2", "lter2_2", "lter3_2"};
    for (int f = 0; f < 6; ++f) {
        filterSelector.calls.push_back("addEnumEntry(FilterSelector, " + std::string(filterNames[f]) + ", " +
                                       std::to_string(f) + ")");
    }
    filterSelector.calls.push_back(element("FilterSelector", "Visibility", "Guru", false));
    for (const char* selected : {"FilterMode", "PropertySelector", "PropertyValue"}) {
        filterSelector.calls.push_back(element("FilterSelector", "pSelected", selected, true));
    }
    tree.push_back(filterSelector);
    for (int k = 0; k < 6; ++k) {
        const std::string n = "filterselected" + std::to_string(k);
        tree.push_back({n,
                        {"addNode(IntSwissKnife, " + n + ", FilterControl, 0)",
                         element(n, "Formula", "VAR1=" + std::to_string(k) + "?1:0", false),
                         element(n, "Visibility", "Invisible", true), element(n, "pVariable", "FilterSelector", true),
                         "setNodeElementAttribute(" + n + ", pVariable, FilterSelector, Name, VAR1)"}});
    }
    tree.push_back({"FilterMode",
                    {feature(5, "FilterMode", "FilterControl", 3), element("FilterMode", "Visibility", "Guru", false),
                     element("FilterMode", "Streamable", "Yes", false),
                     element("FilterMode", "pIsLocked", "regTLParamsLocked", false),
                     element("regFilterMode", "pInvalidator", "FilterSelector", false),
                     element("regFilterMode", "Cachable", "WriteAround", false)}});

    // PropertySelector: entry, then its availability, entry after entry.
    const std::pair<const char*, int> properties[] = {
        {"lter1Prop1", 0}, {"lter2Prop1", 1}, {"lter3Prop1", 2}, {"lter1Prop1", 3}, {"lter1Prop2", 3},
        {"lter1Prop3", 3}, {"lter2Prop1", 4}, {"lter3Prop1", 5}, {"lter3Prop2", 5}, {"lter3Prop3", 5},
    };
    Node propertySelector{"PropertySelector", {feature(7, "PropertySelector", "FilterControl", 3)}};
    for (int entry = 0; entry < 10; ++entry) {
        const std::string name = properties[entry].first;
        propertySelector.calls.push_back("addEnumEntry(PropertySelector, " + name + ", " + std::to_string(entry) + ")");
        propertySelector.calls.push_back("setEnumEntryElement(PropertySelector, " + name +
                                         ", pIsAvailable, filterselected" + std::to_string(properties[entry].second) +
                                         ", true)");
    }
    for (const std::string& call : {element("PropertySelector", "pIsAvailable", "FilterMode", false),
                                    element("PropertySelector", "Visibility", "Guru", false),
                                    element("PropertySelector", "pSelected", "PropertyValue", true),
                                    element("regPropertySelector", "pInvalidator", "FilterSelector", true),
                                    element("regPropertySelector", "Cachable", "WriteAround", false)}) {
        propertySelector.calls.push_back(call);
    }
    tree.push_back(propertySelector);
    tree.push_back(
        {"PropertyValue",
         {feature(3, "PropertyValue", "FilterControl", 3), "removeNodeElement(PropertyValue, Max, 0)",
          "removeNodeElement(PropertyValue, Min, 0)", element("PropertyValue", "pMax", "regPropertyValueMax", false),
          element("PropertyValue", "pMin", "regPropertyValueMin", false),
          element("PropertyValue", "Visibility", "Guru", false), element("PropertyValue", "Streamable", "Yes", false),
          element("PropertyValue", "pIsLocked", "regTLParamsLocked", false),
          element("PropertyValue", "pIsAvailable", "FilterMode", false),
          element("regPropertyValue", "pInvalidator", "FilterSelector", true),
          element("regPropertyValue", "pInvalidator", "PropertySelector", true),
          element("regPropertyValue", "Cachable", "WriteAround", false)}});
    for (const std::string n : {"PropertyValueMin", "PropertyValueMax"}) {
        tree.push_back({n,
                        {feature(3, n, "FilterControl", 1), element(n, "Visibility", "Invisible", false),
                         element("reg" + n, "pInvalidator", "FilterSelector", true),
                         element("reg" + n, "pInvalidator", "PropertySelector", true)}});
    }
    appendComponentNodes(tree);
    appendUserSetNodes(tree);
    return tree;
}

// The calls of the tree declaration: after the identity, before the server start.
Calls declarationCalls(RecordingCamera& camera) {
    const Calls calls = camera.calls();
    auto first = std::find_if(calls.begin(), calls.end(),
                              [](const std::string& call) { return call.rfind("setMacAddress(", 0) == 0; });
    if (first != calls.end() && std::next(first) != calls.end() &&
        std::next(first)->rfind("setUserDefinedName(", 0) == 0) {
        ++first;
    }
    const auto last = std::find_if(calls.begin(), calls.end(),
                                   [](const std::string& call) { return call.rfind("startServer(", 0) == 0; });
    if (first == calls.end() || last == calls.end() || first >= last) return {};
    // Reads of values (the stored user set restored at start-up) declare nothing.
    Calls declarations;
    std::copy_if(std::next(first), last, std::back_inserter(declarations),
                 [](const std::string& call) { return call.rfind("get", 0) != 0; });
    return declarations;
}

std::vector<std::string> enumEntries(RecordingCamera& camera, const std::string& enumeration) {
    std::vector<std::string> entries;
    for (const std::string& call : camera.callsNamed("addEnumEntry")) {
        if (argumentsOf(call)[0] == enumeration) entries.push_back(call);
    }
    return entries;
}

class FeatureTreeTest : public BridgeTest {
protected:
    void connectAndStart(const std::string& descriptor = sampleDescriptor()) {
        ASSERT_NO_FATAL_FAILURE(connect(descriptor));
        testing::internal::CaptureStderr();
        const bool started = bridge->startDeviceServer("", -1);
        testing::internal::GetCapturedStderr();
        ASSERT_TRUE(started);
    }
};

TEST_F(FeatureTreeTest, EveryNodeGetsExactlyTheCallsOfItsTableRowInTableOrder) {
    ASSERT_NO_FATAL_FAILURE(connectAndStart());
    const Calls declared = declarationCalls(*camera);
    ASSERT_FALSE(declared.empty());
    const std::vector<Node> tree = expectedTree();

    std::map<std::string, Calls> actualByNode;
    std::vector<std::string> nodeOrder;
    for (const std::string& call : declared) {
        const std::string node = nodeOf(call);
        if (actualByNode.find(node) == actualByNode.end()) nodeOrder.push_back(node);
        actualByNode[node].push_back(call);
    }

    std::vector<std::string> expectedOrder;
    for (const Node& node : tree) expectedOrder.push_back(node.name);
    EXPECT_EQ(nodeOrder, expectedOrder);

    for (const Node& node : tree) {
        SCOPED_TRACE(node.name);
        Calls actual = actualByNode[node.name];
        Calls expected = node.calls;
        // Within a node the calls may come in any order, except those that share an order key.
        std::map<std::string, Calls> actualKeyed;
        std::map<std::string, Calls> expectedKeyed;
        for (const std::string& call : actual) actualKeyed[orderKey(call)].push_back(call);
        for (const std::string& call : expected) expectedKeyed[orderKey(call)].push_back(call);
        EXPECT_EQ(actualKeyed, expectedKeyed);
    }
}

TEST_F(FeatureTreeTest, ImageSizeRowsComeInTheirFixedSequence) {
    ASSERT_NO_FATAL_FAILURE(connectAndStart());
    const Calls declared = declarationCalls(*camera);
    const Calls sequence = {
        "setAccessMode(Width, 1)",
        element("regWidth", "pInvalidator", "StackAcquisitionMode", false),
        "setAccessMode(Height, 1)",
        element("regHeight", "pInvalidator", "StackAcquisitionMode", false),
        "setAccessMode(OffsetX, 1)",
        element("regOffsetX", "pInvalidator", "StackAcquisitionMode", false),
        "setAccessMode(OffsetY, 1)",
        element("regOffsetY", "pInvalidator", "StackAcquisitionMode", false),
        "addPixelFormat(Mono16)",
        "addPixelFormat(RGB16)",
        "addPixelFormat(Coord3D_ABC32f)",
        element("PixelFormat", "Streamable", "Yes", false),
        element("PixelFormat", "pIsLocked", "regTLParamsLocked", false),
        "setImageSize(64, 48, 0)",
        "setImageOffset(0, 0, 0)",
    };
    EXPECT_NE(std::search(declared.begin(), declared.end(), sequence.begin(), sequence.end()), declared.end());
}

TEST_F(FeatureTreeTest, StackAcquisitionModeHasOneEntryPerModeFromMinToMax) {
    struct Case {
        int min;
        int max;
        std::vector<std::string> entries;
    };
    const Case cases[] = {
        {4, 2, {}},
        {5, 5, {"addEnumEntry(StackAcquisitionMode, mode5, 5)"}},
        {10,
         12,
         {"addEnumEntry(StackAcquisitionMode, mode10, 10)", "addEnumEntry(StackAcquisitionMode, mode11, 11)",
          "addEnumEntry(StackAcquisitionMode, mode12, 12)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.min) + ".." + std::to_string(c.max));
        SetUp();
        const std::string descriptor =
            replaceFirst(sampleDescriptor(), "<stackacquisitionmode><current>1</current><min>0</min><max>3</max>",
                         "<stackacquisitionmode><current>1</current><min>" + std::to_string(c.min) + "</min><max>" +
                             std::to_string(c.max) + "</max>");
        ASSERT_NO_FATAL_FAILURE(connectAndStart(descriptor));
        EXPECT_EQ(enumEntries(*camera, "StackAcquisitionMode"), c.entries);
        bridge.reset();
    }
}

TEST_F(FeatureTreeTest, AFilterWithAnEmptyNameStillGetsItsEntry) {
    ASSERT_NO_FATAL_FAILURE(connectAndStart(
        replaceFirst(sampleDescriptor(), "<command>SetSFilter1</command>", "<command>SetSF1</command>")));
    const std::vector<std::string> entries = enumEntries(*camera, "FilterSelector");
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[0], "addEnumEntry(FilterSelector, , 0)");
}

TEST_F(FeatureTreeTest, FiltersOfOneNameStayDistinguishable) {
    ASSERT_NO_FATAL_FAILURE(connectAndStart(
        replaceFirst(sampleDescriptor(), "<command>SetSFilter2</command>", "<command>SetSFilter1</command>")));
    const std::vector<std::string> entries = enumEntries(*camera, "FilterSelector");
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[0], "addEnumEntry(FilterSelector, lter1, 0)");
    EXPECT_EQ(entries[1], "addEnumEntry(FilterSelector, lter1_2, 1)");
    EXPECT_EQ(entries[3], "addEnumEntry(FilterSelector, lter1_3, 3)");
}

}  // namespace
