// The capture tool's end of a GigE Vision message channel: decodes the EVENT and EVENTDATA packets a device sends,
// acknowledges each one and hands one line per event to the tool's output, on a thread of its own.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// One event of a packet. The block id is 16 bits wide unless the packet carries 64-bit ids.
struct EventRecord {
    std::uint16_t eventId = 0;
    std::uint16_t channel = 0;
    std::uint64_t blockId = 0;
    std::uint64_t timestamp = 0;
    bool hasData = false;
    std::uint32_t data = 0;
};

struct EventPacket {
    std::uint8_t flags = 0;
    std::uint16_t command = 0;
    std::uint16_t requestId = 0;
    std::vector<EventRecord> records;
};

// Decodes one datagram; false for anything that is not a well-formed EVENT or EVENTDATA command.
bool parseEventPacket(const std::uint8_t* data, std::size_t size, EventPacket& packet);

// The 8-byte acknowledge of a packet: success, the command's answer code, no payload, the request id.
std::vector<std::uint8_t> eventAcknowledge(const EventPacket& packet);

// The device's name for an event id, or the id in hex when it is not one of the device's own.
std::string eventName(std::uint16_t eventId);

// `event ExposureEnd block 7 timestamp 1765272000123456789`, with ` data N` for an event with data.
std::string formatEventLine(const EventRecord& record);

class EventListener {
public:
    using LineSink = std::function<void(const std::string& line)>;

    explicit EventListener(LineSink sink);
    ~EventListener();
    EventListener(const EventListener&) = delete;
    EventListener& operator=(const EventListener&) = delete;

    // Binds a UDP socket to `localAddress` (IPv4, host order) on a port the system picks.
    bool open(std::uint32_t localAddress, std::string& error);
    std::uint16_t port() const { return port_; }
    // Receives, acknowledges and reports events until drain() or destruction.
    void start();
    // Goes on acknowledging until no packet has come for `quietMs`, or for `mostMs` at most, then stops: events the
    // device sends while an acquisition ends (and resends of them) are still answered and shown.
    void drain(int quietMs, int mostMs);

private:
    void receive();
    void stop();
    void wake();
    bool seenBefore(std::uint32_t sourceAddress, std::uint16_t sourcePort, std::uint16_t requestId);

    LineSink sink_;
    int socket_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<int> quietMs_{-1};             // -1 while receiving without end
    std::atomic<std::int64_t> drainEndMs_{0};  // steady clock
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    // The last packets answered, owned by the receiving thread: a resend (its ack was lost) has the same source
    // and request id, and is answered again but not shown again.
    struct Seen {
        std::uint32_t address = 0;
        std::uint16_t port = 0;
        std::uint16_t requestId = 0;
    };
    std::vector<Seen> seen_;
    std::size_t seenNext_ = 0;
};
