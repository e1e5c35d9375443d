// Byte layout of the stream packets the device sends, and of the PACKETRESEND request it answers.
#include "gvsp_packets.h"

#include "byte_reader.h"
#include "byte_writer.h"

namespace gvsp {

namespace {

void writeHeader(wire::ByteWriter& writer, std::uint16_t status, std::uint16_t blockId, PacketFormat format,
                 std::uint32_t packetId) {
    writer.u16(status);
    writer.u16(blockId);
    // The top bit of the format byte is the extended-id flag, clear for 16-bit block ids.
    writer.u8(static_cast<std::uint8_t>(format));
    writer.u24(packetId & 0xFFFFFF);
}

}  // namespace

std::size_t encodeHeader(std::uint8_t* out, std::size_t capacity, std::uint16_t status, std::uint16_t blockId,
                         PacketFormat format, std::uint32_t packetId) {
    wire::ByteWriter writer(out, capacity);
    writeHeader(writer, status, blockId, format, packetId);
    return writer.size();
}

std::size_t encodeLeader(std::uint8_t* out, std::size_t capacity, std::uint16_t blockId, const LeaderFields& leader) {
    wire::ByteWriter writer(out, capacity);
    writeHeader(writer, StatusSuccess, blockId, PacketFormat::Leader, 0);
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
    return writer.size();
}

std::size_t encodeTrailer(std::uint8_t* out, std::size_t capacity, std::uint16_t blockId, std::uint32_t packetId,
                          const TrailerFields& trailer) {
    wire::ByteWriter writer(out, capacity);
    writeHeader(writer, StatusSuccess, blockId, PacketFormat::Trailer, packetId);
    writer.u16(0);
    writer.u16(trailer.payloadType);
    writer.u32(trailer.linesSent);
    if (trailer.payloadType & 0x4000) {
        writer.u32(trailer.chunkDataLength);
        writer.u32(trailer.chunkLayoutId);
    }
    return writer.size();
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
