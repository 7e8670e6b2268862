// Tests of the curve's device columns: the columns a reveal admits (literal
// edges, half-up rounding in single precision) and the per-column reduction
// of long series (which points survive, in which order, how many), and the
// pen's outline around the points it leaves out.

#include "core/curve_columns.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <utility>
#include <vector>

namespace kestrine {
namespace {

const float NAN_F = std::numeric_limits<float>::quiet_NaN();

#define EXPECT_COLUMNS(expectedFirst, expectedEnd, range) \
    do {                                                  \
        const ColumnRange r = (range);                    \
        EXPECT_FALSE(r.all);                              \
        EXPECT_EQ(expectedFirst, r.first);                \
        EXPECT_EQ(expectedEnd, r.end);                    \
    } while (0)

bool samePoints(const std::vector<PlotPoint>& a, const std::vector<PlotPoint>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].x != b[i].x || a[i].y != b[i].y) {
            return false;
        }
    }
    return true;
}

TEST(RevealedColumns, complete_reveal_admits_every_column) {
    EXPECT_TRUE(revealedColumns(1.0, 1.0).all);
    EXPECT_TRUE(revealedColumns(1.7, 4.0).all);
    EXPECT_TRUE(revealedColumns(std::nan(""), 2.0).all);
    EXPECT_TRUE(revealedColumns(1.0, 1.0).contains(-5));
    EXPECT_TRUE(revealedColumns(1.0, 1.0).contains(100000));
}

TEST(RevealedColumns, no_reveal_admits_none) {
    EXPECT_COLUMNS(72, 72, revealedColumns(0.0, 1.0));
    EXPECT_COLUMNS(72, 72, revealedColumns(-0.5, 1.0));
    EXPECT_COLUMNS(288, 288, revealedColumns(-3.0, 4.0));
    EXPECT_FALSE(revealedColumns(0.0, 1.0).contains(72));
    // Far too small to move the right edge off 72 in single precision.
    EXPECT_COLUMNS(72, 72, revealedColumns(1e-9, 1.0));
}

TEST(RevealedColumns, edges_scale_with_the_card) {
    // 72 + 0.5 x 790 = 467.
    EXPECT_COLUMNS(72, 467, revealedColumns(0.5, 1.0));
    EXPECT_COLUMNS(144, 934, revealedColumns(0.5, 2.0));
    EXPECT_COLUMNS(288, 1868, revealedColumns(0.5, 4.0));
    // 467 x 1.25 = 583.75.
    EXPECT_COLUMNS(90, 584, revealedColumns(0.5, 1.25));
    // 72 + 0.37 x 790 = 364.3; at 1.25, 455.375.
    EXPECT_COLUMNS(72, 364, revealedColumns(0.37, 1.0));
    EXPECT_COLUMNS(90, 455, revealedColumns(0.37, 1.25));
    const ColumnRange half = revealedColumns(0.5, 1.0);
    EXPECT_TRUE(half.contains(72));
    EXPECT_TRUE(half.contains(466));
    EXPECT_FALSE(half.contains(467));
    EXPECT_FALSE(half.contains(71));
}

TEST(RevealedColumns, an_edge_on_a_half_column_rounds_up) {
    // Width 28.5: the right edge lies at 100.5 device units.
    EXPECT_COLUMNS(72, 101, revealedColumns(28.5 / 790.0, 1.0));
    // Width 28.25 at scale 2: (72 + 28.25) x 2 = 200.5.
    EXPECT_COLUMNS(144, 201, revealedColumns(28.25 / 790.0, 2.0));
    // Width 28.4 at scale 1 stays below the half.
    EXPECT_COLUMNS(72, 100, revealedColumns(28.4 / 790.0, 1.0));
}

TEST(DrawnPoints, leaves_out_skipped_points_in_order) {
    const std::vector<PlotPoint> points = {
        {NAN_F, NAN_F}, {80, 200}, {NAN_F, NAN_F}, {90, 210}, {100, 190}, {NAN_F, NAN_F}};
    EXPECT_TRUE(samePoints(drawnPoints(points), {{80, 200}, {90, 210}, {100, 190}}));
    EXPECT_TRUE(drawnPoints({{NAN_F, NAN_F}}).empty());
}

