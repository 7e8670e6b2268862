// Reveal columns and the per-column (M4) reduction of long series. Portable:
// the rounding below is the one GDI+ applies to a clip rectangle, written out
// so that frames composed from cached layers admit the same columns.

#include "chart/curve_columns.h"

#include <algorithm>
#include <cmath>

#include "chart/axis_scale.h"

namespace kestrine {

namespace {

// GDI+ rounds device coordinates half up: floor(x + 0.5), in single precision.
int64_t roundHalfUp(float x) {
    const double rounded = std::floor(static_cast<double>(x) + 0.5);
    // Only a wild scale gets near these; the clamp keeps the conversion defined.
    constexpr double LIMIT = 9.0e15;
    return static_cast<int64_t>(std::max(-LIMIT, std::min(LIMIT, rounded)));
}

// Device coordinates are far inside this; the clamp keeps conversions defined.
constexpr double DEVICE_LIMIT = 1.0e15;

// floor() without a library call: it runs for every point of a long series.
double floorOf(double v) {
    v = std::max(-DEVICE_LIMIT, std::min(DEVICE_LIMIT, v));
    const double t = static_cast<double>(static_cast<int64_t>(v));
    return t > v ? t - 1.0 : t;
}

int64_t deviceColumn(float x, double dpiScale) {
    return static_cast<int64_t>(floorOf(static_cast<double>(x) * dpiScale));
}

}  // namespace

ColumnRange revealedColumns(double progress, double dpiScale) {
    ColumnRange range;
    // The frame renderer clips only below 1; a progress that is not a number
    // fails that test too and shows the whole curve.
    if (!(progress < 1.0)) {
        range.all = true;
        return range;
    }
    const float scale = static_cast<float>(dpiScale);
    const float left = static_cast<float>(PLOT_LEFT);
    const float width = static_cast<float>(progress < 0.0 ? 0.0 : progress * PLOT_WIDTH);
    // The clip keeps its left edge and its right edge (left + width, added in
    // single precision as GDI+ does), each scaled to device units.
    const float right = left + width;
    range.first = roundHalfUp(left * scale);
    range.end = std::max(range.first, roundHalfUp(right * scale));
    return range;
}

std::vector<PlotPoint> drawnPoints(const std::vector<PlotPoint>& plotPoints) {
    std::vector<PlotPoint> drawn;
    drawn.reserve(plotPoints.size());
    for (const PlotPoint& p : plotPoints) {
        if (!isSkippedPlotPoint(p)) {
            drawn.push_back(p);
        }
    }
    return drawn;
}

namespace {

// A point of the series with its place among the drawn points.
struct KeptPoint {
    std::size_t index;
    PlotPoint point;
};

// The column reduction fed one point at a time: a run's first, lowest,
// highest and last point are known when the next column starts, and only
// they are kept, so the series streams through without a copy.
class ColumnReducer {
public:
    ColumnReducer(double dpiScale, std::vector<KeptPoint>& kept) : scale(dpiScale), out(kept) {}

    void add(std::size_t index, const PlotPoint& p) {
        const int64_t column = deviceColumn(p.x, scale);
        if (!open || column != runColumn) {
            finish();
            open = true;
            runColumn = column;
            first = lowest = highest = last = KeptPoint{index, p};
            return;
        }
        // Strict comparisons: among equal values the earliest point stays.
        if (p.y < lowest.point.y) {
            lowest = KeptPoint{index, p};
        }
        if (p.y > highest.point.y) {
            highest = KeptPoint{index, p};
        }
        last = KeptPoint{index, p};
    }

