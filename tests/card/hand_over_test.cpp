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

#include "card/card_registry.h"
#include "card/record_ownership.h"
#include "card/ui_thread.h"
#include "card/window_seams.h"
#include "card_test_support.h"
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

template <typename Condition>
bool waitUntil(Condition condition, DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (!condition()) {
        if (GetTickCount64() >= end) {
            return false;
        }
        Sleep(5);
    }
    return true;
}

std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

int show(const wchar_t* title) {
    return ShowKestrine(L"0:0;60:1500;120:-300", title, L"", L"v", L"", 0, 0, 0, 0.3, 1,
                        0xFFFFFFFFu, 0xFFFFFFFFu);
}

int cardCount() {
    int count = 0;
    HWND card = nullptr;
    while ((card = FindWindowExW(nullptr, card, CARD_WINDOW_CLASS, nullptr)) != nullptr) {
        ++count;
    }
    return count;
}

HWND onlyCard() { return cardCount() == 1 ? FindWindowW(CARD_WINDOW_CLASS, nullptr) : nullptr; }

class HandOver : public ::testing::Test {
protected:
    void SetUp() override {
        for (StepHold& hold : holds) {
            hold.armed.store(false);
        }
        testing::setCardStepHook(&holdStep);
        test::setCurrentWindow(nullptr);
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
        EXPECT_TRUE(waitUntil([&] { return onlyCard() != nullptr && test::lastShownTitle() == title; },
                              6000))
            << "cards " << cardCount() << ", last frame of " << narrow(test::lastShownTitle());
        EXPECT_TRUE(waitUntil([&] { return testing::liveRequests() == records + 1; }, 3000))
            << "records " << testing::liveRequests() - records;
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
    ASSERT_TRUE(waitUntil([] { return test::lastShownTitle() == L"A"; }, 3000));
    arm(testing::CardStep::claimedNotAdopted);
    ASSERT_EQ(show(L"B"), 0);
    ASSERT_TRUE(reached(testing::CardStep::claimedNotAdopted));
    EXPECT_EQ(CloseKestrine(), 1);
    ASSERT_EQ(show(L"C"), 0);
    release(testing::CardStep::claimedNotAdopted);
    expectShown(L"C");
}

// The card takes a record while a new card, started past it, is not yet
// current: the displaced card hands its newer record on.
TEST_F(HandOver, update_past_a_busy_card_then_a_newer_one_all_land) {
    ASSERT_EQ(show(L"A"), 0);
    HWND busy = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (busy = onlyCard()) != nullptr; }, 3000));
    arm(testing::CardStep::claimedNotAdopted);
    ASSERT_EQ(show(L"A2"), 0);
    ASSERT_TRUE(reached(testing::CardStep::claimedNotAdopted));  // the card is busy now
    arm(testing::CardStep::windowNotCurrent);
    std::atomic<int> timedOutResult{99};
    std::atomic<int> claimedResult{99};
    std::thread timedOut([&] { timedOutResult = show(L"C"); });  // gives up after 3 s
    Sleep(1000);
    std::thread claimed([&] { claimedResult = show(L"B"); });  // still waiting when C gives up
    ASSERT_TRUE(reached(testing::CardStep::windowNotCurrent));
    timedOut.join();
    EXPECT_EQ(timedOutResult.load(), 0);
    release(testing::CardStep::claimedNotAdopted);  // the busy card takes B
    claimed.join();
    EXPECT_EQ(claimedResult.load(), 0);
    release(testing::CardStep::windowNotCurrent);  // the new card displaces it
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(busy); }, 5000));
    expectShown(L"B");
    ASSERT_EQ(show(L"D"), 0);
    expectShown(L"D");
}

TEST_F(HandOver, a_starting_card_takes_every_record_and_its_failure_fails_every_call_on_it) {
    ChartRequest* first = test::newRequest(false, 0);
    ChartRequest* newer = test::newRequest(false, 0);
    HWND card = nullptr;
    ChartRequest* replaced = nullptr;
    CardStart* start = nullptr;
    CardStart* same = nullptr;
    ASSERT_EQ(routeRecord(first, nullptr, true, &card, &replaced, &start), HandOverRoute::newCard);
    // The starting card takes records ahead of the card it will displace.
    HWND displaced = test::makeOtherWindow();
    test::setCurrentWindow(displaced);
    const HandOverRoute route = routeRecord(newer, nullptr, true, &card, &replaced, &same);
    test::setCurrentWindow(nullptr);
    DestroyWindow(displaced);
    EXPECT_EQ(route, HandOverRoute::startingCard);
    EXPECT_EQ(same, start);
    std::atomic<int> answer{-1};
    std::thread waiting;
    if (route == HandOverRoute::startingCard) {
        deleteRequest(replaced);
        waiting = std::thread([&] { answer = awaitCardThread(same) ? 1 : 0; });
        Sleep(100);
        EXPECT_EQ(answer.load(), -1);  // the outcome is not known yet
    } else {
        deleteRequest(newer);
    }
    settleCardThread(start, false);
    if (waiting.joinable()) {
        waiting.join();
        EXPECT_EQ(answer.load(), 0);
    }
    EXPECT_EQ(testing::liveRequests(), records);
    // The failed start is over: the next record starts a card of its own.
    ChartRequest* next = test::newRequest(false, 0);
    ASSERT_EQ(routeRecord(next, nullptr, true, &card, &replaced, &start), HandOverRoute::newCard);
    settleCardThread(start, false);
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
