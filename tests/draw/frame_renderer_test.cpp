// The frame renderer on real GDI+ under Wine: pixels of cards drawn into
// memory at dpiScale 1 and 2, the curve, marker and text rules, a frame
// presented to a real layered window, and the object balance over many frames.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "draw/frame_renderer.h"
#include "draw/test_seams.h"
#include "drawing_test_support.h"

namespace kestrine {
namespace {

using test::Pixels;

constexpr uint32_t ACCENT = 0xFF38D996u;
constexpr uint32_t FILL = 0xF21A1E25u;  // 0xF21B2027 premultiplied
constexpr uint32_t GRID = 0xFF34404Cu;
constexpr uint32_t ZERO_LINE = 0xFF8A949Eu;
const float NOT_A_NUMBER = std::numeric_limits<float>::quiet_NaN();

using test::WithGdiplus;

// A horizontal curve at y 200 from the plot's left edge to x 700, then up to
// the head at (760, 150); y axis -1..3 (zero line at 395); numeric x axis 0..10
// (ticks at 72, 230, 388, 546, 704, 862).
std::unique_ptr<ChartRequest> layoutRequest(double dpiScale) {
    auto request = test::plotRequest({{72, 200}, {300, 200}, {700, 200}, {760, 150}}, -1.0, 3.0,
                                     10.0, dpiScale);
    request->titleText = L"Profit";
    request->subtitleText = L"Today";
    request->valueText = L"+1,234";
    request->noteText = L"12 trades";
    return request;
}

class CardPixels : public WithGdiplus, public ::testing::WithParamInterface<double> {
protected:
    void SetUp() override {
        scale = GetParam();
        request = layoutRequest(scale);
        frame = test::renderToMemory(*request, 0.5, 0.0);
    }
    // The device pixel that holds a logical point.
    int device(double logical) const { return static_cast<int>(std::floor(logical * scale)); }
    uint32_t at(double x, double y) const { return frame.at(device(x), device(y)); }
    // Strongest share towards `colour` among the device rows that a 1-unit
    // horizontal line at logical y covers, in the column of logical x.
    double lineShare(double x, double y, uint32_t colour) const {
        double best = 0.0;
        for (int row = device(y - 0.5); row <= device(y + 0.5 - 1e-6); ++row) {
            best = (std::max)(best, test::shareTowards(frame.at(device(x), row), FILL, colour));
        }
        return best;
    }

    // Strongest share towards the accent of the two outermost pixels at an
    // edge, going inwards by (dx, dy).
    double edgeShare(int x, int y, int dx, int dy) const {
        return (std::max)(test::shareTowards(frame.at(x, y), FILL, ACCENT),
                        test::shareTowards(frame.at(x + dx, y + dy), FILL, ACCENT));
    }

