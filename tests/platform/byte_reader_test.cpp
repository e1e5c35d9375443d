// The shared wire reader: big-endian fields, and an overrun that latches instead of reading past the end.
#include <gtest/gtest.h>

#include "byte_reader.h"

namespace {

TEST(ByteReader, ReadsBigEndianFieldsInOrder) {
    const std::uint8_t bytes[] = {0x42, 0x01, 0x02, 0x80, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFE, 'a', 'b',
                                  0, 0, 0, 0, 0, 0, 0x12, 0x34};
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

}  // namespace
