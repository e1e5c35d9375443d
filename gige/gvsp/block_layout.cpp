// Packet numbering of single-part and multipart blocks (see block_layout.h).
#include "block_layout.h"

#include "gvsp_packets.h"

#include <algorithm>

namespace gvsp {

BlockLayout BlockLayout::single(std::uint64_t payloadBytes, std::uint32_t dataPerPacket, bool extendedIds) {
    BlockLayout layout;
    layout.extendedIds = extendedIds;
    layout.dataPerPacket = dataPerPacket;
    layout.partCount = 1;
    layout.partLength[0] = payloadBytes;
    layout.firstPacket[0] = 1;
    layout.payloadBytes = payloadBytes;
    layout.payloadPackets = dataPerPacket == 0 ? 0 : (payloadBytes + dataPerPacket - 1) / dataPerPacket;
    return layout;
}

BlockLayout BlockLayout::ofParts(const std::uint64_t* lengths, std::uint32_t count, std::uint32_t dataPerPacket,
                                 bool extendedIds) {
    BlockLayout layout;
    layout.extendedIds = extendedIds;
    layout.multipart = true;
    layout.dataPerPacket = dataPerPacket;
    if (count > kMaxParts || dataPerPacket == 0) return layout;
    layout.partCount = count;
    std::uint64_t packet = 1;
    for (std::uint32_t i = 0; i < count; ++i) {
        layout.partStart[i] = layout.payloadBytes;
        layout.partLength[i] = lengths[i];
        layout.firstPacket[i] = packet;
        layout.payloadBytes += lengths[i];
        packet += (lengths[i] + dataPerPacket - 1) / dataPerPacket;
    }
    layout.payloadPackets = packet - 1;
    return layout;
}

BlockLayout::Slice BlockLayout::slice(std::uint64_t packetId) const {
    Slice slice;
    std::uint32_t part = 0;
    while (part + 1 < partCount && firstPacket[part + 1] <= packetId) ++part;
    const std::uint64_t within = (packetId - firstPacket[part]) * dataPerPacket;
    slice.part = part;
    slice.offset = partStart[part] + within;
    slice.length = within >= partLength[part]
                       ? 0
                       : static_cast<std::size_t>(std::min<std::uint64_t>(dataPerPacket, partLength[part] - within));
    return slice;
}

std::size_t BlockLayout::encodePayloadHeader(std::uint8_t* out, std::size_t capacity, std::uint64_t blockId,
                                             std::uint64_t packetId, std::uint16_t flags) const {
    PacketHeader header;
    header.blockId = blockId;
    header.packetId = static_cast<std::uint32_t>(packetId);
    header.extendedIds = extendedIds;
    header.flags = flags;
    header.format = multipart ? PacketFormat::MultipartPayload : PacketFormat::Payload;
    const std::size_t length = encodeHeader(out, capacity, header);
    if (length == 0 || !multipart) return length;
    const Slice where = slice(packetId);
    const bool endOfPart = where.offset + where.length == partStart[where.part] + partLength[where.part];
    const std::size_t info = encodeMultipartInfo(out + length, capacity - length, static_cast<std::uint8_t>(where.part),
                                                 endOfPart, where.offset);
    return info == 0 ? 0 : length + info;
}

}  // namespace gvsp
