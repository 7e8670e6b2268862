// End-to-end tests of the exports from a real host: the DLL is loaded with
// LoadLibraryW (kestrine.dll, or its test twin for the Counted suite), cards
// are driven with real input, and their windows are inspected from outside.
//   card_host_test.exe --dll=kestrine.dll [--stress-seconds=N] [gtest options]

#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "kestrine.h"
#include "win_test_support.h"

namespace {

// The exports' own types, calling convention included (__stdcall on x86);
// the test twin's counters are plain C functions.
using ShowFn = decltype(&ShowKestrine);
using CloseFn = decltype(&CloseKestrine);
using VersionFn = decltype(&KestrineVersion);
using IntFn = int (*)();
using LongFn = long (*)();

struct Library {
    std::wstring folder;
    std::wstring name;
    HMODULE module = nullptr;
    ShowFn show = nullptr;
    CloseFn close = nullptr;
    VersionFn version = nullptr;
    // Only in kestrine_test.dll.
    LongFn liveRecords = nullptr;
    IntFn gdiplusUsers = nullptr;
    LongFn framesPresented = nullptr;
    int (*lastFrameTitle)(wchar_t*, int) = nullptr;
    LongFn liveDrawingObjects = nullptr;
    int (*windowFrameTitle)(HWND, wchar_t*, int) = nullptr;
    long long (*keptBytes)() = nullptr;
    void (*keepMilliseconds)(unsigned int) = nullptr;
};

// How long the test twin keeps what the last card leaves for a next one
// (a minute in the shipped DLL), so that tests can see it go.
constexpr unsigned int KEEP_MS = 1000;

Library dll;
// Length of the full-speed stress run; make soak sets it.
int stressSeconds = 60;
HWND host = nullptr;

template <typename F>
F entry(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll.module, name)));
}

LRESULT CALLBACK hostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

// Pump as a host's message loop would while it waits.
void pump(DWORD ms) { kestrine::test::pumpFor(ms); }

std::vector<HWND> cards() { return kestrine::test::cardWindowsOf(GetCurrentProcessId()); }

using kestrine::test::waitUntil;

HWND waitForCardOtherThan(HWND known, DWORD ms = 5000) {
    HWND found = nullptr;
    waitUntil(
        [&] {
            for (HWND card : cards()) {
                if (card != known) {
                    found = card;
                    return true;
                }
            }
            return false;
        },
        ms);
    return found;
}

HWND waitForCard() { return waitForCardOtherThan(nullptr); }

bool waitForNoCards(DWORD ms = 5000) {
    return waitUntil([] { return cards().empty(); }, ms);
}

const wchar_t* const SERIES = L"0:0;60:1500;120:-300;180:900";

int show(int autoCloseSeconds, int animate, const wchar_t* series = SERIES) {
    return dll.show(series, L"Profit", L"Today", L"+900", L"4 trades", 0, autoCloseSeconds,
                    animate, 0.5, 1, 0x0000FF00u, 0x000000FFu);
}

RECT rectOf(HWND window) {
    RECT r = {0, 0, 0, 0};
    GetWindowRect(window, &r);
    return r;
}

// Tests end with calls of their own possibly still on their way to a card
// (a hung card's replacement, a hand-on), so ask again while any is left.
void closeEverything() {
    EXPECT_TRUE(waitUntil(
        [] {
            dll.close();
            return waitForNoCards(200);
        },
        5000));
}

// ---- real input --------------------------------------------------------

using kestrine::test::pointerTo;
using kestrine::test::sendMouse;

void buttonDown() {
    sendMouse(MOUSEEVENTF_LEFTDOWN);
    pump(50);
}

void buttonUp() {
    sendMouse(MOUSEEVENTF_LEFTUP);
    pump(50);
}

POINT centreOf(HWND window) {
    const RECT r = rectOf(window);
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// Presses at the card's centre and moves the pointer (20, 10) pixels a step
// for steps steps, the button still held.
void pressAndDrag(HWND card, int steps) {
    const POINT c = centreOf(card);
    pointerTo(c.x, c.y);
    buttonDown();
    for (int step = 1; step <= steps; ++step) {
        pointerTo(c.x + 20 * step, c.y + 10 * step);
    }
}

// ---- process around the tests ---------------------------------------------

DWORD runProcess(const std::wstring& commandLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return 1000;
    }
    DWORD code = 1001;
    // Pump meanwhile: the card answers on its own thread, but be a good host.
    waitUntil([&] { return WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0; }, 15000);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetForegroundWindow(host);
        ASSERT_TRUE(waitForNoCards()) << "a card was left over";
    }
    void TearDown() override { closeEverything(); }
};

// ---- kestrine.dll ---------------------------------------------------------

using Exports = HostTest;

TEST_F(Exports, version_is_100) { EXPECT_EQ(dll.version(), 100); }

using ShowKestrine = HostTest;

TEST_F(ShowKestrine, series_without_points_gives_minus_one_and_no_card) {
    EXPECT_EQ(show(0, 1, nullptr), -1);
    EXPECT_EQ(show(0, 1, L""), -1);
    EXPECT_EQ(show(0, 1, L"5"), -1);
    EXPECT_EQ(show(0, 1, L"1;2;3"), -1);
    pump(400);
    EXPECT_TRUE(cards().empty());
}

