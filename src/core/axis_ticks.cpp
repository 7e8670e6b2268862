// Tick choice and grid geometry of the card's axes, with their labels.
// Everything is computed in double precision from the record's scale fields.

#include "core/axis_ticks.h"

#include <cmath>
#include <cstddef>
#include <utility>

#include "core/labels.h"

namespace kestrine {

namespace {

// Plot area in logical card units.
constexpr double PLOT_LEFT = 72.0;
constexpr double PLOT_TOP = 110.0;
constexpr double PLOT_WIDTH = 790.0;
constexpr double PLOT_HEIGHT = 380.0;

constexpr int Y_GRID_LINE_COUNT = 6;
constexpr int TIME_TICK_COUNT = 7;
// A numeric axis gets at most seven ticks (floor(xMax / step) <= 6, from 0);
// one spare slot is the loop's hard limit.
constexpr std::size_t MAX_NUMERIC_TICKS = 8;
constexpr double TICK_SLACK = 1e-9;
constexpr double SECONDS_PER_DAY = 86400.0;

}  // namespace

double numericTickStep(double xMax) {
    if (xMax <= 0.0) {
        return 1.0;
    }
    static const double MULTIPLIERS[] = {1.0, 2.0, 5.0};
    double power = 1.0;
    for (int exponent = 0; exponent <= 11; ++exponent) {
        for (double multiplier : MULTIPLIERS) {
            const double step = multiplier * power;
            if (std::floor(xMax / step + TICK_SLACK) <= 6.0) {
                return step;
            }
        }
        power *= 10.0;
    }
    return xMax;
}

std::vector<double> numericTickValues(double xMax) {
    std::vector<double> values;
    if (!std::isfinite(xMax) || xMax + TICK_SLACK < 0.0) {
        return values;
    }
    const double step = numericTickStep(xMax);
    const double limit = xMax + TICK_SLACK;
    // The step rule allows at most seven ticks; the count limit and the
    // advance check keep the loop finite even if a step failed to move v.
    for (std::size_t k = 0; k < MAX_NUMERIC_TICKS; ++k) {
        const double value = static_cast<double>(k) * step;
        if (!(value <= limit)) {
            break;
        }
        if (!values.empty() && !(value > values.back())) {
            break;
        }
        values.push_back(value);
    }
    return values;
}

std::vector<XTick> numericXTicks(double xMax) {
    std::vector<XTick> ticks;
    for (double value : numericTickValues(xMax)) {
        XTick tick;
        // An axis of zero width (never produced by the scale) keeps its one
        // tick at the left edge instead of at 0 / 0.
        tick.logicalX = xMax > 0.0 ? PLOT_LEFT + PLOT_WIDTH * value / xMax : PLOT_LEFT;
        tick.value = value;
        tick.label = formatAxisValue(value);
        ticks.push_back(std::move(tick));
    }
    return ticks;
}

std::wstring clockLabel(double seconds, bool withSeconds) {
    int hours = 0;
    int minutes = 0;
    int secondsOfMinute = 0;
    if (seconds >= 0.0 && std::isfinite(seconds)) {
        // fmod is exact, and a whole number of days changes neither the hour
        // of the day nor the minute of the hour (86400 = 24 * 3600 = 1440 * 60),
        // so reducing first gives the same result as whole-number division
        // without converting a huge value to an integer type.
        const int secondOfDay = static_cast<int>(std::fmod(std::trunc(seconds), SECONDS_PER_DAY));
        hours = secondOfDay / 3600;
        minutes = (secondOfDay / 60) % 60;
        secondsOfMinute = secondOfDay % 60;
    }
    wchar_t buffer[16];
    if (withSeconds) {
        formatBounded(buffer, 16, L"%02d:%02d:%02d", hours, minutes, secondsOfMinute);
    } else {
        formatBounded(buffer, 16, L"%02d:%02d", hours, minutes);
    }
    return buffer;
}

std::vector<XTick> timeXTicks(double xMax) {
    std::vector<XTick> ticks;
    ticks.reserve(TIME_TICK_COUNT);
    for (int j = 0; j < TIME_TICK_COUNT; ++j) {
        double value = j * xMax / 6.0;
        // j * xMax overflows for xMax beyond DBL_MAX / 6. Dividing first keeps
        // the value finite at the cost of one rounding step, except at the last
        // tick, where it can still round past the largest double: that tick's
        // value is xMax itself.
        if (std::isfinite(xMax) && !std::isfinite(value)) {
            value = j == TIME_TICK_COUNT - 1 ? xMax : j * (xMax / 6.0);
        }
        XTick tick;
        tick.logicalX = PLOT_LEFT + j * PLOT_WIDTH / 6.0;
        tick.value = value;
        tick.label = clockLabel(value);
        ticks.push_back(std::move(tick));
    }
    return ticks;
}

std::vector<XTick> xAxisTicks(const ChartRequest& request) {
    return request.numericXAxis != 0 ? numericXTicks(request.xMax) : timeXTicks(request.xMax);
}

std::vector<YGridLine> yGridLines(double yAxisMin, double yAxisMax) {
    std::vector<YGridLine> lines;
    lines.reserve(Y_GRID_LINE_COUNT);
    for (int i = 0; i < Y_GRID_LINE_COUNT; ++i) {
        YGridLine line;
        line.logicalY = PLOT_TOP + i * PLOT_HEIGHT / 5.0;
        line.value = yAxisMax - (yAxisMax - yAxisMin) * i / 5.0;
        line.label = formatAxisValue(line.value);
        lines.push_back(std::move(line));
    }
    return lines;
}

std::optional<double> zeroLineY(double yAxisMin, double yAxisMax) {
    const double range = yAxisMax - yAxisMin;
    if (!(range > 0.0) || !std::isfinite(range)) {
        return std::nullopt;
    }
    const double y = PLOT_TOP + PLOT_HEIGHT * yAxisMax / range;
    if (!std::isfinite(y)) {
        return std::nullopt;
    }
    return y;
}

}  // namespace kestrine
