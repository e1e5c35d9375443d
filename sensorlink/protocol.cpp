// Encoders and length-checked decoders of the sensor protocol; see protocol.h for the layout.
#include "protocol.h"

#include <algorithm>
#include <bit>

#include "byte_reader.h"
#include "byte_writer.h"

namespace sensorlink {

using wire::ByteReader;
using wire::ByteWriter;

std::size_t maxRequestPayload(std::uint8_t kind) {
    switch (static_cast<MessageKind>(kind)) {
        case MessageKind::Hello: return 4;
        case MessageKind::Command:
        case MessageKind::Query: return kMaxTextLength;
        case MessageKind::DatabaseRead: return 8;
        case MessageKind::Status:
        case MessageKind::PointCloud:
        case MessageKind::CameraImage: return 0;
    }
    return 0;
}

void encodeHeader(std::uint8_t kind, std::uint32_t requestId, std::uint32_t payloadLength,
                  std::uint8_t out[kHeaderSize]) {
    ByteWriter writer(out, kHeaderSize);
    writer.u32(kMagic);
    writer.u8(kind);
    writer.u8(0);
    writer.u16(0);
    writer.u32(requestId);
    writer.u32(payloadLength);
}

std::optional<MessageHeader> decodeHeader(const std::uint8_t* data, std::size_t size) {
    ByteReader reader(data, size);
    const std::uint32_t magic = reader.u32();
    MessageHeader header;
    header.kind = reader.u8();
    const std::uint8_t flags = reader.u8();
    const std::uint16_t reserved = reader.u16();
    header.requestId = reader.u32();
    header.payloadLength = reader.u32();
    if (!reader.ok() || magic != kMagic || flags != 0 || reserved != 0) return std::nullopt;
    return header;
}

std::vector<std::uint8_t> encodeHelloReply(const HelloReply& reply) {
    ByteWriter writer;
    writer.i32(TAVRION_OK);
    writer.u32(reply.protocolVersion);
    writer.u32(reply.width);
    writer.u32(reply.height);
    writer.u16(static_cast<std::uint16_t>(reply.serialNumber.size()));
    writer.bytes(reply.serialNumber);
    return std::move(writer.data());
}

std::optional<HelloReply> decodeHelloReply(const std::uint8_t* data, std::size_t size) {
    ByteReader reader(data, size);
    HelloReply reply;
    reply.protocolVersion = reader.u32();
    reply.width = reader.u32();
    reply.height = reader.u32();
    const std::uint16_t serialLength = reader.u16();
    if (!reader.ok() || serialLength == 0 || serialLength > kMaxSerialLength) return std::nullopt;
    reply.serialNumber = reader.text(serialLength);
    if (!reader.ok() || reader.remaining() != 0) return std::nullopt;
    if (reply.width == 0 || reply.height == 0 || reply.width > kMaxPixelCount ||
        reply.height > kMaxPixelCount / reply.width)
        return std::nullopt;
    return reply;
}

std::optional<DatabaseReadRequest> decodeDatabaseRead(const std::uint8_t* data, std::size_t size) {
    ByteReader reader(data, size);
    DatabaseReadRequest request;
    request.offset = reader.u32();
    request.maxLength = reader.u32();
    if (!reader.ok() || reader.remaining() != 0 || request.maxLength == 0 || request.maxLength > kMaxDatabaseChunk)
        return std::nullopt;
    return request;
}

std::vector<std::uint8_t> encodeMessage(std::uint8_t kind, std::uint32_t requestId,
                                        const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> out(kHeaderSize + payload.size());
    encodeHeader(kind, requestId, static_cast<std::uint32_t>(payload.size()), out.data());
    std::copy(payload.begin(), payload.end(), out.begin() + kHeaderSize);
    return out;
}

namespace {
[[maybe_unused]] void swapEach(std::uint8_t* bytes, std::size_t count, std::size_t width) {
    for (std::size_t i = 0; i < count; ++i) std::reverse(bytes + i * width, bytes + (i + 1) * width);
}
}  // namespace

void samplesToHostOrder(MessageKind kind, void* first, void* second, std::uint32_t pixelCount) {
    if constexpr (std::endian::native == std::endian::little) {
        (void)kind, (void)first, (void)second, (void)pixelCount;
    } else if (kind == MessageKind::PointCloud) {
        swapEach(static_cast<std::uint8_t*>(first), std::size_t{pixelCount} * 3, 8);
        swapEach(static_cast<std::uint8_t*>(second), pixelCount, 2);
    }
}

}  // namespace sensorlink
