// The device's action signals: the keys an ACTION_CMD must carry to fire them, the queue of scheduled
// actions, and the thread that delivers every action that takes effect (at its action time when scheduled),
// so that the program's callback never holds up the control channel.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "gvcp/codec.h"
#include "gvcp/device_clock.h"
#include "gvcp/protocol.h"

namespace gvcp {

class ActionSignals {
public:
    static constexpr std::uint32_t kSignalCount = 4;
    // Scheduled actions waiting for their time; one more is answered OVERFLOW.
    static constexpr std::uint32_t kQueueSize = 16;
    // Actions due now that wait for the program's callback to return from earlier ones.
    static constexpr std::uint32_t kBacklogSize = 64;

    enum class Outcome { Accepted, Late, Overflow };
    // Called on the delivery thread, with no lock of this object held.
    using Delivery = std::function<void(int signal, std::uint64_t actionTicks)>;

    explicit ActionSignals(const DeviceClock& clock);
    ~ActionSignals();
    ActionSignals(const ActionSignals&) = delete;
    ActionSignals& operator=(const ActionSignals&) = delete;

    // The action group key and mask registers (0x9800 + 0x10 * signal, key then mask); the two words after
    // each pair are not mapped. The range lies within groupsEnd().
    static constexpr std::uint32_t groupsEnd() {
        return reg::kActionGroupBase + reg::kActionGroupStride * kSignalCount;
    }
    Status readGroups(std::uint32_t address, std::uint32_t count, std::uint8_t* out) const;
    Status writeGroups(std::uint32_t address, const std::uint8_t* data, std::uint32_t count);
    void setDeviceKey(std::uint32_t key);

    // The signals a command fires (bit i for signal i): the device key matches, the group key is the signal's
    // and the group mask shares a bit with the signal's. 0 when it fires none.
    unsigned match(const ActionCommand& command) const;
    // Queues the signals for delivery: now, or at the action time of a scheduled command. A scheduled command
    // whose time has passed is delivered now and reported Late; a full queue takes nothing (Overflow).
    Outcome submit(unsigned signals, const ActionCommand& command);

    // Starts and stops the delivery thread; stop drops the actions not yet delivered. Stopping from the
    // delivery thread (from a callback) takes effect when the callback returns.
    void start(Delivery delivery);
    void stop();
    // The device clock was reset: waits for an action time are computed again.
    void clockChanged();

private:
    struct Pending {
        unsigned signals = 0;
        std::uint64_t actionTicks = 0;
        bool scheduled = false;  // counted in the scheduled queue, not the backlog
    };

    void run();

    const DeviceClock& clock_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::uint32_t deviceKey_ = 0;
    std::uint32_t groupKeys_[kSignalCount] = {};
    std::uint32_t groupMasks_[kSignalCount] = {};
    std::multimap<std::uint64_t, Pending> pending_;  // by the device time each is due
    std::uint32_t scheduledCount_ = 0;
    std::uint32_t backlogCount_ = 0;
    Delivery delivery_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace gvcp
