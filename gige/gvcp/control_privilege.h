// Control channel privilege (CCP, 0x0A00) and the heartbeat: which client controls the device, what other
// clients may do meanwhile, and when silence ends control. Time is passed in by the caller (milliseconds of
// a steady clock), so tests step past a time-out without waiting.
#pragma once

#include <cstdint>
#include <limits>
#include <mutex>

#include "gvcp/protocol.h"

namespace gvcp {

// A client is its IPv4 address and UDP port: one client may hold several connections, each its own peer.
struct Peer {
    std::uint32_t address = 0;  // host byte order
    std::uint16_t port = 0;
    bool operator==(const Peer& other) const { return address == other.address && port == other.port; }
};

class ControlPrivilege {
public:
    enum class Change { None, Gained, Lost };
    static constexpr std::uint32_t kDefaultHeartbeatMs = 3000;
    static constexpr std::uint32_t kMinimumHeartbeatMs = 500;
    static constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();

    // `enforce` false: a silent controller keeps control until it releases it.
    void configure(bool enforce, std::uint32_t heartbeatMs);

    bool mayRead(const Peer& peer) const;
    bool mayWrite(const Peer& peer) const;
    // A client's write of the CCP register. `switchoverKey` is the device's 0x095C value.
    Status write(const Peer& peer, std::uint32_t value, std::uint32_t switchoverKey, std::uint64_t nowMs,
                 Change& change);
    // The register as `peer` reads it: the controller sees its own privilege, others see the holder's.
    std::uint32_t value() const;
    bool controlled() const;
    Peer controller() const;

    // Any command from the controller restarts its heartbeat time.
    void activity(const Peer& peer, std::uint64_t nowMs);
    // Ends control when the heartbeat time has passed.
    Change expire(std::uint64_t nowMs);
    std::uint64_t msUntilExpiry(std::uint64_t nowMs) const;
    // Ends control unconditionally (server stop).
    Change release();

    std::uint32_t heartbeatTimeout() const;
    void setHeartbeatTimeout(std::uint32_t ms);  // values below the minimum are stored as the minimum
    void setHeartbeatDisabled(bool disabled);    // the GVCP configuration bit that suspends the time-out

private:
    bool expiring() const { return holder_ != 0 && enforce_ && !disabled_; }

    mutable std::mutex mutex_;
    Peer owner_;
    std::uint32_t holder_ = 0;  // the privilege bits the controller holds, 0 when nobody controls
    std::uint64_t lastActivity_ = 0;
    std::uint32_t heartbeatMs_ = kDefaultHeartbeatMs;
    bool enforce_ = true;
    bool disabled_ = false;
};

}  // namespace gvcp
