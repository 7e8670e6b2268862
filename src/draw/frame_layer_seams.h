// Hooks of the cached frame layers that only test programs use: make the
// layers fail to allocate, watch how frames reach the layered window, and
// look at the layers a card window holds. The shipped DLL never sets them.
#pragma once

#include <windows.h>

#include <cstddef>

namespace kestrine {

class FrameLayers;

namespace testing {

// While set, building layers fails as if their memory could not be had, and
// cards draw every frame from nothing.
void setFrameLayerAllocationFailure(bool fail);

// Called instead of UpdateLayeredWindowIndirect for frames composed from
// layers; null puts the real function back.
using LayeredPresentHook = BOOL(WINAPI*)(HWND window, const UPDATELAYEREDWINDOWINFO* info);
void setLayeredPresentHook(LayeredPresentHook hook);

// How many times layers have drawn the card below the curve (fill, header
// texts, grid and labels, zero line) rather than kept it from the window's
// previous layers.
long staticPartDraws();

// The bytes of the layers kept from the last closed card; 0 when none are.
std::size_t closedCardLayerBytes();

// The layers the card window holds for its record now; null when it has none
// and draws from nothing.
const FrameLayers* frameLayersOf(HWND window);

// Where the time of building layers and of composing and presenting their
// frames goes, in milliseconds, added up while a tally is set. The font
// choice is not in any of them (fontProbeMilliseconds).
struct LayerTimes {
    double surface = 0.0;        // the frame surface made and first touched
    double cardFill = 0.0;       // the card's fill, drawn or copied
    double headerTexts = 0.0;
    double gridAndLabels = 0.0;
    double zeroLine = 0.0;
    double curve = 0.0;          // outline, stroke and the pixels of long series
    double hintAndBorder = 0.0;  // their pixels found (or kept) and laid on
    double layers = 0.0;         // the curve's and the card's layers gathered
    double compose = 0.0;
    double present = 0.0;
    int builds = 0;
    int frames = 0;
};
// Null stops the tally. Written by whichever thread builds or presents; read
// it once those are done.
void setLayerTimeTally(LayerTimes* tally);

}  // namespace testing
}  // namespace kestrine
