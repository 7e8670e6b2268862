// Shared helpers of the window tests: the module attached once per process
// with GDI+ held, cards run on the test's own thread, their frames watched,
// and the message pump that drives their timers.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/chart_request.h"

namespace kestrine {
namespace test {

struct Frame {
    HWND window = nullptr;
    double progress = 0.0;
    double elapsedSeconds = 0.0;
    double fade = 0.0;
};

// Every frame presented on this thread since the last clearFrames().
const std::vector<Frame>& frames();
void clearFrames();

// A counted record (as ShowKestrine would make it) of three points.
ChartRequest* newRequest(bool animate, int autoCloseSeconds, double animationSeconds = 1.5);

// A card on the calling thread: created, prepared and shown, owning request.
HWND openCardHere(ChartRequest* request);
// The record a card window holds, or null.
ChartRequest* attached(HWND card);

// Offers the record of offer id to card through its window procedure and,
// when claimed, dispatches the WM_CHART_ADOPT it queued for itself, as its
// message loop would. The card's answer to the offer.
LRESULT offerAndAdopt(HWND card, uint64_t id);
// How many WM_CHART_ADOPT are queued for card; removes them.
int takeQueuedAdoptions(HWND card);

// Dispatches this thread's messages for about ms milliseconds. A WM_QUIT
// (posted by a card's WM_DESTROY) is swallowed; quitMessagesSeen counts them.
void pumpFor(DWORD ms);
int quitMessagesSeen();

// The title of the record behind the last frame presented by a card running
// on a thread of its own: which chart a card really shows.
std::wstring lastShownTitle();

// Destroys the card if it still exists and swallows its WM_QUIT.
void closeCardHere(HWND card);

// A plain hidden window of this thread to stand in for "another window".
HWND makeOtherWindow();

int gdiplusUserCount();
void setCurrentWindow(HWND window);
HWND readCurrentWindow();
void forgetSavedPosition();

}  // namespace test
}  // namespace kestrine
