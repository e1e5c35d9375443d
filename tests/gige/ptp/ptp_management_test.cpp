// PTP management codec: the bytes of a GET, ptp4l's answers for the ids the device asks for, and the answers
// that must be refused (another request's, another id's, an error status, any truncation).
#include <gtest/gtest.h>

#include <vector>

#include "ptp/ptp_management.h"

using namespace ptp;

namespace {

// Bytes written into a message of a size known up front, so that nothing grows while it is built (GCC 12 at -O3
// takes the appends of a growing vector for writes past its end).
class Message {
public:
    explicit Message(std::size_t size) : bytes_(size, 0) {}
    void put(std::uint64_t value, int width) {
        for (int i = width - 1; i >= 0; --i) bytes_.at(at_++) = static_cast<std::uint8_t>(value >> (8 * i));
    }
    void skip(std::size_t count) { at_ += count; }
    void fill(std::size_t count, std::uint8_t value) {
        for (std::size_t i = 0; i < count; ++i) bytes_.at(at_++) = value;
    }
    std::vector<std::uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

// An answer as ptp4l sends it: header, management fields, one TLV of `tlvType` holding the id and `data`.
std::vector<std::uint8_t> answer(std::uint16_t id, std::uint16_t sequenceId, const std::vector<std::uint8_t>& data,
                                 std::uint8_t action = 2, std::uint16_t tlvType = 1) {
    Message message(54 + data.size());
    message.put(0x0D, 1);
    message.put(0x02, 1);
    message.put(54 + data.size(), 2);
    message.skip(16);                                      // domain .. type-specific field
    for (int i = 0; i < 8; ++i) message.put(0x10 + i, 1);  // clock identity of ptp4l
    message.put(1, 2);                                     // port
    message.put(sequenceId, 2);
    message.put(0x04, 1);
    message.put(0x7F, 1);
    message.skip(10);  // target: the asker
    message.put(0, 1);
    message.put(0, 1);
    message.put(action, 1);
    message.put(0, 1);
    message.put(tlvType, 2);
    message.put(2 + data.size(), 2);
    message.put(id, 2);
    for (const std::uint8_t byte : data) message.put(byte, 1);
    return message.take();
}

std::vector<std::uint8_t> defaultDataSet(std::uint16_t ports) {
    Message data(20);
    data.put(0x0100, 2);
    data.put(ports, 2);
    data.fill(16, 0x80);
    return data.take();
}

std::vector<std::uint8_t> portDataSet(std::uint8_t state) {
    Message data(26);
    data.fill(10, 0x22);
    data.put(state, 1);
    return data.take();
}

std::vector<std::uint8_t> timeStatus(std::int64_t offset, std::int32_t present) {
    Message data(50);
    data.put(static_cast<std::uint64_t>(offset), 8);
    data.fill(30, 0x55);
    data.put(static_cast<std::uint32_t>(present), 4);
    data.fill(8, 0x33);
    return data.take();
}

struct Decoded {
    bool ok = false;
    std::int64_t value = 0;
    bool present = false;
};

Decoded decode(std::uint16_t asked, const std::vector<std::uint8_t>& bytes, std::uint16_t sequenceId) {
    Decoded out;
    if (asked == ManagementDefaultDataSet) {
        std::uint16_t ports = 0;
        out.ok = decodeNumberPorts(bytes.data(), bytes.size(), sequenceId, ports);
        out.value = ports;
    } else if (asked == ManagementPortDataSet) {
        PortState state = PortState::Disabled;
        out.ok = decodePortState(bytes.data(), bytes.size(), sequenceId, state);
        out.value = static_cast<std::int64_t>(state);
    } else {
        TimeStatus status;
        out.ok = decodeTimeStatus(bytes.data(), bytes.size(), sequenceId, status);
        out.value = status.masterOffsetNs;
        out.present = status.grandmasterPresent;
    }
    return out;
}

}  // namespace

TEST(PtpManagement, GetHasTheExpectedBytes) {
    const std::vector<std::uint8_t> expected = {
        0x0D, 0x02, 0x00, 0x36, 0,    0,    0,    0,                       // management, version 2, 54 bytes
        0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0, 0,  // correction, type-specific field
        0,    0,    0,    0,    0,    0,    0,    0,    0,    0,           // source port
        0x01, 0x02, 0x04, 0x7F,                                            // sequence, control, interval
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,        // every port of every clock
        0,    0,    0,    0,                                               // no hops, GET
        0x00, 0x01, 0x00, 0x02, 0xC0, 0x00};                               // MANAGEMENT TLV, id alone
    EXPECT_EQ(encodeGet(ManagementTimeStatus, 0x0102), expected);
}

TEST(PtpManagement, AnswersAreDecodedOrRefused) {
    struct Case {
        const char* what;
        std::uint16_t asked;
        std::vector<std::uint8_t> bytes;
        std::uint16_t sequenceId;
        bool ok;
        std::int64_t value;
        bool present;
    };
    const Case cases[] = {
        {"ports", ManagementDefaultDataSet, answer(ManagementDefaultDataSet, 7, defaultDataSet(2)), 7, true, 2, false},
        {"slave", ManagementPortDataSet, answer(ManagementPortDataSet, 8, portDataSet(9)), 8, true, 9, false},
        {"pre-master", ManagementPortDataSet, answer(ManagementPortDataSet, 8, portDataSet(5)), 8, true, 5, false},
        {"offset", ManagementTimeStatus, answer(ManagementTimeStatus, 9, timeStatus(-2672, 1)), 9, true, -2672, true},
        {"no master", ManagementTimeStatus, answer(ManagementTimeStatus, 9, timeStatus(0, 0)), 9, true, 0, false},
        {"other request", ManagementPortDataSet, answer(ManagementPortDataSet, 8, portDataSet(9)), 9, false, 0, false},
        {"other id", ManagementTimeStatus, answer(ManagementPortDataSet, 9, timeStatus(5, 1)), 9, false, 0, false},
        {"error status", ManagementPortDataSet, answer(ManagementPortDataSet, 8, portDataSet(9), 2, 2), 8, false, 0,
         false},
        {"not a response", ManagementPortDataSet, answer(ManagementPortDataSet, 8, portDataSet(9), 0), 8, false, 0,
         false},
        {"state 0", ManagementPortDataSet, answer(ManagementPortDataSet, 8, portDataSet(0)), 8, false, 0, false},
        {"state 10", ManagementPortDataSet, answer(ManagementPortDataSet, 8, portDataSet(10)), 8, false, 0, false},
        {"short data set", ManagementTimeStatus, answer(ManagementTimeStatus, 9, std::vector<std::uint8_t>(42, 0)), 9,
         false, 0, false},
    };
    for (const auto& c : cases) {
        const Decoded decoded = decode(c.asked, c.bytes, c.sequenceId);
        EXPECT_EQ(decoded.ok, c.ok) << c.what;
        if (!c.ok) continue;
        EXPECT_EQ(decoded.value, c.value) << c.what;
        EXPECT_EQ(decoded.present, c.present) << c.what;
        // Every truncation of a good answer is refused, also one whose length field was cut to match.
        for (std::size_t size = 0; size < c.bytes.size(); ++size) {
            std::vector<std::uint8_t> cut(c.bytes.begin(), c.bytes.begin() + static_cast<std::ptrdiff_t>(size));
            EXPECT_FALSE(decode(c.asked, cut, c.sequenceId).ok) << c.what << " cut to " << size;
            if (size >= 4) {
                cut[2] = static_cast<std::uint8_t>(size >> 8);
                cut[3] = static_cast<std::uint8_t>(size);
                EXPECT_FALSE(decode(c.asked, cut, c.sequenceId).ok) << c.what << " cut to " << size;
            }
        }
    }
}

TEST(PtpManagement, TheHostStateIsTheMostTellingPort) {
    EXPECT_EQ(hostPortState({}), PortState::Disabled);
    EXPECT_EQ(hostPortState({PortState::Master, PortState::Slave, PortState::Passive}), PortState::Slave);
    EXPECT_EQ(hostPortState({PortState::Listening, PortState::Master}), PortState::Master);
    EXPECT_EQ(hostPortState({PortState::Faulty, PortState::Disabled}), PortState::Faulty);
}
