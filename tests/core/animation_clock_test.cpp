// Tests of the animation clock: elapsed time, fade-in, eased progress, the end
// of the run, tick wraparound, and the constant alpha of a fade.

#include "core/animation_clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kestrine {
namespace {

constexpr double TOLERANCE = 1e-6;
constexpr uint64_t START = 5000000;

struct Row {
    double animationSeconds;
    uint64_t elapsedMs;
    double fade;
    double progress;
    bool runOver;
};

TEST(AnimationClock, follows_the_table_of_values) {
    const Row rows[] = {
        {2.0, 175, 0.5, 0.167344, false},      {2.0, 350, 1.0, 0.319375, false},
        {2.0, 1000, 1.0, 0.75, false},         {2.0, 1500, 1.0, 0.9375, false},
        {2.0, 1999, 1.0, 0.99999975, false},   {2.0, 2000, 1.0, 1.0, true},
        {2.0, 2500, 1.0, 1.0, true},           {0.3, 100, 0.285714, 0.555556, false},
        {0.3, 300, 0.857143, 1.0, false},      {0.3, 349, 0.997143, 1.0, false},
        {0.3, 350, 1.0, 1.0, true},            {0.3, 900, 1.0, 1.0, true},
    };
    for (const Row& row : rows) {
        const AnimationFrame frame =
            animationFrameAt(START + row.elapsedMs, START, row.animationSeconds);
        SCOPED_TRACE(::testing::Message() << "A " << row.animationSeconds << ", "
                                          << row.elapsedMs << " ms");
        EXPECT_NEAR(row.elapsedMs / 1000.0, frame.elapsedSeconds, TOLERANCE);
        EXPECT_NEAR(row.fade, frame.fade, TOLERANCE);
        EXPECT_NEAR(row.progress, frame.progress, TOLERANCE);
        EXPECT_EQ(row.runOver, frame.runOver);
    }
}

TEST(AnimationClock, starts_invisible_with_nothing_revealed) {
    const AnimationFrame frame = animationFrameAt(START, START, 1.5);
    EXPECT_EQ(0.0, frame.elapsedSeconds);
    EXPECT_EQ(0.0, frame.fade);
    EXPECT_EQ(0.0, frame.progress);
    EXPECT_FALSE(frame.runOver);
}

TEST(AnimationClock, tick_wraparound_reads_as_a_long_time_not_a_negative_one) {
    const AnimationFrame frame = animationFrameAt(5, 10, 2.0);
    EXPECT_DOUBLE_EQ(1.8446744073709552e16, frame.elapsedSeconds);
    EXPECT_EQ(1.0, frame.fade);
    EXPECT_EQ(1.0, frame.progress);
    EXPECT_TRUE(frame.runOver);
}

TEST(AnimationClock, unusable_duration_reveals_all_and_ends_with_the_fade) {
    for (double duration : {0.0, -1.0, std::nan(""), std::numeric_limits<double>::infinity()}) {
        SCOPED_TRACE(duration);
        const AnimationFrame early = animationFrameAt(START + 100, START, duration);
        EXPECT_EQ(1.0, early.progress);
        EXPECT_FALSE(early.runOver);
        EXPECT_TRUE(animationFrameAt(START + 350, START, duration).runOver);
    }
}

TEST(ConstantAlpha, scales_clamps_and_truncates) {
    EXPECT_EQ(127, constantAlphaFromFade(0.5));
    EXPECT_EQ(0, constantAlphaFromFade(0.0));
    EXPECT_EQ(255, constantAlphaFromFade(1.0));
    EXPECT_EQ(254, constantAlphaFromFade(0.999));
    EXPECT_EQ(0, constantAlphaFromFade(-0.5));
    EXPECT_EQ(255, constantAlphaFromFade(1.5));
}

TEST(ConstantAlpha, non_finite_fades_are_clamped) {
    EXPECT_EQ(0, constantAlphaFromFade(std::nan("")));
    EXPECT_EQ(255, constantAlphaFromFade(std::numeric_limits<double>::infinity()));
    EXPECT_EQ(0, constantAlphaFromFade(-std::numeric_limits<double>::infinity()));
}

}  // namespace
}  // namespace kestrine
