// Tests of the DPI decision, card size, centring, where and at which size a
// new card opens, and the drag threshold.

#include "core/placement.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace kestrine {
namespace {

constexpr int32_t INT_MIN32 = std::numeric_limits<int32_t>::min();
constexpr int32_t INT_MAX32 = std::numeric_limits<int32_t>::max();

DpiQueryFacts awareFacts(uint32_t dpiX) {
    DpiQueryFacts facts;
    facts.awarenessFunctionFound = true;
    facts.awarenessResult = 0;
    facts.awareness = 2;
    facts.dpiFunctionFound = true;
    facts.dpiResult = 0;
    facts.dpiX = dpiX;
    return facts;
}

TEST(MonitorDpi, taken_when_every_test_passes) {
    EXPECT_EQ(120u, chooseMonitorDpi(awareFacts(120)).value());
    DpiQueryFacts systemAware = awareFacts(144);
    systemAware.awareness = 1;
    systemAware.awarenessResult = 1;  // S_FALSE is a success
    EXPECT_EQ(144u, chooseMonitorDpi(systemAware).value());
}

TEST(MonitorDpi, any_failing_test_leaves_no_dpi) {
    DpiQueryFacts facts = awareFacts(120);
    facts.awarenessFunctionFound = false;
    EXPECT_FALSE(chooseMonitorDpi(facts));
    facts = awareFacts(120);
    facts.awarenessResult = static_cast<int32_t>(0x80004005u);  // E_FAIL
    EXPECT_FALSE(chooseMonitorDpi(facts));
    facts = awareFacts(120);
    facts.awareness = 0;
    EXPECT_FALSE(chooseMonitorDpi(facts));
    EXPECT_FALSE(awarenessAllowsDpi(true, 0, 0));
    facts = awareFacts(120);
    facts.dpiFunctionFound = false;
    EXPECT_FALSE(chooseMonitorDpi(facts));
    facts = awareFacts(120);
    facts.dpiResult = static_cast<int32_t>(0x80070057u);  // E_INVALIDARG
    EXPECT_FALSE(chooseMonitorDpi(facts));
    EXPECT_FALSE(chooseMonitorDpi(awareFacts(0)));
    EXPECT_FALSE(chooseMonitorDpi(DpiQueryFacts{}));
}

TEST(SurfaceSize, follows_the_dpi_table) {
    struct Row {
        uint32_t dpi;
        double scale;
        int32_t width;
        int32_t height;
    };
    const Row rows[] = {
        {96, 1.0, 920, 560},   {120, 1.25, 1150, 700}, {144, 1.5, 1380, 840},
        {110, 1.1458333, 1054, 642}, {40, 0.5, 460, 280}, {48, 0.5, 460, 280},
        {384, 4.0, 3680, 2240}, {480, 4.0, 3680, 2240}, {4000000000u, 4.0, 3680, 2240},
    };
    for (const Row& row : rows) {
        const SurfaceSize size = surfaceSizeForDpi(true, row.dpi);
        EXPECT_NEAR(row.scale, size.scale, 1e-7) << row.dpi;
        EXPECT_EQ(row.width, size.width) << row.dpi;
        EXPECT_EQ(row.height, size.height) << row.dpi;
    }
}

TEST(SurfaceSize, no_dpi_keeps_the_logical_size) {
    for (const SurfaceSize& size :
         {surfaceSizeForDpi(false, 192), surfaceSizeForDpi(true, 0),
          surfaceSizeForDpi(std::optional<uint32_t>{})}) {
        EXPECT_EQ(1.0, size.scale);
        EXPECT_EQ(920, size.width);
        EXPECT_EQ(560, size.height);
    }
    EXPECT_EQ(1150, surfaceSizeForDpi(std::optional<uint32_t>{120}).width);
}

TEST(Centring, places_the_card_in_the_middle_of_the_work_area) {
    EXPECT_EQ(500, centredPosition({0, 0, 1920, 1040}, 920, 560).x);
    EXPECT_EQ(240, centredPosition({0, 0, 1920, 1040}, 920, 560).y);
    EXPECT_EQ(530, centredPosition({60, 0, 1920, 1080}, 920, 560).x);
    EXPECT_EQ(260, centredPosition({60, 0, 1920, 1080}, 920, 560).y);
}

TEST(Centring, wider_card_truncates_toward_zero) {
    EXPECT_EQ(-340, centredPosition({0, 0, 3000, 2000}, 3680, 2240).x);
    EXPECT_EQ(-120, centredPosition({0, 0, 3000, 2000}, 3680, 2240).y);
    EXPECT_EQ(-340, centredPosition({0, 0, 3000, 2000}, 3681, 2240).x);
}

TEST(Centring, extreme_coordinates_neither_overflow_nor_wrap) {
    EXPECT_EQ(-461, centredPosition({INT_MIN32, 0, INT_MAX32, 0}, 920, 0).x);
    EXPECT_EQ(INT_MIN32, centredPosition({INT_MIN32, INT_MIN32, INT_MIN32, INT_MIN32}, 3680, 2240).x);
    EXPECT_EQ(INT_MAX32, centredPosition({INT_MAX32, 0, INT_MAX32, 0}, -920, 0).x);
}

TEST(CardRect, covers_the_card_and_clamps_at_the_edge) {
    const ScreenRect rect = cardRectAt({100, -200}, 920, 560);
    EXPECT_EQ(100, rect.left);
    EXPECT_EQ(-200, rect.top);
    EXPECT_EQ(1020, rect.right);
    EXPECT_EQ(360, rect.bottom);
    EXPECT_EQ(INT_MAX32, cardRectAt({INT_MAX32 - 10, INT_MAX32}, 920, 560).right);
    EXPECT_EQ(INT_MAX32, cardRectAt({INT_MAX32 - 10, INT_MAX32}, 920, 560).bottom);
}

TEST(CardOpening, saved_position_is_used_only_while_it_overlaps_a_monitor) {
    const ScreenPoint centred{500, 240};
    const ScreenPoint saved{-800, 30};
    const SurfaceSize primary = surfaceSizeForDpi(true, 96);
    CardOpening opening = chooseCardOpening(centred, primary, saved, primary, true);
    EXPECT_EQ(-800, opening.topLeft.x);
    EXPECT_EQ(30, opening.topLeft.y);
    opening = chooseCardOpening(centred, primary, saved, std::nullopt, true);
    EXPECT_EQ(500, opening.topLeft.x);
    opening = chooseCardOpening(centred, primary, std::nullopt, primary, true);
    EXPECT_EQ(240, opening.topLeft.y);
}

TEST(CardOpening, sized_for_the_saved_monitor_unless_that_size_leaves_every_monitor) {
    const SurfaceSize primary = surfaceSizeForDpi(true, 120);
    const SurfaceSize other = surfaceSizeForDpi(true, 192);
    const ScreenPoint saved{2200, 100};
    CardOpening opening = chooseCardOpening({500, 240}, primary, saved, other, true);
    EXPECT_EQ(2200, opening.topLeft.x);
    EXPECT_EQ(2.0, opening.size.scale);
    EXPECT_EQ(1840, opening.size.width);
    opening = chooseCardOpening({500, 240}, primary, saved, other, false);
    EXPECT_EQ(500, opening.topLeft.x);
    EXPECT_EQ(1150, opening.size.width);
}

TEST(DragThreshold, strictly_beyond_the_drag_rectangle) {
    EXPECT_FALSE(dragThresholdCrossed(0, 0, 4, 4));
    EXPECT_FALSE(dragThresholdCrossed(4, 4, 4, 4));
    EXPECT_FALSE(dragThresholdCrossed(-4, -4, 4, 4));
    EXPECT_TRUE(dragThresholdCrossed(5, 0, 4, 4));
    EXPECT_TRUE(dragThresholdCrossed(0, -5, 4, 4));
    EXPECT_TRUE(dragThresholdCrossed(3, 3, 2, 10));
}

TEST(DragThreshold, most_negative_offset_counts_as_far) {
    EXPECT_TRUE(dragThresholdCrossed(INT_MIN32, 0, 4, 4));
    EXPECT_TRUE(dragThresholdCrossed(0, INT_MIN32, 4, 4));
    EXPECT_TRUE(dragThresholdCrossed(INT_MIN32, 0, INT_MAX32, INT_MAX32));
}

TEST(DragTarget, moves_by_the_pointer_offset_and_clamps) {
    const ScreenPoint target = dragWindowTarget({500, 240}, {700, 400}, {650, 430});
    EXPECT_EQ(450, target.x);
    EXPECT_EQ(270, target.y);
    EXPECT_EQ(INT_MAX32, dragWindowTarget({INT_MAX32 - 5, 0}, {0, 0}, {100, 0}).x);
    EXPECT_EQ(INT_MIN32, dragWindowTarget({0, INT_MIN32 + 5}, {0, 100}, {0, 0}).y);
}

}  // namespace
}  // namespace kestrine
