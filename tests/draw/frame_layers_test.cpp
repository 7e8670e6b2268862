// Frames composed from cached layers against the frame renderer drawing from
// nothing on real GDI+ under Wine, long series, the reveal's columns and blend
// as GDI+ makes them, what a frame touches and presents, memory and fallback.

#include <windows.h>

#include <gdiplus.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "card/card_layers.h"
#include "core/animation_clock.h"
#include "core/axis_scale.h"
#include "core/curve_columns.h"
#include "core/pixel_blend.h"
#include "draw/card_base.h"
#include "draw/frame_layer_seams.h"
#include "draw/frame_layers.h"
#include "draw/frame_renderer.h"
#include "draw/gdiplus_handles.h"
#include "draw/test_seams.h"
#include "drawing_test_support.h"

namespace kestrine {
namespace {

using test::Pixels;

const float NOT_A_NUMBER = std::numeric_limits<float>::quiet_NaN();
constexpr uint32_t NEGATIVE = 0xFFFF5A67u;

using test::setScale;
using test::WithGdiplus;

// A record as ShowKestrine and the scale make it, from data values.
std::unique_ptr<ChartRequest> dataRequest(const std::vector<double>& xs,
                                          const std::vector<double>& ys, bool numeric) {
    auto request = std::make_unique<ChartRequest>();
    request->xValues = xs;
    request->yValues = ys;
    request->numericXAxis = numeric ? 1 : 0;
    request->animate = true;
    request->animationSeconds = 1.5;
    request->titleText = L"Profit";
    request->subtitleText = L"2024-05-17";
    request->valueText = L"+1,234";
    request->noteText = L"12 trades";
    computeChartScale(*request);
    return request;
}

// A jagged walk of n points: up and down by up to `step` at every point.
std::unique_ptr<ChartRequest> walkRequest(int n, double drift, double step, bool numeric) {
    std::vector<double> xs;
    std::vector<double> ys;
    uint32_t state = 2024u;
    double y = 0.0;
    for (int i = 0; i < n; ++i) {
        state = state * 1664525u + 1013904223u;
        y += drift + (static_cast<double>(state >> 8) / 16777216.0 - 0.5) * step;
        xs.push_back(numeric ? i : i * 28800.0 / n);
        ys.push_back(y);
    }
    return dataRequest(xs, ys, numeric);
}

struct FrameDifference {
    int over = 0;   // pixels beyond the tolerance in some channel
    int most = 0;   // largest channel difference seen
    int firstX = -1;
    int firstY = -1;
};

FrameDifference compareFrames(const uint32_t* a, const uint32_t* b, int width, int height,
                              int tolerance) {
    FrameDifference d;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * width + x;
            if (a[i] == b[i]) {
                continue;
            }
            const int distance = test::channelDistance(a[i], b[i]);
            d.most = (std::max)(d.most, distance);
            if (distance > tolerance) {
                if (d.over == 0) {
                    d.firstX = x;
                    d.firstY = y;
                }
                ++d.over;
            }
        }
    }
    return d;
}

struct Step {
    double progress;
    double elapsedSeconds;
};

// Reveals forward, complete, then back to a partial one (which must take the
// curve off again), with the head at several places along the way.
const Step STEPS[] = {{0.0, 0.0}, {0.37, 0.4}, {0.5, 0.75}, {1.0, 1.5}, {0.37, 0.2}};

// The resting frame an update shows, then a partial reveal that lays the
// card below the curve bare again.
const Step UPDATE_STEPS[] = {{1.0, 1.5}, {0.37, 0.2}};

// Composes the steps from the layers and compares each with the frame renderer.
void expectSameFrames(FrameLayers& layers, const ChartRequest& request, const char* name,
                      const Step* first, const Step* last) {
    ASSERT_EQ(layers.width(), request.surfaceWidth);
    for (const Step* step = first; step != last; ++step) {
        layers.compose(request, step->progress, step->elapsedSeconds);
        const Pixels reference =
            test::renderToMemory(request, step->progress, step->elapsedSeconds);
        const FrameDifference d = compareFrames(layers.framePixels(), reference.data.data(),
                                                reference.width, reference.height, 1);
        EXPECT_EQ(d.over, 0) << name << " at scale " << request.dpiScale << ", progress "
                             << step->progress << ", elapsed " << step->elapsedSeconds
                             << ": first at " << d.firstX << "," << d.firstY << ", most "
                             << d.most;
    }
}

void expectSameFrames(const ChartRequest& request, const char* name) {
    const std::unique_ptr<FrameLayers> layers = FrameLayers::build(request);
    ASSERT_NE(layers, nullptr) << name;
    expectSameFrames(*layers, request, name, std::begin(STEPS), std::end(STEPS));
}

class SameAsFromNothing : public WithGdiplus, public ::testing::WithParamInterface<double> {};

TEST_P(SameAsFromNothing, rising_numeric_series) {
    auto request = walkRequest(600, 3.0, 40.0, true);
    setScale(*request, GetParam());
    expectSameFrames(*request, "rising");
}

TEST_P(SameAsFromNothing, falling_time_series_in_the_negative_colour) {
    auto request = walkRequest(1500, -2.0, 30.0, false);
    request->accentColor = NEGATIVE;
    request->valueText = L"-8,765";
    setScale(*request, GetParam());
    expectSameFrames(*request, "falling");
}

TEST_P(SameAsFromNothing, high_contrast_theme_after_the_own_palette) {
    // Cards of the own palette have left their fill, hint and border for this
    // size; a card in a high-contrast theme must not take them.
    auto own = walkRequest(300, 1.0, 20.0, true);
    setScale(*own, GetParam());
    expectSameFrames(*own, "own palette");
    auto themed = walkRequest(300, 1.0, 20.0, true);
    themed->display.highContrast = true;
    themed->display.colours.window = 0x00000000u;
    themed->display.colours.windowText = 0x00FFFFFFu;
    themed->display.colours.highlight = 0x00FFEB1Au;
    themed->display.colours.grayText = 0x003FF23Fu;
    setScale(*themed, GetParam());
    expectSameFrames(*themed, "high contrast");
}

