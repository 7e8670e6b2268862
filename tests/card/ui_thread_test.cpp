// Tests of a card's UI thread pieces: the DPI query through shcore stand-ins,
// placement with and without a drop point (on a stand-in second monitor too),
// the created window, the one-time class registration, and whole thread runs
// including a failed creation.

#include "card/ui_thread.h"
#include "kestrine.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "card/card_registry.h"
#include "card/hand_over.h"
#include "card/window_proc.h"
#include "card/window_seams.h"
#include "card_test_support.h"
#include "draw/module_lock.h"

namespace kestrine {
namespace {

// What the fake shcore functions answer, and what they were asked.
struct FakeShcore {
    HRESULT awarenessResult = S_OK;
    int awareness = 2;
    HRESULT dpiResult = S_OK;
    UINT dpiX = 96;
    UINT secondDpiX = 96;  // of the stand-in second monitor
    int dpiCalls = 0;
    HMONITOR askedMonitor = nullptr;
    int askedType = -1;
    UINT presetX = 0;
    UINT presetY = 0;
    int presetAwareness = -1;
};

FakeShcore fake;
// Wine on Xvfb has one monitor; placement tests stand a second one of the
// same size to its right through the monitor lookup seam.
const HMONITOR SECOND_MONITOR = reinterpret_cast<HMONITOR>(static_cast<LONG_PTR>(0x5EC0));

HRESULT WINAPI fakeAwareness(HANDLE process, int* awareness) {
    EXPECT_EQ(process, GetCurrentProcess());
    fake.presetAwareness = *awareness;
    *awareness = fake.awareness;
    return fake.awarenessResult;
}

HRESULT WINAPI fakeDpi(HMONITOR monitor, int type, UINT* dpiX, UINT* dpiY) {
    ++fake.dpiCalls;
    fake.askedMonitor = monitor;
    fake.askedType = type;
    fake.presetX = *dpiX;
    fake.presetY = *dpiY;
    *dpiX = monitor == SECOND_MONITOR ? fake.secondDpiX : fake.dpiX;
    *dpiY = *dpiX;
    return fake.dpiResult;
}

HMONITOR primaryMonitor() {
    return MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
}

class DpiQuery : public ::testing::Test {
protected:
    void SetUp() override {
        fake = FakeShcore();
        standIn.getProcessDpiAwareness = &fakeAwareness;
        standIn.getDpiForMonitor = &fakeDpi;
        testing::setShcoreStandIn(&standIn);
    }
    void TearDown() override { testing::setShcoreStandIn(nullptr); }
    SurfaceSize query() { return monitorSurfaceSize(primaryMonitor()); }
    testing::ShcoreStandIn standIn;
};

void expectUnscaled(const SurfaceSize& size) {
    EXPECT_EQ(size.scale, 1.0);
    EXPECT_EQ(size.width, 920);
    EXPECT_EQ(size.height, 560);
}

TEST_F(DpiQuery, aware_process_is_sized_by_the_primary_monitor_dpi) {
    fake.dpiX = 120;
    const SurfaceSize size = query();
    EXPECT_EQ(size.scale, 1.25);
    EXPECT_EQ(size.width, 1150);
    EXPECT_EQ(size.height, 700);
    EXPECT_EQ(fake.presetAwareness, 0);
    EXPECT_EQ(fake.askedMonitor, primaryMonitor());
    EXPECT_EQ(fake.askedType, 0);  // MDT_EFFECTIVE_DPI
    EXPECT_EQ(fake.presetX, 96u);
    EXPECT_EQ(fake.presetY, 96u);
}

TEST_F(DpiQuery, sizes_follow_the_dpi_up_to_the_clamps) {
    fake.dpiX = 144;
    SurfaceSize size = query();
    EXPECT_EQ(size.width, 1380);
    EXPECT_EQ(size.height, 840);
    fake.dpiX = 40;
    size = query();
    EXPECT_EQ(size.scale, 0.5);
    EXPECT_EQ(size.width, 460);
    EXPECT_EQ(size.height, 280);
    fake.dpiX = 480;
    size = query();
    EXPECT_EQ(size.scale, 4.0);
    EXPECT_EQ(size.width, 3680);
    EXPECT_EQ(size.height, 2240);
}

TEST_F(DpiQuery, unaware_host_gets_the_monitor_scale_on_a_per_monitor_aware_card_thread) {
    fake.awareness = 0;  // PROCESS_DPI_UNAWARE
    fake.dpiX = 144;
    const SurfaceSize size = monitorSurfaceSize(primaryMonitor(), true);
    EXPECT_EQ(size.scale, 1.5);
    EXPECT_EQ(size.width, 1380);
    EXPECT_EQ(size.height, 840);
    expectUnscaled(query());  // without the thread's own context
}

std::vector<HANDLE> askedContexts;
HANDLE refusedContext = nullptr;

HANDLE WINAPI fakeSetThreadContext(HANDLE context) {
    askedContexts.push_back(context);
    return context == refusedContext ? nullptr : reinterpret_cast<HANDLE>(0x11);
}
HANDLE WINAPI refuseEveryContext(HANDLE context) {
    askedContexts.push_back(context);
    return nullptr;
}

TEST(ThreadDpi, asks_for_per_monitor_v2_then_v1_and_says_what_it_got) {
    const HANDLE v2 = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-4));
    const HANDLE v1 = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-3));
    testing::ThreadDpiStandIn standIn;
    standIn.setThreadDpiAwarenessContext = &fakeSetThreadContext;
    testing::setThreadDpiStandIn(&standIn);
    askedContexts.clear();
    refusedContext = nullptr;
    EXPECT_TRUE(makeThreadPerMonitorAware());
    EXPECT_EQ(askedContexts, (std::vector<HANDLE>{v2}));
    askedContexts.clear();
    refusedContext = v2;  // a system before v2
    EXPECT_TRUE(makeThreadPerMonitorAware());
    EXPECT_EQ(askedContexts, (std::vector<HANDLE>{v2, v1}));
    standIn.setThreadDpiAwarenessContext = &refuseEveryContext;
    EXPECT_FALSE(makeThreadPerMonitorAware());
    standIn.setThreadDpiAwarenessContext = nullptr;  // before thread contexts
    EXPECT_FALSE(makeThreadPerMonitorAware());
    testing::setThreadDpiStandIn(nullptr);
}

