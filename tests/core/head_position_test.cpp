// Tests of the head marker's position: the rules of the scan, skipped points,
// and agreement of the precomputed track with the scan.

#include "core/head_position.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace kestrine {
namespace {

const float NAN_F = std::numeric_limits<float>::quiet_NaN();

void fill(ChartRequest& request, const std::vector<double>& xValues,
          const std::vector<PlotPoint>& points, double xMax, double animationSeconds) {
    request.xValues = xValues;
    request.yValues.assign(xValues.size(), 0.0);
    request.plotPoints = points;
    request.xMax = xMax;
    request.animationSeconds = animationSeconds;
    request.animate = true;
}

// Both overloads must give the same answer; returns it.
PlotPoint head(const ChartRequest& request, double elapsedSeconds) {
    const PlotPoint scanned = headPosition(request, elapsedSeconds);
    const PlotPoint tracked = headPosition(request, buildHeadTrack(request), elapsedSeconds);
    EXPECT_EQ(0, std::memcmp(&scanned, &tracked, sizeof(PlotPoint))) << "at " << elapsedSeconds;
    return scanned;
}

#define EXPECT_POINT(ex, ey, p)   \
    do {                          \
        const PlotPoint q = (p);  \
        EXPECT_FLOAT_EQ(ex, q.x); \
        EXPECT_FLOAT_EQ(ey, q.y); \
    } while (0)

// Reach times 0, 1 and 2 seconds.
class ThreePoints : public ::testing::Test {
protected:
    void SetUp() override {
        fill(request, {0, 5, 10}, {{72, 490}, {467, 110}, {862, 300}}, 10.0, 2.0);
    }
    ChartRequest request;
};

TEST_F(ThreePoints, interpolates_linearly_in_time) {
    EXPECT_POINT(72.0f, 490.0f, head(request, 0.0));
    EXPECT_POINT(269.5f, 300.0f, head(request, 0.5));
    EXPECT_POINT(467.0f, 110.0f, head(request, 1.0));
    EXPECT_POINT(664.5f, 205.0f, head(request, 1.5));
}

TEST_F(ThreePoints, rests_on_last_point_from_its_reach_time) {
    EXPECT_POINT(862.0f, 300.0f, head(request, 2.0));
    EXPECT_POINT(862.0f, 300.0f, head(request, 1e9));
}

TEST_F(ThreePoints, without_animation_sits_on_last_point) {
    request.animate = false;
    EXPECT_POINT(862.0f, 300.0f, head(request, 0.0));
    // Asked to animate, with the user's animation effects off.
    request.animate = true;
    request.display.animationEffects = false;
    EXPECT_POINT(862.0f, 300.0f, head(request, 0.0));
}

TEST_F(ThreePoints, before_first_reach_time_or_nan_sits_on_first_point) {
    EXPECT_POINT(72.0f, 490.0f, head(request, -1.0));
    EXPECT_POINT(72.0f, 490.0f, head(request, std::nan("")));
    request.xValues = {2, 5, 10};
    EXPECT_POINT(72.0f, 490.0f, head(request, 0.3));
}

TEST(HeadPosition, single_point_is_the_head) {
    ChartRequest request;
    fill(request, {10}, {{862, 110}}, 10.0, 1.5);
    EXPECT_POINT(862.0f, 110.0f, head(request, 0.0));
}

TEST(HeadPosition, equal_reach_times_give_the_segment_end) {
    ChartRequest request;
    fill(request, {0, 5, 5, 10}, {{0, 0}, {10, 10}, {20, 40}, {30, 30}}, 10.0, 2.0);
    EXPECT_POINT(10.0f, 10.0f, head(request, 1.0));
    EXPECT_POINT(25.0f, 35.0f, head(request, 1.5));
}

TEST(HeadPosition, unordered_x_takes_the_first_enclosing_segment) {
    ChartRequest request;
    // Reach times 2, 0, 1: the first segment never encloses 0.5, the second does.
    fill(request, {10, 0, 5}, {{0, 0}, {100, 0}, {200, 100}}, 10.0, 2.0);
    EXPECT_FALSE(buildHeadTrack(request).ascending);
    EXPECT_POINT(150.0f, 50.0f, head(request, 0.5));
    EXPECT_POINT(200.0f, 100.0f, head(request, 1.0));
    EXPECT_POINT(0.0f, 0.0f, head(request, -0.5));
}

TEST(SkippedPoints, are_joined_over) {
    ChartRequest request;
    fill(request, {0, std::nan(""), 10}, {{72, 490}, {NAN_F, NAN_F}, {862, 110}}, 10.0, 2.0);
    EXPECT_POINT(467.0f, 300.0f, head(request, 1.0));
}

TEST(SkippedPoints, never_become_first_or_last) {
    ChartRequest request;
    fill(request, {std::nan(""), 0, 10, INFINITY},
         {{NAN_F, NAN_F}, {72, 490}, {862, 110}, {NAN_F, NAN_F}}, 10.0, 2.0);
    EXPECT_POINT(72.0f, 490.0f, head(request, -1.0));
    EXPECT_POINT(862.0f, 110.0f, head(request, 5.0));
    request.animate = false;
    EXPECT_POINT(862.0f, 110.0f, head(request, 0.0));
}

TEST(SkippedPoints, one_finite_point_among_skipped_is_the_head) {
    ChartRequest request;
    fill(request, {std::nan(""), 3}, {{NAN_F, NAN_F}, {300, 200}}, 10.0, 2.0);
    EXPECT_POINT(300.0f, 200.0f, head(request, 0.0));
}

TEST(NoHead, empty_or_all_skipped_gives_a_skipped_point) {
    ChartRequest request;
    fill(request, {}, {}, 1.0, 1.5);
    EXPECT_TRUE(isSkippedPlotPoint(head(request, 0.5)));
    request.animate = false;
    EXPECT_TRUE(isSkippedPlotPoint(head(request, 0.5)));
    fill(request, {std::nan(""), INFINITY}, {{NAN_F, NAN_F}, {NAN_F, NAN_F}}, 1.0, 1.5);
    EXPECT_TRUE(isSkippedPlotPoint(head(request, 0.5)));
}

TEST(HeadTrack, stale_track_falls_back_to_the_scan) {
    ChartRequest request;
    fill(request, {0, 10}, {{0, 0}, {100, 100}}, 10.0, 2.0);
    const HeadTrack track = buildHeadTrack(request);
    fill(request, {0, 10, 20}, {{0, 0}, {100, 100}, {200, 0}}, 20.0, 2.0);
    EXPECT_POINT(150.0f, 50.0f, headPosition(request, track, 1.5));
}

TEST(HeadTrack, binary_search_matches_scan_on_random_ascending_series) {
    std::mt19937 random(20240611u);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int compared = 0;
    for (int series = 0; series < 300; ++series) {
        ChartRequest request;
        const int count = 1 + static_cast<int>(random() % 60);
        double x = unit(random) * 3.0 - 1.0;
        std::vector<double> xs;
        std::vector<PlotPoint> points;
        for (int i = 0; i < count; ++i) {
            // Repeated x values give zero-length segments.
            if (random() % 4 != 0) {
                x += unit(random) * 5.0;
            }
            const bool skipped = random() % 7 == 0;
            xs.push_back(skipped ? std::nan("") : x);
            points.push_back(skipped ? PlotPoint{NAN_F, NAN_F}
                                     : PlotPoint{static_cast<float>(72 + x * 3),
                                                 static_cast<float>(unit(random) * 380 + 110)});
        }
        fill(request, xs, points, x > 1.0 ? x : 1.0, 0.3 + unit(random) * 9.7);
        const HeadTrack track = buildHeadTrack(request);
        ASSERT_TRUE(track.ascending);
        // Only candidates with gaps between them are listed; otherwise the
        // track holds nothing per point.
        const bool gaps = std::any_of(xs.begin(), xs.end(), [](double v) { return std::isnan(v); });
        EXPECT_EQ(track.pointIndex.empty(), !gaps || track.candidateCount == 0 ||
                                                track.lastCandidate - track.firstCandidate + 1 ==
                                                    track.candidateCount);
        // The reach times themselves, and moments in between and around.
        std::vector<double> moments;
        for (double xv : xs) {
            moments.push_back(xv / request.xMax * request.animationSeconds);
        }
        for (int k = 0; k < 40; ++k) {
            moments.push_back(unit(random) * (request.animationSeconds + 1.0) - 0.5);
        }
        for (double e : moments) {
            const PlotPoint scanned = headPosition(request, e);
            const PlotPoint tracked = headPosition(request, track, e);
            ASSERT_EQ(0, std::memcmp(&scanned, &tracked, sizeof(PlotPoint)))
                << "series " << series << " at " << e;
            ++compared;
        }
    }
    EXPECT_GT(compared, 10000);
}

}  // namespace
}  // namespace kestrine
