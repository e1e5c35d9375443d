// The features every device starts with, before the program declares its own.
#include "genicam/library_features.h"

#include <string>
#include <utility>
#include <vector>

#include "gev_camera.h"
#include "gvcp/action_signals.h"
#include "gvcp/protocol.h"
#include "gvsp/gvsp_protocol.h"
#include "gvsp/pixel_formats.h"
#include "ptp/ptp_management.h"

namespace genicam {

namespace {

void imageFormat(FeatureStore& store) {
    store.addCategory("ImageFormatControl", "Root");
    for (const char* name : {"Width", "Height"}) {
        store.addFeature(GevInteger, name, "ImageFormatControl", GevReadWrite, "", true);
        store.setIntRange(name, 1, 65535, 1);
    }
    for (const char* name : {"OffsetX", "OffsetY"}) {
        store.addFeature(GevInteger, name, "ImageFormatControl", GevReadWrite, "", true);
        store.setIntRange(name, 0, 65535, 1);
    }
    store.setInt("Width", kDefaultWidth);
    store.setInt("Height", kDefaultHeight);
    store.addFeature(GevEnumeration, "PixelFormat", "ImageFormatControl", GevReadWrite, "", true);
    for (const char* name : {"Mono8", "Coord3D_ABC16"})
        store.addEnumEntry("PixelFormat", name, gvsp::findPixelFormat(name)->code);
    store.setEnum("PixelFormat", "Mono8");
}

void acquisition(FeatureStore& store) {
    store.addCategory("AcquisitionControl", "Root");
    store.addFeature(GevEnumeration, "AcquisitionMode", "AcquisitionControl", GevReadWrite, "", true);
    store.addEnumEntry("AcquisitionMode", "Continuous", 1);
    for (const char* name : {"AcquisitionStart", "AcquisitionStop", "TriggerSoftware"})
        store.addCommand(name, "AcquisitionControl");
}

void chunkControls(FeatureStore& store) {
    // Filed under the chunk category when the program declares it (or a default one at start).
    struct Control {
        int type;
        const char* name;
    };
    const Control controls[] = {
        {GevBoolean, "ChunkModeActive"},
        {GevEnumeration, "ChunkSelector"},
        {GevBoolean, "ChunkEnable"},
    };
    for (const auto& control : controls) {
        store.addFeature(control.type, control.name, "", GevReadWrite, "", true);
        store.addChunkControlFeature(control.name);
    }
    store.setElement("ChunkSelector", "pSelected", "ChunkEnable", true);
}

void transportLayer(FeatureStore& store) {
    using namespace gvcp::reg;
    using namespace gvsp;
    store.addCategory("TransportLayerControl", "Root");
    store.addFeature(GevInteger, "PayloadSize", "TransportLayerControl", GevReadOnly, "", true);
    struct Bound {
        const char* name;
        std::uint16_t access;
        std::uint32_t address;
        std::uint32_t length;
        std::uint32_t mask;
    };
    const Bound bound[] = {
        {"GevSCPSPacketSize", GevReadWrite, kChannelBase + RegPacketSize, 4, kPacketSizeMask},
        {"GevSCPD", GevReadWrite, kChannelBase + RegPacketDelay, 4, 0},
        {"GevSCPHostPort", GevReadWrite, kChannelBase + RegPort, 4, kPortMask},
        {"GevSCDA", GevReadWrite, kChannelBase + RegDestination, 4, 0},
        {"GevSCSP", GevReadOnly, kChannelBase + RegSourcePort, 4, kPortMask},
        {"GevHeartbeatTimeout", GevReadWrite, kHeartbeatTimeout, 4, 0},
        {"GevTimestampTickFrequency", GevReadOnly, kTickFrequencyHigh, 8, 0},
        {"GevTimestampValue", GevReadOnly, kTimestampValueHigh, 8, 0},
        // The message channel: where events go, how long the device waits for each acknowledge and how often
        // it sends an event again, and the port events leave from (the control port).
        {"GevMCPHostPort", GevReadWrite, kMessageChannelPort, 4, 0xFFFF},
        {"GevMCDA", GevReadWrite, kMessageChannelDestination, 4, 0},
        {"GevMCTT", GevReadWrite, kMessageChannelTimeout, 4, 0},
        {"GevMCRC", GevReadWrite, kMessageChannelRetries, 4, 0},
        {"GevMCSP", GevReadOnly, kMessageChannelSourcePort, 4, 0xFFFF},
    };
    for (const auto& feature : bound) {
        store.addBootstrapFeature(GevInteger, feature.name, "TransportLayerControl", feature.access, feature.address,
                                  feature.length, feature.mask);
    }
    store.setIntRange("GevSCPSPacketSize", kMinPacketSize, kMaxPacketSize, kPacketSizeIncrement);
    // Packet-size negotiation: a client sends itself test packets of the sizes it tries, unfragmented.
    store.addBootstrapFeature(GevBoolean, "GevSCPSFireTestPacket", "TransportLayerControl", GevReadWrite,
                              kChannelBase + RegPacketSize, 4, kPacketSizeFireTest);
    store.addBootstrapFeature(GevBoolean, "GevSCPSDoNotFragment", "TransportLayerControl", GevReadWrite,
                              kChannelBase + RegPacketSize, 4, kPacketSizeDoNotFragment);
    store.setIntRange("GevHeartbeatTimeout", 500, 0xFFFFFFFFLL, 1);
    // 64-bit block ids on the stream; the records of events carry the same kind of id.
    store.addBootstrapFeature(GevEnumeration, "GevGVSPExtendedIDMode", "TransportLayerControl", GevReadWrite,
                              kGvspConfiguration, 4, kGvspConfigExtendedIds);
    store.addEnumEntry("GevGVSPExtendedIDMode", "Off", 0);
    store.addEnumEntry("GevGVSPExtendedIDMode", "On", 1);
    // Multipart blocks on the stream channel, when the program offers them (read back false otherwise); they
    // also need extended ids.
    store.addBootstrapFeature(GevBoolean, "GevSCCFGMultiPartEnabled", "TransportLayerControl", GevReadWrite,
                              kChannelBase + RegConfig, 4, kConfigMultipart);
    // A receiver slower than the link gets whole frames when the stream is held to what it takes.
    store.addFeature(GevEnumeration, "DeviceLinkThroughputLimitMode", "TransportLayerControl", GevReadWrite, "", true);
    store.addEnumEntry("DeviceLinkThroughputLimitMode", "Off", 0);
    store.addEnumEntry("DeviceLinkThroughputLimitMode", "On", 1);
    store.setEnum("DeviceLinkThroughputLimitMode", "Off");
    store.addFeature(GevInteger, "DeviceLinkThroughputLimit", "TransportLayerControl", GevReadWrite, "", true);
    store.setIntRange("DeviceLinkThroughputLimit", kMinThroughputLimit, kMaxThroughputLimit, 1);
    store.setInt("DeviceLinkThroughputLimit", kDefaultThroughputLimit);
    store.setDescription("DeviceLinkThroughputLimit",
                         "Bytes per second the stream may send while DeviceLinkThroughputLimitMode is On "
                         "(IP packets, resends included).");
    // No standard feature sets how far a multicast stream travels, so the device has its own; 1 keeps the group's
    // packets on the device's network.
    store.addFeature(GevInteger, "GevSCMulticastTTL", "TransportLayerControl", GevReadWrite, "", true);
    store.setIntRange("GevSCMulticastTTL", kMinMulticastTtl, kMaxMulticastTtl, 1);
    store.setInt("GevSCMulticastTTL", kDefaultMulticastTtl);
    store.setDescription("GevSCMulticastTTL",
                         "Routers a stream to a multicast group (GevSCDA in 224.0.0.0/4) may cross: the IP time to "
                         "live of its packets. This device's own feature; unicast streams ignore it.");
    // The protocol version the device implements, as the version register holds it.
    store.addBootstrapFeature(GevInteger, "DeviceTLVersionMajor", "TransportLayerControl", GevReadOnly, kVersion, 4,
                              0xFFFF0000);
    store.addBootstrapFeature(GevInteger, "DeviceTLVersionMinor", "TransportLayerControl", GevReadOnly, kVersion, 4,
                              0x0000FFFF);
    // Copies the device clock into GevTimestampValue; the reset makes the clock count from 0.
    store.addBootstrapCommand("GevTimestampControlLatch", "TransportLayerControl", kTimestampControl, 0x2);
    store.addBootstrapCommand("GevTimestampControlReset", "TransportLayerControl", kTimestampControl, 0x1);
    // The same under the names of the standard feature list.
    store.addBootstrapCommand("TimestampLatch", "TransportLayerControl", kTimestampControl, 0x2);
    store.addBootstrapCommand("TimestampReset", "TransportLayerControl", kTimestampControl, 0x1);
    store.addBootstrapFeature(GevInteger, "TimestampLatchValue", "TransportLayerControl", GevReadOnly,
                              kTimestampValueHigh, 8, 0);
}

// The device's identity and network place as clients look them up by their standard names, read from the
// bootstrap registers the discovery answer is made of, so that both always say the same.
void deviceInfo(FeatureStore& store) {
    using namespace gvcp::reg;
    store.addBootstrapFeature(GevString, "DeviceManufacturerInfo", "", GevReadOnly, kManufacturerInfo, 48, 0);
    store.fileWhenDeclared("DeviceControl", "DeviceManufacturerInfo");

    // One network interface and one stream channel: each selector has the single entry 0.
    const struct {
        const char* selector;
        std::vector<const char*> selected;
    } selectors[] = {
        {"GevInterfaceSelector", {"GevMACAddress", "GevCurrentIPAddress", "GevCurrentSubnetMask"}},
        {"GevStreamChannelSelector",
         {"GevSCPHostPort", "GevSCPSPacketSize", "GevSCPSFireTestPacket", "GevSCPSDoNotFragment", "GevSCPD", "GevSCDA",
          "GevSCSP"}},
    };
    for (const auto& [selector, selected] : selectors) {
        store.addFeature(GevInteger, selector, "TransportLayerControl", GevReadWrite, "", true);
        store.setIntRange(selector, 0, 0, 1);
        for (const char* name : selected) store.setElement(selector, "pSelected", name, true);
    }
    // The MAC address word pair keeps its upper 16 bits 0, so the 8 bytes read as the 48-bit address.
    store.addBootstrapFeature(GevInteger, "GevMACAddress", "TransportLayerControl", GevReadOnly, kMacHigh, 8, 0);
    store.setElement("GevMACAddress", "Representation", "MACAddress", false);
    for (const auto& [name, address] :
         {std::pair{"GevCurrentIPAddress", kCurrentIp}, std::pair{"GevCurrentSubnetMask", kCurrentMask}}) {
        store.addBootstrapFeature(GevInteger, name, "TransportLayerControl", GevReadOnly, address, 4, 0);
        store.setElement(name, "Representation", "IPV4Address", false);
    }
    // The privilege bits only: a read-modify-write leaves the switchover key above them alone.
    store.addBootstrapFeature(GevEnumeration, "GevCCP", "TransportLayerControl", GevReadWrite, kControlPrivilege, 4,
                              gvcp::PrivilegeExclusive | gvcp::PrivilegeControl | gvcp::PrivilegeSwitchoverEnable);
    store.addEnumEntry("GevCCP", "OpenAccess", 0);
    store.addEnumEntry("GevCCP", "ExclusiveAccess", gvcp::PrivilegeExclusive);
    store.addEnumEntry("GevCCP", "ControlAccess", gvcp::PrivilegeControl);
    store.addEnumEntry("GevCCP", "ControlAccessSwitchoverActive",
                       gvcp::PrivilegeControl | gvcp::PrivilegeSwitchoverEnable);
}

void actionControl(FeatureStore& store) {
    using namespace gvcp::reg;
    constexpr auto kSignals = static_cast<std::int64_t>(gvcp::ActionSignals::kSignalCount);
    store.addCategory("ActionControl", "Root");
    store.addBootstrapFeature(GevInteger, "ActionDeviceKey", "ActionControl", GevReadWrite, kActionDeviceKey, 4, 0);
    store.find("ActionDeviceKey")->access = kWriteOnlyAccess;
    store.addFeature(GevInteger, "ActionSelector", "ActionControl", GevReadWrite, "", true);
    store.setIntRange("ActionSelector", 1, kSignals, 1);
    store.setInt("ActionSelector", 1);
    // Signal i's key and mask lie at 0x9800 + 0x10 * i (and 4 further); ActionSelector counts from 1.
    const struct {
        const char* name;
        std::uint32_t address;
    } groups[] = {{"ActionGroupKey", kActionGroupBase}, {"ActionGroupMask", kActionGroupBase + 4}};
    for (const auto& group : groups) {
        store.addBootstrapFeature(GevInteger, group.name, "ActionControl", GevReadWrite,
                                  group.address - kActionGroupStride, 4, 0);
        store.setElementAttribute(std::string("reg") + group.name, "pIndex", "ActionSelector", "Offset",
                                  std::to_string(kActionGroupStride));
        store.setElement("ActionSelector", "pSelected", group.name, true);
    }
    // Without it a device takes actions only while an application controls it.
    store.addBootstrapFeature(GevEnumeration, "ActionUnconditionalMode", "ActionControl", GevReadWrite,
                              kGvcpConfiguration, 4, gvcp::GvcpConfigUnconditionalAction);
    store.addEnumEntry("ActionUnconditionalMode", "Off", 0);
    store.addEnumEntry("ActionUnconditionalMode", "On", 1);
    store.addBootstrapFeature(GevInteger, "ActionQueueSize", "ActionControl", GevReadOnly, kScheduledActionQueueSize, 4,
                              0);
}

// The host clock's PTP status as the host's ptp4l reports it, latched by PtpDataSetLatch (the camera carries
// the latch out, and latches once when the server starts).
void ptpControl(FeatureStore& store) {
    store.addCategory("PtpControl", "TransportLayerControl");
    store.addFeature(GevBoolean, "PtpEnable", "PtpControl", GevReadOnly, "", true);
    store.setDescription(
        "PtpEnable",
        "True when the host's ptp4l answered at the last latch. The device follows the host's real-time clock "
        "and cannot switch PTP on or off: that is the host's time service (ptp4l, phc2sys).");
    store.addCommand("PtpDataSetLatch", "PtpControl");
    store.setDescription("PtpDataSetLatch", "Asks the host's ptp4l and latches its answer into the Ptp features.");
    store.addFeature(GevEnumeration, "PtpStatus", "PtpControl", GevReadOnly, "", true);
    for (const auto state : {ptp::PortState::Initializing, ptp::PortState::Faulty, ptp::PortState::Disabled,
                             ptp::PortState::Listening, ptp::PortState::PreMaster, ptp::PortState::Master,
                             ptp::PortState::Passive, ptp::PortState::Uncalibrated, ptp::PortState::Slave})
        store.addEnumEntry("PtpStatus", ptp::portStateName(state), static_cast<std::int64_t>(state));
    store.setEnum("PtpStatus", ptp::portStateName(ptp::PortState::Disabled));
    store.addFeature(GevEnumeration, "PtpServoStatus", "PtpControl", GevReadOnly, "", true);
    store.addEnumEntry("PtpServoStatus", "Unknown", 0);
    store.addEnumEntry("PtpServoStatus", "Locked", 1);
    store.setEnum("PtpServoStatus", "Unknown");
    store.addFeature(GevInteger, "PtpOffsetFromMaster", "PtpControl", GevReadOnly, "", true);
    store.setElement("PtpOffsetFromMaster", "Unit", "ns", false);
}

}  // namespace

void declareLibraryFeatures(FeatureStore& store) {
    imageFormat(store);
    acquisition(store);
    chunkControls(store);
    transportLayer(store);
    deviceInfo(store);
    ptpControl(store);
    actionControl(store);
    for (const char* name : {"Width", "Height", "PixelFormat", "ChunkModeActive", "ChunkEnable",
                             "GevSCCFGMultiPartEnabled", "GevGVSPExtendedIDMode"})
        store.setElement("regPayloadSize", "pInvalidator", name, true);
}

}  // namespace genicam
