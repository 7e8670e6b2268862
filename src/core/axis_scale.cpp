// Axis scale and plot geometry: extremes, the nice five-interval y axis and the
// mapping of data points into logical card units. Everything here stays
// finite for any input, including infinities, NaN and ranges beyond DBL_MAX.
#include "core/axis_scale.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <limits>

namespace kestrine {

namespace {

struct AxisRange {
    double low;
    double high;
};

// The five-interval axis of 1-2-5 steps around [yMin, yMax] (yMin <= 0 <= yMax,
// yMax - yMin >= FLAT_RANGE). Returns false when the search does not settle
// within its attempts or its result would leave the double range.
bool searchNiceAxis(double yMin, double yMax, AxisRange& axis) {
    double range = yMax - yMin;
    // Halves keep the raw step finite when the range itself overflows.
    double raw = std::isfinite(range) ? range / Y_AXIS_INTERVALS
                                      : yMax / Y_AXIS_INTERVALS - yMin / Y_AXIS_INTERVALS;
    double step = niceStep(raw);
    for (int attempt = 0; attempt < SCALE_SEARCH_ATTEMPTS; ++attempt) {
        if (!std::isfinite(step)) return false;
        // Counting whole steps on the quotients gives the rounded interval
        // count without forming hi - lo, which could overflow.
        double lowSteps = std::floor(yMin / step);
        double highSteps = std::ceil(yMax / step);
        double count = highSteps - lowSteps;
        if (count <= Y_AXIS_INTERVALS) {
            // Widen to exactly five: an odd count gains a step below, an even
            // one a step on top.
            for (int c = static_cast<int>(count); c != Y_AXIS_INTERVALS; ++c) {
                if (c % 2 != 0) {
                    lowSteps -= 1.0;
                } else {
                    highSteps += 1.0;
                }
            }
            double low = lowSteps * step;
            double high = highSteps * step;
            if (!std::isfinite(low) || !std::isfinite(high) || !std::isfinite(high - low)) {
                return false;
            }
            axis = {low, high};
            return true;
        }
        step = niceStep(count * step / Y_AXIS_INTERVALS);
    }
    return false;
}

// The raw data range as the axis; cut to +-DBL_MAX/2 only where its span would
// not be finite, because the renderer divides by the span.
AxisRange rawAxis(double yMin, double yMax) {
    if (std::isfinite(yMax - yMin)) return {yMin, yMax};
    return {std::max(yMin, -DBL_MAX / 2), std::min(yMax, DBL_MAX / 2)};
}

float toPlotCoordinate(double value) {
    return static_cast<float>(std::min(std::max(value, -PLOT_COORDINATE_LIMIT), PLOT_COORDINATE_LIMIT));
}

}  // namespace

double niceStep(double raw) {
    if (!(raw > 0.0)) return 1.0;
    if (!std::isfinite(raw)) return raw;
    double p = std::pow(10.0, std::floor(std::log10(raw)));
    double f = raw / p;
    double candidate;
    if (f <= 1.0) {
        candidate = p;
    } else if (f <= 2.0) {
        candidate = 2.0 * p;
    } else if (f <= 5.0) {
        candidate = 5.0 * p;
    } else {
        candidate = 10.0 * p;
    }
    return candidate < 1.0 ? 1.0 : candidate;
}

void computeChartScale(ChartRequest& request) {
    const std::vector<double>& xs = request.xValues;
    const std::vector<double>& ys = request.yValues;
    const size_t count = xs.size();
    const double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
    auto yAt = [&](size_t i) { return i < ys.size() ? ys[i] : NOT_A_NUMBER; };

    double xMax = 1.0;
    double yMin = 0.0;
    double yMax = 0.0;
    for (size_t i = 0; i < count; ++i) {
        double x = xs[i];
        double y = yAt(i);
        if (!std::isfinite(x) || !std::isfinite(y)) continue;
        if (x > xMax) xMax = x;
        if (y > yMax) yMax = y;
        if (y < yMin) yMin = y;
    }

    AxisRange axis{FALLBACK_AXIS_MIN, FALLBACK_AXIS_MAX};
    if (count > 0 && !(yMax - yMin < FLAT_RANGE)) {
        if (!searchNiceAxis(yMin, yMax, axis)) axis = rawAxis(yMin, yMax);
    }
    request.xMax = xMax;
    request.yAxisMin = axis.low;
    request.yAxisMax = axis.high;

    const double span = axis.high - axis.low;
    request.plotPoints.clear();
    request.plotPoints.resize(count);
    for (size_t i = 0; i < count; ++i) {
        double x = xs[i];
        double y = yAt(i);
        PlotPoint& point = request.plotPoints[i];
        if (!std::isfinite(x) || !std::isfinite(y)) {
            point.x = static_cast<float>(NOT_A_NUMBER);
            point.y = static_cast<float>(NOT_A_NUMBER);
            continue;
        }
        // As written (multiply, then divide) unless the product overflows;
        // x <= xMax, so the quotient first is then the exact alternative.
        double xScaled = PLOT_WIDTH * x;
        double px = std::isfinite(xScaled) ? PLOT_LEFT + xScaled / xMax
                                           : PLOT_LEFT + PLOT_WIDTH * (x / xMax);
        double offset = axis.high - y;
        double py;
        if (!std::isfinite(offset)) {
            // Only for y far outside a cut axis: halves keep the ratio finite.
            py = PLOT_TOP + PLOT_HEIGHT * ((axis.high / 2 - y / 2) / (span / 2));
        } else if (!std::isfinite(PLOT_HEIGHT * offset)) {
            py = PLOT_TOP + PLOT_HEIGHT * (offset / span);
        } else {
            py = PLOT_TOP + PLOT_HEIGHT * offset / span;
        }
        point.x = toPlotCoordinate(px);
        point.y = toPlotCoordinate(py);
    }
}

}  // namespace kestrine
