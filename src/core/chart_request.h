// Core, the bottom layer (portable; draw, card and dll build on it).
// The one record that carries a chart from a ShowKestrine call to its card
// window and then holds that window's whole live state. Portable: no Windows
// headers, so the core and its tests can use it natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrine {

// Same layout as GDI+'s PointF; the Windows layer static_asserts this.
struct PlotPoint {
    float x = 0.0f;
    float y = 0.0f;
};

// Same layout as the Windows POINT; the Windows layer static_asserts this.
struct ScreenPoint {
    int32_t x = 0;
    int32_t y = 0;
};

constexpr std::size_t NO_POINT = static_cast<std::size_t>(-1);

// Which point a card's readout shows (NO_POINT: none), and whether its time
// is written with seconds.
struct ReadoutPick {
    std::size_t index = NO_POINT;
    bool withSeconds = false;
    bool shown() const { return index != NO_POINT; }
    bool operator==(const ReadoutPick& other) const {
        return index == other.index && withSeconds == other.withSeconds;
    }
    bool operator!=(const ReadoutPick& other) const { return !(*this == other); }
};

// Default accent colours (ARGB) used when the caller's COLORREF is out of range.
constexpr uint32_t DEFAULT_POSITIVE_COLOR = 0xFF38D996u;
constexpr uint32_t DEFAULT_NEGATIVE_COLOR = 0xFFFF5A67u;

// A plot point whose data x or y is not finite is stored with both coordinates
// NaN: the scale ignores such points and the renderer skips them, joining the
// finite points on either side. Test with isSkippedPlotPoint.
inline bool isSkippedPlotPoint(const PlotPoint& p) {
    return p.x != p.x || p.y != p.y;
}

// The user's Windows display settings, as a card read them when it took the
// record: whether animation effects are on, whether a high-contrast theme is,
// and that theme's system colours (COLORREF, 0x00BBGGRR; read only while it is
// on). The defaults are a desktop with effects on and no theme.
struct SystemColours {
    uint32_t window = 0x00FFFFFFu;      // window background
    uint32_t windowText = 0x00000000u;  // text on it
    uint32_t highlight = 0x00D77800u;   // selection background
    uint32_t grayText = 0x006D6D6Du;    // text that is there but not in use
};

struct DisplaySettings {
    bool animationEffects = true;
    bool highContrast = false;
    SystemColours colours;
};

struct ChartRequest {
    // The request proper, filled by buildChartRequest.
    std::vector<double> xValues;
    std::vector<double> yValues;
    std::wstring titleText;
    std::wstring subtitleText;
    std::wstring valueText;
    std::wstring noteText;
    uint32_t accentColor = DEFAULT_POSITIVE_COLOR;
    int32_t numericXAxis = 0;
    int32_t autoCloseSeconds = 30;
    bool animate = true;
    double animationSeconds = 1.5;

    // Computed by computeChartScale each time a window takes the record on.
    double xMax = 1.0;
    double yAxisMin = 0.0;
    double yAxisMax = 0.0;
    std::vector<PlotPoint> plotPoints;

    // The owning window's live state.
    DisplaySettings display;
    // The card that holds it, as the hand-over numbers cards.
    uint64_t cardId = 0;
    double dpiScale = 1.0;
    uint64_t animationStartTick = 0;
    bool destroyed = false;
    int32_t surfaceWidth = 0;
    int32_t surfaceHeight = 0;
    bool dragPressed = false;
    bool dragMoved = false;
    // Set only while the card's own move call runs, and whether the capture
    // went to no window during it.
    bool dragInOwnMove = false;
    bool captureLostInOwnMove = false;
    ScreenPoint dragCursorStart;
    ScreenPoint dragWindowStart;
    // The readout: where the pointer is over the window with no button down
    // (client pixels), whether the window asked to hear when it leaves,
    // whether the resting frame has been presented (the readout shows only
    // on it), whether a readout frame is due at the next tick, and the
    // readout the window shows.
    bool pointerOver = false;
    bool pointerLeaveTracked = false;
    ScreenPoint pointerAt;
    bool restingShown = false;
    bool readoutDue = false;
    ReadoutPick readoutShown;
    ChartRequest() = default;
    // A record moves between owners only as a pointer; it is never copied.
    ChartRequest(const ChartRequest&) = delete;
    ChartRequest& operator=(const ChartRequest&) = delete;
};

// Whether the card runs the drawing animation: the caller asked for it and the
// user has not turned animation effects off. Otherwise the card shows its
// finished chart at once, as with animate clear.
inline bool animatesOnCard(const ChartRequest& request) {
    return request.animate && request.display.animationEffects;
}

}  // namespace kestrine