    double scale = 1.0;
    std::unique_ptr<ChartRequest> request;
    Pixels frame;
};

TEST_P(CardPixels, surface_has_the_scaled_card_size) {
    EXPECT_EQ(frame.width, static_cast<int>(920 * scale));
    EXPECT_EQ(frame.height, static_cast<int>(560 * scale));
}

TEST_P(CardPixels, card_is_filled_inside_and_transparent_outside_its_corners) {
    EXPECT_LE(test::channelDistance(at(460, 300), FILL), 2);
    EXPECT_LE(test::channelDistance(at(600, 250), FILL), 2);
    const int w = frame.width;
    const int h = frame.height;
    for (const auto& corner : {std::make_pair(0, 0), std::make_pair(2, 2), std::make_pair(w - 1, 0),
                               std::make_pair(0, h - 1), std::make_pair(w - 3, h - 3)}) {
        EXPECT_EQ(frame.at(corner.first, corner.second), 0u)
            << "corner pixel " << corner.first << "," << corner.second;
    }
}

TEST_P(CardPixels, border_runs_round_the_edge_in_the_accent_colour) {
    // The border's one unit covers the outermost device pixel(s). Wine 8
    // strokes pens through GDI without the half-pixel offset, which moves
    // them one device pixel right and down: at dpiScale 1 the left and top
    // edges land on the second pixel and the right and bottom edges just off
    // the surface, so those two are checked at dpiScale 2, where they stay on.
    const int w = frame.width;
    const int h = frame.height;
    EXPECT_GE(edgeShare(0, device(280), 1, 0), 0.8);
    EXPECT_GE(edgeShare(device(460), 0, 0, 1), 0.8);
    if (scale >= 2.0) {
        EXPECT_GE(edgeShare(w - 1, device(280), -1, 0), 0.8);
        EXPECT_GE(edgeShare(device(460), h - 1, 0, -1), 0.8);
    }
    // One unit wide: a little further in, the fill is back.
    EXPECT_LE(test::channelDistance(at(3.5, 280), FILL), 2);
    EXPECT_LE(test::channelDistance(at(460, 3.5), FILL), 2);
}

TEST_P(CardPixels, six_grid_lines_lie_at_their_y) {
    for (double y : {110.0, 186.0, 262.0, 338.0, 414.0, 490.0}) {
        EXPECT_GE(lineShare(460, y, GRID), 0.4) << "grid line at y " << y;
    }
    for (double y : {148.0, 224.0, 300.0, 376.0, 452.0}) {
        EXPECT_LE(test::channelDistance(at(460, y), FILL), 2) << "between lines at y " << y;
    }
}

TEST_P(CardPixels, zero_line_alternates_dash_and_gap) {
    // Dashes of 4 units from the plot's left edge, then gaps of 4 units.
    for (int k = 1; k < 18; ++k) {
        const double dash = 72 + 8 * k + 2;
        const double gap = 72 + 8 * k + 6;
        EXPECT_GE(lineShare(dash, 395, ZERO_LINE), 0.3) << "dash at x " << dash;
        EXPECT_LE(lineShare(gap, 395, ZERO_LINE), 0.05) << "gap at x " << gap;
    }
}

TEST_P(CardPixels, curve_shows_left_of_the_progress_clip_only) {
    // progress 0.5 reveals x up to 72 + 395 = 467.
    for (double x : {100.0, 250.0, 450.0}) {
        EXPECT_LE(test::channelDistance(at(x, 200), ACCENT), 3) << "curve at x " << x;
    }
    for (double x : {480.0, 600.0, 690.0}) {
        EXPECT_LE(test::channelDistance(at(x, 200), FILL), 2) << "clipped at x " << x;
    }
    // Four units thick, centred on y 200.
    EXPECT_LE(test::channelDistance(at(250, 198.6), ACCENT), 3);
    EXPECT_LE(test::channelDistance(at(250, 204), FILL), 2);
}

TEST_P(CardPixels, glow_and_dot_sit_on_the_head_beyond_the_clip) {
    EXPECT_LE(test::channelDistance(at(760, 150), ACCENT), 3);
    EXPECT_LE(test::channelDistance(at(765.5, 150), ACCENT), 3);
    // The glow fades from the dot's edge to nothing at 17 units.
    const double inner = test::shareTowards(at(770, 150), FILL, ACCENT);
    const double outer = test::shareTowards(at(774, 150), FILL, ACCENT);
    EXPECT_GT(inner, 0.1);
    EXPECT_LT(inner, 0.9);
    EXPECT_GT(inner, outer);
    EXPECT_GT(outer, 0.0);
    EXPECT_LE(test::channelDistance(at(760, 169), FILL), 2);
    EXPECT_LE(test::channelDistance(at(780, 150), FILL), 2);
}

TEST_P(CardPixels, hint_line_is_drawn_at_the_bottom_right) {
    EXPECT_GT(test::countDiffering(frame, device(690), device(525), device(886), device(542), FILL,
                                   16),
              static_cast<int>(40 * scale * scale));
    // It ends at the right margin and nothing is drawn left of it there.
    EXPECT_EQ(test::countDiffering(frame, device(888), device(525), device(915), device(542), FILL,
                                   2),
              0);
    EXPECT_EQ(test::countDiffering(frame, device(400), device(525), device(600), device(542), FILL,
                                   2),
              0);
}

TEST_P(CardPixels, header_boxes_have_ink_only_when_texts_are_given) {
    EXPECT_GT(test::countDiffering(frame, device(35), device(22), device(235), device(52), FILL, 16),
              0);
    EXPECT_GT(test::countDiffering(frame, device(37), device(59), device(237), device(76), FILL, 16),
              0);
    EXPECT_GT(test::countDiffering(frame, device(700), device(20), device(886), device(54), FILL, 16),
              0);
    EXPECT_GT(test::countDiffering(frame, device(700), device(62), device(886), device(79), FILL, 16),
              0);

    request->titleText.clear();
    request->subtitleText.clear();
    request->valueText.clear();
    request->noteText.clear();
    const Pixels blank = test::renderToMemory(*request, 0.5, 0.0);
    EXPECT_EQ(test::countDiffering(blank, device(30), device(15), device(460), device(100), FILL, 0),
              0);
    EXPECT_EQ(test::countDiffering(blank, device(460), device(15), device(890), device(100), FILL, 0),
              0);
    // The rest of the frame is unchanged.
    EXPECT_TRUE(std::equal(blank.data.begin() + blank.width * device(100), blank.data.end(),
                           frame.data.begin() + frame.width * device(100)));
}

INSTANTIATE_TEST_SUITE_P(DpiScales, CardPixels, ::testing::Values(1.0, 2.0));

class CurveAndMarker : public WithGdiplus {};

TEST_F(CurveAndMarker, one_point_gets_the_marker_and_no_curve) {
    auto request = test::plotRequest({{300, 250}}, -1.0, 3.0, 10.0, 1.0);
    const Pixels frame = test::renderToMemory(*request, 1.0, 1.5);
    EXPECT_LE(test::channelDistance(frame.at(300, 250), ACCENT), 3);
    EXPECT_GT(test::shareTowards(frame.at(310, 250), FILL, ACCENT), 0.1);
    // No line leaves the point.
    EXPECT_LE(test::channelDistance(frame.at(330, 250), FILL), 2);
    EXPECT_LE(test::channelDistance(frame.at(270, 250), FILL), 2);
}

TEST_F(CurveAndMarker, skipped_points_are_joined_and_never_carry_the_marker) {
    auto request = test::plotRequest({{100, 300}, {NOT_A_NUMBER, NOT_A_NUMBER}, {300, 250},
                                      {500, 250}, {NOT_A_NUMBER, NOT_A_NUMBER}},
                                     -1.0, 3.0, 10.0, 1.0);
    const Pixels frame = test::renderToMemory(*request, 1.0, 1.5);
    // The line joins (100, 300) straight to (300, 250): through (200, 275).
    EXPECT_LE(test::channelDistance(frame.at(200, 275), ACCENT), 3);
    // The marker sits on the last finite point.
    EXPECT_GT(test::shareTowards(frame.at(510, 250), FILL, ACCENT), 0.1);
    EXPECT_LE(test::channelDistance(frame.at(515, 240), FILL), 2);
}

TEST_F(CurveAndMarker, a_lone_finite_point_among_skipped_ones_draws_no_line) {
    auto request = test::plotRequest({{NOT_A_NUMBER, NOT_A_NUMBER}, {300, 250}}, -1.0, 3.0, 10.0,
                                     1.0);
    const Pixels frame = test::renderToMemory(*request, 1.0, 1.5);
    EXPECT_LE(test::channelDistance(frame.at(300, 250), ACCENT), 3);
    EXPECT_LE(test::channelDistance(frame.at(330, 250), FILL), 2);
}

TEST_F(CurveAndMarker, progress_below_0_hides_the_curve_and_1_shows_all_of_it) {
    auto request = test::plotRequest({{72, 250}, {862, 250}}, -1.0, 3.0, 10.0, 1.0);
    const Pixels hidden = test::renderToMemory(*request, -0.5, 0.0);
    EXPECT_LE(test::channelDistance(hidden.at(100, 250), FILL), 2);
    EXPECT_LE(test::channelDistance(hidden.at(600, 250), FILL), 2);
    const Pixels whole = test::renderToMemory(*request, 1.0, 1.5);
    EXPECT_LE(test::channelDistance(whole.at(100, 250), ACCENT), 3);
    EXPECT_LE(test::channelDistance(whole.at(840, 250), ACCENT), 3);
}

TEST_F(CurveAndMarker, animated_marker_moves_with_elapsed_time_not_progress) {
    auto request = test::plotRequest({{72, 250}, {862, 250}}, -1.0, 3.0, 10.0, 1.0);
    request->animate = true;
    request->animationSeconds = 2.0;
    // Half the time: the head is half way along, whatever the eased reveal.
    const Pixels frame = test::renderToMemory(*request, 0.2, 1.0);
    EXPECT_LE(test::channelDistance(frame.at(467, 250), ACCENT), 3);
    EXPECT_GT(test::shareTowards(frame.at(477, 250), FILL, ACCENT), 0.1);
    EXPECT_LE(test::channelDistance(frame.at(600, 250), FILL), 2);
}

TEST_F(CurveAndMarker, negative_accent_colours_curve_marker_and_border) {
    auto request = test::plotRequest({{72, 250}, {400, 250}}, -1.0, 3.0, 10.0, 1.0);
    request->accentColor = 0xFFFF5A67u;
    const Pixels frame = test::renderToMemory(*request, 1.0, 1.5);
    EXPECT_LE(test::channelDistance(frame.at(200, 250), 0xFFFF5A67u), 3);
    EXPECT_LE(test::channelDistance(frame.at(400, 250), 0xFFFF5A67u), 3);
    EXPECT_GE((std::max)(test::shareTowards(frame.at(0, 280), FILL, 0xFFFF5A67u),
                       test::shareTowards(frame.at(1, 280), FILL, 0xFFFF5A67u)),
              0.8);
}

TEST_F(CurveAndMarker, no_memory_or_no_size_draws_nothing) {
    auto request = test::plotRequest({{72, 250}, {400, 250}}, -1.0, 3.0, 10.0, 1.0);
    EXPECT_FALSE(renderCardToPixels(*request, 1.0, 1.5, nullptr));
    request->surfaceWidth = 0;
    uint32_t pixel = 0x12345678u;
    EXPECT_FALSE(renderCardToPixels(*request, 1.0, 1.5, &pixel));
    EXPECT_EQ(pixel, 0x12345678u);
}

// A real layered popup, as a card's UI thread creates it.
class PresentedFrame : public WithGdiplus {
protected:
    void SetUp() override {
        window = test::createLayeredPopup(L"KestrineDrawingTest", 50, 60);
        ASSERT_NE(window, nullptr);
        blends.clear();
        liveGdiAtPresent.clear();
        testing::setUpdateLayeredWindowHook(&recordingUpdate);
    }
    void TearDown() override {
        testing::setUpdateLayeredWindowHook(nullptr);
        DestroyWindow(window);
    }
    static void pumpMessages() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
    }
    static BOOL WINAPI recordingUpdate(HWND target, HDC screenDc, POINT* destination, SIZE* size,
                                       HDC sourceDc, POINT* source, COLORREF key,
                                       BLENDFUNCTION* blend, DWORD flags) {
        blends.push_back(*blend);
        liveGdiAtPresent.push_back(testing::liveGdiObjects());
        EXPECT_EQ(destination, nullptr);
        EXPECT_EQ(flags, static_cast<DWORD>(ULW_ALPHA));
        EXPECT_EQ(source->x, 0);
        EXPECT_EQ(source->y, 0);
        return UpdateLayeredWindow(target, screenDc, destination, size, sourceDc, source, key,
                                   blend, flags);
    }

