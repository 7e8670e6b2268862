// Pending hand-over offers: a record offered to an open card is registered
// here under an id that no other pending offer has, and exactly one of the
// card (claim) or the sender (withdraw) takes it back out. Portable; callers
// hold the lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/chart_request.h"

namespace kestrine {

// An offer travels as a message's lParam, which on x86 holds 32 bits: ids
// count up within 32 bits and wrap, so the counter never outgrows it.
using OfferId = uint32_t;

// Ids start at 1 and skip 0 when they wrap, so 0 never names an offer (a
// null lParam is refused anyway); an id still pending is never issued again.
class OfferRegistry {
public:
    // Registers record as offered to the window identified by target and
    // returns the offer's id. Throws std::bad_alloc when the registry cannot
    // grow; nothing is registered then and the caller still owns record.
    OfferId open(ChartRequest* record, uintptr_t target);

    // The card's side: when id names a pending offer made to target, removes
    // it and returns its record, which now belongs to the card. Otherwise
    // (unknown, withdrawn, already claimed, or addressed to another window)
    // returns null and the id is never used to reach any memory.
    ChartRequest* claim(OfferId id, uintptr_t target) noexcept;

    // The sender's side, once it has stopped waiting: removes a still pending
    // offer and returns its record (the sender keeps it), or null when the
    // card has claimed it. An offer withdrawn once can never be claimed.
    ChartRequest* withdraw(OfferId id) noexcept;

    size_t pendingCount() const noexcept { return pending.size(); }

    // The next id issued follows last (tests start it near the wrap).
    void continueIdsAfter(OfferId last) noexcept { lastId = last; }

private:
    struct Offer {
        OfferId id = 0;
        ChartRequest* record = nullptr;
        uintptr_t target = 0;
    };

    ChartRequest* take(size_t index) noexcept;
    bool inUse(OfferId id) const noexcept;

    // Few entries: one per host thread blocked in a hand-over.
    std::vector<Offer> pending;
    OfferId lastId = 0;
};

}  // namespace kestrine
