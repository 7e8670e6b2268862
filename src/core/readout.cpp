// The readout's decisions: the nearest drawn point (by scan and by a table of
// device columns), the label's texts and the label's place on the card.

#include "core/readout.h"

#include <algorithm>
#include <cmath>

#include "core/axis_scale.h"
#include "core/axis_ticks.h"
#include "core/labels.h"
#include "core/placement.h"

namespace kestrine {

namespace {

constexpr double SIGNIFICANT_DIGITS = 6.0;
constexpr int MAX_DECIMALS = 6;
constexpr double SECONDS_PER_MINUTE = 60.0;

bool drawnAt(const PlotPoint& p) {
    return !isSkippedPlotPoint(p) && std::isfinite(p.x) && std::isfinite(p.y);
}

// Of two candidates equally near, the later in the series.
std::size_t nearer(const std::vector<PlotPoint>& points, double logicalX, std::size_t a,
                   std::size_t b) {
    if (a == NO_POINT) {
        return b;
    }
    if (b == NO_POINT) {
        return a;
    }
    const double da = std::fabs(static_cast<double>(points[a].x) - logicalX);
    const double db = std::fabs(static_cast<double>(points[b].x) - logicalX);
    if (da != db) {
        return da < db ? a : b;
    }
    return a > b ? a : b;
}

// The candidate furthest right (furthest left when leftmost), ties to the
// later point.
std::size_t further(const std::vector<PlotPoint>& points, std::size_t a, std::size_t b,
                    bool leftmost) {
    if (a == NO_POINT) {
        return b;
    }
    if (b == NO_POINT) {
        return a;
    }
    if (points[a].x != points[b].x) {
        return (points[a].x < points[b].x) == leftmost ? a : b;
    }
    return a > b ? a : b;
}

// The drawn point of the first count whose position (where(i)) is nearest to
// target; of points equally near, the later.
template <typename Position>
std::size_t nearestDrawn(const std::vector<PlotPoint>& points, std::size_t count, double target,
                         Position where) {
    std::size_t best = NO_POINT;
    double bestDistance = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!drawnAt(points[i])) {
            continue;
        }
        const double distance = std::fabs(where(i) - target);
        if (best == NO_POINT || distance <= bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

}  // namespace

bool insidePlotArea(double logicalX, double logicalY) {
    return logicalX >= PLOT_LEFT && logicalX < PLOT_LEFT + PLOT_WIDTH && logicalY >= PLOT_TOP &&
           logicalY < PLOT_TOP + PLOT_HEIGHT;
}

double columnCentre(int32_t column, double dpiScale) {
    return (static_cast<double>(column) + 0.5) / dpiScale;
}

std::size_t nearestDrawnPoint(const std::vector<PlotPoint>& points, double logicalX) {
    return nearestDrawn(points, points.size(), logicalX,
                        [&points](std::size_t i) { return static_cast<double>(points[i].x); });
}

std::size_t nearestPointToValue(const ChartRequest& request, double x) {
    const std::size_t count = std::min(request.xValues.size(), request.plotPoints.size());
    return nearestDrawn(request.plotPoints, count, x,
                        [&request](std::size_t i) { return request.xValues[i]; });
}

NearestPointTable NearestPointTable::build(const std::vector<PlotPoint>& points, double dpiScale,
                                           int32_t columns) {
    NearestPointTable table;
    if (columns <= 0 || !(dpiScale > 0.0)) {
        return table;
    }
    const std::size_t width = static_cast<std::size_t>(columns);
    // Interval k + 1 holds the points with centre(k) <= x < centre(k + 1);
    // the first holds those left of every centre, the last those right of
    // the last one. Each keeps its leftmost and rightmost point.
    std::vector<std::size_t> leftmost(width + 1, NO_POINT);
    std::vector<std::size_t> rightmost(width + 1, NO_POINT);
    const double lastColumn = static_cast<double>(columns - 1);
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (!drawnAt(points[i])) {
            continue;
        }
        const double x = points[i].x;
        const double t = std::floor(x * dpiScale - 0.5);
        int32_t k = t < -1.0 ? -1 : (t > lastColumn ? columns - 1 : static_cast<int32_t>(t));
        // The estimate can be a column off where x sits on a centre; the
        // comparisons the look-up makes decide.
        while (k >= 0 && x < columnCentre(k, dpiScale)) {
            --k;
        }
        while (k + 1 < columns && x >= columnCentre(k + 1, dpiScale)) {
            ++k;
        }
        const std::size_t slot = static_cast<std::size_t>(k + 1);
        leftmost[slot] = further(points, leftmost[slot], i, true);
        rightmost[slot] = further(points, rightmost[slot], i, false);
    }
    // The nearest point to a centre is the rightmost point left of it or the
    // leftmost point at or right of it.
    table.nearest_.assign(width, NO_POINT);
    std::size_t fromLeft = rightmost[0];
    for (std::size_t c = 0; c < width; ++c) {
        table.nearest_[c] = fromLeft;
        fromLeft = further(points, fromLeft, rightmost[c + 1], false);
    }
    std::size_t fromRight = NO_POINT;
    for (std::size_t c = width; c-- > 0;) {
        fromRight = further(points, fromRight, leftmost[c + 1], true);
        table.nearest_[c] = nearer(points, columnCentre(static_cast<int32_t>(c), dpiScale),
                                   table.nearest_[c], fromRight);
    }
    return table;
}

std::size_t NearestPointTable::at(int32_t column) const {
    if (column < 0 || static_cast<std::size_t>(column) >= nearest_.size()) {
        return NO_POINT;
    }
    return nearest_[static_cast<std::size_t>(column)];
}

bool readoutShowsSeconds(const ChartRequest& request) {
    if (request.numericXAxis == 1) {
        return false;
    }
    const std::size_t count = std::min(request.xValues.size(), request.plotPoints.size());
    bool havePrevious = false;
    double previous = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!drawnAt(request.plotPoints[i])) {
            continue;
        }
        const double x = request.xValues[i];
        if (havePrevious) {
            const double gap = std::fabs(std::trunc(x) - std::trunc(previous));
            if (gap > 0.0 && gap < SECONDS_PER_MINUTE) {
                return true;
            }
        }
        previous = x;
        havePrevious = true;
    }
    return false;
}