TEST_F(ShowKestrine, opens_one_centred_topmost_card_without_taking_the_focus) {
    ASSERT_EQ(GetForegroundWindow(), host) << "the host must hold the foreground first";
    EXPECT_EQ(show(0, 1), 0);
    HWND card = waitForCard();
    ASSERT_NE(card, nullptr);
    ASSERT_TRUE(waitUntil([&] { return IsWindowVisible(card) != FALSE; }, 3000));
    pump(300);
    EXPECT_EQ(cards().size(), 1u);
    wchar_t title[32] = {};
    GetWindowTextW(card, title, 32);
    EXPECT_STREQ(title, L"Kestrine");
    const RECT r = rectOf(card);
    EXPECT_EQ(r.right - r.left, 920);
    EXPECT_EQ(r.bottom - r.top, 560);
    // Centred in the primary monitor's work area: Xvfb's whole 1920 x 1080
    // screen under Wine, the screen less the taskbar on Windows.
    RECT work = {};
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    EXPECT_NEAR(r.left, work.left + (work.right - work.left - 920) / 2, 1);
    EXPECT_NEAR(r.top, work.top + (work.bottom - work.top - 560) / 2, 1);
    EXPECT_TRUE(GetWindowLongW(card, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(GetForegroundWindow(), host);
    EXPECT_EQ(GetActiveWindow(), host);
    EXPECT_NE(GetWindowThreadProcessId(card, nullptr), GetCurrentThreadId());
}

TEST_F(ShowKestrine, null_texts_still_give_a_card) {
    EXPECT_EQ(dll.show(SERIES, nullptr, nullptr, nullptr, nullptr, 1, 0, 0, 1.0, 0, 0, 0), 0);
    EXPECT_NE(waitForCard(), nullptr);
}

using CloseKestrine = HostTest;

TEST_F(CloseKestrine, with_no_card_returns_zero) { EXPECT_EQ(dll.close(), 0); }

TEST_F(CloseKestrine, returns_the_number_of_cards_and_they_go) {
    ASSERT_EQ(show(0, 1), 0);
    ASSERT_NE(waitForCard(), nullptr);
    EXPECT_EQ(dll.close(), 1);
    EXPECT_TRUE(waitForNoCards(3000));
    EXPECT_EQ(dll.close(), 0);
}

TEST_F(CloseKestrine, show_right_after_close_still_shows_the_new_chart) {
    // The card is busy drawing its animation when both calls reach it, so the
    // offer arrives while its WM_CLOSE still waits in the queue. The closing
    // card must not take the new chart with it: a new card shows it.
    for (int round = 0; round < 5; ++round) {
        ASSERT_EQ(dll.show(SERIES, L"busy", nullptr, nullptr, nullptr, 0, 0, 1, 10.0, 1, 0, 0), 0);
        HWND first = waitForCard();
        ASSERT_NE(first, nullptr);
        pump(150);
        EXPECT_EQ(dll.close(), 1);
        EXPECT_EQ(show(0, 0, L"0:1;1:2"), 0);
        EXPECT_TRUE(waitUntil([&] { return !IsWindow(first); }, 3000));
        EXPECT_NE(waitForCardOtherThan(first, 3000), nullptr) << "round " << round;
        pump(100);
        EXPECT_EQ(cards().size(), 1u);
        closeEverything();
    }
}

using AutoClose = HostTest;

// How late a one-second auto-close may end the card, from its window's
// appearance. Measured under Wine on Xvfb, 2 cores at load 3 to 6 (builds
// and other test runs): 80 runs took 1061 to 1439 ms (median 1124, 95th
// percentile 1354). Twice the worst lateness seen is still short of 2 s, so a
// card that closed after two seconds would fail.
constexpr ULONGLONG AUTO_CLOSE_LATE_MS = 900;

TEST_F(AutoClose, one_second_card_closes_itself) {
    const ULONGLONG called = GetTickCount64();
    ASSERT_EQ(show(1, 1), 0);
    HWND card = waitForCard();
    ASSERT_NE(card, nullptr);
    // The window exists a moment before its preparation starts the timer.
    const ULONGLONG appeared = GetTickCount64();
    ASSERT_TRUE(waitUntil([&] { return !IsWindow(card); }, 10000));
    const ULONGLONG gone = GetTickCount64();
    std::printf("[ measured ] 1 s auto-close: call to card %llu ms, card to gone %llu ms\n",
                appeared - called, gone - appeared);
    // Not before its second (less one 15.6 ms tick of the Windows clock).
    EXPECT_GE(gone - called, 984u);
    EXPECT_LE(gone - appeared, 1000u + AUTO_CLOSE_LATE_MS);
}

TEST_F(AutoClose, zero_never_closes_by_itself) {
    ASSERT_EQ(show(0, 1), 0);
    HWND card = waitForCard();
    ASSERT_NE(card, nullptr);
    pump(2200);
    EXPECT_TRUE(IsWindow(card));
    EXPECT_TRUE(IsWindowVisible(card));
}

using ForeignSender = HostTest;

// The card's private message, sent from another process with any lParam,
// hands the card nothing: it only ever takes what this module holds for it.
TEST_F(ForeignSender, private_message_from_another_process_hands_the_card_nothing) {
    ASSERT_EQ(show(0, 0), 0);
    HWND card = waitForCard();
    ASSERT_NE(card, nullptr);
    for (const wchar_t* lParam : {L"4141414141414141", L"1", L"2", L"deadbeef",
                                  L"ffffffffffffffff", L"0"}) {
        EXPECT_EQ(runProcess(L"\"" + dll.folder + L"replace_sender.exe\" " + lParam), 0u)
            << "lParam " << std::string(lParam, lParam + std::wcslen(lParam));
    }
    ASSERT_TRUE(IsWindow(card));
    // Still working: the next call is taken in place.
    EXPECT_EQ(show(0, 1, L"0:1;5:3"), 0);
    pump(300);
    const std::vector<HWND> now = cards();
    ASSERT_EQ(now.size(), 1u);
    EXPECT_EQ(now[0], card);
}

// Real input moves the remembered drop point, so these come after the tests
// that expect a centred card.
using Input = HostTest;

TEST_F(Input, click_without_moving_closes_the_card) {
    ASSERT_EQ(show(0, 0), 0);
    HWND card = waitForCard();
    ASSERT_NE(card, nullptr);
    pump(200);
    const POINT c = centreOf(card);
    pointerTo(c.x, c.y);
    buttonDown();
    buttonUp();
    EXPECT_TRUE(waitForNoCards(3000));
}

TEST_F(Input, move_within_the_drag_threshold_still_closes_like_a_click) {
    ASSERT_EQ(show(0, 0), 0);
    HWND card = waitForCard();
    ASSERT_NE(card, nullptr);
    pump(200);
    const RECT start = rectOf(card);
    const POINT c = centreOf(card);
    pointerTo(c.x, c.y);
    buttonDown();
    pointerTo(c.x + GetSystemMetrics(SM_CXDRAG), c.y + GetSystemMetrics(SM_CYDRAG));
    EXPECT_EQ(rectOf(card).left, start.left);
    buttonUp();
    EXPECT_TRUE(waitForNoCards(3000));
}

TEST_F(Input, drag_moves_the_card_and_the_next_card_opens_where_it_was_dropped) {
    ASSERT_EQ(show(0, 0), 0);
    HWND card = waitForCard();
    ASSERT_NE(card, nullptr);
    pump(200);
    const RECT start = rectOf(card);
    pressAndDrag(card, 10);
    buttonUp();
    pump(200);
    ASSERT_TRUE(IsWindow(card)) << "a drag must not close the card";
    const RECT dropped = rectOf(card);
    EXPECT_EQ(dropped.left, start.left + 200);
    EXPECT_EQ(dropped.top, start.top + 100);

    closeEverything();
    ASSERT_EQ(show(0, 0), 0);
    HWND next = waitForCard();
    ASSERT_NE(next, nullptr);
    const RECT placed = rectOf(next);
    EXPECT_EQ(placed.left, start.left + 200);
    EXPECT_EQ(placed.top, start.top + 100);
}

TEST_F(Input, host_keeps_the_foreground_through_show_drag_and_a_closing_click) {
    ASSERT_EQ(GetForegroundWindow(), host);
    ASSERT_EQ(show(0, 0), 0);
    HWND card = waitForCard();
    ASSERT_NE(card, nullptr);
    pump(200);
    EXPECT_EQ(GetForegroundWindow(), host) << "after the show";

    pressAndDrag(card, 5);
    buttonUp();
    pump(200);
    ASSERT_TRUE(IsWindow(card));
    EXPECT_EQ(GetForegroundWindow(), host) << "after a drag";
    EXPECT_EQ(GetActiveWindow(), host);

    const POINT d = centreOf(card);
    pointerTo(d.x, d.y);
    buttonDown();
    buttonUp();
    EXPECT_TRUE(waitUntil([&] { return !IsWindowVisible(card); }, 3000));
    pump(200);
    EXPECT_EQ(GetForegroundWindow(), host) << "after the click that closed it";
}

TEST_F(Input, capture_cancelled_by_the_system_ends_the_drag_while_the_button_is_held) {
    ASSERT_EQ(show(0, 0), 0);
    HWND card = waitForCard();
    ASSERT_NE(card, nullptr);
    pump(200);
    const RECT start = rectOf(card);
    const POINT c = centreOf(card);
    pressAndDrag(card, 3);
    ASSERT_EQ(rectOf(card).left, start.left + 60);
    // What Windows sends on a switch of the foreground: the capture goes.
    SendMessageW(card, WM_CANCELMODE, 0, 0);
    for (int step = 4; step <= 6; ++step) {
        pointerTo(c.x + 20 * step, c.y + 10 * step);
    }
    buttonUp();
    pump(200);
    ASSERT_TRUE(IsWindow(card)) << "the end of a dragged press is no click";
    EXPECT_EQ(rectOf(card).left, start.left + 60);
    EXPECT_EQ(rectOf(card).top, start.top + 30);
}

// ---- kestrine_test.dll ----------------------------------------------------

class Counted : public HostTest {
protected:
    void SetUp() override {
        ASSERT_NE(dll.liveRecords, nullptr) << "run with --dll=kestrine_test.dll";
        HostTest::SetUp();
    }
    // Threads end a little after their windows: wait for every count to settle.
    static bool everythingReleased(DWORD ms) {
        return waitUntil(
            [] {
                return dll.liveRecords() == 0 && dll.gdiplusUsers() == 0;
            },
            ms);
    }
    // What the last card left for a next one has gone.
    static bool keptFreed(DWORD ms) {
        return waitUntil([] { return dll.keptBytes() == 0; }, ms);
    }
};

// Holds a card's UI thread as a host sees a hung card: a message hook on that
// thread blocks inside its next message retrieval until release. (Suspending
// the thread instead can stop it inside Wine's own code at any instruction,
// which no real hang does, and left Wine's heap corrupt now and then.)
class HeldThread {
public:
    explicit HeldThread(HWND card) {
        inHook_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        released_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        hook_ = SetWindowsHookExW(WH_GETMESSAGE, hold, nullptr,
                                  GetWindowThreadProcessId(card, nullptr));
        if (hook_ != nullptr && PostMessageW(card, WM_NULL, HOLD_MARK, 0)) {
            holding_ = WaitForSingleObject(inHook_, 3000) == WAIT_OBJECT_0;
        }
    }
    ~HeldThread() {
        release();
        CloseHandle(inHook_);
        CloseHandle(released_);
    }
    HeldThread(const HeldThread&) = delete;
    HeldThread& operator=(const HeldThread&) = delete;

    bool holding() const { return holding_; }
    void release() {
        SetEvent(released_);
        if (hook_ != nullptr) {
            UnhookWindowsHookEx(hook_);
            hook_ = nullptr;
        }
    }

private:
    static constexpr WPARAM HOLD_MARK = 0x4B45;
    static LRESULT CALLBACK hold(int code, WPARAM removing, LPARAM message) {
        const MSG* m = reinterpret_cast<const MSG*>(message);
        if (code == HC_ACTION && removing == PM_REMOVE && m->message == WM_NULL &&
            m->wParam == HOLD_MARK) {
            SetEvent(inHook_);
            WaitForSingleObject(released_, 30000);  // never hold a test run for ever
        }
        return CallNextHookEx(nullptr, code, removing, message);
    }
    // The hook procedure has no context of its own; one hold at a time.
    static HANDLE inHook_;
    static HANDLE released_;
    HHOOK hook_ = nullptr;
    bool holding_ = false;
};
HANDLE HeldThread::inHook_ = nullptr;
HANDLE HeldThread::released_ = nullptr;

// A call never waits for a hung card; the card that takes its record in the
// hung one's place comes with the rescue.
TEST_F(Counted, hung_card_is_replaced_and_the_call_does_not_wait_for_it) {
    ASSERT_EQ(show(0, 0), 0);
    HWND hung = waitForCard();
    ASSERT_NE(hung, nullptr);
    pump(300);
    ASSERT_EQ(dll.liveRecords(), 1);
    HeldThread held(hung);
    ASSERT_TRUE(held.holding());

    const ULONGLONG before = GetTickCount64();
    EXPECT_EQ(show(0, 0, L"0:1;1:2;2:3"), 0);
    const ULONGLONG waited = GetTickCount64() - before;
    HWND fresh = waitForCardOtherThan(hung);
    EXPECT_NE(fresh, nullptr);
    EXPECT_EQ(dll.liveRecords(), 2);  // one each: nothing shared
    EXPECT_EQ(dll.close(), 2);        // the hung card is still there to count
    held.release();

    EXPECT_TRUE(waitForNoCards(5000));
    EXPECT_TRUE(everythingReleased(5000))
        << "records " << dll.liveRecords() << ", GDI+ users " << dll.gdiplusUsers();
    EXPECT_LT(waited, 500u);
}

TEST_F(Counted, replacement_card_stays_current_after_the_hung_card_resumes) {
    ASSERT_EQ(show(0, 0), 0);
    HWND hung = waitForCard();
    ASSERT_NE(hung, nullptr);
    pump(300);
    HeldThread held(hung);
    ASSERT_TRUE(held.holding());
    EXPECT_EQ(show(0, 0, L"0:1;1:2"), 0);
    HWND fresh = waitForCardOtherThan(hung);
    ASSERT_NE(fresh, nullptr);
    held.release();
    // The displaced card closes itself; the new one takes the next call.
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(hung); }, 5000));
    EXPECT_EQ(show(0, 0, L"0:3;1:4"), 0);
    pump(300);
    const std::vector<HWND> now = cards();
    ASSERT_EQ(now.size(), 1u);
    EXPECT_EQ(now[0], fresh);
    EXPECT_EQ(dll.liveRecords(), 1);
}

