// Windows side of the stream socket: Winsock has no batched send for UDP, so each datagram is one
// gathered WSASendTo of its pieces (still no copy into a packet buffer).
#include "stream_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace gvsp {

namespace {
constexpr int kSendBufferBytes = 4 << 20;

SOCKET toSocket(std::intptr_t handle) { return static_cast<SOCKET>(handle); }
}  // namespace

StreamSocket::~StreamSocket() { close(); }

bool StreamSocket::open(std::uint32_t address, std::string* error) {
    close();
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        *error = "cannot start Winsock for the stream socket";
        return false;
    }
    const SOCKET fd = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (fd == INVALID_SOCKET) {
        *error = "cannot create the stream socket (Winsock error " + std::to_string(WSAGetLastError()) + ")";
        WSACleanup();
        return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(address);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        *error = "cannot bind the stream socket to the served address (Winsock error " +
                 std::to_string(WSAGetLastError()) + ")";
        closesocket(fd);
        WSACleanup();
        return false;
    }
    int length = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    const int bufferBytes = kSendBufferBytes;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bufferBytes), sizeof bufferBytes);
    handle_ = static_cast<std::intptr_t>(fd);
    localPort_ = ntohs(local.sin_port);
    return setDoNotFragment(true);
}

void StreamSocket::close() {
    if (handle_ == -1) return;
    closesocket(toSocket(handle_));
    WSACleanup();
    handle_ = -1;
    localPort_ = 0;
}

bool StreamSocket::isOpen() const { return handle_ != -1; }

bool StreamSocket::setDoNotFragment(bool enabled) {
    if (handle_ == -1) return false;
    const DWORD value = enabled ? 1 : 0;
    return setsockopt(toSocket(handle_), IPPROTO_IP, IP_DONTFRAGMENT, reinterpret_cast<const char*>(&value),
                      sizeof value) == 0;
}

bool StreamSocket::setSendTimeout(int milliseconds) {
    if (handle_ == -1) return false;
    const DWORD value = static_cast<DWORD>(milliseconds);
    return setsockopt(toSocket(handle_), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&value),
                      sizeof value) == 0;
}

// Winsock takes the interface as an IPv4 address in network order, the time to live and the loop switch as
// DWORDs.
bool StreamSocket::setMulticast(std::uint32_t interfaceAddress, std::uint32_t ttl) {
    if (handle_ == -1) return false;
    const SOCKET fd = toSocket(handle_);
    const DWORD outgoing = htonl(interfaceAddress);
    const DWORD hops = ttl;
    const DWORD loop = 1;
    return setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&outgoing), sizeof outgoing) ==
               0 &&
           setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<const char*>(&hops), sizeof hops) == 0 &&
           setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, reinterpret_cast<const char*>(&loop), sizeof loop) == 0;
}

// Windows reports no refusal of a single datagram: a filter that drops one does so silently.
std::size_t StreamSocket::send(std::uint32_t address, std::uint16_t port, const OutPacket* packets, std::size_t count,
                               std::size_t*) {
    if (handle_ == -1) return 0;
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_addr.s_addr = htonl(address);
    destination.sin_port = htons(port);
    std::size_t sent = 0;
    for (; sent < count && sent < kMaxBatch; ++sent) {
        WSABUF pieces[OutPacket::kMaxSpans];
        for (std::size_t s = 0; s < packets[sent].spanCount; ++s) {
            pieces[s].buf = reinterpret_cast<CHAR*>(const_cast<std::uint8_t*>(packets[sent].spans[s].data));
            pieces[s].len = static_cast<ULONG>(packets[sent].spans[s].length);
        }
        DWORD bytes = 0;
        if (WSASendTo(toSocket(handle_), pieces, static_cast<DWORD>(packets[sent].spanCount), &bytes, 0,
                      reinterpret_cast<const sockaddr*>(&destination), sizeof destination, nullptr, nullptr) != 0) {
            break;
        }
    }
    return sent;
}

}  // namespace gvsp