    HWND window = nullptr;
    static std::vector<BLENDFUNCTION> blends;
    static std::vector<long> liveGdiAtPresent;
};
std::vector<BLENDFUNCTION> PresentedFrame::blends;
std::vector<long> PresentedFrame::liveGdiAtPresent;

TEST_F(PresentedFrame, window_takes_the_surface_size_and_keeps_its_position) {
    auto request = layoutRequest(1.0);
    renderFrame(window, *request, 1.0, 1.5, 1.0);
    RECT rect = {};
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.left, 50);
    EXPECT_EQ(rect.top, 60);
    EXPECT_EQ(rect.right - rect.left, 920);
    EXPECT_EQ(rect.bottom - rect.top, 560);

    auto doubled = layoutRequest(2.0);
    renderFrame(window, *doubled, 1.0, 1.5, 1.0);
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.left, 50);
    EXPECT_EQ(rect.right - rect.left, 1840);
    EXPECT_EQ(rect.bottom - rect.top, 1120);
    // Screen DC, memory DC, DIB and its selection are held while presenting.
    EXPECT_EQ(liveGdiAtPresent, (std::vector<long>{4, 4}));
}

TEST_F(PresentedFrame, constant_alpha_is_fade_times_255_clamped_and_truncated) {
    auto request = layoutRequest(1.0);
    for (double fade : {0.5, -1.0, 2.0, 0.0, 1.0, 0.999}) {
        renderFrame(window, *request, 1.0, 1.5, fade);
    }
    ASSERT_EQ(blends.size(), 6u);
    const BYTE expected[] = {127, 0, 255, 0, 255, 254};
    for (size_t i = 0; i < blends.size(); ++i) {
        EXPECT_EQ(blends[i].SourceConstantAlpha, expected[i]) << "frame " << i;
        EXPECT_EQ(blends[i].BlendOp, AC_SRC_OVER);
        EXPECT_EQ(blends[i].BlendFlags, 0);
        EXPECT_EQ(blends[i].AlphaFormat, AC_SRC_ALPHA);
    }
}