// The title behind the last frame that card presented; empty when none.
std::wstring frameTitleOf(HWND card) {
    wchar_t title[128] = {};
    return dll.windowFrameTitle(card, title, 128) >= 0 ? title : L"";
}

// The one card on screen shows title (a card that is still closing may
// present a frame after the newer one's, so ask the card itself).
bool onlyCardShows(const std::wstring& title) {
    const std::vector<HWND> now = cards();
    return now.size() == 1 && frameTitleOf(now[0]) == title;
}

std::wstring lastFrameTitle() {
    wchar_t title[128] = {};
    dll.lastFrameTitle(title, 128);
    return title;
}

std::wstring seriesOf(std::mt19937& random, int points) {
    std::wstring series;
    series.reserve(static_cast<size_t>(points) * 12);
    for (int i = 0; i < points; ++i) {
        series += std::to_wstring(i * 10) + L":" +
                  std::to_wstring(static_cast<int>(random() % 2000) - 1000) + L";";
    }
    return series;
}

int showTitled(const std::wstring& series, const std::wstring& title, int animate,
               int autoCloseSeconds = 0) {
    return dll.show(series.c_str(), title.c_str(), nullptr, L"v", nullptr, 0, autoCloseSeconds,
                    animate, 0.3, 1, 0, 0);
}

