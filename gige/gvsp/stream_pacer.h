// The pace of stream channel 0: when the packets of frames and of resends may leave, so that the channel
// keeps the inter-packet delay a client set (SCPD) and its throughput limit (DeviceLinkThroughputLimit).
// Frames and resends book time on one schedule, so resent packets take their share of the limit instead
// of adding to it while a receiver is already overloaded.
//
// Packets leave in small bursts of at most kBurstNs of wire time: waking the thread per packet would cost
// more than the packets, and a receiver's socket buffer takes a burst that short. A thread that wakes late
// may catch up by at most one burst, so the rate over a frame stays at the limit without longer bursts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace gvsp {

class StreamPacer {
public:
    static constexpr std::uint64_t kBurstNs = 200000;

    // `packetGapNs`: least time from one packet to the next; `bytesPerSecond`: 0 for no limit.
    void configure(std::uint64_t packetGapNs, std::uint64_t bytesPerSecond);
    bool active() const;
    // How many packets of `packetBytes` (IP packet size) one burst may hold: between 1 and `most`.
    std::size_t burstPackets(std::uint32_t packetBytes, std::size_t most) const;
    // Books wire time for `packets` packets of `bytes` in all (IP packet sizes) and returns the monotonic
    // time in ns at which they may leave; a time not after `nowNs` means at once.
    std::uint64_t book(std::size_t packets, std::uint64_t bytes, std::uint64_t nowNs);

private:
    std::uint64_t costNs(std::size_t packets, std::uint64_t bytes) const;

    mutable std::mutex mutex_;
    std::uint64_t packetGapNs_ = 0;
    std::uint64_t bytesPerSecond_ = 0;
    std::uint64_t nextFreeNs_ = 0;
};

}  // namespace gvsp
