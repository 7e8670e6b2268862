// The hand-over of records to cards: the route, the state it is decided on,
// and the record deletion point with its live count. See hand_over.h.

#include "card/hand_over.h"

#include <atomic>
#include <new>

#include "card/card_registry.h"
#include "card/ui_thread.h"
#include "card/window_proc.h"
#include "card/window_seams.h"
#include "draw/module_lock.h"
#include "kestrine.h"

namespace kestrine {

// Outcome of the CreateThread call that starts a card.
enum class CardThread { pending, running, failed };

struct CardStart {
    ChartRequest* record = nullptr;  // the newest record handed to the card
    DWORD threadId = 0;              // its UI thread, once that runs
    CardThread thread = CardThread::pending;
    bool closed = false;  // CloseKestrine cancelled it before it was current
    // The starter, the UI thread and every call awaiting the thread.
    int holders = 2;
};

namespace {

// How long a call waits for a card at rest to answer, and how long a busy
// card may keep one piece of work (or a record left for it) before it is
// given up on and a new card displaces it.
constexpr UINT HANDOVER_TIMEOUT_MS = 3000;
// Once the hand-over time is up, a card that has become current meanwhile
// (the newer card that replaced a hung one) still gets one offer of this
// length: a card that answers at once takes the record, instead of a new
// card being started that would close it.
constexpr UINT LATE_OFFER_TIMEOUT_MS = 250;

// Everything the route decides on, guarded by moduleLock.
struct HandOverState {
    // The card that takes records (offers, deposits); null while none does.
    HWND current = nullptr;
    // The one card being started, until its window is current or it is
    // cancelled or its thread could not be started. While it exists every
    // record goes to it.
    CardStart* starting = nullptr;
    // Later is newer: every record is stamped when its destination is decided.
    uint64_t lastOrder = 0;
    // The newest record the current card has taken (reset with current).
    uint64_t currentNewest = 0;
    // When the current card began the piece of work in hand (a preparation,
    // a frame, or animating from tick to tick); 0 while it rests and
    // answers offers at once.
    ULONGLONG workSince = 0;
    // A record left for the current card (by a call while it is busy, or
    // handed on by a closing card), until the card takes it; depositedAt is
    // 0 for a hand-on, which no rescue needs (the closing card posted it).
    ChartRequest* deposit = nullptr;
    HWND depositFor = nullptr;
    ULONGLONG depositedAt = 0;
    // The timer that rescues a deposit its card has not taken in time; none
    // is armed once rescues have stopped (the module's detach).
    HANDLE rescueTimer = nullptr;
    bool rescuesStopped = false;
    // Offers sent to the current card at rest and still awaited.
    OfferRegistry offers;
};
HandOverState state;

std::atomic<long> liveRequestCount{0};
std::atomic<testing::CardThreadStarter> cardThreadStarter{nullptr};

// Signalled whenever a card start's thread outcome is known.
CONDITION_VARIABLE cardThreadSettled = CONDITION_VARIABLE_INIT;

uintptr_t windowKey(HWND window) { return reinterpret_cast<uintptr_t>(window); }

uint64_t stampOrder(ChartRequest* record) {
    record->order = ++state.lastOrder;
    return record->order;
}

void noteCurrentNewest(uint64_t order) {
    if (order > state.currentNewest) {
        state.currentNewest = order;
    }
}

// Every change of the current card goes through here: what was known of the
// card before (its newest record, its work) is not the new one's.
void setCurrent(HWND window, ULONGLONG workSince) {
    state.current = window;
    state.currentNewest = 0;
    state.workSince = workSince;
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
    return state.offers.open(record, windowKey(card));
}

ChartRequest* claimOffer(OfferId id, HWND card) noexcept {
    ModuleLockGuard lock;
    if (card == nullptr || state.current != card) {
        return nullptr;  // closing: the sender gives the record to another card
    }
    ChartRequest* record = state.offers.claim(id, windowKey(card));
    if (record != nullptr) {
        noteCurrentNewest(stampOrder(record));
    }
    return record;
}

ChartRequest* withdrawOffer(OfferId id) noexcept {
    ModuleLockGuard lock;
    return state.offers.withdraw(id);
}

namespace {

VOID CALLBACK rescueDeposit(PVOID, BOOLEAN);

// Under moduleLock: a rescue check due in ms unless one is due already. With
// no timer to be had, a later call still finds the card stalled by its work.
void armRescue(DWORD ms) {
    if (state.rescueTimer == nullptr && !state.rescuesStopped &&
        !CreateTimerQueueTimer(&state.rescueTimer, nullptr, rescueDeposit, nullptr, ms, 0,
                               WT_EXECUTEONLYONCE)) {
        state.rescueTimer = nullptr;
    }
}

// Under moduleLock: record waits in a new start, which becomes the starting
// card; null when there is no memory for it.
CardStart* openStart(ChartRequest* record) {
    CardStart* fresh = new (std::nothrow) CardStart;
    if (fresh != nullptr) {
        fresh->record = record;
        state.starting = fresh;
    }
    return fresh;
}

// Starts the UI thread of start (or what a test puts in its place) and
// settles the outcome: calls that handed records to this start meanwhile
// wait for it. On failure the waiting record (the newest handed in) is freed.
int startCardThread(CardStart* start) noexcept {
    bool started = false;
    if (const testing::CardThreadStarter starter = cardThreadStarter.load()) {
        started = starter(start);
    } else if (HANDLE thread = CreateThread(nullptr, 0, uiThreadMain, start, 0, nullptr)) {
        CloseHandle(thread);  // never joined: the card ends by itself
        started = true;
    }
    ChartRequest* lost = nullptr;
    {
        ModuleLockGuard lock;
        start->thread = started ? CardThread::running : CardThread::failed;
        if (!started) {
            lost = start->record;
            start->record = nullptr;
            if (state.starting == start) {
                state.starting = nullptr;
            }
        }
        // The starter's hold, and on failure the hold of the thread that never ran.
        releaseStart(start, started ? 1 : 2);
    }
    WakeAllConditionVariable(&cardThreadSettled);
    deleteRequest(lost);
    return started ? KESTRINE_OK : KESTRINE_NOT_STARTED;
}

// A call whose record went to a starting card waits here until that card's
// thread is known to run or could not be started, a matter of microseconds:
// no call is told its data will be shown by a thread that never existed.
int awaitCardThread(CardStart* start) noexcept {
    ModuleLockGuard lock;
    while (start->thread == CardThread::pending) {
        SleepConditionVariableCS(&cardThreadSettled, &moduleLock, INFINITE);
    }
    const bool running = start->thread == CardThread::running;
    releaseStart(start);
    return running ? KESTRINE_OK : KESTRINE_NOT_STARTED;
}

// A deposit that its card has not taken within the hand-over limit: the card
// is stuck (a hook in its thread, a driver stall, a debugger), so the record
// goes to a new card, which displaces the stuck one as it becomes current.
// No call needs to come for that. A newer deposit is checked when its time
// is up.
VOID CALLBACK rescueDeposit(PVOID, BOOLEAN) {
    HANDLE timer = nullptr;
    ChartRequest* unseen = nullptr;
    CardStart* start = nullptr;
    {
        ModuleLockGuard lock;
        timer = state.rescueTimer;
        state.rescueTimer = nullptr;
        // A deposit for a card that is no longer current has been overtaken:
        // the card that displaced it shows something newer.
        if (state.deposit != nullptr && state.depositedAt != 0 &&
            state.depositFor == state.current) {
            const ULONGLONG age = GetTickCount64() - state.depositedAt;
            if (age < HANDOVER_TIMEOUT_MS) {
                armRescue(static_cast<DWORD>(HANDOVER_TIMEOUT_MS - age));
            } else {
                ChartRequest* record = state.deposit;
                state.deposit = nullptr;
                state.depositFor = nullptr;
                state.depositedAt = 0;
                // Its order stays: a card already starting may hold a newer one.
                if (state.starting != nullptr) {
                    unseen = record;
                    if (state.starting->record == nullptr ||
                        state.starting->record->order < record->order) {
                        unseen = state.starting->record;
                        state.starting->record = record;
                    }
                } else if ((start = openStart(record)) == nullptr) {
                    state.deposit = record;  // no memory now: looked at again later
                    state.depositFor = state.current;
                    state.depositedAt = GetTickCount64();
                    armRescue(HANDOVER_TIMEOUT_MS);
                }
            }
        }
    }
    if (timer != nullptr) {
        DeleteTimerQueueTimer(nullptr, timer, nullptr);  // not waiting: this is its callback
    }
    deleteRequest(unseen);
    if (start != nullptr) {
        startCardThread(start);
    }
}

// Where a record goes next, decided in one look at the state.
enum class Route {
    offer,         // offer it to the current card at rest (*card)
    startingCard,  // the starting card (*start) took it; *replaced, if not
                   // null, is the older record it displaced, the caller's
                   // to free; the caller then awaits the card's thread
    newCard,       // it waits in a new start (*start): start the thread
    notStarted,    // no memory for a new start: the record is still the caller's
    deposited,     // left for the current card (*card), busy or animating:
                   // post it WM_CHART_HANDED_ON; *replaced as for startingCard
};

// refused: a card that has just refused or not answered, never offered to
// again; mayOffer false: offer to no card (the hand-over's time is up);
// mayDeposit false: offer rather than deposit.
Route routeRecord(ChartRequest* record, HWND refused, bool mayOffer, bool mayDeposit, HWND* card,
                  ChartRequest** replaced, CardStart** start) noexcept {
    ModuleLockGuard lock;
    *card = nullptr;
    *replaced = nullptr;
    *start = nullptr;
    // One card starts at a time, and it takes every record until its window
    // is current: the card it will displace must not get one in the meantime.
    if (state.starting != nullptr) {
        *replaced = state.starting->record;
        state.starting->record = record;
        stampOrder(record);
        ++state.starting->holders;
        *start = state.starting;
        return Route::startingCard;
    }
    const ULONGLONG now = GetTickCount64();
    const bool working = state.workSince != 0;
    // A card that has spent the whole hand-over limit on one piece of work
    // is given up on, as one at rest that does not answer is.
    const bool stalled = working && now - state.workSince >= HANDOVER_TIMEOUT_MS;
    if (mayOffer && state.current != nullptr && state.current != refused && !stalled) {
        *card = state.current;
        if (!working || !mayDeposit) {
            return Route::offer;
        }
        // Only the newest deposit is worth preparing.
        *replaced = state.deposit;
        state.deposit = record;
        state.depositFor = state.current;
        state.depositedAt = now;
        noteCurrentNewest(stampOrder(record));
        armRescue(HANDOVER_TIMEOUT_MS);
        return Route::deposited;
    }
    stampOrder(record);
    *start = openStart(record);
    return *start != nullptr ? Route::newCard : Route::notStarted;
}

// A deposit whose WM_CHART_HANDED_ON could not be posted is taken back, if
// the card has not taken it and no newer deposit has replaced it (which
// freed it): true when record is the caller's again.
bool reclaimDeposit(HWND card, ChartRequest* record) noexcept {
    ModuleLockGuard lock;
    if (state.deposit != record || state.depositFor != card) {
        return false;
    }
    state.deposit = nullptr;
    state.depositFor = nullptr;
    state.depositedAt = 0;
    return true;
}

// Offers record to the card at rest, waiting at most timeoutMs. True when
// the card took it (it owns it now); false when the record is still the
// caller's.
bool offerToCard(HWND card, ChartRequest* record, UINT timeoutMs) noexcept {
    OfferId offer = 0;
    try {
        offer = openOffer(record, card);
    } catch (...) {
        return false;  // no memory to register the offer: a new card instead
    }
    DWORD_PTR answer = 0;
    // SMTO_BLOCK: the caller's thread handles none of the messages sent to it
    // while it waits, so no window procedure of the host runs inside a call.
    // That could only hold a card up if the card's thread sent to another
    // thread, and it never does: it is never activated (MA_NOACTIVATE,
    // WS_EX_NOACTIVATE, shown and moved with SWP_NOACTIVATE), so no focus or
    // activation change sends to the windows it would leave; its capture is
    // its own thread's; everything else it tells other windows (WM_CLOSE to
    // a displaced card, its own reminders) is posted. Should a system send
    // still reach a waiting host, the time-out bounds the wait.
    SendMessageTimeoutW(card, WM_CHART_REPLACE, 0, offerAsLParam(offer),
                        SMTO_BLOCK | SMTO_ABORTIFHUNG, timeoutMs, &answer);
    // The card answers 1 exactly when it claimed the offer. The registry
    // settles ownership even when the answer did not arrive in time: an offer
    // still there is withdrawn here and is void for the card from now on.
    return withdrawOffer(offer) == nullptr;
}

}  // namespace

int handOverRecord(ChartRequest* record) noexcept {
    // A card that is closing refuses. When a newer card has become current in
    // the meantime, the record goes to that one rather than to yet another new
    // card; all offers together wait no longer than one hand-over time-out
    // and one late offer.
    const ULONGLONG deadline = GetTickCount64() + HANDOVER_TIMEOUT_MS;
    HWND refused = nullptr;
    bool lateOfferMade = false;
    bool mayDeposit = true;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const bool late = now >= deadline;
        HWND card = nullptr;
        ChartRequest* replaced = nullptr;
        CardStart* start = nullptr;
        switch (routeRecord(record, refused, !(late && lateOfferMade), mayDeposit, &card, &replaced,
                            &start)) {
        case Route::startingCard:
            deleteRequest(replaced);  // never shown: a newer record came
            return awaitCardThread(start);
        case Route::newCard:
            return startCardThread(start);
        case Route::notStarted:
            deleteRequest(record);
            return KESTRINE_NOT_STARTED;
        case Route::deposited:
            deleteRequest(replaced);  // never shown: a newer record came
            if (PostMessageW(card, WM_CHART_HANDED_ON, 0, 0) || !reclaimDeposit(card, record)) {
                return KESTRINE_OK;
            }
            mayDeposit = false;  // the card's queue takes nothing: offer instead
            continue;
        case Route::offer:
            break;
        }
        lateOfferMade = late;
        const UINT timeout = late ? LATE_OFFER_TIMEOUT_MS : static_cast<UINT>(deadline - now);
        if (IsWindow(card) && offerToCard(card, record, timeout)) {
            return KESTRINE_OK;
        }
        refused = card;
    }
}

void noteCardThread(CardStart* start) noexcept {
    ModuleLockGuard lock;
    start->threadId = GetCurrentThreadId();
}

void cancelStartingCard() noexcept {
    ChartRequest* unshown = nullptr;
    {
        ModuleLockGuard lock;
        if (state.starting == nullptr) {
            return;
        }
        state.starting->closed = true;
        unshown = state.starting->record;
        state.starting->record = nullptr;
        state.starting = nullptr;
    }
    WakeAllConditionVariable(&cardWindowsChanged);
    deleteRequest(unshown);
}

bool cardStartCancelled(const CardStart* start) noexcept {
    ModuleLockGuard lock;
    return start->closed;
}

ChartRequest* finishCardStart(CardStart* start, HWND window, HWND* displaced,
                              bool* closed) noexcept {
    ModuleLockGuard lock;
    *displaced = nullptr;
    *closed = start->closed;
    if (state.starting == start) {
        state.starting = nullptr;
    }
    ChartRequest* record = start->record;
    start->record = nullptr;
    if (window != nullptr && !start->closed) {
        *displaced = state.current;
        // It prepares its chart next: records meanwhile are left for it.
        setCurrent(window, GetTickCount64());
        noteCurrentNewest(record != nullptr ? record->order : 0);
    }
    releaseStart(start);
    return record;
}

void noteCardAskedToClose(HWND window) noexcept {
    const DWORD thread = GetWindowThreadProcessId(window, nullptr);
    ModuleLockGuard lock;
    if (state.current == window) {
        setCurrent(nullptr, 0);
        return;
    }
    // The starting card's window exists but is not current yet: it closes
    // with what it was handed, and the next record starts a new card.
    if (state.starting != nullptr && thread != 0 && state.starting->threadId == thread) {
        state.starting->closed = true;
        state.starting = nullptr;
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
        if (state.starting != nullptr) {
            ChartRequest* waiting = state.starting->record;
            if (waiting == nullptr || waiting->order < record->order) {
                state.starting->record = record;
                older = waiting;
            }
        } else if (state.current != nullptr && state.current != from &&
                   state.currentNewest < record->order) {
            older = state.deposit;  // a record left and not yet taken is older
            state.deposit = record;
            state.depositFor = state.current;
            state.depositedAt = 0;
            noteCurrentNewest(record->order);
            notify = state.current;
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
    if (state.deposit == nullptr || state.depositFor != window) {
        return nullptr;
    }
    ChartRequest* record = state.deposit;
    state.deposit = nullptr;
    state.depositFor = nullptr;
    state.depositedAt = 0;
    return record;
}

void noteCardWorking(HWND window) noexcept {
    const ULONGLONG now = GetTickCount64();
    ModuleLockGuard lock;
    if (state.current == window) {
        state.workSince = now;
    }
}

void noteCardAtRest(HWND window) noexcept {
    ModuleLockGuard lock;
    if (state.current == window) {
        state.workSince = 0;
    }
}

bool isCurrentCard(HWND window) noexcept {
    ModuleLockGuard lock;
    return state.current == window;
}

bool leaveCurrentCard(HWND window) noexcept {
    ModuleLockGuard lock;
    if (state.current != window) {
        return false;
    }
    setCurrent(nullptr, 0);
    return true;
}

void stopRescuingDeposits() noexcept {
    HANDLE timer = nullptr;
    {
        ModuleLockGuard lock;
        timer = state.rescueTimer;
        state.rescueTimer = nullptr;
        state.rescuesStopped = true;  // a callback running now arms no other
    }
    if (timer != nullptr) {
        // Waits for a callback that is running; it takes moduleLock, which
        // is not held here.
        DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE);
    }
}

namespace testing {

long liveRequests() { return liveRequestCount.load(); }

size_t pendingOfferCount() {
    ModuleLockGuard lock;
    return state.offers.pendingCount();
}

void continueOfferIdsAfter(uint32_t last) {
    ModuleLockGuard lock;
    state.offers.continueIdsAfter(last);
}

void setCardThreadStarter(CardThreadStarter starter) { cardThreadStarter.store(starter); }

HWND currentCard() {
    ModuleLockGuard lock;
    return state.current;
}

}  // namespace testing

}  // namespace kestrine
