// The record deletion point with its live count, and the module's registry of
// pending hand-over offers, guarded by moduleLock.

#include "card/record_ownership.h"

#include <atomic>

#include "card/card_registry.h"
#include "card/window_seams.h"
#include "core/offer_registry.h"
#include "draw/module_lock.h"

namespace kestrine {

namespace {

std::atomic<long> liveRequestCount{0};

// Guarded by moduleLock.
OfferRegistry pendingOffers;
// A card's UI thread has been started and its window does not exist yet;
// startingRecord is the newest record handed to it in the meantime.
bool cardStarting = false;
ChartRequest* startingRecord = nullptr;

uintptr_t windowKey(HWND window) { return reinterpret_cast<uintptr_t>(window); }

}  // namespace

ChartRequest* adoptBuiltRequest(std::unique_ptr<ChartRequest> request) noexcept {
    if (request) {
        liveRequestCount.fetch_add(1);
    }
    return request.release();
}

void deleteRequest(ChartRequest* request) noexcept {
    while (request != nullptr) {
        ChartRequest* next = request->nextChart;  // a claimed, unprepared record
        delete request;
        liveRequestCount.fetch_sub(1);
        request = next;
    }
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

HandOverRoute routeRecord(ChartRequest* record, HWND refused, bool mayOffer, HWND* card,
                          ChartRequest** replaced) noexcept {
    ModuleLockGuard lock;
    *card = nullptr;
    *replaced = nullptr;
    if (mayOffer && currentWindow != nullptr && currentWindow != refused) {
        *card = currentWindow;
        return HandOverRoute::offer;
    }
    // One card starts at a time: every call in the gap before its window
    // exists would otherwise start a card of its own.
    *replaced = startingRecord;
    startingRecord = record;
    if (cardStarting) {
        return HandOverRoute::startingCard;
    }
    cardStarting = true;
    return HandOverRoute::newCard;
}

ChartRequest* abandonCardStart() noexcept {
    ModuleLockGuard lock;
    cardStarting = false;
    ChartRequest* record = startingRecord;
    startingRecord = nullptr;
    return record;
}

ChartRequest* finishCardStart(HWND window, HWND* displaced) noexcept {
    ModuleLockGuard lock;
    *displaced = nullptr;
    if (window != nullptr) {
        *displaced = currentWindow;
        currentWindow = window;
    }
    cardStarting = false;
    ChartRequest* record = startingRecord;
    startingRecord = nullptr;
    return record;
}

namespace testing {

long liveRequests() { return liveRequestCount.load(); }

size_t pendingOfferCount() {
    ModuleLockGuard lock;
    return pendingOffers.pendingCount();
}

}  // namespace testing

}  // namespace kestrine
