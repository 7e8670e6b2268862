// The card's texts for screen readers, built from the record when asked: the
// x range in the x axis's words, the y values in the readout's.

#include "core/card_description.h"

#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include "core/axis_ticks.h"
#include "core/labels.h"
#include "core/readout.h"

namespace kestrine {

namespace {

constexpr wchar_t WINDOW_TITLE[] = L"Kestrine";

std::wstring xAsAxisWrites(const ChartRequest& request, double x) {
    return request.numericXAxis == 1 ? formatAxisValue(x) : clockLabel(x);
}

// A sign in front of every value but zero, so that a listener hears a gain
// and a loss told apart as the card's colours tell them apart.
std::wstring signedY(double y) {
    const std::wstring text = formatReadoutNumber(y);
    return y > 0.0 ? L"+" + text : text;
}

// Without a copy: the card compares names while it adopts a record, where
// nothing may fail.
std::wstring_view nameOf(const ChartRequest& request) {
    return request.titleText.empty() ? std::wstring_view(WINDOW_TITLE)
                                     : std::wstring_view(request.titleText);
}

}  // namespace

std::wstring cardAccessibleName(const ChartRequest& request) {
    return std::wstring(nameOf(request));
}

std::wstring seriesSentence(const ChartRequest& request) {
    const std::size_t count = request.xValues.size() < request.yValues.size()
                                  ? request.xValues.size()
                                  : request.yValues.size();
    std::size_t drawn = 0;
    double xLow = 0.0, xHigh = 0.0, last = 0.0, low = 0.0, high = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const double x = request.xValues[i];
        const double y = request.yValues[i];
        if (!std::isfinite(x) || !std::isfinite(y)) {
            continue;
        }
        if (drawn == 0) {
            xLow = xHigh = x;
            low = high = y;
        }
        xLow = std::fmin(xLow, x);
        xHigh = std::fmax(xHigh, x);
        low = std::fmin(low, y);
        high = std::fmax(high, y);
        last = y;
        ++drawn;
    }
    if (drawn == 0) {
        return L"No points drawn";
    }
    std::wstring sentence = std::to_wstring(drawn);
    sentence += drawn == 1 ? L" point, " : L" points, ";
    sentence += xAsAxisWrites(request, xLow);
    sentence += L" to ";
    sentence += xAsAxisWrites(request, xHigh);
    sentence += L"; last ";
    sentence += signedY(last);
    sentence += L", low ";
    sentence += signedY(low);
    sentence += L", high ";
    sentence += signedY(high);
    return sentence;
}

std::wstring cardAccessibleDescription(const ChartRequest& request) {
    std::wstring description;
    for (const std::wstring* part : {&request.subtitleText, &request.noteText}) {
        if (!part->empty()) {
            description += *part;
            description += L'\n';
        }
    }
    description += seriesSentence(request);
    return description;
}

CardTextChanges cardTextChanges(const ChartRequest& shown, const ChartRequest& fresh) noexcept {
    CardTextChanges changes;
    changes.name = nameOf(shown) != nameOf(fresh);
    changes.value = shown.valueText != fresh.valueText;
    return changes;
}

}  // namespace kestrine
