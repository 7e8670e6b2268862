// The reference-counted GDI+ lifetime shared by every card's UI thread, and
// the test hooks that stand in for GDI+ start-up and shut-down.

#include "draw/gdiplus_lifetime.h"

#include <gdiplus.h>

#include <memory>

#include "draw/card_base.h"
#include "draw/frame_layers.h"
#include "draw/module_lock.h"
#include "draw/test_seams.h"
#include "draw/text_drawing.h"

namespace kestrine {

int gdiplusUsers = 0;
ULONG_PTR gdiplusToken = 0;

namespace {

// After the last card, the cards' unchanging parts and the last card's frame
// surface are kept this long for a next card of the same size: a host that
// shows one card at a time (each closing itself before the next) would
// otherwise draw them and touch a new surface's pages every time. At most
// CARD_BASES_KEPT bases and twice as many hint and border sets (each
// a few percent of a surface, as tiles and pixel lists) and one frame surface
// (33 MB at scale 4) stay that long.
DWORD keepCardBasesMs = 60000;
// The one-shot timer that forgets them; guarded by moduleLock.
HANDLE forgetBasesTimer = nullptr;

// Everything is freed under the lock, so that nothing the module kept is
// still about once it holds none.
void forgetEverythingKept() {
    forgetCardBases();
    takeClosedCardLayers().reset();
}

void CALLBACK forgetUnusedCardBases(PVOID, BOOLEAN) {
    ModuleLockGuard lock;
    if (gdiplusUsers <= 0) {
        forgetEverythingKept();
    }
}

// Under moduleLock. Never waits for a callback that is running: it takes
// moduleLock, and finds a card using GDI+ again or no bases left.
void cancelForgettingCardBases() {
    if (forgetBasesTimer != nullptr) {
        DeleteTimerQueueTimer(nullptr, forgetBasesTimer, nullptr);
        forgetBasesTimer = nullptr;
    }
}

// Test programs may replace these; the DLL always calls GDI+ itself.
testing::GdiplusStartupHook startupHook = nullptr;
testing::GdiplusShutdownHook shutdownHook = nullptr;

Gdiplus::Status startGdiplus(ULONG_PTR* token, const Gdiplus::GdiplusStartupInput* input) {
    if (startupHook != nullptr) {
        return startupHook(token, input, nullptr);
    }
    return Gdiplus::GdiplusStartup(token, input, nullptr);
}

void stopGdiplus(ULONG_PTR token) {
    if (shutdownHook != nullptr) {
        shutdownHook(token);
        return;
    }
    Gdiplus::GdiplusShutdown(token);
}

}  // namespace

void acquireGdiplus() {
    ModuleLockGuard lock;
    cancelForgettingCardBases();
    if (gdiplusUsers == 0) {
        Gdiplus::GdiplusStartupInput input;
        input.GdiplusVersion = 1;
        input.DebugEventCallback = nullptr;
        input.SuppressBackgroundThread = FALSE;
        input.SuppressExternalCodecs = FALSE;
        // A failed start-up leaves the token 0; the thread still counts, and
        // its drawing calls simply fail.
        ULONG_PTR token = 0;
        if (startGdiplus(&token, &input) == Gdiplus::Ok) {
            gdiplusToken = token;
        }
    }
    ++gdiplusUsers;
}

void releaseGdiplus() {
    ModuleLockGuard lock;
    --gdiplusUsers;
    if (gdiplusUsers <= 0) {
        // The card bases are plain pixels, not GDI+ objects: they outlive
        // GDI+ for a while, and go at once when no timer can be had.
        cancelForgettingCardBases();
        if (!CreateTimerQueueTimer(&forgetBasesTimer, nullptr, forgetUnusedCardBases, nullptr,
                                   keepCardBasesMs, 0, WT_EXECUTEONLYONCE)) {
            forgetBasesTimer = nullptr;
            forgetEverythingKept();
        }
        if (gdiplusToken != 0) {
            // The generic typographic format belongs to the GDI+ instance
            // that is ending; the next start-up hands out a new one.
            forgetSharedTypographicFormat();
            stopGdiplus(gdiplusToken);
            gdiplusToken = 0;
        }
        gdiplusUsers = 0;
    }
}

void stopForgettingCardBases() {
    HANDLE timer = nullptr;
    {
        ModuleLockGuard lock;
        timer = forgetBasesTimer;
        forgetBasesTimer = nullptr;
    }
    if (timer != nullptr) {
        // Waits for a callback that is running; it takes moduleLock, which
        // is not held here.
        DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE);
    }
}

namespace testing {

void setGdiplusHooks(GdiplusStartupHook startup, GdiplusShutdownHook shutdown) {
    ModuleLockGuard lock;
    startupHook = startup;
    shutdownHook = shutdown;
}

void setCardBaseKeepMilliseconds(DWORD milliseconds) {
    ModuleLockGuard lock;
    keepCardBasesMs = milliseconds;
}

}  // namespace testing

}  // namespace kestrine
