// The hand-over's platform side: the one HandOverMachine of the process
// under moduleLock, the events that ShowKestrine, CloseKestrine, the rescue
// timer and the card threads report to it, and the carrying out of what it
// decides (freeing records, starting card threads, posting to cards, arming
// the rescue). No routing decision is taken here. Also the one place records
// are deleted, so that tests can count live ones.
#pragma once

#include <windows.h>

#include <memory>

#include "core/card_description.h"
#include "core/chart_request.h"
#include "core/hand_over_machine.h"

namespace kestrine {

// Every record that leaves request building is counted in here...
ChartRequest* adoptBuiltRequest(std::unique_ptr<ChartRequest> request) noexcept;
// ...and every path that ends a record's life goes through this. Null is fine.
void deleteRequest(ChartRequest* request) noexcept;

// ShowKestrine's hand-over of a record it built; never waits for a card.
// KESTRINE_OK once the record waits for a card that will take it (or a newer
// one); KESTRINE_NOT_STARTED when the card thread this call had to start
// could not be started (the record is freed). Always takes the record.
int handOverRecord(ChartRequest* record) noexcept;

// CloseKestrine's first step: every card and record from before is void. No
// card current now will take a record or become visible; a record waiting
// is freed. The caller then asks every card window to close.
void voidCardsForClose() noexcept;

// The steps of a card's thread, in order. admitCardWindow waits while too
// many card windows exist (for at most a moment); false once the card is
// void, when it makes no window. takeFirstRecord: the window was made (or
// not: null); the record it is to prepare, or null when it is void and is
// to destroy its window. showIfStillCurrent shows the prepared card and
// announces it, in one step with the check: false when it is void (it then
// destroys its window, never seen).
bool admitCardWindow(CardId card) noexcept;
ChartRequest* takeFirstRecord(CardId card, HWND window) noexcept;
bool showIfStillCurrent(CardId card, HWND window) noexcept;

// The card was told to look (or looks by itself): the newest record waiting
// for it, now its own; null when there is none or it is not current.
ChartRequest* takeWaitingRecord(CardId card) noexcept;

// Announces what an update changed, in one step with the check that the
// card is still current: a card closed or replaced meanwhile says nothing.
void announceIfStillCurrent(CardId card, HWND window, const CardTextChanges& changes) noexcept;

// From the window procedure: a card window is created or destroyed (every
// card window, counted from WM_NCCREATE to WM_NCDESTROY), and a card's
// window is going (WM_DESTROY).
void cardWindowCounted(int change) noexcept;
void cardEnded(CardId card) noexcept;

// The module's detach: no rescue runs or is due afterwards.
void stopRescues() noexcept;

}  // namespace kestrine
