// Winsock behind socket.h. Winsock is started once, on first use, and left running until the process ends.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

#include "socket.h"
#include "transfer_deadline.h"

namespace sensorlink {
namespace {

void startWinsock() {
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
}

sockaddr_in makeAddress(std::uint32_t hostOrderAddress, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(hostOrderAddress);
    return address;
}

enum class Wait { Ready, Timeout, ShutDown };

// Waits until `socket` is readable (or writable); errors count as ready. Winsock does not wake a select on a
// socket that another thread shuts down, so the wait runs in slices and watches `shutDown` between them.
Wait waitFor(SOCKET socket, bool forWrite, int timeoutMs, const std::atomic<bool>& shutDown) {
    constexpr int kSliceMs = 50;
    int left = timeoutMs;
    for (;;) {
        if (shutDown) return Wait::ShutDown;
        const int slice = left < 0 || left > kSliceMs ? kSliceMs : left;
        fd_set set;
        FD_ZERO(&set);
        FD_SET(socket, &set);
        fd_set errors;
        FD_ZERO(&errors);
        FD_SET(socket, &errors);
        timeval limit{0, slice * 1000};
        const int ready =
            forWrite ? ::select(0, nullptr, &set, &errors, &limit) : ::select(0, &set, nullptr, &errors, &limit);
        if (ready != 0) return Wait::Ready;
        if (left >= 0) {
            left -= slice;
            if (left <= 0) return Wait::Timeout;
        }
    }
}

IoStatus statusOf(Wait wait) { return wait == Wait::Timeout ? IoStatus::Timeout : IoStatus::Closed; }

void setNoDelay(SOCKET socket) {
    const BOOL one = TRUE;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

SOCKET asSocket(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

}  // namespace

void TcpStream::close() {
    if (handle_ != kInvalidHandle) ::closesocket(asSocket(handle_));
    handle_ = kInvalidHandle;
}

TcpStream TcpStream::connectTo(std::uint32_t hostOrderAddress, std::uint16_t port, int timeoutMs, bool* timedOut) {
    startWinsock();
    const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET) return {};
    TcpStream stream(static_cast<std::intptr_t>(socket));
    u_long nonBlocking = 1;
    ::ioctlsocket(socket, FIONBIO, &nonBlocking);
    const sockaddr_in address = makeAddress(hostOrderAddress, port);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const std::atomic<bool> never{false};
        if (WSAGetLastError() != WSAEWOULDBLOCK) return {};
        const Wait wait = waitFor(socket, true, timeoutMs, never);
        if (wait != Wait::Ready) {
            if (timedOut != nullptr && wait == Wait::Timeout) *timedOut = true;
            return {};
        }
        int error = 0;
        int length = sizeof error;
        if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 || error != 0)
            return {};
    }
    nonBlocking = 0;
    ::ioctlsocket(socket, FIONBIO, &nonBlocking);
    setNoDelay(socket);
    return stream;
}

IoStatus TcpStream::sendAll(const void* data, std::size_t size, int timeoutMs) {
    const char* bytes = static_cast<const char*>(data);
    const SOCKET socket = asSocket(handle_);
    const TransferDeadline deadline(timeoutMs);
    while (size > 0) {
        if (const Wait wait = waitFor(socket, true, deadline.left(), shutDown_); wait != Wait::Ready)
            return statusOf(wait);
        const int chunk = size > (1u << 30) ? (1 << 30) : static_cast<int>(size);
        const int sent = ::send(socket, bytes, chunk, 0);
        if (sent == SOCKET_ERROR) {
            if (WSAGetLastError() == WSAEWOULDBLOCK || WSAGetLastError() == WSAEINTR) continue;
            return IoStatus::Closed;
        }
        bytes += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return IoStatus::Ok;
}

IoStatus TcpStream::receiveAll(void* data, std::size_t size, int timeoutMs) {
    char* bytes = static_cast<char*>(data);
    const SOCKET socket = asSocket(handle_);
    const TransferDeadline deadline(timeoutMs);
    while (size > 0) {
        if (const Wait wait = waitFor(socket, false, deadline.left(), shutDown_); wait != Wait::Ready)
            return statusOf(wait);
        const int chunk = size > (1u << 30) ? (1 << 30) : static_cast<int>(size);
        const int received = ::recv(socket, bytes, chunk, 0);
        if (received == 0) return IoStatus::Closed;
        if (received == SOCKET_ERROR) {
            if (WSAGetLastError() == WSAEWOULDBLOCK || WSAGetLastError() == WSAEINTR) continue;
            return IoStatus::Closed;
        }
        bytes += received;
        size -= static_cast<std::size_t>(received);
    }
    return IoStatus::Ok;
}

void TcpStream::finishSending() {
    if (handle_ != kInvalidHandle) ::shutdown(asSocket(handle_), SD_SEND);
}

void TcpStream::shutdown() {
    shutDown_ = true;
    if (handle_ != kInvalidHandle) ::shutdown(asSocket(handle_), SD_BOTH);
}

TcpListener::~TcpListener() {
    if (handle_ != -1) ::closesocket(asSocket(handle_));
}

bool TcpListener::listenOn(std::uint32_t hostOrderAddress, std::uint16_t port, std::string& error) {
    startWinsock();
    const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET) {
        error = "cannot create a socket, Winsock error " + std::to_string(WSAGetLastError());
        return false;
    }
    const sockaddr_in address = makeAddress(hostOrderAddress, port);
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(socket, 16) != 0) {
        error = "cannot listen on the address, Winsock error " + std::to_string(WSAGetLastError());
        ::closesocket(socket);
        return false;
    }
    handle_ = static_cast<std::intptr_t>(socket);
    return true;
}

TcpStream TcpListener::acceptClient(int timeoutMs) {
    const std::atomic<bool> never{false};
    if (handle_ == -1 || waitFor(asSocket(handle_), false, timeoutMs, never) != Wait::Ready) return {};
    const SOCKET client = ::accept(asSocket(handle_), nullptr, nullptr);
    if (client == INVALID_SOCKET) return {};
    setNoDelay(client);
    return TcpStream(static_cast<std::intptr_t>(client));
}

}  // namespace sensorlink
