// Dll, the top layer: the module a host loads, built on card, draw and core.
// The three exported entry points. ShowKestrine builds the record on the
// caller's thread and hands it over (card/hand_over.h); CloseKestrine voids
// what began before and asks every card window to close. Nothing thrown inside may reach the host.

#include <windows.h>

#include <atomic>
#include <vector>

#include "kestrine.h"

#include "card/hand_over.h"
#include "card/ui_thread.h"
#include "card/window_seams.h"
#include "core/request_building.h"

namespace kestrine {

namespace {

constexpr int INTERFACE_VERSION = 100;

std::atomic<testing::CloseWalkHook> closeWalkHook{nullptr};

BOOL CALLBACK collectCardWindow(HWND window, LPARAM found) {
    wchar_t className[32] = {};
    if (GetClassNameW(window, className, 32) > 0 && lstrcmpW(className, CARD_WINDOW_CLASS) == 0) {
        try {
            reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
        } catch (...) {
            return FALSE;  // no memory for more: close those found
        }
        if (const testing::CloseWalkHook hook = closeWalkHook.load()) {
            hook(window);
        }
    }
    return TRUE;
}

}  // namespace

namespace testing {

void setCloseWalkHook(CloseWalkHook hook) { closeWalkHook.store(hook); }

}  // namespace testing

}  // namespace kestrine

extern "C" int KESTRINE_CALL ShowKestrine(const wchar_t* series, const wchar_t* titleText,
                                          const wchar_t* subtitleText, const wchar_t* valueText,
                                          const wchar_t* noteText, int xAxisMode,
                                          int autoCloseSeconds, int animate,
                                          double animationSeconds, int positive,
                                          unsigned int positiveColor, unsigned int negativeColor) {
    using namespace kestrine;
    // Building never throws; running out of memory there reads as no chart.
    ChartRequest* record = adoptBuiltRequest(buildChartRequest(
        series, titleText, subtitleText, valueText, noteText, xAxisMode, autoCloseSeconds, animate,
        animationSeconds, positive, positiveColor, negativeColor));
    if (record == nullptr) {
        return KESTRINE_NO_CHART;
    }
    return handOverRecord(record);
}

extern "C" int KESTRINE_CALL CloseKestrine(void) {
    using namespace kestrine;
    // First, before the walk: every card and record from before this call is
    // void, so that none becomes visible after it returns, whether or not
    // the walk finds its window.
    voidCardsForClose();
    // The top-level windows as they are now, listed before any is asked to
    // close: a walk that stepped from window to window would end at one that
    // closed meanwhile (its own click, its delay, a replaced card going).
    std::vector<HWND> cards;
    EnumWindows(collectCardWindow, reinterpret_cast<LPARAM>(&cards));
    int asked = 0;
    for (HWND card : cards) {
        if (PostMessageW(card, WM_CLOSE, 0, 0)) {
            ++asked;  // a window gone meanwhile was not asked
        }
    }
    return asked;
}

extern "C" int KESTRINE_CALL KestrineVersion(void) { return kestrine::INTERFACE_VERSION; }
