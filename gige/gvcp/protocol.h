// Codes, sizes and bootstrap register addresses of the GigE Vision control protocol (GVCP) as the device
// side uses them. Only the codec knows byte positions inside a datagram.
#pragma once

#include <cstdint>

namespace gvcp {

constexpr std::uint16_t kPort = 3956;
constexpr std::uint8_t kKey = 0x42;
constexpr std::uint32_t kHeaderSize = 8;
// 576-byte IP datagrams leave 548 bytes of GVCP, 540 after the header.
constexpr std::uint32_t kMaxPayload = 540;
constexpr std::uint32_t kMaxMemoryBytes = 536;  // READMEM/WRITEMEM data: 540 minus the address
constexpr std::uint32_t kMaxReadRegCount = 135;
constexpr std::uint32_t kMaxWriteRegCount = 67;
constexpr std::uint32_t kDiscoveryAckSize = 0xF8;

enum FlagBits : std::uint8_t {
    FlagAckRequired = 0x01,
    FlagBroadcastAck = 0x10,     // DISCOVERY: the host accepts a broadcast answer
    FlagScheduledAction = 0x80,  // ACTION: the command carries the time the action is to take effect
};

enum class Command : std::uint16_t {
    Discovery = 0x0002,
    ForceIp = 0x0004,
    PacketResend = 0x0040,
    ReadReg = 0x0080,
    WriteReg = 0x0082,
    ReadMem = 0x0084,
    WriteMem = 0x0086,
    Event = 0x00C0,
    EventData = 0x00C2,
    Action = 0x0100,
};
constexpr std::uint16_t kPendingAck = 0x0089;
constexpr std::uint16_t ackCode(std::uint16_t command) { return static_cast<std::uint16_t>(command + 1); }

enum class Status : std::uint16_t {
    Success = 0x0000,
    NotImplemented = 0x8001,
    InvalidParameter = 0x8002,
    InvalidAddress = 0x8003,
    WriteProtect = 0x8004,
    BadAlignment = 0x8005,
    AccessDenied = 0x8006,
    Busy = 0x8007,
    InvalidHeader = 0x800E,
    Overflow = 0x8015,    // status codes 2.0
    ActionLate = 0x8016,  // status codes 2.0: sent only when the client enabled them
    Error = 0x8FFF,
};

// Bootstrap registers the library gives a meaning to.
namespace reg {
constexpr std::uint32_t kVersion = 0x0000;
constexpr std::uint32_t kDeviceMode = 0x0004;
constexpr std::uint32_t kMacHigh = 0x0008;
constexpr std::uint32_t kMacLow = 0x000C;
constexpr std::uint32_t kSupportedIpConfig = 0x0010;
constexpr std::uint32_t kCurrentIpConfig = 0x0014;
constexpr std::uint32_t kCurrentIp = 0x0024;
constexpr std::uint32_t kCurrentMask = 0x0034;
constexpr std::uint32_t kCurrentGateway = 0x0044;
constexpr std::uint32_t kManufacturerName = 0x0048;  // 32 bytes
constexpr std::uint32_t kModelName = 0x0068;         // 32
constexpr std::uint32_t kDeviceVersion = 0x0088;     // 32
constexpr std::uint32_t kManufacturerInfo = 0x00A8;  // 48
constexpr std::uint32_t kSerialNumber = 0x00D8;      // 16
constexpr std::uint32_t kUserDefinedName = 0x00E8;   // 16
constexpr std::uint32_t kFirstUrl = 0x0200;          // 512
constexpr std::uint32_t kSecondUrl = 0x0400;         // 512
constexpr std::uint32_t kUrlSize = 512;
constexpr std::uint32_t kInterfaceCount = 0x0600;
constexpr std::uint32_t kPersistentIp = 0x064C;
constexpr std::uint32_t kPersistentMask = 0x065C;
constexpr std::uint32_t kPersistentGateway = 0x066C;
constexpr std::uint32_t kLinkSpeed = 0x0670;
constexpr std::uint32_t kMessageChannelCount = 0x0900;
constexpr std::uint32_t kStreamChannelCount = 0x0904;
constexpr std::uint32_t kActionSignalCount = 0x0908;
constexpr std::uint32_t kActionDeviceKey = 0x090C;
constexpr std::uint32_t kActiveLinkCount = 0x0910;
constexpr std::uint32_t kStreamChannelCapability = 0x092C;
constexpr std::uint32_t kMessageChannelCapability = 0x0930;
constexpr std::uint32_t kGvcpCapability = 0x0934;
constexpr std::uint32_t kHeartbeatTimeout = 0x0938;
constexpr std::uint32_t kTickFrequencyHigh = 0x093C;
constexpr std::uint32_t kTickFrequencyLow = 0x0940;
constexpr std::uint32_t kTimestampControl = 0x0944;
constexpr std::uint32_t kTimestampValueHigh = 0x0948;
constexpr std::uint32_t kTimestampValueLow = 0x094C;
constexpr std::uint32_t kDiscoveryAckDelay = 0x0950;
constexpr std::uint32_t kGvcpConfiguration = 0x0954;
constexpr std::uint32_t kPendingTimeout = 0x0958;
constexpr std::uint32_t kSwitchoverKey = 0x095C;
constexpr std::uint32_t kGvspConfiguration = 0x0960;
constexpr std::uint32_t kScheduledActionQueueSize = 0x0970;
constexpr std::uint32_t kControlPrivilege = 0x0A00;
constexpr std::uint32_t kPrimaryPort = 0x0A04;
constexpr std::uint32_t kPrimaryAddress = 0x0A14;
constexpr std::uint32_t kMessageChannelPort = 0x0B00;
constexpr std::uint32_t kMessageChannelDestination = 0x0B10;
constexpr std::uint32_t kMessageChannelTimeout = 0x0B14;
constexpr std::uint32_t kMessageChannelRetries = 0x0B18;
constexpr std::uint32_t kMessageChannelSourcePort = 0x0B1C;
constexpr std::uint32_t kBootstrapEnd = 0x1000;
// Action group key and mask of signal i at kActionGroupBase + kActionGroupStride * i and 4 bytes further.
constexpr std::uint32_t kActionGroupBase = 0x9800;
constexpr std::uint32_t kActionGroupStride = 0x10;
}  // namespace reg

// The notification word of event `id` lies at kEventNotificationBase + 4 * id (the XML selects it through
// pIndex on EventSelector, whose values are the event ids): the last quarter of the megabyte below the XML, above
// the feature area. The dropped-event count lies between the action groups and the feature area.
constexpr std::uint32_t kEventNotificationBase = 0x000C0000;
constexpr std::uint32_t kEventNotificationEnd = kEventNotificationBase + 4 * 0x10000;
constexpr std::uint32_t kEventDroppedCount = 0x0000A000;

// Where one event's fields lie in what a GenICam client's event port receives: the event record as it came,
// from its first byte. With extended ids the 64-bit block id sits in front of the timestamp, which therefore
// moves 8 bytes further, like the data after it.
constexpr std::uint32_t kEventIdOffset = 2;
constexpr std::uint32_t kEventBlockIdOffset = 6;    // 2 bytes; 8 bytes at 8 with extended ids
constexpr std::uint32_t kEventTimestampOffset = 8;  // 16 with extended ids
constexpr std::uint32_t kEventDataOffset = 16;      // 24 with extended ids
constexpr std::uint32_t kEventRecordSize = 16;
constexpr std::uint32_t kExtendedEventRecordSize = 24;
constexpr std::uint32_t kEventDataSize = 4;

// Bits of the control channel privilege register (0x0A00).
enum PrivilegeBits : std::uint32_t {
    PrivilegeExclusive = 0x1,
    PrivilegeControl = 0x2,
    PrivilegeSwitchoverEnable = 0x4,
};

// GVCP capability bits (0x0934).
enum CapabilityBits : std::uint32_t {
    CapUserDefinedName = 0x80000000,
    CapSerialNumber = 0x40000000,
    CapHeartbeatDisable = 0x20000000,
    CapPrimaryApplicationRegisters = 0x08000000,
    CapUnconditionalAction = 0x00100000,
    CapStatusCodes20 = 0x00040000,
    CapScheduledAction = 0x00020000,
    CapAction = 0x00000040,
    CapPendingAck = 0x00000020,
    CapEventData = 0x00000010,
    CapEvent = 0x00000008,
    CapPacketResend = 0x00000004,
    CapWriteMem = 0x00000002,
    CapConcatenation = 0x00000001,
};

// Message channel capability (0x0930): the source port register MCSP is there.
constexpr std::uint32_t kMessageChannelSourcePortSupported = 0x80000000;

// GVCP configuration bits (0x0954).
enum GvcpConfigBits : std::uint32_t {
    GvcpConfigHeartbeatDisable = 0x1,
    GvcpConfigPendingAck = 0x2,
    GvcpConfigUnconditionalAction = 0x8,
    GvcpConfigStatusCodes20 = 0x00040000,
};

}  // namespace gvcp
