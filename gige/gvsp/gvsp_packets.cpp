// Byte layout of the stream packets the device sends, and of the PACKETRESEND request it answers.
#include "gvsp_packets.h"

#include "byte_reader.h"
#include "byte_writer.h"

namespace gvsp {

namespace {

void writeHeader(wire::ByteWriter& writer, const PacketHeader& header) {
    writer.u16(header.status);
    if (header.extendedIds) {
        writer.u16(header.flags);
        // The top bit of the format byte is the extended-id flag.
        writer.u8(static_cast<std::uint8_t>(0x80 | static_cast<std::uint8_t>(header.format)));
        writer.u16(0);
        writer.u8(header.formatInfo);
        writer.u64(header.blockId);
        writer.u32(header.packetId);
    } else {
        writer.u16(static_cast<std::uint16_t>(header.blockId));
        writer.u8(static_cast<std::uint8_t>(header.format));
        writer.u24(header.packetId & 0xFFFFFF);
    }
}

void writeU48(wire::ByteWriter& writer, std::uint64_t value) {
    writer.u16(static_cast<std::uint16_t>(value >> 32));
    writer.u32(static_cast<std::uint32_t>(value));
}

bool imagePart(std::uint16_t dataType) {
    return dataType == GevPart2DImage || dataType == GevPart3DImage || dataType == GevPartConfidenceMap;
}

}  // namespace

std::size_t encodeHeader(std::uint8_t* out, std::size_t capacity, const PacketHeader& header) {
    wire::ByteWriter writer(out, capacity);
    writeHeader(writer, header);
    return writer.ok() ? writer.size() : 0;
}

std::size_t encodeHeader(std::uint8_t* out, std::size_t capacity, std::uint16_t status, std::uint16_t blockId,
                         PacketFormat format, std::uint32_t packetId) {
    PacketHeader header;
    header.status = status;
    header.blockId = blockId;
    header.format = format;
    header.packetId = packetId;
    return encodeHeader(out, capacity, header);
}

std::size_t encodeLeader(std::uint8_t* out, std::size_t capacity, PacketHeader header, const LeaderFields& leader) {
    wire::ByteWriter writer(out, capacity);
    header.format = PacketFormat::Leader;
    header.packetId = 0;
    writeHeader(writer, header);
    writer.u8(0);  // field info: progressive, one field
    writer.u8(0);  // reserved
    writer.u16(leader.payloadType);
    writer.u64(leader.timestamp);
    writer.u32(leader.pixelFormat);
    writer.u32(leader.width);
    writer.u32(leader.height);
    writer.u32(leader.offsetX);
    writer.u32(leader.offsetY);
    writer.u16(0);  // no padding at line ends
    writer.u16(0);  // no padding at the image end
    return writer.ok() ? writer.size() : 0;
}

std::size_t encodeLeader(std::uint8_t* out, std::size_t capacity, std::uint16_t blockId, const LeaderFields& leader) {
    PacketHeader header;
    header.blockId = blockId;
    return encodeLeader(out, capacity, header, leader);
}

std::size_t encodeTrailer(std::uint8_t* out, std::size_t capacity, PacketHeader header, const TrailerFields& trailer) {
    wire::ByteWriter writer(out, capacity);
    header.format = PacketFormat::Trailer;
    writeHeader(writer, header);
    writer.u16(0);
    writer.u16(trailer.payloadType);
    writer.u32(trailer.linesSent);
    if (trailer.payloadType & kPayloadChunkFlag) {
        writer.u32(trailer.chunkDataLength);
        writer.u32(trailer.chunkLayoutId);
    }
    return writer.ok() ? writer.size() : 0;
}

std::size_t encodeTrailer(std::uint8_t* out, std::size_t capacity, std::uint16_t blockId, std::uint32_t packetId,
                          const TrailerFields& trailer) {
    PacketHeader header;
    header.blockId = blockId;
    header.packetId = packetId;
    return encodeTrailer(out, capacity, header, trailer);
}

std::size_t encodeMultipartLeader(std::uint8_t* out, std::size_t capacity, PacketHeader header,
                                  std::uint16_t payloadType, std::uint64_t timestamp, const GevPart* parts,
                                  std::uint32_t partCount, std::uint32_t offsetX, std::uint32_t offsetY) {
    if (partCount > kMaxParts) return 0;
    wire::ByteWriter writer(out, capacity);
    header.format = PacketFormat::Leader;
    header.packetId = 0;
    header.formatInfo = static_cast<std::uint8_t>(partCount);
    writeHeader(writer, header);
    writer.u16(0);
    writer.u16(payloadType);
    writer.u64(timestamp);
    for (std::uint32_t i = 0; i < partCount; ++i) {
        const GevPart& part = parts[i];
        writer.u16(part.dataType);
        writeU48(writer, part.length);
        writer.u32(part.pixelFormat);
        writer.u16(0);  // reserved
        writer.u8(0);   // source 0: every part comes from the one sensor
        writer.u8(0);   // no additional zones
        writer.u32(0);  // zone directions
        writer.u16(part.componentId);
        writer.u16(0);  // region 0: the whole field of view
        writer.u32(part.width);
        writer.u32(part.height);
        // The chunk part is no image: it lies nowhere.
        writer.u32(part.dataType == GevPartChunkData ? 0 : offsetX);
        writer.u32(part.dataType == GevPartChunkData ? 0 : offsetY);
        writer.u16(0);  // no padding at line ends
        writer.u16(0);  // no padding at the part's end
        writer.u32(0);  // reserved
    }
    return writer.ok() ? writer.size() : 0;
}

std::size_t encodeMultipartTrailer(std::uint8_t* out, std::size_t capacity, PacketHeader header,
                                   std::uint16_t payloadType, const GevPart* parts, std::uint32_t partCount,
                                   std::uint32_t chunkDataLength, std::uint32_t chunkLayoutId) {
    if (partCount > kMaxParts) return 0;
    wire::ByteWriter writer(out, capacity);
    header.format = PacketFormat::Trailer;
    writeHeader(writer, header);
    writer.u16(0);
    writer.u16(payloadType);
    for (std::uint32_t i = 0; i < partCount; ++i) {
        writer.u16(parts[i].dataType);
        writeU48(writer, parts[i].length);
        // Image-like parts report the lines sent; the chunk part has nothing of its own to say.
        writer.u32(imagePart(parts[i].dataType) ? parts[i].height : 0);
        writer.u32(0);
    }
    if (payloadType & kPayloadChunkFlag) {
        writer.u32(chunkDataLength);
        writer.u32(chunkLayoutId);
    }
    return writer.ok() ? writer.size() : 0;
}

std::size_t encodeMultipartInfo(std::uint8_t* out, std::size_t capacity, std::uint8_t partIndex, bool endOfPart,
                                std::uint64_t blockOffset) {
    wire::ByteWriter writer(out, capacity);
    writer.u8(partIndex);
    writer.u8(endOfPart ? 0x40 : 0);  // zone information: one zone (0), and the end-of-part flag
    writeU48(writer, blockOffset);
    return writer.ok() ? writer.size() : 0;
}

}  // namespace gvsp

namespace gvsp {

bool decodePacketResend(const std::uint8_t* payload, std::size_t size, bool extendedIds, ResendRequest* out) {
    wire::ByteReader reader(payload, size);
    ResendRequest request;
    request.channel = reader.u16();
    const std::uint16_t shortBlock = reader.u16();
    request.firstPacket = reader.u32();
    request.lastPacket = reader.u32();
    if (extendedIds) {
        request.blockId = reader.u64();
    } else {
        request.blockId = shortBlock;
        request.firstPacket &= 0xFFFFFF;
        request.lastPacket &= 0xFFFFFF;
    }
    if (!reader.ok()) return false;
    *out = request;
    return true;
}

}  // namespace gvsp
