// The resend store's memory bound and eviction order.
#include "resend_store.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

using namespace gvsp;

namespace {

bool held(ResendStore& store, std::uint16_t block) {
    bool found = false;
    store.visit(block, [&](const HeldFrame* frame) { found = frame != nullptr; });
    return found;
}

bool keep(ResendStore& store, std::uint16_t block, const std::vector<std::uint8_t>& payload) {
    const std::uint8_t packet[8] = {};
    const Span segment{payload.data(), payload.size()};
    return store.keep(block, 1000, Span{packet, 8}, Span{packet, 8}, &segment, 1);
}

}  // namespace

TEST(ResendStore, KeepsTheNewestFramesWithinTheBudget) {
    ResendStore store(4000);
    const std::vector<std::uint8_t> frame(1000, 7);
    for (std::uint16_t block = 1; block <= 6; ++block) ASSERT_TRUE(keep(store, block, frame));
    EXPECT_FALSE(held(store, 2));
    for (std::uint16_t block = 3; block <= 6; ++block) EXPECT_TRUE(held(store, block)) << block;
    EXPECT_LE(store.bytesReserved(), 4000u);

    // A bigger frame pushes out older ones to stay in the budget; one over the budget is not kept.
    ASSERT_TRUE(keep(store, 7, std::vector<std::uint8_t>(2500, 1)));
    EXPECT_TRUE(held(store, 7));
    EXPECT_TRUE(held(store, 6));
    EXPECT_LE(store.bytesReserved(), 4000u);
    EXPECT_FALSE(keep(store, 8, std::vector<std::uint8_t>(4001, 1)));
    EXPECT_FALSE(held(store, 8));

    store.visit(7, [](const HeldFrame* frame) {
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->payloadPackets, 3u);
        EXPECT_EQ(frame->payloadBytes, 2500u);
        EXPECT_EQ(frame->payload[2499], 1);
    });
}

TEST(ResendStore, AFullBudgetReusesMemoryInsteadOfAllocating) {
    ResendStore store(4000);
    const std::vector<std::uint8_t> frame(1000, 3);
    std::set<const std::uint8_t*> buffers;
    auto payloadOf = [&store](std::uint16_t block) {
        const std::uint8_t* payload = nullptr;
        store.visit(block, [&payload](const HeldFrame* held) { payload = held ? held->payload : nullptr; });
        return payload;
    };
    for (std::uint16_t block = 1; block <= 4; ++block) {
        ASSERT_TRUE(keep(store, block, frame));
        buffers.insert(payloadOf(block));
    }
    for (std::uint16_t block = 5; block <= 12; ++block) {
        ASSERT_TRUE(keep(store, block, frame));
        EXPECT_EQ(buffers.count(payloadOf(block)), 1u) << block;
    }
    EXPECT_EQ(store.bytesReserved(), 4000u);
}

TEST(ResendStore, ABlockIdSeenAgainAnswersWithTheNewestCopy) {
    ResendStore store(1 << 20);
    keep(store, 9, std::vector<std::uint8_t>(100, 1));
    keep(store, 9, std::vector<std::uint8_t>(100, 2));
    store.visit(9, [](const HeldFrame* frame) {
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->payload[0], 2);
    });
}

TEST(ResendStore, DisabledKeepsNothing) {
    ResendStore store(1 << 20);
    store.setEnabled(false);
    EXPECT_FALSE(keep(store, 1, std::vector<std::uint8_t>(100, 1)));
    EXPECT_FALSE(held(store, 1));
    EXPECT_EQ(store.bytesReserved(), 0u);
}

TEST(ResendStore, KeepsWhatClientsStillAskForAndGivesMemoryBackWhenFramesShrink) {
    ResendStore store;
    const std::vector<std::uint8_t> large(8 << 20, 1);
    constexpr std::uint16_t kLarge = ResendStore::kFramesKept + 2;
    for (std::uint16_t block = 1; block <= kLarge; ++block) ASSERT_TRUE(keep(store, block, large));
    for (std::uint16_t block = 3; block <= kLarge; ++block) EXPECT_TRUE(held(store, block)) << block;
    EXPECT_FALSE(held(store, 2));
    // The last kFramesKept, not the whole 256 MiB.
    EXPECT_EQ(store.bytesReserved(), ResendStore::kFramesKept * large.size());

    // Small frames: many of them within the smaller budget, and the large copies are released.
    const std::vector<std::uint8_t> small(1 << 20, 2);
    for (std::uint16_t block = kLarge + 1; block <= 60; ++block) ASSERT_TRUE(keep(store, block, small));
    EXPECT_LE(store.bytesReserved(), ResendStore::kSmallFramesBytes);
    EXPECT_TRUE(held(store, 60));
    EXPECT_TRUE(held(store, 40));
    EXPECT_FALSE(held(store, kLarge));
}
