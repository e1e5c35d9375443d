// Decoding of received GVCP datagrams and encoding of the acknowledges, every length checked against the
// bytes received.
#include "gvcp/codec.h"

#include "byte_reader.h"
#include "byte_writer.h"

namespace gvcp {

HeaderCheck decodeHeader(const std::uint8_t* data, std::size_t size, Header& header) {
    wire::ByteReader reader(data, size);
    const std::uint8_t key = reader.u8();
    header.flags = reader.u8();
    header.command = reader.u16();
    header.length = reader.u16();
    header.requestId = reader.u16();
    if (!reader.ok() || key != kKey) return HeaderCheck::Drop;
    // A length field that claims more than arrived, a zero id or an oversized command is malformed;
    // bytes beyond the declared length are ignored.
    if (header.length > reader.remaining() || header.requestId == 0 || header.length > kMaxPayload)
        return HeaderCheck::Invalid;
    return HeaderCheck::Ok;
}

Status decodeReadMem(const std::uint8_t* payload, std::size_t size, MemoryRead& out) {
    wire::ByteReader reader(payload, size);
    out.address = reader.u32();
    reader.skip(2);
    out.count = reader.u16();
    if (!reader.ok() || size != 8) return Status::InvalidParameter;
    if (out.count == 0 || out.count > kMaxMemoryBytes) return Status::InvalidParameter;
    if (out.address % 4 != 0 || out.count % 4 != 0) return Status::BadAlignment;
    if (!rangeWithin(out.address, out.count, 0, 0x100000000ULL)) return Status::InvalidAddress;
    return Status::Success;
}

Status decodeWriteMem(const std::uint8_t* payload, std::size_t size, MemoryWrite& out) {
    wire::ByteReader reader(payload, size);
    out.address = reader.u32();
    if (!reader.ok() || reader.remaining() == 0) return Status::InvalidParameter;
    out.data = payload + reader.position();
    out.count = static_cast<std::uint32_t>(reader.remaining());
    if (out.count > kMaxMemoryBytes) return Status::InvalidParameter;
    if (out.address % 4 != 0 || out.count % 4 != 0) return Status::BadAlignment;
    if (!rangeWithin(out.address, out.count, 0, 0x100000000ULL)) return Status::InvalidAddress;
    return Status::Success;
}

Status decodeReadReg(const std::uint8_t* payload, std::size_t size, RegisterList& out) {
    if (size == 0 || size % 4 != 0 || size / 4 > kMaxReadRegCount) return Status::InvalidParameter;
    wire::ByteReader reader(payload, size);
    out.count = static_cast<std::uint32_t>(size / 4);
    for (std::uint32_t i = 0; i < out.count; ++i) out.addresses[i] = reader.u32();
    for (std::uint32_t i = 0; i < out.count; ++i)
        if (out.addresses[i] % 4 != 0) return Status::BadAlignment;
    return reader.ok() ? Status::Success : Status::InvalidParameter;
}

Status decodeWriteReg(const std::uint8_t* payload, std::size_t size, RegisterList& out) {
    if (size == 0 || size % 8 != 0 || size / 8 > kMaxWriteRegCount) return Status::InvalidParameter;
    wire::ByteReader reader(payload, size);
    out.count = static_cast<std::uint32_t>(size / 8);
    for (std::uint32_t i = 0; i < out.count; ++i) {
        out.addresses[i] = reader.u32();
        out.values[i] = reader.u32();
    }
    for (std::uint32_t i = 0; i < out.count; ++i)
        if (out.addresses[i] % 4 != 0) return Status::BadAlignment;
    return reader.ok() ? Status::Success : Status::InvalidParameter;
}

Status decodeAction(const std::uint8_t* payload, std::size_t size, std::uint8_t flags, ActionCommand& out) {
    out.scheduled = (flags & FlagScheduledAction) != 0;
    if (size != (out.scheduled ? 20U : 12U)) return Status::InvalidParameter;
    wire::ByteReader reader(payload, size);
    out.deviceKey = reader.u32();
    out.groupKey = reader.u32();
    out.groupMask = reader.u32();
    out.actionTime = out.scheduled ? reader.u64() : 0;
    return reader.ok() ? Status::Success : Status::InvalidParameter;
}

std::size_t encodeAck(AckBuffer& out, Status status, std::uint16_t ack, std::uint16_t ackId,
                      const std::uint8_t* payload, std::size_t payloadSize) {
    wire::ByteWriter writer(out.data(), out.size());
    writer.u16(static_cast<std::uint16_t>(status));
    writer.u16(ack);
    writer.u16(static_cast<std::uint16_t>(payloadSize));
    writer.u16(ackId);
    writer.bytes(payload, payloadSize);
    return writer.size();
}

std::size_t encodeIndexAck(AckBuffer& out, Status status, std::uint16_t ack, std::uint16_t ackId, std::uint16_t index) {
    const std::uint8_t payload[4] = {0, 0, static_cast<std::uint8_t>(index >> 8), static_cast<std::uint8_t>(index)};
    return encodeAck(out, status, ack, ackId, payload, sizeof payload);
}

std::size_t encodePendingAck(AckBuffer& out, std::uint16_t ackId, std::uint16_t completionMs) {
    // Clients read the payload as one 32-bit value, so the reserved half must stay zero.
    const std::uint8_t payload[4] = {0, 0, static_cast<std::uint8_t>(completionMs >> 8),
                                     static_cast<std::uint8_t>(completionMs)};
    return encodeAck(out, Status::Success, kPendingAck, ackId, payload, sizeof payload);
}

}  // namespace gvcp
