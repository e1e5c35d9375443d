// The capture tool's reading of message-channel packets: both record sizes, several records in one EVENT, the data
// of an EVENTDATA, the acknowledge it answers with, and the packets it refuses to answer.
#include <gtest/gtest.h>

#include <initializer_list>

#include "event_listener.h"

namespace {

void put(std::vector<std::uint8_t>& bytes, std::uint64_t value, int size) {
    for (int shift = (size - 1) * 8; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::vector<std::uint8_t> packet(std::uint8_t flags, std::uint16_t command, std::uint16_t requestId,
                                 const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> bytes{0x42, flags};
    put(bytes, command, 2);
    put(bytes, payload.size(), 2);
    put(bytes, requestId, 2);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

std::vector<std::uint8_t> record16(std::uint16_t eventId, std::uint16_t blockId, std::uint64_t timestamp) {
    std::vector<std::uint8_t> bytes;
    put(bytes, 0, 2);
    put(bytes, eventId, 2);
    put(bytes, 0, 2);
    put(bytes, blockId, 2);
    put(bytes, timestamp, 8);
    return bytes;
}

std::vector<std::uint8_t> record24(std::uint16_t eventId, std::uint64_t blockId, std::uint64_t timestamp) {
    std::vector<std::uint8_t> bytes;
    put(bytes, 0, 2);
    put(bytes, eventId, 2);
    put(bytes, 0, 4);
    put(bytes, blockId, 8);
    put(bytes, timestamp, 8);
    return bytes;
}

std::vector<std::uint8_t> joined(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> bytes;
    for (const auto& part : parts) bytes.insert(bytes.end(), part.begin(), part.end());
    return bytes;
}

TEST(EventPacket, RecordsOfBothSizesBecomeLinesWithTheDevicesNames) {
    EventPacket parsed;
    const auto twoEvents =
        packet(0x01, 0x00C0, 0x1234, joined({record16(0x9002, 7, 1765272000123456789u), record16(0x9003, 7, 5)}));
    ASSERT_TRUE(parseEventPacket(twoEvents.data(), twoEvents.size(), parsed));
    EXPECT_EQ(parsed.requestId, 0x1234);
    ASSERT_EQ(parsed.records.size(), 2u);
    EXPECT_EQ(formatEventLine(parsed.records[0]), "event ExposureEnd block 7 timestamp 1765272000123456789");
    EXPECT_EQ(formatEventLine(parsed.records[1]), "event FrameEnd block 7 timestamp 5");

    const auto extended = packet(0x11, 0x00C0, 2, record24(0x7001, 0x123456789, 9));
    ASSERT_TRUE(parseEventPacket(extended.data(), extended.size(), parsed));
    ASSERT_EQ(parsed.records.size(), 1u);
    EXPECT_EQ(formatEventLine(parsed.records[0]), "event 0x7001 block 4886718345 timestamp 9");
}

TEST(EventPacket, EventDataCarriesItsValueAndIsAnsweredWithItsOwnCode) {
    EventPacket parsed;
    const auto error = packet(0x01, 0x00C2, 0xFFFF, joined({record16(0x9006, 0, 3), {0x00, 0x00, 0x01, 0x02}}));
    ASSERT_TRUE(parseEventPacket(error.data(), error.size(), parsed));
    ASSERT_EQ(parsed.records.size(), 1u);
    EXPECT_EQ(formatEventLine(parsed.records[0]), "event Error block 0 timestamp 3 data 258");
    EXPECT_EQ(eventAcknowledge(parsed), (std::vector<std::uint8_t>{0, 0, 0x00, 0xC3, 0, 0, 0xFF, 0xFF}));

    const auto extended = packet(0x11, 0x00C2, 4, joined({record24(0x9006, 2, 3), {0, 0, 0, 9}}));
    ASSERT_TRUE(parseEventPacket(extended.data(), extended.size(), parsed));
    EXPECT_EQ(formatEventLine(parsed.records[0]), "event Error block 2 timestamp 3 data 9");
}

TEST(EventPacket, MalformedOrForeignPacketsAreRefused) {
    EventPacket parsed;
    const auto good = packet(0x01, 0x00C0, 1, record16(0x9000, 0, 0));
    auto wrongKey = good;
    wrongKey[0] = 0x43;
    auto lengthPastEnd = good;
    lengthPastEnd[5] = 32;
    const auto readRegister = packet(0x01, 0x0080, 1, {0, 0, 0x0B, 0});
    const auto partRecord = packet(0x01, 0x00C0, 1, joined({record16(0x9000, 0, 0), {0, 0, 0, 0}}));
    const auto shortExtended = packet(0x11, 0x00C0, 1, record16(0x9000, 0, 0));
    const auto noRecord = packet(0x01, 0x00C0, 1, {});
    const auto shortEventData = packet(0x01, 0x00C2, 1, {0, 0, 0x90, 0x06});
    for (const auto& bytes :
         {wrongKey, lengthPastEnd, readRegister, partRecord, shortExtended, noRecord, shortEventData}) {
        EXPECT_FALSE(parseEventPacket(bytes.data(), bytes.size(), parsed));
    }
    EXPECT_FALSE(parseEventPacket(good.data(), 7, parsed));
    EXPECT_TRUE(parseEventPacket(good.data(), good.size(), parsed));
}

}  // namespace