// The points columnReduction keeps, in series order.
std::vector<PlotPoint> reduceToDeviceColumns(const std::vector<PlotPoint>& points,
                                             double dpiScale) {
    std::vector<PlotPoint> reduced;
    for (std::size_t i : columnReduction(points, dpiScale)) {
        reduced.push_back(points[i]);
    }
    return reduced;
}

TEST(ColumnReduction, keeps_first_lowest_highest_and_last_in_series_order) {
    // Column 10 holds five points: first (y 5), lowest (y 1), highest (y 9),
    // last (y 6); (10.4, 4) decides nothing.
    const std::vector<PlotPoint> points = {
        {10.1f, 5}, {10.2f, 1}, {10.3f, 9}, {10.4f, 4}, {10.9f, 6}, {11.5f, 3}};
    EXPECT_TRUE(samePoints(reduceToDeviceColumns(points, 1.0),
                           {{10.1f, 5}, {10.2f, 1}, {10.3f, 9}, {10.9f, 6}, {11.5f, 3}}));
}

TEST(ColumnReduction, highest_before_lowest_stays_in_that_order) {
    const std::vector<PlotPoint> points = {{20.0f, 4}, {20.2f, 8}, {20.4f, 7}, {20.6f, 0},
                                           {20.8f, 3}};
    EXPECT_TRUE(samePoints(reduceToDeviceColumns(points, 1.0),
                           {{20.0f, 4}, {20.2f, 8}, {20.6f, 0}, {20.8f, 3}}));
}

TEST(ColumnReduction, a_point_that_plays_two_parts_is_kept_once) {
    // The first point is also the lowest; the last is also the highest.
    const std::vector<PlotPoint> points = {{30.1f, 1}, {30.2f, 5}, {30.3f, 3}, {30.4f, 9}};
    EXPECT_TRUE(samePoints(reduceToDeviceColumns(points, 1.0),
                           {{30.1f, 1}, {30.4f, 9}}));
    // Equal values: the earliest of them counts.
    EXPECT_TRUE(samePoints(reduceToDeviceColumns({{30.1f, 2}, {30.2f, 2}, {30.3f, 2}}, 1.0),
                           {{30.1f, 2}, {30.3f, 2}}));
    EXPECT_TRUE(samePoints(reduceToDeviceColumns({{30.5f, 7}}, 1.0), {{30.5f, 7}}));
    EXPECT_TRUE(reduceToDeviceColumns({}, 1.0).empty());
}

TEST(ColumnReduction, columns_are_device_pixels) {
    // At scale 2, x 10.1 and 10.4 fall into column 20 and 10.6 into 21.
    const std::vector<PlotPoint> points = {{10.1f, 5}, {10.2f, 1}, {10.3f, 9}, {10.4f, 4},
                                           {10.6f, 2}, {10.7f, 8}, {10.8f, 0}, {10.9f, 6}};
    EXPECT_TRUE(samePoints(reduceToDeviceColumns(points, 2.0),
                           {{10.1f, 5}, {10.2f, 1}, {10.3f, 9}, {10.4f, 4}, {10.6f, 2},
                            {10.7f, 8}, {10.8f, 0}, {10.9f, 6}}));
    EXPECT_EQ(reduceToDeviceColumns(points, 1.0).size(), 4u);
}

TEST(ColumnReduction, a_column_visited_twice_keeps_both_visits) {
    // x goes back: the runs are consecutive points, not whole columns.
    const std::vector<PlotPoint> points = {{10.1f, 5}, {10.2f, 1}, {10.3f, 9}, {10.4f, 4},
                                           {11.5f, 3}, {10.5f, 2}, {10.6f, 7}};
    EXPECT_TRUE(samePoints(reduceToDeviceColumns(points, 1.0),
                           {{10.1f, 5}, {10.2f, 1}, {10.3f, 9}, {10.4f, 4}, {11.5f, 3},
                            {10.5f, 2}, {10.6f, 7}}));
}

