// Golden bytes of the stream packets, the PACKETRESEND decoder against every truncation, the PFNC table
// and the payload size, and the chunk layout a client walks backwards.
#include "frame_parts.h"
#include "gvsp_packets.h"
#include "pixel_formats.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace gvsp;

namespace {

std::vector<std::uint8_t> bytesOf(const std::uint8_t* data, std::size_t length) { return {data, data + length}; }

std::uint32_t be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

}  // namespace

TEST(GvspPackets, LeaderAndTrailerMatchHandCheckedBytes) {
    LeaderFields leader;
    leader.payloadType = PayloadImageWithChunks;
    leader.timestamp = 0x0102030405060708ull;
    leader.pixelFormat = 0x026000C0;
    leader.width = 1280;
    leader.height = 1024;
    leader.offsetX = 2;
    leader.offsetY = 3;
    std::uint8_t packet[kMaxLeaderPacket];
    ASSERT_EQ(encodeLeader(packet, sizeof packet, 0xABCD, leader), 44u);
    const std::vector<std::uint8_t> expected = {
        0x00, 0x00, 0xAB, 0xCD, 0x01, 0x00, 0x00, 0x00,   // status, block, leader, packet 0
        0x00, 0x00, 0x40, 0x01,                           // field info, reserved, payload type
        0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,   // timestamp
        0x02, 0x60, 0x00, 0xC0, 0x00, 0x00, 0x05, 0x00,   // Coord3D_ABC32f, width
        0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x02,   // height, offset x
        0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00};  // offset y, padding
    EXPECT_EQ(bytesOf(packet, 44), expected);

    TrailerFields trailer;
    trailer.payloadType = PayloadImage;
    trailer.linesSent = 1024;
    std::uint8_t tail[kMaxTrailerPacket];
    ASSERT_EQ(encodeTrailer(tail, sizeof tail, 1, 0x012345, trailer), 16u);
    const std::vector<std::uint8_t> imageTrailer = {0x00, 0x00, 0x00, 0x01, 0x02, 0x01, 0x23, 0x45,
                                                    0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x04, 0x00};
    EXPECT_EQ(bytesOf(tail, 16), imageTrailer);

    trailer.payloadType = PayloadImageWithChunks;
    trailer.chunkDataLength = 0x1000;
    trailer.chunkLayoutId = 7;
    ASSERT_EQ(encodeTrailer(tail, sizeof tail, 1, 2, trailer), 24u);
    EXPECT_EQ(be32(tail + 16), 0x1000u);
    EXPECT_EQ(be32(tail + 20), 7u);

    // Too small a buffer gives no packet at all rather than a truncated one.
    EXPECT_EQ(encodeLeader(packet, 43, 1, leader), 0u);
    EXPECT_EQ(encodeHeader(packet, 7, 0, 1, PacketFormat::Payload, 1), 0u);
}

TEST(GvspPackets, BlockIdsSkipZeroOnWrap) {
    EXPECT_EQ(nextBlockId(1), 2);
    EXPECT_EQ(nextBlockId(0xFFFE), 0xFFFF);
    EXPECT_EQ(nextBlockId(0xFFFF), 1);
}

TEST(GvspPackets, PacketResendDecodesBothLayoutsAndRejectsEveryTruncation) {
    const std::vector<std::uint8_t> standard = {0x00, 0x00, 0x00, 0x05, 0xFF, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x04};
    ResendRequest request;
    ASSERT_TRUE(decodePacketResend(standard.data(), standard.size(), false, &request));
    EXPECT_EQ(request.blockId, 5u);
    EXPECT_EQ(request.firstPacket, 3u);  // the high byte is not part of a 24-bit packet id
    EXPECT_EQ(request.lastPacket, 4u);
    for (std::size_t cut = 0; cut < standard.size(); ++cut) {
        EXPECT_FALSE(decodePacketResend(standard.data(), cut, false, &request)) << cut;
    }

    std::vector<std::uint8_t> extended = standard;
    const std::uint8_t block64[] = {0, 0, 0, 1, 0, 0, 0, 9};
    extended.insert(extended.end(), block64, block64 + 8);
    ASSERT_TRUE(decodePacketResend(extended.data(), extended.size(), true, &request));
    EXPECT_EQ(request.blockId, 0x100000009ull);
    EXPECT_EQ(request.firstPacket, 0xFF000003u);
    for (std::size_t cut = 0; cut < extended.size(); ++cut) {
        EXPECT_FALSE(decodePacketResend(extended.data(), cut, true, &request)) << cut;
    }
}