std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// Later calls land on the open card: the same window at the same place, the
// record of the last call on screen, and the records before it freed.
TEST_F(Counted, second_call_updates_the_open_card_in_place) {
    ASSERT_EQ(showTitled(SERIES, L"first", 1), 0);
    HWND card = waitForCard();
    ASSERT_NE(card, nullptr);
    ASSERT_TRUE(waitUntil([] { return lastFrameTitle() == L"first"; }, 3000));
    const RECT before = rectOf(card);
    EXPECT_EQ(showTitled(L"0:5;1:-5;2:8", L"second", 0), 0);
    EXPECT_EQ(showTitled(L"0:1;10:2", L"third", 1), 0);
    EXPECT_TRUE(waitUntil([] { return lastFrameTitle() == L"third"; }, 3000))
        << "shows " << narrow(lastFrameTitle());
    EXPECT_TRUE(waitUntil([] { return dll.liveRecords() == 1; }, 3000))
        << dll.liveRecords() << " records";
    const std::vector<HWND> now = cards();
    ASSERT_EQ(now.size(), 1u);
    EXPECT_EQ(now[0], card);
    const RECT after = rectOf(card);
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.top, before.top);
    EXPECT_EQ(after.right, before.right);
    EXPECT_EQ(after.bottom, before.bottom);
}