// The reduction written out plainly: each maximal run of points in one
// device column gives its first, lowest and highest (each the earliest of
// equal values) and last point.
std::vector<std::size_t> plainReduction(const std::vector<PlotPoint>& drawn, double dpiScale) {
    std::vector<std::size_t> kept;
    for (std::size_t i = 0; i < drawn.size();) {
        const double column = std::floor(drawn[i].x * dpiScale);
        std::size_t end = i;
        std::size_t low = i;
        std::size_t high = i;
        for (; end < drawn.size() && std::floor(drawn[end].x * dpiScale) == column; ++end) {
            low = drawn[end].y < drawn[low].y ? end : low;
            high = drawn[end].y > drawn[high].y ? end : high;
        }
        std::vector<std::size_t> run = {i, low, high, end - 1};
        std::sort(run.begin(), run.end());
        run.erase(std::unique(run.begin(), run.end()), run.end());
        kept.insert(kept.end(), run.begin(), run.end());
        i = end;
    }
    return kept;
}

TEST(ColumnReduction, long_series_with_ties_and_gaps_keep_what_the_plain_rule_keeps) {
    uint32_t state = 99u;
    const auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    for (const bool backwards : {false, true}) {
        std::vector<PlotPoint> points;
        for (int i = 0; i < 60000; ++i) {
            // Few distinct values, so that lowest and highest tie often;
            // runs of 1 to 40 points per column, and now and then a gap.
            const float x = 80.0f + 0.013f * static_cast<float>(backwards ? 60000 - i : i);
            points.push_back(next() % 53 == 0 ? PlotPoint{NAN_F, 200.0f}
                                              : PlotPoint{x, 200.0f + (next() >> 8) % 7});
        }
        for (double scale : {1.0, 1.25, 4.0}) {
            EXPECT_EQ(columnReduction(points, scale), plainReduction(drawnPoints(points), scale))
                << "scale " << scale << (backwards ? ", x falling" : ", x rising");
        }
    }
}

// Series that put the pen's batches to the test: dense and jagged, turned
// back on themselves, scattered, with gaps, repeated points and points far
// off the card.
std::vector<std::vector<PlotPoint>> outlineSeries() {
    uint32_t state = 4321u;
    const auto unit = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / 16777216.0;
    };
    std::vector<std::vector<PlotPoint>> series(7);
    double y = 300.0;
    double burstX = 0.0;
    double burstY = 0.0;
    for (int i = 0; i < 20000; ++i) {
        const float x = static_cast<float>(72.0 + 790.0 * i / 20000.0);
        y += (unit() - 0.49) * 0.8;
        series[0].push_back({x, static_cast<float>(y)});                       // a walk
        series[1].push_back({x, static_cast<float>(110.0 + 380.0 * unit())});  // noise
        series[2].push_back({static_cast<float>(862.0 - 790.0 * i / 20000.0),  // leftwards
                             static_cast<float>(y)});
        if (i % 200 == 0) {  // scattered: bursts in one place, then elsewhere
            burstX = 72.0 + 790.0 * unit();
            burstY = 140.0 + 320.0 * unit();
        }
        series[3].push_back({static_cast<float>(burstX + 0.9 * unit()),
                             static_cast<float>(burstY + 30.0 * (unit() - 0.5))});
        // Back and forth sideways while creeping down: mitres point sideways.
        series[4].push_back({static_cast<float>(400.0 + (i % 2 == 0 ? 0.0 : 3.0 * unit())),
                             static_cast<float>(100.0 + 0.01 * i)});
        // A gentle slope, nearly straight: the bands' edges decide.
        series[6].push_back({x, static_cast<float>(200.0 + 0.01 * i + 0.001 * unit())});
        PlotPoint odd{x, static_cast<float>(y)};
        if (i % 97 == 0) {
            odd = {NAN_F, NAN_F};
        } else if (i % 89 == 0) {
            odd = series[5].back();  // a segment of no length
        } else if (i == 10000) {
            odd = {x, -std::numeric_limits<float>::infinity()};
        } else if (i % 1000 == 0) {
            odd = {x, static_cast<float>(unit() < 0.5 ? -1e30 : 1e30)};
        }
        series[5].push_back(odd);
    }
    return series;
}

