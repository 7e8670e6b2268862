// The card's animation clock: from the tick count at the start of a run to the
// eased reveal, the fade-in and whether the run is over; and the window's
// constant alpha from the fade. Pure, so every tick's numbers can be tested.
#pragma once

#include <cstdint>

namespace kestrine {

// Time over which the card fades in; also the shortest run of the animation.
constexpr double FADE_IN_SECONDS = 0.35;

struct AnimationFrame {
    double elapsedSeconds = 0.0;  // never negative
    double fade = 0.0;            // 0..1, opacity of the window
    double progress = 0.0;        // 0..1, share of the curve revealed (eased)
    bool runOver = false;         // stop the timer and draw the resting frame
};

// nowTick and startTick are millisecond tick counts (GetTickCount64). Their
// difference is taken unsigned, so a start tick "in the future" reads as a
// very long elapsed time and ends the run rather than running backwards.
// An animationSeconds that is not a positive finite number is treated as a
// run of length 0: the whole curve at once, ending when the fade-in does.
AnimationFrame animationFrameAt(uint64_t nowTick, uint64_t startTick, double animationSeconds);

// The layered window's SourceConstantAlpha for a fade: fade * 255, clamped to
// 0..255 and truncated toward zero (0.5 gives 127); NaN gives 0.
int constantAlphaFromFade(double fade);

}  // namespace kestrine
