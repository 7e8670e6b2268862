// Card, the layer above draw: one card's window and thread (dll builds on it).
// The card window's procedure and chart preparation: animation clock, drag
// and click, the readout under the pointer, auto-close, adoption of a newer
// call's record, destruction.
// Runs only on the card's UI thread; all state is the record in GWLP_USERDATA.
#pragma once

#include <windows.h>

#include "core/chart_request.h"

namespace kestrine {

// Offer of a newer record: wParam 0, lParam the id of a pending offer (see
// hand_over.h). Result 1: adopted, the card owns the record; 0: refused.
constexpr UINT WM_CHART_REPLACE = WM_APP + 0x11;
// Posted by a card to itself after it claimed an offer: prepare the newest
// claimed record. The sender has long returned by then.
constexpr UINT WM_CHART_ADOPT = WM_APP + 0x12;
// Posted to the current card when a closing card has handed on a newer record
// it had claimed (see handOnRecord).
constexpr UINT WM_CHART_HANDED_ON = WM_APP + 0x13;

constexpr UINT_PTR ANIMATION_TIMER = 1;
constexpr UINT_PTR AUTOCLOSE_TIMER = 2;
// One readout frame per tick, however many pointer moves came in it.
constexpr UINT_PTR READOUT_TIMER = 3;
constexpr UINT ANIMATION_INTERVAL_MS = 10;
// How often a card whose resting frame the window refused tries again.
constexpr UINT RESTING_RETRY_MS = 100;

LRESULT CALLBACK chartWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Stops the card's timers, computes the scale, starts the clock, presents the first
// frame and starts the timers the record asks for. False only when the scale
// could not be computed (out of memory): nothing was drawn or started, and
// the caller destroys the window.
bool prepareChart(HWND window, ChartRequest& request);

}  // namespace kestrine
