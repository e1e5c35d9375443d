// The message channel: events the program queues, sent one at a time to the destination the controlling client
// configured (MCDA, MCP), each acknowledged or re-sent after the client's time-out (MCTT) until its retries
// (MCRC) are spent. Also serves the registers of the event features: each declared event's notification word
// and the dropped-event count.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "gvcp/protocol.h"
#include "net/udp_socket.h"

namespace gvcp {

class MessageChannel {
public:
    static constexpr std::size_t kQueueSize = 64;
    static constexpr std::uint32_t kDefaultTimeoutMs = 300;
    static constexpr std::uint32_t kDefaultRetries = 3;

    // What the channel's registers and the control privilege say now.
    struct Settings {
        std::uint32_t destination = 0;  // host order; 0: closed
        std::uint16_t port = 0;         // 0: closed
        std::uint32_t timeoutMs = kDefaultTimeoutMs;
        std::uint32_t retries = kDefaultRetries;
        bool extendedIds = false;
        bool controlled = false;
        bool open() const { return controlled && destination != 0 && port != 0; }
    };
    // Hands one datagram to the network (the control socket, so that events leave from the GVCP port).
    using Transmit = std::function<void(const std::uint8_t* data, std::size_t size, const gige::Endpoint& to)>;

    MessageChannel() = default;
    ~MessageChannel();
    MessageChannel(const MessageChannel&) = delete;
    MessageChannel& operator=(const MessageChannel&) = delete;

    // Declares an event; `withData`: it carries 4 data bytes (EVENTDATA). False for an id already declared.
    bool declare(std::uint16_t eventId, bool withData);

    // The event registers: whether [address, address + count) lies within the notification words or is the
    // dropped count. Words of undeclared events are not mapped; a notification word holds 0 (Off) or 1 (On).
    static bool covers(std::uint32_t address, std::uint32_t count);
    Status readRegisters(std::uint32_t address, std::uint32_t count, std::uint8_t* out) const;
    Status writeRegisters(std::uint32_t address, const std::uint8_t* data, std::uint32_t count);

    void start(Transmit transmit);
    // Ends the sender thread once the queue has been sent, or after kFlushLimit; what is left is discarded.
    void stop();
    static constexpr std::chrono::milliseconds kFlushLimit{1000};
    // Takes new settings. When they close the channel, the queued events are discarded: the client that was to
    // receive them is gone.
    void configure(const Settings& settings);

    // Queues an event; false when its notification is Off, the channel is closed or the queue is full (dropped).
    bool queue(std::uint16_t eventId, std::uint64_t blockId, std::uint64_t ticks, std::uint32_t data);
    // An acknowledge that arrived at the control port: `code` the ack code, `ackId` the request id it answers.
    void acknowledged(std::uint32_t fromAddress, std::uint16_t code, std::uint16_t ackId);

    std::uint32_t droppedCount() const { return dropped_.load(); }

private:
    struct Declared {
        std::uint16_t id = 0;
        bool withData = false;
        bool notify = false;
    };
    struct Pending {
        std::uint16_t id = 0;
        bool withData = false;
        std::uint64_t blockId = 0;
        std::uint64_t ticks = 0;
        std::uint32_t data = 0;
    };

    void run();
    const Declared* find(std::uint16_t eventId) const;
    Declared* find(std::uint16_t eventId);
    std::size_t encode(const Pending& event, bool extendedIds, std::uint16_t requestId, std::uint8_t* out) const;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Declared> declared_;
    Settings settings_;
    std::array<Pending, kQueueSize> queue_{};
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    // Counts closings: an event in flight when the channel closed is neither acknowledged nor dropped.
    std::uint64_t closings_ = 0;
    std::uint16_t awaitedId_ = 0;
    std::uint16_t awaitedCode_ = 0;
    bool acknowledged_ = false;
    std::uint16_t requestId_ = 0;
    bool stopping_ = false;
    Transmit transmit_;
    std::thread thread_;
    std::atomic<std::uint32_t> dropped_{0};
};

}  // namespace gvcp
