// Tests of the axis scale: niceStep, the worked five-interval axes, the plot
// geometry, and the guarantees for non-finite and overflowing data.
#include "core/axis_scale.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <utility>
#include <vector>

namespace kestrine {
namespace {

const double INF = std::numeric_limits<double>::infinity();
const double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();

struct Axis {
    double low;
    double high;
};

void scale(ChartRequest& request, std::vector<double> xs, std::vector<double> ys) {
    request.xValues = std::move(xs);
    request.yValues = std::move(ys);
    computeChartScale(request);
}

// The y axis for the given y values, with x = 0, 1, 2, ...
Axis axisFor(const std::vector<double>& ys) {
    ChartRequest request;
    std::vector<double> xs;
    for (size_t i = 0; i < ys.size(); ++i) xs.push_back(static_cast<double>(i));
    scale(request, xs, ys);
    return {request.yAxisMin, request.yAxisMax};
}

void expectSoundScale(const ChartRequest& request) {
    EXPECT_TRUE(std::isfinite(request.xMax));
    EXPECT_GE(request.xMax, 1.0);
    EXPECT_TRUE(std::isfinite(request.yAxisMin));
    EXPECT_TRUE(std::isfinite(request.yAxisMax));
    EXPECT_LE(request.yAxisMin, 0.0);
    EXPECT_GE(request.yAxisMax, 0.0);
    EXPECT_GT(request.yAxisMax, request.yAxisMin);
    EXPECT_TRUE(std::isfinite(request.yAxisMax - request.yAxisMin));
    ASSERT_EQ(request.plotPoints.size(), request.xValues.size());
    for (size_t i = 0; i < request.plotPoints.size(); ++i) {
        const PlotPoint& point = request.plotPoints[i];
        bool finiteData = std::isfinite(request.xValues[i]) && std::isfinite(request.yValues[i]);
        if (!finiteData) {
            EXPECT_TRUE(std::isnan(point.x) && std::isnan(point.y)) << "point " << i;
            continue;
        }
        EXPECT_TRUE(std::isfinite(point.x) && std::isfinite(point.y)) << "point " << i;
        EXPECT_LE(std::fabs(point.x), PLOT_COORDINATE_LIMIT);
        EXPECT_LE(std::fabs(point.y), PLOT_COORDINATE_LIMIT);
    }
}

TEST(nice_step, raises_to_one_two_five) {
    EXPECT_EQ(niceStep(0.3), 1.0);
    EXPECT_EQ(niceStep(1.4), 2.0);
    EXPECT_EQ(niceStep(2.0), 2.0);
    EXPECT_EQ(niceStep(20.0), 20.0);
    EXPECT_EQ(niceStep(24.0), 50.0);
    EXPECT_EQ(niceStep(2469.0), 5000.0);
    EXPECT_EQ(niceStep(7.0), 10.0);
    EXPECT_EQ(niceStep(5.0), 5.0);
    EXPECT_EQ(niceStep(1000.0), 1000.0);
    EXPECT_EQ(niceStep(1001.0), 2000.0);
}

TEST(nice_step, never_below_one_and_sound_for_non_finite) {
    EXPECT_EQ(niceStep(0.0), 1.0);
    EXPECT_EQ(niceStep(-5.0), 1.0);
    EXPECT_EQ(niceStep(1e-12), 1.0);
    EXPECT_EQ(niceStep(4.9406564584124654e-324), 1.0);
    EXPECT_EQ(niceStep(NOT_A_NUMBER), 1.0);
    EXPECT_EQ(niceStep(-INF), 1.0);
    EXPECT_EQ(niceStep(INF), INF);
    EXPECT_EQ(niceStep(1.7e308), INF);
}

TEST(y_axis, widens_to_five_intervals) {
    struct Row {
        std::vector<double> ys;
        double low;
        double high;
    };
    const Row rows[] = {
        {{0, 100}, 0, 100},      {{5, 7}, 0, 10},          {{3, 4.5}, 0, 5},
        {{-30, 70}, -100, 150},  {{-7, -3}, -8, 2},        {{99, 101}, -50, 200},
        {{12345}, -5000, 20000}, {{1000}, 0, 1000},        {{-1000}, -1000, 0},
        {{0.4}, -2, 3},          {{-0.5, 0.5}, -2, 3},     {{250}, 0, 250},
        {{-1500.25, 300}, -2000, 500},
    };
    for (const Row& row : rows) {
        Axis axis = axisFor(row.ys);
        EXPECT_EQ(axis.low, row.low) << "first y " << row.ys[0];
        EXPECT_EQ(axis.high, row.high) << "first y " << row.ys[0];
    }
}

TEST(y_axis, flat_series_falls_back) {
    Axis zeros = axisFor({0, 0, 0});
    EXPECT_EQ(zeros.low, -2.0);
    EXPECT_EQ(zeros.high, 3.0);
    Axis tiny = axisFor({1e-10, -1e-10});
    EXPECT_EQ(tiny.low, -2.0);
    EXPECT_EQ(tiny.high, 3.0);
    ChartRequest empty;
    computeChartScale(empty);
    EXPECT_EQ(empty.xMax, 1.0);
    EXPECT_EQ(empty.yAxisMin, -2.0);
    EXPECT_EQ(empty.yAxisMax, 3.0);
    EXPECT_TRUE(empty.plotPoints.empty());
}

TEST(plot_geometry, maps_points_into_the_plot_area) {
    ChartRequest one;
    scale(one, {10}, {250});
    EXPECT_EQ(one.xMax, 10.0);
    ASSERT_EQ(one.plotPoints.size(), 1u);
    EXPECT_EQ(one.plotPoints[0].x, 862.0f);
    EXPECT_EQ(one.plotPoints[0].y, 110.0f);

    ChartRequest small;
    scale(small, {0, 0.5}, {0, 0});
    EXPECT_EQ(small.xMax, 1.0);
    EXPECT_EQ(small.plotPoints[0].x, 72.0f);
    EXPECT_EQ(small.plotPoints[1].x, 467.0f);
    EXPECT_EQ(small.plotPoints[0].y, 338.0f);
    EXPECT_EQ(small.plotPoints[1].y, 338.0f);

    ChartRequest negative;
    scale(negative, {-10, 100}, {-30, 70});
    EXPECT_EQ(negative.plotPoints[0].x, -7.0f);
    EXPECT_EQ(negative.plotPoints[1].x, 862.0f);
    EXPECT_EQ(negative.plotPoints[0].y, 383.6f);  // 110 + 380 * 180 / 250
    EXPECT_EQ(negative.plotPoints[1].y, 231.6f);  // 110 + 380 * 80 / 250
}

TEST(plot_geometry, replaces_earlier_points) {
    ChartRequest request;
    scale(request, {1, 2, 3}, {1, 2, 3});
    scale(request, {1}, {1});
    EXPECT_EQ(request.plotPoints.size(), 1u);
}

TEST(non_finite_data, is_skipped_by_the_scale_and_marked) {
    ChartRequest request;
    scale(request, {0, INF, 1, 2, NOT_A_NUMBER, 3}, {0, 5, NOT_A_NUMBER, 100, 1e9, -INF});
    EXPECT_EQ(request.xMax, 2.0);
    EXPECT_EQ(request.yAxisMin, 0.0);
    EXPECT_EQ(request.yAxisMax, 100.0);
    ASSERT_EQ(request.plotPoints.size(), 6u);
    EXPECT_FALSE(isSkippedPlotPoint(request.plotPoints[0]));
    EXPECT_TRUE(isSkippedPlotPoint(request.plotPoints[1]));
    EXPECT_TRUE(isSkippedPlotPoint(request.plotPoints[2]));
    EXPECT_FALSE(isSkippedPlotPoint(request.plotPoints[3]));
    EXPECT_TRUE(isSkippedPlotPoint(request.plotPoints[4]));
    EXPECT_TRUE(isSkippedPlotPoint(request.plotPoints[5]));
    EXPECT_TRUE(std::isnan(request.plotPoints[1].x) && std::isnan(request.plotPoints[1].y));
    EXPECT_EQ(request.plotPoints[3].x, 862.0f);
    expectSoundScale(request);

    ChartRequest allSkipped;
    scale(allSkipped, {NOT_A_NUMBER, INF}, {1, 2});
    EXPECT_EQ(allSkipped.yAxisMin, -2.0);
    EXPECT_EQ(allSkipped.yAxisMax, 3.0);
    expectSoundScale(allSkipped);
}

TEST(non_finite_data, missing_y_values_count_as_not_finite) {
    ChartRequest request;
    scale(request, {1, 2, 3}, {5});
    ASSERT_EQ(request.plotPoints.size(), 3u);
    EXPECT_FALSE(isSkippedPlotPoint(request.plotPoints[0]));
    EXPECT_TRUE(isSkippedPlotPoint(request.plotPoints[2]));
}

TEST(overflow, range_beyond_double_keeps_a_finite_axis) {
    ChartRequest request;
    scale(request, {0, 1}, {DBL_MAX, -DBL_MAX});
    EXPECT_EQ(request.yAxisMin, -DBL_MAX / 2);
    EXPECT_EQ(request.yAxisMax, DBL_MAX / 2);
    EXPECT_EQ(request.plotPoints[0].y, -80.0f);  // half an axis above the top
    EXPECT_EQ(request.plotPoints[1].y, 680.0f);  // half an axis below the bottom
    expectSoundScale(request);
}

TEST(overflow, nice_axis_out_of_range_uses_the_data_range) {
    ChartRequest request;
    scale(request, {0, 1}, {0, 1.5e308});
    EXPECT_EQ(request.yAxisMin, 0.0);
    EXPECT_EQ(request.yAxisMax, 1.5e308);
    EXPECT_EQ(request.plotPoints[1].y, 110.0f);
    expectSoundScale(request);
}

TEST(overflow, huge_x_values_stay_in_place) {
    ChartRequest wide;
    scale(wide, {0, DBL_MAX / 2, DBL_MAX}, {1, 2, 3});
    EXPECT_EQ(wide.xMax, DBL_MAX);
    EXPECT_EQ(wide.plotPoints[0].x, 72.0f);
    EXPECT_EQ(wide.plotPoints[1].x, 467.0f);
    EXPECT_EQ(wide.plotPoints[2].x, 862.0f);

    ChartRequest farLeft;
    scale(farLeft, {-DBL_MAX, -1e9, 1}, {1, 2, 3});
    EXPECT_EQ(farLeft.plotPoints[0].x, static_cast<float>(-PLOT_COORDINATE_LIMIT));
    EXPECT_EQ(farLeft.plotPoints[1].x, static_cast<float>(-PLOT_COORDINATE_LIMIT));
    EXPECT_EQ(farLeft.plotPoints[2].x, 862.0f);
    expectSoundScale(farLeft);
}

TEST(overflow, extreme_inputs_keep_every_guarantee) {
    const std::vector<std::vector<double>> cases = {
        {-1e308, 1e308}, {DBL_MAX},       {-DBL_MAX},   {1e300, -1e300},       {4.9406564584124654e-324},
        {9e307, -9e307}, {1e-9, -1e-9},   {2e-9},       {DBL_MAX, 0, -1e-300}, {-DBL_MAX, DBL_MAX, 1},
        {5e307},         {-5e307, 5e307}, {1e308, 1e308}, {-1.2e308, 3},
    };
    for (const auto& ys : cases) {
        ChartRequest request;
        std::vector<double> xs;
        for (size_t i = 0; i < ys.size(); ++i) xs.push_back(i % 2 == 0 ? -DBL_MAX : DBL_MAX);
        scale(request, xs, ys);
        SCOPED_TRACE(ys[0]);
        expectSoundScale(request);
    }
}

TEST(overflow, random_bit_patterns_keep_every_guarantee) {
    std::mt19937_64 random(20240601);
    for (int round = 0; round < 2000; ++round) {
        ChartRequest request;
        size_t count = 1 + random() % 6;
        for (size_t i = 0; i < count; ++i) {
            uint64_t bits[2] = {random(), random()};
            double values[2];
            std::memcpy(values, bits, sizeof values);
            request.xValues.push_back(values[0]);
            request.yValues.push_back(round % 2 == 0 ? values[1] : std::ldexp(values[1], -1000));
        }
        computeChartScale(request);
        SCOPED_TRACE(round);
        expectSoundScale(request);
        if (::testing::Test::HasFailure()) return;
    }
}

}  // namespace
}  // namespace kestrine
