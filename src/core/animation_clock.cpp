// Animation clock arithmetic: elapsed time from tick counts, quadratic
// ease-out of the reveal, linear fade-in, and the end of the run.

#include "core/animation_clock.h"

#include <cmath>

namespace kestrine {

AnimationFrame animationFrameAt(uint64_t nowTick, uint64_t startTick, double animationSeconds) {
    AnimationFrame frame;
    frame.elapsedSeconds = static_cast<double>(nowTick - startTick) / 1000.0;
    const double t = frame.elapsedSeconds;

    // An infinite or NaN duration would never end the run; a zero or negative
    // one has nothing left to reveal.
    const bool validDuration = animationSeconds > 0.0 && std::isfinite(animationSeconds);
    const double duration = validDuration ? animationSeconds : 0.0;
    const double runEnd = duration > FADE_IN_SECONDS ? duration : FADE_IN_SECONDS;

    frame.fade = t / FADE_IN_SECONDS;
    if (frame.fade > 1.0) {
        frame.fade = 1.0;
    }
    if (duration > 0.0) {
        const double d = t / duration;
        frame.progress = d > 1.0 ? 1.0 : 1.0 - (1.0 - d) * (1.0 - d);
    } else {
        frame.progress = 1.0;
    }
    frame.runOver = t >= runEnd;
    return frame;
}

int constantAlphaFromFade(double fade) {
    const double alpha = fade * 255.0;
    if (!(alpha > 0.0)) {
        return 0;
    }
    if (alpha >= 255.0) {
        return 255;
    }
    return static_cast<int>(alpha);
}

}  // namespace kestrine
