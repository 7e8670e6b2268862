// Reveal columns and the per-column (M4) reduction of long series. Portable:
// the rounding below is the one GDI+ applies to a clip rectangle, written out
// so that frames composed from cached layers admit the same columns.

#include "core/curve_columns.h"

#include <algorithm>
#include <cmath>
#include <cstring>
// GCC and Clang say __SSE2__; MSVC never does, but every x64 target has
// SSE2, and on x86 it says so with _M_IX86_FP (2 under /arch:SSE2, its default).
#if (defined(__SSE2__) || defined(_M_X64) || defined(_M_AMD64) || \
     (defined(_M_IX86_FP) && _M_IX86_FP >= 2)) &&                  \
    !defined(KESTRINE_PLAIN_ARITHMETIC)
#define KESTRINE_SSE2_REACH
#include <emmintrin.h>
#endif
#include <deque>
#include <limits>
#include <optional>
#include <utility>

#include "core/axis_scale.h"

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
        if (!(open && inRunColumn(p))) {
            const double column = static_cast<double>(deviceColumn(p.x, scale));
            if (!open || column != runLeft) {
                finish();
                open = true;
                runLeft = column;
                first = lowest = highest = last = KeptPoint{index, p};
                return;
            }
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

    // Adds the plot points in order, leaving out the skipped ones; index
    // counts drawn points. Eight points at a time answer at once when all
    // are drawn and stay in the run's column, as nearly all of a long series
    // do: then only a new lowest or highest among them is looked for.
    void addAll(const std::vector<PlotPoint>& plotPoints) {
        constexpr std::size_t CHUNK = 8;
        const PlotPoint* p = plotPoints.data();
        const std::size_t size = plotPoints.size();
        std::size_t index = 0;
        std::size_t i = 0;
        for (; i + CHUNK <= size; i += CHUNK) {
            if (open && addChunk(p + i, index)) {
                index += CHUNK;
                continue;
            }
            for (std::size_t k = i; k < i + CHUNK; ++k) {
                if (!isSkippedPlotPoint(p[k])) {
                    add(index++, p[k]);
                }
            }
        }
        for (; i < size; ++i) {
            if (!isSkippedPlotPoint(p[i])) {
                add(index++, p[i]);
            }
        }
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
    // Within the run's column the device x lies in [column, column + 1):
    // that answers for nearly every point without rounding it. False for an
    // x that is not a number.
    bool inRunColumn(const PlotPoint& p) const {
        const double deviceX = static_cast<double>(p.x) * scale;
        return (deviceX >= runLeft) & (deviceX < runLeft + 1.0);
    }

    // The eight points from `index` on, if all are drawn and in the run's
    // column; false, and nothing added, otherwise.
    bool addChunk(const PlotPoint* p, std::size_t index) {
        bool inside = true;
        float low = p[0].y;
        float high = p[0].y;
        for (int k = 0; k < 8; ++k) {
            // Comparisons fail for what is not a number, so skipped points
            // fall out here too.
            inside &= inRunColumn(p[k]) & (p[k].y == p[k].y);
            low = std::min(low, p[k].y);
            high = std::max(high, p[k].y);
        }
        if (!inside) {
            return false;
        }
        // The first of equal values, as one point at a time would keep it.
        if (low < lowest.point.y) {
            int k = 0;
            while (p[k].y != low) {
                ++k;
            }
            lowest = KeptPoint{index + k, p[k]};
        }
        if (high > highest.point.y) {
            int k = 0;
            while (p[k].y != high) {
                ++k;
            }
            highest = KeptPoint{index + k, p[k]};
        }
        last = KeptPoint{index + 7, p[7]};
        return true;
    }

    double scale;
    std::vector<KeptPoint>& out;
    bool open = false;
    double runLeft = 0.0;  // the run's column, as a device x
    KeptPoint first{0, {}};
    KeptPoint lowest{0, {}};
    KeptPoint highest{0, {}};
    KeptPoint last{0, {}};
};

}  // namespace

