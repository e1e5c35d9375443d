// A UDP socket on IPv4, the same on Windows and Linux. Addresses are host-order 32-bit values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace gige {

struct Endpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
};

std::string formatAddress(std::uint32_t address);
// Dotted IPv4 text to a host-order address; false for anything else.
bool parseAddress(const std::string& text, std::uint32_t& address);

// What a user is told when a bind is refused because another program holds the address and port (EADDRINUSE,
// Windows error 10048): which port, where, and what to do about it.
inline std::string portTakenMessage(std::uint32_t address, std::uint16_t port) {
    const std::string where = address == 0 ? "on every IPv4 address of this computer" : "on " + formatAddress(address);
    return "UDP port " + std::to_string(port) + " " + where +
           " is already used by another program (another GigE Vision device, a camera tool, or this program "
           "started twice). End that program, or serve on another address.";
}

class UdpSocket {
public:
    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // Binds to address:port (port 0: any). `shared` lets several sockets bind the same address and port,
    // which only the broadcast discovery socket uses. On failure `error` says why.
    bool open(std::uint32_t address, std::uint16_t port, bool shared, std::string& error);
    void close();
    bool isOpen() const;
    std::uint16_t localPort() const;
    bool enableBroadcast();

    // A send that finds no room for the datagram waits up to kSendWaitMs for the socket, kSendAttempts times.
    static constexpr int kSendAttempts = 3;
    static constexpr int kSendWaitMs = 20;

    // Sends one datagram; false when it could not be handed to the network.
    bool send(const void* data, std::size_t size, const Endpoint& to);
    // Sends with the IP "don't fragment" bit as asked.
    bool sendNoFragment(const void* data, std::size_t size, const Endpoint& to, bool dontFragment);
    // Receives one datagram without waiting: its size, or -1 when none is queued or on error.
    long receive(void* buffer, std::size_t capacity, Endpoint& from);

    // Waits until one of the sockets has a datagram or `timeoutMs` passes; bit i of the result is set
    // when socket i is readable. Null entries are skipped.
    static unsigned waitReadable(UdpSocket* const* sockets, int count, int timeoutMs);

private:
    std::intptr_t handle_ = -1;
};

// Receives from broadcast datagrams to port 3956 when the main socket is bound to one address only.
// Returns false and leaves `socket` closed where the system delivers broadcasts to the address-bound socket
// anyway (no extra socket is needed there).
bool openBroadcastListener(UdpSocket& socket, std::uint16_t port, std::string& error, bool& needed);

}  // namespace gige
