// Each card's UI thread: GDI+ reference, the one-time window class, the card's
// place and its size from the DPI of the monitor it opens on, the layered
// window, the hand-over of "current card", and the message loop.
#pragma once

#include <windows.h>

#include "core/chart_request.h"
#include "core/hand_over_machine.h"
#include "core/placement.h"

namespace kestrine {

constexpr wchar_t CARD_WINDOW_CLASS[] = L"KestrineWindow";
constexpr wchar_t CARD_WINDOW_TITLE[] = L"Kestrine";

// The body of a card's UI thread, which the hand-over starts for a new card:
// its GDI+ reference, openStartedCard, then its message loop. 0: the window
// existed and its loop has ended; 1: it made no window, or it was void.
DWORD runCardThread(CardId card);

// runCardThread's steps before its message loop, on the calling thread (test
// programs run a card on their own thread with it): waits while too many
// card windows exist, creates the window, takes its first record, prepares
// it and shows the card, unless the card was closed or replaced meanwhile.
// The window, for a message loop to run until it is destroyed (it may be
// destroyed already); null when none was made or it was void. The thread's
// GDI+ reference is the caller's.
HWND openStartedCard(CardId card);

// registerCardClass: once per process, under moduleLock.
bool registerCardClass();

// Makes the windows the calling thread creates per-monitor aware (v2, else
// v1) where the system has thread DPI contexts; the host's own threads keep
// their awareness. True when the thread is now per-monitor aware.
bool makeThreadPerMonitorAware();

// Scale and pixel size from a monitor's DPI, through shcore.dll loaded for
// the query (or the test stand-in). On a per-monitor aware card thread the
// monitor's own DPI is used whatever the process's awareness; otherwise only
// a process that is aware sees it.
SurfaceSize monitorSurfaceSize(HMONITOR monitor, bool threadPerMonitorAware = false);

// Centred in the primary monitor's work area at that monitor's size, or at
// the last drop point, sized for the monitor a card there overlaps most, if
// it would still overlap a monitor at that size.
CardOpening chooseNewCardOpening(HMONITOR primary, const RECT& workArea,
                                 bool threadPerMonitorAware = false);

// Shows the prepared card without taking the focus, always on top.
void showCard(HWND window);

// Pumps the thread's messages until WM_QUIT, which WM_DESTROY posts; a quit
// that arrives while window still exists destroys it first.
void runCardMessageLoop(HWND window);

}  // namespace kestrine
