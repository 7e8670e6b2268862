// Where the glowing head marker sits on the curve at a moment of the drawing
// animation. The head moves linearly in time along the x values; each point is
// reached at x / xMax * animationSeconds.
#pragma once

#include <cstddef>
#include <vector>

#include "core/chart_request.h"

namespace kestrine {

// Rules, in order:
//  - only points with finite card coordinates take part (a skipped point, see
//    isSkippedPlotPoint, is as if absent, and the curve joins its neighbours);
//    while animating, a point also needs a finite reach time;
//  - not animating (animatesOnCard): the last such point; exactly one such point: that point;
//  - elapsed at or past the last point's reach time: the last point;
//  - else the first segment whose ends' reach times enclose the elapsed time,
//    interpolated linearly (an end reached no later than 1e-9 s after the other
//    gives the segment's end point);
//  - else (before the first reach time, or x out of order): the first point.
// With no such point at all the result is a point with both coordinates NaN,
// which isSkippedPlotPoint reports: the caller draws no marker.

// What the head search needs from a record, computed once per record so that
// each animation frame costs a binary search instead of a scan when the reach
// times ascend. The reach times are computed from the record's own x values
// when searched; only a series with points that cannot carry the head among
// those that can keeps the indices of the ones that can. Build it after
// computeChartScale; it describes the record's plotPoints, xValues, xMax and
// animationSeconds at that moment.
struct HeadTrack {
    std::size_t firstCandidate = 0;       // animated candidates: the first,
    std::size_t lastCandidate = 0;        // the last,
    std::size_t candidateCount = 0;       // and how many
    std::vector<std::size_t> pointIndex;  // all of them, when not consecutive
    std::size_t lastDrawn = 0;            // last point with finite coordinates
    bool anyDrawn = false;
    bool ascending = false;               // reach times never decrease
    // The record state the track was built from; a mismatch makes
    // headPosition ignore the track and scan instead.
    std::size_t pointCount = 0;
    std::size_t xValueCount = 0;
    double xMax = 0.0;
    double animationSeconds = 0.0;
};

HeadTrack buildHeadTrack(const ChartRequest& request);

// The head, using a track built from this record (falls back to the scan when
// the track no longer matches the record).
PlotPoint headPosition(const ChartRequest& request, const HeadTrack& track,
                       double elapsedSeconds);

// The head by a plain scan of the record, without a track; same result.
PlotPoint headPosition(const ChartRequest& request, double elapsedSeconds);

}  // namespace kestrine
