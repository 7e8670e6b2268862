// Who owns a ChartRequest while it moves between a host thread and a card:
// the one place records are deleted (so tests can count live ones), and the
// module-wide registry of hand-over offers that are still waiting for a card.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "interface/chart_request.h"

namespace kestrine {

// Every record that leaves request building is counted in here...
ChartRequest* adoptBuiltRequest(std::unique_ptr<ChartRequest> request) noexcept;
// ...and every path that ends a record's life goes through this. Null is fine.
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

}  // namespace kestrine
