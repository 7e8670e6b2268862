// The head marker's position along the curve during the drawing animation:
// a plain scan, and a precomputed track that answers ascending series with a
// binary search. Both give bit-identical results.

#include "core/head_position.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrine {

namespace {

// Reach times closer than this count as one instant: the segment's end wins.
constexpr double MIN_SEGMENT_SECONDS = 1e-9;

bool hasFiniteCoordinates(const PlotPoint& point) {
    return std::isfinite(point.x) && std::isfinite(point.y);
}

PlotPoint noHead() {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    return PlotPoint{nan, nan};
}

double reachTime(const ChartRequest& request, std::size_t i) {
    return request.xValues[i] / request.xMax * request.animationSeconds;
}

// Points that can carry an animated head: drawn, with a reach time.
std::size_t candidateLimit(const ChartRequest& request) {
    return std::min(request.plotPoints.size(), request.xValues.size());
}

bool isCandidate(const ChartRequest& request, std::size_t i) {
    return hasFiniteCoordinates(request.plotPoints[i]) && std::isfinite(reachTime(request, i));
}

// Point a plus f of the way to b, in double precision from the float points.
PlotPoint interpolate(const PlotPoint& a, const PlotPoint& b, double fromTime, double toTime,
                      double elapsedSeconds) {
    const double duration = toTime - fromTime;
    double fraction = duration > MIN_SEGMENT_SECONDS ? (elapsedSeconds - fromTime) / duration : 1.0;
    // Enclosing reach times keep the fraction within 0..1; this only guards
    // against an overflowed difference.
    if (!(fraction >= 0.0 && fraction <= 1.0)) {
        fraction = 1.0;
    }
    const double ax = a.x;
    const double ay = a.y;
    return PlotPoint{static_cast<float>(ax + fraction * (static_cast<double>(b.x) - ax)),
                     static_cast<float>(ay + fraction * (static_cast<double>(b.y) - ay))};
}

PlotPoint lastDrawnPoint(const ChartRequest& request) {
    for (std::size_t i = request.plotPoints.size(); i > 0; --i) {
        if (hasFiniteCoordinates(request.plotPoints[i - 1])) {
            return request.plotPoints[i - 1];
        }
    }
    return noHead();
}

bool trackMatches(const ChartRequest& request, const HeadTrack& track) {
    return track.pointCount == request.plotPoints.size() &&
           track.xValueCount == request.xValues.size() && track.xMax == request.xMax &&
           track.animationSeconds == request.animationSeconds;
}

}  // namespace

HeadTrack buildHeadTrack(const ChartRequest& request) {
    HeadTrack track;
    track.pointCount = request.plotPoints.size();
    track.xValueCount = request.xValues.size();
    track.xMax = request.xMax;
    track.animationSeconds = request.animationSeconds;
    for (std::size_t i = request.plotPoints.size(); i > 0; --i) {
        if (hasFiniteCoordinates(request.plotPoints[i - 1])) {
            track.lastDrawn = i - 1;
            track.anyDrawn = true;
            break;
        }
    }
    // One pass: the candidates' extent and count, and whether their reach
    // times ascend.
    const std::size_t limit = candidateLimit(request);
    track.ascending = true;
    double previousTime = 0.0;
    for (std::size_t i = 0; i < limit; ++i) {
        if (!isCandidate(request, i)) {
            continue;
        }
        const double time = reachTime(request, i);
        if (track.candidateCount == 0) {
            track.firstCandidate = i;
        } else if (time < previousTime) {
            track.ascending = false;
        }
        track.lastCandidate = i;
        previousTime = time;
        ++track.candidateCount;
    }
    const std::size_t span =
        track.candidateCount == 0 ? 0 : track.lastCandidate - track.firstCandidate + 1;
    if (track.ascending && span != track.candidateCount) {
        track.pointIndex.reserve(track.candidateCount);
        for (std::size_t i = track.firstCandidate; i <= track.lastCandidate; ++i) {
            if (isCandidate(request, i)) {
                track.pointIndex.push_back(i);
            }
        }
    }
    return track;
}

PlotPoint headPosition(const ChartRequest& request, double elapsedSeconds) {
    if (!animatesOnCard(request)) {
        return lastDrawnPoint(request);
    }
    const std::size_t limit = candidateLimit(request);
    std::size_t first = limit;
    std::size_t last = limit;
    for (std::size_t i = 0; i < limit; ++i) {
        if (isCandidate(request, i)) {
            if (first == limit) {
                first = i;
            }
            last = i;
        }
    }
    if (first == limit) {
        return noHead();
    }
    const std::vector<PlotPoint>& points = request.plotPoints;
    if (first == last || elapsedSeconds >= reachTime(request, last)) {
        return points[last];
    }
    std::size_t previous = first;
    double previousTime = reachTime(request, first);
    for (std::size_t i = first + 1; i <= last; ++i) {
        if (!isCandidate(request, i)) {
            continue;
        }
        const double time = reachTime(request, i);
        if (previousTime <= elapsedSeconds && elapsedSeconds <= time) {
            return interpolate(points[previous], points[i], previousTime, time, elapsedSeconds);
        }
        previous = i;
        previousTime = time;
    }
    return points[first];
}

PlotPoint headPosition(const ChartRequest& request, const HeadTrack& track,
                       double elapsedSeconds) {
    if (!trackMatches(request, track)) {
        return headPosition(request, elapsedSeconds);
    }
    const std::vector<PlotPoint>& points = request.plotPoints;
    if (!animatesOnCard(request)) {
        return track.anyDrawn ? points[track.lastDrawn] : noHead();
    }
    const std::size_t count = track.candidateCount;
    if (count == 0) {
        return noHead();
    }
    const std::size_t last = track.lastCandidate;
    if (count == 1 || elapsedSeconds >= reachTime(request, last)) {
        return points[last];
    }
    if (!track.ascending) {
        return headPosition(request, elapsedSeconds);
    }
    // Before the first reach time (or a NaN elapsed time) no segment qualifies.
    const std::size_t first = track.firstCandidate;
    if (!(reachTime(request, first) <= elapsedSeconds)) {
        return points[first];
    }
    // The candidates in series order: consecutive points, or the kept list.
    const bool consecutive = track.pointIndex.empty();
    const auto candidate = [&](std::size_t k) {
        return consecutive ? first + k : track.pointIndex[k];
    };
    // The first segment (k - 1, k) with t(k - 1) <= e <= t(k) ends at the first
    // k >= 1 with t(k) >= e: every earlier end lies before e. One exists, as e
    // is below the last reach time.
    std::size_t low = 1;
    std::size_t high = count - 1;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (reachTime(request, candidate(middle)) < elapsedSeconds) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    const std::size_t from = candidate(low - 1);
    const std::size_t to = candidate(low);
    return interpolate(points[from], points[to], reachTime(request, from), reachTime(request, to),
                       elapsedSeconds);
}

}  // namespace kestrine
