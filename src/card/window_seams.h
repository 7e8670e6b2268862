// Hooks of the card windows that only test programs use: stand-ins for the two
// shcore functions and the monitor lookup, a watcher of every presented frame,
// a hold at each step of a card's life, and the count of live records. The
// shipped DLL never sets or exports them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace kestrine {

namespace testing {

using GetProcessDpiAwarenessFn = HRESULT(WINAPI*)(HANDLE process, int* awareness);
using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR monitor, int dpiType, UINT* dpiX,
                                            UINT* dpiY);

// What the DPI query sees instead of shcore.dll. shcorePresent false stands
// for a system without the DLL; a null function for a missing export.
struct ShcoreStandIn {
    bool shcorePresent = true;
    GetProcessDpiAwarenessFn getProcessDpiAwareness = nullptr;
    GetDpiForMonitorFn getDpiForMonitor = nullptr;
};

// Null (the default) loads the real shcore.dll. The pointed-to value must
// outlive every card created while it is set.
void setShcoreStandIn(const ShcoreStandIn* standIn);

// What the card thread finds instead of user32's SetThreadDpiAwarenessContext
// (null: a system before thread DPI contexts). Null stand-in: the real one.
using SetThreadDpiAwarenessContextFn = HANDLE(WINAPI*)(HANDLE context);
struct ThreadDpiStandIn {
    SetThreadDpiAwarenessContextFn setThreadDpiAwarenessContext = nullptr;
};
void setThreadDpiStandIn(const ThreadDpiStandIn* standIn);

// What a new card's placement asks instead of user32's MonitorFromRect, so
// that a test can stand a second monitor beside Wine's one. Null: the real one.
using MonitorFromRectFn = HMONITOR(WINAPI*)(const RECT* rect, DWORD flags);
void setMonitorFromRectStandIn(MonitorFromRectFn standIn);

// Called on the card's UI thread after every renderFrame, with its arguments.
using FrameWatcher = void (*)(HWND window, double progress, double elapsedSeconds, double fade);
void setFrameWatcher(FrameWatcher watcher);

// The steps of a card's life at which a test can hold it (the hook runs on
// the card's UI thread and may block): admitted, before its window exists;
// its window exists, hidden, with its first record, before preparing it.
enum class CardStep { beforeWindow, preparing };
using CardStepHook = void (*)(CardStep step, HWND window);
void setCardStepHook(CardStepHook hook);
// Called by the card at each step; runs the hook when one is set.
void reachCardStep(CardStep step, HWND window);

// Records alive now (built and not yet deleted).
long liveRequests();
// Accessible objects of cards alive now (made for a client and not yet let go).
long liveAccessibleObjects();
// What starts a new card's UI thread instead of CreateThread: false stands
// for a thread that could not be created. Null: the real one.
using CardThreadStarter = bool (*)(uint64_t card);
void setCardThreadStarter(CardThreadStarter starter);

// Called by CloseKestrine's walk for each card window as it is found, before
// any is asked to close; the hook may destroy windows. Null: none.
using CloseWalkHook = void (*)(HWND found);
void setCloseWalkHook(CloseWalkHook hook);

// The card that takes records now: its window (null while it has none, or
// none is current), and its number (0: none).
HWND currentCard();
uint64_t currentCardId();

}  // namespace testing
}  // namespace kestrine
