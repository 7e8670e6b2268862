// Card, the layer above draw: one card's window and thread (dll builds on it).
// The card window's procedure and chart preparation: animation clock, drag
// and click, the readout under the pointer, auto-close, adoption of a newer
// call's record, destruction.
// Runs only on the card's UI thread; all state is the record in GWLP_USERDATA.
#pragma once

#include <windows.h>

#include "core/chart_request.h"

namespace kestrine {

// Posted to the current card when a record waits for it: it asks the
// hand-over for the record and prepares it. Anyone may post it (another
// process too); a card only ever takes what the hand-over holds for it.
constexpr UINT WM_CHART_LOOK = WM_APP + 0x11;

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
