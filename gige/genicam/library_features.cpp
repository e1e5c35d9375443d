// The features every device starts with, before the program declares its own.
#include "genicam/library_features.h"

#include <string>

#include "gev_camera.h"
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
        std::uint16_t access;
    };
    const Control controls[] = {
        {GevBoolean, "ChunkModeActive", GevReadWrite},
        {GevEnumeration, "ChunkSelector", GevReadWrite},
        {GevBoolean, "ChunkEnable", GevReadWrite},
        {GevEnumeration, "ChunkScan3dCoordinateSelector", GevReadWrite},
        {GevFloat, "ChunkScan3dCoordinateScale", GevReadOnly},
        {GevFloat, "ChunkScan3dCoordinateOffset", GevReadOnly},
        {GevBoolean, "ChunkScan3dInvalidDataFlag", GevReadOnly},
        {GevFloat, "ChunkScan3dInvalidDataValue", GevReadOnly},
    };
    for (const auto& control : controls) {
        store.addFeature(control.type, control.name, "", control.access, "", true);
        store.addChunkControlFeature(control.name);
    }
    store.setElement("ChunkSelector", "pSelected", "ChunkEnable", true);
    const char* axes[] = {"CoordinateA", "CoordinateB", "CoordinateC"};
    for (int i = 0; i < 3; ++i) store.addEnumEntry("ChunkScan3dCoordinateSelector", axes[i], i);
    for (const char* selected : {"ChunkScan3dCoordinateScale", "ChunkScan3dCoordinateOffset",
                                 "ChunkScan3dInvalidDataFlag", "ChunkScan3dInvalidDataValue"})
        store.setElement("ChunkScan3dCoordinateSelector", "pSelected", selected, true);
    store.setFloat("ChunkScan3dCoordinateScale", 1.0F);
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
    // The protocol version the device implements, as the version register holds it.
    store.addBootstrapFeature(GevInteger, "DeviceTLVersionMajor", "TransportLayerControl", GevReadOnly, kVersion, 4,
                              0xFFFF0000);
    store.addBootstrapFeature(GevInteger, "DeviceTLVersionMinor", "TransportLayerControl", GevReadOnly, kVersion, 4,
                              0x0000FFFF);
    // Copies the device clock into GevTimestampValue.
    store.addBootstrapCommand("GevTimestampControlLatch", "TransportLayerControl", kTimestampControl, 0x2);
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
    ptpControl(store);
    for (const char* name : {"Width", "Height", "PixelFormat", "ChunkModeActive", "ChunkEnable"})
        store.setElement("regPayloadSize", "pInvalidator", name, true);
}

}  // namespace genicam
