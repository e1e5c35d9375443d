// A GVCP client on plain UDP for the server tests: builds commands byte by byte, so that malformed ones
// can be sent as easily as valid ones.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/udp_socket.h"

namespace gvcp_test {

using Bytes = std::vector<std::uint8_t>;

Bytes makeCommand(std::uint16_t code, const Bytes& payload, std::uint16_t id, std::uint8_t flags = 0x01);
Bytes be32(std::uint32_t value);
Bytes concat(Bytes a, const Bytes& b);

struct Ack {
    std::uint16_t status = 0xFFFF;
    std::uint16_t code = 0;
    std::uint16_t length = 0;
    std::uint16_t id = 0;
    Bytes payload;
    bool received = false;
};

class RawClient {
public:
    // Sends from `local` (host order), 127.0.0.1 unless a test gives the address of another interface.
    explicit RawClient(std::uint32_t device, std::uint32_t local = 0x7F000001);
    std::uint16_t port() const { return socket_.localPort(); }

    void send(const Bytes& datagram);
    // The next datagram within `timeoutMs`, decoded as an acknowledge.
    Ack receive(int timeoutMs = 1000);
    Ack transact(const Bytes& datagram, int timeoutMs = 1000);
    std::uint16_t nextId() { return id_ = static_cast<std::uint16_t>(id_ == 0xFFFF ? 1 : id_ + 1); }

    std::uint16_t readReg(std::uint32_t address, std::uint32_t& value);
    std::uint16_t writeReg(std::uint32_t address, std::uint32_t value);
    std::uint16_t readMem(std::uint32_t address, std::uint16_t count, Bytes& data);
    std::uint16_t writeMem(std::uint32_t address, const Bytes& data);

private:
    gige::UdpSocket socket_;
    std::uint32_t device_;
    std::uint16_t id_ = 0x100;
};

// The address of a register node in a GenICam XML text, 0 when absent.
std::uint32_t registerAddress(const std::string& xml, const std::string& registerName);

}  // namespace gvcp_test
