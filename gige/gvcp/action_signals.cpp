// Action signal keys, the scheduled action queue and the delivery thread.
#include "gvcp/action_signals.h"

#include <algorithm>
#include <chrono>

#include "byte_reader.h"
#include "byte_writer.h"

namespace gvcp {

namespace {
// The device clock follows the host's real-time clock, which a time service may step; a long wait is cut
// into pieces so that the remaining time is measured again on that clock.
constexpr std::uint64_t kLongestWaitNs = 100000000;
// The delivery thread of this object runs on this thread: a stop from a callback is recognised without
// touching the thread object.
thread_local const ActionSignals* signalsOfThisThread = nullptr;

// Which signal and which of its words an address of the group block is: false for the unmapped words.
bool groupWord(std::uint32_t address, std::uint32_t& signal, bool& isMask) {
    const std::uint32_t offset = address - reg::kActionGroupBase;
    signal = offset / reg::kActionGroupStride;
    const std::uint32_t word = offset % reg::kActionGroupStride;
    isMask = word == 4;
    return word == 0 || word == 4;
}
}  // namespace

ActionSignals::ActionSignals(const DeviceClock& clock) : clock_(clock) {}

ActionSignals::~ActionSignals() { stop(); }

Status ActionSignals::readGroups(std::uint32_t address, std::uint32_t count, std::uint8_t* out) const {
    std::lock_guard lock(mutex_);
    for (std::uint32_t word = address; word - address < count; word += 4) {
        std::uint32_t signal = 0;
        bool isMask = false;
        if (!groupWord(word, signal, isMask)) return Status::InvalidAddress;
        wire::storeBe32(out + (word - address), isMask ? groupMasks_[signal] : groupKeys_[signal]);
    }
    return Status::Success;
}

Status ActionSignals::writeGroups(std::uint32_t address, const std::uint8_t* data, std::uint32_t count) {
    std::lock_guard lock(mutex_);
    std::uint32_t signal = 0;
    bool isMask = false;
    // Nothing is written unless every word of the range may be.
    for (std::uint32_t word = address; word - address < count; word += 4) {
        if (!groupWord(word, signal, isMask)) return Status::InvalidAddress;
    }
    for (std::uint32_t word = address; word - address < count; word += 4) {
        groupWord(word, signal, isMask);
        (isMask ? groupMasks_ : groupKeys_)[signal] = wire::loadBe32(data + (word - address));
    }
    return Status::Success;
}

void ActionSignals::setDeviceKey(std::uint32_t key) {
    std::lock_guard lock(mutex_);
    deviceKey_ = key;
}

unsigned ActionSignals::match(const ActionCommand& command) const {
    std::lock_guard lock(mutex_);
    if (command.deviceKey != deviceKey_) return 0;
    unsigned signals = 0;
    for (std::uint32_t i = 0; i < kSignalCount; ++i) {
        if (command.groupKey == groupKeys_[i] && (command.groupMask & groupMasks_[i]) != 0) signals |= 1U << i;
    }
    return signals;
}

ActionSignals::Outcome ActionSignals::submit(unsigned signals, const ActionCommand& command) {
    const std::uint64_t now = clock_.now();
    const bool future = command.scheduled && command.actionTime > now;
    const bool late = command.scheduled && command.actionTime != 0 && !future;
    std::lock_guard lock(mutex_);
    if (future ? scheduledCount_ >= kQueueSize : backlogCount_ >= kBacklogSize) return Outcome::Overflow;
    // A late action still tells the program the time it was meant for.
    const std::uint64_t ticks = command.scheduled && command.actionTime != 0 ? command.actionTime : now;
    pending_.emplace(future ? command.actionTime : now, Pending{signals, ticks, future});
    ++(future ? scheduledCount_ : backlogCount_);
    changed_.notify_all();
    return late ? Outcome::Late : Outcome::Accepted;
}

void ActionSignals::start(Delivery delivery) {
    stop();  // joins a thread that a callback asked to stop
    std::lock_guard lock(mutex_);
    delivery_ = std::move(delivery);
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
}

void ActionSignals::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        pending_.clear();
        scheduledCount_ = 0;
        backlogCount_ = 0;
        changed_.notify_all();
    }
    if (signalsOfThisThread == this || !thread_.joinable()) return;
    thread_.join();
}

void ActionSignals::clockChanged() {
    std::lock_guard lock(mutex_);
    changed_.notify_all();
}

void ActionSignals::run() {
    signalsOfThisThread = this;
    // An action is awaited to the moment: the thread is let in as soon as it wakes.
    os::favourThreadLatency();
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (pending_.empty()) {
            changed_.wait(lock);
            continue;
        }
        const auto first = pending_.begin();
        const std::uint64_t now = clock_.now();
        if (first->first > now) {
            const std::uint64_t wait = std::min(first->first - now, kLongestWaitNs);
            changed_.wait_for(lock, std::chrono::nanoseconds(wait));
            continue;
        }
        const Pending due = first->second;
        pending_.erase(first);
        --(due.scheduled ? scheduledCount_ : backlogCount_);
        const Delivery delivery = delivery_;
        lock.unlock();
        for (std::uint32_t i = 0; i < kSignalCount; ++i) {
            if ((due.signals & (1U << i)) != 0 && delivery) delivery(static_cast<int>(i), due.actionTicks);
        }
        lock.lock();
    }
}

}  // namespace gvcp
