// The frame renderer on real GDI+ under Wine: pixels of cards drawn into
// memory at dpiScale 1 and 2, the curve, marker and text rules, a frame
// presented to a real layered window, and the object balance over many frames.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <memory>
#include <utility>
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

TEST_P(CardPixels, card_covers_its_scaled_surface_and_nothing_beyond) {
    const int w = scale == 1.0 ? 920 : 1840;
    const int h = scale == 1.0 ? 560 : 1120;
    ASSERT_EQ(frame.width, w);
    ASSERT_EQ(frame.height, h);
    // Every pixel is drawn, and the card's ink reaches all four edges: the
    // card is scaled to the surface, not drawn at one scale into another.
    EXPECT_EQ(std::count(frame.data.begin(), frame.data.end(), 0xDEADBEEFu), 0);
    const test::InkBox card = test::findInk(frame, 0u, 0);
    EXPECT_EQ(card.left, 0);
    EXPECT_EQ(card.top, 0);
    EXPECT_EQ(card.right, w);
    EXPECT_EQ(card.bottom, h);
    // Memory past the surface is not the renderer's.
    std::vector<uint32_t> guarded(static_cast<size_t>(w) * h + 4096, 0xDEADBEEFu);
    ASSERT_TRUE(renderCardToPixels(*request, 0.5, 0.0, guarded.data()));
    EXPECT_TRUE(std::equal(guarded.begin(), guarded.begin() + frame.data.size(), frame.data.begin()));
    EXPECT_EQ(std::count(guarded.begin() + frame.data.size(), guarded.end(), 0xDEADBEEFu), 4096);
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

TEST_P(CardPixels, header_texts_are_drawn_in_their_places_sizes_and_colours) {
    // Ink of "Profit" (24 units from 35, 22), "Today" (13 units from 37, 59),
    // "+1,234" (28 units, right-aligned at 885, from y 20) and "12 trades" (13
    // units, right-aligned, from y 62), in card units. Bounds hold the
    // measured ink (Liberation Sans for Arial, scales 1 and 2) with about 15%
    // room for another rasteriser; a text at another size, place or in another
    // colour falls outside them.
    struct Text {
        const char* name;
        double left, top, right, bottom;  // the region searched
        double anchorLow, anchorHigh;     // left edge, or right edge when right-aligned
        bool rightAligned;
        double inkTopLow, inkTopHigh;
        double widthLow, widthHigh, heightLow, heightHigh;
        uint32_t colour;
    };
    const Text texts[] = {
        {"title", 30, 15, 460, 56, 35, 38, false, 22, 28, 58, 80, 14, 20, 0xFFFFFFFFu},
        {"subtitle", 30, 56, 460, 95, 37, 40, false, 59, 63, 27, 40, 8, 13, 0xFFAAB2BDu},
        {"value", 460, 15, 890, 58, 880, 886, true, 20, 26, 70, 95, 20, 28, ACCENT},
        {"note", 460, 58, 890, 95, 880, 886, true, 62, 66, 48, 70, 8, 13, 0xFFAAB2BDu}};
    for (const Text& t : texts) {
        const test::InkBox ink = test::findInkIn(frame, device(t.left), device(t.top),
                                                 device(t.right), device(t.bottom), FILL, 16);
        ASSERT_TRUE(ink.any) << t.name;
        const double anchor = (t.rightAligned ? ink.right : ink.left) / scale;
        EXPECT_GE(anchor, t.anchorLow) << t.name;
        EXPECT_LE(anchor, t.anchorHigh) << t.name;
        EXPECT_GE(ink.top / scale, t.inkTopLow) << t.name;
        EXPECT_LE(ink.top / scale, t.inkTopHigh) << t.name;
        EXPECT_GE((ink.right - ink.left) / scale, t.widthLow) << t.name;
        EXPECT_LE((ink.right - ink.left) / scale, t.widthHigh) << t.name;
        EXPECT_GE((ink.bottom - ink.top) / scale, t.heightLow) << t.name;
        EXPECT_LE((ink.bottom - ink.top) / scale, t.heightHigh) << t.name;
        // The strokes' cores are the text's colour, no further from the fill.
        double strongest = 0.0;
        for (int y = ink.top; y < ink.bottom; ++y) {
            for (int x = ink.left; x < ink.right; ++x) {
                strongest =
                    (std::max)(strongest, test::shareTowards(frame.at(x, y), FILL, t.colour));
            }
        }
        EXPECT_NEAR(strongest, 1.0, 0.03) << t.name;
    }
}

TEST_P(CardPixels, header_is_bare_fill_without_texts_and_the_rest_unchanged) {
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

// Windows' "High Contrast Black" theme, as GetSysColor gives it (COLORREF).
SystemColours highContrastBlack() {
    SystemColours c;
    c.window = 0x00000000u;
    c.windowText = 0x00FFFFFFu;
    c.highlight = 0x00FFEB1Au;
    c.grayText = 0x003FF23Fu;
    return c;
}

TEST_F(CurveAndMarker, high_contrast_card_is_opaque_in_the_theme_colours_with_every_text) {
    constexpr uint32_t BACK = 0xFF000000u;
    constexpr uint32_t TEXT = 0xFFFFFFFFu;
    constexpr uint32_t HIGHLIGHT = 0xFF1AEBFFu;
    constexpr uint32_t GRAY = 0xFF3FF23Fu;
    auto request = layoutRequest(1.0);
    request->display.highContrast = true;
    request->display.colours = highContrastBlack();
    const Pixels frame = test::renderToMemory(*request, 1.0, 1.5);

    // Opaque background, curve and dot in the highlight, no glow round it.
    EXPECT_EQ(frame.at(460, 100), BACK);
    EXPECT_EQ(frame.at(460, 300), BACK);
    EXPECT_EQ(frame.at(200, 200), HIGHLIGHT);
    EXPECT_EQ(frame.at(760, 150), HIGHLIGHT);
    EXPECT_EQ(frame.at(771, 150), BACK);
    EXPECT_EQ(frame.at(760, 139), BACK);
    // Title, value (not in the accent) and hint, at their strongest in their
    // colours.
    struct Text {
        const char* name;
        int left, top, right, bottom;
        uint32_t colour;
    };
    const Text texts[] = {{"title", 30, 15, 460, 56, TEXT},
                          {"value", 460, 15, 890, 58, TEXT},
                          {"axis labels", 0, 100, 70, 500, TEXT},
                          {"hint", 600, 522, 890, 545, GRAY}};
    for (const Text& t : texts) {
        double strongest = 0.0;
        for (int y = t.top; y < t.bottom; ++y) {
            for (int x = t.left; x < t.right; ++x) {
                strongest = (std::max)(strongest, test::shareTowards(frame.at(x, y), BACK, t.colour));
            }
        }
        EXPECT_GT(strongest, 0.97) << t.name;
    }
    // Not one pixel of the card's own palette or of the caller's accent.
    const uint32_t ownColours[] = {FILL,        ACCENT,      GRID,        ZERO_LINE,  0xFFAAB2BDu,
                                   0xFF89939Eu, 0xFF2A343Eu, 0xFF68727Du, 0xFF465361u};
    int own = 0;
    int translucentInside = 0;
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            const uint32_t pixel = frame.at(x, y);
            own += std::count(std::begin(ownColours), std::end(ownColours), pixel) > 0 ? 1 : 0;
            const bool clearOfCorners = x >= 14 && x < 906 && y >= 14 && y < 546;
            translucentInside += clearOfCorners && (pixel >> 24) != 0xFFu ? 1 : 0;
        }
    }
    EXPECT_EQ(own, 0);
    EXPECT_EQ(translucentInside, 0);
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
    // The X server shows a frame a moment after it is presented: wait until
    // the pixel is what this fade should give, then judge what it is.
    const auto fillOnScreen = [&](double fade, COLORREF expected) {
        renderFrame(window, *request, 1.0, 1.5, fade);
        COLORREF shown = CLR_INVALID;
        test::waitUntil(
            [&] {
                shown = GetPixel(screen, 50 + 460, 60 + 300);
                return std::abs(GetRValue(shown) - GetRValue(expected)) <= 3 &&
                       std::abs(GetGValue(shown) - GetGValue(expected)) <= 3 &&
                       std::abs(GetBValue(shown) - GetBValue(expected)) <= 3;
            },
            3000);
        return shown;
    };
    const COLORREF full = fillOnScreen(1.0, RGB(0x1A, 0x1E, 0x25));
    const COLORREF half = fillOnScreen(0.5, RGB(0x0D, 0x0F, 0x12));
    const COLORREF none = fillOnScreen(0.0, RGB(0, 0, 0));
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
    const long gdiBefore = test::gdiObjectCount();
    for (int i = 0; i < 1000; ++i) {
        renderFrame(window, *request, i / 1000.0, i / 1000.0 * 1.5, 1.0);
    }
    const HeapUse after = heapInUse();
    const long gdiAfter = test::gdiObjectCount();
    EXPECT_EQ(blends.size(), 1050u);
    EXPECT_EQ(testing::liveGdiObjects(), 0);
    EXPECT_EQ(testing::liveGdiplusObjects(), 0);
    ASSERT_GT(before.blocks, 0) << "HeapWalk saw no heap";
    // A little slack for caches that settle late; one object left behind per
    // frame would add a thousand blocks.
    EXPECT_LT(after.blocks - before.blocks, 100)
        << "grew by " << (after.blocks - before.blocks) << " blocks, "
        << (after.bytes - before.bytes) << " bytes";
    // Measured: not one GDI object more; one left per frame would be a thousand.
    EXPECT_LE(gdiAfter - gdiBefore, 4) << "GDI objects from " << gdiBefore << " to " << gdiAfter;
}

}  // namespace
}  // namespace kestrine
