// POSIX sockets behind socket.h.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "socket.h"
#include "transfer_deadline.h"

namespace sensorlink {
namespace {

sockaddr_in makeAddress(std::uint32_t hostOrderAddress, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(hostOrderAddress);
    return address;
}

// Waits for `events` on `fd`; false on time-out. Hang-up and errors count as ready so the transfer sees them.
bool waitFor(int fd, short events, int timeoutMs) {
    pollfd entry{fd, events, 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, timeoutMs);
        if (ready > 0) return true;
        if (ready == 0) return false;
        if (errno != EINTR) return true;
    }
}

// The most one send or recv call moves. A kernel that does not preempt a thread inside a system call copies
// all of a call's bytes before anything else may run on that processor, so one call that moved megabytes of a
// point cloud held back, for a millisecond or more, the device's control thread waiting to answer a register
// read. A quarter of a megabyte takes some tens of microseconds.
constexpr std::size_t kMaxBytesPerCall = 256 * 1024;

void setNoDelay(int fd) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

}  // namespace

void TcpStream::close() {
    if (handle_ != kInvalidHandle) ::close(static_cast<int>(handle_));
    handle_ = kInvalidHandle;
}

TcpStream TcpStream::connectTo(std::uint32_t hostOrderAddress, std::uint16_t port, int timeoutMs, bool* timedOut) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    TcpStream stream(fd);
    const int flags = ::fcntl(fd, F_GETFL, 0);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const sockaddr_in address = makeAddress(hostOrderAddress, port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS) return {};
        if (!waitFor(fd, POLLOUT, timeoutMs)) {
            if (timedOut != nullptr) *timedOut = true;
            return {};
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return {};
    }
    ::fcntl(fd, F_SETFL, flags);
    setNoDelay(fd);
    return stream;
}

IoStatus TcpStream::sendAll(const void* data, std::size_t size, int timeoutMs) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    const int fd = static_cast<int>(handle_);
    const TransferDeadline deadline(timeoutMs);
    while (size > 0) {
        if (!waitFor(fd, POLLOUT, deadline.left())) return IoStatus::Timeout;
        const ssize_t sent = ::send(fd, bytes, std::min(size, kMaxBytesPerCall), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            return IoStatus::Closed;
        }
        bytes += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return IoStatus::Ok;
}

IoStatus TcpStream::receiveAll(void* data, std::size_t size, int timeoutMs) {
    auto* bytes = static_cast<std::uint8_t*>(data);
    const int fd = static_cast<int>(handle_);
    const TransferDeadline deadline(timeoutMs);
    while (size > 0) {
        if (!waitFor(fd, POLLIN, deadline.left())) return IoStatus::Timeout;
        const ssize_t received = ::recv(fd, bytes, std::min(size, kMaxBytesPerCall), MSG_DONTWAIT);
        if (received == 0) return IoStatus::Closed;
        if (received < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            return IoStatus::Closed;
        }
        bytes += received;
        size -= static_cast<std::size_t>(received);
    }
    return IoStatus::Ok;
}

void TcpStream::finishSending() {
    if (handle_ != kInvalidHandle) ::shutdown(static_cast<int>(handle_), SHUT_WR);
}

void TcpStream::shutdown() {
    shutDown_ = true;
    if (handle_ != kInvalidHandle) ::shutdown(static_cast<int>(handle_), SHUT_RDWR);
}

TcpListener::~TcpListener() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

bool TcpListener::listenOn(std::uint32_t hostOrderAddress, std::uint16_t port, std::string& error) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("cannot create a socket: ") + std::strerror(errno);
        return false;
    }
    // Lets a restarted sensor take its port again at once while old connections linger in TIME_WAIT.
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in address = makeAddress(hostOrderAddress, port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
        error = std::string("cannot listen on the address: ") + std::strerror(errno);
        ::close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

TcpStream TcpListener::acceptClient(int timeoutMs) {
    const int fd = static_cast<int>(handle_);
    if (fd < 0 || !waitFor(fd, POLLIN, timeoutMs)) return {};
    const int client = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return {};
    setNoDelay(client);
    return TcpStream(client);
}

}  // namespace sensorlink
