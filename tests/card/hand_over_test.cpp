// Every ShowKestrine that returns 0 is shown, under the interleavings that
// used to lose data: a card held on purpose at each step of its life (before
// its window exists, window not yet current, a claimed record not yet
// adopted) while the test closes and shows; a card start whose thread fails
// with a newer record waiting; a stray WM_QUIT. Cards run on their own
// threads, reached through the exports as a host reaches them.

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
StepHold holds[3];

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
                return testing::liveRequests() == records && testing::pendingOfferCount() == 0 &&
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
    {
        ModuleLockGuard lock;
        cardWindows += 3;  // as many as may be closing
    }
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(show(L"A"), 0);
        CloseKestrine();
    }
    // The wait for room would hold them 2 s.
    EXPECT_TRUE(waitUntil([&] { return test::gdiplusUserCount() == users; }, 1500))
        << test::gdiplusUserCount() - users << " card threads still there";
    EXPECT_EQ(cardCount(), 0);
    EXPECT_EQ(testing::liveRequests(), records);
    {
        ModuleLockGuard lock;
        cardWindows -= 3;
    }
    ASSERT_EQ(show(L"B"), 0);
    expectShown(L"B");
}

TEST_F(HandOver, close_of_a_window_not_yet_current_sends_later_records_to_a_new_card) {
    arm(testing::CardStep::windowNotCurrent);
    ASSERT_EQ(show(L"A"), 0);
    ASSERT_TRUE(reached(testing::CardStep::windowNotCurrent));
    HWND closing = holdAt(testing::CardStep::windowNotCurrent).window.load();
    EXPECT_EQ(CloseKestrine(), 1);
    ASSERT_EQ(show(L"B"), 0);
    EXPECT_TRUE(waitUntil([&] { return cardCount() == 2; }, 3000));
    release(testing::CardStep::windowNotCurrent);
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(closing); }, 3000));
    expectShown(L"B");
}

TEST_F(HandOver, close_while_a_claimed_record_waits_then_show) {
    ASSERT_EQ(show(L"A"), 0);
    ASSERT_TRUE(waitUntil([] { return test::shownTitleOf(onlyCard()) == L"A"; }, 3000));
    arm(testing::CardStep::claimedNotAdopted);
    ASSERT_EQ(show(L"B"), 0);
    ASSERT_TRUE(reached(testing::CardStep::claimedNotAdopted));
    EXPECT_EQ(CloseKestrine(), 1);
    ASSERT_EQ(show(L"C"), 0);
    release(testing::CardStep::claimedNotAdopted);
    expectShown(L"C");
}

// The busy card takes a record while a new card, started past it, is not yet
// current: displaced, it hands that newer record on.
TEST_F(HandOver, update_past_a_busy_card_then_a_newer_one_all_land) {
    ASSERT_EQ(show(L"A"), 0);
    HWND busy = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (busy = onlyCard()) != nullptr; }, 3000));
    arm(testing::CardStep::claimedNotAdopted);
    ASSERT_EQ(show(L"A2"), 0);
    ASSERT_TRUE(reached(testing::CardStep::claimedNotAdopted));  // the card is busy now
    arm(testing::CardStep::beforeWindow);
    std::atomic<int> timedOutResult{99};
    std::atomic<int> claimedResult{99};
    std::thread timedOut([&] { timedOutResult = show(L"C"); });  // a new card after 3 s
    Sleep(2000);
    std::thread claimed([&] { claimedResult = show(L"B"); });  // offered, waits till 5 s
    timedOut.join();
    EXPECT_EQ(timedOutResult.load(), 0);
    ASSERT_TRUE(reached(testing::CardStep::beforeWindow));  // C's card is starting
    release(testing::CardStep::claimedNotAdopted);          // the busy card claims B
    claimed.join();
    EXPECT_EQ(claimedResult.load(), 0);
    release(testing::CardStep::beforeWindow);  // C's card displaces the busy one
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(busy); }, 5000));
    expectShown(L"B");
    ASSERT_EQ(show(L"D"), 0);
    expectShown(L"D");
}

// The first card's thread cannot be created, with a newer record handed to
// that start meanwhile: both calls learn it, neither record is left, and the
// next call starts a card of its own.
HANDLE starterEntered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
HANDLE starterReleased = CreateEventW(nullptr, TRUE, FALSE, nullptr);
std::atomic<bool> failNextStart{false};

bool failingStarter(CardStart* start) {
    if (failNextStart.exchange(false)) {
        SetEvent(starterEntered);
        WaitForSingleObject(starterReleased, 10000);
        return false;
    }
    HANDLE thread = CreateThread(nullptr, 0, uiThreadMain, start, 0, nullptr);
    if (thread != nullptr) {
        CloseHandle(thread);
    }
    return thread != nullptr;
}

TEST_F(HandOver, a_failed_card_thread_fails_every_call_on_its_start_and_frees_their_records) {
    ResetEvent(starterEntered);
    ResetEvent(starterReleased);
    failNextStart = true;
    testing::setCardThreadStarter(&failingStarter);
    std::atomic<int> first{1};
    std::atomic<int> newer{1};
    std::thread a([&] { first = show(L"A"); });
    ASSERT_EQ(WaitForSingleObject(starterEntered, 5000), WAIT_OBJECT_0);
    std::thread b([&] { newer = show(L"B"); });
    Sleep(200);
    EXPECT_EQ(newer.load(), 1) << "returned before the start it waits on was settled";
    SetEvent(starterReleased);
    a.join();
    b.join();
    EXPECT_EQ(first.load(), KESTRINE_NOT_STARTED);
    // Had B started a card of its own, its thread would have started.
    EXPECT_EQ(newer.load(), KESTRINE_NOT_STARTED);
    EXPECT_EQ(testing::liveRequests(), records);
    EXPECT_EQ(cardCount(), 0);
    ASSERT_EQ(show(L"C"), 0);
    expectShown(L"C");
    testing::setCardThreadStarter(nullptr);
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