    void finish() {
        if (!open) {
            return;
        }
        open = false;
        KeptPoint chosen[4] = {first, lowest, highest, last};
        std::sort(chosen, chosen + 4,
                  [](const KeptPoint& a, const KeptPoint& b) { return a.index < b.index; });
        for (int i = 0; i < 4; ++i) {
            if (i == 0 || chosen[i].index != chosen[i - 1].index) {
                out.push_back(chosen[i]);
            }
        }
    }

private:
    double scale;
    std::vector<KeptPoint>& out;
    bool open = false;
    int64_t runColumn = 0;
    KeptPoint first{0, {}};
    KeptPoint lowest{0, {}};
    KeptPoint highest{0, {}};
    KeptPoint last{0, {}};
};

// Calls visit(index, point) for each drawn point, index counting drawn
// points only.
template <typename Visit>
void forEachDrawn(const std::vector<PlotPoint>& plotPoints, Visit visit) {
    std::size_t index = 0;
    for (const PlotPoint& p : plotPoints) {
        if (!isSkippedPlotPoint(p)) {
            visit(index++, p);
        }
    }
}

}  // namespace

std::vector<std::size_t> columnReduction(const std::vector<PlotPoint>& points,
                                         double dpiScale) {
    std::vector<KeptPoint> kept;
    ColumnReducer reducer(dpiScale, kept);
    for (std::size_t i = 0; i < points.size(); ++i) {
        reducer.add(i, points[i]);
    }
    reducer.finish();
    std::vector<std::size_t> indices;
    indices.reserve(kept.size());
    for (const KeptPoint& k : kept) {
        indices.push_back(k.index);
    }
    return indices;
}

namespace {

struct DevicePoint {
    double x;
    double y;
};

// Per device column, the rows the pen covers around left-out points, as a
// union of stretches (a column can be covered twice with a gap between, as
// under the two arms of a V). Corners are rounded to whole device pixels and
// a column is sampled on its left edge, as GDI+ fills the outline of a wide
// pen; a row is in when it starts within a covered stretch.
class PenExtent {
public:
    PenExtent(double dpiScale, int32_t width)
        : scale(dpiScale), columns(static_cast<std::size_t>(width)),
          core(static_cast<std::size_t>(width), Stretch{EMPTY_TOP, EMPTY_BOTTOM}) {}

    // A convex polygon of up to four corners in card units.
    void cover(const DevicePoint* corners, int count) {
        // Rounding keeps order, so the rounded corners' bounds are the
        // rounded bounds; most shapes of a dense series lie inside what is
        // covered already and end here.
        double left = corners[0].x;
        double right = corners[0].x;
        double high = corners[0].y;
        double low = corners[0].y;
        for (int i = 1; i < count; ++i) {
            left = std::min(left, corners[i].x);
            right = std::max(right, corners[i].x);
            high = std::min(high, corners[i].y);
            low = std::max(low, corners[i].y);
        }
        left = floorOf(left * scale + 0.5);
        right = floorOf(right * scale + 0.5);
        high = floorOf(high * scale + 0.5);
        low = floorOf(low * scale + 0.5);
        const double first = std::max(left, 0.0);
        const double last = std::min(right, static_cast<double>(columns.size()) - 1.0);
        // Column by column, the widest stretch answers first, from a flat
        // array: for the shape's whole height, then for what it covers in
        // that column (a sliver in its outer columns); only then are the
        // column's stretches looked at.
        // The rounded outline's edges, each from a to b, with its columns.
        struct Edge {
            DevicePoint a;
            DevicePoint b;
            double left;
            double right;
        };
        Edge edges[4];
        bool rounded = false;
        for (double x = first; x <= last; x += 1.0) {
            Stretch& widest = core[static_cast<std::size_t>(x)];
            if (widest.top <= high && widest.bottom >= low) {
                continue;
            }
            if (!rounded) {
                DevicePoint d[4];
                for (int i = 0; i < count; ++i) {
                    d[i].x = floorOf(corners[i].x * scale + 0.5);
                    d[i].y = floorOf(corners[i].y * scale + 0.5);
                }
                for (int i = 0; i < count; ++i) {
                    const DevicePoint& a = d[i];
                    const DevicePoint& b = d[i + 1 == count ? 0 : i + 1];
                    edges[i] = Edge{a, b, std::min(a.x, b.x), std::max(a.x, b.x)};
                }
                rounded = true;
            }
            double from = low;
            double to = high;
            for (int i = 0; i < count; ++i) {
                const Edge& e = edges[i];
                if (x < e.left || x > e.right) {
                    continue;
                }
                double y0 = e.a.y;
                double y1 = e.b.y;
                if (e.a.x != e.b.x) {
                    y0 = y1 = e.a.y + (e.b.y - e.a.y) * (x - e.a.x) / (e.b.x - e.a.x);
                }
                from = std::min(from, std::min(y0, y1));
                to = std::max(to, std::max(y0, y1));
            }
            if (!(from <= to) || (widest.top <= from && widest.bottom >= to)) {
                continue;
            }
            std::vector<Stretch>& stretches = columns[static_cast<std::size_t>(x)];
            if (!covers(stretches, from, to)) {
                const Stretch merged = add(stretches, from, to);
                if (widest.top > widest.bottom ||
                    merged.bottom - merged.top >= widest.bottom - widest.top) {
                    widest = merged;
                }
            }
        }
    }

