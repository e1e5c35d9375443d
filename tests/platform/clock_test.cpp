// Sleep and the 32-bit millisecond tick count. Bounds are loose: wine's tick count moves in steps of
// about 15 ms, and a loaded machine oversleeps.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <type_traits>

#include "os.h"

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(Sleep, LastsAtLeastTheTimeAsked) {
    const auto start = Clock::now();
    os::sleepMs(100);
    EXPECT_GE(millisecondsSince(start), 95);
}

TEST(Sleep, ZeroReturns) {
    const auto start = Clock::now();
    os::sleepMs(0);
    EXPECT_LT(millisecondsSince(start), 5'000);
}

// Callers measure time as the unsigned 32-bit difference of two readings, which stays right when the
// counter wraps; that only holds while the counter is exactly 32 bits wide and unsigned.
TEST(TickCount, ElapsedTimeIsTheWrappingDifference) {
    static_assert(std::is_same_v<decltype(os::tickCountMs()), std::uint32_t>);
    const std::uint32_t beforeWrap = 0xFFFFFFF0u;
    const std::uint32_t afterWrap = 0x00000010u;
    EXPECT_EQ(static_cast<std::uint32_t>(afterWrap - beforeWrap), 0x20u);
}

TEST(TickCount, NeverRunsBackwards) {
    std::uint32_t previous = os::tickCountMs();
    const auto start = Clock::now();
    while (millisecondsSince(start) < 100) {
        const std::uint32_t now = os::tickCountMs();
        ASSERT_LT(static_cast<std::uint32_t>(now - previous), 0x80000000u) << previous << " then " << now;
        previous = now;
    }
}

TEST(TickCount, FollowsSleep) {
    const std::uint32_t start = os::tickCountMs();
    os::sleepMs(200);
    const std::uint32_t elapsed = os::tickCountMs() - start;
    EXPECT_GE(elapsed, 150u);
    EXPECT_LT(elapsed, 10'000u);
}

}  // namespace
