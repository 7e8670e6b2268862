// Who owns a ChartRequest while it moves between a host thread and a card:
// the one place records are deleted (so tests can count live ones), the
// module-wide registry of hand-over offers that are still waiting for a card,
// the one card that is starting, and the order that says which record is
// newest. All of it is decided under moduleLock, in one place.
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

// Where ShowKestrine's record goes next, decided in one look at the module's
// state under moduleLock. While a card is starting every record goes to it,
// ahead of the current card, so that the newest record is never left with a
// card that the starting one is about to displace.
enum class HandOverRoute {
    offer,         // offer the record to the current card (*card)
    startingCard,  // the starting card (*start) took it; *replaced, if not
                   // null, is the older record it displaced, the caller's to
                   // free; the caller then awaits the card's thread
    newCard,       // the record waits in a new CardStart (*start): start its
                   // UI thread with it and settle the outcome
    notStarted,    // no memory for a new start: the record is still the caller's
    deposited,     // the current card (*card) is animating and takes the record
                   // at its next message: post it WM_CHART_HANDED_ON; *replaced,
                   // if not null, is an older deposit, the caller's to free
};

// refused: a card that has just refused or not answered, never offered to
// again; mayOffer false: offer to no card (the hand-over's time is up);
// mayDeposit false: offer rather than deposit.
HandOverRoute routeRecord(ChartRequest* record, HWND refused, bool mayOffer, bool mayDeposit,
                          HWND* card, ChartRequest** replaced, CardStart** start) noexcept;

// A deposit whose WM_CHART_HANDED_ON could not be posted is taken back, if
// the card has not taken it and no newer deposit has replaced it (which
// freed it): true when record is the caller's again.
bool reclaimDeposit(HWND card, ChartRequest* record) noexcept;

// The current card's animation ticks: while it is animating it pumps its
// queue every tick, so a record deposited for it is taken within a tick or
// so, and the caller need not wait for the frame the card has in hand.
void noteCardTick(HWND window, bool animating) noexcept;

// The caller that got newCard reports whether CreateThread(uiThreadMain,
// start) succeeded. On failure the waiting record (the newest handed in) is
// freed and every call waiting on this start learns it was not started.
void settleCardThread(CardStart* start, bool started) noexcept;

// A call whose record went to a starting card waits here until that card's
// thread is known to run (true) or could not be started (false), a matter of
// microseconds: no call is told its data will be shown by a thread that
// never existed.
bool awaitCardThread(CardStart* start) noexcept;

// The starting card's UI thread, first thing: which thread it is, so that a
// CloseKestrine that finds its window before it is current can tell.
void noteCardThread(CardStart* start) noexcept;

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

// Makes window the current card (or none, for null) with nothing claimed
// yet; the card it displaces is returned.
HWND makeCurrentCard(HWND window) noexcept;

// True while window is the current card.
bool isCurrentCard(HWND window) noexcept;

// Clears the current card if it is window; true when it was.
bool leaveCurrentCard(HWND window) noexcept;

}  // namespace kestrine
