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

}  // namespace testing
}  // namespace kestrine