    std::vector<ColumnSpan> spans(int32_t height) const {
        std::vector<ColumnSpan> result;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            for (const Stretch& stretch : columns[c]) {
                const double from = std::max(-floorOf(-stretch.top), 0.0);
                const double to = std::min(-floorOf(-stretch.bottom), static_cast<double>(height));
                if (from < to) {
                    result.push_back(ColumnSpan{static_cast<int32_t>(c),
                                                static_cast<int32_t>(from),
                                                static_cast<int32_t>(to)});
                }
            }
        }
        return result;
    }

private:
    struct Stretch {
        double top;
        double bottom;
    };

    static bool covers(const std::vector<Stretch>& stretches, double top, double bottom) {
        for (const Stretch& s : stretches) {
            if (s.top <= top && s.bottom >= bottom) {
                return true;
            }
        }
        return false;
    }

    // Keeps the stretches sorted and apart: the new one swallows every
    // stretch it overlaps or touches. Returns the stretch it became.
    static Stretch add(std::vector<Stretch>& stretches, double top, double bottom) {
        std::size_t i = 0;
        while (i < stretches.size() && stretches[i].bottom < top) {
            ++i;
        }
        std::size_t j = i;
        while (j < stretches.size() && stretches[j].top <= bottom) {
            top = std::min(top, stretches[j].top);
            bottom = std::max(bottom, stretches[j].bottom);
            ++j;
        }
        stretches.erase(stretches.begin() + static_cast<std::ptrdiff_t>(i),
                        stretches.begin() + static_cast<std::ptrdiff_t>(j));
        stretches.insert(stretches.begin() + static_cast<std::ptrdiff_t>(i), Stretch{top, bottom});
        return Stretch{top, bottom};
    }

    static constexpr double EMPTY_TOP = 1e300;
    static constexpr double EMPTY_BOTTOM = -1e300;
    double scale;
    std::vector<std::vector<Stretch>> columns;
    std::vector<Stretch> core;  // per column, its widest stretch
};

// A segment's unit direction and whether it has any length.
struct Direction {
    double x = 0.0;
    double y = 0.0;
    bool valid = false;
};

Direction directionOf(const PlotPoint& a, const PlotPoint& b) {
    const double dx = static_cast<double>(b.x) - a.x;
    const double dy = static_cast<double>(b.y) - a.y;
    const double length = std::sqrt(dx * dx + dy * dy);
    Direction d;
    if (length > 0.0) {
        d.x = dx / length;
        d.y = dy / length;
        d.valid = true;
    }
    return d;
}

DevicePoint offset(const PlotPoint& p, double dx, double dy) {
    return DevicePoint{p.x + dx, p.y + dy};
}

// The band of the pen along segment a-b; nothing for a segment of no length.
void coverSegment(PenExtent& extent, const PlotPoint& a, const PlotPoint& b, const Direction& d) {
    if (!d.valid) {
        return;
    }
    const double half = CURVE_PEN_WIDTH / 2.0;
    const double nx = -d.y * half;
    const double ny = d.x * half;
    const DevicePoint band[4] = {offset(a, nx, ny), offset(b, nx, ny), offset(b, -nx, -ny),
                                 offset(a, -nx, -ny)};
    extent.cover(band, 4);
}

// The join at p on the outer side of the turn from direction d0 to d1: the
// mitre, or the bevel where the mitre would reach beyond the limit. The inner
// side lies within the bands.
void coverJoin(PenExtent& extent, const PlotPoint& p, const Direction& d0, const Direction& d1) {
    if (!d0.valid || !d1.valid) {
        return;
    }
    const double cross = d0.x * d1.y - d0.y * d1.x;
    if (cross == 0.0) {
        return;  // straight on, or straight back (where both bands end flat)
    }
    const double half = CURVE_PEN_WIDTH / 2.0;
    const double side = cross > 0.0 ? -half : half;
    const DevicePoint corner = {p.x, p.y};
    const DevicePoint a = offset(p, -d0.y * side, d0.x * side);
    const DevicePoint b = offset(p, -d1.y * side, d1.x * side);
    const double bend = 1.0 + d0.x * d1.x + d0.y * d1.y;
    const double mx = (-d0.y - d1.y) * side / bend;
    const double my = (d0.x + d1.x) * side / bend;
    if (bend > 0.0 && mx * mx + my * my < CURVE_MITER_LIMIT * CURVE_MITER_LIMIT * half * half) {
        const DevicePoint mitre[4] = {corner, a, offset(p, mx, my), b};
        extent.cover(mitre, 4);
    } else {
        const DevicePoint bevel[3] = {corner, a, b};
        extent.cover(bevel, 3);
    }
}

}  // namespace

