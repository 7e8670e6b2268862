// Who owns a ChartRequest while it moves between a host thread and a card:
// the one place records are deleted (so tests can count live ones), the
// module-wide registry of hand-over offers that are still waiting for a card,
// and the one record waiting for the card whose window is being created.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "core/chart_request.h"

namespace kestrine {

// Every record that leaves request building is counted in here...
ChartRequest* adoptBuiltRequest(std::unique_ptr<ChartRequest> request) noexcept;
// ...and every path that ends a record's life goes through this, with the
// claimed record that waits in its nextChart. Null is fine.
void deleteRequest(ChartRequest* request) noexcept;

// Registers record as offered to card and returns the id to send as the
// lParam of WM_CHART_REPLACE (never 0, never reused). Throws std::bad_alloc;
// the caller then still owns record.
uint64_t openOffer(ChartRequest* record, HWND card);

// Called by the card on WM_CHART_REPLACE: the record of a live offer made to
// this card, now owned by the card; null for anything else. The id is only
// compared, never dereferenced.
ChartRequest* claimOffer(uint64_t id, HWND card) noexcept;

// Called by the sender once it no longer waits: the record when the offer
// was not claimed (the sender still owns it), null when the card has it.
ChartRequest* withdrawOffer(uint64_t id) noexcept;

// Where ShowKestrine's record goes next, decided in one look at the module's
// state under moduleLock, so that no call sees neither a current card nor a
// starting one while a starting card becomes current.
enum class HandOverRoute {
    offer,         // offer the record to the current card (*card)
    startingCard,  // the card being created took it; *replaced, if not null,
                   // is the older record it displaced, the caller's to free
    newCard,       // the record waits for a new card: start its UI thread
};

// refused: a card that has just refused or not answered, never offered to
// again; mayOffer false: offer to no card (the hand-over's time is up).
HandOverRoute routeRecord(ChartRequest* record, HWND refused, bool mayOffer, HWND* card,
                          ChartRequest** replaced) noexcept;

// The new card's UI thread could not be started: no card is starting any
// more, and the waiting record (the newest handed in) is the caller's to free.
ChartRequest* abandonCardStart() noexcept;

// The starting card's window exists (or could not be created: window null).
// Takes the newest waiting record and, with a window, makes it the current
// card in the same step; *displaced is the card it replaces, if any.
ChartRequest* finishCardStart(HWND window, HWND* displaced) noexcept;

}  // namespace kestrine
