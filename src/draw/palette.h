// The card's fixed colours, as ARGB (alpha in the top byte). The accent colour
// is not here: it comes with each request.
#pragma once

#include <cstdint>

namespace kestrine {

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

}  // namespace kestrine
