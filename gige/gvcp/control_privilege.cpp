// Who controls the device, what the others may do, and when silence ends control.
#include "gvcp/control_privilege.h"

#include <algorithm>

namespace gvcp {

void ControlPrivilege::configure(bool enforce, std::uint32_t heartbeatMs) {
    std::lock_guard lock(mutex_);
    enforce_ = enforce;
    heartbeatMs_ = std::max(heartbeatMs == 0 ? kDefaultHeartbeatMs : heartbeatMs, kMinimumHeartbeatMs);
}

bool ControlPrivilege::mayRead(const Peer& peer) const {
    std::lock_guard lock(mutex_);
    return (holder_ & PrivilegeExclusive) == 0 || peer == owner_;
}

bool ControlPrivilege::mayWrite(const Peer& peer) const {
    std::lock_guard lock(mutex_);
    return holder_ == 0 || peer == owner_;
}

Status ControlPrivilege::write(const Peer& peer, std::uint32_t value, std::uint32_t switchoverKey, std::uint64_t nowMs,
                               Change& change) {
    std::lock_guard lock(mutex_);
    change = Change::None;
    const std::uint32_t wanted = value & (PrivilegeExclusive | PrivilegeControl | PrivilegeSwitchoverEnable);
    const bool wantsControl = (wanted & (PrivilegeExclusive | PrivilegeControl)) != 0;
    if (holder_ != 0 && !(peer == owner_)) {
        // Another client may take over only when the controller enabled switchover and the key matches.
        const bool switchover = (holder_ & PrivilegeSwitchoverEnable) != 0 && (holder_ & PrivilegeExclusive) == 0 &&
                                wantsControl && (value >> 16) == (switchoverKey & 0xFFFF);
        if (!switchover) return Status::AccessDenied;
        owner_ = peer;
        holder_ = wanted;
        lastActivity_ = nowMs;
        return Status::Success;
    }
    if (!wantsControl) {
        if (holder_ != 0) change = Change::Lost;
        holder_ = 0;
        owner_ = Peer{};
        return Status::Success;
    }
    if (holder_ == 0) change = Change::Gained;
    owner_ = peer;
    holder_ = wanted;
    lastActivity_ = nowMs;
    return Status::Success;
}

std::uint32_t ControlPrivilege::value() const {
    std::lock_guard lock(mutex_);
    return holder_;
}

bool ControlPrivilege::controlled() const {
    std::lock_guard lock(mutex_);
    return holder_ != 0;
}

Peer ControlPrivilege::controller() const {
    std::lock_guard lock(mutex_);
    return owner_;
}

void ControlPrivilege::activity(const Peer& peer, std::uint64_t nowMs) {
    std::lock_guard lock(mutex_);
    if (holder_ != 0 && peer == owner_) lastActivity_ = std::max(lastActivity_, nowMs);
}

ControlPrivilege::Change ControlPrivilege::expire(std::uint64_t nowMs) {
    std::lock_guard lock(mutex_);
    if (!expiring() || nowMs < lastActivity_ || nowMs - lastActivity_ < heartbeatMs_) return Change::None;
    holder_ = 0;
    owner_ = Peer{};
    return Change::Lost;
}

std::uint64_t ControlPrivilege::msUntilExpiry(std::uint64_t nowMs) const {
    std::lock_guard lock(mutex_);
    if (!expiring()) return kNever;
    const std::uint64_t deadline = lastActivity_ + heartbeatMs_;
    return nowMs >= deadline ? 0 : deadline - nowMs;
}

ControlPrivilege::Change ControlPrivilege::release() {
    std::lock_guard lock(mutex_);
    const Change change = holder_ != 0 ? Change::Lost : Change::None;
    holder_ = 0;
    owner_ = Peer{};
    return change;
}

std::uint32_t ControlPrivilege::heartbeatTimeout() const {
    std::lock_guard lock(mutex_);
    return heartbeatMs_;
}

void ControlPrivilege::setHeartbeatTimeout(std::uint32_t ms) {
    std::lock_guard lock(mutex_);
    heartbeatMs_ = std::max(ms, kMinimumHeartbeatMs);
}

void ControlPrivilege::setHeartbeatDisabled(bool disabled) {
    std::lock_guard lock(mutex_);
    disabled_ = disabled;
}

}  // namespace gvcp