TEST_P(SameAsFromNothing, full_detail_limit_of_2000_jagged_points) {
    auto request = walkRequest(2000, 0.0, 200.0, true);
    setScale(*request, GetParam());
    expectSameFrames(*request, "2000 points");
}

TEST_P(SameAsFromNothing, one_point_flat_and_negative_only_series) {
    auto one = dataRequest({5.0}, {120.0}, true);
    setScale(*one, GetParam());
    expectSameFrames(*one, "one point");
    auto flat = dataRequest({0, 1, 2, 3, 4, 5}, {7, 7, 7, 7, 7, 7}, false);
    setScale(*flat, GetParam());
    expectSameFrames(*flat, "flat");
    auto below = dataRequest({0, 10, 20, 30, 40}, {-5, -40, -12, -70, -33}, true);
    below->accentColor = NEGATIVE;
    setScale(*below, GetParam());
    expectSameFrames(*below, "negative only");
}

TEST_P(SameAsFromNothing, repeated_points_sharp_turns_and_long_jumps) {
    // Points on top of each other, spikes whose miters reach far, and a
    // jump across the whole plot: the curve's stroke in strips of columns
    // must be the whole stroke in every strip.
    std::vector<double> xs;
    std::vector<double> ys;
    for (int i = 0; i < 120; ++i) {
        const int x = i < 60 ? i : i + 400;
        xs.push_back(x);
        ys.push_back(i % 7 == 0 ? 900.0 : (i % 7 == 1 ? -850.0 : 10.0 * (i % 5)));
        if (i % 9 == 0) {
            xs.push_back(x);
            ys.push_back(ys.back());
        }
    }
    auto request = dataRequest(xs, ys, true);
    setScale(*request, GetParam());
    expectSameFrames(*request, "repeated points and spikes");
}

TEST_P(SameAsFromNothing, miters_reaching_beyond_their_points) {
    // Chevrons pointing right, every 11 units across the card: each sharp
    // join's miter juts about 17 units past the point, beyond anything else
    // of the curve there.
    std::vector<PlotPoint> points;
    for (float tip = 40.0f; tip < 900.0f; tip += 11.0f) {
        points.push_back({tip - 20.0f, 297.6f});
        points.push_back({tip, 300.0f});
        points.push_back({tip - 20.0f, 302.4f});
    }
    auto request = test::plotRequest(points, -1.0, 3.0, 10.0, GetParam());
    request->animate = true;
    expectSameFrames(*request, "miters");
}

TEST_P(SameAsFromNothing, non_finite_points_are_skipped_alike) {
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    auto request = dataRequest({nan, 1, 2, 3, 4, inf, 6, 7, 8, 9},
                               {4, 3, nan, 9, -2, 5, 6, inf, 1, nan}, true);
    setScale(*request, GetParam());
    expectSameFrames(*request, "non-finite");
}

TEST_P(SameAsFromNothing, empty_and_overlong_texts) {
    auto empty = walkRequest(300, 1.0, 25.0, true);
    empty->titleText.clear();
    empty->subtitleText.clear();
    empty->valueText.clear();
    empty->noteText.clear();
    setScale(*empty, GetParam());
    expectSameFrames(*empty, "empty texts");
    auto overlong = walkRequest(300, 1.0, 25.0, false);
    overlong->titleText = std::wstring(60, L'\u6A5F') + L" profit and loss of the whole quarter";
    overlong->valueText = L"+123,456,789,012,345,678,901,234,567,890";
    overlong->noteText = std::wstring(120, L'n');
    setScale(*overlong, GetParam());
    expectSameFrames(*overlong, "overlong texts");
}

std::wstring repeated(const std::wstring& piece, std::size_t units) {
    std::wstring text;
    while (text.size() < units) {
        text += piece;
    }
    return text;
}

TEST_P(SameAsFromNothing, long_texts_cut_to_what_shows) {
    // ASCII beyond the limit, Japanese, zero-width characters ahead of the
    // visible ones, and a surrogate pair where the first tail measured starts.
    auto request = walkRequest(300, 1.0, 25.0, true);
    request->titleText = repeated(L"Profit and loss of the quarter ", 70000);
    request->subtitleText = repeated(L"\u53D6\u5F15\u65E5 2024-05-17 ", 5000);
    request->valueText = std::wstring(4000, wchar_t(0x200B)) + repeated(L"+1,234 ", 3000);
    request->noteText = repeated(L"n", 2000) + L"\xD83D\xDE00" + std::wstring(255, L'x');
    setScale(*request, GetParam());
    expectSameFrames(*request, "long texts");
}

TEST_P(SameAsFromNothing, head_under_the_hint_the_border_and_a_corner) {
    // Plot points placed on the hint line, across the right border and into
    // the top-left corner: there the marker goes under the hint and border
    // and is cut by the card's rounded clip, and so is the curve.
    auto request = test::plotRequest({{600, 400}, {760, 533}, {840, 531}, {925, 300},
                                      {905, 80}, {30, 8}, {-4, -6}},
                                     -1.0, 3.0, 10.0, GetParam());
    request->animate = true;
    request->animationSeconds = 1.5;
    // Reach times 0, 0.3, 0.45, 0.6, 0.75, 1.05 and 1.5 seconds.
    request->xValues = {0, 2, 3, 4, 5, 7, 10};
    expectSameFrames(*request, "under hint and border");
    // Elapsed times that put the head on each of those places.
    const std::unique_ptr<FrameLayers> layers = FrameLayers::build(*request);
    ASSERT_NE(layers, nullptr);
    for (double elapsed : {0.3, 0.45, 0.63, 0.75, 1.05, 1.49}) {
        layers->compose(*request, 1.0, elapsed);
        const Pixels reference = test::renderToMemory(*request, 1.0, elapsed);
        const FrameDifference d = compareFrames(layers->framePixels(), reference.data.data(),
                                                reference.width, reference.height, 1);
        EXPECT_EQ(d.over, 0) << "elapsed " << elapsed << ": first at " << d.firstX << ","
                             << d.firstY << ", most " << d.most;
    }
}

