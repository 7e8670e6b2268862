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
    const OfferId id = registry.open(&record, CARD);
    EXPECT_EQ(registry.claim(id, CARD), &record);
    EXPECT_EQ(registry.claim(id, CARD), nullptr);
    EXPECT_EQ(registry.withdraw(id), nullptr);  // the sender learns the card owns it
    EXPECT_EQ(registry.pendingCount(), 0u);
}

TEST(OfferClaim, withdrawn_offer_is_void_for_the_card) {
    OfferRegistry registry;
    ChartRequest record;
    const OfferId id = registry.open(&record, CARD);
    EXPECT_EQ(registry.withdraw(id), &record);
    EXPECT_EQ(registry.claim(id, CARD), nullptr);
    EXPECT_EQ(registry.withdraw(id), nullptr);
}

TEST(OfferClaim, offer_made_to_another_window_is_refused_and_stays_pending) {
    OfferRegistry registry;
    ChartRequest record;
    const OfferId id = registry.open(&record, CARD);
    EXPECT_EQ(registry.claim(id, OTHER_CARD), nullptr);
    EXPECT_EQ(registry.pendingCount(), 1u);
    EXPECT_EQ(registry.claim(id, CARD), &record);
}

TEST(OfferClaim, arbitrary_ids_are_refused) {
    OfferRegistry registry;
    ChartRequest record;
    const OfferId id = registry.open(&record, CARD);
    EXPECT_EQ(id, 1u);
    EXPECT_EQ(registry.claim(0, CARD), nullptr);
    EXPECT_EQ(registry.claim(2, CARD), nullptr);
    EXPECT_EQ(registry.claim(0xDEADBEEFu, CARD), nullptr);
    EXPECT_EQ(registry.claim(UINT32_MAX, CARD), nullptr);
    EXPECT_EQ(registry.withdraw(UINT32_MAX), nullptr);
    EXPECT_EQ(registry.pendingCount(), 1u);
}

TEST(OfferIds, wrap_within_32_bits_past_zero_and_past_ids_still_pending) {
    OfferRegistry registry;
    ChartRequest waiting;
    ChartRequest records[3];
    registry.continueIdsAfter(0xFFFFFFFDu);
    EXPECT_EQ(registry.open(&waiting, CARD), 0xFFFFFFFEu);  // left pending throughout
    registry.continueIdsAfter(0xFFFFFFFDu);
    const OfferId last = registry.open(&records[0], CARD);
    const OfferId first = registry.open(&records[1], CARD);
    registry.continueIdsAfter(0);
    const OfferId next = registry.open(&records[2], CARD);
    EXPECT_EQ(last, 0xFFFFFFFFu);
    EXPECT_EQ(first, 1u);  // 0 is skipped
    EXPECT_EQ(next, 2u);   // 1 is still pending
    EXPECT_EQ(registry.claim(0xFFFFFFFEu, CARD), &waiting);
    EXPECT_EQ(registry.claim(last, CARD), &records[0]);
    EXPECT_EQ(registry.claim(first, CARD), &records[1]);
    EXPECT_EQ(registry.claim(next, CARD), &records[2]);
}

TEST(OfferIds, ids_are_never_reused_after_removal) {
    OfferRegistry registry;
    ChartRequest first;
    ChartRequest second;
    const OfferId a = registry.open(&first, CARD);
    registry.withdraw(a);
    const OfferId b = registry.open(&second, CARD);
    registry.claim(b, CARD);
    const OfferId c = registry.open(&first, CARD);
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(b, 2u);
    EXPECT_EQ(c, 3u);
    EXPECT_EQ(registry.claim(a, CARD), nullptr);  // an old id never names the new offer
    EXPECT_EQ(registry.claim(b, CARD), nullptr);
}

TEST(OfferIds, concurrent_offers_are_kept_apart) {
    OfferRegistry registry;
    ChartRequest records[4];
    OfferId ids[4];
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
