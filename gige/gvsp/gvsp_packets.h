// Encoders of the stream packets the device sends: header (standard or extended ids), image leader and
// trailer, multipart leader and trailer, and the part information of a multipart payload packet. Each writes
// into a caller's buffer and returns the packet's length, 0 when the buffer is too small.
#pragma once

#include "gev_camera.h"
#include "gvsp_protocol.h"

#include <cstddef>
#include <cstdint>

namespace gvsp {

// The fields of a packet header. With standard ids the block id is cut to 16 bits and the packet id to 24;
// `flags` and `formatInfo` exist only in the extended-id header.
struct PacketHeader {
    std::uint16_t status = StatusSuccess;
    std::uint64_t blockId = 0;
    PacketFormat format = PacketFormat::Payload;
    std::uint32_t packetId = 0;
    bool extendedIds = false;
    std::uint16_t flags = 0;
    // The low byte of the reserved field after the format: a multipart leader's part count.
    std::uint8_t formatInfo = 0;
};

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

constexpr std::size_t kMaxLeaderPacket = kMaxHeaderSize + kMultipartLeaderFixedSize + kMaxParts * kPartLeaderRecordSize;
constexpr std::size_t kMaxTrailerPacket =
    kMaxHeaderSize + kMultipartTrailerFixedSize + kMaxParts * kPartTrailerRecordSize + 8;

std::size_t encodeHeader(std::uint8_t* out, std::size_t capacity, const PacketHeader& header);
// The 8-byte header of a standard-id packet (24-bit packet id, 16-bit block id).
std::size_t encodeHeader(std::uint8_t* out, std::size_t capacity, std::uint16_t status, std::uint16_t blockId,
                         PacketFormat format, std::uint32_t packetId);
// Image leader, always packet 0; `header` gives the block id and the id mode.
std::size_t encodeLeader(std::uint8_t* out, std::size_t capacity, PacketHeader header, const LeaderFields& leader);
std::size_t encodeLeader(std::uint8_t* out, std::size_t capacity, std::uint16_t blockId, const LeaderFields& leader);
std::size_t encodeTrailer(std::uint8_t* out, std::size_t capacity, PacketHeader header, const TrailerFields& trailer);
std::size_t encodeTrailer(std::uint8_t* out, std::size_t capacity, std::uint16_t blockId, std::uint32_t packetId,
                          const TrailerFields& trailer);
// Multipart leader (packet 0) and trailer with one record per part (its data is not read); the leader's header
// carries the part count, and every image part lies at the image offset `offsetX`, `offsetY`. 0 for more than
// kMaxParts parts.
std::size_t encodeMultipartLeader(std::uint8_t* out, std::size_t capacity, PacketHeader header,
                                  std::uint16_t payloadType, std::uint64_t timestamp, const GevPart* parts,
                                  std::uint32_t partCount, std::uint32_t offsetX, std::uint32_t offsetY);
// With chunks the trailer ends, as an image trailer with chunks does, with the chunk data's length and the
// chunk layout id.
std::size_t encodeMultipartTrailer(std::uint8_t* out, std::size_t capacity, PacketHeader header,
                                   std::uint16_t payloadType, const GevPart* parts, std::uint32_t partCount,
                                   std::uint32_t chunkDataLength = 0, std::uint32_t chunkLayoutId = 0);
// What follows the header of a multipart payload packet: the part's index in the leader, whether the packet
// ends its part, and the byte offset of the packet's data from the start of the block.
std::size_t encodeMultipartInfo(std::uint8_t* out, std::size_t capacity, std::uint8_t partIndex, bool endOfPart,
                                std::uint64_t blockOffset);

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
