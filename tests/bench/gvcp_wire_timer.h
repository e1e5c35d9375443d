// How long a device takes to answer, seen on the loopback wire: a packet socket watches GVCP commands to port
// 3956 and the acknowledges coming back, each stamped by the kernel as it is sent. The time between a command
// and its acknowledge leaves out the client's side (how soon its thread runs and is woken again), which on a
// busy machine is the larger part of a read. It also times a write to the block it causes (a software trigger's):
// from the last register write to the trailer of the next stream block, the moment the block's last packet is on
// the wire, before any receiver's own buffering. Needs the right to open a packet socket (root, or CAP_NET_RAW).
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class GvcpWireTimer {
public:
    GvcpWireTimer();
    ~GvcpWireTimer();
    GvcpWireTimer(const GvcpWireTimer&) = delete;
    GvcpWireTimer& operator=(const GvcpWireTimer&) = delete;

    // Empty when the capture runs; otherwise why it could not start.
    const std::string& error() const { return error_; }
    // Stops the capture; the answer times in microseconds, one per command that was acknowledged.
    std::vector<double> stop();
    // From the last register write before each block's trailer to that trailer, in milliseconds, oldest first;
    // `clearWritesToTrailers` starts the list anew.
    std::vector<double> writesToTrailers();
    void clearWritesToTrailers();
    // The device's EVENT packets (the first record of each, resends included) and the stream's trailers, each
    // with the second the kernel stamped it.
    struct EventSeen {
        std::uint16_t eventId = 0;
        std::uint64_t blockId = 0;
        std::uint64_t timestamp = 0;  // the event's own, in device ticks
        double second = 0;
    };
    struct TrailerSeen {
        std::uint64_t blockId = 0;
        double second = 0;
    };
    std::vector<EventSeen> events();
    std::vector<TrailerSeen> trailers();

private:
    void capture();
    void record(const std::uint8_t* ip, std::size_t size, double seconds);

    int fd_ = -1;
    std::string error_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::mutex mutex_;
    // Commands not answered yet, by client port and request id; the second they were sent.
    std::map<std::uint32_t, double> pending_;
    std::vector<double> answers_;
    // The second of the last register write not followed by a trailer yet, 0 when none.
    double lastWrite_ = 0;
    std::vector<double> writesToTrailers_;
    std::vector<EventSeen> events_;
    std::vector<TrailerSeen> trailers_;
};
