// Request building: turns the twelve arguments of one ShowKestrine call into a
// complete ChartRequest (series parsed, texts copied, options clamped, accent
// colour chosen), or into nothing when the call carries no chart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/chart_request.h"

namespace kestrine {

constexpr int32_t MAX_AUTOCLOSE_SECONDS = 3600;
constexpr double MIN_ANIMATION_SECONDS = 0.3;
constexpr double MAX_ANIMATION_SECONDS = 10.0;
constexpr double DEFAULT_ANIMATION_SECONDS = 1.5;

// Builds the record for one call. Returns empty when series is null or yields
// no point. Null texts become empty strings; xAxisMode 1 selects the numeric
// axis, anything else the time axis; autoCloseSeconds is clamped to 0..3600,
// animationSeconds to 0.3..10 (NaN becomes 1.5).
//
// Never throws: running out of memory (std::bad_alloc, or any other standard
// exception from the containers) while the record is built or the series is
// parsed frees whatever was built and returns empty, so the caller reports
// "no chart" instead of letting an exception reach the host.
std::unique_ptr<ChartRequest> buildChartRequest(const wchar_t* series, const wchar_t* titleText,
                                                const wchar_t* subtitleText, const wchar_t* valueText,
                                                const wchar_t* noteText, int32_t xAxisMode,
                                                int32_t autoCloseSeconds, int32_t animate,
                                                double animationSeconds, int32_t positive,
                                                uint32_t positiveColor, uint32_t negativeColor) noexcept;

// Appends the points of a series text ("x:y" items separated by ";") to xs and
// ys and returns how many were appended. Items without ":" and empty items are
// skipped; an item is split at its first ":". A null series appends nothing.
// May throw std::bad_alloc; xs and ys then still have equal lengths.
size_t parseSeries(const wchar_t* series, std::vector<double>& xs, std::vector<double>& ys);

// Converts the text [begin, end) the way wcstod converts a string in the "C"
// locale, without ever reading outside the range: leading blanks (space, \t,
// \n, \v, \f, \r), an optional sign, then a decimal number with "." as the
// decimal point and an optional exponent, a hexadecimal number ("0x1.8p3"),
// "inf", "infinity" or "nan" / "nan(chars)" in any case. The conversion stops
// at the first character that cannot continue the number; no number gives 0.
// Decimal and hexadecimal numbers are correctly rounded (ties to even), a
// magnitude beyond the double range gives an infinity, a tiny one a denormal
// or zero. Our own code rather than the C runtime's, so that a series parses
// to the same bits under glibc, msvcrt and any host locale.
double convertSeriesNumber(const wchar_t* begin, const wchar_t* end);

// The accent colour (ARGB) from the positive flag and the two caller
// COLORREFs (0x00BBGGRR); a COLORREF above 0xFFFFFF selects the default.
uint32_t chooseAccentColor(int32_t positive, uint32_t positiveColor, uint32_t negativeColor);

int32_t clampAutoCloseSeconds(int32_t seconds);
double clampAnimationSeconds(double seconds);

}  // namespace kestrine
