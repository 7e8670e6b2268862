// What a host sees of the hand-over, with cards on their own threads reached
// through the exports: a card held on purpose at a step of its life (before
// its window exists, or preparing its first record) while the test closes
// and shows; a rescue that fires while CloseKestrine walks the windows; a
// card thread that cannot be started with a newer record waiting; calls
// that never wait for a busy card; a stray WM_QUIT. Every interleaving of
// the decisions themselves is the machine checker's.

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "card/card_registry.h"
#include "card/hand_over.h"
#include "card/ui_thread.h"
#include "card/window_seams.h"
#include "card_test_support.h"
#include "draw/frame_layer_seams.h"
#include "draw/test_seams.h"
#include "kestrine.h"

namespace kestrine {
namespace {

// One hold per step; each holds the first card thread that reaches it.
struct StepHold {
    std::atomic<bool> armed{false};
    HANDLE reached = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE released = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<HWND> window{nullptr};
};
StepHold holds[2];

StepHold& holdAt(testing::CardStep step) { return holds[static_cast<int>(step)]; }

void holdStep(testing::CardStep step, HWND window) {
    StepHold& hold = holdAt(step);
    bool armed = true;
    if (hold.armed.compare_exchange_strong(armed, false)) {
        hold.window.store(window);
        SetEvent(hold.reached);
        WaitForSingleObject(hold.released, 20000);  // never hold a run for ever
    }
}

void arm(testing::CardStep step) {
    StepHold& hold = holdAt(step);
    ResetEvent(hold.reached);
    ResetEvent(hold.released);
    hold.window.store(nullptr);
    hold.armed.store(true);
}

bool reached(testing::CardStep step) {
    return WaitForSingleObject(holdAt(step).reached, 10000) == WAIT_OBJECT_0;
}

void release(testing::CardStep step) { SetEvent(holdAt(step).released); }

using test::waitUntil;

std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

int show(const wchar_t* title, int animate = 0, double seconds = 0.3) {
    return ShowKestrine(L"0:0;60:1500;120:-300", title, L"", L"v", L"", 0, 0, animate, seconds, 1,
                        0xFFFFFFFFu, 0xFFFFFFFFu);
}

// A frame that takes this long to present is in the card's hand when a call
// comes.
constexpr DWORD SLOW_PRESENT_MS = 300;

BOOL WINAPI slowPresent(HWND window, const UPDATELAYEREDWINDOWINFO* info) {
    Sleep(SLOW_PRESENT_MS);
    return UpdateLayeredWindowIndirect(window, info);
}

// Set as the card's first frame at full alpha begins.
std::atomic<bool> lastFrameStarted{false};

int cardCount() { return static_cast<int>(test::cardWindowsOf(GetCurrentProcessId()).size()); }

HWND onlyCard() { return cardCount() == 1 ? FindWindowW(CARD_WINDOW_CLASS, nullptr) : nullptr; }

class HandOver : public ::testing::Test {
protected:
    void SetUp() override {
        for (StepHold& hold : holds) {
            hold.armed.store(false);
        }
        testing::setCardStepHook(&holdStep);
        records = testing::liveRequests();
        users = test::gdiplusUserCount();
    }
    void TearDown() override {
        for (StepHold& hold : holds) {
            hold.armed.store(false);
            SetEvent(hold.released);
        }
        CloseKestrine();
        EXPECT_TRUE(waitUntil([] { return cardCount() == 0; }, 5000));
        EXPECT_TRUE(waitUntil(
            [&] {
                return testing::liveRequests() == records &&
                       test::gdiplusUserCount() == users && testing::liveGdiObjects() == 0 &&
                       testing::liveGdiplusObjects() == 0;
            },
            5000))
            << "records " << testing::liveRequests() - records << ", GDI+ users "
            << test::gdiplusUserCount() - users;
        testing::setCardStepHook(nullptr);
    }

    // The one card on screen shows title, and nothing else is left.
    void expectShown(const wchar_t* title) {
        EXPECT_TRUE(waitUntil([&] { return test::shownTitleOf(onlyCard()) == title; }, 6000))
            << "cards " << cardCount() << ", showing " << narrow(test::shownTitleOf(onlyCard()));
        EXPECT_TRUE(waitUntil([&] { return testing::liveRequests() == records + 1; }, 3000))
            << "records " << testing::liveRequests() - records;
    }

