// Shared helpers of the window tests: the module attached once per process
// with GDI+ held, cards run on the test's own thread and their frames watched
// (the message pump that drives their timers is in win_test_support.h).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/chart_request.h"
#include "win_test_support.h"

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

// request handed over as ShowKestrine hands it, to a new card whose thread is
// not started: the card's number, for openStartedCard or runCardThread; 0
// when the record went elsewhere (a card was current). Takes request.
uint64_t routeToNewCard(ChartRequest* request);
// The UI thread of card, started as the hand-over starts it; the handle is
// the caller's to close. Null when no thread could be created.
HANDLE startCardThread(uint64_t card);
// A card opened on the calling thread the way a card thread opens it: request
// routed to a new card, its window made, the record taken, prepared and
// shown. Null when no card was opened (the record went to the current card).
HWND openCardHere(ChartRequest* request);
// The record a card window holds, or null.
ChartRequest* attached(HWND card);

// Hands request (if not null) over as ShowKestrine does, to card on this
// thread, current, and lets it look as its message loop would.
int updateCardHere(HWND card, ChartRequest* request);

// The title of the record behind the last frame that card presented, for
// cards running on threads of their own: which chart a card really shows.
std::wstring shownTitleOf(HWND card);

// Destroys the card if it still exists and swallows its WM_QUIT.
void closeCardHere(HWND card);

// A plain hidden window of this thread to stand in for "another window".
HWND makeOtherWindow();

int gdiplusUserCount();
HWND readCurrentWindow();
void forgetSavedPosition();

}  // namespace test
}  // namespace kestrine
