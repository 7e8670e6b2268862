// Helpers of the window tests; see card_test_support.h. The module is attached
// to the test program itself, as DllMain would attach it to the DLL.

#include "card_test_support.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "card/card_registry.h"
#include "card/hand_over.h"
#include "card/ui_thread.h"
#include "card/window_proc.h"
#include "card/window_seams.h"
#include "core/request_building.h"
#include "dll/module_state.h"
#include "draw/gdiplus_lifetime.h"
#include "draw/module_lock.h"
#include "kestrine.h"

namespace kestrine {
namespace test {

namespace {

std::vector<Frame> seenFrames;

// The title of the record behind the last frame each of the last cards of
// other threads presented, read on that thread, which owns the record.
struct ShownTitle {
    HWND window = nullptr;
    std::wstring title;
};
std::mutex shownTitleLock;
ShownTitle shownTitles[32];
size_t nextShownTitle = 0;

DWORD testThread = 0;

void recordFrame(HWND window, double progress, double elapsedSeconds, double fade) {
    // Cards of other threads (card threads) are not this list's business.
    if (GetWindowThreadProcessId(window, nullptr) == testThread) {
        seenFrames.push_back(Frame{window, progress, elapsedSeconds, fade});
        return;
    }
    if (const ChartRequest* shown = attached(window)) {
        std::lock_guard<std::mutex> lock(shownTitleLock);
        for (ShownTitle& kept : shownTitles) {
            if (kept.window == window) {
                kept.title = shown->titleText;
                return;
            }
        }
        shownTitles[nextShownTitle] = ShownTitle{window, shown->titleText};
        nextShownTitle = (nextShownTitle + 1) % (sizeof shownTitles / sizeof shownTitles[0]);
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

uint64_t keptCard = 0;
bool keepCard(uint64_t card) {
    keptCard = card;
    return true;
}

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

namespace {
DWORD WINAPI cardThreadProc(LPVOID card) { return runCardThread(reinterpret_cast<uintptr_t>(card)); }
}  // namespace

HANDLE startCardThread(uint64_t card) {
    return CreateThread(nullptr, 0, cardThreadProc,
                        reinterpret_cast<LPVOID>(static_cast<uintptr_t>(card)), 0, nullptr);
}

uint64_t routeToNewCard(ChartRequest* request) {
    keptCard = 0;
    testing::setCardThreadStarter(&keepCard);
    const int routed = handOverRecord(request);
    testing::setCardThreadStarter(nullptr);
    return routed == KESTRINE_OK ? keptCard : 0;
}

HWND openCardHere(ChartRequest* request) {
    // The pointer away from the card: one resting on its plot would bring a
    // readout frame into tests that count frames.
    SetCursorPos(0, 0);
    const uint64_t card = routeToNewCard(request);
    if (card == 0) {
        return nullptr;
    }
    // The test thread keeps the DPI context it has: a card thread's own
    // context would stay with it into the tests that follow.
    static const testing::ThreadDpiStandIn noThreadContexts;
    testing::setThreadDpiStandIn(&noThreadContexts);
    HWND window = openStartedCard(card);
    testing::setThreadDpiStandIn(nullptr);
    return window;
}

std::wstring shownTitleOf(HWND card) {
    std::lock_guard<std::mutex> lock(shownTitleLock);
    for (const ShownTitle& kept : shownTitles) {
        if (kept.window == card && card != nullptr) {
            return kept.title;
        }
    }
    return L"";
}

ChartRequest* attached(HWND card) {
    return reinterpret_cast<ChartRequest*>(GetWindowLongPtrW(card, GWLP_USERDATA));
}

int updateCardHere(HWND card, ChartRequest* request) {
    const int result = request != nullptr ? handOverRecord(request) : KESTRINE_OK;
    MSG message;
    while (PeekMessageW(&message, card, WM_CHART_LOOK, WM_CHART_LOOK, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
    return result;
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

HWND readCurrentWindow() { return testing::currentCard(); }

void forgetSavedPosition() {
    ModuleLockGuard lock;
    savedPositionValid = false;
    savedPosition = POINT{0, 0};
}

}  // namespace test
}  // namespace kestrine
