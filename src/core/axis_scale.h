// Axis scale and plot geometry: the x extent, a five-interval y axis of 1-2-5
// steps that always holds zero, and every data point mapped into the card's
// logical 920 x 560 space. Pure functions over the ChartRequest record.
#pragma once

#include "core/chart_request.h"

namespace kestrine {

// Plot area in logical card units.
constexpr double PLOT_LEFT = 72.0;
constexpr double PLOT_TOP = 110.0;
constexpr double PLOT_WIDTH = 790.0;
constexpr double PLOT_HEIGHT = 380.0;

constexpr int Y_AXIS_INTERVALS = 5;
constexpr int SCALE_SEARCH_ATTEMPTS = 24;
// A y range below this counts as flat and gets the fallback axis.
constexpr double FLAT_RANGE = 1e-9;
constexpr double FALLBACK_AXIS_MIN = -2.0;
constexpr double FALLBACK_AXIS_MAX = 3.0;

// Plot coordinates are kept within +-PLOT_COORDINATE_LIMIT logical units. Only
// points more than a thousand plot widths away are affected (a huge negative
// x, or a y far outside an axis that had to be cut to stay finite); the
// visible part of a line towards such a point moves by well under a pixel,
// and GDI+ never sees an infinite or unrasterisable coordinate.
constexpr double PLOT_COORDINATE_LIMIT = 1.0e6;

// Raises a raw step to the next 1, 2 or 5 times a power of ten, never below 1.
// A step that is not a number gives 1; an infinite step (or one whose nice
// successor exceeds the double range) gives infinity, which the caller treats
// as "no representable step".
double niceStep(double raw);

// Writes xMax, yAxisMin, yAxisMax and plotPoints from xValues and yValues.
//
// Points whose x or y is not finite take no part in the extremes and get a
// plot point with both coordinates NaN (see isSkippedPlotPoint). For every
// input the result has finite xMax >= 1, finite yAxisMin <= 0 <= yAxisMax,
// yAxisMax > yAxisMin and a finite yAxisMax - yAxisMin. When the nice axis
// would leave the double range, the axis is the data's own range, cut to
// +-DBL_MAX/2 where the full range would overflow; points beyond such an axis
// are drawn off the plot. plotPoints always has xValues.size() elements; a
// missing y (yValues shorter than xValues) counts as not finite.
void computeChartScale(ChartRequest& request);

}  // namespace kestrine
