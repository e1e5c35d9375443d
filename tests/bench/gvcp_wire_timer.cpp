#include "gvcp_wire_timer.h"

#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

constexpr std::uint16_t kControlPort = 3956;
constexpr std::uint8_t kCommandKey = 0x42;
constexpr std::uint16_t kWriteRegisterCommand = 0x0082;
constexpr std::uint16_t kWriteMemoryCommand = 0x0086;
constexpr std::uint8_t kTrailerFormat = 2;
constexpr std::uint16_t kEventCommand = 0x00C0;
constexpr std::uint8_t kExtendedIdFlag = 0x10;    // in an EVENT command's flags
constexpr std::uint8_t kExtendedIdFormat = 0x80;  // in a GVSP packet's format byte

std::uint64_t be64(const std::uint8_t* bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = value << 8 | bytes[i];
    return value;
}

std::uint16_t be16(const std::uint8_t* bytes) { return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]); }

// Keeps UDP packets from or to the control port, and stream trailers (the packet format in the low four bits of
// the fifth GVSP byte), so that the stream's image packets never reach the socket.
bool attachControlPortFilter(int fd) {
    static sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 9),                      // IP protocol
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, IPPROTO_UDP, 0, 9),     //   not UDP: drop
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),                     // X = IP header length
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 0),                      // source port
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kControlPort, 5, 0),    //   control port: keep
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 2),                      // destination port
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kControlPort, 3, 0),    //   control port: keep
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8 + 4),                  // GVSP packet format
        BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0x0f),                  //
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kTrailerFormat, 0, 1),  //   not a trailer: drop
        BPF_STMT(BPF_RET | BPF_K, 256),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    return ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

}  // namespace

GvcpWireTimer::GvcpWireTimer() {
    fd_ = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_IP));
    if (fd_ < 0) {
        error_ = std::string("no packet socket: ") + std::strerror(errno);
        return;
    }
    const int on = 1;
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_IP);
    address.sll_ifindex = static_cast<int>(::if_nametoindex("lo"));
    if (!attachControlPortFilter(fd_) || ::setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0 ||
        ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error_ = std::string("cannot watch the loopback interface: ") + std::strerror(errno);
        return;
    }
    thread_ = std::thread([this] { capture(); });
}

GvcpWireTimer::~GvcpWireTimer() {
    stop();
    if (fd_ >= 0) ::close(fd_);
}

std::vector<double> GvcpWireTimer::writesToTrailers() {
    std::lock_guard lock(mutex_);
    return writesToTrailers_;
}

void GvcpWireTimer::clearWritesToTrailers() {
    std::lock_guard lock(mutex_);
    writesToTrailers_.clear();
    lastWrite_ = 0;
}

std::vector<GvcpWireTimer::EventSeen> GvcpWireTimer::events() {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<GvcpWireTimer::TrailerSeen> GvcpWireTimer::trailers() {
    std::lock_guard lock(mutex_);
    return trailers_;
}

std::vector<double> GvcpWireTimer::stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mutex_);
    return answers_;
}

void GvcpWireTimer::capture() {
    std::uint8_t packet[256];
    alignas(cmsghdr) std::uint8_t control[256];
    while (!stopping_) {
        pollfd entry{fd_, POLLIN, 0};
        if (::poll(&entry, 1, 100) <= 0) continue;
        sockaddr_ll from{};
        iovec piece{packet, sizeof packet};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &piece;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t size = ::recvmsg(fd_, &message, MSG_DONTWAIT);
        // Loopback shows a packet once, as it arrives; the kernel stamps it as the sender hands it over.
        if (size <= 0) continue;
        for (cmsghdr* item = CMSG_FIRSTHDR(&message); item != nullptr; item = CMSG_NXTHDR(&message, item)) {
            if (item->cmsg_level != SOL_SOCKET || item->cmsg_type != SCM_TIMESTAMPNS) continue;
            timespec stamp{};
            std::memcpy(&stamp, CMSG_DATA(item), sizeof stamp);
            record(packet, static_cast<std::size_t>(size), static_cast<double>(stamp.tv_sec) + stamp.tv_nsec * 1e-9);
        }
    }
}

void GvcpWireTimer::record(const std::uint8_t* ip, std::size_t size, double seconds) {
    if (size < 20) return;
    const std::size_t udp = static_cast<std::size_t>(ip[0] & 0x0f) * 4;
    const std::size_t gvcp = udp + 8;
    if (size < gvcp + 8) return;
    const std::uint16_t sourcePort = be16(ip + udp);
    const std::uint16_t destinationPort = be16(ip + udp + 2);
    // Command and acknowledge headers both carry the request id in bytes 6 and 7.
    const std::uint16_t id = be16(ip + gvcp + 6);
    std::lock_guard lock(mutex_);
    if (sourcePort != kControlPort && destinationPort != kControlPort) {
        const std::uint8_t* gvsp = ip + gvcp;
        const bool extended = (gvsp[4] & kExtendedIdFormat) != 0;
        if (extended && size < gvcp + 16) return;
        trailers_.push_back({extended ? be64(gvsp + 8) : be16(gvsp + 2), seconds});
        if (lastWrite_ > 0) writesToTrailers_.push_back((seconds - lastWrite_) * 1e3);
        lastWrite_ = 0;
        return;
    }
    // The device's events leave from the control port, as commands of their own.
    if (sourcePort == kControlPort && ip[gvcp] == kCommandKey) {
        const std::uint8_t* record = ip + gvcp + 8;
        const bool extended = (ip[gvcp + 1] & kExtendedIdFlag) != 0;
        if (be16(ip + gvcp + 2) != kEventCommand || size < gvcp + 8 + (extended ? 24 : 16)) return;
        if (extended) {
            events_.push_back({be16(record + 2), be64(record + 8), be64(record + 16), seconds});
        } else {
            events_.push_back({be16(record + 2), be16(record + 6), be64(record + 8), seconds});
        }
        return;
    }
    if (destinationPort == kControlPort && ip[gvcp] == kCommandKey) {
        pending_[std::uint32_t{sourcePort} << 16 | id] = seconds;
        const std::uint16_t command = be16(ip + gvcp + 2);
        if (command == kWriteRegisterCommand || command == kWriteMemoryCommand) lastWrite_ = seconds;
    } else if (sourcePort == kControlPort) {
        const auto command = pending_.find(std::uint32_t{destinationPort} << 16 | id);
        if (command == pending_.end()) return;
        answers_.push_back((seconds - command->second) * 1e6);
        pending_.erase(command);
    }
}
