// Tests of the straight-alpha conversions a PNG of the card goes through.
#include "straight_alpha.h"

#include <gtest/gtest.h>

namespace kestrine {
namespace {

TEST(straight_alpha, converts_literal_pixels_both_ways) {
    EXPECT_EQ(straightFromPremultiplied(0x80402010u), 0x80804020u);
    EXPECT_EQ(premultipliedFromStraight(0x80804020u), 0x80402010u);
    EXPECT_EQ(straightFromPremultiplied(0xFF123456u), 0xFF123456u);
    EXPECT_EQ(straightFromPremultiplied(0x00000000u), 0x00000000u);
    EXPECT_EQ(straightFromPremultiplied(0x01010000u), 0x01FF0000u);
    EXPECT_EQ(premultipliedFromStraight(0x00FFFFFFu), 0x00000000u);
}

TEST(straight_alpha, gives_back_every_premultiplied_pixel_exactly) {
    for (uint32_t alpha = 0; alpha < 256; ++alpha) {
        for (uint32_t c = 0; c <= alpha; ++c) {
            const uint32_t pixel = (alpha << 24) | (c << 16) | ((alpha - c) << 8) | (c / 2);
            ASSERT_EQ(premultipliedFromStraight(straightFromPremultiplied(pixel)), pixel)
                << "alpha " << alpha << " channel " << c;
        }
    }
}

}  // namespace
}  // namespace kestrine