TEST_F(PresentedFrame, screen_shows_the_card_at_its_constant_alpha) {
    // Xvfb has no compositor: the card is blended onto the black root window,
    // so a fill pixel on screen is the premultiplied fill scaled by the
    // constant alpha.
    auto request = layoutRequest(1.0);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    HDC screen = GetDC(nullptr);
    const auto fillOnScreen = [&](double fade) {
        renderFrame(window, *request, 1.0, 1.5, fade);
        pumpMessages();
        Sleep(100);
        return GetPixel(screen, 50 + 460, 60 + 300);
    };
    const COLORREF full = fillOnScreen(1.0);
    const COLORREF half = fillOnScreen(0.5);
    const COLORREF none = fillOnScreen(0.0);
    ReleaseDC(nullptr, screen);
    EXPECT_NEAR(GetRValue(full), 0x1A, 3);
    EXPECT_NEAR(GetGValue(full), 0x1E, 3);
    EXPECT_NEAR(GetBValue(full), 0x25, 3);
    EXPECT_NEAR(GetRValue(half), 0x0D, 3);
    EXPECT_NEAR(GetGValue(half), 0x0F, 3);
    EXPECT_NEAR(GetBValue(half), 0x12, 3);
    EXPECT_EQ(none, RGB(0, 0, 0));
}

