// Linux: asks ptp4l over its Unix datagram socket. The question and its answers travel on a socket bound to
// an abstract address the kernel picks, so nothing is left in the file system and two devices on one host
// never share an address; every wait is bounded by one deadline.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "ptp/ptp_status.h"

namespace ptp {

namespace {

using Clock = std::chrono::steady_clock;

class Ptp4lLink {
public:
    explicit Ptp4lLink(Clock::time_point deadline) : deadline_(deadline) {}
    ~Ptp4lLink() {
        if (fd_ >= 0) ::close(fd_);
    }
    Ptp4lLink(const Ptp4lLink&) = delete;
    Ptp4lLink& operator=(const Ptp4lLink&) = delete;

    bool open(const std::string& path) {
        sockaddr_un peer{};
        if (path.empty() || path.size() >= sizeof peer.sun_path) return false;
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) return false;
        // Only the family: the kernel binds the socket to a fresh abstract address of its own.
        sockaddr_un own{};
        own.sun_family = AF_UNIX;
        if (::bind(fd_, reinterpret_cast<const sockaddr*>(&own), sizeof(sa_family_t)) != 0) return false;
        peer.sun_family = AF_UNIX;
        std::memcpy(peer.sun_path, path.data(), path.size());
        // Connected, the socket takes datagrams from ptp4l's address only.
        return ::connect(fd_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
    }

    // Sends a GET of `id` and hands every datagram that comes back to `accept` until it returns true (the
    // answer is complete) or the deadline passes.
    bool ask(std::uint16_t id, const std::function<bool(const std::uint8_t*, std::size_t, std::uint16_t)>& accept) {
        const std::uint16_t sequenceId = nextSequence_++;
        const std::vector<std::uint8_t> request = encodeGet(id, sequenceId);
        if (::send(fd_, request.data(), request.size(), MSG_DONTWAIT) != static_cast<ssize_t>(request.size()))
            return false;
        std::array<std::uint8_t, 1500> buffer{};
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
            if (left <= 0) return false;
            pollfd waiting{fd_, POLLIN, 0};
            const int ready = ::poll(&waiting, 1, static_cast<int>(left));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) return false;
            const ssize_t received = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (received < 0) {
                if (errno == EAGAIN || errno == EINTR) continue;
                return false;
            }
            // An answer to an earlier question that came too late is passed over.
            if (accept(buffer.data(), static_cast<std::size_t>(received), sequenceId)) return true;
        }
    }

private:
    Clock::time_point deadline_;
    int fd_ = -1;
    std::uint16_t nextSequence_ = 1;
};

}  // namespace

std::string ptp4lSocketPath() {
    const char* chosen = std::getenv("PTP4L_SOCKET");
    return chosen != nullptr && chosen[0] != '\0' ? chosen : "/var/run/ptp4l";
}

PtpSnapshot queryPtp4l(const std::string& socketPath, int timeoutMs) {
    PtpSnapshot snapshot;
    Ptp4lLink link(Clock::now() + std::chrono::milliseconds(timeoutMs));
    if (!link.open(socketPath)) return snapshot;

    std::uint16_t numberPorts = 0;
    if (!link.ask(ManagementDefaultDataSet,
                  [&](const std::uint8_t* message, std::size_t size, std::uint16_t sequenceId) {
                      return decodeNumberPorts(message, size, sequenceId, numberPorts);
                  }) ||
        numberPorts == 0)
        return snapshot;
    TimeStatus status;
    if (!link.ask(ManagementTimeStatus, [&](const std::uint8_t* message, std::size_t size, std::uint16_t sequenceId) {
            return decodeTimeStatus(message, size, sequenceId, status);
        }))
        return snapshot;

    // Each port answers for itself; a port whose answer is still missing at the deadline is left out.
    std::vector<PortState> ports;
    link.ask(ManagementPortDataSet, [&](const std::uint8_t* message, std::size_t size, std::uint16_t sequenceId) {
        PortState state = PortState::Disabled;
        if (decodePortState(message, size, sequenceId, state)) ports.push_back(state);
        return ports.size() >= numberPorts;
    });
    if (ports.empty()) return snapshot;

    snapshot.answered = true;
    snapshot.portState = hostPortState(ports);
    snapshot.servoLocked = snapshot.portState == PortState::Slave && status.grandmasterPresent;
    snapshot.offsetFromMasterNs = status.masterOffsetNs;
    return snapshot;
}

}  // namespace ptp