TEST_P(SameAsFromNothing, readout_alike_and_only_where_it_reaches) {
    // A point in the plot, and points off each edge of the card, whose
    // labels are pushed back inside it; then the readout moves and goes.
    auto request = test::plotRequest({{-20, 300}, {150, 250}, {460, 600}, {460, -30},
                                      {600, 200}, {950, 300}, {860, 120}},
                                     -1.0, 3.0, 10.0, GetParam());
    request->yValues = {-1234.5, 2.25, 1e9, -7, 0.001, 42, 99999};
    const std::unique_ptr<FrameLayers> layers = FrameLayers::build(*request);
    ASSERT_NE(layers, nullptr);
    layers->compose(*request, 1.0, 0.0);
    const std::vector<uint32_t> resting(layers->framePixels(),
                                        layers->framePixels() + layers->width() * layers->height());
    const double scale = request->dpiScale;
    for (std::size_t index : {1u, 0u, 2u, 3u, 5u, 6u, 4u}) {
        const ReadoutPick pick{index, index == 4};
        const DeviceRect changed = layers->showReadout(*request, pick);
        const Pixels reference = test::renderToMemory(*request, 1.0, 0.0, pick);
        const FrameDifference d = compareFrames(layers->framePixels(), reference.data.data(),
                                                reference.width, reference.height, 1);
        EXPECT_EQ(d.over, 0) << "point " << index << " at scale " << scale << ": first at "
                             << d.firstX << "," << d.firstY << ", most " << d.most;
        // Everything the readout drew lies in the box it reports, which lies
        // in what the marks reach; the rest is the resting frame.
        int drawn = 0;
        for (int y = 0; y < layers->height(); ++y) {
            for (int x = 0; x < layers->width(); ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * layers->width() + x;
                if (reference.data[i] == resting[i]) {
                    continue;
                }
                ++drawn;
                ASSERT_TRUE(x >= changed.left && x < changed.right && y >= changed.top &&
                            y < changed.bottom)
                    << "point " << index << " drew at " << x << "," << y;
            }
        }
        EXPECT_GT(drawn, 0) << "point " << index;
    }
    // Taken off, then drawn again over a compose: the resting frame exactly.
    layers->showReadout(*request, ReadoutPick{});
    EXPECT_EQ(0, std::memcmp(resting.data(), layers->framePixels(), resting.size() * 4));
    layers->showReadout(*request, ReadoutPick{1, false});
    layers->compose(*request, 1.0, 0.0);
    EXPECT_EQ(0, std::memcmp(resting.data(), layers->framePixels(), resting.size() * 4));
}

INSTANTIATE_TEST_SUITE_P(DpiScales, SameAsFromNothing, ::testing::Values(1.0, 1.25, 2.0, 4.0));

// A record with the data, texts and accent of another, its scale computed.
std::unique_ptr<ChartRequest> copyOf(const ChartRequest& other) {
    auto copy = dataRequest(other.xValues, other.yValues, other.numericXAxis != 0);
    copy->titleText = other.titleText;
    copy->subtitleText = other.subtitleText;
    copy->valueText = other.valueText;
    copy->noteText = other.noteText;
    copy->accentColor = other.accentColor;
    return copy;
}

// An update: the layers of the record a window showed, left at a frame with
// half the curve and a marker, handed to those of the next record. The old
// record is freed first, as adoption frees it.
void expectUpdateDrawsAlike(std::unique_ptr<ChartRequest> before, const ChartRequest& next,
                            bool keepsStatic, const char* name) {
    std::unique_ptr<FrameLayers> old = FrameLayers::build(*before);
    ASSERT_NE(old, nullptr) << name;
    old->compose(*before, 0.5, 0.75);
    const uint32_t* surface = old->framePixels();
    const bool sameSize = before->surfaceWidth == next.surfaceWidth &&
                          before->surfaceHeight == next.surfaceHeight;
    before.reset();
    const long drawsBefore = testing::staticPartDraws();
    const std::unique_ptr<FrameLayers> layers = FrameLayers::build(next, std::move(old));
    ASSERT_NE(layers, nullptr) << name;
    EXPECT_EQ(testing::staticPartDraws() - drawsBefore, keepsStatic ? 0 : 1) << name;
    if (sameSize) {
        EXPECT_EQ(layers->framePixels(), surface) << name << ": drawn over the old surface";
    }
    expectSameFrames(*layers, next, name, std::begin(UPDATE_STEPS), std::end(UPDATE_STEPS));
}

class UpdatedLayers : public WithGdiplus, public ::testing::WithParamInterface<double> {
protected:
    // A copy of the record, at the scale under test.
    std::unique_ptr<ChartRequest> at(std::unique_ptr<ChartRequest> request) const {
        setScale(*request, GetParam());
        return request;
    }
};

TEST_P(UpdatedLayers, keep_the_card_below_the_curve_when_texts_accent_and_axes_stay) {
    const auto first = at(walkRequest(700, 2.0, 40.0, false));
    // A point in the middle moves between its neighbours: the axes stay.
    auto moved = copyOf(*first);
    moved->yValues[350] = (moved->yValues[349] + moved->yValues[351]) / 2.0 + 7.0;
    computeChartScale(*moved);
    ASSERT_EQ(moved->yAxisMin, first->yAxisMin);
    ASSERT_EQ(moved->yAxisMax, first->yAxisMax);
    ASSERT_EQ(moved->xMax, first->xMax);
    moved = at(std::move(moved));
    expectUpdateDrawsAlike(at(copyOf(*first)), *moved, true, "points moved");
    expectUpdateDrawsAlike(at(copyOf(*first)), *at(copyOf(*first)), true, "same record");
}