TEST(PixelFormats, TableLookupsAndPayloadSize) {
    ASSERT_NE(findPixelFormat("Coord3D_ABC32f"), nullptr);
    EXPECT_EQ(findPixelFormat("Coord3D_ABC32f")->code, 0x026000C0u);
    EXPECT_EQ(findPixelFormat(0x02300033u)->name, "RGB16");
    EXPECT_EQ(findPixelFormat("Mono9"), nullptr);
    EXPECT_EQ(findPixelFormat(0x12345678u), nullptr);
    EXPECT_EQ(bytesPerPixel(0x01080001), 1u);
    EXPECT_EQ(bytesPerPixel(0x01100007), 2u);
    EXPECT_EQ(bytesPerPixel(0x023000B9), 6u);
    EXPECT_EQ(bytesPerPixel(0x026000C0), 12u);
    EXPECT_TRUE(isCoordinateFormat(0x023000B9));
    EXPECT_FALSE(isCoordinateFormat(0x02300033));

    // Every code's bits per pixel is whole bytes, and names are unique.
    std::size_t count = 0;
    const PixelFormatInfo* all = pixelFormats(&count);
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_EQ(((all[i].code >> 16) & 0xFF) % 8, 0u) << all[i].name;
        EXPECT_EQ(findPixelFormat(all[i].name), &all[i]);
    }

    // Chunks off: the image alone. On: image tail, values and one tail per chunk.
    EXPECT_EQ(payloadSize(64, 48, 0x01100007, 0, 0), 6144u);
    EXPECT_EQ(payloadSize(64, 48, 0x01100007, 12, 2), 6144u + 8 + 12 + 16);
    EXPECT_EQ(payloadSize(2048, 1536, 0x026000C0, 4, 1), 2048ull * 1536 * 12 + 8 + 4 + 8);
    EXPECT_EQ(payloadSize(65535, 65535, 0x026000C0, 0, 0), 65535ull * 65535 * 12);
}

TEST(FrameParts, ImageFirstThenEachChunkWithItsTail) {
    std::vector<std::uint8_t> frame(24);
    for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i);
    FrameParts parts;
    parts.begin();
    const std::uint8_t temperature[4] = {0, 0, 0, 35};
    ASSERT_EQ(parts.add(temperature, 4, 0xFFFFF0), 0);
    ASSERT_EQ(parts.add(nullptr, 24, 0), 0);
    EXPECT_TRUE(parts.imageDeclared());
    EXPECT_EQ(parts.declaredImageBytes(), 24u);

    ComposedPayload payload;
    ASSERT_TRUE(parts.compose(frame.data(), 24, &payload));
    ASSERT_TRUE(payload.hasChunks);
    EXPECT_EQ(payload.totalBytes, payloadSize(2, 2, 0x023000B9, 4, 1));
    ASSERT_EQ(payload.segmentCount, 2u);
    EXPECT_EQ(payload.segments[0].data, frame.data());
    const std::vector<std::uint8_t> section = bytesOf(payload.segments[1].data, payload.segments[1].length);
    const std::vector<std::uint8_t> expected = {0, 0, 0, 0,  0,    0,    0,    24,  // image tail
                                                0, 0, 0, 35, 0x00, 0xFF, 0xFF, 0xF0, 0, 0, 0, 4};
    EXPECT_EQ(section, expected);

    // The walk a client makes from the end finds the temperature first, then the image at offset 0.
    std::vector<std::uint8_t> wire(frame);
    wire.insert(wire.end(), section.begin(), section.end());
    std::size_t end = wire.size();
    EXPECT_EQ(be32(&wire[end - 8]), 0xFFFFF0u);
    end -= 8 + be32(&wire[end - 4]);
    EXPECT_EQ(be32(&wire[end - 4]), 24u);
    EXPECT_EQ(end - 8 - 24, 0u);

    // The layout id follows the chunk set, not the values.
    const std::uint32_t layout = payload.chunkLayoutId;
    parts.begin();
    const std::uint8_t warmer[4] = {0, 0, 0, 40};
    parts.add(warmer, 4, 0xFFFFF0);
    ASSERT_TRUE(parts.compose(frame.data(), 24, &payload));
    EXPECT_EQ(payload.chunkLayoutId, layout);

    // beginFrame forgets the chunks: an image alone has no tail.
    parts.begin();
    ASSERT_TRUE(parts.compose(frame.data(), 24, &payload));
    EXPECT_FALSE(payload.hasChunks);
    EXPECT_EQ(payload.totalBytes, 24u);
    EXPECT_EQ(payload.segmentCount, 1u);
}

TEST(FrameParts, RefusesChunksThatWouldBreakTheLayout) {
    FrameParts parts;
    parts.begin();
    const std::uint8_t value[8] = {};
    EXPECT_NE(parts.add(value, 0, 1), 0);  // a zero length ends a client's walk
    EXPECT_NE(parts.add(value, 6, 1), 0);  // tails must stay 4-byte aligned
    std::vector<std::uint8_t> big(FrameParts::kMaxChunkBytes + 4);
    EXPECT_NE(parts.add(big.data(), static_cast<std::uint32_t>(big.size()), 1), 0);
    for (std::uint32_t i = 0; i < FrameParts::kMaxChunks; ++i) ASSERT_EQ(parts.add(value, 4, i + 1), 0);
    EXPECT_NE(parts.add(value, 4, 99), 0);
    EXPECT_EQ(parts.chunkCount(), FrameParts::kMaxChunks);
}

TEST(FrameParts, SlicesCrossSegmentBoundaries) {
    const std::uint8_t a[5] = {}, b[3] = {};
    const Span segments[2] = {{a, 5}, {b, 3}};
    Span out[3];
    ASSERT_EQ(sliceSegments(segments, 2, 3, 4, out, 3), 2u);
    EXPECT_EQ(out[0].data, a + 3);
    EXPECT_EQ(out[0].length, 2u);
    EXPECT_EQ(out[1].data, b);
    EXPECT_EQ(out[1].length, 2u);
    EXPECT_EQ(sliceSegments(segments, 2, 6, 4, out, 3), 0u);  // runs past the end
}
