// The module's process-wide globals, its attach and detach steps, and the
// reference-counted GDI+ lifetime shared by every card's UI thread.

#include "interface/module_state.h"

#include <gdiplus.h>

#include "chart/card_base.h"
#include "chart/text_drawing.h"
#include "interface/test_seams.h"

namespace kestrine {

HINSTANCE moduleInstance = nullptr;
CRITICAL_SECTION moduleLock;
bool moduleLockInitialized = false;

HWND currentWindow = nullptr;
bool savedPositionValid = false;
POINT savedPosition = {0, 0};
bool windowClassRegistered = false;
int gdiplusUsers = 0;
ULONG_PTR gdiplusToken = 0;
int cardWindows = 0;
CONDITION_VARIABLE cardWindowsChanged = CONDITION_VARIABLE_INIT;

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

void attachModule(HINSTANCE instance) {
    moduleInstance = instance;
    InitializeCriticalSection(&moduleLock);
    moduleLockInitialized = true;
    if (instance != nullptr) {
        DisableThreadLibraryCalls(instance);
    }
    // Pin by an address inside this module's code, so that cards and their
    // UI threads outlive any FreeLibrary of the host. The result is not
    // needed: an unpinned module still works while the host keeps it loaded.
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&attachModule), &pinned);
}

void detachModule(bool processTerminating) {
    // At process end other threads were killed mid-flight and may have held
    // the lock: touch nothing and let the system reclaim everything.
    if (processTerminating || !moduleLockInitialized) {
        return;
    }
    DeleteCriticalSection(&moduleLock);
    moduleLockInitialized = false;
}

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