TEST_P(UpdatedLayers, draw_it_again_when_a_text_the_accent_or_an_axis_changes) {
    const auto first = at(walkRequest(700, 2.0, 40.0, true));
    auto value = copyOf(*first);
    value->valueText = L"+1,235";
    expectUpdateDrawsAlike(at(copyOf(*first)), *at(std::move(value)), false, "value text");
    auto title = copyOf(*first);
    title->titleText = L"Profit ";
    expectUpdateDrawsAlike(at(copyOf(*first)), *at(std::move(title)), false, "title");
    auto accent = copyOf(*first);
    accent->accentColor = NEGATIVE;
    expectUpdateDrawsAlike(at(copyOf(*first)), *at(std::move(accent)), false, "accent");
    auto themed = copyOf(*first);
    themed->display.highContrast = true;
    expectUpdateDrawsAlike(at(copyOf(*first)), *at(std::move(themed)), false, "high contrast");
    // Same texts, the y axis doubled.
    auto taller = copyOf(*first);
    for (double& y : taller->yValues) {
        y *= 2.0;
    }
    computeChartScale(*taller);
    ASSERT_NE(taller->yAxisMax, first->yAxisMax);
    expectUpdateDrawsAlike(at(copyOf(*first)), *at(std::move(taller)), false, "y axis");
    // One more point: the x axis grows.
    auto longer = copyOf(*first);
    longer->xValues.push_back(longer->xValues.back() + 1.0);
    longer->yValues.push_back(longer->yValues.back());
    computeChartScale(*longer);
    expectUpdateDrawsAlike(at(copyOf(*first)), *at(std::move(longer)), false, "x axis");
}

TEST_P(UpdatedLayers, texts_too_long_to_compare_are_always_drawn_again) {
    auto first = walkRequest(300, 1.0, 25.0, false);
    first->titleText = std::wstring(FrameLayers::KEPT_TEXT_UNITS + 1, L'W');
    first = at(std::move(first));
    expectUpdateDrawsAlike(at(copyOf(*first)), *at(copyOf(*first)), false, "long title");
}

INSTANTIATE_TEST_SUITE_P(DpiScales, UpdatedLayers, ::testing::Values(1.0, 2.0, 4.0));

class FrameComparison : public WithGdiplus {};

TEST_F(FrameComparison, layers_of_another_scale_hand_over_nothing) {
    // The window moved to a monitor of another scale: new surfaces, all drawn.
    for (const auto& scales : {std::make_pair(2.0, 1.0), std::make_pair(1.0, 4.0)}) {
        auto before = walkRequest(500, 1.0, 30.0, true);
        setScale(*before, scales.first);
        auto next = copyOf(*before);
        setScale(*next, scales.second);
        expectUpdateDrawsAlike(std::move(before), *next, false, "other scale");
    }
}

TEST_F(FrameComparison, catches_a_single_pixel_one_level_beyond_the_tolerance) {
    auto request = walkRequest(400, 2.0, 30.0, true);
    setScale(*request, 1.0);
    const std::unique_ptr<FrameLayers> layers = FrameLayers::build(*request);
    ASSERT_NE(layers, nullptr);
    layers->compose(*request, 0.5, 0.75);
    const Pixels reference = test::renderToMemory(*request, 0.5, 0.75);
    std::vector<uint32_t> frame(layers->framePixels(),
                                layers->framePixels() + reference.data.size());
    EXPECT_EQ(compareFrames(frame.data(), reference.data.data(), reference.width,
                            reference.height, 1)
                  .over,
              0);
    // One channel of one pixel two levels off: found, and only that pixel.
    const std::size_t index = 300u * 920u + 400u;
    frame[index] = (frame[index] & 0xFFFF00FFu) | ((((frame[index] >> 8) & 0xFFu) ^ 0x02u) << 8);
    const FrameDifference d =
        compareFrames(frame.data(), reference.data.data(), reference.width, reference.height, 1);
    EXPECT_EQ(d.over, 1);
    EXPECT_EQ(d.firstX, 400);
    EXPECT_EQ(d.firstY, 300);
    EXPECT_EQ(d.most, 2);
}

class LongSeries : public WithGdiplus, public ::testing::WithParamInterface<double> {};

// Share of the plot area's pixels that differ by more than 16 levels in some
// channel between the layered frame of the whole curve and the frame renderer
// drawing every point.
double farOffShare(const ChartRequest& request, const char* kind) {
    const std::unique_ptr<FrameLayers> layers = FrameLayers::build(request);
    if (!layers) {
        return 1.0;
    }
    layers->compose(request, 1.0, request.animationSeconds);
    const Pixels reference = test::renderToMemory(request, 1.0, request.animationSeconds);
    const double s = request.dpiScale;
    const int left = static_cast<int>(PLOT_LEFT * s);
    const int top = static_cast<int>(PLOT_TOP * s);
    const int right = static_cast<int>((PLOT_LEFT + PLOT_WIDTH) * s);
    const int bottom = static_cast<int>((PLOT_TOP + PLOT_HEIGHT) * s);
    int offCount = 0;
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * reference.width + x;
            if (test::channelDistance(layers->framePixels()[i], reference.data[i]) > 16) {
                ++offCount;
            }
        }
    }
    const double share = static_cast<double>(offCount) / ((right - left) * (bottom - top));
    std::printf("[ measured ] %zu %s points at scale %.2f: %.3f%% of the plot area more than 16 "
                "levels off\n",
                request.plotPoints.size(), kind, s, 100.0 * share);
    return share;
}

TEST_P(LongSeries, reduced_curve_stays_within_half_a_percent_of_the_plot) {
    for (int n : {5000, 20000}) {
        auto jagged = walkRequest(n, 0.5, 60.0, false);
        setScale(*jagged, GetParam());
        EXPECT_LE(farOffShare(*jagged, "jagged"), 0.005) << n << " jagged points";
        std::vector<double> xs;
        std::vector<double> ys;
        for (int i = 0; i < n; ++i) {
            xs.push_back(i);
            ys.push_back(1000.0 * std::sin(i * 12.0 / n) + 0.002 * i * i / n);
        }
        auto smooth = dataRequest(xs, ys, true);
        setScale(*smooth, GetParam());
        EXPECT_LE(farOffShare(*smooth, "smooth"), 0.005) << n << " smooth points";
    }
}

