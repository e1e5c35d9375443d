// Windows side of the UDP socket (Winsock).
#include "net/udp_socket.h"

#include <mutex>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace gige {

namespace {

void startWinsock() {
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
}

sockaddr_in toSockaddr(const Endpoint& endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(endpoint.address);
    address.sin_port = htons(endpoint.port);
    return address;
}

SOCKET native(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

}  // namespace

std::string formatAddress(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

bool parseAddress(const std::string& text, std::uint32_t& address) {
    startWinsock();
    in_addr in{};
    if (inet_pton(AF_INET, text.c_str(), &in) != 1) return false;
    address = ntohl(in.s_addr);
    return true;
}

UdpSocket::~UdpSocket() { close(); }

bool UdpSocket::open(std::uint32_t address, std::uint16_t port, bool shared, std::string& error) {
    close();
    startWinsock();
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        error = "cannot create a UDP socket (error " + std::to_string(WSAGetLastError()) + ")";
        return false;
    }
    // Without SO_REUSEADDR a second bind of the same address and port fails, which is what tells a device
    // that its port is taken. (SO_EXCLUSIVEADDRUSE would also refuse other addresses' binds under wine.)
    const BOOL one = TRUE;
    if (shared) setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one);
    const sockaddr_in local = toSockaddr(Endpoint{address, port});
    if (::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int code = WSAGetLastError();
        error = code == WSAEADDRINUSE ? portTakenMessage(address, port)
                                      : "cannot bind UDP " + formatAddress(address) + ":" + std::to_string(port) +
                                            " (error " + std::to_string(code) + ")";
        closesocket(s);
        return false;
    }
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    handle_ = static_cast<std::intptr_t>(s);
    return true;
}

void UdpSocket::close() {
    if (handle_ != -1) closesocket(native(handle_));
    handle_ = -1;
}

bool UdpSocket::isOpen() const { return handle_ != -1; }

std::uint16_t UdpSocket::localPort() const {
    sockaddr_in local{};
    int size = sizeof local;
    if (handle_ == -1 || getsockname(native(handle_), reinterpret_cast<sockaddr*>(&local), &size) != 0) return 0;
    return ntohs(local.sin_port);
}

bool UdpSocket::enableBroadcast() {
    const BOOL one = TRUE;
    return handle_ != -1 &&
           setsockopt(native(handle_), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&one), sizeof one) == 0;
}

bool UdpSocket::send(const void* data, std::size_t size, const Endpoint& to) {
    if (handle_ == -1) return false;
    const sockaddr_in target = toSockaddr(to);
    const SOCKET handle = native(handle_);
    // The socket does not block, and a send can find no room for the datagram for a moment (under wine the first
    // datagram to a new destination is refused so, which cost the first event of each client its ack time-out):
    // the socket is waited for, a bounded while, before the datagram counts as lost.
    for (int attempt = 0;; ++attempt) {
        const int sent = ::sendto(handle, static_cast<const char*>(data), static_cast<int>(size), 0,
                                  reinterpret_cast<const sockaddr*>(&target), sizeof target);
        if (sent == static_cast<int>(size)) return true;
        if (sent != SOCKET_ERROR || WSAGetLastError() != WSAEWOULDBLOCK || attempt == kSendAttempts) return false;
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(handle, &writable);
        timeval wait{0, kSendWaitMs * 1000};
        if (::select(0, nullptr, &writable, nullptr, &wait) <= 0) return false;
    }
}

bool UdpSocket::sendNoFragment(const void* data, std::size_t size, const Endpoint& to, bool dontFragment) {
    if (handle_ == -1) return false;
    const DWORD flag = dontFragment ? 1 : 0;
    setsockopt(native(handle_), IPPROTO_IP, IP_DONTFRAGMENT, reinterpret_cast<const char*>(&flag), sizeof flag);
    return send(data, size, to);
}

long UdpSocket::receive(void* buffer, std::size_t capacity, Endpoint& from) {
    if (handle_ == -1) return -1;
    sockaddr_in peer{};
    int size = sizeof peer;
    const int received = ::recvfrom(native(handle_), static_cast<char*>(buffer), static_cast<int>(capacity), 0,
                                    reinterpret_cast<sockaddr*>(&peer), &size);
    // A datagram larger than the buffer arrives cut (WSAEMSGSIZE); report it as oversized.
    if (received < 0 && WSAGetLastError() == WSAEMSGSIZE) return static_cast<long>(capacity) + 1;
    if (received < 0) return -1;
    from.address = ntohl(peer.sin_addr.s_addr);
    from.port = ntohs(peer.sin_port);
    return received;
}

unsigned UdpSocket::waitReadable(UdpSocket* const* sockets, int count, int timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    int used = 0;
    for (int i = 0; i < count; ++i) {
        if (sockets[i] == nullptr || sockets[i]->handle_ == -1) continue;
        FD_SET(native(sockets[i]->handle_), &set);
        ++used;
    }
    if (used == 0) {
        Sleep(static_cast<DWORD>(timeoutMs));
        return 0;
    }
    timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (::select(0, &set, nullptr, nullptr, &timeout) <= 0) return 0;
    unsigned ready = 0;
    for (int i = 0; i < count; ++i)
        if (sockets[i] != nullptr && sockets[i]->handle_ != -1 && FD_ISSET(native(sockets[i]->handle_), &set))
            ready |= 1U << i;
    return ready;
}

bool openBroadcastListener(UdpSocket& socket, std::uint16_t, std::string&, bool& needed) {
    // Windows delivers broadcasts to a socket bound to the receiving interface's address.
    socket.close();
    needed = false;
    return false;
}

}  // namespace gige