TEST_F(PresentedFrame, surface_that_cannot_be_made_presents_nothing_and_releases_all) {
    auto request = layoutRequest(1.0);
    request->surfaceWidth = 0;
    renderFrame(window, *request, 1.0, 1.5, 1.0);
    // Far beyond any DIB section the system will make.
    request->surfaceWidth = 60000;
    request->surfaceHeight = 60000;
    renderFrame(window, *request, 1.0, 1.5, 1.0);
    EXPECT_TRUE(blends.empty());
    EXPECT_EQ(testing::liveGdiObjects(), 0);
    EXPECT_EQ(testing::liveGdiplusObjects(), 0);
    RECT rect = {};
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.right - rect.left, 10);
}

// Blocks in use on every heap of the process. GDI+ objects live on these
// heaps under Wine as on Windows, so an object left behind per frame shows up
// as a thousand more blocks after a thousand frames.
struct HeapUse {
    long long blocks = 0;
    long long bytes = 0;
};

HeapUse heapInUse() {
    HeapUse use;
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
    heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
    for (HANDLE heap : heaps) {
        if (!HeapLock(heap)) {
            continue;
        }
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heap, &entry)) {
            if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) {
                ++use.blocks;
                use.bytes += entry.cbData;
            }
        }
        HeapUnlock(heap);
    }
    return use;
}