// Host threads updating one card as fast as ticks come, never closing it:
// every call lands on the one card, and the card ends up showing the last.
TEST_F(Counted, threads_updating_without_pause_keep_one_card_showing_the_newest) {
    for (const int threadCount : {1, 2, 8}) {
        std::atomic<bool> stop{false};
        std::atomic<long> calls{0};
        std::atomic<long> failures{0};
        std::vector<std::wstring> lastTitles(threadCount);
        std::vector<std::thread> threads;
        for (int t = 0; t < threadCount; ++t) {
            threads.emplace_back([&, t] {
                std::mt19937 random(77u + t);
                for (long n = 0; !stop.load(); ++n) {
                    const std::wstring title = L"t" + std::to_wstring(t) + L"-" + std::to_wstring(n);
                    const std::wstring series = seriesOf(random, 1 + random() % 400);
                    (showTitled(series, title, random() % 2) == 0 ? calls : failures).fetch_add(1);
                    lastTitles[t] = title;
                    Sleep(random() % 21);  // 0 to 20 ms
                }
            });
        }
        std::set<HWND> seen;
        size_t mostAtOnce = 0;
        const ULONGLONG end = GetTickCount64() + 4000;
        while (GetTickCount64() < end) {
            const std::vector<HWND> now = cards();
            seen.insert(now.begin(), now.end());
            mostAtOnce = (std::max)(mostAtOnce, now.size());
            pump(5);
        }
        stop.store(true);
        for (std::thread& thread : threads) {
            thread.join();
        }
        EXPECT_EQ(failures.load(), 0) << threadCount << " threads";
        EXPECT_GT(calls.load(), 40) << threadCount << " threads";
        EXPECT_EQ(seen.size(), 1u) << threadCount << " threads";
        EXPECT_EQ(mostAtOnce, 1u) << threadCount << " threads";
        if (threadCount == 1) {
            EXPECT_TRUE(waitUntil([&] { return lastFrameTitle() == lastTitles[0]; }, 3000))
                << "shows " << narrow(lastFrameTitle());
        }
        // One more update once the others have stopped is what the card shows.
        EXPECT_EQ(showTitled(L"0:1;1:3;2:2", L"last", 0), 0);
        EXPECT_TRUE(waitUntil([] { return lastFrameTitle() == L"last"; }, 3000));
        EXPECT_EQ(cards().size(), 1u);
        closeEverything();
        EXPECT_TRUE(everythingReleased(5000));
    }
}

// Process-wide figures that a leak would make grow.
struct ProcessFigures {
    long records = 0;
    long drawingObjects = 0;
    long gdiObjects = 0;
    DWORD handles = 0;
    SIZE_T privateBytes = 0;

    static ProcessFigures now() {
        ProcessFigures f;
        f.records = dll.liveRecords();
        f.drawingObjects = dll.liveDrawingObjects();
        f.gdiObjects = kestrine::test::gdiObjectCount();
        // Wine 8 answers 0 here; Windows counts.
        GetProcessHandleCount(GetCurrentProcess(), &f.handles);
        if (f.handles == 0) {
            f.handles = probedHandleCount();
        }
        // The commit charge: Wine leaves PrivateUsage at 0.
        PROCESS_MEMORY_COUNTERS memory = {};
        memory.cb = sizeof(memory);
        if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory))) {
            f.privateBytes = memory.PagefileUsage;
        }
        return f;
    }
    // Every kernel handle value of the process that names an object.
    static DWORD probedHandleCount() {
        DWORD count = 0;
        for (uintptr_t value = 4; value < 4 * 65536; value += 4) {
            DWORD flags = 0;
            if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
                ++count;
            }
        }
        return count;
    }
};