std::wstring formatReadoutNumber(double value) {
    if (!std::isfinite(value)) {
        return formatAxisValue(value);
    }
    int decimals = 0;
    if (value != 0.0) {
        const double magnitude = std::floor(std::log10(std::fabs(value)));
        const double wanted = SIGNIFICANT_DIGITS - 1.0 - magnitude;
        decimals = wanted <= 0.0 ? 0 : (wanted >= MAX_DECIMALS ? MAX_DECIMALS
                                                               : static_cast<int>(wanted));
    }
    wchar_t buffer[AXIS_LABEL_BUFFER];
    formatBounded(buffer, AXIS_LABEL_BUFFER, L"%.*f", decimals, value);
    std::wstring text(buffer);
    const bool negative = !text.empty() && text[0] == L'-';
    if (negative) {
        text.erase(0, 1);
    }
    std::wstring fraction;
    const std::size_t point = text.find(L'.');
    if (point != std::wstring::npos) {
        fraction = text.substr(point + 1);
        text.erase(point);
        while (!fraction.empty() && fraction.back() == L'0') {
            fraction.pop_back();
        }
    }
    std::wstring result = negative ? L"-" : L"";
    result += groupThousands(text.data(), text.size());
    if (!fraction.empty()) {
        result += L'.';
        result += fraction;
    }
    return result;
}

std::wstring readoutLabel(const ChartRequest& request, std::size_t index, bool withSeconds) {
    if (index >= request.xValues.size() || index >= request.yValues.size()) {
        return std::wstring();
    }
    const double x = request.xValues[index];
    std::wstring label = request.numericXAxis == 1 ? formatReadoutNumber(x)
                                                   : clockLabel(x, withSeconds);
    label += L"  ";
    label += formatReadoutNumber(request.yValues[index]);
    return label;
}

LogicalRect placeReadoutLabel(PlotPoint point, double textWidth, double textHeight) {
    const double width = textWidth + 2.0 * READOUT_LABEL_PAD_X;
    const double height = textHeight + 2.0 * READOUT_LABEL_PAD_Y;
    const double minLeft = READOUT_CARD_MARGIN;
    const double minTop = READOUT_CARD_MARGIN;
    const double maxRight = CARD_LOGICAL_WIDTH - READOUT_CARD_MARGIN;
    const double maxBottom = CARD_LOGICAL_HEIGHT - READOUT_CARD_MARGIN;

    double left = point.x + READOUT_LABEL_GAP;
    if (left + width > maxRight) {
        left = point.x - READOUT_LABEL_GAP - width;
    }
    double top = point.y - READOUT_LABEL_GAP - height;
    if (top < minTop) {
        top = point.y + READOUT_LABEL_GAP;
    }
    // Then wholly inside: right and bottom first, so that a box larger than
    // the card keeps its left and top at the margins.
    left = std::fmin(left, maxRight - width);
    left = std::fmax(left, minLeft);
    top = std::fmin(top, maxBottom - height);
    top = std::fmax(top, minTop);
    return LogicalRect{left, top, left + width, top + height};
}

LogicalRect readoutPaintedBounds(PlotPoint point, const LogicalRect& labelBox, double dpiScale) {
    const double spill = 1.0 + (dpiScale > 0.0 ? 2.0 / dpiScale : 2.0);
    const double reach = std::fmax(READOUT_GUIDE_WIDTH / 2.0,
                                   READOUT_DOT_RADIUS + READOUT_DOT_RING_WIDTH / 2.0);
    LogicalRect bounds;
    bounds.left = std::fmin(point.x - reach, labelBox.left) - spill;
    bounds.right = std::fmax(point.x + reach, labelBox.right) + spill;
    bounds.top = std::fmin(std::fmin(PLOT_TOP, point.y - reach), labelBox.top) - spill;
    bounds.bottom =
        std::fmax(std::fmax(PLOT_TOP + PLOT_HEIGHT, point.y + reach), labelBox.bottom) + spill;
    return bounds;
}

}  // namespace kestrine
