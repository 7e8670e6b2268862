// Extra exports of kestrine_test.dll, the test-only twin of kestrine.dll:
// counts of live records, pending offers, GDI+ users, drawing objects and
// presented frames, the title of the last presented frame, the time of the
// first frame after a mark, and what is kept for a next card, for end-to-end
// tests and benchmarks.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <mutex>
#include <string>

#include "card/window_seams.h"
#include "core/chart_request.h"
#include "draw/card_base.h"
#include "draw/frame_layer_seams.h"
#include "draw/gdiplus_lifetime.h"
#include "draw/module_lock.h"
#include "draw/test_seams.h"

namespace {

std::atomic<long> framesPresented{0};
// QueryPerformanceCounter of the first opening frame (elapsed time 0) after
// the last arming; 0 while none has been presented since.
std::atomic<long long> firstFrameTicks{0};

// The title of the record behind the last presented frame: which chart a card
// really shows. Read on the card's own thread, which owns the record. Only
// its start is kept, so that a long title costs a frame nothing more.
constexpr std::size_t KEPT_TITLE_UNITS = 256;
std::mutex lastTitleLock;
std::wstring lastTitle;
std::size_t lastTitleLength = 0;

// The same for each of the last cards that presented a frame, so that a
// test can ask what one card shows while another is still closing.
struct WindowTitle {
    HWND window = nullptr;
    std::wstring title;
};
constexpr std::size_t KEPT_WINDOWS = 64;
WindowTitle windowTitles[KEPT_WINDOWS];
std::size_t nextWindowTitle = 0;

void keepWindowTitle(HWND window, const std::wstring& title) {
    for (WindowTitle& kept : windowTitles) {
        if (kept.window == window) {
            kept.title = title;
            return;
        }
    }
    windowTitles[nextWindowTitle] = WindowTitle{window, title};
    nextWindowTitle = (nextWindowTitle + 1) % KEPT_WINDOWS;
}

void watchFrame(HWND window, double, double elapsedSeconds, double) {
    framesPresented.fetch_add(1);
    if (const auto* shown = reinterpret_cast<const kestrine::ChartRequest*>(
            GetWindowLongPtrW(window, GWLP_USERDATA))) {
        std::lock_guard<std::mutex> lock(lastTitleLock);
        lastTitle.assign(shown->titleText, 0, KEPT_TITLE_UNITS);
        lastTitleLength = shown->titleText.size();
        keepWindowTitle(window, lastTitle);
    }
    // Only a record's opening frame of an animated run starts at elapsed 0;
    // ticks of a card already running are not what the mark waits for.
    if (elapsedSeconds != 0.0) {
        return;
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    long long expected = 0;
    firstFrameTicks.compare_exchange_strong(expected, now.QuadPart);
}

// Installed while the DLL's static objects are built, before any card exists.
const bool watcherInstalled = (kestrine::testing::setFrameWatcher(&watchFrame), true);

// A host program that loads this DLL as its kestrine.dll (the live-card
// benchmark runs kestrine-show so) cannot be asked for the count; when
// KESTRINE_TEST_FRAME_REPORT names a file, the count is written there as the
// process ends and the DLL's static objects go.
struct FrameReport {
    ~FrameReport() {
        wchar_t path[MAX_PATH] = {};
        const DWORD length = GetEnvironmentVariableW(L"KESTRINE_TEST_FRAME_REPORT", path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            return;
        }
        HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return;
        }
        char text[32];
        const int size = wsprintfA(text, "%ld\n", framesPresented.load());
        DWORD written = 0;
        WriteFile(file, text, static_cast<DWORD>(size), &written, nullptr);
        CloseHandle(file);
    }
} frameReport;

}  // namespace

extern "C" long KestrineTestLiveRecords(void) { return kestrine::testing::liveRequests(); }

extern "C" long KestrineTestLiveAccessibleObjects(void) {
    return kestrine::testing::liveAccessibleObjects();
}

extern "C" int KestrineTestGdiplusUsers(void) {
    kestrine::ModuleLockGuard lock;
    return kestrine::gdiplusUsers;
}

extern "C" long KestrineTestFramesPresented(void) {
    return watcherInstalled ? framesPresented.load() : -1;
}

extern "C" void KestrineTestArmFirstFrame(void) {
    // A frame may be in flight; arming counts only frames presented after it.
    firstFrameTicks.store(0);
}

extern "C" long long KestrineTestFirstFrameTicks(void) { return firstFrameTicks.load(); }

// Copies the start of the last presented frame's title into out (capacity
// units with the terminator, at most KEPT_TITLE_UNITS); its full length.
extern "C" int KestrineTestLastFrameTitle(wchar_t* out, int capacity) {
    std::lock_guard<std::mutex> lock(lastTitleLock);
    if (out != nullptr && capacity > 0) {
        const size_t n = (std::min)(lastTitle.size(), static_cast<size_t>(capacity - 1));
        std::wmemcpy(out, lastTitle.data(), n);
        out[n] = L'\0';
    }
    return static_cast<int>(lastTitleLength);
}

// The start of the title behind the last frame window presented, as above;
// -1 when it has presented none lately.
extern "C" int KestrineTestWindowFrameTitle(HWND window, wchar_t* out, int capacity) {
    std::lock_guard<std::mutex> lock(lastTitleLock);
    for (const WindowTitle& kept : windowTitles) {
        if (kept.window == window && window != nullptr) {
            if (out != nullptr && capacity > 0) {
                const size_t n = (std::min)(kept.title.size(), static_cast<size_t>(capacity - 1));
                std::wmemcpy(out, kept.title.data(), n);
                out[n] = L'\0';
            }
            return static_cast<int>(kept.title.size());
        }
    }
    return -1;
}

extern "C" long KestrineTestLiveDrawingObjects(void) {
    return kestrine::testing::liveGdiObjects() + kestrine::testing::liveGdiplusObjects();
}

// What the module keeps for a next card once the last one has closed (its
// frame surface, the card bases and the hint and border sets), and how long
// it keeps it.
extern "C" long long KestrineTestKeptBytes(void) {
    return static_cast<long long>(kestrine::testing::cardBaseBytes() +
                                  kestrine::testing::hintAndBorderBytes() +
                                  kestrine::testing::closedCardLayerBytes());
}

extern "C" void KestrineTestKeepMilliseconds(unsigned int milliseconds) {
    kestrine::testing::setCardBaseKeepMilliseconds(milliseconds);
}
