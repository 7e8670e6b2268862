// The curve seen as device columns: which columns the reveal admits, and the
// points of a long series that decide what each column shows (the M4
// reduction), so that a card's curve is drawn once at a cost that stays put.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/chart_request.h"

namespace kestrine {

// Up to this many drawn points a curve is drawn from every point; beyond it,
// from the column reduction.
constexpr std::size_t FULL_DETAIL_POINTS = 2000;

// Device columns [first, end) of the card surface; `all` when the reveal is
// complete and nothing clips the curve sideways.
struct ColumnRange {
    bool all = false;
    int64_t first = 0;
    int64_t end = 0;

    bool contains(int64_t column) const { return all || (column >= first && column < end); }
};

// The columns in which the curve shows at a progress of the reveal, exactly as
// the frame renderer's clip rectangle (x 72, width progress x 790, scaled by
// dpiScale) admits them under GDI+: both edges are taken to device units in
// single precision and rounded half up, and a column is in when it lies
// between them. Progress 1 or more (or not a number) admits every column;
// below 0 none.
ColumnRange revealedColumns(double progress, double dpiScale);

// The points the curve passes through, in series order: the plot points
// without the skipped ones.
std::vector<PlotPoint> drawnPoints(const std::vector<PlotPoint>& plotPoints);

// The curve's pen: 4 units wide, its joins mitred, and bevelled where a mitre
// would reach beyond 10 half-widths (the library's default limit).
constexpr double CURVE_PEN_WIDTH = 4.0;
constexpr double CURVE_MITER_LIMIT = 10.0;

// Every maximal run of consecutive points that fall into one device column
// (floor of x times dpiScale) is replaced by its first, lowest, highest and
// last point, kept in series order and each only once. Skipped points are
// left out. Returns the indices of the points kept among the drawn points,
// ascending.
std::vector<std::size_t> columnReduction(const std::vector<PlotPoint>& points, double dpiScale);

// Rows [top, bottom) of one device column.
struct ColumnSpan {
    int32_t column = 0;
    int32_t top = 0;
    int32_t bottom = 0;
};

// What the curve is drawn from. A wide pen reaches beyond the points: every
// segment is a band 4 units wide and every join a mitre up to 20 units long.
// The column reduction keeps the points that decide a column's extent but
// drops the segments and joins of the points it leaves out, which for a
// dense, jagged series make most of what a column shows. So the pen strokes
// the stretches of consecutive kept points as they are, and for each device
// column the stretches of rows that the pen covers around the left-out
// points (their segments and joins, outlined with corners rounded to device
// pixels as GDI+ does) are kept, to be filled.
struct CurveOutline {
    std::vector<std::vector<PlotPoint>> strokes;  // each of at least two points
    std::vector<ColumnSpan> spans;                // in column order; none without reduction
};

// All drawn points as one stroke, and no spans, up to FULL_DETAIL_POINTS of
// them; beyond, the strokes between kept points and the spans of the points
// the column reduction leaves out, for a surface of the given size. A long
// series is read twice in order, the reduction first, and never copied: what
// is held grows with the columns, not with the points.
// batchPoints: how many points' shapes (64 at most) are first tried together
// against what is covered; the outline is the same for any value, and 1
// looks at every shape on its own.
constexpr std::size_t OUTLINE_BATCH_POINTS = 16;
CurveOutline curveOutline(const std::vector<PlotPoint>& plotPoints, double dpiScale,
                          int32_t surfaceWidth, int32_t surfaceHeight,
                          std::size_t batchPoints = OUTLINE_BATCH_POINTS);

}  // namespace kestrine
