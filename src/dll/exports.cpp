// Dll, the top layer: the module a host loads, built on card, draw and core.
// The three exported entry points. ShowKestrine builds the record on the
// caller's thread, then offers it to the open card or starts a new card's UI
// thread; nothing thrown inside may reach the host.

#include <windows.h>

#include <cstdint>
#include <memory>

#include "kestrine.h"

#include "card/card_registry.h"
#include "card/record_ownership.h"
#include "card/ui_thread.h"
#include "card/window_proc.h"
#include "core/request_building.h"
#include "draw/module_lock.h"

namespace kestrine {

namespace {

constexpr UINT HANDOVER_TIMEOUT_MS = 3000;
// Once the hand-over time is up, a card that has become current meanwhile
// (the newer card that replaced a hung one) still gets one offer of this
// length: a card that answers at once takes the record, instead of a new
// card being started that would close it.
constexpr UINT LATE_OFFER_TIMEOUT_MS = 250;
constexpr int INTERFACE_VERSION = 100;

// Offers record to the open card, waiting at most timeoutMs. True when the
// card took it (it owns it now); false when the record is still the caller's.
bool offerToCard(HWND card, ChartRequest* record, UINT timeoutMs) noexcept {
    uint64_t offer = 0;
    try {
        offer = openOffer(record, card);
    } catch (...) {
        return false;  // no memory to register the offer: a new card instead
    }
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(card, WM_CHART_REPLACE, 0, static_cast<LPARAM>(offer), SMTO_ABORTIFHUNG,
                        timeoutMs, &answer);
    // The card answers 1 exactly when it claimed the offer. The registry
    // settles ownership even when the answer did not arrive in time: an offer
    // still there is withdrawn here and is void for the card from now on.
    return withdrawOffer(offer) == nullptr;
}

// The record already waits in the starting-card slot; only the thread is
// missing. It takes the newest record there once its window exists.
int startCardThread() noexcept {
    HANDLE thread = CreateThread(nullptr, 0, uiThreadMain, nullptr, 0, nullptr);
    if (thread == nullptr) {
        deleteRequest(abandonCardStart());
        return KESTRINE_NOT_STARTED;
    }
    CloseHandle(thread);  // never joined: the card ends by itself
    return KESTRINE_OK;
}

int handOver(ChartRequest* record) noexcept {
    // A card that is closing refuses. When a newer card has become current in
    // the meantime, the record goes to that one rather than to yet another new
    // card; all offers together wait no longer than one hand-over time-out
    // and one late offer.
    const ULONGLONG deadline = GetTickCount64() + HANDOVER_TIMEOUT_MS;
    HWND refused = nullptr;
    bool lateOfferMade = false;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const bool late = now >= deadline;
        HWND card = nullptr;
        ChartRequest* replaced = nullptr;
        switch (routeRecord(record, refused, !(late && lateOfferMade), &card, &replaced)) {
        case HandOverRoute::startingCard:
            deleteRequest(replaced);  // never shown: a newer record came
            return KESTRINE_OK;
        case HandOverRoute::newCard:
            return startCardThread();
        case HandOverRoute::offer:
            break;
        }
        lateOfferMade = late;
        const UINT timeout = late ? LATE_OFFER_TIMEOUT_MS : static_cast<UINT>(deadline - now);
        if (IsWindow(card) && offerToCard(card, record, timeout)) {
            return KESTRINE_OK;
        }
        refused = card;
    }
}

}  // namespace

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
    return handOver(record);
}

extern "C" int KESTRINE_CALL CloseKestrine(void) {
    int asked = 0;
    HWND card = nullptr;
    while ((card = FindWindowExW(nullptr, card, kestrine::CARD_WINDOW_CLASS, nullptr)) != nullptr) {
        {
            // A card asked to close is no longer the one to take new charts:
            // a ShowKestrine right after this opens a new card instead of
            // handing its chart to one that is about to go.
            kestrine::ModuleLockGuard lock;
            if (kestrine::currentWindow == card) {
                kestrine::currentWindow = nullptr;
            }
        }
        PostMessageW(card, WM_CLOSE, 0, 0);
        ++asked;  // counted whether or not the post succeeded
    }
    return asked;
}

extern "C" int KESTRINE_CALL KestrineVersion(void) { return kestrine::INTERFACE_VERSION; }
