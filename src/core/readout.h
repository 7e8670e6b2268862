// What a person reads off a resting card by pointing: the drawn point nearest
// to the pointer's x, the label that says its x and y, and where that label
// and the marks around the point go. Pure; the drawing layer draws what these
// functions decide.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/chart_request.h"

namespace kestrine {

// A rectangle in logical card units, [left, right) x [top, bottom).
struct LogicalRect {
    double left = 0.0;
    double top = 0.0;
    double right = 0.0;
    double bottom = 0.0;
};

// The readout's marks, in logical units.
constexpr double READOUT_DOT_RADIUS = 5.0;
constexpr double READOUT_DOT_RING_WIDTH = 1.5;  // the ring that sets the dot off the curve
constexpr double READOUT_GUIDE_WIDTH = 1.0;
constexpr double READOUT_LABEL_SIZE = 12.0;     // font size of the label's text
constexpr double READOUT_LABEL_PAD_X = 7.0;     // text to box, left and right
constexpr double READOUT_LABEL_PAD_Y = 4.0;     // text to box, top and bottom
constexpr double READOUT_LABEL_GAP = 10.0;      // point to the nearest box corner
constexpr double READOUT_CARD_MARGIN = 8.0;     // box to the card's edge, at least

// Whether a logical position is over the plot, where the readout answers.
bool insidePlotArea(double logicalX, double logicalY);

// Logical x of the centre of a device column of a card drawn at dpiScale:
// where a pointer over that column reads.
double columnCentre(int32_t column, double dpiScale);

// The drawn point (see isSkippedPlotPoint) whose plot x is nearest to
// logicalX, whatever the order of the points; of points equally near, the
// later in the series (the curve reaches it last). NO_POINT when none is
// drawn. A scan over the points: the reference for the table below.
std::size_t nearestDrawnPoint(const std::vector<PlotPoint>& points, double logicalX);

// The drawn point whose data x is nearest to x (ties to the later): the
// point a readout shows when asked for by a value of the x axis rather than
// by a pointer.
std::size_t nearestPointToValue(const ChartRequest& request, double x);

// nearestDrawnPoint for the centre of every device column of a surface,
// found in one pass over the points and one over the columns, so that a
// pointer move costs one look-up at any length of series.
class NearestPointTable {
public:
    NearestPointTable() = default;
    // Throws std::bad_alloc like any vector when the columns cannot be had.
    static NearestPointTable build(const std::vector<PlotPoint>& points, double dpiScale,
                                   int32_t columns);
    // NO_POINT for a column outside the surface or when no point is drawn.
    std::size_t at(int32_t column) const;
    std::size_t bytes() const { return nearest_.capacity() * sizeof(std::size_t); }

private:
    std::vector<std::size_t> nearest_;
};

// Whether a time card's label gives seconds: some two drawn points next to
// each other in the series are less than a minute apart (and not at the same
// second), so that minutes alone would not tell them apart.
bool readoutShowsSeconds(const ChartRequest& request);

// A value in the card's number style: "-" for a negative value, "," between
// groups of three digits, and up to six significant digits with trailing
// zeros dropped (no more than six decimals): 12345.678 gives "12,345.7",
// -0.0012346 "-0.001235", 1234567.8 "1,234,568". Infinity and NaN as
// formatAxisValue writes them.
std::wstring formatReadoutNumber(double value);

// The label of point index: its x as the x axis writes it (a time card's
// "hh:mm", or "hh:mm:ss" with withSeconds; a numeric card's number), two
// spaces, its y. Empty for an index that is not a point of the record.
std::wstring readoutLabel(const ChartRequest& request, std::size_t index, bool withSeconds);

// The label's box for a text of textWidth x textHeight beside the point: up
// and to the right of it; to the left when it would cross the card's right
// margin, below when it would cross the top one; then moved wholly inside
// the card's margins (a box wider than the card keeps its left edge at the
// margin).
LogicalRect placeReadoutLabel(PlotPoint point, double textWidth, double textHeight);

// Everything the readout at point paints, with the label's box: guide, dot
// and box, outward by a logical unit (half pens) and two device pixels of
// antialiasing at dpiScale.
LogicalRect readoutPaintedBounds(PlotPoint point, const LogicalRect& labelBox, double dpiScale);

}  // namespace kestrine
