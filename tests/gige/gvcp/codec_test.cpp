// GVCP codec: hand-checked acknowledge bytes, the limits of every decoder, and every truncation of valid
// datagrams rejected cleanly.
#include <gtest/gtest.h>

#include <vector>

#include "gvcp/codec.h"

using namespace gvcp;

namespace {

std::vector<std::uint8_t> command(std::uint16_t code, std::vector<std::uint8_t> payload, std::uint16_t id = 0x1234) {
    std::vector<std::uint8_t> bytes = {0x42,
                                       0x01,
                                       static_cast<std::uint8_t>(code >> 8),
                                       static_cast<std::uint8_t>(code),
                                       static_cast<std::uint8_t>(payload.size() >> 8),
                                       static_cast<std::uint8_t>(payload.size()),
                                       static_cast<std::uint8_t>(id >> 8),
                                       static_cast<std::uint8_t>(id)};
    for (std::uint8_t byte : payload) bytes.push_back(byte);
    return bytes;
}

Status decodePayload(std::uint16_t code, const std::uint8_t* payload, std::size_t size) {
    RegisterList list;
    MemoryRead read;
    MemoryWrite write;
    switch (static_cast<Command>(code)) {
        case Command::ReadReg: return decodeReadReg(payload, size, list);
        case Command::WriteReg: return decodeWriteReg(payload, size, list);
        case Command::ReadMem: return decodeReadMem(payload, size, read);
        case Command::WriteMem: return decodeWriteMem(payload, size, write);
        default: return Status::Success;
    }
}

}  // namespace

TEST(GvcpCodec, AcknowledgesHaveTheExpectedBytes) {
    AckBuffer ack{};
    const std::uint8_t value[4] = {0x00, 0x00, 0x0B, 0xB8};
    ASSERT_EQ(encodeAck(ack, Status::Success, 0x0081, 0xFF15, value, 4), 12U);
    EXPECT_EQ(std::vector<std::uint8_t>(ack.begin(), ack.begin() + 12),
              (std::vector<std::uint8_t>{0x00, 0x00, 0x00, 0x81, 0x00, 0x04, 0xFF, 0x15, 0x00, 0x00, 0x0B, 0xB8}));
    ASSERT_EQ(encodePendingAck(ack, 0x0102, 1500), 12U);
    EXPECT_EQ(std::vector<std::uint8_t>(ack.begin(), ack.begin() + 12),
              (std::vector<std::uint8_t>{0x00, 0x00, 0x00, 0x89, 0x00, 0x04, 0x01, 0x02, 0x00, 0x00, 0x05, 0xDC}));
    ASSERT_EQ(encodeIndexAck(ack, Status::WriteProtect, 0x0087, 7, 0), 12U);
    EXPECT_EQ(std::vector<std::uint8_t>(ack.begin(), ack.begin() + 12),
              (std::vector<std::uint8_t>{0x80, 0x04, 0x00, 0x87, 0x00, 0x04, 0x00, 0x07, 0x00, 0x00, 0x00, 0x00}));
}

TEST(GvcpCodec, HeaderChecks) {
    Header header;
    const auto valid = command(0x0080, {0, 0, 0x0A, 0});
    EXPECT_EQ(decodeHeader(valid.data(), valid.size(), header), HeaderCheck::Ok);
    EXPECT_EQ(header.command, 0x0080);
    EXPECT_EQ(header.requestId, 0x1234);
    EXPECT_TRUE(header.ackRequired());

    auto wrongKey = valid;
    wrongKey[0] = 0x43;
    EXPECT_EQ(decodeHeader(wrongKey.data(), wrongKey.size(), header), HeaderCheck::Drop);
    auto zeroId = command(0x0080, {0, 0, 0x0A, 0}, 0);
    EXPECT_EQ(decodeHeader(zeroId.data(), zeroId.size(), header), HeaderCheck::Invalid);
    auto longer = valid;
    longer[5] = 8;  // claims more than arrived
    EXPECT_EQ(decodeHeader(longer.data(), longer.size(), header), HeaderCheck::Invalid);
    auto trailing = valid;
    trailing.push_back(0xEE);  // bytes past the declared length are ignored
    EXPECT_EQ(decodeHeader(trailing.data(), trailing.size(), header), HeaderCheck::Ok);
}

