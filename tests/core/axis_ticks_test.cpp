// Tests of the x-axis tick choice, clock-time labels, y grid lines and the
// zero line.

#include "core/axis_ticks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace kestrine {
namespace {

std::vector<std::wstring> labelsOf(const std::vector<XTick>& ticks) {
    std::vector<std::wstring> labels;
    for (const XTick& tick : ticks) {
        labels.push_back(tick.label);
    }
    return labels;
}

TEST(NumericTickStep, picks_first_step_giving_at_most_six_intervals) {
    EXPECT_EQ(1.0, numericTickStep(1.0));
    EXPECT_EQ(1.0, numericTickStep(6.0));
    EXPECT_EQ(2.0, numericTickStep(7.0));
    EXPECT_EQ(2.0, numericTickStep(13.0));
    EXPECT_EQ(5.0, numericTickStep(14.0));
    EXPECT_EQ(50.0, numericTickStep(250.0));
    EXPECT_EQ(5e11, numericTickStep(3e12));
}

TEST(NumericTickStep, falls_back_to_xmax_beyond_the_largest_step) {
    EXPECT_EQ(3.5e12, numericTickStep(3.5e12));
    EXPECT_EQ(1e300, numericTickStep(1e300));
}

TEST(NumericTickStep, non_positive_axis_steps_by_one) {
    EXPECT_EQ(1.0, numericTickStep(0.0));
    EXPECT_EQ(1.0, numericTickStep(-5.0));
}

TEST(NumericTicks, values_and_positions_across_the_plot) {
    EXPECT_EQ((std::vector<double>{0, 1}), numericTickValues(1.0));
    EXPECT_EQ((std::vector<double>{0, 1, 2, 3, 4, 5, 6}), numericTickValues(6.0));
    EXPECT_EQ((std::vector<double>{0, 2, 4, 6}), numericTickValues(7.0));
    EXPECT_EQ((std::vector<double>{0, 3.5e12}), numericTickValues(3.5e12));
    EXPECT_EQ((std::vector<double>{0, 1e300}), numericTickValues(1e300));
    EXPECT_EQ((std::vector<double>{0, std::numeric_limits<double>::max()}),
              numericTickValues(std::numeric_limits<double>::max()));

    const std::vector<XTick> ticks = numericXTicks(250.0);
    ASSERT_EQ(6u, ticks.size());
    const double expectedX[] = {72, 230, 388, 546, 704, 862};
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        EXPECT_DOUBLE_EQ(expectedX[i], ticks[i].logicalX) << i;
    }
    EXPECT_DOUBLE_EQ(297.7142857142857, numericXTicks(7.0)[1].logicalX);
    EXPECT_DOUBLE_EQ(862.0, numericXTicks(3.5e12)[1].logicalX);
}

TEST(NumericTicks, labels_use_axis_value_format) {
    EXPECT_EQ((std::vector<std::wstring>{L"0", L"50", L"100", L"150", L"200", L"250"}),
              labelsOf(numericXTicks(250.0)));
    EXPECT_EQ((std::vector<std::wstring>{L"0", L"3,500,000,000,000"}),
              labelsOf(numericXTicks(3.5e12)));
}

TEST(NumericTicks, degenerate_axes_stay_bounded) {
    EXPECT_TRUE(numericTickValues(-1.0).empty());
    EXPECT_TRUE(numericTickValues(std::numeric_limits<double>::infinity()).empty());
    EXPECT_TRUE(numericTickValues(std::nan("")).empty());
    // Within the 1e-9 allowance of zero: one tick, at the left edge, not 0 / 0.
    for (double xMax : {0.0, -1e-10}) {
        const std::vector<XTick> ticks = numericXTicks(xMax);
        ASSERT_EQ(1u, ticks.size());
        EXPECT_EQ(0.0, ticks[0].value);
        EXPECT_EQ(72.0, ticks[0].logicalX);
    }
}

TEST(ClockLabel, hours_and_minutes_with_days_dropped) {
    EXPECT_EQ(L"00:00", clockLabel(0.0));
    EXPECT_EQ(L"00:00", clockLabel(59.999));
    EXPECT_EQ(L"00:59", clockLabel(3599.0));
    EXPECT_EQ(L"23:59", clockLabel(86399.9));
    EXPECT_EQ(L"00:00", clockLabel(86400.0));
    EXPECT_EQ(L"01:01", clockLabel(90061.5));
}