bool sameOutline(const CurveOutline& a, const CurveOutline& b) {
    if (a.strokes.size() != b.strokes.size() || a.spans.size() != b.spans.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.strokes.size(); ++i) {
        if (!samePoints(a.strokes[i], b.strokes[i])) {
            return false;
        }
    }
    for (std::size_t i = 0; i < a.spans.size(); ++i) {
        if (a.spans[i].column != b.spans[i].column || a.spans[i].top != b.spans[i].top ||
            a.spans[i].bottom != b.spans[i].bottom) {
            return false;
        }
    }
    return true;
}

TEST(CurveOutline, shapes_judged_in_batches_give_what_each_shape_on_its_own_gives) {
    const std::vector<std::vector<PlotPoint>> all = outlineSeries();
    for (std::size_t s = 0; s < all.size(); ++s) {
        for (double scale : {1.0, 1.25, 4.0}) {
            const int32_t width = static_cast<int32_t>(920 * scale + 0.5);
            const int32_t height = static_cast<int32_t>(560 * scale + 0.5);
            const CurveOutline single = curveOutline(all[s], scale, width, height, 1);
            ASSERT_FALSE(single.spans.empty()) << "series " << s << ", scale " << scale;
            for (std::size_t batch : {3u, 16u, 64u}) {
                EXPECT_TRUE(sameOutline(curveOutline(all[s], scale, width, height, batch), single))
                    << "series " << s << ", scale " << scale << ", batches of " << batch;
            }
        }
    }
}

TEST(CurveOutline, a_point_at_infinity_covers_the_same_in_batches_as_shape_by_shape) {
    // The pen towards such a point has corners that are not numbers; once
    // they were taken for the last row in some orders of covering and
    // passed over in others (a walk at scale 4 in batches of 2 differed).
    const float INF_F = std::numeric_limits<float>::infinity();
    for (const PlotPoint odd : {PlotPoint{INF_F, 300.0f}, PlotPoint{200.0f, INF_F},
                                PlotPoint{200.0f, -INF_F}}) {
        uint32_t state = 4321u;
        std::vector<PlotPoint> points;
        double y = 300.0;
        for (int i = 0; i < 3000; ++i) {
            state = state * 1664525u + 1013904223u;
            y += (static_cast<double>(state >> 8) / 16777216.0 - 0.49) * 0.8;
            points.push_back(i == 1500 ? odd : PlotPoint{100.0f + 0.05f * i, static_cast<float>(y)});
        }
        for (double scale : {1.0, 2.0, 4.0}) {
            const int32_t width = static_cast<int32_t>(920 * scale);
            const int32_t height = static_cast<int32_t>(560 * scale);
            const CurveOutline single = curveOutline(points, scale, width, height, 1);
            for (std::size_t batch : {2u, 16u}) {
                EXPECT_TRUE(sameOutline(curveOutline(points, scale, width, height, batch), single))
                    << "odd point (" << odd.x << ", " << odd.y << "), scale " << scale
                    << ", batches of " << batch;
            }
        }
    }
}

TEST(CurveOutline, up_to_the_limit_every_drawn_point_is_kept_and_nothing_filled) {
    std::vector<PlotPoint> points;
    for (int i = 0; i < 2001; ++i) {
        points.push_back(i == 7 ? PlotPoint{NAN_F, NAN_F}
                                : PlotPoint{72.0f + 0.01f * i, 300.0f + (i % 3)});
    }
    // 2000 drawn points, all in a few columns: nothing is reduced.
    const CurveOutline outline = curveOutline(points, 1.0, 920, 560);
    ASSERT_EQ(outline.strokes.size(), 1u);
    EXPECT_TRUE(samePoints(outline.strokes[0], drawnPoints(points)));
    EXPECT_TRUE(outline.spans.empty());
    // A single drawn point makes no stroke.
    EXPECT_TRUE(curveOutline({{NAN_F, NAN_F}, {300, 200}}, 1.0, 920, 560).strokes.empty());
}

