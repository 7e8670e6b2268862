// The hand-over: the whole route of a ChartRequest from ShowKestrine's thread
// to the card that shows it, and every piece of state that route is decided
// on (the current card, the card being started, the record left for a busy
// card, the offers in flight, the order that says which record is newest),
// in one struct under moduleLock. Also the one place records are deleted, so
// that tests can count live ones.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "core/chart_request.h"
#include "core/offer_registry.h"

namespace kestrine {

// Every record that leaves request building is counted in here...
ChartRequest* adoptBuiltRequest(std::unique_ptr<ChartRequest> request) noexcept;
// ...and every path that ends a record's life goes through this, with the
// claimed record that waits in its nextChart. Null is fine.
void deleteRequest(ChartRequest* request) noexcept;

// Registers record as offered to card and returns the id to send as the
// lParam of WM_CHART_REPLACE (never 0, never one still pending). Throws
// std::bad_alloc; the caller then still owns record.
OfferId openOffer(ChartRequest* record, HWND card);

// An offer id as WM_CHART_REPLACE's lParam and back. Zero-extended: on x86
// an id from 2^31 up would otherwise come back sign-extended as another
// number. An lParam that no id makes reads as 0, which names no offer.
inline LPARAM offerAsLParam(OfferId id) noexcept {
    return static_cast<LPARAM>(static_cast<ULONG_PTR>(id));
}
inline OfferId offerFromLParam(LPARAM lParam) noexcept {
    const ULONG_PTR value = static_cast<ULONG_PTR>(lParam);
    return (value >> 16 >> 16) == 0 ? static_cast<OfferId>(value) : 0;
}

// Called by the card on WM_CHART_REPLACE: the record of a live offer made to
// this card, now owned by the card, provided the card is still the current
// one (checked in the same step, so a card that is being displaced or closed
// never claims); null for anything else. The id is only compared, never
// dereferenced. A claimed record is the newest one decided so far.
ChartRequest* claimOffer(OfferId id, HWND card) noexcept;

// Called by the sender once it no longer waits: the record when the offer
// was not claimed (the sender still owns it), null when the card has it.
ChartRequest* withdrawOffer(OfferId id) noexcept;

// One card being started: from the call that routes the first record to it
// until its window is current, closed, or its thread could not be started.
struct CardStart;

// ShowKestrine's route for a record it built: offered to the current card
// at rest, left for it while it animates or works, or given to a new card
// (or the one starting). KESTRINE_OK once a card owns it or a card thread
// that will show it runs; KESTRINE_NOT_STARTED when no card could be
// started (the record is freed). Always takes the record.
int handOverRecord(ChartRequest* record) noexcept;

// The current card starts a piece of work that keeps it from its queue (a
// chart's preparation, a frame) or goes on animating: a record for it is
// left for it meanwhile, and the caller does not wait. A card that spends
// longer than the hand-over limit on one piece is given up on: the next
// record, or the one left for it, goes to a new card that displaces it.
void noteCardWorking(HWND window) noexcept;
// The current card is at rest and answers offers at once.
void noteCardAtRest(HWND window) noexcept;

// The starting card's UI thread, first thing: which thread it is, so that a
// CloseKestrine that finds its window before it is current can tell.
void noteCardThread(CardStart* start) noexcept;

// CloseKestrine's first step: the card being started, if any, is cancelled,
// whether or not its window exists yet. Its record is freed here, it shows
// nothing, and the next record starts a new card. Wakes its thread should it
// be waiting for closing cards, so that a cancelled start never lingers.
void cancelStartingCard() noexcept;

// True once start has been cancelled; the starting card's thread asks before
// it creates its window. Under moduleLock or not.
bool cardStartCancelled(const CardStart* start) noexcept;

// The starting card's window exists (or could not be created: window null).
// Takes the newest waiting record and, with a window, makes it the current
// card in the same step; *displaced is the card it replaces, if any. *closed
// tells that CloseKestrine asked this card to close before it became
// current: it is not made current, and it shows nothing. Ends the thread's
// use of start.
ChartRequest* finishCardStart(CardStart* start, HWND window, HWND* displaced,
                              bool* closed) noexcept;

// CloseKestrine's step for one window it found: the window is no longer the
// one to take records, whether it is the current card or the starting card
// whose window exists but is not current yet. Call before asking it to close.
void noteCardAskedToClose(HWND window) noexcept;

// A card that is closing (it is no longer current) and still holds a record
// it claimed hands it on here: to the starting card, or to the current card
// (which is posted WM_CHART_HANDED_ON), when that has nothing newer; freed
// otherwise. from: the closing card.
void handOnRecord(HWND from, ChartRequest* record) noexcept;

// The current card's side of WM_CHART_HANDED_ON (and every card's as it is
// destroyed): the record handed on to this window, now its own; or null.
ChartRequest* takeHandedOnRecord(HWND window) noexcept;

// The module's detach: no rescue of a deposit runs or is due afterwards.
void stopRescuingDeposits() noexcept;

// True while window is the current card.
bool isCurrentCard(HWND window) noexcept;

// Clears the current card if it is window; true when it was.
bool leaveCurrentCard(HWND window) noexcept;

}  // namespace kestrine
