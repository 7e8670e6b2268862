// Size and place of a new card, and the drag threshold: the decisions of the
// window layer as pure functions of the facts it gathers from Windows
// (shcore results, work area, saved position, system metrics).
#pragma once

#include <cstdint>
#include <optional>

#include "core/chart_request.h"

namespace kestrine {

constexpr int32_t CARD_LOGICAL_WIDTH = 920;
constexpr int32_t CARD_LOGICAL_HEIGHT = 560;
constexpr double REFERENCE_DPI = 96.0;
constexpr double MIN_DPI_SCALE = 0.5;
constexpr double MAX_DPI_SCALE = 4.0;

// A rectangle in screen pixels, laid out like the Windows RECT.
struct ScreenRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

// What the shcore queries returned. The window layer stops querying at the
// first failing test; the facts it did not gather keep these defaults, which
// fail the chain just the same.
struct DpiQueryFacts {
    bool awarenessFunctionFound = false;
    int32_t awarenessResult = -1;      // HRESULT of GetProcessDpiAwareness
    int32_t awareness = 0;             // PROCESS_DPI_AWARENESS it reported
    bool dpiFunctionFound = false;
    int32_t dpiResult = -1;            // HRESULT of GetDpiForMonitor
    uint32_t dpiX = 0;
};

struct SurfaceSize {
    double scale = 1.0;
    int32_t width = CARD_LOGICAL_WIDTH;
    int32_t height = CARD_LOGICAL_HEIGHT;
};

// Whether the awareness query lets the monitor's DPI count: found, succeeded
// (HRESULT not negative) and the process is not DPI-unaware (0). When this is
// false there is no need to call GetDpiForMonitor.
bool awarenessAllowsDpi(bool awarenessFunctionFound, int32_t awarenessResult, int32_t awareness);

// The DPI to size the card by, or nothing when any test of the chain fails
// (awareness as above, then the DPI function found, succeeded, dpiX not 0).
std::optional<uint32_t> chooseMonitorDpi(const DpiQueryFacts& facts);

// Scale 1.0 and 920 x 560 when no DPI was taken (or it is 0); else dpi / 96
// clamped to 0.5..4.0, sizes rounded half up (460 x 280 and 3680 x 2240 at the
// clamps).
SurfaceSize surfaceSizeForDpi(bool dpiTaken, uint32_t dpiX);

inline SurfaceSize surfaceSizeForDpi(std::optional<uint32_t> dpiX) {
    return surfaceSizeForDpi(dpiX.has_value(), dpiX.value_or(0));
}

// Top-left corner that centres a card of this size in the work area, with the
// division truncating toward zero; computed in 64 bits and clamped to the
// 32-bit range, so no work area or size can overflow it.
ScreenPoint centredPosition(const ScreenRect& workArea, int32_t width, int32_t height);

// The rectangle a card of this size would cover at topLeft, for the monitor
// test of a saved position; right and bottom clamped to the 32-bit range.
ScreenRect cardRectAt(ScreenPoint topLeft, int32_t width, int32_t height);

// Where a new card opens, and at which size.
struct CardOpening {
    ScreenPoint topLeft;
    SurfaceSize size;
};

// The card's size depends on the DPI of the monitor it opens on, and which
// monitor that is depends on the card's rectangle, so the saved position is
// tested in two steps. First the card at the primary monitor's size: the size
// a centred card has, so with one monitor, or monitors of one DPI, the same
// points count as on screen as always. The monitor that rectangle overlaps
// most gives savedMonitorSize (nothing when it overlaps none). Then the card
// at that size: a smaller card at the same corner may overlap no monitor any
// more (resizedRectOverlapsMonitor false), and it opens centred at the
// primary's size, like a card whose saved point is off every monitor.
CardOpening chooseCardOpening(ScreenPoint centred, const SurfaceSize& primarySize,
                              std::optional<ScreenPoint> saved,
                              std::optional<SurfaceSize> savedMonitorSize,
                              bool resizedRectOverlapsMonitor);

// A press becomes a drag once the pointer has moved strictly more than the
// system's drag rectangle (SM_CXDRAG, SM_CYDRAG) in either direction.
bool dragThresholdCrossed(int32_t dx, int32_t dy, int32_t cxDrag, int32_t cyDrag);

// Where the window goes during a drag: its start plus the pointer's offset,
// clamped to the 32-bit range.
ScreenPoint dragWindowTarget(ScreenPoint windowStart, ScreenPoint cursorStart,
                             ScreenPoint cursorNow);

}  // namespace kestrine
