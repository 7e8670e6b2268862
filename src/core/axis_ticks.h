// Where the card's grid lines, x-axis ticks and zero line go, and what their
// labels say. Pure: the frame renderer draws what these functions return and
// decides nothing itself.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/chart_request.h"

namespace kestrine {

// One vertical tick: its x in card units, its value in data units (seconds in
// time mode) and its label.
struct XTick {
    double logicalX = 0.0;
    double value = 0.0;
    std::wstring label;
};

// One horizontal grid line: its y in card units, its axis value and label.
struct YGridLine {
    double logicalY = 0.0;
    double value = 0.0;
    std::wstring label;
};

// First of 1, 2, 5, 10, ..., 5e11 that cuts xMax into at most six whole steps;
// xMax itself when none does (and for a non-finite xMax); 1 for xMax <= 0.
double numericTickStep(double xMax);

// Tick values 0, step, 2 step, ... up to xMax (with a 1e-9 allowance). Empty
// when xMax + 1e-9 < 0 or xMax is not finite.
std::vector<double> numericTickValues(double xMax);

// Ticks of a numeric x axis, labelled with formatAxisValue.
std::vector<XTick> numericXTicks(double xMax);

// "hh:mm" of a number of seconds ("hh:mm:ss" withSeconds), whole days and
// fractions of a second dropped; all zeros for a negative or NaN value. Sound
// for every double: the reduction is done in floating point, so huge values
// neither overflow nor lose their time of day.
std::wstring clockLabel(double seconds, bool withSeconds = false);

// Seven ticks evenly across the plot, each labelled with the clock time of
// j * xMax / 6 seconds.
std::vector<XTick> timeXTicks(double xMax);

// The ticks for the request's axis mode (numericXAxis) and xMax.
std::vector<XTick> xAxisTicks(const ChartRequest& request);

// The six grid lines from yAxisMax (top, y 110) to yAxisMin (bottom, y 490).
std::vector<YGridLine> yGridLines(double yAxisMin, double yAxisMax);

// y of the dashed zero line; empty when the axis has no positive finite
// height, in which case there is no zero line to draw.
std::optional<double> zeroLineY(double yAxisMin, double yAxisMax);

}  // namespace kestrine
