// Encoders of the stream packets the device sends: header, image leader, image trailer. Each writes
// into a caller's buffer and returns the packet's length, 0 when the buffer is too small.
#pragma once

#include "gvsp_protocol.h"

#include <cstddef>
#include <cstdint>

namespace gvsp {

struct LeaderFields {
    std::uint16_t payloadType = PayloadImage;
    std::uint64_t timestamp = 0;
    std::uint32_t pixelFormat = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t offsetX = 0;
    std::uint32_t offsetY = 0;
};

struct TrailerFields {
    std::uint16_t payloadType = PayloadImage;
    std::uint32_t linesSent = 0;
    // Only in the trailer of an image with chunks.
    std::uint32_t chunkDataLength = 0;
    std::uint32_t chunkLayoutId = 0;
};

constexpr std::size_t kMaxLeaderPacket = kHeaderSize + kImageLeaderSize;
constexpr std::size_t kMaxTrailerPacket = kHeaderSize + kChunkTrailerSize;

// The 8-byte header of a standard-id packet (24-bit packet id, 16-bit block id).
std::size_t encodeHeader(std::uint8_t* out, std::size_t capacity, std::uint16_t status, std::uint16_t blockId,
                         PacketFormat format, std::uint32_t packetId);
// Leader, always packet 0.
std::size_t encodeLeader(std::uint8_t* out, std::size_t capacity, std::uint16_t blockId, const LeaderFields& leader);
std::size_t encodeTrailer(std::uint8_t* out, std::size_t capacity, std::uint16_t blockId, std::uint32_t packetId,
                          const TrailerFields& trailer);

}  // namespace gvsp

namespace gvsp {

// A PACKETRESEND command's payload. Standard ids: channel (2), block id (2), first (4), last (4), packet
// ids in the low 24 bits. Extended ids (command flag 0x10): channel (2), reserved (2), first (4),
// last (4), 64-bit block id (8).
struct ResendRequest {
    std::uint16_t channel = 0;
    std::uint64_t blockId = 0;
    std::uint32_t firstPacket = 0;
    std::uint32_t lastPacket = 0;
};
// False for a payload too short for its layout.
bool decodePacketResend(const std::uint8_t* payload, std::size_t size, bool extendedIds, ResendRequest* out);

}  // namespace gvsp
