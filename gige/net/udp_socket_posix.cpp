// POSIX side of the UDP socket.
#include "net/udp_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace gige {

namespace {
sockaddr_in toSockaddr(const Endpoint& endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(endpoint.address);
    address.sin_port = htons(endpoint.port);
    return address;
}
}  // namespace

std::string formatAddress(std::uint32_t address) {
    in_addr in{};
    in.s_addr = htonl(address);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &in, text, sizeof text);
    return text;
}

bool parseAddress(const std::string& text, std::uint32_t& address) {
    in_addr in{};
    if (inet_pton(AF_INET, text.c_str(), &in) != 1) return false;
    address = ntohl(in.s_addr);
    return true;
}

UdpSocket::~UdpSocket() { close(); }

bool UdpSocket::open(std::uint32_t address, std::uint16_t port, bool shared, std::string& error) {
    close();
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("cannot create a UDP socket: ") + std::strerror(errno);
        return false;
    }
    const int one = 1;
    if (shared) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in local = toSockaddr(Endpoint{address, port});
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        error = errno == EADDRINUSE ? portTakenMessage(address, port)
                                    : "cannot bind UDP " + formatAddress(address) + ":" + std::to_string(port) + ": " +
                                          std::strerror(errno);
        ::close(fd);
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    handle_ = fd;
    return true;
}

void UdpSocket::close() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = -1;
}

bool UdpSocket::isOpen() const { return handle_ >= 0; }

std::uint16_t UdpSocket::localPort() const {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (handle_ < 0 || getsockname(static_cast<int>(handle_), reinterpret_cast<sockaddr*>(&local), &size) != 0)
        return 0;
    return ntohs(local.sin_port);
}

bool UdpSocket::enableBroadcast() {
    const int one = 1;
    return handle_ >= 0 && setsockopt(static_cast<int>(handle_), SOL_SOCKET, SO_BROADCAST, &one, sizeof one) == 0;
}

bool UdpSocket::send(const void* data, std::size_t size, const Endpoint& to) {
    if (handle_ < 0) return false;
    const sockaddr_in target = toSockaddr(to);
    const int handle = static_cast<int>(handle_);
    // The socket does not block: with its send buffer full for a moment, it is waited for, a bounded while,
    // before the datagram counts as lost.
    for (int attempt = 0;; ++attempt) {
        const ssize_t sent = ::sendto(handle, data, size, 0, reinterpret_cast<const sockaddr*>(&target), sizeof target);
        if (sent == static_cast<ssize_t>(size)) return true;
        if (sent >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK) || attempt == kSendAttempts) return false;
        pollfd writable{handle, POLLOUT, 0};
        if (::poll(&writable, 1, kSendWaitMs) <= 0) return false;
    }
}

bool UdpSocket::sendNoFragment(const void* data, std::size_t size, const Endpoint& to, bool dontFragment) {
    if (handle_ < 0) return false;
    const int mode = dontFragment ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    setsockopt(static_cast<int>(handle_), IPPROTO_IP, IP_MTU_DISCOVER, &mode, sizeof mode);
    return send(data, size, to);
}

long UdpSocket::receive(void* buffer, std::size_t capacity, Endpoint& from) {
    if (handle_ < 0) return -1;
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    const ssize_t received =
        ::recvfrom(static_cast<int>(handle_), buffer, capacity, MSG_TRUNC, reinterpret_cast<sockaddr*>(&peer), &size);
    if (received < 0) return -1;
    from.address = ntohl(peer.sin_addr.s_addr);
    from.port = ntohs(peer.sin_port);
    return static_cast<long>(received);
}

unsigned UdpSocket::waitReadable(UdpSocket* const* sockets, int count, int timeoutMs) {
    pollfd fds[8] = {};
    int used = 0;
    int index[8] = {};
    for (int i = 0; i < count && used < 8; ++i) {
        if (sockets[i] == nullptr || sockets[i]->handle_ < 0) continue;
        fds[used].fd = static_cast<int>(sockets[i]->handle_);
        fds[used].events = POLLIN;
        index[used++] = i;
    }
    if (::poll(fds, static_cast<nfds_t>(used), timeoutMs) <= 0) return 0;
    unsigned ready = 0;
    for (int i = 0; i < used; ++i)
        if ((fds[i].revents & (POLLIN | POLLERR)) != 0) ready |= 1U << index[i];
    return ready;
}

bool openBroadcastListener(UdpSocket& socket, std::uint16_t port, std::string& error, bool& needed) {
    // Linux hands a limited broadcast only to sockets bound to the wildcard or to 255.255.255.255; the
    // latter may be shared, so every device instance of the host gets its own copy.
    needed = true;
    return socket.open(0xFFFFFFFFU, port, true, error);
}

}  // namespace gige
