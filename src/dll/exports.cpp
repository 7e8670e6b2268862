// Dll, the top layer: the module a host loads, built on card, draw and core.
// The three exported entry points. ShowKestrine builds the record on the
// caller's thread, then offers it to the open card or starts a new card's UI
// thread; nothing thrown inside may reach the host.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "kestrine.h"

#include "card/record_ownership.h"
#include "card/ui_thread.h"
#include "card/window_proc.h"
#include "core/request_building.h"

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
    OfferId offer = 0;
    try {
        offer = openOffer(record, card);
    } catch (...) {
        return false;  // no memory to register the offer: a new card instead
    }
    DWORD_PTR answer = 0;
    // SMTO_BLOCK: the caller's thread handles none of the messages sent to it
    // while it waits, so no window procedure of the host runs inside a call.
    // That could only hold a card up if the card's thread sent to another
    // thread, and it never does: it is never activated (MA_NOACTIVATE,
    // WS_EX_NOACTIVATE, shown and moved with SWP_NOACTIVATE), so no focus or
    // activation change sends to the windows it would leave; its capture is
    // its own thread's; everything else it tells other windows (WM_CLOSE to
    // a displaced card, its own reminders) is posted. Should a system send
    // still reach a waiting host, the time-out bounds the wait.
    SendMessageTimeoutW(card, WM_CHART_REPLACE, 0, offerAsLParam(offer),
                        SMTO_BLOCK | SMTO_ABORTIFHUNG, timeoutMs, &answer);
    // The card answers 1 exactly when it claimed the offer. The registry
    // settles ownership even when the answer did not arrive in time: an offer
    // still there is withdrawn here and is void for the card from now on.
    return withdrawOffer(offer) == nullptr;
}

// The record already waits in the new card's start; only the thread is
// missing. It takes the newest record there once its window exists.
int startCardThread(CardStart* start) noexcept {
    HANDLE thread = CreateThread(nullptr, 0, uiThreadMain, start, 0, nullptr);
    // Calls that handed records to this start meanwhile wait for this outcome.
    settleCardThread(start, thread != nullptr);
    if (thread == nullptr) {
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
    bool mayDeposit = true;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const bool late = now >= deadline;
        HWND card = nullptr;
        ChartRequest* replaced = nullptr;
        CardStart* start = nullptr;
        switch (routeRecord(record, refused, !(late && lateOfferMade), mayDeposit, &card, &replaced,
                            &start)) {
        case HandOverRoute::startingCard:
            deleteRequest(replaced);  // never shown: a newer record came
            return awaitCardThread(start) ? KESTRINE_OK : KESTRINE_NOT_STARTED;
        case HandOverRoute::newCard:
            return startCardThread(start);
        case HandOverRoute::notStarted:
            deleteRequest(record);
            return KESTRINE_NOT_STARTED;
        case HandOverRoute::deposited:
            deleteRequest(replaced);  // never shown: a newer record came
            if (PostMessageW(card, WM_CHART_HANDED_ON, 0, 0) || !reclaimDeposit(card, record)) {
                return KESTRINE_OK;
            }
            mayDeposit = false;  // the card's queue takes nothing: offer instead
            continue;
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

// The card windows of the desktop, found before any is asked to close, so
// that the walk never steps from a window that its close has destroyed.
// False when there was no memory for the list.
bool findCardWindows(std::vector<HWND>* found) noexcept {
    try {
        HWND card = nullptr;
        while ((card = FindWindowExW(nullptr, card, CARD_WINDOW_CLASS, nullptr)) != nullptr) {
            found->push_back(card);
        }
        return true;
    } catch (...) {
        return false;
    }
}

// A card asked to close is no longer the one to take records: a ShowKestrine
// right after this opens a new card instead of handing its chart to one that
// is about to go. That holds for the starting card too, once its window
// exists.
void askToClose(HWND card) noexcept {
    noteCardAskedToClose(card);
    PostMessageW(card, WM_CLOSE, 0, 0);
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
    using namespace kestrine;
    int asked = 0;
    std::vector<HWND> cards;
    if (!findCardWindows(&cards)) {
        // No memory for the list: close as the walk goes.
        HWND card = nullptr;
        while ((card = FindWindowExW(nullptr, card, CARD_WINDOW_CLASS, nullptr)) != nullptr) {
            askToClose(card);
            ++asked;
        }
        return asked;
    }
    for (HWND card : cards) {
        askToClose(card);
        ++asked;  // counted whether or not the post succeeded
    }
    return asked;
}

extern "C" int KESTRINE_CALL KestrineVersion(void) { return kestrine::INTERFACE_VERSION; }