TEST(ThreadDpiUnderWine, card_thread_context_leaves_the_calling_thread_alone) {
    using GetContextFn = HANDLE(WINAPI*)();
    const auto getContext = reinterpret_cast<GetContextFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetThreadDpiAwarenessContext")));
    ASSERT_NE(getContext, nullptr);
    const HANDLE before = getContext();
    bool madeAware = false;
    std::thread card([&] { madeAware = makeThreadPerMonitorAware(); });
    card.join();
    EXPECT_TRUE(madeAware);
    EXPECT_EQ(getContext(), before);
}

TEST_F(DpiQuery, no_shcore_keeps_the_unscaled_size) {
    standIn.shcorePresent = false;
    expectUnscaled(query());
}

TEST_F(DpiQuery, unaware_process_keeps_the_unscaled_size_without_asking_the_monitor) {
    fake.awareness = 0;
    fake.dpiX = 144;
    expectUnscaled(query());
    EXPECT_EQ(fake.dpiCalls, 0);
}

TEST_F(DpiQuery, failing_awareness_query_keeps_the_unscaled_size) {
    fake.awarenessResult = E_ACCESSDENIED;
    fake.dpiX = 144;
    expectUnscaled(query());
    EXPECT_EQ(fake.dpiCalls, 0);
}

TEST_F(DpiQuery, missing_exports_keep_the_unscaled_size) {
    fake.dpiX = 144;
    standIn.getDpiForMonitor = nullptr;
    expectUnscaled(query());
    standIn.getDpiForMonitor = &fakeDpi;
    standIn.getProcessDpiAwareness = nullptr;
    expectUnscaled(query());
    EXPECT_EQ(fake.dpiCalls, 0);
}

TEST_F(DpiQuery, failing_or_zero_dpi_keeps_the_unscaled_size) {
    fake.dpiX = 144;
    fake.dpiResult = E_INVALIDARG;
    expectUnscaled(query());
    fake.dpiResult = S_OK;
    fake.dpiX = 0;
    expectUnscaled(query());
}

