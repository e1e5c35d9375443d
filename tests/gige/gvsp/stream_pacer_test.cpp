// The stream's schedule with an injected clock: the throughput limit and the packet delay, whichever is
// slower, one schedule for frames and resends, and catching up after a late wake-up by one burst at most.
#include "stream_pacer.h"

#include <gtest/gtest.h>

using gvsp::StreamPacer;

namespace {

constexpr std::uint64_t kMs = 1000000;

TEST(StreamPacerTest, UnpacedChannelSendsWholeBatchesAtOnce) {
    StreamPacer pacer;
    EXPECT_FALSE(pacer.active());
    EXPECT_EQ(pacer.burstPackets(9000, 64), 64u);
    EXPECT_LE(pacer.book(64, 64 * 9000, 5 * kMs), 5 * kMs);
    EXPECT_LE(pacer.book(64, 64 * 9000, 5 * kMs), 5 * kMs);
}

TEST(StreamPacerTest, LimitSpacesBatchesByTheirBytesAndSharesOneSchedule) {
    StreamPacer pacer;
    pacer.configure(0, 100000000);  // 100 MB/s: 10 ns per byte
    ASSERT_TRUE(pacer.active());
    // 9000 bytes take 90 us: two packets fit a burst.
    EXPECT_EQ(pacer.burstPackets(9000, 64), 2u);
    const std::uint64_t now = 50 * kMs;
    const std::uint64_t first = pacer.book(2, 18000, now);
    EXPECT_LE(first, now);
    EXPECT_EQ(pacer.book(2, 18000, now), first + 180000);
    // A resend booked meanwhile takes its turn; the frame's next batch waits behind it.
    EXPECT_EQ(pacer.book(1, 1000000, now), first + 360000);
    EXPECT_EQ(pacer.book(2, 18000, now), first + 360000 + 10 * kMs);
}

TEST(StreamPacerTest, SlowerOfPacketDelayAndLimitWins) {
    StreamPacer pacer;
    pacer.configure(1 * kMs, 100000000);  // 1 ms between packets beats 15 us of bytes
    EXPECT_EQ(pacer.burstPackets(1500, 64), 1u);
    const std::uint64_t first = pacer.book(1, 1500, 10 * kMs);
    EXPECT_EQ(pacer.book(1, 1500, 10 * kMs), first + kMs);
    pacer.configure(1000, 1000000);  // now 1 MB/s: 1.5 ms per packet beats 1 us
    EXPECT_EQ(pacer.book(1, 1500, 10 * kMs), first + 2 * kMs);
    EXPECT_EQ(pacer.book(1, 1500, 10 * kMs), first + 2 * kMs + 1500000);
}

TEST(StreamPacerTest, LateWakeUpCatchesUpByOneBurstOnly) {
    StreamPacer pacer;
    pacer.configure(0, 100000000);
    pacer.book(1, 9000, 10 * kMs);
    // The sender comes back 5 ms later: the time it missed is not sent in one rush.
    const std::uint64_t late = 15 * kMs;
    const std::uint64_t start = pacer.book(1, 9000, late);
    EXPECT_EQ(start, late - StreamPacer::kBurstNs);
    std::uint64_t atOnce = 1;
    while (pacer.book(1, 9000, late) <= late) ++atOnce;
    EXPECT_EQ(atOnce, StreamPacer::kBurstNs / 90000 + 1);
}

}  // namespace
