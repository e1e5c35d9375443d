// A plain UDP receiver for the stream tests: bound to a loopback address, it collects the datagrams the
// device sends until the line stays quiet.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace gvsp_test {

using Datagram = std::vector<std::uint8_t>;

class UdpReceiver {
public:
    // `address` in host byte order, e.g. 127.0.7.1.
    explicit UdpReceiver(std::uint32_t address, int receiveBufferBytes = 8 << 20);
    ~UdpReceiver();
    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;

    std::uint16_t port() const { return port_; }
    // Datagrams received until `quietMs` pass without one (at most a second); `sources` (optional) gets each sender's
    // address and port.
    std::vector<Datagram> drain(int quietMs = 100,
                                std::vector<std::pair<std::uint32_t, std::uint16_t>>* sources = nullptr);
    // Sends a datagram to address:port (used to play the client's PACKETRESEND).
    bool sendTo(std::uint32_t address, std::uint16_t port, const std::vector<std::uint8_t>& data);

private:
    std::intptr_t handle_ = -1;
    std::uint16_t port_ = 0;
};

// False where the system reports a loopback sender's address as 127.0.0.1 whatever address its socket is bound
// to (wine does); such a system cannot show where a datagram came from.
bool sourceAddressesAreReported();

constexpr std::uint32_t ipv4(unsigned a, unsigned b, unsigned c, unsigned d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

}  // namespace gvsp_test
