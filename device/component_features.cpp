// The standard descriptions a GenICam client reads to understand the device without a manual: what the
// 3D coordinates mean (unit, output mode, coordinate system), what kind of device it is, and the image
// components (Range, Intensity, Confidence) of one trigger with the identifiers their parts carry.
#include "component_features.h"

#include <string>
#include <tuple>

#include "main_class.h"

namespace {

constexpr const char* kLock = "regTLParamsLocked";

// A read-only enumeration with one entry: a fact about the device that never changes.
void declareFixedEnumeration(CGevCamera& camera, const char* name, const char* category, const char* entry,
                             const char* description) {
    camera.addFeature(GevEnumeration, name, category, GevReadOnly, nullptr, 1);
    camera.setDescription(name, description);
    camera.addEnumEntry(name, entry, 0);
    camera.setEnumValue(name, entry);
}

void declareScan3dDescriptors(CGevCamera& camera) {
    declareFixedEnumeration(camera, "Scan3dDistanceUnit", "Scan3DControl", "Millimeter",
                            "Unit of the 3D coordinates after scale and offset are applied");
    // Every pixel of the sensor's grid carries one point (A, B, C); unmeasured points stay in the grid as zeros.
    declareFixedEnumeration(camera, "Scan3dOutputMode", "Scan3DControl", "CalibratedABC_Grid",
                            "Layout of the Range data: calibrated A, B, C coordinates on the pixel grid");
    declareFixedEnumeration(camera, "Scan3dCoordinateSystem", "Scan3DControl", "Cartesian",
                            "Coordinate system of the Range data");
    declareFixedEnumeration(camera, "Scan3dCoordinateSystemReference", "Scan3DControl", "Anchor",
                            "The coordinates are given in the sensor's own frame, not transformed");
}

void declareIdentification(CMainClass& bridge, CGevCamera& camera) {
    camera.addFeature(GevString, "DeviceID", "DeviceControl", GevReadOnly, nullptr, 1);
    camera.setStringValue("DeviceID", bridge.serialNumber.c_str());
    declareFixedEnumeration(camera, "DeviceScanType", "DeviceControl", "Areascan3D",
                            "The device delivers 3D images of a whole area at once");
    for (const auto& [name, size, text] :
         {std::tuple{"WidthMax", bridge.pixelXMax, "Largest image width the sensor delivers"},
          std::tuple{"HeightMax", bridge.pixelYMax, "Largest image height the sensor delivers"}}) {
        camera.addFeature(GevInteger, name, "ImageFormatControl", GevReadOnly, nullptr, 1);
        camera.setDescription(name, text);
        camera.setIntRange(name, size, size, 1);
        camera.setIntValue(name, size);
    }
}

void declareComponents(CGevCamera& camera) {
    camera.addFeature(GevEnumeration, "AcquisitionMultiPartMode", "AcquisitionControl", GevReadWrite, nullptr, 1);
    camera.setDescription("AcquisitionMultiPartMode",
                          "SingleComponent: one image per block, in PixelFormat. SynchronizedComponents: with a 3D "
                          "PixelFormat, the enabled components of one trigger in one multipart block");
    camera.addEnumEntry("AcquisitionMultiPartMode", "SingleComponent", kMultiPartSingleComponent);
    camera.addEnumEntry("AcquisitionMultiPartMode", "SynchronizedComponents", kMultiPartSynchronizedComponents);
    camera.setMultipartOffered(true);
    camera.setEnumValue("AcquisitionMultiPartMode", "SingleComponent");
    camera.setNodeElement("AcquisitionMultiPartMode", "pIsLocked", kLock, false);

    camera.addFeature(GevEnumeration, "ComponentSelector", "ImageFormatControl", GevReadWrite, nullptr, 1);
    camera.setDescription("ComponentSelector",
                          "Selects the image component that ComponentEnable and ComponentIDValue address");
    for (std::size_t c = 0; c < kComponentCount; ++c) {
        camera.addEnumEntry("ComponentSelector", kComponents[c].name, static_cast<std::int64_t>(c));
    }
    camera.setEnumValue("ComponentSelector", kComponents[0].name);
    for (const char* selected : {"ComponentEnable", "ComponentIDValue"}) {
        camera.setNodeElement("ComponentSelector", "pSelected", selected, true);
    }

    camera.addFeature(GevBoolean, "ComponentEnable", "ImageFormatControl", GevReadWrite, nullptr, 1);
    camera.setDescription("ComponentEnable", "Whether the selected component goes into a multipart block");
    camera.setNodeElement("ComponentEnable", "pIsLocked", kLock, false);
    camera.setNodeElement("regComponentEnable", "pInvalidator", "ComponentSelector", true);

    camera.addFeature(GevInteger, "ComponentIDValue", "ImageFormatControl", GevReadOnly, nullptr, 1);
    camera.setDescription("ComponentIDValue", "Identifier of the selected component in the parts of a multipart block");
    camera.setNodeElement("regComponentIDValue", "pInvalidator", "ComponentSelector", true);
    // Both decide whether the blocks are multipart and what they carry.
    for (const char* name : {"AcquisitionMultiPartMode", "ComponentEnable"})
        camera.setNodeElement("regPayloadSize", "pInvalidator", name, true);
}

}  // namespace

void declareComponentFeatures(CMainClass& bridge) {
    CGevCamera& camera = *bridge.camera;
    declareScan3dDescriptors(camera);
    declareIdentification(bridge, camera);
    declareComponents(camera);
}