TEST(DpiQueryUnderWine, real_shcore_reports_the_prefix_dpi_of_96) {
    testing::setShcoreStandIn(nullptr);
    expectUnscaled(monitorSurfaceSize(primaryMonitor()));
}

RECT primaryRect() {
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(primaryMonitor(), &info);
    return info.rcMonitor;
}

// MonitorFromRect with a second monitor of the primary's size to its right.
HMONITOR WINAPI monitorWithSecond(const RECT* rect, DWORD flags) {
    const RECT primary = primaryRect();
    const RECT second = {primary.right, primary.top, 2 * primary.right - primary.left,
                         primary.bottom};
    RECT both = {};
    if (rect->left >= primary.right) {
        return IntersectRect(&both, rect, &second) ? SECOND_MONITOR : nullptr;
    }
    return MonitorFromRect(rect, flags);
}

class CardPlacement : public ::testing::Test {
protected:
    void SetUp() override { test::forgetSavedPosition(); }
    void TearDown() override {
        test::forgetSavedPosition();
        testing::setShcoreStandIn(nullptr);
        testing::setMonitorFromRectStandIn(nullptr);
    }
    // Two monitors: the primary at 96 DPI, the second at secondDpi.
    void standSecondMonitor(UINT secondDpi) {
        fake = FakeShcore();
        fake.secondDpiX = secondDpi;
        shcore.getProcessDpiAwareness = &fakeAwareness;
        shcore.getDpiForMonitor = &fakeDpi;
        testing::setShcoreStandIn(&shcore);
        testing::setMonitorFromRectStandIn(&monitorWithSecond);
    }
    static ScreenPoint origin(const RECT& workArea) {
        return chooseNewCardOpening(primaryMonitor(), workArea).topLeft;
    }
    testing::ShcoreStandIn shcore;
    static void savePosition(int x, int y) {
        ModuleLockGuard lock;
        savedPositionValid = true;
        savedPosition = POINT{x, y};
    }
};

TEST_F(CardPlacement, centred_in_the_work_area_without_a_drop_point) {
    ScreenPoint p = origin(RECT{0, 0, 1920, 1040});
    EXPECT_EQ(p.x, 500);
    EXPECT_EQ(p.y, 240);
    p = origin(RECT{60, 0, 1920, 1080});
    EXPECT_EQ(p.x, 530);
    EXPECT_EQ(p.y, 260);
}

TEST_F(CardPlacement, drop_point_partly_off_screen_is_used_unchanged) {
    savePosition(1800, -100);
    const ScreenPoint p = origin(RECT{0, 0, 1920, 1080});
    EXPECT_EQ(p.x, 1800);
    EXPECT_EQ(p.y, -100);
}

TEST_F(CardPlacement, drop_point_off_every_monitor_is_ignored) {
    savePosition(5000, 5000);
    const ScreenPoint p = origin(RECT{0, 0, 1920, 1080});
    EXPECT_EQ(p.x, 500);
    EXPECT_EQ(p.y, 260);
}

TEST_F(CardPlacement, card_at_a_drop_point_is_sized_for_the_monitor_it_opens_on) {
    standSecondMonitor(144);
    const LONG right = primaryRect().right;
    savePosition(right + 200, 100);
    ChartRequest* request = test::newRequest(false, 0);
    HWND card = test::openCardHere(request);
    ASSERT_NE(card, nullptr);
    RECT r = {};
    GetWindowRect(card, &r);
    EXPECT_EQ(r.left, right + 200);
    EXPECT_EQ(r.top, 100);
    EXPECT_EQ(r.right - r.left, 1380);
    EXPECT_EQ(r.bottom - r.top, 840);
    EXPECT_EQ(request->dpiScale, 1.5);
    EXPECT_EQ(request->surfaceWidth, 1380);
    test::closeCardHere(card);
}

TEST_F(CardPlacement, card_shrunk_off_every_monitor_opens_centred_at_the_primary_size) {
    standSecondMonitor(48);
    const RECT primary = primaryRect();
    // At 920 x 560 the card reaches 60 pixels into the second monitor; at
    // its 460 x 280 it would reach none.
    savePosition(primary.right + 200, primary.top - 500);
    const CardOpening opening = chooseNewCardOpening(primaryMonitor(), RECT{0, 0, 1920, 1080});
    EXPECT_EQ(opening.topLeft.x, 500);
    EXPECT_EQ(opening.topLeft.y, 260);
    EXPECT_EQ(opening.size.width, 920);
    EXPECT_EQ(opening.size.height, 560);
}

