// The cached frame layers of a card window, held as a window property beside
// the record in GWLP_USERDATA: built for each record the window takes on, used
// for its frames, freed with it or left to the next card; without them frames
// are drawn from nothing.
#pragma once

#include <windows.h>

#include "core/chart_request.h"
#include "core/readout.h"

namespace kestrine {

// Builds the layers of the record the window has just taken on (its scale
// computed), freeing those of the record before. When they cannot be built
// the window's frames for this record are drawn from nothing.
void prepareFrameLayers(HWND window, const ChartRequest& request);

// Draws one frame of the record, with the readout when one is shown, and
// hands it to the window: composed from the window's layers when they were
// built for this record, else from nothing. False when the window did not
// take the frame (it keeps its previous one).
bool presentChartFrame(HWND window, const ChartRequest& request, double progress,
                       double elapsedSeconds, double fade, ReadoutPick readout = {});

// The readout a pointer over a device column of the card reads: a look-up
// in the layers' table, or a scan of the points when there are no layers.
ReadoutPick readoutPickAt(HWND window, const ChartRequest& request, int32_t column);

// Takes the property off the window; its layers are kept for a next card
// when it is the last card (keepClosedCardLayers), else freed.
void releaseFrameLayers(HWND window);

}  // namespace kestrine
