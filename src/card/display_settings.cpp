// Reading the display settings through SystemParametersInfoW and GetSysColor;
// nothing is kept, so a change takes effect with the next card or update.

#include "card/display_settings.h"

#include <windows.h>

#include <atomic>

#include "card/display_seams.h"

namespace kestrine {

namespace {

std::atomic<const testing::DisplaySettingsStandIn*> standIn{nullptr};

uint32_t systemColour(int index) { return static_cast<uint32_t>(GetSysColor(index)); }

}  // namespace

DisplaySettings readDisplaySettings() {
    DisplaySettings settings;
    if (const testing::DisplaySettingsStandIn* given = standIn.load()) {
        settings.animationEffects = given->animationEffects;
        settings.highContrast = given->highContrast;
    } else {
        BOOL effects = TRUE;
        if (SystemParametersInfoW(SPI_GETCLIENTAREAANIMATION, 0, &effects, 0)) {
            settings.animationEffects = effects != FALSE;
        }
        HIGHCONTRASTW contrast = {};
        contrast.cbSize = sizeof(contrast);
        if (SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0)) {
            settings.highContrast = (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
        }
    }
    if (settings.highContrast) {
        settings.colours = readSystemColours();
    }
    return settings;
}

SystemColours readSystemColours() {
    SystemColours colours;
    colours.window = systemColour(COLOR_WINDOW);
    colours.windowText = systemColour(COLOR_WINDOWTEXT);
    colours.highlight = systemColour(COLOR_HIGHLIGHT);
    colours.grayText = systemColour(COLOR_GRAYTEXT);
    return colours;
}

namespace testing {

void setDisplaySettingsStandIn(const DisplaySettingsStandIn* given) { standIn.store(given); }

}  // namespace testing

}  // namespace kestrine
