// Hooks of the card windows that only test programs use: stand-ins for the two
// shcore functions, a watcher of every presented frame, and counts of live
// records and pending offers. The shipped DLL never sets or exports them.
#pragma once

#include <windows.h>

#include <cstddef>

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

// Called on the card's UI thread after every renderFrame, with its arguments.
using FrameWatcher = void (*)(HWND window, double progress, double elapsedSeconds, double fade);
void setFrameWatcher(FrameWatcher watcher);

// Records alive now (built and not yet deleted), and offers still waiting.
long liveRequests();
size_t pendingOfferCount();

}  // namespace testing
}  // namespace kestrine
