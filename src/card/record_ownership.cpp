// The record deletion point with its live count, the module's registry of
// pending hand-over offers, the starting card, and the order of records, all
// guarded by moduleLock.

#include "card/record_ownership.h"

#include <atomic>
#include <new>

#include "card/card_registry.h"
#include "card/window_proc.h"
#include "card/window_seams.h"
#include "core/offer_registry.h"
#include "draw/module_lock.h"

namespace kestrine {

// Outcome of the CreateThread call that starts a card.
enum class CardThread { pending, running, failed };

struct CardStart {
    ChartRequest* record = nullptr;  // the newest record handed to the card
    DWORD threadId = 0;              // its UI thread, once that runs
    CardThread thread = CardThread::pending;
    bool closed = false;  // CloseKestrine found its window before it was current
    // The starter, the UI thread and every call awaiting the thread.
    int holders = 2;
};

namespace {

std::atomic<long> liveRequestCount{0};

// Guarded by moduleLock.
OfferRegistry pendingOffers;
// Later is newer: every record is stamped when its destination is decided.
uint64_t lastOrder = 0;
// The card being started, until its window is current or it is closed or
// abandoned; null while none is.
CardStart* startingCard = nullptr;
// The newest record the current card has taken (newestCard names the card,
// so that a stale value never applies to another one).
HWND newestCard = nullptr;
uint64_t newestOrder = 0;
// A record handed on to the current card (by a closing card, or deposited by
// a call while the card animates), until it takes it.
ChartRequest* handedOnRecord = nullptr;
HWND handedOnTarget = nullptr;
// The current card's last animation tick (GetTickCount64), 0 while it rests.
HWND tickingCard = nullptr;
uint64_t lastTick = 0;
// A card whose last tick is this recent is pumping: slower frames than this
// (a whole card at scale 4 under Wine takes about 200 ms) fall back to offers.
constexpr uint64_t PUMPING_TICK_MS = 500;

// Signalled whenever a card start's thread outcome is known.
CONDITION_VARIABLE cardThreadSettled = CONDITION_VARIABLE_INIT;

uintptr_t windowKey(HWND window) { return reinterpret_cast<uintptr_t>(window); }

uint64_t stampOrder(ChartRequest* record) {
    record->order = ++lastOrder;
    return record->order;
}

uint64_t currentNewestOrder() { return newestCard == currentWindow ? newestOrder : 0; }

void noteCurrentNewest(uint64_t order) {
    if (newestCard != currentWindow) {
        newestCard = currentWindow;
        newestOrder = 0;
    }
    if (order > newestOrder) {
        newestOrder = order;
    }
}

// Drops holders under moduleLock; the last one frees the start.
void releaseStart(CardStart* start, int holders = 1) {
    start->holders -= holders;
    if (start->holders == 0) {
        delete start;
    }
}

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

OfferId openOffer(ChartRequest* record, HWND card) {
    ModuleLockGuard lock;
    return pendingOffers.open(record, windowKey(card));
}

ChartRequest* claimOffer(OfferId id, HWND card) noexcept {
    ModuleLockGuard lock;
    if (card == nullptr || currentWindow != card) {
        return nullptr;  // closing: the sender gives the record to another card
    }
    ChartRequest* record = pendingOffers.claim(id, windowKey(card));
    if (record != nullptr) {
        noteCurrentNewest(stampOrder(record));
    }
    return record;
}

ChartRequest* withdrawOffer(OfferId id) noexcept {
    ModuleLockGuard lock;
    return pendingOffers.withdraw(id);
}

HandOverRoute routeRecord(ChartRequest* record, HWND refused, bool mayOffer, bool mayDeposit,
                          HWND* card, ChartRequest** replaced, CardStart** start) noexcept {
    ModuleLockGuard lock;
    *card = nullptr;
    *replaced = nullptr;
    *start = nullptr;
    // One card starts at a time, and it takes every record until its window
    // is current: the card it will displace must not get one in the meantime.
    if (startingCard != nullptr) {
        *replaced = startingCard->record;
        startingCard->record = record;
        stampOrder(record);
        ++startingCard->holders;
        *start = startingCard;
        return HandOverRoute::startingCard;
    }
    if (mayOffer && currentWindow != nullptr && currentWindow != refused) {
        *card = currentWindow;
        if (mayDeposit && tickingCard == currentWindow && lastTick != 0 &&
            GetTickCount64() - lastTick <= PUMPING_TICK_MS) {
            // Only the newest deposit is worth preparing.
            *replaced = handedOnRecord;
            handedOnRecord = record;
            handedOnTarget = currentWindow;
            noteCurrentNewest(stampOrder(record));
            return HandOverRoute::deposited;
        }
        return HandOverRoute::offer;
    }
    CardStart* fresh = new (std::nothrow) CardStart;
    if (fresh == nullptr) {
        return HandOverRoute::notStarted;
    }
    fresh->record = record;
    stampOrder(record);
    startingCard = fresh;
    *start = fresh;
    return HandOverRoute::newCard;
}

void settleCardThread(CardStart* start, bool started) noexcept {
    ChartRequest* lost = nullptr;
    {
        ModuleLockGuard lock;
        start->thread = started ? CardThread::running : CardThread::failed;
        if (!started) {
            lost = start->record;
            start->record = nullptr;
            if (startingCard == start) {
                startingCard = nullptr;
            }
        }
        // The starter's hold, and on failure the hold of the thread that never ran.
        releaseStart(start, started ? 1 : 2);
    }
    WakeAllConditionVariable(&cardThreadSettled);
    deleteRequest(lost);
}

bool awaitCardThread(CardStart* start) noexcept {
    ModuleLockGuard lock;
    while (start->thread == CardThread::pending) {
        SleepConditionVariableCS(&cardThreadSettled, &moduleLock, INFINITE);
    }
    const bool running = start->thread == CardThread::running;
    releaseStart(start);
    return running;
}

void noteCardThread(CardStart* start) noexcept {
    ModuleLockGuard lock;
    start->threadId = GetCurrentThreadId();
}

ChartRequest* finishCardStart(CardStart* start, HWND window, HWND* displaced,
                              bool* closed) noexcept {
    ModuleLockGuard lock;
    *displaced = nullptr;
    *closed = start->closed;
    if (startingCard == start) {
        startingCard = nullptr;
    }
    ChartRequest* record = start->record;
    start->record = nullptr;
    if (window != nullptr && !start->closed) {
        *displaced = currentWindow;
        currentWindow = window;
        noteCurrentNewest(record != nullptr ? record->order : 0);
    }
    releaseStart(start);
    return record;
}

void noteCardAskedToClose(HWND window) noexcept {
    const DWORD thread = GetWindowThreadProcessId(window, nullptr);
    ModuleLockGuard lock;
    if (currentWindow == window) {
        currentWindow = nullptr;
        return;
    }
    // The starting card's window exists but is not current yet: it closes
    // with what it was handed, and the next record starts a new card.
    if (startingCard != nullptr && thread != 0 && startingCard->threadId == thread) {
        startingCard->closed = true;
        startingCard = nullptr;
    }
}

void handOnRecord(HWND from, ChartRequest* record) noexcept {
    if (record == nullptr) {
        return;
    }
    ChartRequest* older = record;
    HWND notify = nullptr;
    {
        ModuleLockGuard lock;
        if (startingCard != nullptr) {
            ChartRequest* waiting = startingCard->record;
            if (waiting == nullptr || waiting->order < record->order) {
                startingCard->record = record;
                older = waiting;
            }
        } else if (currentWindow != nullptr && currentWindow != from &&
                   currentNewestOrder() < record->order) {
            older = handedOnRecord;  // a handed-on record not yet taken is older
            handedOnRecord = record;
            handedOnTarget = currentWindow;
            noteCurrentNewest(record->order);
            notify = currentWindow;
        }
    }
    deleteRequest(older);
    // A card that cannot be posted to is ending; its WM_DESTROY takes the
    // record and hands it on again.
    if (notify != nullptr) {
        PostMessageW(notify, WM_CHART_HANDED_ON, 0, 0);
    }
}

ChartRequest* takeHandedOnRecord(HWND window) noexcept {
    ModuleLockGuard lock;
    if (handedOnRecord == nullptr || handedOnTarget != window) {
        return nullptr;
    }
    ChartRequest* record = handedOnRecord;
    handedOnRecord = nullptr;
    handedOnTarget = nullptr;
    return record;
}

bool reclaimDeposit(HWND card, ChartRequest* record) noexcept {
    ModuleLockGuard lock;
    if (handedOnRecord != record || handedOnTarget != card) {
        return false;
    }
    handedOnRecord = nullptr;
    handedOnTarget = nullptr;
    return true;
}

void noteCardTick(HWND window, bool animating) noexcept {
    const uint64_t now = GetTickCount64();
    ModuleLockGuard lock;
    if (currentWindow == window) {
        tickingCard = window;
        lastTick = animating ? now : 0;
    }
}

HWND makeCurrentCard(HWND window) noexcept {
    ModuleLockGuard lock;
    HWND displaced = currentWindow;
    currentWindow = window;
    return displaced;
}

bool isCurrentCard(HWND window) noexcept {
    ModuleLockGuard lock;
    return currentWindow == window;
}

bool leaveCurrentCard(HWND window) noexcept {
    ModuleLockGuard lock;
    if (currentWindow != window) {
        return false;
    }
    currentWindow = nullptr;
    return true;
}

namespace testing {

long liveRequests() { return liveRequestCount.load(); }

size_t pendingOfferCount() {
    ModuleLockGuard lock;
    return pendingOffers.pendingCount();
}

void continueOfferIdsAfter(uint32_t last) {
    ModuleLockGuard lock;
    pendingOffers.continueIdsAfter(last);
}

}  // namespace testing

}  // namespace kestrine