INSTANTIATE_TEST_SUITE_P(DpiScales, LongSeries, ::testing::Values(1.0, 2.0));

class RevealColumns : public WithGdiplus {};

// Columns into which a tall fill reaches under the frame renderer's clip.
std::pair<int, int> clippedColumns(double progress, double dpiScale) {
    const int width = test::surfaceAtScale(dpiScale).width;
    const int height = static_cast<int>(24 * dpiScale + 0.5);
    std::vector<uint32_t> pixels(static_cast<std::size_t>(width) * height, 0u);
    {
        const GdiplusBitmap bitmap = createPixelBitmap(width, height, pixels.data());
        const GdiplusGraphics graphics = createImageGraphics(bitmap);
        frame_steps::prepareGraphics(graphics.get(), dpiScale);
        Gdiplus::DllExports::GdipSetClipRect(
            graphics.get(), 72.0f, 0.0f,
            static_cast<Gdiplus::REAL>(progress < 0 ? 0.0 : progress * PLOT_WIDTH), 560.0f,
            Gdiplus::CombineModeIntersect);
        const GdiplusBrush brush = createSolidBrush(0xFFFFFFFFu);
        Gdiplus::DllExports::GdipFillRectangle(graphics.get(), brush.get(), 0.0f, 0.0f, 920.0f,
                                               20.0f);
    }
    int first = -1;
    int last = -2;
    const int row = height / 2;
    for (int x = 0; x < width; ++x) {
        if (pixels[static_cast<std::size_t>(row) * width + x] != 0u) {
            if (first < 0) {
                first = x;
            }
            last = x;
        }
    }
    return {first, last + 1};
}