TEST(ClockLabel, negative_and_non_finite_show_midnight) {
    EXPECT_EQ(L"00:00", clockLabel(-5.0));
    EXPECT_EQ(L"00:00", clockLabel(-1e300));
    EXPECT_EQ(L"00:00", clockLabel(std::nan("")));
    EXPECT_EQ(L"00:00", clockLabel(std::numeric_limits<double>::infinity()));
}

TEST(TimeTicks, seven_even_ticks_with_clock_labels) {
    const std::vector<XTick> ticks = timeXTicks(90.0);
    ASSERT_EQ(7u, ticks.size());
    const double expectedX[] = {72, 203.66666666666666, 335.3333333333333, 467,
                                598.6666666666667, 730.3333333333333, 862};
    for (std::size_t j = 0; j < ticks.size(); ++j) {
        EXPECT_DOUBLE_EQ(expectedX[j], ticks[j].logicalX) << j;
    }
    EXPECT_EQ(45.0, ticks[3].value);
    EXPECT_EQ((std::vector<std::wstring>{L"00:00", L"00:00", L"00:00", L"00:00", L"00:01",
                                         L"00:01", L"00:01"}),
              labelsOf(ticks));
}

TEST(TimeTicks, whole_days_drop_out) {
    EXPECT_EQ((std::vector<std::wstring>{L"00:00", L"04:10", L"08:20", L"12:30", L"16:40",
                                         L"20:50", L"01:00"}),
              labelsOf(timeXTicks(90000.0)));
}

TEST(TimeTicks, huge_axes_keep_sound_labels) {
    EXPECT_EQ((std::vector<std::wstring>{L"00:00", L"06:56", L"13:52", L"20:48", L"03:44",
                                         L"10:40", L"17:36"}),
              labelsOf(timeXTicks(1e300)));
    // j * xMax overflows here; the values stay finite, the last one is xMax.
    const double largest = std::numeric_limits<double>::max();
    const std::vector<XTick> ticks = timeXTicks(largest);
    EXPECT_EQ(largest, ticks[6].value);
    EXPECT_EQ((std::vector<std::wstring>{L"00:00", L"21:07", L"18:14", L"23:30", L"12:28",
                                         L"01:27", L"14:26"}),
              labelsOf(ticks));
}

TEST(XAxisTicks, follows_the_axis_mode) {
    ChartRequest request;
    request.xMax = 7.0;
    request.numericXAxis = 1;
    EXPECT_EQ((std::vector<std::wstring>{L"0", L"2", L"4", L"6"}), labelsOf(xAxisTicks(request)));
    request.numericXAxis = 0;
    EXPECT_EQ(7u, xAxisTicks(request).size());
}

TEST(YGridLines, six_lines_from_top_to_bottom_of_the_axis) {
    const std::vector<YGridLine> lines = yGridLines(-5000.0, 20000.0);
    ASSERT_EQ(6u, lines.size());
    const double expectedY[] = {110, 186, 262, 338, 414, 490};
    const double expectedValue[] = {20000, 15000, 10000, 5000, 0, -5000};
    const wchar_t* expectedLabel[] = {L"20,000", L"15,000", L"10,000", L"5,000", L"0", L"-5,000"};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_DOUBLE_EQ(expectedY[i], lines[i].logicalY) << i;
        EXPECT_DOUBLE_EQ(expectedValue[i], lines[i].value) << i;
        EXPECT_EQ(expectedLabel[i], lines[i].label) << i;
    }
}

TEST(ZeroLine, lies_where_zero_is_on_the_axis) {
    EXPECT_DOUBLE_EQ(338.0, *zeroLineY(-100.0, 150.0));
    EXPECT_DOUBLE_EQ(110.0, *zeroLineY(-1000.0, 0.0));
    EXPECT_DOUBLE_EQ(490.0, *zeroLineY(0.0, 100.0));
}

TEST(ZeroLine, absent_for_an_axis_without_positive_finite_height) {
    EXPECT_FALSE(zeroLineY(3.0, 3.0).has_value());
    EXPECT_FALSE(zeroLineY(5.0, 1.0).has_value());
    EXPECT_FALSE(zeroLineY(std::nan(""), 1.0).has_value());
    const double big = std::numeric_limits<double>::max();
    EXPECT_FALSE(zeroLineY(-big, big).has_value());
}

}  // namespace
}  // namespace kestrine
