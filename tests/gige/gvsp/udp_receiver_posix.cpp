// The stream tests' UDP receiver on POSIX sockets.
#include "udp_receiver.h"

#include <chrono>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace gvsp_test {

UdpReceiver::UdpReceiver(std::uint32_t address, int receiveBufferBytes) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(address);
    ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    socklen_t length = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    handle_ = fd;
    port_ = ntohs(local.sin_port);
}

UdpReceiver::~UdpReceiver() { ::close(static_cast<int>(handle_)); }

std::vector<Datagram> UdpReceiver::drain(int quietMs, std::vector<std::pair<std::uint32_t, std::uint16_t>>* sources) {
    std::vector<Datagram> received;
    // A stream that never pauses still ends the drain after a while.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
    std::vector<std::uint8_t> buffer(70000);
    while (std::chrono::steady_clock::now() < giveUp) {
        pollfd ready{static_cast<int>(handle_), POLLIN, 0};
        if (::poll(&ready, 1, quietMs) <= 0) break;
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t length = ::recvfrom(static_cast<int>(handle_), buffer.data(), buffer.size(), 0,
                                          reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (length < 0) break;
        if (sources != nullptr) sources->emplace_back(ntohl(from.sin_addr.s_addr), ntohs(from.sin_port));
        received.emplace_back(buffer.begin(), buffer.begin() + length);
    }
    return received;
}

bool UdpReceiver::sendTo(std::uint32_t address, std::uint16_t port, const std::vector<std::uint8_t>& data) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(address);
    to.sin_port = htons(port);
    return ::sendto(static_cast<int>(handle_), data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to),
                    sizeof to) == static_cast<ssize_t>(data.size());
}

bool sourceAddressesAreReported() { return true; }

}  // namespace gvsp_test
