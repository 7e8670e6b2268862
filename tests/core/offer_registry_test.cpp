// Tests of the pending-offer registry: who ends up owning an offered record
// when the card claims it, the sender withdraws it, or a stranger guesses ids.

#include "core/offer_registry.h"

#include <cstdint>

#include <gtest/gtest.h>

namespace kestrine {
namespace {

constexpr uintptr_t CARD = 0x1234;
constexpr uintptr_t OTHER_CARD = 0x5678;

TEST(OfferClaim, card_takes_a_pending_offer_exactly_once) {
    OfferRegistry registry;
    ChartRequest record;
    const uint64_t id = registry.open(&record, CARD);
    EXPECT_EQ(registry.claim(id, CARD), &record);
    EXPECT_EQ(registry.claim(id, CARD), nullptr);
    EXPECT_EQ(registry.withdraw(id), nullptr);  // the sender learns the card owns it
    EXPECT_EQ(registry.pendingCount(), 0u);
}

TEST(OfferClaim, withdrawn_offer_is_void_for_the_card) {
    OfferRegistry registry;
    ChartRequest record;
    const uint64_t id = registry.open(&record, CARD);
    EXPECT_EQ(registry.withdraw(id), &record);
    EXPECT_EQ(registry.claim(id, CARD), nullptr);
    EXPECT_EQ(registry.withdraw(id), nullptr);
}

TEST(OfferClaim, offer_made_to_another_window_is_refused_and_stays_pending) {
    OfferRegistry registry;
    ChartRequest record;
    const uint64_t id = registry.open(&record, CARD);
    EXPECT_EQ(registry.claim(id, OTHER_CARD), nullptr);
    EXPECT_EQ(registry.pendingCount(), 1u);
    EXPECT_EQ(registry.claim(id, CARD), &record);
}

TEST(OfferClaim, arbitrary_ids_are_refused) {
    OfferRegistry registry;
    ChartRequest record;
    const uint64_t id = registry.open(&record, CARD);
    EXPECT_EQ(id, 1u);
    EXPECT_EQ(registry.claim(0, CARD), nullptr);
    EXPECT_EQ(registry.claim(2, CARD), nullptr);
    EXPECT_EQ(registry.claim(0xDEADBEEFull, CARD), nullptr);
    EXPECT_EQ(registry.claim(UINT64_MAX, CARD), nullptr);
    EXPECT_EQ(registry.withdraw(UINT64_MAX), nullptr);
    EXPECT_EQ(registry.pendingCount(), 1u);
}

TEST(OfferIds, ids_are_never_reused_after_removal) {
    OfferRegistry registry;
    ChartRequest first;
    ChartRequest second;
    const uint64_t a = registry.open(&first, CARD);
    registry.withdraw(a);
    const uint64_t b = registry.open(&second, CARD);
    registry.claim(b, CARD);
    const uint64_t c = registry.open(&first, CARD);
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(b, 2u);
    EXPECT_EQ(c, 3u);
    EXPECT_EQ(registry.claim(a, CARD), nullptr);  // an old id never names the new offer
    EXPECT_EQ(registry.claim(b, CARD), nullptr);
}

TEST(OfferIds, concurrent_offers_are_kept_apart) {
    OfferRegistry registry;
    ChartRequest records[4];
    uint64_t ids[4];
    for (int i = 0; i < 4; ++i) {
        ids[i] = registry.open(&records[i], CARD);
    }
    EXPECT_EQ(registry.claim(ids[1], CARD), &records[1]);
    EXPECT_EQ(registry.withdraw(ids[0]), &records[0]);
    EXPECT_EQ(registry.withdraw(ids[3]), &records[3]);
    EXPECT_EQ(registry.claim(ids[2], CARD), &records[2]);
    EXPECT_EQ(registry.pendingCount(), 0u);
}

}  // namespace
}  // namespace kestrine
