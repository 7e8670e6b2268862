// Pending hand-over offers keyed by 32-bit ids; see offer_registry.h.
// Removal swaps with the last entry, so claim and withdraw never allocate.

#include "core/offer_registry.h"

namespace kestrine {

OfferId OfferRegistry::open(ChartRequest* record, uintptr_t target) {
    // Few offers are pending at once (one per waiting host thread), so a free
    // id is found within a few steps even where the counter wraps.
    OfferId id = lastId;
    do {
        ++id;
    } while (id == 0 || inUse(id));
    // Grow first: if that throws, the counter has not moved and nothing is
    // registered.
    pending.push_back(Offer{id, record, target});
    lastId = id;
    return id;
}

bool OfferRegistry::inUse(OfferId id) const noexcept {
    for (const Offer& offer : pending) {
        if (offer.id == id) {
            return true;
        }
    }
    return false;
}

ChartRequest* OfferRegistry::claim(OfferId id, uintptr_t target) noexcept {
    for (size_t i = 0; i < pending.size(); ++i) {
        if (pending[i].id == id) {
            return pending[i].target == target ? take(i) : nullptr;
        }
    }
    return nullptr;
}

ChartRequest* OfferRegistry::withdraw(OfferId id) noexcept {
    for (size_t i = 0; i < pending.size(); ++i) {
        if (pending[i].id == id) {
            return take(i);
        }
    }
    return nullptr;
}

ChartRequest* OfferRegistry::take(size_t index) noexcept {
    ChartRequest* record = pending[index].record;
    pending[index] = pending.back();
    pending.pop_back();
    return record;
}

}  // namespace kestrine