    // Shows B to card, which is busy with a slow frame, and expects the call
    // back well before that frame is done, and B shown by the same card.
    void expectHandedOverWithoutWaiting(HWND card) {
        const ULONGLONG before = GetTickCount64();
        const int result = show(L"B", 1, 10.0);
        const ULONGLONG waited = GetTickCount64() - before;
        testing::setLayeredPresentHook(nullptr);
        ASSERT_EQ(result, 0);
        EXPECT_LT(waited, SLOW_PRESENT_MS / 2);
        expectShown(L"B");
        EXPECT_EQ(onlyCard(), card);
    }

    // A card opened with title, animating for 10 s, once it shows it; or null.
    static HWND showAnimatingCard(const wchar_t* title) {
        HWND card = nullptr;
        if (show(title, 1, 10.0) != 0 ||
            !waitUntil([&] { return test::shownTitleOf(card = onlyCard()) == title; }, 3000)) {
            return nullptr;
        }
        return card;
    }

    long records = 0;
    int users = 0;
};

TEST_F(HandOver, close_before_the_window_exists_leaves_the_newest_record_shown) {
    arm(testing::CardStep::beforeWindow);
    ASSERT_EQ(show(L"A"), 0);
    ASSERT_TRUE(reached(testing::CardStep::beforeWindow));
    EXPECT_EQ(CloseKestrine(), 0);  // nothing to find yet, so nothing to count
    ASSERT_EQ(show(L"B"), 0);       // the starting card takes it
    release(testing::CardStep::beforeWindow);
    expectShown(L"B");
}

// CloseKestrine right after ShowKestrine, before the card's window exists:
// the card never shows, its record is freed, and it is not counted.
TEST_F(HandOver, close_cancels_a_card_that_is_still_starting) {
    arm(testing::CardStep::beforeWindow);
    ASSERT_EQ(show(L"A"), 0);
    ASSERT_TRUE(reached(testing::CardStep::beforeWindow));
    EXPECT_EQ(CloseKestrine(), 0);
    EXPECT_EQ(testing::liveRequests(), records);
    release(testing::CardStep::beforeWindow);
    EXPECT_TRUE(waitUntil([&] { return test::gdiplusUserCount() == users; }, 3000));
    EXPECT_EQ(cardCount(), 0);
    ASSERT_EQ(show(L"B"), 0);
    expectShown(L"B");
}

// Shows and closes at full speed while closing cards fill their limit: each
// start waits for room, is cancelled, and its thread ends then, not when the
// wait would be up; none makes a window. Threads left waiting would all make
// windows together once room came.
TEST_F(HandOver, cancelled_starts_waiting_for_closing_cards_end_at_once) {
    cardWindowCounted(+3);  // as many as may be closing
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(show(L"A"), 0);
        CloseKestrine();
    }
    // The wait for room would hold them 2 s.
    EXPECT_TRUE(waitUntil([&] { return test::gdiplusUserCount() == users; }, 1500))
        << test::gdiplusUserCount() - users << " card threads still there";
    EXPECT_EQ(cardCount(), 0);
    EXPECT_EQ(testing::liveRequests(), records);
    cardWindowCounted(-3);
    ASSERT_EQ(show(L"B"), 0);
    expectShown(L"B");
}

// What the card's window is seen to do, through WinEvents as a screen
// reader or the shell sees it: shown, and the alert raised as it appears.
struct SeenEvents {
    std::atomic<HWND> window{nullptr};  // null: every card window
    std::atomic<int> shows{0};
    std::atomic<int> alerts{0};
} seen;

void CALLBACK noteWinEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG, LONG, DWORD, DWORD) {
    const HWND watched = seen.window.load();
    wchar_t name[32] = {};
    if (window == nullptr || (watched != nullptr && window != watched) ||
        GetClassNameW(window, name, 32) == 0 || std::wstring(name) != CARD_WINDOW_CLASS) {
        return;
    }
    (event == EVENT_SYSTEM_ALERT ? seen.alerts : seen.shows)++;
}

// WinEvents of this process's card windows, heard on the test's thread while
// it pumps.
class WinEventWatch {
public:
    WinEventWatch()
        : alert_(SetWinEventHook(EVENT_SYSTEM_ALERT, EVENT_SYSTEM_ALERT, nullptr, noteWinEvent,
                                 GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT)),
          show_(SetWinEventHook(EVENT_OBJECT_SHOW, EVENT_OBJECT_SHOW, nullptr, noteWinEvent,
                                GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT)) {
        seen.window = nullptr;
        seen.shows = 0;
        seen.alerts = 0;
    }
    ~WinEventWatch() {
        UnhookWinEvent(alert_);
        UnhookWinEvent(show_);
    }
    bool hooked() const { return alert_ != nullptr && show_ != nullptr; }

private:
    HWINEVENTHOOK alert_;
    HWINEVENTHOOK show_;
};

