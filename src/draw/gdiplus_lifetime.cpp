// The reference-counted GDI+ lifetime shared by every card's UI thread, and
// the test hooks that stand in for GDI+ start-up and shut-down.

#include "draw/gdiplus_lifetime.h"

#include <gdiplus.h>

#include "draw/card_base.h"
#include "draw/module_lock.h"
#include "draw/test_seams.h"
#include "draw/text_drawing.h"

namespace kestrine {

int gdiplusUsers = 0;
ULONG_PTR gdiplusToken = 0;

namespace {

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
        // The card bases are kept for cards to come while any card is open.
        forgetCardBases();
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

namespace testing {

void setGdiplusHooks(GdiplusStartupHook startup, GdiplusShutdownHook shutdown) {
    ModuleLockGuard lock;
    startupHook = startup;
    shutdownHook = shutdown;
}

}  // namespace testing

}  // namespace kestrine