CurveOutline curveOutline(const std::vector<PlotPoint>& plotPoints, double dpiScale,
                          int32_t surfaceWidth, int32_t surfaceHeight) {
    CurveOutline outline;
    std::size_t n = 0;
    forEachDrawn(plotPoints, [&n](std::size_t, const PlotPoint&) { ++n; });
    if (n <= FULL_DETAIL_POINTS) {
        if (n >= 2) {
            outline.strokes.push_back(drawnPoints(plotPoints));
        }
        return outline;
    }
    // First pass: the points the column reduction keeps.
    std::vector<KeptPoint> kept;
    {
        ColumnReducer reducer(dpiScale, kept);
        forEachDrawn(plotPoints, [&reducer](std::size_t i, const PlotPoint& p) { reducer.add(i, p); });
        reducer.finish();
    }
    // Strokes: maximal stretches of consecutive kept points.
    for (std::size_t k = 0; k < kept.size();) {
        std::size_t end = k + 1;
        while (end < kept.size() && kept[end].index == kept[end - 1].index + 1) {
            ++end;
        }
        if (end - k >= 2) {
            std::vector<PlotPoint> stroke;
            stroke.reserve(end - k);
            for (std::size_t j = k; j < end; ++j) {
                stroke.push_back(kept[j].point);
            }
            outline.strokes.push_back(std::move(stroke));
        }
        k = end;
    }
    if (surfaceWidth <= 0 || surfaceHeight <= 0) {
        return outline;
    }
    // Second pass: the pen around the points left out. Each point is taken
    // with the two before it, so that the segment ending at it and the join
    // at the one before are known.
    PenExtent extent(dpiScale, surfaceWidth);
    std::size_t nextKept = 0;
    PlotPoint previous{};
    bool previousOut = false;
    bool beforePreviousOut = false;
    Direction before;
    forEachDrawn(plotPoints, [&](std::size_t i, const PlotPoint& p) {
        const bool isKept = nextKept < kept.size() && kept[nextKept].index == i;
        nextKept += isKept ? 1 : 0;
        const bool out = !isKept;
        if (i > 0) {
            const Direction after = directionOf(previous, p);
            if (previousOut || out) {
                coverSegment(extent, previous, p, after);
            }
            // A join belongs to a stroke only when its point and both
            // neighbours are kept.
            if (i > 1 && (beforePreviousOut || previousOut || out)) {
                coverJoin(extent, previous, before, after);
            }
            before = after;
        }
        beforePreviousOut = previousOut;
        previousOut = out;
        previous = p;
    });
    outline.spans = extent.spans(surfaceHeight);
    return outline;
}

}  // namespace kestrine
