// Building GVCP commands byte by byte and exchanging them with the server on plain UDP.
#include "raw_client.h"

#include <chrono>
#include <stdexcept>

namespace gvcp_test {

Bytes be32(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

Bytes concat(Bytes a, const Bytes& b) {
    for (std::uint8_t byte : b) a.push_back(byte);
    return a;
}

Bytes makeCommand(std::uint16_t code, const Bytes& payload, std::uint16_t id, std::uint8_t flags) {
    Bytes bytes = {0x42,
                   flags,
                   static_cast<std::uint8_t>(code >> 8),
                   static_cast<std::uint8_t>(code),
                   static_cast<std::uint8_t>(payload.size() >> 8),
                   static_cast<std::uint8_t>(payload.size()),
                   static_cast<std::uint8_t>(id >> 8),
                   static_cast<std::uint8_t>(id)};
    return concat(bytes, payload);
}

RawClient::RawClient(std::uint32_t device, std::uint32_t local) : device_(device) {
    std::string error;
    if (!socket_.open(local, 0, false, error)) throw std::runtime_error(error);
}

void RawClient::send(const Bytes& datagram) { socket_.send(datagram.data(), datagram.size(), {device_, 3956}); }

Ack RawClient::receive(int timeoutMs) {
    Ack ack;
    gige::UdpSocket* sockets[1] = {&socket_};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (gige::UdpSocket::waitReadable(sockets, 1, static_cast<int>(left.count()) + 1) == 0) continue;
        std::uint8_t buffer[2048];
        gige::Endpoint from;
        const long size = socket_.receive(buffer, sizeof buffer, from);
        if (size < 8) continue;
        ack.received = true;
        ack.status = static_cast<std::uint16_t>((buffer[0] << 8) | buffer[1]);
        ack.code = static_cast<std::uint16_t>((buffer[2] << 8) | buffer[3]);
        ack.length = static_cast<std::uint16_t>((buffer[4] << 8) | buffer[5]);
        ack.id = static_cast<std::uint16_t>((buffer[6] << 8) | buffer[7]);
        ack.payload.assign(buffer + 8, buffer + size);
        return ack;
    }
    return ack;
}

Ack RawClient::transact(const Bytes& datagram, int timeoutMs) {
    send(datagram);
    return receive(timeoutMs);
}

std::uint16_t RawClient::readReg(std::uint32_t address, std::uint32_t& value) {
    const Ack ack = transact(makeCommand(0x0080, be32(address), nextId()));
    if (ack.status == 0 && ack.payload.size() >= 4)
        value = (std::uint32_t{ack.payload[0]} << 24) | (std::uint32_t{ack.payload[1]} << 16) |
                (std::uint32_t{ack.payload[2]} << 8) | ack.payload[3];
    return ack.status;
}

std::uint16_t RawClient::writeReg(std::uint32_t address, std::uint32_t value) {
    return transact(makeCommand(0x0082, concat(be32(address), be32(value)), nextId())).status;
}

std::uint16_t RawClient::readMem(std::uint32_t address, std::uint16_t count, Bytes& data) {
    const Ack ack = transact(makeCommand(
        0x0084, concat(be32(address), {0, 0, static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count)}),
        nextId()));
    if (ack.status == 0 && ack.payload.size() >= 4) data.assign(ack.payload.begin() + 4, ack.payload.end());
    return ack.status;
}

std::uint16_t RawClient::writeMem(std::uint32_t address, const Bytes& data) {
    return transact(makeCommand(0x0086, concat(be32(address), data), nextId())).status;
}

std::uint32_t registerAddress(const std::string& xml, const std::string& registerName) {
    const auto node = xml.find("Name=\"" + registerName + "\"");
    if (node == std::string::npos) return 0;
    const auto open = xml.find("<Address>", node);
    if (open == std::string::npos) return 0;
    return static_cast<std::uint32_t>(std::stoul(xml.substr(open + 9, 12), nullptr, 16));
}

}  // namespace gvcp_test