TEST_F(RevealColumns, match_the_columns_gdiplus_admits) {
    int checked = 0;
    for (double scale : {1.0, 1.25, 2.0, 4.0}) {
        // Steps of an eased reveal plus edges that land on or near half a column.
        std::vector<double> progresses = {0.0, 1e-7, 0.37, 0.5, 0.999999, -0.2};
        for (int i = 1; i < 400; ++i) {
            progresses.push_back(i / 400.0);
            progresses.push_back((i + 0.5) / (790.0 * scale));
        }
        for (double progress : progresses) {
            const ColumnRange range = revealedColumns(progress, scale);
            const std::pair<int, int> seen = clippedColumns(progress, scale);
            if (range.first == range.end) {
                EXPECT_EQ(seen.first, -1) << "scale " << scale << " progress " << progress;
            } else {
                EXPECT_EQ(seen.first, range.first) << "scale " << scale << " progress " << progress;
                EXPECT_EQ(seen.second, range.end) << "scale " << scale << " progress " << progress;
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 3000);
}

class BlendArithmetic : public WithGdiplus {};

TEST_F(BlendArithmetic, equals_gdiplus_filling_over_premultiplied_pixels) {
    const int side = 128;
    uint32_t state = 77u;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 24;
    };
    int mismatches = 0;
    for (int trial = 0; trial < 24; ++trial) {
        std::vector<uint32_t> pixels(side * side);
        for (uint32_t& p : pixels) {
            const uint32_t a = trial % 6 == 0 ? 0xFFu : next();
            p = a << 24;
            for (int shift = 0; shift < 24; shift += 8) {
                p |= (next() * a / 255u) << shift;
            }
        }
        const std::vector<uint32_t> before = pixels;
        const uint32_t source = (next() << 24) | (next() << 16) | (next() << 8) | next();
        {
            const GdiplusBitmap bitmap = createPixelBitmap(side, side, pixels.data());
            const GdiplusGraphics graphics = createImageGraphics(bitmap);
            const GdiplusBrush brush = createSolidBrush(source);
            Gdiplus::DllExports::GdipFillRectangleI(graphics.get(), brush.get(), 0, 0, side, side);
        }
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            if (gdiplusSourceOver(before[i], source) != pixels[i]) {
                ++mismatches;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

class ComposedFrames : public WithGdiplus {};

TEST_F(ComposedFrames, change_nothing_outside_the_rectangle_they_report) {
    auto request = walkRequest(800, 1.0, 50.0, true);
    setScale(*request, 2.0);
    const std::unique_ptr<FrameLayers> layers = FrameLayers::build(*request);
    ASSERT_NE(layers, nullptr);
    const std::size_t count = static_cast<std::size_t>(layers->width()) * layers->height();
    const DeviceRect first = layers->compose(*request, 0.0, 0.0);
    EXPECT_EQ(first.left, 0);
    EXPECT_EQ(first.top, 0);
    EXPECT_EQ(first.right, layers->width());
    EXPECT_EQ(first.bottom, layers->height());
    for (const Step& step : {Step{0.1, 0.15}, Step{0.12, 0.18}, Step{0.4, 0.6},
                             Step{0.4, 0.6}, Step{1.0, 1.5}, Step{0.2, 0.3}}) {
        const std::vector<uint32_t> before(layers->framePixels(), layers->framePixels() + count);
        const DeviceRect changed = layers->compose(*request, step.progress, step.elapsedSeconds);
        int outside = 0;
        for (int y = 0; y < layers->height(); ++y) {
            for (int x = 0; x < layers->width(); ++x) {
                const bool in = x >= changed.left && x < changed.right && y >= changed.top &&
                                y < changed.bottom;
                const std::size_t i = static_cast<std::size_t>(y) * layers->width() + x;
                if (!in && layers->framePixels()[i] != before[i]) {
                    ++outside;
                }
            }
        }
        EXPECT_EQ(outside, 0) << "progress " << step.progress;
        // A small step changes a small part of the surface.
        if (step.progress > 0.1 && step.progress < 0.13) {
            const long area = static_cast<long>(changed.right - changed.left) *
                              (changed.bottom - changed.top);
            EXPECT_LT(area, static_cast<long>(count) / 4);
        }
    }
}

TEST_F(ComposedFrames, memory_is_at_most_one_and_a_half_surfaces) {
    // 920 x 560 and 3680 x 2240 pixels of four bytes.
    for (const auto& size : {std::make_pair(1.0, std::size_t{2060800}),
                             std::make_pair(4.0, std::size_t{32972800})}) {
        const double scale = size.first;
        const std::size_t surface = size.second;
        auto request = walkRequest(1000, 1.0, 50.0, false);
        setScale(*request, scale);
        const std::unique_ptr<FrameLayers> layers = FrameLayers::build(*request);
        ASSERT_NE(layers, nullptr);
        const LayerBytes bytes = layers->bytes();
        EXPECT_EQ(bytes.frameSurface, surface);
        // The card below the curve as tiles: a fraction of its pixels' bytes.
        EXPECT_GT(bytes.staticSurface, 0u);
        EXPECT_LT(bytes.staticSurface, surface / 5);
        EXPECT_LE(bytes.total(), surface + surface / 2);
        std::printf("[ measured ] 1000-point card at scale %.0f: %zu bytes (frame surface %zu, "
                    "static %zu, curve %zu, hint and border %zu, head track %zu)\n",
                    scale, bytes.total(), bytes.frameSurface, bytes.staticSurface, bytes.curve,
                    bytes.top, bytes.headTrack);
    }
}

TEST_F(ComposedFrames, no_layers_without_a_surface_or_when_memory_runs_out) {
    auto request = walkRequest(100, 1.0, 10.0, true);
    setScale(*request, 1.0);
    testing::setFrameLayerAllocationFailure(true);
    EXPECT_EQ(FrameLayers::build(*request), nullptr);
    testing::setFrameLayerAllocationFailure(false);
    request->surfaceWidth = 0;
    EXPECT_EQ(FrameLayers::build(*request), nullptr);
    // Far beyond any card: such a surface is not worth three copies.
    request->surfaceWidth = 30000;
    request->surfaceHeight = 30000;
    EXPECT_EQ(FrameLayers::build(*request), nullptr);
    request->surfaceWidth = 60000;
    request->surfaceHeight = 60000;
    EXPECT_EQ(FrameLayers::build(*request), nullptr);
    EXPECT_EQ(testing::liveGdiObjects(), 0);
    EXPECT_EQ(testing::liveGdiplusObjects(), 0);
    setScale(*request, 1.0);
    EXPECT_NE(FrameLayers::build(*request), nullptr);
}

TEST_F(ComposedFrames, ten_million_units_in_every_text_neither_crash_nor_stall) {
    auto request = walkRequest(200, 1.0, 10.0, false);
    const std::wstring huge = repeated(L"\u640D\u76CA 0123456789 ", 10000000);
    request->titleText = huge;
    request->subtitleText = huge;
    request->valueText = huge;
    request->noteText = huge;
    setScale(*request, 1.0);
    const ULONGLONG start = GetTickCount64();
    const std::unique_ptr<FrameLayers> layers = FrameLayers::build(*request);
    ASSERT_NE(layers, nullptr);
    layers->compose(*request, 1.0, 1.5);
    const Pixels reference = test::renderToMemory(*request, 1.0, 1.5);
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_EQ(compareFrames(layers->framePixels(), reference.data.data(), reference.width,
                            reference.height, 1)
                  .over,
              0);
    // Drawn whole, one of these texts crashes GDI+ or blocks for minutes.
    EXPECT_LT(took, 10000u);
}

TEST_F(ComposedFrames, card_base_is_kept_per_size_until_a_while_after_the_last_user) {
    forgetCardBases();
    auto first = walkRequest(500, 1.0, 30.0, true);
    setScale(*first, 2.0);
    const std::unique_ptr<FrameLayers> drawn = FrameLayers::build(*first);
    ASSERT_NE(drawn, nullptr);
    EXPECT_EQ(testing::cardBaseCount(), 1u);
    // Kept as tiles: all but the corners' rows repeat.
    EXPECT_GT(testing::cardBaseBytes(), 0u);
    EXPECT_LT(testing::cardBaseBytes(), 1840u * 1120u * 4u / 10u);
    EXPECT_EQ(testing::hintAndBorderCount(), 1u);
    // Another record of that size starts from the kept base; its frames are
    // those of the same record built with the fill drawn afresh.
    auto second = walkRequest(700, -1.0, 20.0, false);
    second->accentColor = NEGATIVE;
    setScale(*second, 2.0);
    const std::unique_ptr<FrameLayers> fromBase = FrameLayers::build(*second);
    EXPECT_EQ(testing::cardBaseCount(), 1u);
    // The border is in the accent colour: another accent, another set.
    EXPECT_EQ(testing::hintAndBorderCount(), 2u);
    const std::unique_ptr<FrameLayers> again = FrameLayers::build(*second);
    EXPECT_EQ(testing::hintAndBorderCount(), 2u);
    forgetCardBases();
    const std::unique_ptr<FrameLayers> fresh = FrameLayers::build(*second);
    ASSERT_NE(fromBase, nullptr);
    ASSERT_NE(fresh, nullptr);
    fromBase->compose(*second, 0.6, 0.9);
    again->compose(*second, 0.6, 0.9);
    fresh->compose(*second, 0.6, 0.9);
    const std::size_t count = static_cast<std::size_t>(fresh->width()) * fresh->height();
    EXPECT_TRUE(std::equal(fromBase->framePixels(), fromBase->framePixels() + count,
                           fresh->framePixels()));
    EXPECT_TRUE(std::equal(again->framePixels(), again->framePixels() + count,
                           fresh->framePixels()));
    for (double scale : {1.0, 1.25, 1.5, 2.0}) {
        setScale(*second, scale);
        EXPECT_NE(FrameLayers::build(*second), nullptr);
    }
    EXPECT_EQ(testing::cardBaseCount(), CARD_BASES_KEPT);
    // The bases outlive the last GDI+ user for a while, for a next card; a
    // card coming in that time keeps them, and once the time is up they go.
    testing::setCardBaseKeepMilliseconds(200);
    dropSuiteGdiplus();
    EXPECT_EQ(testing::cardBaseCount(), CARD_BASES_KEPT);
    takeSuiteGdiplus();
    Sleep(400);
    EXPECT_EQ(testing::cardBaseCount(), CARD_BASES_KEPT);
    dropSuiteGdiplus();
    const ULONGLONG dropped = GetTickCount64();
    while (testing::cardBaseCount() != 0 && GetTickCount64() - dropped < 5000) {
        Sleep(10);
    }
    EXPECT_EQ(testing::cardBaseCount(), 0u);
    EXPECT_EQ(testing::hintAndBorderCount(), 0u);
    EXPECT_GE(GetTickCount64() - dropped, 150u);  // not before the time is up
    takeSuiteGdiplus();
    testing::setCardBaseKeepMilliseconds(60000);
}

TEST_F(ComposedFrames, belong_to_the_record_they_were_built_for) {
    auto request = walkRequest(100, 1.0, 10.0, true);
    setScale(*request, 1.0);
    const std::unique_ptr<FrameLayers> layers = FrameLayers::build(*request);
    ASSERT_NE(layers, nullptr);
    EXPECT_TRUE(layers->builtFor(*request));
    auto other = walkRequest(100, 1.0, 10.0, true);
    setScale(*other, 1.0);
    EXPECT_FALSE(layers->builtFor(*other));
    setScale(*request, 2.0);
    EXPECT_FALSE(layers->builtFor(*request));
}

// A real layered popup; what reaches UpdateLayeredWindow(Indirect) is kept.
class PresentedLayers : public WithGdiplus {
protected:
    struct Presented {
        std::vector<uint32_t> pixels;
        int width = 0;
        int height = 0;
        BYTE constantAlpha = 0;
        bool partial = false;
        RECT dirty = {0, 0, 0, 0};
    };

    void SetUp() override {
        window = test::createLayeredPopup(L"KestrineLayersTest", 40, 30);
        ASSERT_NE(window, nullptr);
        presented.clear();
        testing::setLayeredPresentHook(&recordIndirect);
        testing::setUpdateLayeredWindowHook(&recordPlain);
    }
    void TearDown() override {
        testing::setLayeredPresentHook(nullptr);
        testing::setUpdateLayeredWindowHook(nullptr);
        testing::setFrameLayerAllocationFailure(false);
        releaseFrameLayers(window);
        takeClosedCardLayers();  // kept for a next card that does not come
        DestroyWindow(window);
    }

    static Presented capture(HDC source, const BLENDFUNCTION* blend) {
        test::Surface surface = test::surfaceBehind(source);
        Presented p;
        p.width = surface.width;
        p.height = surface.height;
        p.pixels = std::move(surface.pixels);
        p.constantAlpha = blend->SourceConstantAlpha;
        return p;
    }
    static BOOL WINAPI recordIndirect(HWND target, const UPDATELAYEREDWINDOWINFO* info) {
        Presented p = capture(info->hdcSrc, info->pblend);
        p.partial = info->prcDirty != nullptr;
        if (p.partial) {
            p.dirty = *info->prcDirty;
        }
        presented.push_back(std::move(p));
        return UpdateLayeredWindowIndirect(target, info);
    }
    static BOOL WINAPI recordPlain(HWND target, HDC screenDc, POINT* destination, SIZE* size,
                                   HDC sourceDc, POINT* source, COLORREF key,
                                   BLENDFUNCTION* blend, DWORD flags) {
        presented.push_back(capture(sourceDc, blend));
        return UpdateLayeredWindow(target, screenDc, destination, size, sourceDc, source, key,
                                   blend, flags);
    }

    HWND window = nullptr;
    static std::vector<Presented> presented;
};
std::vector<PresentedLayers::Presented> PresentedLayers::presented;

TEST_F(PresentedLayers, show_what_drawing_from_nothing_shows_at_every_fade) {
    auto request = walkRequest(700, 2.0, 40.0, false);
    setScale(*request, 1.25);
    prepareFrameLayers(window, *request);
    ASSERT_NE(testing::frameLayersOf(window), nullptr);
    const struct {
        double progress, elapsed, fade;
    } frames[] = {{0, 0, 0}, {0.1, 0.05, 0.14}, {0.3, 0.175, 0.5}, {0.5, 0.35, 1.0},
                  {0.8, 0.9, 1.0}, {1.0, 1.5, 1.0}, {1.0, 1.5, 0.999}};
    for (const auto& f : frames) {
        presented.clear();
        presentChartFrame(window, *request, f.progress, f.elapsed, f.fade);
        ASSERT_EQ(presented.size(), 1u);
        const Presented layered = presented.back();
        presented.clear();
        renderFrame(window, *request, f.progress, f.elapsed, f.fade);
        ASSERT_EQ(presented.size(), 1u);
        const Presented fromNothing = presented.back();
        EXPECT_EQ(layered.constantAlpha, constantAlphaFromFade(f.fade));
        EXPECT_EQ(layered.constantAlpha, fromNothing.constantAlpha);
        ASSERT_EQ(layered.width, fromNothing.width);
        ASSERT_EQ(layered.height, fromNothing.height);
        const FrameDifference d =
            compareFrames(layered.pixels.data(), fromNothing.pixels.data(), layered.width,
                          layered.height, 1);
        EXPECT_EQ(d.over, 0) << "progress " << f.progress << ": first at " << d.firstX << ","
                             << d.firstY << ", most " << d.most;
    }
}

TEST_F(PresentedLayers, send_only_the_change_once_the_window_shows_the_surface) {
    auto request = walkRequest(300, 1.0, 20.0, true);
    setScale(*request, 1.0);
    prepareFrameLayers(window, *request);
    presentChartFrame(window, *request, 0.0, 0.0, 0.0);
    presentChartFrame(window, *request, 0.1, 0.1, 0.3);
    presentChartFrame(window, *request, 0.2, 0.2, 1.0);
    presentChartFrame(window, *request, 0.3, 0.3, 1.0);
    presentChartFrame(window, *request, 0.3, 0.3, 1.0);
    presentChartFrame(window, *request, 0.4, 0.4, 1.0);
    // The fade changes the whole window; the same fade lets a rectangle do,
    // and a frame without change sends nothing.
    ASSERT_EQ(presented.size(), 5u);
    EXPECT_FALSE(presented[0].partial);
    EXPECT_FALSE(presented[1].partial);
    EXPECT_FALSE(presented[2].partial);
    EXPECT_TRUE(presented[3].partial);
    EXPECT_TRUE(presented[4].partial);
    EXPECT_LT(presented[3].dirty.right - presented[3].dirty.left, 200);
    EXPECT_GE(presented[3].dirty.left, 0);
    EXPECT_LE(presented[3].dirty.right, 920);
}

TEST_F(PresentedLayers, screen_shows_partial_updates_whole_also_after_a_move) {
    // Xvfb has no compositor: the card shows over the black root window.
    auto request = test::plotRequest({{72, 300}, {862, 300}}, -1.0, 3.0, 10.0, 1.0);
    request->animate = true;
    request->animationSeconds = 1.5;
    ShowWindow(window, SW_SHOWNOACTIVATE);
    prepareFrameLayers(window, *request);
    HDC screen = GetDC(nullptr);
    const auto isFill = [screen](int x, int y) {
        const COLORREF c = GetPixel(screen, x, y);
        return std::abs(GetRValue(c) - 0x1A) <= 3 && std::abs(GetGValue(c) - 0x1E) <= 3 &&
               std::abs(GetBValue(c) - 0x25) <= 3;
    };
    const auto isGlow = [screen](int x, int y) { return GetGValue(GetPixel(screen, x, y)) > 0x30; };
    // Each step waits until the screen shows it, so that the next partial
    // update lands on what the X server has already drawn.
    presentChartFrame(window, *request, 0.0, 0.0, 1.0);
    EXPECT_TRUE(test::waitUntil([&] { return isFill(40 + 460, 30 + 250); }, 3000));
    presentChartFrame(window, *request, 0.25, 0.4, 1.0);
    EXPECT_TRUE(test::waitUntil([&] { return isGlow(40 + 283, 30 + 290); }, 3000));
    SetWindowPos(window, nullptr, 60, 50, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    // Below the card's old bottom edge: shown only once the move is.
    EXPECT_TRUE(test::waitUntil([&] { return isFill(60 + 460, 50 + 555); }, 3000));
    presentChartFrame(window, *request, 0.5, 0.6, 1.0);
    EXPECT_TRUE(test::waitUntil([&] { return isGlow(60 + 388, 50 + 290); }, 3000));
    ASSERT_GE(presented.size(), 3u);
    EXPECT_TRUE(presented.back().partial);
    // The curve is revealed up to x 467 and the marker has moved from x 283
    // (elapsed 0.4 of 1.5) to x 388. Pixels outside the last rectangle sent
    // (the curve at x 200, the fill to the right and above) must still show.
    const COLORREF curve = GetPixel(screen, 60 + 200, 50 + 300);
    const COLORREF beyond = GetPixel(screen, 60 + 600, 50 + 300);
    const COLORREF fill = GetPixel(screen, 60 + 460, 50 + 250);
    const COLORREF oldGlow = GetPixel(screen, 60 + 283, 50 + 290);
    const COLORREF newGlow = GetPixel(screen, 60 + 388, 50 + 290);
    ReleaseDC(nullptr, screen);
    EXPECT_NEAR(GetRValue(curve), 0x38, 3);
    EXPECT_NEAR(GetGValue(curve), 0xD9, 3);
    EXPECT_NEAR(GetRValue(beyond), 0x1A, 3);
    EXPECT_NEAR(GetGValue(fill), 0x1E, 3);
    EXPECT_NEAR(GetBValue(fill), 0x25, 3);
    EXPECT_NEAR(GetGValue(oldGlow), 0x1E, 3);
    EXPECT_GT(GetGValue(newGlow), 0x30);
}

TEST_F(PresentedLayers, without_layers_frames_are_drawn_from_nothing) {
    auto request = walkRequest(200, 1.0, 20.0, true);
    setScale(*request, 1.0);
    testing::setFrameLayerAllocationFailure(true);
    prepareFrameLayers(window, *request);
    EXPECT_EQ(testing::frameLayersOf(window), nullptr);
    presentChartFrame(window, *request, 0.5, 0.75, 1.0);
    ASSERT_EQ(presented.size(), 1u);
    const Pixels reference = test::renderToMemory(*request, 0.5, 0.75);
    EXPECT_EQ(compareFrames(presented[0].pixels.data(), reference.data.data(), reference.width,
                            reference.height, 0)
                  .over,
              0);
    // Layers built for another record are not used for this one.
    testing::setFrameLayerAllocationFailure(false);
    auto other = walkRequest(50, -1.0, 5.0, true);
    setScale(*other, 1.0);
    prepareFrameLayers(window, *other);
    ASSERT_NE(testing::frameLayersOf(window), nullptr);
    presented.clear();
    presentChartFrame(window, *request, 0.5, 0.75, 1.0);
    ASSERT_EQ(presented.size(), 1u);
    EXPECT_EQ(compareFrames(presented[0].pixels.data(), reference.data.data(), reference.width,
                            reference.height, 0)
                  .over,
              0);
    // Layers of a record the window no longer shows are dropped.
    EXPECT_EQ(testing::frameLayersOf(window), nullptr);
    prepareFrameLayers(window, *other);
    ASSERT_NE(testing::frameLayersOf(window), nullptr);
    releaseFrameLayers(window);
    EXPECT_EQ(testing::frameLayersOf(window), nullptr);
    takeClosedCardLayers();
    EXPECT_EQ(testing::liveGdiObjects(), 0);
}

}  // namespace
}  // namespace kestrine