TEST(CurveOutline, a_dense_level_line_keeps_run_ends_and_fills_the_pen_band) {
    // 2500 points on y 300 from x 100 to 110: ten columns of 250 points and
    // the last point alone in column 110.
    std::vector<PlotPoint> points;
    for (int i = 0; i < 2500; ++i) {
        points.push_back({static_cast<float>(100.0 + 10.0 * i / 2499), 300.0f});
    }
    const CurveOutline outline = curveOutline(points, 1.0, 920, 560);
    // Each column keeps its first and last point; the pen strokes only the
    // steps from one column's last point to the next column's first.
    ASSERT_EQ(outline.strokes.size(), 10u);
    for (const std::vector<PlotPoint>& stroke : outline.strokes) {
        EXPECT_EQ(stroke.size(), 2u);
    }
    EXPECT_EQ(outline.strokes.back().back().x, 110.0f);
    // The band of the pen, 4 units, around the left-out points: rows 298 to
    // 301 of columns 100 to 110.
    ASSERT_EQ(outline.spans.size(), 11u);
    for (std::size_t i = 0; i < outline.spans.size(); ++i) {
        EXPECT_EQ(outline.spans[i].column, 100 + static_cast<int32_t>(i));
        EXPECT_EQ(outline.spans[i].top, 298);
        EXPECT_EQ(outline.spans[i].bottom, 302);
    }
    const CurveOutline doubled = curveOutline(points, 2.0, 1840, 1120);
    ASSERT_EQ(doubled.spans.size(), 21u);
    EXPECT_EQ(doubled.spans.front().column, 200);
    EXPECT_EQ(doubled.spans.back().column, 220);
    EXPECT_EQ(doubled.spans.front().top, 596);
    EXPECT_EQ(doubled.spans.front().bottom, 604);
}

TEST(CurveOutline, mitres_of_left_out_points_reach_beyond_the_band) {
    // A zigzag at 45 degrees, ten points per column: each turn is a right
    // angle, whose mitre reaches 2 x sqrt(2) units beyond the point.
    std::vector<PlotPoint> points;
    for (int i = 0; i < 3000; ++i) {
        points.push_back({static_cast<float>(100.0 + 0.1 * i), i % 2 == 0 ? 300.0f : 300.1f});
    }
    const CurveOutline outline = curveOutline(points, 1.0, 920, 560);
    ASSERT_FALSE(outline.spans.empty());
    int32_t highest = 560;
    int32_t lowest = 0;
    for (const ColumnSpan& span : outline.spans) {
        highest = std::min(highest, span.top);
        lowest = std::max(lowest, span.bottom);
    }
    // The band alone covers rows 299 to 301 (corners 1.41 units off the line,
    // rounded); the mitres reach rows 297 (from 297.17) and 302 (to 302.93).
    EXPECT_EQ(highest, 297);
    EXPECT_EQ(lowest, 303);
}

TEST(CurveOutline, spans_stay_on_the_surface) {
    std::vector<PlotPoint> points;
    for (int i = 0; i < 5000; ++i) {
        // Far above the card on the left, far below on the right.
        points.push_back({static_cast<float>(-50.0 + i * 0.2), i % 2 == 0 ? -900.0f : 1500.0f});
    }
    const CurveOutline outline = curveOutline(points, 1.0, 920, 560);
    // Five points a column, each pair a stroke through the whole height: the
    // left-out points cover every column from top to bottom, cut to the surface.
    ASSERT_EQ(outline.spans.size(), 920u);
    for (std::size_t i = 0; i < outline.spans.size(); ++i) {
        const ColumnSpan& span = outline.spans[i];
        EXPECT_EQ(span.column, static_cast<int32_t>(i));
        EXPECT_EQ(span.top, 0);
        EXPECT_EQ(span.bottom, 560);
    }
    EXPECT_TRUE(curveOutline(points, 1.0, 0, 0).spans.empty());
}