// Eight host threads at full speed: shows of every size, animated or not,
// closing themselves or not, and closes. Nothing may pile up, and everything
// comes back once the calls stop.
TEST_F(Counted, eight_threads_at_full_speed_hold_and_leave_nothing_behind) {
    // One card first, so that what any first card loads for good (GDI+, the
    // fonts, Wine's own caches) is in the figures before.
    ASSERT_EQ(show(0, 0), 0);
    ASSERT_NE(waitForCard(), nullptr);
    closeEverything();
    ASSERT_TRUE(everythingReleased(5000));
    ASSERT_TRUE(keptFreed(5000));
    const ProcessFigures before = ProcessFigures::now();

    std::atomic<bool> stop{false};
    std::atomic<long> shows{0};
    std::atomic<long> closes{0};
    std::atomic<long> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(1234u + t);
            while (!stop.load()) {
                if (random() % 10 != 0) {
                    const int points = random() % 4 == 0 ? 1 + random() % 5000 : 1 + random() % 300;
                    const int result = showTitled(seriesOf(random, points), L"stress",
                                                  random() % 2, random() % 3);
                    (result == 0 ? shows : failures).fetch_add(1);
                } else {
                    dll.close();
                    closes.fetch_add(1);
                }
                Sleep(random() % 3);  // 0 to 2 ms
            }
        });
    }
    size_t mostCards = 0;
    int mostCardThreads = 0;
    const ULONGLONG start = GetTickCount64();
    const ULONGLONG end = start + 1000ull * stressSeconds;
    while (GetTickCount64() < end) {
        pump(10);
        mostCards = (std::max)(mostCards, cards().size());
        mostCardThreads = (std::max)(mostCardThreads, dll.gdiplusUsers());
    }
    stop.store(true);
    for (std::thread& thread : threads) {
        thread.join();
    }
    const double seconds = (GetTickCount64() - start) / 1000.0;
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(closes.load(), 10);
    EXPECT_LE(mostCards, 4u);
    EXPECT_LE(mostCardThreads, 8);
    // One close, a card still starting included, leaves none.
    const int asked = dll.close();
    EXPECT_TRUE(waitForNoCards(15000)) << cards().size() << " cards left of " << asked;
    EXPECT_TRUE(everythingReleased(15000))
        << "records " << dll.liveRecords() << ", GDI+ users " << dll.gdiplusUsers()
        ;
    // Card threads are gone a moment after their last release; Wine frees an
    // ended thread's handles and X connection shortly after that.
    pump(1000);
    EXPECT_TRUE(keptFreed(5000));
    const ProcessFigures after = ProcessFigures::now();
    EXPECT_EQ(after.records, before.records);
    EXPECT_EQ(after.drawingObjects, before.drawingObjects);
    // Handles and GDI objects: a leak of one per card grows with the cards
    // made (10 in 10 s on a loaded machine, more in a minute); a few handles
    // stand for what the system itself keeps (measured: 1 to 4 more after
    // 20 s to 10 min), while GDI objects came back to the same count.
    EXPECT_LE(after.gdiObjects, before.gdiObjects + 4);
    EXPECT_LE(after.handles, before.handles + 16);
    // Private bytes: the heaps keep some freed memory for reuse (measured:
    // 4 to 7 MB more after 20 s to 10 min, not growing with the run). One
    // card's surface or layers leaked per card would be gigabytes.
    EXPECT_LE(after.privateBytes, before.privateBytes + (24u << 20));
    std::printf(
        "full speed: %.0f s, %ld shows and %ld closes (%.0f calls/s); at most %zu card windows "
        "and %d card threads; handles %lu -> %lu, GDI objects %ld -> %ld, private bytes %.1f -> "
        "%.1f MB\n",
        seconds, shows.load(), closes.load(), (shows.load() + closes.load()) / seconds, mostCards,
        mostCardThreads, before.handles, after.handles, before.gdiObjects, after.gdiObjects,
        before.privateBytes / 1048576.0, after.privateBytes / 1048576.0);
}

// A hung card while other threads keep updating: their records reach a new
// card within the hand-over limit, and the hung one goes once it is released.
TEST_F(Counted, updates_go_on_past_a_hung_card) {
    ASSERT_EQ(showTitled(L"0:0;1:1", L"first", 0), 0);
    HWND hung = waitForCard();
    ASSERT_NE(hung, nullptr);
    pump(300);
    HeldThread held(hung);
    ASSERT_TRUE(held.holding());

    std::atomic<bool> stop{false};
    std::atomic<long> failures{0};
    std::atomic<ULONGLONG> longestCall{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(99u + t);
            while (!stop.load()) {
                const ULONGLONG before = GetTickCount64();
                if (showTitled(seriesOf(random, 50), L"update", random() % 2) != 0) {
                    failures.fetch_add(1);
                }
                const ULONGLONG took = GetTickCount64() - before;
                ULONGLONG longest = longestCall.load();
                while (took > longest && !longestCall.compare_exchange_weak(longest, took)) {
                }
                Sleep(random() % 11);
            }
        });
    }
    HWND fresh = waitForCardOtherThan(hung, 5000);
    pump(1000);
    stop.store(true);
    for (std::thread& thread : threads) {
        thread.join();
    }
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(failures.load(), 0);
    EXPECT_LE(longestCall.load(), 4500u);  // 3 s at most, with a scheduling margin

    const ULONGLONG sent = GetTickCount64();
    EXPECT_EQ(showTitled(L"0:2;1:5;2:3", L"newest", 0), 0);
    EXPECT_TRUE(waitUntil([] { return lastFrameTitle() == L"newest"; }, 3000));
    EXPECT_LE(GetTickCount64() - sent, 3500u);
    const std::vector<HWND> now = cards();
    EXPECT_EQ(std::count(now.begin(), now.end(), fresh), 1);
    EXPECT_LE(now.size(), 2u);

    held.release();
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(hung); }, 5000));
    EXPECT_TRUE(IsWindow(fresh));
}

// What the last card leaves for a next one (its frame surface, the card's
// fill and the hint and border, the last two as tiles and pixel lists) is
// little more than one surface of the card's size, and goes when its time
// is up.
TEST_F(Counted, last_card_leaves_a_bounded_set_for_a_while_then_nothing) {
    ASSERT_TRUE(keptFreed(5000));
    const long objects = dll.liveDrawingObjects();
    dll.keepMilliseconds(3000);
    ASSERT_EQ(show(0, 0), 0);
    const HWND card = waitForCard();
    ASSERT_NE(card, nullptr);
    // Shown, so prepared: a card closed while it still prepares has drawn
    // nothing to leave.
    ASSERT_TRUE(waitUntil([&] { return IsWindowVisible(card) != FALSE; }, 5000));
    const RECT r = rectOf(card);
    closeEverything();
    ASSERT_TRUE(everythingReleased(5000));
    const ULONGLONG closed = GetTickCount64();
    dll.keepMilliseconds(KEEP_MS);
    // The frame surface and a few percent of one besides; the surface's DIB,
    // its DC and their selection.
    const long long surface = 4LL * (r.right - r.left) * (r.bottom - r.top);
    EXPECT_GE(dll.keptBytes(), surface);
    EXPECT_LE(dll.keptBytes(), surface + surface / 10);
    EXPECT_EQ(dll.liveDrawingObjects(), objects + 3);
    EXPECT_TRUE(keptFreed(10000));
    EXPECT_GE(GetTickCount64() - closed, 2000u);
    EXPECT_EQ(dll.liveDrawingObjects(), objects);
}

