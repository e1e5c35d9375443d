// How one block's payload is cut into payload packets, and the header each of them carries.
//
// A single-part block is one run of bytes: packet k (k >= 1) holds the bytes from (k - 1) x the packet's data
// size on. A multipart block starts every part in a packet of its own, so that a client can count the
// packets of each part from the part's length in the leader; every packet names its part and the byte offset
// of its data from the start of the block (the parts lie one after the other in the leader's order).
// The layout is a plain value: the resend store keeps it with the frame to rebuild any packet's header.
#pragma once

#include "gvsp_protocol.h"

#include <cstddef>
#include <cstdint>

namespace gvsp {

struct BlockLayout {
    struct Slice {
        std::uint32_t part = 0;
        std::uint64_t offset = 0;  // from the start of the payload
        std::size_t length = 0;
    };

    // One part of `payloadBytes`, sent as plain payload packets.
    static BlockLayout single(std::uint64_t payloadBytes, std::uint32_t dataPerPacket, bool extendedIds);
    // `count` parts of the given lengths (each at least 1 byte), sent as multipart payload packets. A layout
    // with partCount 0 when there are more than kMaxParts.
    static BlockLayout ofParts(const std::uint64_t* lengths, std::uint32_t count, std::uint32_t dataPerPacket,
                               bool extendedIds);

    // The bytes packet `packetId` (1..payloadPackets) carries.
    Slice slice(std::uint64_t packetId) const;
    // The header of payload packet `packetId`, with the multipart information when the block is multipart.
    std::size_t encodePayloadHeader(std::uint8_t* out, std::size_t capacity, std::uint64_t blockId,
                                    std::uint64_t packetId, std::uint16_t flags) const;
    std::size_t payloadHeaderSize() const {
        return headerSize(extendedIds) + (multipart ? kMultipartPacketInfoSize : 0);
    }
    // The id of the trailer, which follows the last payload packet.
    std::uint64_t trailerId() const { return payloadPackets + 1; }
    // Packet ids are 24 bits with standard ids, 32 bits with extended ones.
    bool fitsPacketIds() const { return trailerId() <= (extendedIds ? 0xFFFFFFFFull : 0xFFFFFFull); }

    bool extendedIds = false;
    bool multipart = false;
    std::uint32_t dataPerPacket = 0;
    std::uint32_t partCount = 0;
    std::uint64_t partStart[kMaxParts] = {};
    std::uint64_t partLength[kMaxParts] = {};
    std::uint64_t firstPacket[kMaxParts] = {};
    std::uint64_t payloadPackets = 0;
    std::uint64_t payloadBytes = 0;
};

}  // namespace gvsp
