// DPI scale, card size, centring, where and at which size a new card opens,
// and the drag threshold. Arithmetic on screen coordinates is done in 64
// bits, since Windows hands over 32-bit values whose sums and differences can
// overflow.

#include "core/placement.h"

#include <limits>

namespace kestrine {

namespace {

int32_t clampToInt32(int64_t value) {
    if (value < std::numeric_limits<int32_t>::min()) {
        return std::numeric_limits<int32_t>::min();
    }
    if (value > std::numeric_limits<int32_t>::max()) {
        return std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(value);
}

int64_t magnitude(int64_t value) { return value < 0 ? -value : value; }

}  // namespace

bool awarenessAllowsDpi(bool awarenessFunctionFound, int32_t awarenessResult, int32_t awareness) {
    return awarenessFunctionFound && awarenessResult >= 0 && awareness != 0;
}

std::optional<uint32_t> chooseMonitorDpi(const DpiQueryFacts& facts) {
    if (!awarenessAllowsDpi(facts.awarenessFunctionFound, facts.awarenessResult,
                            facts.awareness)) {
        return std::nullopt;
    }
    if (!facts.dpiFunctionFound || facts.dpiResult < 0 || facts.dpiX == 0) {
        return std::nullopt;
    }
    return facts.dpiX;
}

SurfaceSize surfaceSizeForDpi(bool dpiTaken, uint32_t dpiX) {
    SurfaceSize size;
    if (!dpiTaken || dpiX == 0) {
        return size;
    }
    const double scale = dpiX / REFERENCE_DPI;
    if (scale < MIN_DPI_SCALE) {
        size.scale = MIN_DPI_SCALE;
        size.width = 460;
        size.height = 280;
    } else if (scale > MAX_DPI_SCALE) {
        size.scale = MAX_DPI_SCALE;
        size.width = 3680;
        size.height = 2240;
    } else {
        size.scale = scale;
        size.width = static_cast<int32_t>(CARD_LOGICAL_WIDTH * scale + 0.5);
        size.height = static_cast<int32_t>(CARD_LOGICAL_HEIGHT * scale + 0.5);
    }
    return size;
}

ScreenPoint centredPosition(const ScreenRect& workArea, int32_t width, int32_t height) {
    const int64_t x = int64_t{workArea.left} +
                      (int64_t{workArea.right} - workArea.left - width) / 2;
    const int64_t y = int64_t{workArea.top} +
                      (int64_t{workArea.bottom} - workArea.top - height) / 2;
    return ScreenPoint{clampToInt32(x), clampToInt32(y)};
}

ScreenRect cardRectAt(ScreenPoint topLeft, int32_t width, int32_t height) {
    return ScreenRect{topLeft.x, topLeft.y, clampToInt32(int64_t{topLeft.x} + width),
                      clampToInt32(int64_t{topLeft.y} + height)};
}

CardOpening chooseCardOpening(ScreenPoint centred, const SurfaceSize& primarySize,
                              std::optional<ScreenPoint> saved,
                              std::optional<SurfaceSize> savedMonitorSize,
                              bool resizedRectOverlapsMonitor) {
    if (saved && savedMonitorSize && resizedRectOverlapsMonitor) {
        return CardOpening{*saved, *savedMonitorSize};
    }
    return CardOpening{centred, primarySize};
}

bool dragThresholdCrossed(int32_t dx, int32_t dy, int32_t cxDrag, int32_t cyDrag) {
    // In 64 bits, |INT32_MIN| exists.
    return magnitude(dx) > cxDrag || magnitude(dy) > cyDrag;
}

ScreenPoint dragWindowTarget(ScreenPoint windowStart, ScreenPoint cursorStart,
                             ScreenPoint cursorNow) {
    const int64_t dx = int64_t{cursorNow.x} - cursorStart.x;
    const int64_t dy = int64_t{cursorNow.y} - cursorStart.y;
    return ScreenPoint{clampToInt32(windowStart.x + dx), clampToInt32(windowStart.y + dy)};
}

}  // namespace kestrine
