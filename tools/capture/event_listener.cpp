// The capture tool's message-channel receiver: GVCP EVENT and EVENTDATA packets in, acknowledges out, one line per
// event. Plain POSIX sockets, since the capture tool is built for Linux only.
#include "event_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

enum : std::uint16_t {
    CommandEvent = 0x00C0,
    CommandEventData = 0x00C2,
};

enum : std::uint8_t {
    FlagAckRequired = 0x01,
    FlagExtendedIds = 0x10,
};

constexpr std::uint8_t kGvcpKey = 0x42;
constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kRecordSize = 16;
constexpr std::size_t kExtendedRecordSize = 24;
constexpr std::size_t kSeenPackets = 32;

std::uint16_t read16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }
std::uint32_t read32(const std::uint8_t* p) { return std::uint32_t{read16(p)} << 16 | read16(p + 2); }
std::uint64_t read64(const std::uint8_t* p) { return std::uint64_t{read32(p)} << 32 | read32(p + 4); }

EventRecord readRecord(const std::uint8_t* p, bool extendedIds) {
    EventRecord record;
    record.eventId = read16(p + 2);
    record.channel = read16(p + 4);
    if (extendedIds) {
        record.blockId = read64(p + 8);
        record.timestamp = read64(p + 16);
    } else {
        record.blockId = read16(p + 6);
        record.timestamp = read64(p + 8);
    }
    return record;
}

struct NamedEvent {
    std::uint16_t id;
    const char* name;
};

// The ids the device gives its own events; another device's ids are shown in hex.
constexpr NamedEvent kDeviceEvents[] = {
    {0x9000, "AcquisitionStart"},
    {0x9001, "AcquisitionEnd"},
    {0x9002, "ExposureEnd"},
    {0x9003, "FrameEnd"},
    {0x9004, "FrameTriggerMissed"},
    {0x9005, "DeviceTemperatureExceeded"},
    {0x9006, "Error"},
};

std::int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

bool parseEventPacket(const std::uint8_t* data, std::size_t size, EventPacket& packet) {
    if (size < kHeaderSize || data[0] != kGvcpKey) return false;
    packet.flags = data[1];
    packet.command = read16(data + 2);
    const std::size_t length = read16(data + 4);
    packet.requestId = read16(data + 6);
    packet.records.clear();
    if (packet.command != CommandEvent && packet.command != CommandEventData) return false;
    if (length > size - kHeaderSize) return false;
    const bool extendedIds = (packet.flags & FlagExtendedIds) != 0;
    const std::size_t recordSize = extendedIds ? kExtendedRecordSize : kRecordSize;
    const std::uint8_t* payload = data + kHeaderSize;
    if (packet.command == CommandEventData) {
        // One record, then the event's data; this device's data is one 32-bit value.
        if (length < recordSize) return false;
        EventRecord record = readRecord(payload, extendedIds);
        if (length >= recordSize + 4) {
            record.hasData = true;
            record.data = read32(payload + recordSize);
        }
        packet.records.push_back(record);
        return true;
    }
    if (length == 0 || length % recordSize != 0) return false;
    for (std::size_t offset = 0; offset < length; offset += recordSize)
        packet.records.push_back(readRecord(payload + offset, extendedIds));
    return true;
}

std::vector<std::uint8_t> eventAcknowledge(const EventPacket& packet) {
    const std::uint16_t answer = static_cast<std::uint16_t>(packet.command + 1);
    return {0, 0, static_cast<std::uint8_t>(answer >> 8),           static_cast<std::uint8_t>(answer),
            0, 0, static_cast<std::uint8_t>(packet.requestId >> 8), static_cast<std::uint8_t>(packet.requestId)};
}

std::string eventName(std::uint16_t eventId) {
    for (const NamedEvent& event : kDeviceEvents)
        if (event.id == eventId) return event.name;
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%04X", eventId);
    return hex;
}

