// Helpers shared by Windows test programs of different make-up (the host test
// loads only the DLL, the others link the Windows layer): the message pump and
// waits, the card windows of a process, real pointer input, the surface
// behind a layered-window update, and a count of live GDI objects that works
// under Wine too.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace kestrine {
namespace test {

// The folder of the running test program, with its trailing separator: the
// DLL and the tools are built beside it.
inline std::wstring programFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    folder.resize(folder.find_last_of(L"\\/") + 1);
    return folder;
}

// WM_QUIT messages pumpFor has taken off the calling threads' queues.
inline int& quitMessageCount() {
    static int count = 0;
    return count;
}

// Dispatches the calling thread's messages for about ms milliseconds (at least
// one pass). A WM_QUIT is counted and dropped: a card run on the test's own
// thread posts one when it is destroyed, and the test thread goes on.
inline void pumpFor(DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                ++quitMessageCount();
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (GetTickCount64() >= end) {
            break;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    } while (GetTickCount64() < end);
}

inline int quitMessagesSeen() { return quitMessageCount(); }

// Pumps until condition() holds or ms milliseconds have passed; whether it held.
template <typename Condition>
bool waitUntil(Condition condition, DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (!condition()) {
        if (GetTickCount64() >= end) {
            return false;
        }
        pumpFor(10);
    }
    return true;
}

struct CardWindowSearch {
    DWORD processId;
    std::vector<HWND> found;
};

// A named callback: on x86 EnumWindows calls it __stdcall, which a lambda's
// conversion does not give.
inline BOOL CALLBACK collectCardWindow(HWND window, LPARAM context) {
    CardWindowSearch* s = reinterpret_cast<CardWindowSearch*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t name[32] = {};
    if (process == s->processId && GetClassNameW(window, name, 32) > 0 &&
        lstrcmpW(name, L"KestrineWindow") == 0) {
        s->found.push_back(window);
    }
    return TRUE;
}

// The card windows (class "KestrineWindow") of a process, in z-order.
inline std::vector<HWND> cardWindowsOf(DWORD processId) {
    CardWindowSearch search{processId, {}};
    EnumWindows(collectCardWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A surface in memory: ARGB as its source gave it, top-down rows.
struct Surface {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
};

// The whole surface behind a layered-window update: the DIB selected into the
// update's source DC, whatever rectangle the update names. Empty when the DC
// holds no DIB section.
inline Surface surfaceBehind(HDC source) {
    Surface surface;
    DIBSECTION section = {};
    if (GetObjectW(GetCurrentObject(source, OBJ_BITMAP), sizeof(section), &section) !=
        sizeof(section)) {
        return surface;
    }
    const uint32_t* bits = static_cast<const uint32_t*>(section.dsBm.bmBits);
    if (bits != nullptr && section.dsBm.bmBitsPixel == 32) {
        surface.width = section.dsBm.bmWidth;
        surface.height = std::abs(section.dsBm.bmHeight);
        surface.pixels.assign(bits, bits + static_cast<size_t>(surface.width) * surface.height);
    }
    return surface;
}

// Real input, as a person gives it.
inline void sendMouse(DWORD flags, LONG dx = 0, LONG dy = 0) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = dx;
    input.mi.dy = dy;
    input.mi.dwFlags = flags;
    SendInput(1, &input, sizeof(INPUT));
}

// Absolute moves are in 1/65536 of the screen; the pointer is checked and
// the request corrected until it lands on the exact pixel.
inline void pointerTo(int x, int y) {
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    LONG dx = static_cast<LONG>((x * 65536LL + width - 1) / width);
    LONG dy = static_cast<LONG>((y * 65536LL + height - 1) / height);
    for (int attempt = 0; attempt < 4; ++attempt) {
        sendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, dx, dy);
        pumpFor(30);
        POINT p = {};
        GetCursorPos(&p);
        if (p.x == x && p.y == y) {
            return;
        }
        dx += static_cast<LONG>((x - p.x) * 65536LL / width);
        dy += static_cast<LONG>((y - p.y) * 65536LL / height);
    }
}

// GDI objects alive in the process. Windows counts them for
// GetGuiResources; Wine 8 answers 0 there, but takes a handle's slot number
// alone (the upper half zero) for the object in that slot, so the objects
// are counted by asking each slot of the handle table for its type
// (measured: deleting 50 DCs counts 50 fewer, a new brush one more; the
// first DCs of a process bring a few objects of their own).
inline long gdiObjectCount() {
    const DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (counted != 0) {
        return static_cast<long>(counted);
    }
    long live = 0;
    for (ULONG_PTR slot = 1; slot <= 0xFFFF; ++slot) {
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(slot)) != 0) {
            ++live;
        }
    }
    return live;
}

}  // namespace test
}  // namespace kestrine
