// The shared wire reader and writer: big-endian fields, and an overrun that latches instead of reading or
// writing past the end.
#include <gtest/gtest.h>

#include <vector>

#include "byte_reader.h"
#include "byte_writer.h"

namespace {

TEST(ByteReader, ReadsBigEndianFieldsInOrder) {
    const std::uint8_t bytes[] = {0x42, 0x01, 0x02, 0x80, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFE,
                                  'a',  'b',  0,    0,    0,    0,    0,    0,    0x12, 0x34};
    wire::ByteReader reader(bytes, sizeof bytes);
    EXPECT_EQ(reader.u8(), 0x42);
    EXPECT_EQ(reader.u16(), 0x0102);
    EXPECT_EQ(reader.u32(), 0x80000001u);
    EXPECT_EQ(reader.i32(), -2);
    EXPECT_EQ(reader.text(2), "ab");
    EXPECT_EQ(reader.u64(), 0x1234u);
    EXPECT_TRUE(reader.ok());
    EXPECT_EQ(reader.remaining(), 0u);
}

TEST(ByteReader, EveryOverrunLatchesAndLeavesOutputsAlone) {
    // The array is larger than the reader is told, so an overrun would read bytes that exist but are not its.
    const std::uint8_t bytes[8] = {1, 2, 3};
    for (std::size_t size = 0; size <= 3; ++size) {
        wire::ByteReader reader(bytes, size);
        const std::uint32_t value = reader.u32();
        EXPECT_EQ(value, 0u);
        EXPECT_FALSE(reader.ok());
        std::uint8_t out[2] = {7, 7};
        reader.bytes(out, 1);  // nothing more is read once the reader failed
        EXPECT_EQ(out[0], 7);
        EXPECT_EQ(reader.text(1), "");
        EXPECT_EQ(reader.remaining(), 0u);
    }
}

TEST(ByteReader, HugeCountsDoNotWrapPastTheEnd) {
    const std::uint8_t bytes[] = {1, 2, 3, 4};
    wire::ByteReader reader(bytes, sizeof bytes);
    reader.u8();
    reader.skip(SIZE_MAX);
    EXPECT_FALSE(reader.ok());
    EXPECT_EQ(reader.u8(), 0);
}

TEST(ByteWriter, GrowingMessageRoundTripsThroughTheReader) {
    wire::ByteWriter writer;
    writer.u8(0x01);
    writer.u16(0x0203);
    writer.u32(0);  // a length known only at the end
    writer.i32(-2);
    writer.bytes(std::string_view("ab"));
    writer.patchU32(3, 0x04050607);
    EXPECT_EQ(writer.data(), (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 0xFF, 0xFF, 0xFF, 0xFE, 'a', 'b'}));
    wire::ByteReader reader(writer.data().data(), writer.size());
    EXPECT_EQ(reader.u8(), 1);
    EXPECT_EQ(reader.u16(), 0x0203);
    EXPECT_EQ(reader.u32(), 0x04050607u);
    EXPECT_EQ(reader.i32(), -2);
    EXPECT_EQ(reader.text(2), "ab");
    EXPECT_TRUE(reader.ok());
}

TEST(ByteWriter, OverflowOfABufferLatchesAndWritesNothingPastIt) {
    std::uint8_t buffer[8] = {};
    wire::ByteWriter writer(buffer, 6);  // the last two bytes exist but are not the writer's
    writer.u24(0xA1B2C3);
    writer.u16(0xD4E5);
    EXPECT_EQ(writer.size(), 5u);
    writer.u16(0xFFFF);  // one byte too many: nothing of it is written
    writer.u8(0x77);     // and nothing after a failure, even what would fit
    EXPECT_FALSE(writer.ok());
    EXPECT_EQ(writer.size(), 0u) << "a half-built packet must not be sendable";
    EXPECT_EQ(buffer[5], 0);
    EXPECT_EQ(buffer[6], 0);
    wire::ByteWriter tooLong(buffer, sizeof buffer);
    tooLong.u8(1);
    tooLong.bytes(buffer, sizeof buffer);  // one byte more than is left
    EXPECT_FALSE(tooLong.ok());
    wire::ByteWriter patch(buffer, sizeof buffer);
    patch.u16(0);
    patch.patchU32(0, 1);  // only two bytes written so far
    EXPECT_FALSE(patch.ok());
}

}  // namespace
