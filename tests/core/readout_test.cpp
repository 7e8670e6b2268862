// Tests of the readout's decisions: the nearest point (scan and column table),
// when seconds are shown, the number style, and where the label goes.

#include "core/readout.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <vector>

#include "core/placement.h"

namespace kestrine {
namespace {

const float NAN_F = std::numeric_limits<float>::quiet_NaN();

TEST(NearestPoint, ties_gaps_and_order) {
    // Equally near on both sides, and two points at the same x: the later one.
    const std::vector<PlotPoint> tie = {{100.f, 1.f}, {110.f, 2.f}, {110.f, 3.f}, {120.f, 4.f}};
    EXPECT_EQ(2u, nearestDrawnPoint(tie, 110.0));
    EXPECT_EQ(2u, nearestDrawnPoint(tie, 105.0));  // 100 and 110 equally near
    EXPECT_EQ(3u, nearestDrawnPoint(tie, 115.0));
    // A skipped point is never the answer; the gap goes to its neighbours.
    const std::vector<PlotPoint> gap = {{100.f, 1.f}, {NAN_F, NAN_F}, {300.f, 2.f}};
    EXPECT_EQ(0u, nearestDrawnPoint(gap, 199.0));
    EXPECT_EQ(2u, nearestDrawnPoint(gap, 201.0));
    // x out of order.
    const std::vector<PlotPoint> shuffled = {{500.f, 1.f}, {100.f, 2.f}, {300.f, 3.f}};
    EXPECT_EQ(1u, nearestDrawnPoint(shuffled, 150.0));
    EXPECT_EQ(2u, nearestDrawnPoint(shuffled, 350.0));
    EXPECT_EQ(0u, nearestDrawnPoint(shuffled, 900.0));
    EXPECT_EQ(NO_POINT, nearestDrawnPoint({{NAN_F, NAN_F}}, 100.0));
    // By a data value, as a script asks: the same rules on the x values.
    ChartRequest request;
    request.plotPoints = shuffled;
    request.xValues = {50.0, 10.0, 30.0};
    EXPECT_EQ(2u, nearestPointToValue(request, 35.0));
    EXPECT_EQ(2u, nearestPointToValue(request, 20.0));  // 10 and 30 equally near
    request.plotPoints[2] = PlotPoint{NAN_F, NAN_F};
    EXPECT_EQ(1u, nearestPointToValue(request, 20.0));
    EXPECT_EQ(NO_POINT, NearestPointTable::build({{NAN_F, NAN_F}}, 1.0, 920).at(100));
}

TEST(NearestPoint, column_table_gives_the_scan_for_every_column) {
    std::mt19937 random(20261208);
    for (const double scale : {0.5, 1.0, 1.25, 2.0, 4.0}) {
        const int32_t columns = static_cast<int32_t>(920 * scale + 0.5);
        for (int series = 0; series < 12; ++series) {
            std::vector<PlotPoint> points;
            const int count = 1 + static_cast<int>(random() % 400);
            std::uniform_real_distribution<float> anywhere(-50.f, 980.f);
            for (int i = 0; i < count; ++i) {
                switch (random() % 6) {
                case 0:  // skipped
                    points.push_back({NAN_F, NAN_F});
                    break;
                case 1:  // exactly on a column centre
                    points.push_back({static_cast<float>(columnCentre(
                                          static_cast<int32_t>(random() % columns), scale)),
                                      1.f});
                    break;
                case 2:  // a repeat of an earlier x
                    points.push_back({points.empty() ? 72.f : points[random() % points.size()].x,
                                      2.f});
                    break;
                default:
                    points.push_back({anywhere(random), 3.f});
                }
            }
            const NearestPointTable table = NearestPointTable::build(points, scale, columns);
            for (int32_t c = 0; c < columns; ++c) {
                ASSERT_EQ(nearestDrawnPoint(points, columnCentre(c, scale)), table.at(c))
                    << "scale " << scale << " series " << series << " column " << c;
            }
            EXPECT_EQ(NO_POINT, table.at(-1));
            EXPECT_EQ(NO_POINT, table.at(columns));
        }
    }
}

TEST(ReadoutText, seconds_only_when_points_are_less_than_a_minute_apart) {
    ChartRequest request;
    request.plotPoints.assign(3, PlotPoint{100.f, 100.f});
    request.xValues = {36000, 36060, 36120};
    EXPECT_FALSE(readoutShowsSeconds(request));
    request.xValues = {36000, 36000, 36060};  // the same second twice
    EXPECT_FALSE(readoutShowsSeconds(request));
    request.xValues = {36000, 36060, 36090};
    EXPECT_TRUE(readoutShowsSeconds(request));
    request.plotPoints[2] = PlotPoint{NAN_F, NAN_F};  // the close one is not drawn
    EXPECT_FALSE(readoutShowsSeconds(request));
    request.plotPoints[2] = PlotPoint{100.f, 100.f};
    request.numericXAxis = 1;
    EXPECT_FALSE(readoutShowsSeconds(request));
}

TEST(ReadoutText, number_style_and_labels) {
    EXPECT_EQ(L"12,345.7", formatReadoutNumber(12345.678));
    EXPECT_EQ(L"1,234,568", formatReadoutNumber(1234567.8));
    EXPECT_EQ(L"-0.001235", formatReadoutNumber(-0.0012346));
    EXPECT_EQ(L"-12,500", formatReadoutNumber(-12500.0));
    EXPECT_EQ(L"1.5", formatReadoutNumber(1.5));
    EXPECT_EQ(L"0", formatReadoutNumber(0.0));
    EXPECT_EQ(L"100,000", formatReadoutNumber(99999.99));
    EXPECT_EQ(L"inf", formatReadoutNumber(std::numeric_limits<double>::infinity()));

    ChartRequest request;
    request.xValues = {40800.0, 40835.0};  // 11:20:00, 11:20:35
    request.yValues = {-1234.5, 7.0};
    EXPECT_EQ(L"11:20  -1,234.5", readoutLabel(request, 0, false));
    EXPECT_EQ(L"11:20:35  7", readoutLabel(request, 1, true));
    request.numericXAxis = 1;
    EXPECT_EQ(L"40,835  7", readoutLabel(request, 1, true));
    EXPECT_EQ(L"", readoutLabel(request, 2, false));
}

TEST(ReadoutPlace, beside_the_point_and_wholly_inside_the_card) {
    const double w = 100.0;
    const double h = 16.0;
    const double boxW = w + 2 * READOUT_LABEL_PAD_X;
    const double boxH = h + 2 * READOUT_LABEL_PAD_Y;
    // Middle of the plot: up and to the right.
    LogicalRect box = placeReadoutLabel({400.f, 300.f}, w, h);
    EXPECT_DOUBLE_EQ(400.0 + READOUT_LABEL_GAP, box.left);
    EXPECT_DOUBLE_EQ(300.0 - READOUT_LABEL_GAP - boxH, box.top);
    // Near the right edge: to the left; near the top: below.
    box = placeReadoutLabel({850.f, 30.f}, w, h);
    EXPECT_DOUBLE_EQ(850.0 - READOUT_LABEL_GAP - boxW, box.left);
    EXPECT_DOUBLE_EQ(30.0 + READOUT_LABEL_GAP, box.top);
    // Too wide for either side, and a point below the card: pushed in.
    for (const PlotPoint p : {PlotPoint{72.f, 110.f}, PlotPoint{862.f, 490.f},
                              PlotPoint{460.f, 700.f}, PlotPoint{-20.f, -30.f}}) {
        for (const double width : {w, 700.0, 2000.0}) {
            box = placeReadoutLabel(p, width, h);
            EXPECT_GE(box.left, READOUT_CARD_MARGIN);
            EXPECT_GE(box.top, READOUT_CARD_MARGIN);
            if (width < CARD_LOGICAL_WIDTH - 2 * READOUT_CARD_MARGIN) {
                EXPECT_LE(box.right, CARD_LOGICAL_WIDTH - READOUT_CARD_MARGIN);
            }
            EXPECT_LE(box.bottom, CARD_LOGICAL_HEIGHT - READOUT_CARD_MARGIN);
        }
    }
    EXPECT_TRUE(insidePlotArea(72.0, 110.0));
    EXPECT_FALSE(insidePlotArea(71.9, 300.0));
    EXPECT_FALSE(insidePlotArea(400.0, 490.0));
}

}  // namespace
}  // namespace kestrine
