// A hook that only test programs use: what the cards read instead of the
// user's animation-effects and high-contrast settings, since Wine cannot turn
// a high-contrast theme on. The shipped DLL never sets or exports it.
#pragma once

namespace kestrine {
namespace testing {

// The two switches as a test sets them; the theme's colours still come from
// the system (GetSysColor).
struct DisplaySettingsStandIn {
    bool animationEffects = true;
    bool highContrast = false;
};

// Null (the default) reads the real settings. The pointed-to value must
// outlive every card prepared while it is set.
void setDisplaySettingsStandIn(const DisplaySettingsStandIn* standIn);

}  // namespace testing
}  // namespace kestrine
