// Linux side of the stream socket: sendmmsg sends a whole batch of gathered datagrams per system call.
#include "stream_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace gvsp {

namespace {
// A large send buffer lets a whole batch queue without blocking; the kernel caps it at wmem_max.
constexpr int kSendBufferBytes = 4 << 20;
}  // namespace

StreamSocket::~StreamSocket() { close(); }

bool StreamSocket::open(std::uint32_t address, std::string* error) {
    close();
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        *error = std::string("cannot create the stream socket: ") + std::strerror(errno);
        return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(address);
    local.sin_port = 0;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        *error = std::string("cannot bind the stream socket to the served address: ") + std::strerror(errno);
        ::close(fd);
        return false;
    }
    socklen_t length = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    const int bufferBytes = kSendBufferBytes;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bufferBytes, sizeof bufferBytes);
    handle_ = fd;
    localPort_ = ntohs(local.sin_port);
    return setDoNotFragment(true);
}

void StreamSocket::close() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = -1;
    localPort_ = 0;
}

bool StreamSocket::isOpen() const { return handle_ >= 0; }

bool StreamSocket::setDoNotFragment(bool enabled) {
    if (handle_ < 0) return false;
    const int mode = enabled ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    return ::setsockopt(static_cast<int>(handle_), IPPROTO_IP, IP_MTU_DISCOVER, &mode, sizeof mode) == 0;
}

bool StreamSocket::setMulticast(std::uint32_t interfaceAddress, std::uint32_t ttl) {
    if (handle_ < 0) return false;
    const int fd = static_cast<int>(handle_);
    in_addr outgoing{};
    outgoing.s_addr = htonl(interfaceAddress);
    const int hops = static_cast<int>(ttl);
    const int loop = 1;
    return ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &outgoing, sizeof outgoing) == 0 &&
           ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &hops, sizeof hops) == 0 &&
           ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) == 0;
}

bool StreamSocket::setSendTimeout(int milliseconds) {
    if (handle_ < 0) return false;
    timeval limit{};
    limit.tv_sec = milliseconds / 1000;
    limit.tv_usec = (milliseconds % 1000) * 1000;
    return ::setsockopt(static_cast<int>(handle_), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) == 0;
}

std::size_t StreamSocket::send(std::uint32_t address, std::uint16_t port, const OutPacket* packets, std::size_t count,
                               std::size_t* refused) {
    if (handle_ < 0 || count == 0) return 0;
    if (count > kMaxBatch) count = kMaxBatch;
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_addr.s_addr = htonl(address);
    destination.sin_port = htons(port);

    // Built on the stack for every call: no allocation, and concurrent senders (frames on the caller's
    // thread, resends on the control thread) share nothing but the descriptor.
    mmsghdr messages[kMaxBatch];
    iovec pieces[kMaxBatch][OutPacket::kMaxSpans];
    for (std::size_t i = 0; i < count; ++i) {
        for (std::size_t s = 0; s < packets[i].spanCount; ++s) {
            pieces[i][s].iov_base = const_cast<std::uint8_t*>(packets[i].spans[s].data);
            pieces[i][s].iov_len = packets[i].spans[s].length;
        }
        std::memset(&messages[i], 0, sizeof messages[i]);
        messages[i].msg_hdr.msg_name = &destination;
        messages[i].msg_hdr.msg_namelen = sizeof destination;
        messages[i].msg_hdr.msg_iov = pieces[i];
        messages[i].msg_hdr.msg_iovlen = packets[i].spanCount;
    }
    std::size_t sent = 0;
    while (sent < count) {
        const int result =
            ::sendmmsg(static_cast<int>(handle_), messages + sent, static_cast<unsigned>(count - sent), 0);
        if (result > 0) {
            sent += static_cast<std::size_t>(result);
        } else if (result < 0 && errno == EINTR) {
            continue;
        } else if (result < 0 && errno == ENOBUFS) {
            // Transient shortage of kernel buffers: yield once and try again.
            ::usleep(50);
            continue;
        } else if (result < 0 && errno == EPERM && refused != nullptr) {
            // The first datagram not yet sent was refused by a packet filter: the next ones may pass.
            ++*refused;
            ++sent;
        } else {
            break;
        }
    }
    return sent;
}

}  // namespace gvsp
