// libFuzzer target for the curve's long-series paths: a compact input grows a
// series of thousands to tens of thousands of plot points, and the fast paths
// are checked against the plain ones at several device scales: the
// eight-at-a-time column reduction against the rule written out point by
// point, and the pen's outline judged in batches against every shape covered
// on its own (batch size 1, which curveOutline offers for that).
//
// Input: a 16-byte header, then edits of 8 bytes each.
//   0 shape, 1 x span, 2-3 point count, 4-7 seed, 8 gap rate, 9 repeat rate,
//   10 far-off rate, 11 non-finite rate, 12 y amplitude, 13 the outline's
//   scale, 14 batch size (0 the usual), 15 flags (bit 0 narrow surface, bit 1 y on few levels,
//   bit 2 x on column edges).
//   An edit: position (u16, a fraction of the series), kind, length, value
//   (f32), little endian.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "core/axis_scale.h"
#include "core/curve_columns.h"

namespace {

using kestrine::ColumnSpan;
using kestrine::CurveOutline;
using kestrine::PlotPoint;

constexpr size_t HEADER_SIZE = 16;
constexpr size_t EDIT_SIZE = 8;
constexpr size_t LEAST_POINTS = 2400;  // beyond FULL_DETAIL_POINTS, gaps and all
constexpr size_t MOST_POINTS = 60000;

const float NAN_F = std::numeric_limits<float>::quiet_NaN();
const float INF_F = std::numeric_limits<float>::infinity();
const float FAR = static_cast<float>(kestrine::PLOT_COORDINATE_LIMIT);

// Says what differs, so that a crash file comes with its reading.
[[noreturn]] void fail(const char* what, double scale, long long at) {
    std::fprintf(stderr, "long_series_fuzz: %s at dpiScale %g (index %lld)\n", what, scale, at);
    __builtin_trap();
}

void require(bool condition, const char* what, double scale, long long at = -1) {
    if (!condition) fail(what, scale, at);
}

template <typename T>
T readAt(const uint8_t* bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
}

class Random {
public:
    explicit Random(uint32_t seed) : state(seed * 2654435761u + 1u) {}
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    double unit() { return static_cast<double>(next() >> 8) / 16777216.0; }
    // True with probability rate / 4096.
    bool chance(uint8_t rate) { return (next() & 4095u) < rate; }

private:
    uint32_t state;
};

// The series the header describes, with its edits applied.
std::vector<PlotPoint> growSeries(const uint8_t* header, const uint8_t* edits, size_t editCount) {
    const uint8_t shape = header[0] % 10;
    const double span = 790.0 * (header[1] + 1) / 256.0;
    // Up to MOST_POINTS, but half the series below 10,000 points, so that
    // executions stay quick: the count grows with the cube of its field.
    const double field = readAt<uint16_t>(header, 2) / 65535.0;
    const size_t count = LEAST_POINTS + static_cast<size_t>(field * field * field * (MOST_POINTS - LEAST_POINTS));
    Random random(readAt<uint32_t>(header, 4));
    const uint8_t gapRate = header[8];
    const uint8_t repeatRate = header[9];
    const uint8_t farRate = header[10];
    const uint8_t nonFiniteRate = header[11];
    const double amplitude = std::ldexp(1.0, (header[12] - 128) / 16);
    const uint8_t flags = header[15];

    std::vector<PlotPoint> points(count);
    double y = 300.0;
    double burstX = 0.0;
    double burstY = 0.0;
    for (size_t i = 0; i < count; ++i) {
        const double along = static_cast<double>(i) / static_cast<double>(count);
        double x = 72.0 + span * along;
        const double u = random.unit();
        switch (shape) {
            case 0: y += (u - 0.49) * amplitude; break;                // a walk
            case 1: y = 300.0 + amplitude * (u - 0.5) * 380.0; break;  // noise
            case 2: x = 72.0 + span * (1.0 - along); y += (u - 0.5) * amplitude; break;  // leftwards
            case 3:  // bursts in one place, then elsewhere
                if (i % 200 == 0) {
                    burstX = 72.0 + 790.0 * random.unit();
                    burstY = 110.0 + 380.0 * random.unit();
                }
                x = burstX + 0.9 * random.unit();
                y = burstY + amplitude * (u - 0.5);
                break;
            case 4:  // back and forth sideways while creeping down
                x = 400.0 + (i % 2 == 0 ? 0.0 : 3.0 * u);
                y = 100.0 + amplitude * 0.01 * static_cast<double>(i);
                break;
            case 5: y = 200.0 + 0.01 * amplitude * static_cast<double>(i) + 0.001 * u; break;  // a slope
            case 6: y = 300.0 + amplitude * std::sin(static_cast<double>(i) * (0.05 + u * 0.001)); break;
            case 7: x = 72.0 + span * u; y = 300.0 + amplitude * (random.unit() - 0.5); break;  // scattered
            case 8: if (i % 37 == 0) y = 110.0 + 380.0 * u; break;    // stairs
            default: x = 400.3; y += (u - 0.5) * amplitude; break;    // one column
        }
        if (flags & 2) y = std::floor(y / 4.0) * 4.0;  // few levels: lowest and highest tie
        if (flags & 4) x = std::floor(x * 4.0) / 4.0;  // on the edges of columns at every scale
        points[i] = PlotPoint{static_cast<float>(x), static_cast<float>(y)};
        if (i > 0 && random.chance(repeatRate)) points[i] = points[i - 1];
        if (random.chance(gapRate)) points[i] = PlotPoint{NAN_F, NAN_F};
        if (random.chance(farRate)) points[i].y = random.next() & 1 ? FAR : -FAR;
        if (random.chance(nonFiniteRate)) points[i].y = random.next() & 1 ? INF_F : -INF_F;
    }

    for (size_t e = 0; e < editCount; ++e) {
        const uint8_t* edit = edits + e * EDIT_SIZE;
        const size_t at = readAt<uint16_t>(edit, 0) * count / 65536;
        const uint8_t kind = edit[2] % 8;
        const size_t end = std::min(count, at + 1 + edit[3]);
        float value = readAt<float>(edit, 4);
        if (std::isnan(value)) value = 0.0f;
        const float plotValue = std::max(-FAR, std::min(FAR, value));
        for (size_t i = at; i < end; ++i) {
            PlotPoint& p = points[i];
            switch (kind) {
                case 0: p.y = plotValue; break;  // a flat run
                case 1: p.y = std::max(-FAR, std::min(FAR, p.y + value)); break;  // a step
                case 2: p.x = plotValue; break;  // all in one column, or a jump back
                case 3: p = PlotPoint{NAN_F, NAN_F}; break;  // a gap
                case 4: p = points[at]; break;  // one point repeated
                case 5: p.y = value < 0 ? -FAR : FAR; break;  // far off the card
                case 6: (std::fabs(value) >= 1.0f ? p.x : p.y) = std::signbit(value) ? -INF_F : INF_F; break;
                default: p.y = (i % 2 == 0 ? 1.0f : -1.0f) * plotValue + 300.0f; break;  // a zigzag
            }
        }
    }
    return points;
}

// The reduction written out plainly, one point at a time: each maximal run
// of drawn points in one device column (floor of x times dpiScale) gives its
// first, lowest and highest (each the earliest of equal values) and last
// point, in series order and each once.
std::vector<size_t> plainReduction(const std::vector<PlotPoint>& drawn, double dpiScale) {
    std::vector<size_t> kept;
    for (size_t i = 0; i < drawn.size();) {
        const double column = std::floor(drawn[i].x * dpiScale);
        size_t end = i + 1;
        size_t low = i;
        size_t high = i;
        for (; end < drawn.size() && std::floor(drawn[end].x * dpiScale) == column; ++end) {
            low = drawn[end].y < drawn[low].y ? end : low;
            high = drawn[end].y > drawn[high].y ? end : high;
        }
        size_t run[4] = {i, low, high, end - 1};
        std::sort(run, run + 4);
        for (int k = 0; k < 4; ++k) {
            if (k == 0 || run[k] != run[k - 1]) kept.push_back(run[k]);
        }
        i = end;
    }
    return kept;
}

bool samePoint(const PlotPoint& a, const PlotPoint& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void checkSameOutline(const CurveOutline& fast, const CurveOutline& plain, double scale) {
    require(fast.strokes.size() == plain.strokes.size(), "batched outline: stroke count", scale);
    for (size_t i = 0; i < fast.strokes.size(); ++i) {
        require(fast.strokes[i].size() == plain.strokes[i].size(), "batched outline: stroke length", scale,
                static_cast<long long>(i));
        for (size_t k = 0; k < fast.strokes[i].size(); ++k) {
            require(samePoint(fast.strokes[i][k], plain.strokes[i][k]), "batched outline: stroke point",
                    scale, static_cast<long long>(i));
        }
    }
    require(fast.spans.size() == plain.spans.size(), "batched outline: span count", scale);
    for (size_t i = 0; i < fast.spans.size(); ++i) {
        const ColumnSpan& a = fast.spans[i];
        const ColumnSpan& b = plain.spans[i];
        require(a.column == b.column && a.top == b.top && a.bottom == b.bottom,
                "batched outline: span differs from shape by shape", scale, a.column);
    }
}

// The plain rule's indices, once checked against the reduction.
std::vector<size_t> checkReduction(const std::vector<PlotPoint>& points, const std::vector<PlotPoint>& drawn,
                                   double scale) {
    const std::vector<size_t> kept = kestrine::columnReduction(points, scale);
    std::vector<size_t> plain = plainReduction(drawn, scale);
    if (kept != plain) {
        size_t i = 0;
        while (i < kept.size() && i < plain.size() && kept[i] == plain[i]) ++i;
        fail("eight-at-a-time reduction differs from the plain rule", scale, static_cast<long long>(i));
    }
    return plain;
}

void checkOutline(const std::vector<PlotPoint>& points, const std::vector<PlotPoint>& drawn,
                  const std::vector<size_t>& plain, double scale, size_t batch, bool narrow) {

    const int32_t width = narrow ? static_cast<int32_t>(300 * scale) : static_cast<int32_t>(920 * scale + 0.5);
    const int32_t height = static_cast<int32_t>(560 * scale + 0.5);
    const CurveOutline single = kestrine::curveOutline(points, scale, width, height, 1);

    // The strokes are the stretches of consecutive kept points of the plain
    // rule (beyond the detail limit).
    if (drawn.size() > kestrine::FULL_DETAIL_POINTS) {
        size_t stroke = 0;
        for (size_t k = 0; k < plain.size();) {
            size_t end = k + 1;
            while (end < plain.size() && plain[end] == plain[end - 1] + 1) ++end;
            if (end - k >= 2) {
                require(stroke < single.strokes.size() && single.strokes[stroke].size() == end - k,
                        "strokes are not the plain rule's stretches", scale, static_cast<long long>(k));
                for (size_t j = k; j < end; ++j) {
                    require(samePoint(single.strokes[stroke][j - k], drawn[plain[j]]),
                            "stroke point is not the kept point", scale, static_cast<long long>(j));
                }
                ++stroke;
            }
            k = end;
        }
        require(stroke == single.strokes.size(), "strokes beyond the plain rule's", scale);
    }
    int32_t column = -1;
    for (const ColumnSpan& span : single.spans) {
        require(span.column >= column && span.column < width, "span column out of order or off the surface",
                scale, span.column);
        require(span.top >= 0 && span.top < span.bottom && span.bottom <= height, "span rows", scale, span.column);
        column = span.column;
    }

    checkSameOutline(kestrine::curveOutline(points, scale, width, height, batch), single, scale);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t header[HEADER_SIZE] = {};
    std::memcpy(header, data, std::min(size, HEADER_SIZE));
    const uint8_t* edits = size > HEADER_SIZE ? data + HEADER_SIZE : data;
    const size_t editCount = size > HEADER_SIZE ? std::min<size_t>((size - HEADER_SIZE) / EDIT_SIZE, 64) : 0;

    const std::vector<PlotPoint> points = growSeries(header, edits, editCount);
    const std::vector<PlotPoint> drawn = kestrine::drawnPoints(points);

    // The outline at the scale the input picks (half the time 1, 2 or 4,
    // else one between), the cheaper reduction at 1, 2 and 4 besides.
    static const double SCALES[] = {1.0, 2.0, 4.0, 1.0, 2.0, 4.0, 1.0, 2.0,
                                    1.25, 1.5, 1.75, 2.25, 2.5, 3.0, 3.5, 5.0};
    const double scale = SCALES[header[13] % 16];
    for (double other : {1.0, 2.0, 4.0}) {
        if (other != scale) checkReduction(points, drawn, other);
    }
    const std::vector<size_t> plain = checkReduction(points, drawn, scale);
    // Batches of the usual size unless the input asks for another.
    const size_t batch = header[14] == 0 ? kestrine::OUTLINE_BATCH_POINTS : 2 + header[14] % 63;
    checkOutline(points, drawn, plain, scale, batch, (header[15] & 1) != 0);
    return 0;
}
