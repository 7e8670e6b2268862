// libFuzzer target for the portable core: arbitrary arguments of one call go
// through request building, the axis scale and the axis labels, and every
// guarantee the window and the renderer rely on is checked.
//
// Input: a 32-byte header of options (xAxisMode, autoCloseSeconds, animate,
// animationSeconds, positive, positiveColor, negativeColor; little endian),
// then UTF-16 code units, split at U+0000 into series and the four texts (a
// text that is missing is passed as null).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "core/axis_scale.h"
#include "core/labels.h"
#include "core/placement.h"
#include "core/readout.h"
#include "core/request_building.h"

namespace {

constexpr size_t HEADER_SIZE = 32;

void require(bool condition) {
    if (!condition) __builtin_trap();
}

template <typename T>
T readHeader(const uint8_t* header, size_t offset) {
    T value;
    std::memcpy(&value, header + offset, sizeof value);
    return value;
}

bool sameConversion(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The value a part of the series must give: natively the C runtime is glibc,
// whose wcstod in the "C" locale is correctly rounded, and our general
// conversion must give the same bits for every part; elsewhere that
// conversion stands in for it.
double expectedConversion(const std::wstring& part) {
    double ours = kestrine::convertSeriesNumber(part.data(), part.data() + part.size());
#ifdef __GLIBC__
    require(sameConversion(ours, std::wcstod(part.c_str(), nullptr)));
#endif
    return ours;
}

// Every stored point against its two parts converted by themselves, item by
// item as the series is cut: whichever way parsing took, the values are the
// conversion's.
void compareWithRuntime(const wchar_t* series, const std::vector<double>& xs, const std::vector<double>& ys) {
    size_t point = 0;
    const wchar_t* item = series;
    for (;;) {
        const wchar_t* end = item;
        while (*end != L'\0' && *end != L';') ++end;
        const std::wstring text(item, end);
        const size_t colon = text.find(L':');
        if (colon != std::wstring::npos) {
            require(point < xs.size() && point < ys.size());
            require(sameConversion(xs[point], expectedConversion(text.substr(0, colon))));
            require(sameConversion(ys[point], expectedConversion(text.substr(colon + 1))));
            ++point;
        } else {
            expectedConversion(text);
        }
        if (*end == L'\0') break;
        item = end + 1;
    }
    require(point == xs.size() && point == ys.size());
}

void checkLabel(double value) {
    std::wstring label = kestrine::formatAxisValue(value);
    require(!label.empty() && label.size() <= 63 + 21 + 1);
    for (wchar_t c : label) require((c >= L'0' && c <= L'9') || c == L',' || c == L'-');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t header[HEADER_SIZE] = {};
    std::memcpy(header, data, size < HEADER_SIZE ? size : HEADER_SIZE);
    size_t offset = size < HEADER_SIZE ? size : HEADER_SIZE;

    std::vector<wchar_t> units;
    for (; offset + 1 < size; offset += 2) {
        units.push_back(static_cast<wchar_t>(data[offset] | (data[offset + 1] << 8)));
    }
    units.push_back(L'\0');

    const wchar_t* texts[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
    int found = 0;
    size_t start = 0;
    for (size_t i = 0; i < units.size() && found < 5; ++i) {
        if (units[i] == L'\0') {
            texts[found++] = &units[start];
            start = i + 1;
        }
    }
    // A lone empty series stands for a null one, so both paths are reached.
    if (found == 1 && units.size() == 1) texts[0] = nullptr;

    int32_t xAxisMode = readHeader<int32_t>(header, 0);
    int32_t autoClose = readHeader<int32_t>(header, 4);
    int32_t animate = readHeader<int32_t>(header, 8);
    double animationSeconds = readHeader<double>(header, 12);
    int32_t positive = readHeader<int32_t>(header, 20);
    uint32_t positiveColor = readHeader<uint32_t>(header, 24);
    uint32_t negativeColor = readHeader<uint32_t>(header, 28);

    std::unique_ptr<kestrine::ChartRequest> request =
        kestrine::buildChartRequest(texts[0], texts[1], texts[2], texts[3], texts[4], xAxisMode, autoClose, animate,
                                    animationSeconds, positive, positiveColor, negativeColor);
    if (texts[0] != nullptr) {
        std::vector<double> xs;
        std::vector<double> ys;
        kestrine::parseSeries(texts[0], xs, ys);
        compareWithRuntime(texts[0], xs, ys);
        require((request == nullptr) == xs.empty());
        if (request != nullptr) {
            require(request->xValues.size() == xs.size());
            for (size_t i = 0; i < xs.size(); ++i) {
                require(sameConversion(request->xValues[i], xs[i]) && sameConversion(request->yValues[i], ys[i]));
            }
        }
    }
    if (request == nullptr) return 0;

    require(!request->xValues.empty());
    require(request->xValues.size() == request->yValues.size());
    require(request->numericXAxis == 0 || request->numericXAxis == 1);
    require(request->autoCloseSeconds >= 0 && request->autoCloseSeconds <= 3600);
    require(request->animationSeconds >= 0.3 && request->animationSeconds <= 10.0);
    require((request->accentColor >> 24) == 0xFF);
    require(request->titleText == (texts[1] != nullptr ? texts[1] : L""));
    require(request->noteText == (texts[4] != nullptr ? texts[4] : L""));

    kestrine::computeChartScale(*request);
    require(std::isfinite(request->xMax) && request->xMax >= 1.0);
    require(std::isfinite(request->yAxisMin) && std::isfinite(request->yAxisMax));
    require(request->yAxisMin <= 0.0 && 0.0 <= request->yAxisMax);
    require(request->yAxisMax > request->yAxisMin);
    require(std::isfinite(request->yAxisMax - request->yAxisMin));
    require(request->plotPoints.size() == request->xValues.size());
    for (size_t i = 0; i < request->plotPoints.size(); ++i) {
        const kestrine::PlotPoint& point = request->plotPoints[i];
        bool finiteData = std::isfinite(request->xValues[i]) && std::isfinite(request->yValues[i]);
        if (finiteData) {
            require(std::fabs(point.x) <= kestrine::PLOT_COORDINATE_LIMIT);
            require(std::fabs(point.y) <= kestrine::PLOT_COORDINATE_LIMIT);
        } else {
            require(kestrine::isSkippedPlotPoint(point) && std::isnan(point.x) && std::isnan(point.y));
        }
    }

    checkLabel(request->yAxisMin);
    checkLabel(request->yAxisMax);
    checkLabel(request->xMax);

    // The readout's column table answers as the scan does, at a scale the
    // header picks; every label it would show is short and every box fits.
    const double scales[] = {0.5, 1.0, 1.25, 2.0, 4.0};
    const double scale = scales[header[31] % 5];
    const int32_t columns = static_cast<int32_t>(kestrine::CARD_LOGICAL_WIDTH * scale);
    const kestrine::NearestPointTable table =
        kestrine::NearestPointTable::build(request->plotPoints, scale, columns);
    const bool seconds = kestrine::readoutShowsSeconds(*request);
    for (int32_t c = 0; c < columns; c += 7) {
        const size_t nearest = table.at(c);
        require(nearest == kestrine::nearestDrawnPoint(request->plotPoints,
                                                       kestrine::columnCentre(c, scale)));
        if (nearest != kestrine::NO_POINT) {
            require(kestrine::readoutLabel(*request, nearest, seconds).size() < 200);
        }
    }
    return 0;
}
