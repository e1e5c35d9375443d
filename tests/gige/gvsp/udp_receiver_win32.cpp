// The stream tests' UDP receiver on Winsock.
#include "udp_receiver.h"

#include <chrono>

#include <winsock2.h>
#include <ws2tcpip.h>

namespace gvsp_test {

UdpReceiver::UdpReceiver(std::uint32_t address, int receiveBufferBytes) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBufferBytes),
               sizeof receiveBufferBytes);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(address);
    bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    int length = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    handle_ = static_cast<std::intptr_t>(fd);
    port_ = ntohs(local.sin_port);
}

UdpReceiver::~UdpReceiver() {
    closesocket(static_cast<SOCKET>(handle_));
    WSACleanup();
}

std::vector<Datagram> UdpReceiver::drain(int quietMs, std::vector<std::pair<std::uint32_t, std::uint16_t>>* sources) {
    std::vector<Datagram> received;
    // A stream that never pauses still ends the drain after a while.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
    std::vector<char> buffer(70000);
    while (std::chrono::steady_clock::now() < giveUp) {
        WSAPOLLFD ready{static_cast<SOCKET>(handle_), POLLRDNORM, 0};
        if (WSAPoll(&ready, 1, quietMs) <= 0) break;
        sockaddr_in from{};
        int fromLength = sizeof from;
        const int length = recvfrom(static_cast<SOCKET>(handle_), buffer.data(), static_cast<int>(buffer.size()), 0,
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
    return sendto(static_cast<SOCKET>(handle_), reinterpret_cast<const char*>(data.data()),
                  static_cast<int>(data.size()), 0, reinterpret_cast<sockaddr*>(&to),
                  sizeof to) == static_cast<int>(data.size());
}

bool sourceAddressesAreReported() {
    // wine's ntdll exports its version; Windows' does not.
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll == nullptr || ::GetProcAddress(ntdll, "wine_get_version") == nullptr;
}

}  // namespace gvsp_test
