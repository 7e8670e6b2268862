// Tests of the card's palettes: the dark one with the caller's accent, and the
// high-contrast one from a theme's system colours, which never lets a line or
// a text take the background's colour.

#include "core/card_palette.h"

#include <gtest/gtest.h>

namespace kestrine {
namespace {

// Windows' "High Contrast Black" and "High Contrast White" themes (COLORREF).
SystemColours highContrastBlack() {
    SystemColours c;
    c.window = 0x00000000u;
    c.windowText = 0x00FFFFFFu;
    c.highlight = 0x00FFEB1Au;
    c.grayText = 0x003FF23Fu;
    return c;
}

TEST(CardPalette, high_contrast_takes_the_theme_colours_opaque_without_glow) {
    const CardPalette p = highContrastPalette(highContrastBlack());
    EXPECT_EQ(p.cardFill, 0xFF000000u);
    for (uint32_t text : {p.titleText, p.secondaryText, p.axisLabel, p.valueText, p.gridLine,
                          p.tickLine, p.zeroLine, p.border, p.readoutLabelText}) {
        EXPECT_EQ(text, 0xFFFFFFFFu);
    }
    EXPECT_EQ(p.curve, 0xFF1AEBFFu);  // COLORREF 0x00BBGGRR becomes 0xFFRRGGBB
    EXPECT_EQ(p.marker, 0xFF1AEBFFu);
    EXPECT_EQ(p.readoutDot, 0xFF1AEBFFu);
    EXPECT_EQ(p.hintText, 0xFF3FF23Fu);
    EXPECT_EQ(p.readoutLabelFill, 0xFF000000u);
    EXPECT_FALSE(p.glow);
}

TEST(CardPalette, colours_lost_in_the_background_fall_back_to_text) {
    SystemColours c = highContrastBlack();
    c.highlight = 0x00101010u;  // no channel 64 away from black
    c.grayText = 0x00000000u;
    const CardPalette p = highContrastPalette(c);
    EXPECT_EQ(p.curve, 0xFFFFFFFFu);
    EXPECT_EQ(p.hintText, 0xFFFFFFFFu);
    // One channel far enough away is enough.
    c.highlight = 0x00000040u;
    EXPECT_EQ(highContrastPalette(c).curve, 0xFF400000u);
}

TEST(CardPalette, text_lost_in_the_background_becomes_black_or_white) {
    SystemColours light;
    light.window = 0x00F0F0F0u;
    light.windowText = 0x00E0E0E0u;
    light.highlight = 0x00F0F0F0u;
    EXPECT_EQ(highContrastPalette(light).titleText, 0xFF000000u);
    EXPECT_EQ(highContrastPalette(light).curve, 0xFF000000u);
    SystemColours dark;
    dark.window = 0x00200000u;  // dark blue
    dark.windowText = 0x00300000u;
    EXPECT_EQ(highContrastPalette(dark).titleText, 0xFFFFFFFFu);
}

TEST(CardPalette, record_palette_follows_its_display_settings) {
    ChartRequest request;
    request.accentColor = 0xFF112233u;
    EXPECT_EQ(cardPalette(request), defaultPalette(0xFF112233u));
    request.display.highContrast = true;
    request.display.colours = highContrastBlack();
    EXPECT_EQ(cardPalette(request), highContrastPalette(highContrastBlack()));
    EXPECT_NE(cardPalette(request).curve, 0xFF112233u);
}

TEST(CardPalette, animation_needs_the_call_and_the_effects) {
    ChartRequest request;
    request.animate = true;
    EXPECT_TRUE(animatesOnCard(request));
    request.display.animationEffects = false;
    EXPECT_FALSE(animatesOnCard(request));
    request.animate = false;
    request.display.animationEffects = true;
    EXPECT_FALSE(animatesOnCard(request));
}

}  // namespace
}  // namespace kestrine
