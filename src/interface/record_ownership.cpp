// The record deletion point with its live count, and the module's registry of
// pending hand-over offers, guarded by moduleLock.

#include "interface/record_ownership.h"

#include <atomic>

#include "interface/module_state.h"
#include "interface/offer_registry.h"
#include "window/window_seams.h"

namespace kestrine {

namespace {

std::atomic<long> liveRequestCount{0};

// Guarded by moduleLock.
OfferRegistry pendingOffers;

uintptr_t windowKey(HWND window) { return reinterpret_cast<uintptr_t>(window); }

}  // namespace

ChartRequest* adoptBuiltRequest(std::unique_ptr<ChartRequest> request) noexcept {
    if (request) {
        liveRequestCount.fetch_add(1);
    }
    return request.release();
}

void deleteRequest(ChartRequest* request) noexcept {
    if (request == nullptr) {
        return;
    }
    delete request;
    liveRequestCount.fetch_sub(1);
}

uint64_t openOffer(ChartRequest* record, HWND card) {
    ModuleLockGuard lock;
    return pendingOffers.open(record, windowKey(card));
}

ChartRequest* claimOffer(uint64_t id, HWND card) noexcept {
    ModuleLockGuard lock;
    return pendingOffers.claim(id, windowKey(card));
}

ChartRequest* withdrawOffer(uint64_t id) noexcept {
    ModuleLockGuard lock;
    return pendingOffers.withdraw(id);
}

namespace testing {

long liveRequests() { return liveRequestCount.load(); }

size_t pendingOfferCount() {
    ModuleLockGuard lock;
    return pendingOffers.pendingCount();
}

}  // namespace testing

}  // namespace kestrine
