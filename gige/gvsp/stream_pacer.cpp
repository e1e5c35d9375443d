// The shared schedule of stream packets (see stream_pacer.h).
#include "stream_pacer.h"

#include <algorithm>

namespace gvsp {

void StreamPacer::configure(std::uint64_t packetGapNs, std::uint64_t bytesPerSecond) {
    std::lock_guard<std::mutex> lock(mutex_);
    packetGapNs_ = packetGapNs;
    bytesPerSecond_ = bytesPerSecond;
}

bool StreamPacer::active() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return packetGapNs_ != 0 || bytesPerSecond_ != 0;
}

std::uint64_t StreamPacer::costNs(std::size_t packets, std::uint64_t bytes) const {
    const std::uint64_t byGap = packetGapNs_ * packets;
    const std::uint64_t byRate = bytesPerSecond_ == 0 ? 0 : bytes * 1000000000ull / bytesPerSecond_;
    return std::max(byGap, byRate);
}

std::size_t StreamPacer::burstPackets(std::uint32_t packetBytes, std::size_t most) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint64_t perPacket = costNs(1, packetBytes);
    if (perPacket == 0) return most;
    return static_cast<std::size_t>(std::clamp<std::uint64_t>(kBurstNs / perPacket, 1, most));
}

std::uint64_t StreamPacer::book(std::size_t packets, std::uint64_t bytes, std::uint64_t nowNs) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint64_t earliest = nowNs > kBurstNs ? nowNs - kBurstNs : 0;
    const std::uint64_t start = std::max(nextFreeNs_, earliest);
    nextFreeNs_ = start + costNs(packets, bytes);
    return start;
}

}  // namespace gvsp