// A card closed while its window exists, hidden, and it prepares its first
// record: once CloseKestrine has returned it never becomes visible, raises
// no alert, and the next call's card shows.
TEST_F(HandOver, a_card_closed_while_it_prepares_never_shows) {
    WinEventWatch watch;
    ASSERT_TRUE(watch.hooked());
    arm(testing::CardStep::preparing);
    ASSERT_EQ(show(L"A"), 0);
    ASSERT_TRUE(reached(testing::CardStep::preparing));
    const HWND closed = holdAt(testing::CardStep::preparing).window.load();
    seen.window = closed;
    EXPECT_EQ(CloseKestrine(), 1);
    release(testing::CardStep::preparing);
    const bool gone = waitUntil(
        [&] {
            test::pumpFor(10);
            return !IsWindow(closed);
        },
        5000);
    test::pumpFor(100);  // events raised before the window went
    EXPECT_TRUE(gone);
    EXPECT_EQ(seen.shows.load(), 0) << "the closed card became visible";
    EXPECT_EQ(seen.alerts.load(), 0) << "the closed card was announced";
    EXPECT_EQ(testing::liveRequests(), records);
    seen.window = nullptr;
    ASSERT_EQ(show(L"B"), 0);
    expectShown(L"B");
    EXPECT_TRUE(waitUntil(
        [&] {
            test::pumpFor(10);
            return seen.alerts.load() == 1;
        },
        3000));
}

// A present held until released, entered once per arming.
HANDLE presentEntered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
HANDLE presentReleased = CreateEventW(nullptr, TRUE, FALSE, nullptr);
std::atomic<DWORD> presentHoldMs{0};

BOOL WINAPI heldPresent(HWND window, const UPDATELAYEREDWINDOWINFO* info) {
    const DWORD hold = presentHoldMs.exchange(0);
    if (hold != 0) {
        SetEvent(presentEntered);
        WaitForSingleObject(presentReleased, hold);
    }
    return UpdateLayeredWindowIndirect(window, info);
}

// True once the card is inside the held present.
bool holdNextPresent(DWORD ms) {
    ResetEvent(presentEntered);
    ResetEvent(presentReleased);
    presentHoldMs = ms;
    testing::setLayeredPresentHook(&heldPresent);
    return WaitForSingleObject(presentEntered, 3000) == WAIT_OBJECT_0;
}

// Stops the card's thread inside a held present, where it holds no lock: a
// thread suspended anywhere else may hold the module lock and stall every
// call. Null when the card did not reach a present.
HANDLE stopCardThread(HWND card) {
    if (!holdNextPresent(10000)) {
        return nullptr;
    }
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetWindowThreadProcessId(card, nullptr));
    if (thread != nullptr && SuspendThread(thread) == static_cast<DWORD>(-1)) {
        CloseHandle(thread);
        thread = nullptr;
    }
    SetEvent(presentReleased);
    testing::setLayeredPresentHook(nullptr);
    return thread;
}

// A record left for a stopped card is rescued about 3 s after its call. A
// CloseKestrine whose window walk is still going at that moment voided it
// first: the rescue opens no card, and no card is left or appears after the
// close returned.
ULONGLONG walkHeldUntil = 0;
void holdTheWalk(HWND) {
    const ULONGLONG now = GetTickCount64();
    if (now < walkHeldUntil) {
        Sleep(static_cast<DWORD>(walkHeldUntil - now));
    }
}

TEST_F(HandOver, a_rescue_during_a_slow_close_walk_leaves_no_card) {
    HWND card = showAnimatingCard(L"A");
    ASSERT_NE(card, nullptr);
    HANDLE thread = stopCardThread(card);
    ASSERT_NE(thread, nullptr);
    const ULONGLONG called = GetTickCount64();
    ASSERT_EQ(show(L"B", 0, 0.3), 0);  // left for the stopped card
    // The walk holds past the moment the rescue is due.
    walkHeldUntil = called + 3600;
    Sleep(2700);
    WinEventWatch watch;
    ASSERT_TRUE(watch.hooked());
    testing::setCloseWalkHook(&holdTheWalk);
    const int asked = CloseKestrine();
    testing::setCloseWalkHook(nullptr);
    EXPECT_GE(GetTickCount64() - called, 3500u);
    EXPECT_EQ(asked, 1);
    ResumeThread(thread);
    CloseHandle(thread);
    EXPECT_TRUE(waitUntil(
        [&] {
            test::pumpFor(10);
            return cardCount() == 0;
        },
        5000))
        << cardCount() << " cards after the close";
    test::pumpFor(500);
    EXPECT_EQ(cardCount(), 0);
    EXPECT_EQ(seen.shows.load(), 0) << "a card appeared after CloseKestrine returned";
    EXPECT_EQ(testing::liveRequests(), records);
}

