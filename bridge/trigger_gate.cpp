// The frame-start trigger's hand-over; see trigger_gate.h.
#include "trigger_gate.h"

void TriggerGate::arm() {
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = true;
    waiting_ = false;
}

void TriggerGate::disarm() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        armed_ = false;
        waiting_ = false;
    }
    changed_.notify_all();
}

TriggerGate::Offer TriggerGate::offer(std::uint64_t ticks) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!armed_) return Offer::NotArmed;
        if (waiting_) {
            ++refused_;
            return Offer::Refused;
        }
        waiting_ = true;
        waitingTicks_ = ticks;
    }
    changed_.notify_all();
    return Offer::Taken;
}

bool TriggerGate::take(std::uint64_t& ticks, std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_until(lock, deadline, [this] { return waiting_ || !armed_; }) || !waiting_) return false;
    waiting_ = false;
    ticks = waitingTicks_;
    return true;
}

std::uint64_t TriggerGate::refusedCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return refused_;
}
