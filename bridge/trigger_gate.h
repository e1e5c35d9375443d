// The frame-start trigger between the clients and the acquisition loop. While triggers are on, each
// trigger — a TriggerSoftware write or an action command — lets the loop capture exactly one frame. A
// trigger that arrives while the loop still captures the previous one is kept, one deep, and taken as soon
// as that capture ends; a further one while one is kept is refused and counted, never dropped silently.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class TriggerGate {
public:
    enum class Offer { Taken, Refused, NotArmed };

    // Opens the gate for one acquisition: triggers offered from now on are kept for the loop; one kept from
    // before is forgotten.
    void arm();
    // Closes the gate: triggers are turned down and a waiting loop returns at once.
    void disarm();

    // A trigger meant for device time `ticks`; Refused when one is already waiting, NotArmed outside an
    // acquisition.
    Offer offer(std::uint64_t ticks);

    // Waits until a trigger is there (true, its time in `ticks`), the gate is disarmed, or `deadline` passed
    // (false for both).
    bool take(std::uint64_t& ticks, std::chrono::steady_clock::time_point deadline);

    // Triggers turned down since start-up because one was already waiting.
    std::uint64_t refusedCount();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    // Guarded by mutex_.
    bool armed_ = false;
    bool waiting_ = false;  // a trigger is kept for the loop
    std::uint64_t waitingTicks_ = 0;
    std::uint64_t refused_ = 0;
};
