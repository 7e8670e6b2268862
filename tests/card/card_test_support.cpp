// Helpers of the window tests; see card_test_support.h. The module is attached
// to the test program itself, as DllMain would attach it to the DLL.

#include "card_test_support.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "card/card_registry.h"
#include "card/record_ownership.h"
#include "card/ui_thread.h"
#include "card/window_proc.h"
#include "card/window_seams.h"
#include "core/request_building.h"
#include "dll/module_state.h"
#include "draw/gdiplus_lifetime.h"
#include "draw/module_lock.h"

namespace kestrine {
namespace test {

namespace {

std::vector<Frame> seenFrames;
int quitCount = 0;

// The title of the record behind the last frame a card thread presented,
// read on that thread, which owns the record.
std::mutex shownTitleLock;
std::wstring shownTitle;

DWORD testThread = 0;

void recordFrame(HWND window, double progress, double elapsedSeconds, double fade) {
    // Cards of other threads (uiThreadMain runs) are not this list's business.
    if (GetWindowThreadProcessId(window, nullptr) == testThread) {
        seenFrames.push_back(Frame{window, progress, elapsedSeconds, fade});
        return;
    }
    if (const ChartRequest* shown = attached(window)) {
        std::lock_guard<std::mutex> lock(shownTitleLock);
        shownTitle = shown->titleText;
    }
}

class CardEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        testThread = GetCurrentThreadId();
        attachModule(GetModuleHandleW(nullptr));
        acquireGdiplus();  // cards on the test thread draw without a UI thread
        testing::setFrameWatcher(&recordFrame);
    }
    void TearDown() override {
        testing::setFrameWatcher(nullptr);
        releaseGdiplus();
    }
};

::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new CardEnvironment);

LRESULT CALLBACK otherWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

const std::vector<Frame>& frames() { return seenFrames; }
void clearFrames() { seenFrames.clear(); }

ChartRequest* newRequest(bool animate, int autoCloseSeconds, double animationSeconds) {
    return adoptBuiltRequest(buildChartRequest(L"0:0;60:1500;120:-300", L"Title", L"Sub",
                                               L"+1,200", L"note", 0, autoCloseSeconds,
                                               animate ? 1 : 0, animationSeconds, 1, 0xFFFFFFFFu,
                                               0xFFFFFFFFu));
}

HWND openCardHere(ChartRequest* request) {
    HWND card = createCardWindow(request);
    if (card != nullptr && prepareChart(card, *request)) {
        showCard(card);
    }
    return card;
}

void pumpFor(DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                ++quitCount;
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    } while (GetTickCount64() < end);
}

int quitMessagesSeen() { return quitCount; }

std::wstring lastShownTitle() {
    std::lock_guard<std::mutex> lock(shownTitleLock);
    return shownTitle;
}

ChartRequest* attached(HWND card) {
    return reinterpret_cast<ChartRequest*>(GetWindowLongPtrW(card, GWLP_USERDATA));
}

LRESULT offerAndAdopt(HWND card, uint64_t id) {
    const LRESULT answer = chartWindowProc(card, WM_CHART_REPLACE, 0, static_cast<LPARAM>(id));
    MSG message;
    while (PeekMessageW(&message, card, WM_CHART_ADOPT, WM_CHART_ADOPT, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
    return answer;
}

int takeQueuedAdoptions(HWND card) {
    int count = 0;
    MSG message;
    while (PeekMessageW(&message, card, WM_CHART_ADOPT, WM_CHART_ADOPT, PM_REMOVE)) {
        ++count;
    }
    return count;
}

void closeCardHere(HWND card) {
    if (IsWindow(card)) {
        DestroyWindow(card);
    }
    pumpFor(0);
}

HWND makeOtherWindow() {
    static const wchar_t* const name = L"KestrineTestOther";
    static const bool registered = [] {
        WNDCLASSEXW c = {};
        c.cbSize = sizeof(c);
        c.lpfnWndProc = otherWindowProc;
        c.hInstance = GetModuleHandleW(nullptr);
        c.lpszClassName = name;
        return RegisterClassExW(&c) != 0;
    }();
    (void)registered;
    return CreateWindowExW(0, name, L"other", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

int gdiplusUserCount() {
    ModuleLockGuard lock;
    return gdiplusUsers;
}

void setCurrentWindow(HWND window) {
    ModuleLockGuard lock;
    currentWindow = window;
}

HWND readCurrentWindow() {
    ModuleLockGuard lock;
    return currentWindow;
}

void forgetSavedPosition() {
    ModuleLockGuard lock;
    savedPositionValid = false;
    savedPosition = POINT{0, 0};
}

}  // namespace test
}  // namespace kestrine
