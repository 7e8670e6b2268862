// Tests of the card window procedure, run on the test's own thread and often
// called directly: updates, destruction, the animation clock's
// frames, and press, drag, release and capture loss.

#include "card/window_proc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "card/card_registry.h"
#include "card/hand_over.h"
#include "card/ui_thread.h"
#include "card/window_seams.h"
#include "card_test_support.h"
#include "draw/frame_layer_seams.h"
#include "draw/frame_layers.h"
#include "draw/frame_renderer.h"
#include "draw/module_lock.h"
#include "draw/test_seams.h"
#include "kestrine.h"

namespace kestrine {
namespace {

using test::attached;
using test::closeCardHere;
using test::newRequest;
using test::openCardHere;
using test::pumpFor;

RECT windowRect(HWND card) {
    RECT r = {0, 0, 0, 0};
    GetWindowRect(card, &r);
    return r;
}

class CardHere : public ::testing::Test {
protected:
    void SetUp() override {
        test::forgetSavedPosition();
        recordsBefore = testing::liveRequests();
        card = openCardHere(newRequest(false, 0));
        ASSERT_NE(card, nullptr);
    }
    void TearDown() override {
        ReleaseCapture();
        closeCardHere(card);
        if (other != nullptr) {
            DestroyWindow(other);
        }
        test::forgetSavedPosition();
        EXPECT_EQ(testing::liveRequests(), recordsBefore);
    }
    POINT centre() const {
        const RECT r = windowRect(card);
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
    long recordsBefore = 0;
    HWND card = nullptr;
    HWND other = nullptr;
};

using Update = CardHere;

// 0x41 in every byte of a pointer-sized value, on x86 as on x86-64.
const LPARAM JUNK_ADDRESS = static_cast<LPARAM>(~uintptr_t{0} / 0xFF * 0x41);

// A look with nothing waiting, with any parameters (another process may post
// it too), changes nothing; nothing in it is followed.
TEST_F(Update, looks_take_only_what_waits_for_the_card) {
    ChartRequest* before = attached(card);
    test::clearFrames();
    for (LPARAM junk : {LPARAM{0}, LPARAM{1}, JUNK_ADDRESS, LPARAM{-1}}) {
        EXPECT_EQ(chartWindowProc(card, WM_CHART_LOOK, static_cast<WPARAM>(junk), junk), 0);
    }
    EXPECT_EQ(attached(card), before);
    EXPECT_TRUE(test::frames().empty());
    EXPECT_EQ(testing::liveRequests(), recordsBefore + 1);
}

TEST_F(Update, is_adopted_keeping_size_and_scale) {
    ChartRequest* old = attached(card);
    old->dpiScale = 1.25;
    old->surfaceWidth = 1150;
    old->surfaceHeight = 700;
    ChartRequest* fresh = newRequest(true, 30);
    test::clearFrames();

    EXPECT_EQ(test::updateCardHere(card, fresh), KESTRINE_OK);
    EXPECT_EQ(attached(card), fresh);
    EXPECT_EQ(fresh->dpiScale, 1.25);
    EXPECT_EQ(fresh->surfaceWidth, 1150);
    EXPECT_EQ(fresh->surfaceHeight, 700);
    EXPECT_EQ(testing::liveRequests(), recordsBefore + 1);  // the old record is gone
    EXPECT_EQ(fresh->plotPoints.size(), 3u);
    EXPECT_NE(fresh->animationStartTick, 0u);
    // Animated: the first frame is transparent and the clock runs again.
    ASSERT_EQ(test::frames().size(), 1u);
    EXPECT_EQ(test::frames()[0].fade, 0.0);
    EXPECT_EQ(test::frames()[0].progress, 0.0);
    EXPECT_TRUE(GetWindowLongW(card, GWL_EXSTYLE) & WS_EX_TOPMOST);
    // Both timers were started for the new record.
    EXPECT_TRUE(KillTimer(card, ANIMATION_TIMER));
    EXPECT_TRUE(KillTimer(card, AUTOCLOSE_TIMER));
}

// Calls before the card looks: each returns at once, the older record is
// freed unseen, and the one look prepares the newest.
TEST_F(Update, only_the_newest_waiting_record_is_prepared) {
    ChartRequest* shown = attached(card);
    ChartRequest* newest = newRequest(true, 7);
    test::clearFrames();
    EXPECT_EQ(handOverRecord(newRequest(false, 0)), KESTRINE_OK);
    EXPECT_EQ(handOverRecord(newest), KESTRINE_OK);
    EXPECT_EQ(attached(card), shown);
    EXPECT_TRUE(test::frames().empty());
    EXPECT_EQ(testing::liveRequests(), recordsBefore + 2);  // the first is gone unseen
    EXPECT_EQ(test::updateCardHere(card, nullptr), KESTRINE_OK);
    EXPECT_EQ(attached(card), newest);
    EXPECT_EQ(newest->autoCloseSeconds, 7);
    EXPECT_EQ(newest->plotPoints.size(), 3u);
    EXPECT_EQ(test::frames().size(), 1u);
    EXPECT_EQ(testing::liveRequests(), recordsBefore + 1);
}

// A card closed (a click, its delay) before it took the newest record: that
// record goes to a new card rather than with the card.
TEST_F(Update, a_record_waiting_as_the_card_closes_goes_to_a_new_card) {
    static uint64_t started = 0;
    testing::setCardThreadStarter([](uint64_t id) {
        started = id;
        return true;
    });
    const uint64_t closing = testing::currentCardId();
    ChartRequest* waiting = newRequest(false, 0);
    EXPECT_EQ(handOverRecord(waiting), KESTRINE_OK);
    DestroyWindow(card);
    testing::setCardThreadStarter(nullptr);
    ASSERT_NE(started, 0u);
    EXPECT_NE(started, closing);
    EXPECT_EQ(testing::currentCardId(), started);
    EXPECT_EQ(testing::liveRequests(), recordsBefore + 1);  // only the waiting one
    // The new card opens here with it.
    static const testing::ThreadDpiStandIn noThreadContexts;
    testing::setThreadDpiStandIn(&noThreadContexts);
    other = openStartedCard(started);
    testing::setThreadDpiStandIn(nullptr);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(attached(other), waiting);
}

TEST_F(Update, card_closed_by_close_kestrine_takes_nothing_more) {
    EXPECT_EQ(CloseKestrine(), 1);
    EXPECT_EQ(test::readCurrentWindow(), nullptr);
    ChartRequest* shown = attached(card);
    // The next call starts a card of its own.
    const uint64_t next = test::routeToNewCard(newRequest(false, 0));
    EXPECT_NE(next, 0u);
    chartWindowProc(card, WM_CHART_LOOK, 0, 0);
    EXPECT_EQ(attached(card), shown);
    pumpFor(50);
    EXPECT_FALSE(IsWindow(card));
    voidCardsForClose();  // the started card never ran: its record goes
}

TEST_F(Update, adoption_ends_a_drag_and_gives_back_the_capture) {
    const POINT c = centre();
    const RECT start = windowRect(card);
    SetCursorPos(c.x, c.y);
    chartWindowProc(card, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    ASSERT_EQ(GetCapture(), card);

    ChartRequest* fresh = newRequest(false, 0);
    ASSERT_EQ(test::updateCardHere(card, fresh), KESTRINE_OK);
    ASSERT_EQ(attached(card), fresh);
    EXPECT_NE(GetCapture(), card);
    EXPECT_FALSE(fresh->dragPressed);

    SetCursorPos(c.x + 60, c.y + 40);
    chartWindowProc(card, WM_MOUSEMOVE, MK_LBUTTON, 0);
    chartWindowProc(card, WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(windowRect(card).left, start.left);
    EXPECT_TRUE(IsWindow(card));  // the release is not a click any more
}

TEST(UpdateWithoutRecord, window_without_a_record_ignores_looks_and_the_mouse) {
    ASSERT_TRUE(registerCardClass());
    HWND bare = CreateWindowExW(WS_EX_LAYERED, CARD_WINDOW_CLASS, L"bare", WS_POPUP, 0, 0, 100,
                                100, nullptr, nullptr, moduleInstance, nullptr);
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(chartWindowProc(bare, WM_CHART_LOOK, 0, 0), 0);
    EXPECT_EQ(attached(bare), nullptr);
    EXPECT_EQ(chartWindowProc(bare, WM_LBUTTONDOWN, MK_LBUTTON, 0), 0);
    EXPECT_NE(GetCapture(), bare);
    closeCardHere(bare);
}

using Destruction = CardHere;

TEST_F(Destruction, frees_the_record_clears_current_and_ends_the_loop) {
    ASSERT_EQ(test::readCurrentWindow(), card);
    const int quits = test::quitMessagesSeen();
    DestroyWindow(card);
    EXPECT_EQ(test::readCurrentWindow(), nullptr);
    EXPECT_EQ(testing::liveRequests(), recordsBefore);
    pumpFor(0);
    EXPECT_EQ(test::quitMessagesSeen(), quits + 1);
}

// An older card closing leaves the newer one current, with what it shows.
TEST_F(Destruction, newer_current_card_stays_current) {
    voidCardsForClose();
    other = openCardHere(newRequest(false, 0));
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(test::readCurrentWindow(), other);
    ChartRequest* shown = attached(other);
    DestroyWindow(card);
    EXPECT_EQ(test::readCurrentWindow(), other);
    EXPECT_EQ(attached(other), shown);
    EXPECT_EQ(testing::liveRequests(), recordsBefore + 1);
    pumpFor(20);
    EXPECT_EQ(attached(other), shown);
}

TEST_F(Destruction, autoclose_timer_destroys_the_card) {
    EXPECT_EQ(chartWindowProc(card, WM_TIMER, AUTOCLOSE_TIMER, 0), 0);
    EXPECT_FALSE(IsWindow(card));
}

TEST_F(Destruction, unknown_timer_changes_nothing) {
    test::clearFrames();
    chartWindowProc(card, WM_TIMER, 7, 0);
    EXPECT_TRUE(IsWindow(card));
    EXPECT_TRUE(test::frames().empty());
}

TEST(AnimationFrames, animated_card_fades_in_and_ends_on_its_resting_frame) {
    test::clearFrames();
    HWND card = openCardHere(newRequest(true, 0, 0.3));
    ASSERT_NE(card, nullptr);
    pumpFor(900);
    const std::vector<test::Frame> seen = test::frames();
    pumpFor(150);
    EXPECT_EQ(test::frames().size(), seen.size());  // the timer has stopped
    closeCardHere(card);

    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(seen.front().progress, 0.0);
    EXPECT_EQ(seen.front().elapsedSeconds, 0.0);
    EXPECT_EQ(seen.front().fade, 0.0);
    const test::Frame& last = seen[seen.size() - 1];
    const test::Frame& beforeLast = seen[seen.size() - 2];
    EXPECT_EQ(last.progress, 1.0);
    EXPECT_EQ(last.elapsedSeconds, 0.3);
    EXPECT_EQ(last.fade, 1.0);
    // The tick that ends the run: at or past the fade-in, curve complete.
    EXPECT_GE(beforeLast.elapsedSeconds, 0.35);
    EXPECT_EQ(beforeLast.fade, 1.0);
    EXPECT_EQ(beforeLast.progress, 1.0);
    for (size_t i = 1; i + 1 < seen.size(); ++i) {
        EXPECT_GE(seen[i].fade, seen[i - 1].fade);
        EXPECT_GE(seen[i].elapsedSeconds, seen[i - 1].elapsedSeconds);
    }
}

TEST(AnimationFrames, still_card_draws_only_its_resting_frame) {
    test::clearFrames();
    HWND card = openCardHere(newRequest(false, 0, 2.0));
    ASSERT_NE(card, nullptr);
    pumpFor(300);
    const std::vector<test::Frame> seen = test::frames();
    EXPECT_FALSE(KillTimer(card, ANIMATION_TIMER));
    EXPECT_FALSE(KillTimer(card, AUTOCLOSE_TIMER));
    closeCardHere(card);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].progress, 1.0);
    EXPECT_EQ(seen[0].elapsedSeconds, 2.0);
    EXPECT_EQ(seen[0].fade, 1.0);
}

// The window refuses every opaque frame while refuseOpaque is set, as a
// layered window does while a remote session reconnects.
std::atomic<bool> refuseOpaque{false};
std::atomic<int> refusedFrames{0};

bool refused(const BLENDFUNCTION* blend) {
    if (refuseOpaque && blend != nullptr && blend->SourceConstantAlpha == 255) {
        ++refusedFrames;
        return true;
    }
    return false;
}
BOOL WINAPI refusingIndirect(HWND window, const UPDATELAYEREDWINDOWINFO* info) {
    return refused(info->pblend) ? FALSE : UpdateLayeredWindowIndirect(window, info);
}
BOOL WINAPI refusingPlain(HWND window, HDC screen, POINT* at, SIZE* size, HDC source,
                          POINT* from, COLORREF key, BLENDFUNCTION* blend, DWORD flags) {
    return refused(blend) ? FALSE
                          : UpdateLayeredWindow(window, screen, at, size, source, from, key, blend,
                                                flags);
}

class RefusedPresent : public ::testing::Test {
protected:
    void SetUp() override {
        refuseOpaque = true;
        refusedFrames = 0;
        testing::setLayeredPresentHook(&refusingIndirect);
        testing::setUpdateLayeredWindowHook(&refusingPlain);
        test::clearFrames();
    }
    void TearDown() override {
        testing::setLayeredPresentHook(nullptr);
        testing::setUpdateLayeredWindowHook(nullptr);
        refuseOpaque = false;
    }
    // Refused until now: the card still tries; then taken: the timer stops
    // with the resting frame last.
    void expectRetriedUntilTaken(HWND card, double animationSeconds) {
        const int refusedSoFar = refusedFrames;
        pumpFor(350);
        EXPECT_GE(refusedFrames - refusedSoFar, 2) << "the card gave up on its resting frame";
        refuseOpaque = false;
        pumpFor(300);
        EXPECT_FALSE(KillTimer(card, ANIMATION_TIMER)) << "still retrying after it was taken";
        ASSERT_FALSE(test::frames().empty());
        EXPECT_EQ(test::frames().back().progress, 1.0);
        EXPECT_EQ(test::frames().back().elapsedSeconds, animationSeconds);
        EXPECT_EQ(test::frames().back().fade, 1.0);
        const size_t count = test::frames().size();
        pumpFor(250);
        EXPECT_EQ(test::frames().size(), count);
    }
};

TEST_F(RefusedPresent, animated_card_retries_its_last_frames_until_the_resting_one_is_taken) {
    HWND card = openCardHere(newRequest(true, 0, 0.3));
    ASSERT_NE(card, nullptr);
    pumpFor(800);  // the run is over; every opaque frame so far was refused
    ASSERT_GT(refusedFrames.load(), 0);
    expectRetriedUntilTaken(card, 0.3);
    closeCardHere(card);
}

TEST_F(RefusedPresent, still_card_retries_its_only_frame_until_it_is_taken) {
    HWND card = openCardHere(newRequest(false, 0, 2.0));
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(refusedFrames.load(), 1);
    expectRetriedUntilTaken(card, 2.0);
    closeCardHere(card);
}

using Drag = CardHere;

TEST_F(Drag, press_never_activates_the_card) {
    EXPECT_TRUE(GetWindowLongW(card, GWL_EXSTYLE) & WS_EX_NOACTIVATE);
    EXPECT_EQ(chartWindowProc(card, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(card),
                              MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN)),
              MA_NOACTIVATE);
}

// Presses and drags card by dx (past the threshold) without a button-up.
void dragBy(HWND card, POINT from, int dx) {
    SetCursorPos(from.x, from.y);
    chartWindowProc(card, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    SetCursorPos(from.x + dx, from.y);
    chartWindowProc(card, WM_MOUSEMOVE, MK_LBUTTON, 0);
}

TEST_F(Drag, card_keeps_the_capture_across_its_own_moves) {
    const RECT start = windowRect(card);
    dragBy(card, centre(), 40);
    EXPECT_EQ(windowRect(card).left, start.left + 40);
    EXPECT_EQ(GetCapture(), card);
    EXPECT_TRUE(attached(card)->dragPressed);
    EXPECT_FALSE(attached(card)->dragInOwnMove);
}

TEST_F(Drag, move_without_the_button_ends_the_drag_where_the_card_is) {
    ChartRequest* request = attached(card);
    request->autoCloseSeconds = 30;
    const POINT c = centre();
    const RECT start = windowRect(card);
    dragBy(card, c, 40);
    SetCursorPos(c.x + 90, c.y + 30);
    chartWindowProc(card, WM_MOUSEMOVE, 0, 0);  // the button-up went elsewhere
    EXPECT_FALSE(request->dragPressed);
    EXPECT_NE(GetCapture(), card);
    chartWindowProc(card, WM_MOUSEMOVE, MK_LBUTTON, 0);
    chartWindowProc(card, WM_LBUTTONUP, 0, 0);
    ASSERT_TRUE(IsWindow(card));
    EXPECT_EQ(windowRect(card).left, start.left + 40);
    EXPECT_TRUE(KillTimer(card, AUTOCLOSE_TIMER));  // its delay runs again
    ModuleLockGuard lock;
    EXPECT_TRUE(savedPositionValid);
    EXPECT_EQ(savedPosition.x, start.left + 40);
}

TEST_F(Drag, capture_cancelled_by_the_system_ends_the_drag_where_the_card_is) {
    const RECT start = windowRect(card);
    dragBy(card, centre(), 40);
    ASSERT_EQ(GetCapture(), card);
    chartWindowProc(card, WM_CANCELMODE, 0, 0);
    EXPECT_NE(GetCapture(), card);
    EXPECT_FALSE(attached(card)->dragPressed);
    EXPECT_EQ(windowRect(card).left, start.left + 40);
    // A capture lost to no window outside the card's own move is not Wine's
    // loss: it is never taken back.
    dragBy(card, centre(), 40);
    chartWindowProc(card, WM_CAPTURECHANGED, 0, 0);
    EXPECT_FALSE(attached(card)->dragPressed);
}

TEST_F(Drag, move_up_to_the_threshold_is_still_a_click) {
    const POINT c = centre();
    const RECT start = windowRect(card);
    SetCursorPos(c.x, c.y);
    chartWindowProc(card, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    SetCursorPos(c.x + GetSystemMetrics(SM_CXDRAG), c.y - GetSystemMetrics(SM_CYDRAG));
    chartWindowProc(card, WM_MOUSEMOVE, MK_LBUTTON, 0);
    EXPECT_EQ(windowRect(card).left, start.left);
    EXPECT_TRUE(attached(card)->dragPressed);
    EXPECT_FALSE(attached(card)->dragMoved);
    chartWindowProc(card, WM_LBUTTONUP, 0, 0);
    EXPECT_FALSE(IsWindow(card));
    bool saved = true;
    {
        ModuleLockGuard lock;
        saved = savedPositionValid;
    }
    EXPECT_FALSE(saved);
}

TEST_F(Drag, one_pixel_past_the_threshold_drags_by_the_whole_distance) {
    ChartRequest* request = attached(card);
    request->autoCloseSeconds = 30;
    SetTimer(card, AUTOCLOSE_TIMER, 30000, nullptr);
    const POINT c = centre();
    const RECT start = windowRect(card);
    const int step = GetSystemMetrics(SM_CXDRAG) + 1;
    SetCursorPos(c.x, c.y);
    chartWindowProc(card, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    SetCursorPos(c.x + step, c.y);
    chartWindowProc(card, WM_MOUSEMOVE, MK_LBUTTON, 0);
    EXPECT_EQ(windowRect(card).left, start.left + step);
    EXPECT_TRUE(request->dragMoved);
    EXPECT_FALSE(KillTimer(card, AUTOCLOSE_TIMER));  // stopped by the drag

    SetCursorPos(c.x + 150, c.y + 80);
    chartWindowProc(card, WM_MOUSEMOVE, MK_LBUTTON, 0);
    chartWindowProc(card, WM_LBUTTONUP, 0, 0);
    ASSERT_TRUE(IsWindow(card));
    const RECT dropped = windowRect(card);
    EXPECT_EQ(dropped.left, start.left + 150);
    EXPECT_EQ(dropped.top, start.top + 80);
    EXPECT_NE(GetCapture(), card);
    EXPECT_TRUE(KillTimer(card, AUTOCLOSE_TIMER));  // restarted by the release
    ModuleLockGuard lock;
    EXPECT_TRUE(savedPositionValid);
    EXPECT_EQ(savedPosition.x, start.left + 150);
    EXPECT_EQ(savedPosition.y, start.top + 80);
}

TEST_F(Drag, capture_taken_by_another_window_ends_the_drag) {
    other = test::makeOtherWindow();
    const POINT c = centre();
    const RECT start = windowRect(card);
    SetCursorPos(c.x, c.y);
    chartWindowProc(card, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    chartWindowProc(card, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(other));
    EXPECT_FALSE(attached(card)->dragPressed);
    SetCursorPos(c.x + 100, c.y + 100);
    chartWindowProc(card, WM_MOUSEMOVE, MK_LBUTTON, 0);
    chartWindowProc(card, WM_LBUTTONUP, 0, 0);
    EXPECT_TRUE(IsWindow(card));
    EXPECT_EQ(windowRect(card).left, start.left);
}

TEST_F(Drag, capture_lost_after_the_button_came_up_ends_the_drag) {
    const POINT c = centre();
    SetCursorPos(c.x, c.y);
    chartWindowProc(card, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    ASSERT_GE(GetAsyncKeyState(VK_LBUTTON), 0);  // nobody holds the real button
    chartWindowProc(card, WM_CAPTURECHANGED, 0, 0);
    EXPECT_FALSE(attached(card)->dragPressed);
    EXPECT_FALSE(attached(card)->dragMoved);
}

using DpiChange = CardHere;

int largestChannelDifference(uint32_t a, uint32_t b) {
    int most = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const int d = std::abs(static_cast<int>((a >> shift) & 0xFF) -
                               static_cast<int>((b >> shift) & 0xFF));
        most = (std::max)(most, d);
    }
    return most;
}

TEST_F(DpiChange, resizes_the_card_and_its_next_frame_matches_drawing_from_nothing) {
    ChartRequest* request = attached(card);
    const RECT start = windowRect(card);
    RECT suggested = {start.left + 10, start.top + 20, start.left + 1390, start.top + 860};
    test::clearFrames();
    chartWindowProc(card, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(request->dpiScale, 1.5);
    const RECT now = windowRect(card);
    EXPECT_EQ(now.left, start.left + 10);
    EXPECT_EQ(now.top, start.top + 20);
    EXPECT_EQ(now.right - now.left, 1380);
    EXPECT_EQ(now.bottom - now.top, 840);
    const FrameLayers* layers = testing::frameLayersOf(card);
    ASSERT_NE(layers, nullptr) << "layers are built again for the new scale";
    ASSERT_EQ(layers->width(), 1380);
    ASSERT_EQ(test::frames().size(), 1u);
    std::vector<uint32_t> fromNothing(1380u * 840u);
    ASSERT_TRUE(renderCardToPixels(*request, 1.0, request->animationSeconds, fromNothing.data()));
    int over = 0;
    for (size_t i = 0; i < fromNothing.size(); ++i) {
        over += largestChannelDifference(layers->framePixels()[i], fromNothing[i]) > 1;
    }
    EXPECT_EQ(over, 0);
}

TEST_F(DpiChange, during_a_drag_keeps_the_grabbed_point_under_the_pointer) {
    const RECT start = windowRect(card);
    dragBy(card, centre(), 40);
    POINT p = {0, 0};
    GetCursorPos(&p);
    const int grabbedX = p.x - (start.left + 40);
    const int grabbedY = p.y - start.top;
    RECT suggested = {0, 0, 1380, 840};
    chartWindowProc(card, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    const RECT now = windowRect(card);
    EXPECT_EQ(now.left, p.x - std::lround(grabbedX * 1.5));
    EXPECT_EQ(now.top, p.y - std::lround(grabbedY * 1.5));
    SetCursorPos(p.x + 30, p.y);
    chartWindowProc(card, WM_MOUSEMOVE, MK_LBUTTON, 0);
    EXPECT_EQ(windowRect(card).left, now.left + 30);
    EXPECT_EQ(GetCapture(), card);
}


// ---- the readout, with real pointer input over a card on this thread ----

// The frame the card last composed, as its window was given it.
std::vector<uint32_t> shownFrame(HWND card) {
    const FrameLayers* layers = testing::frameLayersOf(card);
    if (layers == nullptr) {
        return {};
    }
    const uint32_t* pixels = layers->framePixels();
    return std::vector<uint32_t>(pixels, pixels + layers->width() * layers->height());
}

// The smallest rectangle holding every pixel in which two frames differ.
DeviceRect differing(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, int width) {
    DeviceRect d{width, 1 << 30, 0, 0};
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i] != b[i]) {
            const int32_t x = static_cast<int32_t>(i % width);
            const int32_t y = static_cast<int32_t>(i / width);
            d.unite(DeviceRect{x, y, x + 1, y + 1});
        }
    }
    return d.right > 0 ? d : DeviceRect{};
}

class Readout : public CardHere {
protected:
    // Puts the pointer over the card at a logical point and lets the
    // readout's tick come round.
    void pointAt(double x, double y) {
        const RECT r = windowRect(card);
        const double scale = attached(card)->dpiScale;
        test::pointerTo(r.left + static_cast<int>(x * scale), r.top + static_cast<int>(y * scale));
        pumpFor(60);
    }
    int width() const { return attached(card)->surfaceWidth; }
    // Device column of a point of the card's series.
    int32_t columnOf(std::size_t index) const {
        return static_cast<int32_t>(attached(card)->plotPoints[index].x * attached(card)->dpiScale);
    }
};

TEST_F(Readout, follows_the_pointer_over_the_plot_and_goes_when_it_leaves) {
    pointAt(900, 540);  // on the card, off the plot
    const std::vector<uint32_t> resting = shownFrame(card);
    ASSERT_FALSE(resting.empty());
    // Nearer the middle point (x 467) than the first (x 72).
    pointAt(300, 300);
    const DeviceRect middle = differing(resting, shownFrame(card), width());
    ASSERT_FALSE(middle.empty()) << "no readout";
    EXPECT_LE(middle.left, columnOf(1));
    EXPECT_GT(middle.right, columnOf(1));
    EXPECT_GT(middle.left, columnOf(0) + 40) << "drawn beyond the middle point's marks";
    // Near the first point: the readout moves there.
    pointAt(120, 400);
    const DeviceRect first = differing(resting, shownFrame(card), width());
    ASSERT_FALSE(first.empty());
    EXPECT_LE(first.left, columnOf(0));
    EXPECT_LT(first.right, columnOf(1) - 40) << "the middle point's readout was left behind";
    // Off the card: the window hears of it and shows its resting frame again.
    const RECT r = windowRect(card);
    test::pointerTo(r.right + 40, r.bottom + 40);
    EXPECT_TRUE(test::waitUntil([&] { return shownFrame(card) == resting; }, 2000));
}

TEST_F(Readout, nothing_over_the_headline_or_the_hint) {
    pointAt(900, 540);
    const std::vector<uint32_t> resting = shownFrame(card);
    for (const POINT at : {POINT{120, 40}, POINT{800, 40}, POINT{800, 530}, POINT{30, 300}}) {
        pointAt(at.x, at.y);
        EXPECT_TRUE(shownFrame(card) == resting) << "readout at " << at.x << "," << at.y;
    }
}

TEST_F(Readout, press_takes_it_away_and_still_drags_then_a_click_closes) {
    pointAt(900, 540);
    const std::vector<uint32_t> resting = shownFrame(card);
    pointAt(300, 300);
    ASSERT_FALSE(shownFrame(card) == resting);
    const RECT start = windowRect(card);
    test::sendMouse(MOUSEEVENTF_LEFTDOWN);
    pumpFor(50);
    EXPECT_TRUE(shownFrame(card) == resting) << "the readout stayed through a press";
    const POINT at = {start.left + static_cast<LONG>(300 * attached(card)->dpiScale),
                      start.top + static_cast<LONG>(300 * attached(card)->dpiScale)};
    test::pointerTo(at.x + 60, at.y + 20);
    test::sendMouse(MOUSEEVENTF_LEFTUP);
    pumpFor(50);
    EXPECT_EQ(windowRect(card).left, start.left + 60);
    EXPECT_EQ(windowRect(card).top, start.top + 20);
    EXPECT_NE(GetForegroundWindow(), card);
    test::sendMouse(MOUSEEVENTF_LEFTDOWN);
    pumpFor(30);
    test::sendMouse(MOUSEEVENTF_LEFTUP);
    EXPECT_TRUE(test::waitUntil([&] { return !IsWindow(card); }, 3000));
}

TEST_F(Readout, a_burst_of_moves_is_one_frame_at_the_next_tick) {
    ChartRequest* request = attached(card);
    // The pointer really over the plot, so that no leave notice comes.
    const RECT r = windowRect(card);
    SetCursorPos(r.left + static_cast<int>(300 * request->dpiScale),
                 r.top + static_cast<int>(300 * request->dpiScale));
    pumpFor(30);
    test::clearFrames();
    for (int i = 0; i < 20; ++i) {
        // Ending nearest the last point, not the middle one the pointer reads.
        const int x = static_cast<int>((100 + 35 * i) * request->dpiScale);
        const int y = static_cast<int>(300 * request->dpiScale);
        chartWindowProc(card, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
    }
    EXPECT_EQ(test::frames().size(), 0u);
    pumpFor(80);
    EXPECT_EQ(test::frames().size(), 1u);
    // And none while the curve grows in: the readout waits for the rest.
    request->restingShown = false;
    chartWindowProc(card, WM_MOUSEMOVE, 0, MAKELPARAM(300, 300));
    pumpFor(50);
    EXPECT_EQ(test::frames().size(), 1u);
}

}  // namespace
}  // namespace kestrine
