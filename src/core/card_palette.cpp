// The card's palettes. The dark one is fixed; the high-contrast one follows
// the theme but never lets a line or a text take the background's colour.

#include "core/card_palette.h"

#include <cstdlib>
#include <initializer_list>

namespace kestrine {

namespace {

// Two colours are told apart when some channel differs by at least this much;
// closer than that, a thin line or small text on the one is lost in the other.
constexpr int MIN_CHANNEL_DIFFERENCE = 64;

int channel(uint32_t argb, int shift) { return static_cast<int>((argb >> shift) & 0xFFu); }

bool distinguishable(uint32_t a, uint32_t b) {
    for (int shift : {0, 8, 16}) {
        if (std::abs(channel(a, shift) - channel(b, shift)) >= MIN_CHANNEL_DIFFERENCE) {
            return true;
        }
    }
    return false;
}

// Black on a light background, white on a dark one (Rec. 601 luma).
uint32_t contrastingTo(uint32_t background) {
    const int luma =
        (299 * channel(background, 16) + 587 * channel(background, 8) + 114 * channel(background, 0)) /
        1000;
    return luma >= 128 ? 0xFF000000u : 0xFFFFFFFFu;
}

}  // namespace

bool CardPalette::operator==(const CardPalette& o) const {
    return cardFill == o.cardFill && titleText == o.titleText &&
           secondaryText == o.secondaryText && axisLabel == o.axisLabel &&
           gridLine == o.gridLine && tickLine == o.tickLine && zeroLine == o.zeroLine &&
           hintText == o.hintText && valueText == o.valueText && curve == o.curve &&
           marker == o.marker && border == o.border && glow == o.glow &&
           readoutGuide == o.readoutGuide && readoutDot == o.readoutDot &&
           readoutRing == o.readoutRing && readoutLabelFill == o.readoutLabelFill &&
           readoutLabelEdge == o.readoutLabelEdge && readoutLabelText == o.readoutLabelText;
}

uint32_t opaqueFromColorref(uint32_t colorref) {
    return 0xFF000000u | ((colorref & 0xFFu) << 16) | (colorref & 0xFF00u) |
           ((colorref >> 16) & 0xFFu);
}

CardPalette defaultPalette(uint32_t accentColor) {
    CardPalette p;
    p.cardFill = CARD_FILL_COLOR;
    p.titleText = TITLE_TEXT_COLOR;
    p.secondaryText = SECONDARY_TEXT_COLOR;
    p.axisLabel = AXIS_LABEL_COLOR;
    p.gridLine = GRID_LINE_COLOR;
    p.tickLine = TICK_LINE_COLOR;
    p.zeroLine = ZERO_LINE_COLOR;
    p.hintText = HINT_TEXT_COLOR;
    p.valueText = accentColor;
    p.curve = accentColor;
    p.marker = accentColor;
    p.border = accentColor;
    p.glow = true;
    p.readoutGuide = READOUT_GUIDE_COLOR;
    p.readoutDot = accentColor;
    p.readoutRing = TITLE_TEXT_COLOR;
    p.readoutLabelFill = READOUT_LABEL_FILL;
    p.readoutLabelEdge = READOUT_LABEL_EDGE;
    p.readoutLabelText = TITLE_TEXT_COLOR;
    return p;
}

CardPalette highContrastPalette(const SystemColours& colours) {
    const uint32_t background = opaqueFromColorref(colours.window);
    uint32_t text = opaqueFromColorref(colours.windowText);
    if (!distinguishable(text, background)) {
        text = contrastingTo(background);
    }
    const auto seenOr = [&](uint32_t colorref) {
        const uint32_t colour = opaqueFromColorref(colorref);
        return distinguishable(colour, background) ? colour : text;
    };
    const uint32_t highlight = seenOr(colours.highlight);
    CardPalette p;
    p.cardFill = background;
    p.titleText = text;
    p.secondaryText = text;
    p.axisLabel = text;
    p.gridLine = text;
    p.tickLine = text;
    p.zeroLine = text;
    p.hintText = seenOr(colours.grayText);
    p.valueText = text;
    p.curve = highlight;
    p.marker = highlight;
    p.border = text;
    p.glow = false;
    p.readoutGuide = text;
    p.readoutDot = highlight;
    p.readoutRing = text;
    p.readoutLabelFill = background;
    p.readoutLabelEdge = text;
    p.readoutLabelText = text;
    return p;
}

CardPalette cardPalette(const ChartRequest& request) {
    return request.display.highContrast ? highContrastPalette(request.display.colours)
                                        : defaultPalette(request.accentColor);
}

}  // namespace kestrine