TEST(CurveOutline, a_column_keeps_many_separate_stretches_cut_to_the_surface) {
    // Runs of 20 points climbing 1.9 units in one column, at 200 levels 10
    // units apart from row 99 down to far below the card, each level
    // visited twice in a scrambled order, in two columns by turns.
    std::vector<PlotPoint> points;
    for (int visit = 0; visit < 800; ++visit) {
        const int level = (visit / 2 * 7919) % 200;
        const float x = visit % 2 == 0 ? 400.25f : 420.25f;
        for (int i = 0; i < 20; ++i) {
            points.push_back({x, static_cast<float>(99.25 + 10.0 * level + 0.1 * i)});
        }
    }
    const CurveOutline outline = curveOutline(points, 1.0, 920, 560);
    std::vector<std::vector<std::pair<int32_t, int32_t>>> rows(920);
    for (const ColumnSpan& span : outline.spans) {
        rows[static_cast<std::size_t>(span.column)].push_back({span.top, span.bottom});
    }
    // Each run's band, 4 units wide, covers five columns and rows 99 to 101
    // past its level's; the joins where the curve comes in from the other
    // column and leaves for it reach two rows further, on their outer side.
    // Levels 0 to 46 are on the surface, the last one cut at its bottom.
    struct Expected {
        int32_t column;
        int32_t top;
        int32_t bottom;
    };
    const Expected expected[] = {{398, 99, 103}, {399, 99, 103}, {400, 99, 103}, {401, 99, 101},
                                 {402, 99, 101}, {418, 99, 101}, {419, 99, 101}, {420, 97, 101},
                                 {421, 97, 101}, {422, 97, 101}};
    std::size_t next = 0;
    for (int32_t column = 0; column < 920; ++column) {
        const auto& stretches = rows[static_cast<std::size_t>(column)];
        if (next == std::size(expected) || expected[next].column != column) {
            EXPECT_TRUE(stretches.empty()) << "column " << column;
            continue;
        }
        const Expected& e = expected[next++];
        ASSERT_EQ(stretches.size(), 47u) << "column " << column;
        for (int32_t level = 0; level < 46; ++level) {
            EXPECT_EQ(stretches[static_cast<std::size_t>(level)],
                      std::make_pair(e.top + 10 * level, e.bottom + 10 * level))
                << "column " << column << ", level " << level;
        }
        EXPECT_EQ(stretches.back(), std::make_pair(e.top + 460, 560)) << "column " << column;
    }
    // Judged in batches, the same.
    EXPECT_TRUE(sameOutline(curveOutline(points, 1.0, 920, 560, 16), curveOutline(points, 1.0, 920, 560, 1)));
}

TEST(CurveOutline, beyond_the_limit_at_most_four_points_per_column_visit) {
    std::vector<PlotPoint> points;
    const int count = 300000;
    uint32_t state = 12345u;
    for (int i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        points.push_back({72.0f + 790.0f * i / (count - 1), 110.0f + (state >> 8) % 380});
    }
    const auto strokedPoints = [](const CurveOutline& outline) {
        std::size_t count = 0;
        for (const std::vector<PlotPoint>& stroke : outline.strokes) {
            count += stroke.size();
        }
        return count;
    };
    // x ascends over 791 columns at scale 1 and 3161 at scale 4.
    EXPECT_LE(columnReduction(drawnPoints(points), 1.0).size(), 4u * 791u);
    EXPECT_GE(columnReduction(drawnPoints(points), 1.0).size(), 3u * 790u);
    EXPECT_LE(columnReduction(drawnPoints(points), 4.0).size(), 4u * 3161u);
    const CurveOutline atOne = curveOutline(points, 1.0, 920, 560);
    EXPECT_LE(strokedPoints(atOne), 4u * 791u);
    // Random values fill each column from top to bottom of the plot.
    EXPECT_GE(atOne.spans.size(), 780u);
    EXPECT_LE(atOne.spans.size(), 920u * 2u);
    const CurveOutline atFour = curveOutline(points, 4.0, 3680, 2240);
    EXPECT_LE(strokedPoints(atFour), 4u * 3161u);
}

}  // namespace
}  // namespace kestrine