// The first card's thread cannot be created, and a newer call came while
// that start was settling: the first call returns -2 with its record freed;
// the newer one returned 0 at once, and its record is shown by the card the
// rescue starts.
HANDLE starterEntered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
HANDLE starterReleased = CreateEventW(nullptr, TRUE, FALSE, nullptr);
std::atomic<bool> failNextStart{false};

bool failingStarter(uint64_t card) {
    if (failNextStart.exchange(false)) {
        SetEvent(starterEntered);
        WaitForSingleObject(starterReleased, 10000);
        return false;
    }
    HANDLE thread = test::startCardThread(card);
    if (thread != nullptr) {
        CloseHandle(thread);
    }
    return thread != nullptr;
}

TEST_F(HandOver, a_failed_card_thread_fails_its_call_and_the_newer_record_is_rescued) {
    ResetEvent(starterEntered);
    ResetEvent(starterReleased);
    failNextStart = true;
    testing::setCardThreadStarter(&failingStarter);
    std::atomic<int> first{1};
    std::thread a([&] { first = show(L"A"); });
    ASSERT_EQ(WaitForSingleObject(starterEntered, 5000), WAIT_OBJECT_0);
    const ULONGLONG called = GetTickCount64();
    EXPECT_EQ(show(L"B"), 0);  // at once, while A's start is still settling
    EXPECT_LT(GetTickCount64() - called, 100u);
    SetEvent(starterReleased);
    a.join();
    EXPECT_EQ(first.load(), KESTRINE_NOT_STARTED);
    EXPECT_EQ(testing::liveRequests(), records + 1);  // B waits; A is gone
    EXPECT_EQ(cardCount(), 0);
    expectShown(L"B");
    EXPECT_GE(GetTickCount64() - called, 2900u);  // by the rescue
    testing::setCardThreadStarter(nullptr);
}

// A card inside one long frame takes records as left for it, however far into
// the frame a call comes (short of the hand-over limit), and shows the last.
TEST_F(HandOver, calls_during_a_long_frame_return_at_once_and_the_last_is_shown) {
    HWND card = showAnimatingCard(L"A");
    ASSERT_NE(card, nullptr);
    ASSERT_TRUE(holdNextPresent(1500));
    const ULONGLONG entered = GetTickCount64();
    const wchar_t* titles[] = {L"B", L"C", L"D"};
    const ULONGLONG at[] = {100, 800, 1400};
    for (int i = 0; i < 3; ++i) {
        const ULONGLONG now = GetTickCount64() - entered;
        if (now < at[i]) {
            Sleep(static_cast<DWORD>(at[i] - now));
        }
        const ULONGLONG before = GetTickCount64();
        EXPECT_EQ(show(titles[i], 1, 10.0), 0);
        EXPECT_LT(GetTickCount64() - before, 50u) << narrow(titles[i]);
    }
    testing::setLayeredPresentHook(nullptr);
    expectShown(L"D");
    EXPECT_EQ(onlyCard(), card);
}

// A card that stops right after a record was left for it, and no call comes
// after: the record goes to a new card within the hand-over limit and a
// little, and the stopped card closes once it runs again.
TEST_F(HandOver, a_record_left_for_a_card_that_stops_is_shown_by_a_new_card) {
    HWND card = showAnimatingCard(L"A");
    ASSERT_NE(card, nullptr);
    ASSERT_TRUE(holdNextPresent(10000));
    const ULONGLONG called = GetTickCount64();
    ASSERT_EQ(show(L"B", 1, 10.0), 0);  // left for the card, inside its frame
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetWindowThreadProcessId(card, nullptr));
    ASSERT_NE(thread, nullptr);
    ASSERT_NE(SuspendThread(thread), static_cast<DWORD>(-1));
    SetEvent(presentReleased);
    testing::setLayeredPresentHook(nullptr);
    HWND rescuer = nullptr;
    const bool shown = waitUntil(
        [&] {
            for (HWND w : test::cardWindowsOf(GetCurrentProcessId())) {
                if (w != card && test::shownTitleOf(w) == L"B") {
                    rescuer = w;
                }
            }
            return rescuer != nullptr;
        },
        5000);
    const ULONGLONG took = GetTickCount64() - called;
    ResumeThread(thread);
    CloseHandle(thread);
    ASSERT_TRUE(shown) << "the record left for the stopped card was never shown";
    EXPECT_LT(took, 4000u);
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(card); }, 5000));
    expectShown(L"B");
    EXPECT_EQ(onlyCard(), rescuer);
}

