// Codes, sizes and register offsets of the GigE Vision stream protocol (GVSP) and of stream channel 0,
// as the device side uses them. Only the packet encoder knows byte positions inside a packet.
#pragma once

#include <cstdint>

namespace gvsp {

// IPv4 header (20) + UDP header (8): the part of SCPS that is not GVSP.
constexpr std::uint32_t kIpUdpOverhead = 28;
// Standard-id GVSP header: status, 16-bit block id, format, 24-bit packet id.
constexpr std::uint32_t kHeaderSize = 8;
// Extended-id header: status, flags, format, 3 bytes of format information, 64-bit block id, 32-bit packet id.
constexpr std::uint32_t kExtendedHeaderSize = 20;
constexpr std::uint32_t kMaxHeaderSize = kExtendedHeaderSize;
constexpr std::uint32_t headerSize(bool extendedIds) { return extendedIds ? kExtendedHeaderSize : kHeaderSize; }
// Packet data bytes per payload packet = SCPS - 36 (IP + UDP + GVSP header).
constexpr std::uint32_t kPacketOverhead = kIpUdpOverhead + kHeaderSize;
// A multipart payload packet puts the part's index, zone information and the data's byte offset in the
// block (6 bytes) between the header and the data.
constexpr std::uint32_t kMultipartPacketInfoSize = 8;
// Data bytes a payload packet of `packetSize` carries.
constexpr std::uint32_t packetDataSize(std::uint32_t packetSize, bool extendedIds, bool multipart) {
    return packetSize - kIpUdpOverhead - headerSize(extendedIds) - (multipart ? kMultipartPacketInfoSize : 0);
}
constexpr std::uint32_t kImageLeaderSize = 36;
constexpr std::uint32_t kImageTrailerSize = 8;
constexpr std::uint32_t kChunkTrailerSize = 16;
// Every chunk is followed by its identifier and its length, both 4 bytes big-endian.
constexpr std::uint32_t kChunkTailSize = 8;

enum class PacketFormat : std::uint8_t { Leader = 1, Trailer = 2, Payload = 3, MultipartPayload = 7 };

enum PayloadType : std::uint16_t {
    PayloadImage = 0x0001,
    PayloadImageWithChunks = 0x4001,
    PayloadMultipart = 0x000A,
    // Chunks travel in a part of their own; the flag tells clients to look for them at the block's end.
    PayloadMultipartWithChunks = 0x400A,
};
constexpr std::uint16_t kPayloadChunkFlag = 0x4000;

// Leader of a multipart block: reserved (2), payload type (2), timestamp (8), then one record per part.
constexpr std::uint32_t kMultipartLeaderFixedSize = 12;
constexpr std::uint32_t kPartLeaderRecordSize = 48;
// Trailer of a multipart block: reserved (2), payload type (2), then one record per part.
constexpr std::uint32_t kMultipartTrailerFixedSize = 4;
constexpr std::uint32_t kPartTrailerRecordSize = 16;
// Parts one block may carry; the part count travels in one byte of the leader's header.
constexpr std::uint32_t kMaxParts = 8;

// Flags of the extended-id header.
constexpr std::uint16_t kFlagResent = 0x0001;

enum StreamStatus : std::uint16_t {
    StatusSuccess = 0x0000,
    StatusPacketUnavailable = 0x800C,
};

// Standard block ids are 16 bits; 0 is never used, so the sequence runs 1..0xFFFF and wraps to 1.
constexpr std::uint16_t nextBlockId(std::uint16_t id) { return id == 0xFFFF ? 1 : static_cast<std::uint16_t>(id + 1); }

// Stream channel 0 register block (bootstrap 0x0D00) and the offsets inside it. The camera's bootstrap
// image is the only copy of these registers; the stream path gets its settings from there.
constexpr std::uint32_t kChannelBase = 0x0D00;
constexpr std::uint32_t kChannelBlockSize = 0x40;
enum ChannelRegister : std::uint32_t {
    RegPort = 0x00,         // SCP: host port in the low 16 bits, 0 closes the channel
    RegPacketSize = 0x04,   // SCPS: packet size in the low 16 bits plus the flag bits below
    RegPacketDelay = 0x08,  // SCPD: inter-packet delay in timestamp ticks
    RegDestination = 0x18,  // SCDA: destination IPv4 address
    RegSourcePort = 0x1C,   // SCSP: the UDP port the device streams from (read-only)
    RegCapability = 0x20,   // SCC (read-only)
    RegConfig = 0x24,       // SCCFG
};

constexpr std::uint32_t kPortMask = 0x0000FFFF;  // SCP: the host port; the interface index is always 0

constexpr std::uint32_t kPacketSizeFireTest = 0x80000000;
constexpr std::uint32_t kPacketSizeDoNotFragment = 0x40000000;
constexpr std::uint32_t kPacketSizeBigEndian = 0x20000000;
constexpr std::uint32_t kPacketSizeMask = 0x0000FFFF;

// What the device offers in SCC: extended chunk data, and multipart when the program sends multipart blocks
// (no big-endian pixels).
constexpr std::uint32_t kCapabilityExtendedChunk = 0x00000001;
constexpr std::uint32_t kConfigExtendedChunk = 0x00000001;
constexpr std::uint32_t kCapabilityMultipart = 0x00000040;
constexpr std::uint32_t kConfigMultipart = 0x00000040;

// GVSP configuration register (bootstrap 0x0960): the client switches to 64-bit block ids and 32-bit
// packet ids with this bit.
constexpr std::uint32_t kGvspConfigExtendedIds = 0x40000000;

// IPv4 multicast groups (224.0.0.0/4): a stream sent to one reaches every receiver that joined it.
constexpr bool isMulticast(std::uint32_t address) { return (address & 0xF0000000U) == 0xE0000000U; }
// Router hops a multicast stream may cross (its IP time to live): 1 keeps it on the device's own network.
constexpr std::uint32_t kMinMulticastTtl = 1;
constexpr std::uint32_t kMaxMulticastTtl = 255;
constexpr std::uint32_t kDefaultMulticastTtl = 1;

// Packet size bounds, also the Min/Max/Inc of the GevSCPSPacketSize feature. 9000 is a jumbo frame;
// a client negotiates down from there with the test packet.
constexpr std::uint32_t kMinPacketSize = 576;
constexpr std::uint32_t kMaxPacketSize = 9000;
constexpr std::uint32_t kPacketSizeIncrement = 4;
constexpr std::uint32_t kDefaultPacketSize = 1500;
constexpr bool packetSizeAllowed(std::uint32_t size) {
    return size >= kMinPacketSize && size <= kMaxPacketSize && (size - kMinPacketSize) % kPacketSizeIncrement == 0;
}
// A size within the bounds but off the increment becomes the next smaller allowed size: clients that write
// their interface's MTU would otherwise get no stream at all. 0 for a size outside the bounds.
constexpr std::uint32_t roundedPacketSize(std::uint32_t size) {
    if (size < kMinPacketSize || size > kMaxPacketSize) return 0;
    return size - (size - kMinPacketSize) % kPacketSizeIncrement;
}

}  // namespace gvsp