std::vector<std::size_t> columnReduction(const std::vector<PlotPoint>& points,
                                         double dpiScale) {
    std::vector<KeptPoint> kept;
    ColumnReducer reducer(dpiScale, kept);
    reducer.addAll(points);
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
//
// Only rows on the surface are kept: whatever the pen covers is cut to the
// rows -1 to height + 1, which gives the same rows on the surface (a cut
// stretch starts and ends where it did there, and stretches apart stay
// apart), while a series far above or below the card cannot pile up
// stretches that are never drawn. The stretches of a column are kept sorted,
// so that a look-up costs the logarithm of their number, not the number.
class PenExtent {
public:
    PenExtent(double dpiScale, int32_t width, int32_t height)
        : scale(dpiScale), topRow(-1.0), bottomRow(static_cast<double>(height) + 1.0),
          columns(static_cast<std::size_t>(width)),
          core(static_cast<std::size_t>(width), Stretch{EMPTY_TOP, EMPTY_BOTTOM}),
          latest(static_cast<std::size_t>(width), Stretch{EMPTY_TOP, EMPTY_BOTTOM}) {}

    // A convex polygon of up to four corners in card units.
    void cover(const DevicePoint* corners, int count) {
        // Rounding keeps order, so the rounded corners' bounds are the
        // rounded bounds; most shapes of a dense series lie inside what is
        // covered already and end here.
        double left = corners[0].x;
        double right = corners[0].x;
        double high = corners[0].y;
        double low = corners[0].y;
        bool numbers = true;
        for (int i = 0; i < count; ++i) {
            left = std::min(left, corners[i].x);
            right = std::max(right, corners[i].x);
            high = std::min(high, corners[i].y);
            low = std::max(low, corners[i].y);
            numbers &= (corners[i].x == corners[i].x) & (corners[i].y == corners[i].y);
        }
        // The pen towards a point at infinity has corners that are not
        // numbers. Such a shape covers nothing: the bounds above pass over
        // those corners while rounding takes them for the last row, so what
        // it added would depend on what was covered before it.
        if (!numbers) {
            return;
        }
        left = deviceOf(left);
        right = deviceOf(right);
        const double shapeTop = deviceOf(high);
        const double shapeBottom = deviceOf(low);
        if (shapeBottom < topRow || shapeTop > bottomRow) {
            return;  // wholly above or below the surface
        }
        high = std::max(shapeTop, topRow);
        low = std::min(shapeBottom, bottomRow);
        const double first = std::max(left, 0.0);
        const double last = std::min(right, static_cast<double>(columns.size()) - 1.0);
        // Column by column, the widest and the latest stretch answer first,
        // from flat arrays: for the shape's whole height, then for what it
        // covers in that column (a sliver in its outer columns); only then
        // are the column's stretches searched.
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
            Stretch& found = latest[static_cast<std::size_t>(x)];
            if (holds(widest, high, low) || holds(found, high, low)) {
                continue;
            }
            if (!rounded) {
                DevicePoint d[4];
                for (int i = 0; i < count; ++i) {
                    d[i].x = deviceOf(corners[i].x);
                    d[i].y = deviceOf(corners[i].y);
                }
                for (int i = 0; i < count; ++i) {
                    const DevicePoint& a = d[i];
                    const DevicePoint& b = d[i + 1 == count ? 0 : i + 1];
                    edges[i] = Edge{a, b, std::min(a.x, b.x), std::max(a.x, b.x)};
                }
                rounded = true;
            }
            double from = shapeBottom;
            double to = shapeTop;
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
            if (!(from <= to) || to < topRow || from > bottomRow) {
                continue;
            }
            from = std::max(from, topRow);
            to = std::min(to, bottomRow);
            if (holds(widest, from, to) || holds(found, from, to)) {
                continue;
            }
            std::vector<Stretch>& stretches = columns[static_cast<std::size_t>(x)];
            const auto reaching = firstReaching(stretches, from);
            if (reaching != stretches.end() && holds(*reaching, from, to)) {
                found = *reaching;
                continue;
            }
            found = add(stretches, from, to);
            if (widest.top > widest.bottom || found.bottom - found.top >= widest.bottom - widest.top) {
                widest = found;
            }
        }
    }

    // The device pixel edge a card coordinate is rounded to, as GDI+ rounds
    // the corners of what it fills.
    double deviceOf(double v) const { return floorOf(v * scale + 0.5); }

    // Whether, in each of the device columns [fromColumn, toColumn] that a
    // shape within this box (card units) could reach, the widest or the
    // latest stretch covers the box's whole height: then, as cover() judges
    // a shape by its bounds, no shape within the box adds a row there.
    bool coversBox(double left, double right, double high, double low, double fromColumn = 0.0,
                   double toColumn = DEVICE_LIMIT) const {
        high = deviceOf(high);
        low = deviceOf(low);
        // Rows off the surface are never kept: a box wholly above or below it
        // adds nothing anywhere.
        if (low < topRow || high > bottomRow) {
            return true;
        }
        high = std::max(high, topRow);
        low = std::min(low, bottomRow);
        const double first = std::max(deviceOf(left), std::max(fromColumn, 0.0));
        const double last = std::min(deviceOf(right),
                                     std::min(toColumn, static_cast<double>(columns.size()) - 1.0));
        for (double x = first; x <= last; x += 1.0) {
            if (!holds(core[static_cast<std::size_t>(x)], high, low) &&
                !holds(latest[static_cast<std::size_t>(x)], high, low)) {
                return false;
            }
        }
        return true;
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

    // The first stretch that reaches down to top or below: sorted and apart,
    // the stretches' bottoms rise with their tops, and only this one can
    // hold a stretch that starts at top.
    static std::vector<Stretch>::iterator firstReaching(std::vector<Stretch>& stretches, double top) {
        return std::lower_bound(stretches.begin(), stretches.end(), top,
                                [](const Stretch& s, double row) { return s.bottom < row; });
    }

    static bool holds(const Stretch& s, double top, double bottom) {
        return s.top <= top && s.bottom >= bottom;
    }

    // Keeps the stretches sorted and apart: the new one swallows every
    // stretch it overlaps or touches. Returns the stretch it became.
    static Stretch add(std::vector<Stretch>& stretches, double top, double bottom) {
        const auto i = firstReaching(stretches, top);
        auto j = i;
        while (j != stretches.end() && j->top <= bottom) {
            top = std::min(top, j->top);
            bottom = std::max(bottom, j->bottom);
            ++j;
        }
        if (i == j) {
            stretches.insert(i, Stretch{top, bottom});
        } else {
            *i = Stretch{top, bottom};
            stretches.erase(i + 1, j);
        }
        return Stretch{top, bottom};
    }

    static constexpr double EMPTY_TOP = 1e300;
    static constexpr double EMPTY_BOTTOM = -1e300;
    double scale;
    double topRow;     // the rows kept, [topRow, bottomRow]
    double bottomRow;
    std::vector<std::vector<Stretch>> columns;
    // Per column, its widest stretch and the one last found or made, in a
    // flat array that answers most look-ups. Copies: the covered rows only
    // grow, so what a copy holds stays covered when its stretch has merged.
    std::vector<Stretch> core;
    std::vector<Stretch> latest;
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

// A convex polygon the pen covers, of three or four corners; none when
// count is 0.
struct PenShape {
    DevicePoint corners[4];
    int count = 0;
};

// The band of the pen along segment a-b; nothing for a segment of no length.
PenShape segmentShape(const PlotPoint& a, const PlotPoint& b, const Direction& d) {
    PenShape shape;
    if (!d.valid) {
        return shape;
    }
    const double half = CURVE_PEN_WIDTH / 2.0;
    const double nx = -d.y * half;
    const double ny = d.x * half;
    shape.corners[0] = offset(a, nx, ny);
    shape.corners[1] = offset(b, nx, ny);
    shape.corners[2] = offset(b, -nx, -ny);
    shape.corners[3] = offset(a, -nx, -ny);
    shape.count = 4;
    return shape;
}

// The join at p on the outer side of the turn from direction d0 to d1: the
// mitre, or the bevel where the mitre would reach beyond the limit. The inner
// side lies within the bands.
PenShape joinShape(const PlotPoint& p, const Direction& d0, const Direction& d1) {
    PenShape shape;
    if (!d0.valid || !d1.valid) {
        return shape;
    }
    const double cross = d0.x * d1.y - d0.y * d1.x;
    if (cross == 0.0) {
        return shape;  // straight on, or straight back (where both bands end flat)
    }
    const double half = CURVE_PEN_WIDTH / 2.0;
    const double side = cross > 0.0 ? -half : half;
    const DevicePoint a = offset(p, -d0.y * side, d0.x * side);
    const DevicePoint b = offset(p, -d1.y * side, d1.x * side);
    const double bend = 1.0 + d0.x * d1.x + d0.y * d1.y;
    const double mx = (-d0.y - d1.y) * side / bend;
    const double my = (d0.x + d1.x) * side / bend;
    shape.corners[0] = DevicePoint{p.x, p.y};
    shape.corners[1] = a;
    if (bend > 0.0 && mx * mx + my * my < CURVE_MITER_LIMIT * CURVE_MITER_LIMIT * half * half) {
        shape.corners[2] = offset(p, mx, my);
        shape.corners[3] = b;
        shape.count = 4;
    } else {
        shape.corners[2] = b;
        shape.count = 3;
    }
    return shape;
}

// The walk along the drawn points that yields the pen's shapes around the
// points the column reduction leaves out: each point is taken with the two
// before it, so that the segment ending at it and the join at the one before
// are known.
class OutlineWalk {
public:
    // A walk that starts at drawn point `index`; nextKept is the first kept
    // point at or after it.
    OutlineWalk(const std::vector<KeptPoint>& kept, std::size_t index, std::size_t nextKept)
        : kept_(kept), index_(index), nextKept_(nextKept) {}

    template <typename Sink>
    void step(const PlotPoint& p, Sink&& sink) {
        const bool out = !takeKept();
        if (index_ > 0) {
            const Direction after = directionOf(previous_, p);
            if (previousOut_ || out) {
                sink(segmentShape(previous_, p, after));
            }
            // A join belongs to a stroke only when its point and both
            // neighbours are kept.
            if (index_ > 1 && (beforePreviousOut_ || previousOut_ || out)) {
                sink(joinShape(previous_, before_, after));
            }
            before_ = after;
        }
        beforePreviousOut_ = previousOut_;
        previousOut_ = out;
        previous_ = p;
        ++index_;
    }

    // Takes the walk's first point without its own segment and join, as when
    // a walk resumes part way along the series: what reaches back before it
    // was yielded by the walk that went there.
    void enter(const PlotPoint& p) {
        previousOut_ = !takeKept();
        previous_ = p;
        ++index_;
    }

private:
    bool takeKept() {
        const bool isKept = nextKept_ < kept_.size() && kept_[nextKept_].index == index_;
        nextKept_ += isKept ? 1 : 0;
        return isKept;
    }

    const std::vector<KeptPoint>& kept_;
    std::size_t index_;
    std::size_t nextKept_;
    PlotPoint previous_{};
    Direction before_;  // of no length until a segment is known
    bool previousOut_ = false;
    bool beforePreviousOut_ = false;
};

// A box in card units.
struct Bounds {
    double left = std::numeric_limits<double>::infinity();
    double right = -std::numeric_limits<double>::infinity();
    double top = std::numeric_limits<double>::infinity();
    double bottom = -std::numeric_limits<double>::infinity();

    void add(double x0, double x1, double y0, double y1) {
        left = std::min(left, x0);
        right = std::max(right, x1);
        top = std::min(top, y0);
        bottom = std::max(bottom, y1);
    }
};

// The box around every shape of the pen along the points (xs[i], ys[i]),
// i < count, whatever the column reduction keeps: its arithmetic is that of
// segmentShape() and joinShape(), so that the box holds their corners to the
// last bit, with no branch that depends on the series' turns. A shape the
// walk leaves out (of no length, or straight on) only makes the box larger,
// and so does a repeated point. Both arrays hold at least count + 1 values,
// the last of them repeated. Two points at a time where the processor has
// SSE2 (every x86-64 does), one at a time elsewhere; both give the same box.
#if defined(KESTRINE_SSE2_REACH)
// Bounds two lanes wide, each lane a box of its own until the end.
struct PairedBounds {
    __m128d left;
    __m128d right;
    __m128d top;
    __m128d bottom;

    // By reference: 32-bit MSVC passes at most three vectors by value and
    // refuses a fourth (C2719). Inlined, it costs nothing elsewhere.
    void add(const __m128d& x0, const __m128d& x1, const __m128d& y0, const __m128d& y1) {
        left = _mm_min_pd(left, x0);
        right = _mm_max_pd(right, x1);
        top = _mm_min_pd(top, y0);
        bottom = _mm_max_pd(bottom, y1);
    }
};

void addPenReach(const double* xs, const double* ys, std::size_t count, Bounds& box) {
    const __m128d half = _mm_set1_pd(CURVE_PEN_WIDTH / 2.0);
    const __m128d signBit = _mm_set1_pd(-0.0);
    const __m128d zero = _mm_setzero_pd();
    const __m128d limit =
        _mm_set1_pd(CURVE_MITER_LIMIT * CURVE_MITER_LIMIT * (CURVE_PEN_WIDTH / 2.0) *
                    (CURVE_PEN_WIDTH / 2.0));
    PairedBounds lanes = {_mm_set1_pd(box.left), _mm_set1_pd(box.right), _mm_set1_pd(box.top),
                          _mm_set1_pd(box.bottom)};
    lanes.add(_mm_set1_pd(xs[0]), _mm_set1_pd(xs[0]), _mm_set1_pd(ys[0]), _mm_set1_pd(ys[0]));
    // Two segments at a time, [k - 1, k] and [k, k + 1], with the join at
    // k - 1 (the turn from the segment before) and at k.
    __m128d beforeX = zero;  // the direction of the segment ending at k - 1
    __m128d beforeY = zero;
    for (std::size_t k = 1; k < count; k += 2) {
        const __m128d x0 = _mm_loadu_pd(xs + k - 1);
        const __m128d y0 = _mm_loadu_pd(ys + k - 1);
        const __m128d x1 = _mm_loadu_pd(xs + k);
        const __m128d y1 = _mm_loadu_pd(ys + k);
        const __m128d dx = _mm_sub_pd(x1, x0);
        const __m128d dy = _mm_sub_pd(y1, y0);
        const __m128d length = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(dx, dx), _mm_mul_pd(dy, dy)));
        const __m128d valid = _mm_cmpgt_pd(length, zero);
        const __m128d ux = _mm_and_pd(valid, _mm_div_pd(dx, length));
        const __m128d uy = _mm_and_pd(valid, _mm_div_pd(dy, length));
        // The bands: their corners lie half a pen off the segments' ends.
        const __m128d hx = _mm_andnot_pd(signBit, _mm_mul_pd(uy, half));
        const __m128d hy = _mm_andnot_pd(signBit, _mm_mul_pd(ux, half));
        lanes.add(_mm_sub_pd(_mm_min_pd(x0, x1), hx), _mm_add_pd(_mm_max_pd(x0, x1), hx),
                  _mm_sub_pd(_mm_min_pd(y0, y1), hy), _mm_add_pd(_mm_max_pd(y0, y1), hy));
        // The joins at k - 1 and k: the directions in and out of each.
        const __m128d inX = _mm_shuffle_pd(beforeX, ux, 1);
        const __m128d inY = _mm_shuffle_pd(beforeY, uy, 1);
        beforeX = ux;
        beforeY = uy;
        const __m128d cross = _mm_sub_pd(_mm_mul_pd(inX, uy), _mm_mul_pd(inY, ux));
        // Half a pen on the outer side: against the sign of the turn.
        const __m128d side = _mm_or_pd(half, _mm_andnot_pd(cross, signBit));
        const __m128d ax = _mm_add_pd(x0, _mm_mul_pd(_mm_xor_pd(inY, signBit), side));
        const __m128d ay = _mm_add_pd(y0, _mm_mul_pd(inX, side));
        const __m128d bx = _mm_add_pd(x0, _mm_mul_pd(_mm_xor_pd(uy, signBit), side));
        const __m128d by = _mm_add_pd(y0, _mm_mul_pd(ux, side));
        const __m128d bend = _mm_add_pd(_mm_add_pd(_mm_set1_pd(1.0), _mm_mul_pd(inX, ux)),
                                        _mm_mul_pd(inY, uy));
        const __m128d mx = _mm_div_pd(
            _mm_mul_pd(_mm_sub_pd(_mm_xor_pd(inY, signBit), uy), side), bend);
        const __m128d my = _mm_div_pd(_mm_mul_pd(_mm_add_pd(inX, ux), side), bend);
        const __m128d mitre = _mm_and_pd(
            _mm_cmpgt_pd(bend, zero),
            _mm_cmplt_pd(_mm_add_pd(_mm_mul_pd(mx, mx), _mm_mul_pd(my, my)), limit));
        const __m128d tx = _mm_add_pd(x0, _mm_and_pd(mitre, mx));
        const __m128d ty = _mm_add_pd(y0, _mm_and_pd(mitre, my));
        lanes.add(_mm_min_pd(_mm_min_pd(ax, bx), tx), _mm_max_pd(_mm_max_pd(ax, bx), tx),
                  _mm_min_pd(_mm_min_pd(ay, by), ty), _mm_max_pd(_mm_max_pd(ay, by), ty));
    }
    const auto lowest = [](__m128d v) { return _mm_cvtsd_f64(_mm_min_sd(v, _mm_unpackhi_pd(v, v))); };
    const auto highest = [](__m128d v) { return _mm_cvtsd_f64(_mm_max_sd(v, _mm_unpackhi_pd(v, v))); };
    box.left = lowest(lanes.left);
    box.right = highest(lanes.right);
    box.top = lowest(lanes.top);
    box.bottom = highest(lanes.bottom);
}
#else
// v, or 0 where keep is false, without a branch: which of the two it is
// changes from point to point along a jagged series.
double keptOrZero(bool keep, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    bits &= 0 - static_cast<uint64_t>(keep);
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

void addPenReach(const double* xs, const double* ys, std::size_t count, Bounds& box) {
    const double half = CURVE_PEN_WIDTH / 2.0;
    box.add(xs[0], xs[0], ys[0], ys[0]);
    double beforeX = 0.0;
    double beforeY = 0.0;
    for (std::size_t k = 1; k < count; ++k) {
        const double px = xs[k - 1];
        const double py = ys[k - 1];
        const double dx = xs[k] - px;
        const double dy = ys[k] - py;
        const double length = std::sqrt(dx * dx + dy * dy);
        const bool valid = length > 0.0;
        const double ux = keptOrZero(valid, dx / length);
        const double uy = keptOrZero(valid, dy / length);
        const double hx = std::fabs(uy * half);
        const double hy = std::fabs(ux * half);
        box.add(std::min(px, xs[k]) - hx, std::max(px, xs[k]) + hx, std::min(py, ys[k]) - hy,
                std::max(py, ys[k]) + hy);
        const double cross = beforeX * uy - beforeY * ux;
        const double side = std::copysign(half, -cross);
        const double ax = px + -beforeY * side;
        const double ay = py + beforeX * side;
        const double bx = px + -uy * side;
        const double by = py + ux * side;
        const double bend = 1.0 + beforeX * ux + beforeY * uy;
        const double mx = (-beforeY - uy) * side / bend;
        const double my = (beforeX + ux) * side / bend;
        const bool mitre =
            (bend > 0.0) & (mx * mx + my * my < CURVE_MITER_LIMIT * CURVE_MITER_LIMIT * half * half);
        const double tx = px + keptOrZero(mitre, mx);
        const double ty = py + keptOrZero(mitre, my);
        box.add(std::min(std::min(ax, bx), tx), std::max(std::max(ax, bx), tx),
                std::min(std::min(ay, by), ty), std::max(std::max(ay, by), ty));
        beforeX = ux;
        beforeY = uy;
    }
}
#endif

// The pen's extent around the left-out points, a few points at a time.
//
// Along a dense series nearly every shape lies inside what others cover, so
// a batch of points is first judged by the box around all its shapes, and
// its shapes are looked at one by one only where the box may reach beyond
// what is covered. A batch is judged twice: at once in its home columns (the
// columns of its own points, where its mitres reach farthest), and again in
// every column its box spans once the walk has moved on, by when the
// neighbouring columns are covered by their own points. Columns are
// independent, and a shape within what is covered adds nothing, so the
// extent comes out the same as shape by shape in series order.
//
// A batch that reaches somewhere new in its home columns, as along a smooth
// curve, is covered at once, in order. Where first looks mostly find
// something new, or second looks keep doing so, boxes only cost: most
// batches are then covered shape by shape without one.
//
// A batch waiting for its second look holds where the walk can resume to
// yield its shapes again; the number waiting is capped, so what is held does
// not grow with the points.
class BatchedExtent {
public:
    BatchedExtent(PenExtent& extent, const std::vector<PlotPoint>& plotPoints,
                  const std::vector<KeptPoint>& kept, std::size_t batchPoints)
        : extent_(extent), plotPoints_(plotPoints), kept_(kept),
          batchPoints_(std::min(batchPoints, MOST_BATCH_POINTS)) {}

    void run() {
        if (batchPoints_ <= 1) {
            cover(Batch{0, 0, 0, plotPoints_.size(), {}});
            return;
        }
        std::size_t position = 0;
        std::size_t sinceProbe = 0;
        while (position < plotPoints_.size()) {
            // Resumed two drawn points early, the walk knows the segment and
            // join that lead into the batch.
            const std::size_t carried = std::min<std::size_t>(index_, 2);
            Batch batch{index_ - carried, carried == 0 ? position : lastPositions_[2 - carried],
                        position, position, {}};
            // Where boxes have lately not paid, the walk covers the points
            // shape by shape, and tries one batch in PROBE_EVERY, to notice
            // when they pay again.
            if ((boxesPay_ < 0 || waitingPays_ < 0) && ++sinceProbe % PROBE_EVERY != 0) {
                const std::size_t wanted = index_ + batchPoints_;
                for (; position < plotPoints_.size() && index_ < wanted; ++position) {
                    if (!isSkippedPlotPoint(plotPoints_[position])) {
                        take(position);
                    }
                }
                batch.end = position;
                cover(batch);
                continue;
            }
            // The batch's drawn points after the two before it, the last one
            // repeated once more at the end.
            double xs[2 + MOST_BATCH_POINTS + 1];
            double ys[2 + MOST_BATCH_POINTS + 1];
            for (std::size_t i = 0; i < carried; ++i) {
                const PlotPoint& p = plotPoints_[lastPositions_[2 - carried + i]];
                xs[i] = p.x;
                ys[i] = p.y;
            }
            std::size_t count = carried;
            for (; position < plotPoints_.size() && count < carried + batchPoints_; ++position) {
                const PlotPoint& p = plotPoints_[position];
                if (!isSkippedPlotPoint(p)) {
                    xs[count] = p.x;
                    ys[count] = p.y;
                    ++count;
                    take(position);
                }
            }
            if (count == carried) {
                break;  // only skipped points were left
            }
            batch.end = position;
            xs[count] = xs[count - 1];
            ys[count] = ys[count - 1];
            double ownLeft = 0.0;
            double ownRight = 0.0;
            if (!finiteSpan(xs, ys, carried, count, ownLeft, ownRight)) {
                cover(batch);  // bounds that are not numbers judge nothing
                continue;
            }
            addPenReach(xs, ys, count, batch.box);
            const double homeFirst = extent_.deviceOf(ownLeft);
            const double homeLast = extent_.deviceOf(ownRight);
            settleWaiting(homeFirst, homeLast);
            const Bounds& box = batch.box;
            if (!extent_.coversBox(box.left, box.right, box.top, box.bottom, homeFirst,
                                   homeLast)) {
                // It reaches somewhere new: its shapes now, in order, and
                // done.
                cover(batch);
                boxesPay_ = std::max(boxesPay_ - 1, -MOST_CREDIT);
                continue;
            }
            boxesPay_ = std::min(boxesPay_ + PASS_CREDIT, MOST_CREDIT);
            if (waiting_.size() >= MOST_WAITING) {
                settle(waiting_.front());
                waiting_.pop_front();
            }
            waiting_.push_back(batch);
        }
        for (const Batch& batch : waiting_) {
            settle(batch);
        }
        waiting_.clear();
    }

private:
    struct Batch {
        std::size_t resumeIndex;     // the drawn point the walk resumes at
        std::size_t resumePosition;  // and its plot point
        std::size_t begin;           // the batch's plot points, [begin, end)
        std::size_t end;
        Bounds box;                  // around all its shapes
    };

    // How many points a batch holds at most.
    static constexpr std::size_t MOST_BATCH_POINTS = 64;
    // How far the records of first and second looks go either way, and one
    // batch in how many is judged while either is below zero. A box costs
    // about a fifth of covering the shapes that it saves.
    static constexpr int MOST_CREDIT = 16;
    static constexpr int PASS_CREDIT = 4;
    static constexpr std::size_t PROBE_EVERY = 8;
    // How many batches may wait for their second look.
    static constexpr std::size_t MOST_WAITING = 1u << 14;

    // Whether all the points, the two before the batch's own included, are
    // finite; and the x extent of its own points, from `carried` on.
    static bool finiteSpan(const double* xs, const double* ys, std::size_t carried,
                           std::size_t count, double& ownLeft, double& ownRight) {
        ownLeft = ownRight = xs[carried];
        bool finite = true;
        for (std::size_t i = 0; i < count; ++i) {
            finite &= std::isfinite(xs[i]) && std::isfinite(ys[i]);
            if (i > carried) {
                ownLeft = std::min(ownLeft, xs[i]);
                ownRight = std::max(ownRight, xs[i]);
            }
        }
        return finite;
    }

    void take(std::size_t position) {
        lastPositions_[0] = lastPositions_[1];
        lastPositions_[1] = position;
        ++index_;
    }

    // Covers the batch's shapes one by one: on from where the last batch
    // covered ended, or from a walk resumed just before it.
    void cover(const Batch& batch) {
        std::size_t position = batch.begin;
        if (!walk_ || walkEnd_ != batch.begin) {
            const auto firstKept = std::lower_bound(
                kept_.begin(), kept_.end(), batch.resumeIndex,
                [](const KeptPoint& k, std::size_t index) { return k.index < index; });
            walk_.emplace(kept_, batch.resumeIndex,
                          static_cast<std::size_t>(firstKept - kept_.begin()));
            position = batch.resumePosition;
            for (; position < batch.end && isSkippedPlotPoint(plotPoints_[position]); ++position) {
            }
            if (position < batch.end) {
                walk_->enter(plotPoints_[position++]);
            }
        }
        const auto add = [this](const PenShape& shape) {
            if (shape.count > 0) {
                extent_.cover(shape.corners, shape.count);
            }
        };
        for (; position < batch.end; ++position) {
            if (!isSkippedPlotPoint(plotPoints_[position])) {
                walk_->step(plotPoints_[position], add);
            }
        }
        walkEnd_ = batch.end;
    }

    void settle(const Batch& batch) {
        if (extent_.coversBox(batch.box.left, batch.box.right, batch.box.top, batch.box.bottom)) {
            waitingPays_ = std::min(waitingPays_ + 1, MOST_CREDIT);
        } else {
            waitingPays_ = std::max(waitingPays_ - 1, -MOST_CREDIT);
            cover(batch);
        }
    }

    // Gives their second look to the waiting batches that the walk has left
    // behind: the batch now at columns [first, last] reaches none of theirs.
    void settleWaiting(double first, double last) {
        while (!waiting_.empty()) {
            const Batch& oldest = waiting_.front();
            if (first <= extent_.deviceOf(oldest.box.right) &&
                last >= extent_.deviceOf(oldest.box.left)) {
                return;
            }
            settle(oldest);
            waiting_.pop_front();
        }
    }

    PenExtent& extent_;
    const std::vector<PlotPoint>& plotPoints_;
    const std::vector<KeptPoint>& kept_;
    std::size_t batchPoints_;
    std::size_t index_ = 0;                  // drawn points taken so far
    std::size_t lastPositions_[2] = {0, 0};  // of the two latest drawn points
    std::deque<Batch> waiting_;
    // First looks lately that found nothing new (each worth PASS_CREDIT),
    // less those that did; second looks likewise, one for one.
    int boxesPay_ = 0;
    int waitingPays_ = 0;
    std::optional<OutlineWalk> walk_;  // the walk that covered shapes last
    std::size_t walkEnd_ = 0;         // and where it stopped
};

}  // namespace

CurveOutline curveOutline(const std::vector<PlotPoint>& plotPoints, double dpiScale,
                          int32_t surfaceWidth, int32_t surfaceHeight, std::size_t batchPoints) {
    CurveOutline outline;
    // Counted only as far as the limit: a long series is read twice below.
    std::size_t n = 0;
    for (auto p = plotPoints.begin(); p != plotPoints.end() && n <= FULL_DETAIL_POINTS; ++p) {
        n += isSkippedPlotPoint(*p) ? 0 : 1;
    }
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
        reducer.addAll(plotPoints);
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
    // Second pass: the pen around the points left out.
    PenExtent extent(dpiScale, surfaceWidth, surfaceHeight);
    BatchedExtent(extent, plotPoints, kept, batchPoints).run();
    outline.spans = extent.spans(surfaceHeight);
    return outline;
}

}  // namespace kestrine