TEST(GvcpCodec, MemoryAndRegisterLimits) {
    struct Case {
        const char* what;
        std::uint16_t code;
        std::vector<std::uint8_t> payload;
        Status expected;
    };
    const std::vector<Case> cases = {
        {"read 536 bytes", 0x0084, {0, 0, 2, 0, 0, 0, 0x02, 0x18}, Status::Success},
        {"read 540 bytes", 0x0084, {0, 0, 2, 0, 0, 0, 0x02, 0x1C}, Status::InvalidParameter},
        {"read 0 bytes", 0x0084, {0, 0, 2, 0, 0, 0, 0, 0}, Status::InvalidParameter},
        {"read 6 bytes", 0x0084, {0, 0, 2, 0, 0, 0, 0, 6}, Status::BadAlignment},
        {"read at 0x202", 0x0084, {0, 0, 2, 2, 0, 0, 0, 4}, Status::BadAlignment},
        {"read wrapping", 0x0084, {0xFF, 0xFF, 0xFF, 0xFC, 0, 0, 0, 8}, Status::InvalidAddress},
        {"read with short payload", 0x0084, {0, 0, 2, 0}, Status::InvalidParameter},
        {"write without data", 0x0086, {0, 0, 2, 0}, Status::InvalidParameter},
        {"write 6 bytes", 0x0086, {0, 0, 2, 0, 1, 2, 3, 4, 5, 6}, Status::BadAlignment},
        {"write wrapping", 0x0086, {0xFF, 0xFF, 0xFF, 0xFC, 1, 2, 3, 4, 5, 6, 7, 8}, Status::InvalidAddress},
        {"readreg none", 0x0080, {}, Status::InvalidParameter},
        {"readreg unaligned", 0x0080, {0, 0, 0, 2}, Status::BadAlignment},
        {"readreg odd length", 0x0080, {0, 0, 0, 4, 0}, Status::InvalidParameter},
        {"writereg half pair", 0x0082, {0, 0, 0x0A, 0}, Status::InvalidParameter},
        {"writereg unaligned", 0x0082, {0, 0, 0x0A, 1, 0, 0, 0, 2}, Status::BadAlignment},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodePayload(c.code, c.payload.data(), c.payload.size()), c.expected) << c.what;
    }
    std::vector<std::uint8_t> many(4 * (kMaxReadRegCount + 1), 0);
    EXPECT_EQ(decodePayload(0x0080, many.data(), many.size()), Status::InvalidParameter);
}

TEST(GvcpCodec, EveryTruncationOfValidCommandsIsRejected) {
    const std::vector<std::vector<std::uint8_t>> valid = {
        command(0x0002, {}),
        command(0x0080, {0, 0, 0x09, 0x38}),
        command(0x0082, {0, 0, 0x0A, 0, 0, 0, 0, 2}),
        command(0x0084, {0, 0, 2, 0, 0, 0, 2, 0}),
        command(0x0086, {0, 0, 0, 0xE8, 'a', 'b', 'c', 0}),
        command(0x0040, {0, 0, 0, 5, 0, 0, 0, 3, 0, 0, 0, 3}),
    };
    for (const auto& datagram : valid) {
        Header header;
        ASSERT_EQ(decodeHeader(datagram.data(), datagram.size(), header), HeaderCheck::Ok);
        EXPECT_EQ(decodePayload(header.command, datagram.data() + 8, header.length), Status::Success);
        for (std::size_t size = 0; size < datagram.size(); ++size) {
            const std::vector<std::uint8_t> prefix(datagram.begin(), datagram.begin() + static_cast<long>(size));
            const HeaderCheck check = decodeHeader(prefix.data(), prefix.size(), header);
            EXPECT_EQ(check, size < 8 ? HeaderCheck::Drop : HeaderCheck::Invalid)
                << "command " << std::hex << datagram[3] << " cut to " << std::dec << size;
            // A decoder handed a shortened payload never accepts it either.
            if (size > 8 && datagram[3] >= 0x80) {
                EXPECT_NE(decodePayload(header.command, prefix.data() + 8, size - 8), Status::Success) << size;
            }
        }
    }
}

TEST(GvcpCodec, RangeCheckNeverWraps) {
    EXPECT_TRUE(rangeWithin(0x0FFC, 4, 0, 0x1000));
    EXPECT_FALSE(rangeWithin(0x0FFC, 8, 0, 0x1000));
    EXPECT_FALSE(rangeWithin(0xFFFFFFFC, 8, 0, 0x100000000ULL));
    EXPECT_FALSE(rangeWithin(0x0FFF0, 16, 0x10000, 0x20000));
    EXPECT_TRUE(rangeWithin(0x10000, 0x10000, 0x10000, 0x20000));
}