std::string formatEventLine(const EventRecord& record) {
    std::string line = "event " + eventName(record.eventId) + " block " + std::to_string(record.blockId) +
                       " timestamp " + std::to_string(record.timestamp);
    // The device's data is a signed code (the sensor SDK's error codes are negative).
    if (record.hasData) line += " data " + std::to_string(static_cast<std::int32_t>(record.data));
    return line;
}

EventListener::EventListener(LineSink sink) : sink_(std::move(sink)), seen_(kSeenPackets) {}

EventListener::~EventListener() {
    stop();
    if (socket_ >= 0) close(socket_);
    if (wakeRead_ >= 0) close(wakeRead_);
    if (wakeWrite_ >= 0) close(wakeWrite_);
}

bool EventListener::open(std::uint32_t localAddress, std::string& error) {
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    wakeRead_ = pipeEnds[0];
    wakeWrite_ = pipeEnds[1];
    socket_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(localAddress);
    local.sin_port = 0;
    socklen_t localSize = sizeof local;
    if (bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &localSize) != 0) {
        error = std::string("bind: ") + std::strerror(errno);
        return false;
    }
    port_ = ntohs(local.sin_port);
    return true;
}

void EventListener::start() {
    if (socket_ < 0 || thread_.joinable()) return;
    thread_ = std::thread([this] { receive(); });
}

void EventListener::drain(int quietMs, int mostMs) {
    if (!thread_.joinable()) return;
    drainEndMs_.store(steadyMs() + mostMs);
    quietMs_.store(quietMs);
    wake();
    thread_.join();
}

void EventListener::stop() {
    if (!thread_.joinable()) return;
    stopping_.store(true);
    wake();
    thread_.join();
}

void EventListener::wake() {
    const char byte = 0;
    // Should the byte not go, the receiving thread's wait still ends within its bound and sees the change.
    if (write(wakeWrite_, &byte, 1) < 0) return;
}

bool EventListener::seenBefore(std::uint32_t sourceAddress, std::uint16_t sourcePort, std::uint16_t requestId) {
    for (const Seen& seen : seen_)
        if (seen.address == sourceAddress && seen.port == sourcePort && seen.requestId == requestId) return true;
    seen_[seenNext_] = {sourceAddress, sourcePort, requestId};
    seenNext_ = (seenNext_ + 1) % seen_.size();
    return false;
}

void EventListener::receive() {
    // A bound on each wait, so that a lost wake-up byte only delays the end.
    constexpr int kPollMs = 250;
    std::uint8_t datagram[1500];
    for (;;) {
        if (stopping_.load()) return;
        const int quietMs = quietMs_.load();
        if (quietMs >= 0 && steadyMs() >= drainEndMs_.load()) return;
        pollfd fds[2] = {{socket_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        const int ready = poll(fds, 2, quietMs >= 0 ? quietMs : kPollMs);
        if (ready < 0 && errno != EINTR) return;
        if (ready == 0 && quietMs >= 0) return;
        if ((fds[1].revents & POLLIN) != 0) {
            char wake[16];
            if (read(wakeRead_, wake, sizeof wake) < 0) continue;
        }
        if ((fds[0].revents & POLLIN) == 0) continue;
        sockaddr_in source{};
        socklen_t sourceSize = sizeof source;
        const ssize_t received =
            recvfrom(socket_, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&source), &sourceSize);
        EventPacket packet;
        if (received <= 0 || !parseEventPacket(datagram, static_cast<std::size_t>(received), packet)) continue;
        if ((packet.flags & FlagAckRequired) != 0) {
            const std::vector<std::uint8_t> ack = eventAcknowledge(packet);
            // A lost acknowledge costs only a resend, which is answered again.
            sendto(socket_, ack.data(), ack.size(), 0, reinterpret_cast<const sockaddr*>(&source), sourceSize);
        }
        if (seenBefore(ntohl(source.sin_addr.s_addr), ntohs(source.sin_port), packet.requestId)) continue;
        for (const EventRecord& record : packet.records) sink_(formatEventLine(record));
    }
}