// Show, close the moment the card's window appears, show again: the second
// call returned 0 after the close, so its record is on screen every round.
TEST_F(Counted, show_close_show_lands_the_last_record_every_round) {
    int lost = 0;
    for (int round = 0; round < 200; ++round) {
        const std::wstring last = L"last-" + std::to_wstring(round);
        ASSERT_EQ(showTitled(L"0:0;1:1", L"first", 0), 0);
        ASSERT_TRUE(waitUntil([] { return !cards().empty(); }, 5000));
        dll.close();
        ASSERT_EQ(showTitled(L"0:0;1:2", last, 0), 0);
        if (!waitUntil([&] { return onlyCardShows(last); }, 6000)) {
            ++lost;
        }
        closeEverything();
    }
    EXPECT_EQ(lost, 0);
    EXPECT_TRUE(everythingReleased(5000));
}

// Show and close at once, the card's window not made yet or just made: no
// card is left, though it would never close by itself.
TEST_F(Counted, close_right_after_show_leaves_no_card) {
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(show(0, round % 2), 0);
        EXPECT_LE(dll.close(), 1);
        ASSERT_TRUE(everythingReleased(3000)) << "round " << round << ", " << cards().size()
                                              << " cards, records " << dll.liveRecords();
    }
    pump(1000);
    EXPECT_TRUE(cards().empty());
}

// A host that closes and shows again on every 20 ms tick: never more cards
// than the cap, and the last record on screen once the ticks stop.
TEST_F(Counted, close_and_show_on_every_tick_ends_with_the_last_record) {
    size_t mostCards = 0;
    std::wstring last;
    const ULONGLONG end = GetTickCount64() + 10000;
    for (int tick = 0; GetTickCount64() < end; ++tick) {
        last = L"tick-" + std::to_wstring(tick);
        dll.close();
        ASSERT_EQ(showTitled(L"0:0;1:1;2:3", last, tick % 2), 0);
        mostCards = (std::max)(mostCards, cards().size());
        Sleep(20);
    }
    EXPECT_LE(mostCards, 4u);
    EXPECT_TRUE(waitUntil([&] { return onlyCardShows(last); }, 6000)) << cards().size() << " cards";
    closeEverything();
    EXPECT_TRUE(everythingReleased(5000));
}

// Leaves the library freed (but pinned): the last of this process's tests.
#ifndef _WIN64
// The rest of an x86 host's 2 GB committed in blocks from 64 MB down to
// 64 KB, so that the next allocation of any size fails; then freed from the
// smallest block up until at least leaveBytes are free again. The blocks are
// noted in static storage: the heap may have nothing left meanwhile.
class AddressSpaceFill {
public:
    explicit AddressSpaceFill(SIZE_T leaveBytes) {
        for (SIZE_T size = SIZE_T(64) << 20; size >= SIZE_T(64) << 10; size /= 2) {
            while (count_ < MAX_BLOCKS) {
                void* block = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
                if (block == nullptr) {
                    break;
                }
                blocks_[count_++] = Block{block, size};
            }
        }
        SIZE_T freed = 0;
        while (freed < leaveBytes && count_ > 0) {
            const Block& last = blocks_[--count_];
            VirtualFree(last.address, 0, MEM_RELEASE);
            freed += last.size;
        }
    }
    ~AddressSpaceFill() {
        while (count_ > 0) {
            VirtualFree(blocks_[--count_].address, 0, MEM_RELEASE);
        }
    }
    AddressSpaceFill(const AddressSpaceFill&) = delete;
    AddressSpaceFill& operator=(const AddressSpaceFill&) = delete;

private:
    struct Block {
        void* address;
        SIZE_T size;
    };
    static constexpr size_t MAX_BLOCKS = 40000;  // 2 GB in 64 KB blocks is 32,768
    static Block blocks_[MAX_BLOCKS];
    size_t count_ = 0;
};
AddressSpaceFill::Block AddressSpaceFill::blocks_[MAX_BLOCKS];

// A host that has used up its address space gets an error from every call,
// never a crash, and a working card once the space is back; nothing that a
// failed call or a card that could not finish starting took is left behind.
TEST_F(Counted, x86_calls_with_the_address_space_nearly_full_fail_cleanly) {
    // Built first: the calls must meet the shortage inside the DLL.
    std::wstring million;
    for (int i = 0; i < 1000000; ++i) {
        million += std::to_wstring(i) + L":" + std::to_wstring(i % 977 - 488) + L";";
    }
    std::wstring tenMillion;
    tenMillion.reserve(40000000);
    for (int i = 0; i < 10000000; ++i) {
        tenMillion += (i % 2 == 0) ? L"1:2;" : L"3:4;";
    }
    const std::wstring longTitle(10000000, L'\x30ab');
    for (const SIZE_T leaveMb : {120, 24, 2}) {
        int results[3] = {};
        {
            AddressSpaceFill fill(leaveMb << 20);
            results[0] = dll.show(million.c_str(), L"1M", nullptr, L"v", nullptr, 0, 0, 1, 0.3, 1, 0, 0);
            results[1] = dll.show(tenMillion.c_str(), L"10M", nullptr, L"v", nullptr, 0, 0, 1, 0.3, 1, 0, 0);
            results[2] = dll.show(SERIES, longTitle.c_str(), nullptr, L"v", nullptr, 0, 0, 1, 0.3, 1, 0, 0);
            dll.close();
        }
        for (const int result : results) {
            EXPECT_TRUE(result == 0 || result == -1 || result == -2)
                << result << " with " << leaveMb << " MB left";
        }
        dll.close();
        EXPECT_TRUE(waitForNoCards()) << leaveMb << " MB left";
        EXPECT_TRUE(everythingReleased(15000))
            << leaveMb << " MB left: records " << dll.liveRecords() << ", GDI+ users "
            << dll.gdiplusUsers() ;
    }
    EXPECT_TRUE(waitUntil([] { return dll.liveDrawingObjects() == 0; }, 5000))
        << dll.liveDrawingObjects() << " drawing objects";
    ASSERT_EQ(showTitled(SERIES, L"space back", 0), 0);
    EXPECT_TRUE(waitUntil([] { return onlyCardShows(L"space back"); }, 5000));
}
#endif

