// The device clock: nanosecond ticks of the host's real-time clock, so that devices on hosts kept in step by
// PTP or another time service stamp frames and schedule actions on one time base across a cell.
#pragma once

#include <atomic>
#include <cstdint>

#include "os.h"

namespace gvcp {

class DeviceClock {
public:
    std::uint64_t now() const { return os::realtimeNs() - origin_.load(std::memory_order_relaxed); }
    // The timestamp reset of the bootstrap registers: the clock counts from 0 again. From then on the device
    // time no longer equals the host's clock, and other devices no longer share it.
    void reset() { origin_.store(os::realtimeNs(), std::memory_order_relaxed); }

private:
    std::atomic<std::uint64_t> origin_{0};
};

}  // namespace gvcp
