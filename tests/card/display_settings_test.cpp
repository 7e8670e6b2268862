// The user's display settings as a card takes them: animation effects turned
// off and on in Wine around cards and an update, and a high-contrast theme,
// which Wine cannot turn on, reported through the stand-in.

#include "card/display_settings.h"

#include <gtest/gtest.h>

#include <vector>

#include "card/display_seams.h"
#include "card/hand_over.h"
#include "card/window_proc.h"
#include "card_test_support.h"
#include "draw/frame_layer_seams.h"
#include "draw/test_seams.h"
#include "kestrine.h"

namespace kestrine {
namespace {

using test::closeCardHere;
using test::newRequest;
using test::openCardHere;
using test::pumpFor;

// Sets animation effects for this Wine session (not written to the prefix)
// and puts back what was set before when it goes.
class AnimationEffects {
public:
    explicit AnimationEffects(bool on) {
        SystemParametersInfoW(SPI_GETCLIENTAREAANIMATION, 0, &before_, 0);
        set(on);
    }
    ~AnimationEffects() { set(before_ != FALSE); }
    static void set(bool on) {
        SystemParametersInfoW(SPI_SETCLIENTAREAANIMATION, 0,
                              reinterpret_cast<void*>(static_cast<uintptr_t>(on ? TRUE : FALSE)),
                              0);
    }

private:
    BOOL before_ = TRUE;
};

// No fade and no growing curve: every frame is the finished chart. (A card
// may present its resting frame twice, as the readout or a retry redraws it.)
void expectOnlyTheRestingFrame(const std::vector<test::Frame>& seen, double seconds) {
    ASSERT_FALSE(seen.empty());
    for (const test::Frame& frame : seen) {
        EXPECT_EQ(frame.progress, 1.0);
        EXPECT_EQ(frame.elapsedSeconds, seconds);
        EXPECT_EQ(frame.fade, 1.0);
    }
}

TEST(DisplaySettings, effects_off_show_the_finished_chart_and_on_again_the_update_animates) {
    const AnimationEffects off(false);
    ASSERT_FALSE(readDisplaySettings().animationEffects) << "Wine did not keep the setting";
    test::clearFrames();
    HWND card = openCardHere(newRequest(true, 30, 3.0));
    ASSERT_NE(card, nullptr);
    pumpFor(300);
    expectOnlyTheRestingFrame(test::frames(), 3.0);
    EXPECT_FALSE(KillTimer(card, ANIMATION_TIMER));
    EXPECT_TRUE(KillTimer(card, AUTOCLOSE_TIMER));  // auto-close runs as ever
    SetTimer(card, AUTOCLOSE_TIMER, 30000, nullptr);

    // Turned on while the card shows: the next update animates.
    AnimationEffects::set(true);
    test::clearFrames();
    ASSERT_EQ(test::updateCardHere(card, newRequest(true, 30, 3.0)), KESTRINE_OK);
    pumpFor(100);
    ASSERT_GE(test::frames().size(), 2u);
    EXPECT_EQ(test::frames()[0].fade, 0.0);
    EXPECT_LT(test::frames().back().progress, 1.0);

    // And off again: the next update is still at once.
    AnimationEffects::set(false);
    test::clearFrames();
    ASSERT_EQ(test::updateCardHere(card, newRequest(true, 30, 3.0)), KESTRINE_OK);
    pumpFor(200);
    expectOnlyTheRestingFrame(test::frames(), 3.0);
    closeCardHere(card);
}

// The surface behind the last frame a card presented.
test::Surface lastSurface;
BOOL WINAPI keepSurface(HWND window, const UPDATELAYEREDWINDOWINFO* info) {
    lastSurface = test::surfaceBehind(info->hdcSrc);
    return UpdateLayeredWindowIndirect(window, info);
}
BOOL WINAPI keepPlainSurface(HWND window, HDC screen, POINT* at, SIZE* size, HDC source,
                             POINT* from, COLORREF key, BLENDFUNCTION* blend, DWORD flags) {
    lastSurface = test::surfaceBehind(source);
    return UpdateLayeredWindow(window, screen, at, size, source, from, key, blend, flags);
}

uint32_t opaque(COLORREF colour) {
    return 0xFF000000u | (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
}

TEST(DisplaySettings, stand_in_reports_high_contrast_and_effects_off) {
    testing::DisplaySettingsStandIn settings;
    settings.animationEffects = false;
    settings.highContrast = true;
    testing::setDisplaySettingsStandIn(&settings);
    testing::setLayeredPresentHook(&keepSurface);
    testing::setUpdateLayeredWindowHook(&keepPlainSurface);
    lastSurface = test::Surface();
    test::clearFrames();
    HWND card = openCardHere(newRequest(true, 0, 2.0));
    ASSERT_NE(card, nullptr);
    pumpFor(200);
    const ChartRequest* shown = test::attached(card);
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->display.highContrast);
    EXPECT_EQ(shown->display.colours.highlight, GetSysColor(COLOR_HIGHLIGHT));
    EXPECT_EQ(shown->display.colours.grayText, GetSysColor(COLOR_GRAYTEXT));
    closeCardHere(card);
    testing::setLayeredPresentHook(nullptr);
    testing::setUpdateLayeredWindowHook(nullptr);
    testing::setDisplaySettingsStandIn(nullptr);

    expectOnlyTheRestingFrame(test::frames(), 2.0);
    // Between the header and the plot: the theme's window colour, opaque.
    ASSERT_EQ(lastSurface.width, 920);
    EXPECT_EQ(lastSurface.pixels[100 * 920 + 460], opaque(GetSysColor(COLOR_WINDOW)));
    EXPECT_FALSE(readDisplaySettings().highContrast);  // the real setting again
}

}  // namespace
}  // namespace kestrine
