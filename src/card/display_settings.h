// The user's Windows display settings that change how a card looks and moves:
// animation effects and a high-contrast theme, read when a card takes a record.
#pragma once

#include "core/chart_request.h"

namespace kestrine {

// Animation effects (SPI_GETCLIENTAREAANIMATION), the high-contrast theme
// (SPI_GETHIGHCONTRAST) and, while the theme is on, its system colours. A
// setting the system cannot report counts as the default: effects on, no
// theme.
DisplaySettings readDisplaySettings();

// The system colours a high-contrast theme sets (GetSysColor).
SystemColours readSystemColours();

}  // namespace kestrine
