// Reading back what the device sent, for the stream tests.
#pragma once

#include "udp_receiver.h"

#include <cstdint>
#include <map>
#include <vector>

namespace gvsp_test {

inline std::uint32_t be(const std::uint8_t* p, int bytes) {
    std::uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value = (value << 8) | p[i];
    return value;
}

struct Packet {
    std::uint16_t status = 0;
    std::uint16_t block = 0;
    std::uint8_t format = 0;  // without the extended-id flag
    std::uint32_t id = 0;
    std::vector<std::uint8_t> body;  // after the header
    // Extended ids (format byte 0x80): the 64-bit block id, flags and the byte after the reserved field.
    bool extended = false;
    std::uint64_t block64 = 0;
    std::uint16_t flags = 0;
    std::uint8_t formatInfo = 0;
};

inline Packet parse(const Datagram& datagram) {
    Packet packet;
    if (datagram.size() < 8) return packet;
    packet.status = static_cast<std::uint16_t>(be(&datagram[0], 2));
    packet.extended = (datagram[4] & 0x80) != 0;
    packet.format = datagram[4] & 0x7F;
    if (packet.extended) {
        if (datagram.size() < 20) return Packet{};
        packet.flags = static_cast<std::uint16_t>(be(&datagram[2], 2));
        packet.formatInfo = datagram[7];
        packet.block64 = (std::uint64_t{be(&datagram[8], 4)} << 32) | be(&datagram[12], 4);
        packet.block = static_cast<std::uint16_t>(packet.block64);
        packet.id = be(&datagram[16], 4);
        packet.body.assign(datagram.begin() + 20, datagram.end());
        return packet;
    }
    packet.block = static_cast<std::uint16_t>(be(&datagram[2], 2));
    packet.id = be(&datagram[5], 3);
    packet.body.assign(datagram.begin() + 8, datagram.end());
    return packet;
}

// Payload bytes of one block, placed by packet id as a client places them.
inline std::vector<std::uint8_t> assemble(const std::vector<Packet>& packets, std::uint16_t block,
                                          std::uint32_t dataPerPacket) {
    std::map<std::uint32_t, const Packet*> byId;
    for (const Packet& packet : packets) {
        if (packet.block == block && packet.format == 3 && packet.status == 0) byId[packet.id] = &packet;
    }
    std::vector<std::uint8_t> payload;
    for (const auto& [id, packet] : byId) {
        const std::size_t offset = std::size_t{id - 1} * dataPerPacket;
        if (payload.size() < offset + packet->body.size()) payload.resize(offset + packet->body.size());
        std::copy(packet->body.begin(), packet->body.end(), payload.begin() + static_cast<std::ptrdiff_t>(offset));
    }
    return payload;
}

}  // namespace gvsp_test
