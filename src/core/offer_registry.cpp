// Pending hand-over offers keyed by never-reused ids; see offer_registry.h.
// Removal swaps with the last entry, so claim and withdraw never allocate.

#include "core/offer_registry.h"

namespace kestrine {

uint64_t OfferRegistry::open(ChartRequest* record, uintptr_t target) {
    // Grow first: if that throws, the counter has not moved and nothing is
    // registered. A 64-bit counter does not wrap within any process's life.
    pending.push_back(Offer{lastId + 1, record, target});
    ++lastId;
    return lastId;
}

ChartRequest* OfferRegistry::claim(uint64_t id, uintptr_t target) noexcept {
    for (size_t i = 0; i < pending.size(); ++i) {
        if (pending[i].id == id) {
            return pending[i].target == target ? take(i) : nullptr;
        }
    }
    return nullptr;
}

ChartRequest* OfferRegistry::withdraw(uint64_t id) noexcept {
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