// Seen at the step where the card's window exists with its record, before
// the card is prepared.
struct WindowAtItsMaking {
    bool seen = false;
    bool visible = true;
    bool current = false;
} atMaking;

void noteWindowAtItsMaking(testing::CardStep step, HWND window) {
    if (step == testing::CardStep::preparing) {
        atMaking.seen = true;
        atMaking.visible = IsWindowVisible(window) != FALSE;
        atMaking.current = test::readCurrentWindow() == window;
    }
}

TEST(CardWindow, created_hidden_layered_topmost_current_with_its_record) {
    test::forgetSavedPosition();
    const long records = testing::liveRequests();
    ChartRequest* request = test::newRequest(false, 0);
    atMaking = WindowAtItsMaking{};
    testing::setCardStepHook(&noteWindowAtItsMaking);
    HWND card = test::openCardHere(request);
    testing::setCardStepHook(nullptr);
    ASSERT_NE(card, nullptr);
    EXPECT_TRUE(atMaking.seen);
    EXPECT_FALSE(atMaking.visible);
    EXPECT_TRUE(atMaking.current);

    wchar_t text[64] = {};
    GetClassNameW(card, text, 64);
    EXPECT_STREQ(text, L"KestrineWindow");
    GetWindowTextW(card, text, 64);
    EXPECT_STREQ(text, L"Kestrine");
    const LONG style = GetWindowLongW(card, GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE(style & (WS_CAPTION | WS_THICKFRAME | WS_BORDER));
    const LONG exStyle = GetWindowLongW(card, GWL_EXSTYLE);
    EXPECT_EQ(exStyle & (WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST),
              WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST);
    RECT r = {};
    GetWindowRect(card, &r);
    EXPECT_EQ(r.left, 500);  // Xvfb without a window manager: the whole screen
    EXPECT_EQ(r.top, 260);
    EXPECT_EQ(r.right - r.left, 920);
    EXPECT_EQ(r.bottom - r.top, 560);
    EXPECT_EQ(request->dpiScale, 1.0);
    EXPECT_EQ(request->surfaceWidth, 920);
    EXPECT_EQ(request->surfaceHeight, 560);
    EXPECT_EQ(reinterpret_cast<ChartRequest*>(GetWindowLongPtrW(card, GWLP_USERDATA)), request);
    EXPECT_EQ(test::readCurrentWindow(), card);

    test::closeCardHere(card);
    EXPECT_EQ(testing::liveRequests(), records);
}

TEST(CardWindow, class_is_registered_once_with_the_card_procedure) {
    ASSERT_TRUE(registerCardClass());
    EXPECT_TRUE(registerCardClass());
    {
        ModuleLockGuard lock;
        EXPECT_TRUE(windowClassRegistered);
    }
    WNDCLASSEXW info = {};
    info.cbSize = sizeof(info);
    ASSERT_TRUE(GetClassInfoExW(moduleInstance, CARD_WINDOW_CLASS, &info));
    EXPECT_EQ(info.lpfnWndProc, &chartWindowProc);
    EXPECT_EQ(info.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
    EXPECT_NE(info.hCursor, nullptr);
    EXPECT_EQ(info.hbrBackground, nullptr);
}

// The thread of the last card started, kept so that a test can wait for it.
HANDLE lastCardThread = nullptr;
bool startKeepingHandle(uint64_t card) {
    lastCardThread = test::startCardThread(card);
    return lastCardThread != nullptr;
}

// Hands request over as ShowKestrine does, the card's thread started there.
DWORD runThread(ChartRequest* request, DWORD waitMs, HWND* cardOut) {
    testing::setCardThreadStarter(&startKeepingHandle);
    EXPECT_EQ(handOverRecord(request), KESTRINE_OK);
    testing::setCardThreadStarter(nullptr);
    HANDLE thread = lastCardThread;
    if (cardOut != nullptr) {
        // Wait for the card, then close it as CloseKestrine would.
        HWND card = nullptr;
        for (int i = 0; i < 200 && card == nullptr; ++i) {
            Sleep(10);
            card = FindWindowW(CARD_WINDOW_CLASS, nullptr);
        }
        *cardOut = card;
        if (card != nullptr) {
            Sleep(100);
            PostMessageW(card, WM_CLOSE, 0, 0);
        }
    }
    EXPECT_EQ(WaitForSingleObject(thread, waitMs), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    return code;
}

TEST(CardThread, runs_a_card_to_its_end_and_drops_its_references) {
    const long records = testing::liveRequests();
    const int users = test::gdiplusUserCount();
    HWND card = nullptr;
    EXPECT_EQ(runThread(test::newRequest(true, 0), 5000, &card), 0u);
    ASSERT_NE(card, nullptr);
    EXPECT_FALSE(IsWindow(card));
    EXPECT_EQ(test::readCurrentWindow(), nullptr);
    EXPECT_EQ(testing::liveRequests(), records);
    EXPECT_EQ(test::gdiplusUserCount(), users);
}

TEST(CardThread, a_starting_card_shows_the_newest_record_handed_to_it) {
    const long records = testing::liveRequests();
    ChartRequest* older = test::newRequest(false, 0);
    ChartRequest* newest = test::newRequest(false, 0);
    // A card kept without its thread: the test starts it once records are in.
    const uint64_t start = test::routeToNewCard(older);
    ASSERT_NE(start, 0u);
    // Until its window exists, the newest record waits for it, and the
    // older one is freed unseen.
    ASSERT_EQ(handOverRecord(newest), KESTRINE_OK);
    EXPECT_EQ(testing::liveRequests(), records + 1);
    HANDLE thread = test::startCardThread(start);
    ASSERT_NE(thread, nullptr);
    HWND card = nullptr;
    for (int i = 0; i < 200 && (card = FindWindowW(CARD_WINDOW_CLASS, nullptr)) == nullptr; ++i) {
        Sleep(10);
    }
    ASSERT_NE(card, nullptr);
    for (int i = 0; i < 200 && GetWindowLongPtrW(card, GWLP_USERDATA) == 0; ++i) {
        Sleep(10);
    }
    EXPECT_EQ(GetWindowLongPtrW(card, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(newest));
    // Once its window exists, records wait for it and it is told to look.
    EXPECT_EQ(handOverRecord(test::newRequest(false, 0)), KESTRINE_OK);
    PostMessageW(card, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_TRUE(test::waitUntil([&] { return testing::liveRequests() == records; }, 3000));
}

// The record of a call that returned 0 outlives a window that could not be
// made: it waits, and the rescue gives it to a new card once the window
// class is back.
TEST(CardThread, a_window_that_cannot_be_made_leaves_the_record_to_the_rescue) {
    const long records = testing::liveRequests();
    const int users = test::gdiplusUserCount();
    // The flag claims a class that is not there, so creation fails.
    ASSERT_TRUE(registerCardClass());
    ASSERT_TRUE(UnregisterClassW(CARD_WINDOW_CLASS, moduleInstance));
    const ULONGLONG called = GetTickCount64();
    EXPECT_EQ(runThread(test::newRequest(false, 0), 5000, nullptr), 1u);
    EXPECT_EQ(testing::liveRequests(), records + 1);
    EXPECT_EQ(test::gdiplusUserCount(), users);
    EXPECT_EQ(test::readCurrentWindow(), nullptr);
    {
        ModuleLockGuard lock;
        windowClassRegistered = false;
    }
    ASSERT_TRUE(registerCardClass());
    HWND card = nullptr;
    ASSERT_TRUE(test::waitUntil(
        [&] { return (card = FindWindowW(CARD_WINDOW_CLASS, nullptr)) != nullptr &&
                     IsWindowVisible(card); },
        6000));
    EXPECT_GE(GetTickCount64() - called, 2900u);  // the rescue's time, not before
    PostMessageW(card, WM_CLOSE, 0, 0);
    EXPECT_TRUE(test::waitUntil([&] { return testing::liveRequests() == records; }, 3000));
}

}  // namespace
}  // namespace kestrine