// A window destroyed after CloseKestrine has found it ends nothing: every
// other card is asked to close and counted.
std::vector<HWND> standIns;

void destroyFirstStandIn(HWND found) {
    if (!standIns.empty() && found == standIns.front() && IsWindow(found)) {
        DestroyWindow(found);
    }
}

TEST_F(HandOver, close_asks_every_card_though_one_goes_during_the_walk) {
    ASSERT_EQ(show(L"A"), 0);
    ASSERT_TRUE(waitUntil([] { return test::shownTitleOf(onlyCard()) == L"A"; }, 3000));
    ASSERT_TRUE(registerCardClass());
    standIns.clear();
    for (int i = 0; i < 3; ++i) {
        // Windows of the card class without a card's state: their procedure
        // lets WM_CLOSE destroy them.
        standIns.push_back(CreateWindowExW(WS_EX_TOOLWINDOW, CARD_WINDOW_CLASS, L"stand-in", WS_POPUP,
                                           0, 0, 10, 10, nullptr, nullptr, moduleInstance, nullptr));
        ASSERT_NE(standIns.back(), nullptr);
    }
    // The walk meets them before the card, whichever comes first on the desktop.
    testing::setCloseWalkHook(&destroyFirstStandIn);
    const int asked = CloseKestrine();
    testing::setCloseWalkHook(nullptr);
    EXPECT_EQ(asked, 3);  // two stand-ins and the card
    test::pumpFor(200);   // the stand-ins' WM_CLOSE, and the quits they post
    for (HWND w : standIns) {
        EXPECT_FALSE(IsWindow(w));
    }
    EXPECT_TRUE(waitUntil([] { return cardCount() == 0; }, 3000));
}

// An animating card pumps every tick: the call leaves the record for it and
// returns without waiting for the frame the card has in hand.
TEST_F(HandOver, update_of_an_animating_card_does_not_wait_for_its_frame) {
    HWND card = showAnimatingCard(L"A");
    ASSERT_NE(card, nullptr);
    testing::setLayeredPresentHook(&slowPresent);
    Sleep(SLOW_PRESENT_MS / 2);  // the card is inside a slow frame now
    expectHandedOverWithoutWaiting(card);
}

// Nor for the chart a card is preparing: it pumps as soon as that is done.
TEST_F(HandOver, update_of_a_card_preparing_its_chart_does_not_wait_for_it) {
    testing::setLayeredPresentHook(&slowPresent);  // the first frame, inside the preparation
    ASSERT_EQ(show(L"A", 1, 10.0), 0);
    HWND card = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (card = test::readCurrentWindow()) != nullptr; }, 3000));
    expectHandedOverWithoutWaiting(card);
}

// Nor for its last frame, when the run is over at its first tick because the
// first frame took longer than the run.
BOOL WINAPI slowFirstAndLastPresent(HWND window, const UPDATELAYEREDWINDOWINFO* info) {
    const BYTE alpha = info->pblend->SourceConstantAlpha;
    if (alpha == 0 || (alpha == 255 && !lastFrameStarted.exchange(true))) {
        Sleep(SLOW_PRESENT_MS);
    }
    return UpdateLayeredWindowIndirect(window, info);
}

TEST_F(HandOver, update_of_a_card_drawing_its_last_frame_does_not_wait_for_it) {
    lastFrameStarted = false;
    testing::setLayeredPresentHook(&slowFirstAndLastPresent);
    ASSERT_EQ(show(L"A", 1, 0.05), 0);
    ASSERT_TRUE(waitUntil([] { return lastFrameStarted.load(); }, 3000));
    expectHandedOverWithoutWaiting(test::readCurrentWindow());
}

TEST_F(HandOver, stray_quit_ends_the_card_the_usual_way) {
    ASSERT_EQ(show(L"A"), 0);
    HWND card = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (card = onlyCard()) != nullptr; }, 3000));
    ASSERT_TRUE(PostThreadMessageW(GetWindowThreadProcessId(card, nullptr), WM_QUIT, 0, 0));
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(card); }, 3000));
    EXPECT_TRUE(waitUntil([&] { return testing::liveRequests() == records; }, 3000));
    ASSERT_EQ(show(L"B"), 0);
    expectShown(L"B");
}

}  // namespace
}  // namespace kestrine