TEST_F(Counted, card_keeps_animating_and_closes_after_free_library) {
    ASSERT_EQ(dll.show(SERIES, L"t", nullptr, nullptr, nullptr, 0, 2, 1, 3.0, 1, 0, 0), 0);
    ASSERT_NE(waitForCard(), nullptr);
    LongFn frames = dll.framesPresented;
    LongFn records = dll.liveRecords;
    EXPECT_TRUE(FreeLibrary(dll.module));
    EXPECT_EQ(GetModuleHandleW(dll.name.c_str()), dll.module);
    const long before = frames();
    pump(500);
    EXPECT_GT(frames(), before + 10);
    EXPECT_TRUE(waitForNoCards(5000));  // its auto-close still runs
    EXPECT_TRUE(waitUntil([&] { return records() == 0; }, 3000));
}

// ---- kestrine.dll in a prefix whose desktop is at 120 DPI -----------------

using Dpi120 = HostTest;

TEST_F(Dpi120, card_is_sized_and_centred_for_the_monitor_dpi) {
    ASSERT_EQ(show(0, 0), 0);
    HWND card = waitForCard();
    ASSERT_NE(card, nullptr);
    const RECT r = rectOf(card);
    EXPECT_EQ(r.right - r.left, 1150);
    EXPECT_EQ(r.bottom - r.top, 700);
    EXPECT_EQ(r.left, (1920 - 1150) / 2);
    EXPECT_EQ(r.top, (1080 - 700) / 2);
}

// Last: the host frees kestrine.dll while its card is open.
using FreeLibraryWhileOpen = HostTest;

TEST_F(FreeLibraryWhileOpen, module_stays_loaded_and_the_card_closes_normally) {
    ASSERT_EQ(show(1, 1), 0);
    HWND card = waitForCard();
    ASSERT_NE(card, nullptr);
    EXPECT_TRUE(FreeLibrary(dll.module));
    EXPECT_EQ(GetModuleHandleW(dll.name.c_str()), dll.module);
    pump(300);
    EXPECT_TRUE(IsWindow(card));
    EXPECT_TRUE(waitForNoCards(4000));
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::string name = "kestrine.dll";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--dll=", 6) == 0) {
            name = argv[i] + 6;
        } else if (std::strncmp(argv[i], "--stress-seconds=", 17) == 0) {
            stressSeconds = (std::max)(1, std::atoi(argv[i] + 17));
        }
    }
    dll.folder = kestrine::test::programFolder();
    dll.name.assign(name.begin(), name.end());
    dll.module = LoadLibraryW((dll.folder + dll.name).c_str());
    if (dll.module == nullptr) {
        std::fprintf(stderr, "cannot load %s\n", name.c_str());
        return 2;
    }
    dll.show = entry<ShowFn>("ShowKestrine");
    dll.close = entry<CloseFn>("CloseKestrine");
    dll.version = entry<VersionFn>("KestrineVersion");
    dll.liveRecords = entry<LongFn>("KestrineTestLiveRecords");
    dll.gdiplusUsers = entry<IntFn>("KestrineTestGdiplusUsers");
    dll.framesPresented = entry<LongFn>("KestrineTestFramesPresented");
    dll.lastFrameTitle = entry<int (*)(wchar_t*, int)>("KestrineTestLastFrameTitle");
    dll.liveDrawingObjects = entry<LongFn>("KestrineTestLiveDrawingObjects");
    dll.windowFrameTitle = entry<int (*)(HWND, wchar_t*, int)>("KestrineTestWindowFrameTitle");
    dll.keptBytes = entry<long long (*)()>("KestrineTestKeptBytes");
    dll.keepMilliseconds = entry<void (*)(unsigned int)>("KestrineTestKeepMilliseconds");
    if (dll.keepMilliseconds != nullptr) {
        dll.keepMilliseconds(KEEP_MS);
    }
    if (dll.show == nullptr || dll.close == nullptr || dll.version == nullptr) {
        std::fprintf(stderr, "%s lacks an export\n", name.c_str());
        return 2;
    }

    // A host window that holds the foreground, as a real application would.
    WNDCLASSEXW hostClass = {};
    hostClass.cbSize = sizeof(hostClass);
    hostClass.lpfnWndProc = hostProc;
    hostClass.hInstance = GetModuleHandleW(nullptr);
    hostClass.lpszClassName = L"KestrineTestHost";
    RegisterClassExW(&hostClass);
    host = CreateWindowExW(0, L"KestrineTestHost", L"host", WS_OVERLAPPEDWINDOW, 50, 50, 400, 300,
                           nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ShowWindow(host, SW_SHOW);
    SetForegroundWindow(host);
    pump(200);
    return RUN_ALL_TESTS();
}