// GetGuiResources is a stub under Wine 8 (0, ERROR_CALL_NOT_IMPLEMENTED), so
// GDI objects are counted through the handle table instead: a new handle
// takes the most recently freed slot, and only when none is free a slot past
// all the others. The highest slot that 64 fresh DCs reach therefore stays
// put across frames that free everything, and climbs by about a thousand
// when each frame leaves one object behind.
long gdiHandleHighWater() {
    const DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (counted != 0) {
        return static_cast<long>(counted);
    }
    std::vector<HDC> probes;
    long highest = 0;
    for (int i = 0; i < 64; ++i) {
        HDC dc = CreateCompatibleDC(nullptr);
        probes.push_back(dc);
        highest = (std::max)(highest, static_cast<long>(reinterpret_cast<ULONG_PTR>(dc) & 0xFFFF));
    }
    for (HDC dc : probes) {
        DeleteDC(dc);
    }
    return highest;
}

TEST_F(PresentedFrame, a_thousand_frames_leave_no_object_behind) {
    std::vector<PlotPoint> points;
    for (int i = 0; i < 300; ++i) {
        points.push_back({72.0f + 790.0f * i / 299.0f, 300.0f + 80.0f * std::sin(i * 0.1f)});
    }
    auto request = test::plotRequest(points, -1.0, 3.0, 10.0, 1.0);
    request->titleText = L"Balance";
    request->valueText = L"+1,234";
    request->noteText = L"300 points";
    request->animate = true;
    for (int i = 0; i < 50; ++i) {
        renderFrame(window, *request, i / 50.0, i / 50.0 * 1.5, i / 50.0);
    }
    const HeapUse before = heapInUse();
    const long gdiBefore = gdiHandleHighWater();
    for (int i = 0; i < 1000; ++i) {
        renderFrame(window, *request, i / 1000.0, i / 1000.0 * 1.5, 1.0);
    }
    const HeapUse after = heapInUse();
    const long gdiAfter = gdiHandleHighWater();
    EXPECT_EQ(blends.size(), 1050u);
    EXPECT_EQ(testing::liveGdiObjects(), 0);
    EXPECT_EQ(testing::liveGdiplusObjects(), 0);
    ASSERT_GT(before.blocks, 0) << "HeapWalk saw no heap";
    // A little slack for caches that settle late; one object left behind per
    // frame would add a thousand blocks.
    EXPECT_LT(after.blocks - before.blocks, 100)
        << "grew by " << (after.blocks - before.blocks) << " blocks, "
        << (after.bytes - before.bytes) << " bytes";
    EXPECT_LT(gdiAfter - gdiBefore, 100) << "GDI handles from " << gdiBefore << " to " << gdiAfter;
}

}  // namespace
}  // namespace kestrine
