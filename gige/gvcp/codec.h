// GVCP datagram decoding and acknowledge encoding. Every decoder takes the received bytes with their
// length and answers with a status; nothing here trusts a length field before comparing it with the bytes
// actually received.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "gvcp/protocol.h"

namespace gvcp {

struct Header {
    std::uint8_t flags = 0;
    std::uint16_t command = 0;
    std::uint16_t length = 0;
    std::uint16_t requestId = 0;
    bool ackRequired() const { return (flags & FlagAckRequired) != 0; }
};

enum class HeaderCheck {
    Ok,
    Drop,     // too short for a header or not a GVCP command: not answered at all
    Invalid,  // a GVCP header whose fields are wrong: answered with INVALID_HEADER when an ack is asked for
};
HeaderCheck decodeHeader(const std::uint8_t* data, std::size_t size, Header& header);

struct MemoryRead {
    std::uint32_t address = 0;
    std::uint32_t count = 0;
};
struct MemoryWrite {
    std::uint32_t address = 0;
    const std::uint8_t* data = nullptr;
    std::uint32_t count = 0;
};
struct RegisterList {
    std::array<std::uint32_t, kMaxReadRegCount> addresses{};
    std::array<std::uint32_t, kMaxWriteRegCount> values{};
    std::uint32_t count = 0;
};

struct ActionCommand {
    std::uint32_t deviceKey = 0;
    std::uint32_t groupKey = 0;
    std::uint32_t groupMask = 0;
    bool scheduled = false;        // the command's flags asked for a scheduled action
    std::uint64_t actionTime = 0;  // device ticks; scheduled commands only
};

// `payload` and `size` are the command's payload as the header's length field gives it.
Status decodeReadMem(const std::uint8_t* payload, std::size_t size, MemoryRead& out);
Status decodeWriteMem(const std::uint8_t* payload, std::size_t size, MemoryWrite& out);
Status decodeReadReg(const std::uint8_t* payload, std::size_t size, RegisterList& out);
Status decodeWriteReg(const std::uint8_t* payload, std::size_t size, RegisterList& out);
// ACTION_CMD: the keys and mask, and the action time when `flags` ask for a scheduled action.
Status decodeAction(const std::uint8_t* payload, std::size_t size, std::uint8_t flags, ActionCommand& out);

// True when [address, address + count) neither wraps nor passes `end` (exclusive).
constexpr bool rangeWithin(std::uint32_t address, std::uint32_t count, std::uint64_t begin, std::uint64_t end) {
    return address >= begin && count <= end - begin && address - begin <= (end - begin) - count;
}

// Largest datagram the device ever sends: header plus the largest payload.
constexpr std::size_t kMaxAckSize = kHeaderSize + kMaxPayload;
using AckBuffer = std::array<std::uint8_t, kMaxAckSize>;

// Writes an acknowledge into `out` and returns its size (0 when it does not fit).
std::size_t encodeAck(AckBuffer& out, Status status, std::uint16_t ack, std::uint16_t ackId,
                      const std::uint8_t* payload, std::size_t payloadSize);
// WRITEREG/WRITEMEM acks carry a reserved half and an index (registers or bytes written).
std::size_t encodeIndexAck(AckBuffer& out, Status status, std::uint16_t ack, std::uint16_t ackId, std::uint16_t index);
std::size_t encodePendingAck(AckBuffer& out, std::uint16_t ackId, std::uint16_t completionMs);

}  // namespace gvcp
