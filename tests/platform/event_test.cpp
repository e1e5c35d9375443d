// The event that hands work between threads: manual reset releases every waiter and stays signalled until
// reset; waits answer 0 when signalled and 258 when the time ran out.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <thread>

#include "os.h"

namespace {

// Owns one event for the length of a test.
class Event {
public:
    Event(bool manualReset, bool initiallySignalled) : handle_(os::createEvent(manualReset, initiallySignalled)) {}
    ~Event() { os::destroyEvent(handle_); }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    os::EventHandle get() const { return handle_; }

private:
    os::EventHandle handle_;
};

TEST(Event, ResultCodesAreThoseOfWindows) {
    EXPECT_EQ(os::kWaitSignalled, 0);
    EXPECT_EQ(os::kWaitTimeout, 258);
}

TEST(Event, UnsignalledWaitTimesOut) {
    Event event(true, false);
    ASSERT_NE(event.get(), nullptr);
    EXPECT_EQ(os::waitForEvent(event.get(), 0), os::kWaitTimeout);
    EXPECT_EQ(os::waitForEvent(event.get(), 20), os::kWaitTimeout);
}

TEST(Event, ManualResetStaysSignalledUntilReset) {
    Event event(true, true);
    EXPECT_EQ(os::waitForEvent(event.get(), 0), os::kWaitSignalled);
    EXPECT_EQ(os::waitForEvent(event.get(), 0), os::kWaitSignalled) << "a wait must not consume the signal";

    EXPECT_EQ(os::resetEvent(event.get()), 0);
    EXPECT_EQ(os::waitForEvent(event.get(), 0), os::kWaitTimeout);
    EXPECT_EQ(os::resetEvent(event.get()), 0) << "resetting an unsignalled event is allowed";

    EXPECT_EQ(os::setEvent(event.get()), 0);
    EXPECT_EQ(os::setEvent(event.get()), 0) << "setting a signalled event is allowed";
    EXPECT_EQ(os::waitForEvent(event.get(), 0), os::kWaitSignalled);
}

TEST(Event, SetReleasesEveryWaiter) {
    Event event(true, false);
    std::array<std::atomic<int>, 4> results;
    std::atomic<int> started{0};
    std::array<std::thread, 4> waiters;
    for (std::size_t i = 0; i < waiters.size(); ++i) {
        results[i] = -1;
        waiters[i] = std::thread([&, i] {
            ++started;
            results[i] = os::waitForEvent(event.get(), os::kWaitForever);
        });
    }
    while (started < static_cast<int>(waiters.size())) std::this_thread::yield();

    EXPECT_EQ(os::setEvent(event.get()), 0);
    for (auto& waiter : waiters) waiter.join();
    for (const auto& result : results) EXPECT_EQ(result, os::kWaitSignalled);
    EXPECT_EQ(os::waitForEvent(event.get(), 0), os::kWaitSignalled);
}

TEST(Event, TimedWaitIsReleasedBySetFromAnotherThread) {
    Event event(true, false);
    std::atomic<int> result{-1};
    std::thread waiter([&] { result = os::waitForEvent(event.get(), 60'000); });
    EXPECT_EQ(os::setEvent(event.get()), 0);
    waiter.join();
    EXPECT_EQ(result, os::kWaitSignalled);
}

// Timeouts beyond what the clock can add to "now" must wait for the signal, not end at once.
TEST(Event, HugeTimeoutWaitsForTheSignal) {
    for (const std::uint64_t timeout : {std::uint64_t{0xFFFFFFFF}, std::uint64_t{1} << 62, os::kWaitForever - 1}) {
        Event event(true, false);
        std::atomic<int> result{-1};
        std::thread waiter([&] { result = os::waitForEvent(event.get(), timeout); });
        os::sleepMs(50);
        EXPECT_EQ(result, -1) << "timeout " << timeout << " ended the wait early";
        EXPECT_EQ(os::setEvent(event.get()), 0);
        waiter.join();
        EXPECT_EQ(result, os::kWaitSignalled) << "timeout " << timeout;
    }
}

TEST(Event, AutoResetReleasesOneWaitThenClears) {
    Event event(false, false);
    EXPECT_EQ(os::setEvent(event.get()), 0);
    EXPECT_EQ(os::waitForEvent(event.get(), 0), os::kWaitSignalled);
    EXPECT_EQ(os::waitForEvent(event.get(), 0), os::kWaitTimeout);
}

TEST(Event, NullHandleIsAnErrorNotACrash) {
    EXPECT_NE(os::setEvent(nullptr), 0);
    EXPECT_NE(os::resetEvent(nullptr), 0);
    const int wait = os::waitForEvent(nullptr, 0);
    EXPECT_NE(wait, os::kWaitSignalled);
    EXPECT_NE(wait, os::kWaitTimeout);
    os::destroyEvent(nullptr);
}

}  // namespace
