// The colours a card is drawn in: its own dark palette with the caller's
// accent, or, while the user has a high-contrast theme on, the theme's system
// colours, opaque and without the glow.
#pragma once

#include <cstdint>

#include "core/chart_request.h"

namespace kestrine {

// The card's own dark palette, straight ARGB (alpha in the top byte). The
// accent colour is not here: it comes with each request.
constexpr uint32_t CARD_FILL_COLOR = 0xF21B2027u;       // slightly translucent card
constexpr uint32_t TITLE_TEXT_COLOR = 0xFFFFFFFFu;      // titleText
constexpr uint32_t SECONDARY_TEXT_COLOR = 0xFFAAB2BDu;  // subtitleText and noteText
constexpr uint32_t AXIS_LABEL_COLOR = 0xFF89939Eu;      // y and x axis labels
constexpr uint32_t GRID_LINE_COLOR = 0xFF34404Cu;       // the six horizontal grid lines
constexpr uint32_t TICK_LINE_COLOR = 0xFF2A343Eu;       // vertical x-axis ticks
constexpr uint32_t ZERO_LINE_COLOR = 0xFF8A949Eu;       // dashed zero line
constexpr uint32_t HINT_TEXT_COLOR = 0xFF68727Du;       // hint line at the bottom
constexpr uint32_t READOUT_GUIDE_COLOR = 0xB3AAB2BDu;   // the guide under the pointer
constexpr uint32_t READOUT_LABEL_FILL = 0xF52A323Cu;    // the readout label's box
constexpr uint32_t READOUT_LABEL_EDGE = 0xFF465361u;    // and its outline

// The colours of one card, straight ARGB.
struct CardPalette {
    uint32_t cardFill = 0;
    uint32_t titleText = 0;
    uint32_t secondaryText = 0;  // subtitle and note
    uint32_t axisLabel = 0;      // y and x axis labels
    uint32_t gridLine = 0;
    uint32_t tickLine = 0;
    uint32_t zeroLine = 0;
    uint32_t hintText = 0;
    uint32_t valueText = 0;
    uint32_t curve = 0;
    uint32_t marker = 0;         // the head marker's dot, and its glow when drawn
    uint32_t border = 0;
    bool glow = true;
    uint32_t readoutGuide = 0;
    uint32_t readoutDot = 0;
    uint32_t readoutRing = 0;
    uint32_t readoutLabelFill = 0;
    uint32_t readoutLabelEdge = 0;
    uint32_t readoutLabelText = 0;

    bool operator==(const CardPalette& other) const;
    bool operator!=(const CardPalette& other) const { return !(*this == other); }
};

// The card's own colours: the fixed dark palette, the accent for the value,
// the curve, the marker and the border.
CardPalette defaultPalette(uint32_t accentColor);

// A high-contrast theme's colours: background and text of a window for the
// card and everything written or ruled on it, the highlight for the curve and
// the head marker, grey text for the hint. Every colour opaque, no glow. A
// colour the theme sets too close to the background to be seen is replaced by
// the text colour, and a text colour too close to the background by black or
// white, so that nothing the card draws vanishes.
CardPalette highContrastPalette(const SystemColours& colours);

// The palette of the record as its card last took it.
CardPalette cardPalette(const ChartRequest& request);

// A Windows COLORREF (0x00BBGGRR) as opaque ARGB.
uint32_t opaqueFromColorref(uint32_t colorref);

}  // namespace kestrine
