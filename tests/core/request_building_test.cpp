// Tests of request building: series parsing, the number conversion on both C
// runtimes (results must not depend on glibc or msvcrt), option clamps, the
// accent colour and the out-of-memory path.
#include "core/request_building.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <limits>
#include <new>
#include <string>

// Allocation failure on demand: while allocationsBeforeFailure is >= 0, that
// many more allocations succeed and every later one throws std::bad_alloc.
// The memory goes back through a volatile pointer so that the compiler does
// not pair this free() with the operator new it can see inlined.
namespace {
thread_local long allocationsBeforeFailure = -1;
void (*volatile releaseMemory)(void*) = std::free;
}

void* operator new(std::size_t size) {
    if (allocationsBeforeFailure == 0) throw std::bad_alloc();
    if (allocationsBeforeFailure > 0) --allocationsBeforeFailure;
    void* memory = std::malloc(size != 0 ? size : 1);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* memory) noexcept { releaseMemory(memory); }
void operator delete[](void* memory) noexcept { releaseMemory(memory); }
void operator delete(void* memory, std::size_t) noexcept { releaseMemory(memory); }
void operator delete[](void* memory, std::size_t) noexcept { releaseMemory(memory); }

namespace kestrine {
namespace {

const double INF = std::numeric_limits<double>::infinity();

std::unique_ptr<ChartRequest> build(const wchar_t* series) {
    return buildChartRequest(series, L"t", L"s", L"v", L"n", 0, 30, 1, 1.5, 1, 0x00FFFFFFu, 0x00FFFFFFu);
}

double convert(const wchar_t* text) { return convertSeriesNumber(text, text + std::wcslen(text)); }

uint64_t bitsOf(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

TEST(series_parsing, splits_items_at_semicolons) {
    auto request = build(L"0:0;60:1500;120:-300");
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->xValues, (std::vector<double>{0, 60, 120}));
    EXPECT_EQ(request->yValues, (std::vector<double>{0, 1500, -300}));
}

TEST(series_parsing, skips_empty_items_and_items_without_colon) {
    EXPECT_EQ(build(L"1:2;3:4;")->xValues.size(), 2u);
    EXPECT_EQ(build(L";;1:2;;")->xValues, (std::vector<double>{1}));
    auto request = build(L"abc;1:2");
    EXPECT_EQ(request->xValues, (std::vector<double>{1}));
    EXPECT_EQ(request->yValues, (std::vector<double>{2}));
}

TEST(series_parsing, converts_each_part_by_itself) {
    auto words = build(L"a:b");
    EXPECT_EQ(words->xValues, (std::vector<double>{0}));
    EXPECT_EQ(words->yValues, (std::vector<double>{0}));
    auto colonOnly = build(L":");
    EXPECT_EQ(colonOnly->xValues, (std::vector<double>{0}));
    EXPECT_EQ(colonOnly->yValues, (std::vector<double>{0}));
    auto secondColon = build(L"1:2:3");
    EXPECT_EQ(secondColon->xValues, (std::vector<double>{1}));
    EXPECT_EQ(secondColon->yValues, (std::vector<double>{2}));
    auto blanks = build(L" 1 : 2 ");
    EXPECT_EQ(blanks->xValues, (std::vector<double>{1}));
    EXPECT_EQ(blanks->yValues, (std::vector<double>{2}));
    auto comma = build(L"1,5:2");
    EXPECT_EQ(comma->xValues, (std::vector<double>{1}));
    EXPECT_EQ(comma->yValues, (std::vector<double>{2}));
    // An exponent of the x part must not run on into the y part.
    auto exponent = build(L"1e:5");
    EXPECT_EQ(exponent->xValues, (std::vector<double>{1}));
    EXPECT_EQ(exponent->yValues, (std::vector<double>{5}));
}

TEST(series_parsing, pointless_series_yield_no_record) {
    EXPECT_EQ(build(nullptr), nullptr);
    EXPECT_EQ(build(L""), nullptr);
    EXPECT_EQ(build(L"5"), nullptr);
    EXPECT_EQ(build(L"1;2;3"), nullptr);
    EXPECT_EQ(build(L";;;"), nullptr);
}

TEST(series_parsing, stores_non_finite_values_unfiltered) {
    auto request = build(L"inf:nan;1:-1e999;0x10:2");
    ASSERT_NE(request, nullptr);
    ASSERT_EQ(request->xValues.size(), 3u);
    EXPECT_EQ(request->xValues[0], INF);
    EXPECT_TRUE(std::isnan(request->yValues[0]));
    EXPECT_EQ(request->yValues[1], -INF);
    EXPECT_EQ(request->xValues[2], 16.0);
}

TEST(series_parsing, appends_to_existing_values_and_counts) {
    std::vector<double> xs{9};
    std::vector<double> ys{8};
    EXPECT_EQ(parseSeries(L"1:2;x;3:4", xs, ys), 2u);
    EXPECT_EQ(xs, (std::vector<double>{9, 1, 3}));
    EXPECT_EQ(ys, (std::vector<double>{8, 2, 4}));
    EXPECT_EQ(parseSeries(nullptr, xs, ys), 0u);
}

// Items of the plain form take a path of their own; whatever path an item
// takes, its values are those of each part converted by itself.
TEST(series_parsing, plain_items_convert_as_their_parts) {
    const wchar_t* items[] = {
        L"0:0", L"-0:+0", L".5:5.", L"-.5:+7.", L"60:1500.25", L"120:-300.1",
        // The digits as an integer at 2^53, just past it (a tie, to even), and
        // 19 and 20 digits in all.
        L"9007199254740992:900719925474099.2", L"9007199254740993:9007199254740995",
        L"1234567890123456789:0.1234567890123456789", L"12345678901234567890:0.00000000000000000001",
        // Ties past 2^53 whose first guess lands on the odd neighbour.
        L"4503599627370499.5:4503599627370496.5", L"-1234.5666666666667:0.33333333333333331",
        // Not of the plain form: each goes the general way.
        L"1e5:2", L" 1:2", L"1:2 ", L"1:2x", L"1:2:3", L"1.2.3:4", L"-:.", L"0x10:inf", L"1,5:2"};
    for (const wchar_t* item : items) {
        const std::string name(item, item + std::wcslen(item));
        std::vector<double> xs;
        std::vector<double> ys;
        ASSERT_EQ(parseSeries(item, xs, ys), 1u);
        const wchar_t* colon = std::wcschr(item, L':');
        EXPECT_EQ(bitsOf(xs[0]), bitsOf(convertSeriesNumber(item, colon))) << name;
        EXPECT_EQ(bitsOf(ys[0]), bitsOf(convert(colon + 1))) << name;
    }
    EXPECT_EQ(bitsOf(build(L"0.1:-0")->xValues[0]), 0x3FB999999999999Au);
    EXPECT_EQ(bitsOf(build(L"0.1:-0")->yValues[0]), 0x8000000000000000u);
    EXPECT_EQ(build(L"9007199254740993:1")->xValues[0], 9007199254740992.0);
    EXPECT_EQ(build(L"4503599627370499.5:1")->xValues[0], 4503599627370500.0);
    EXPECT_EQ(build(L"4503599627370496.5:1")->xValues[0], 4503599627370496.0);
    EXPECT_EQ(build(L"1:2;;3:4;x;5:6")->yValues, (std::vector<double>{2, 4, 6}));
}

// Random short decimals, as hosts write them, against the C runtime: glibc's
// wcstod is correctly rounded in the "C" locale; every runtime is held to
// the general conversion.
TEST(series_parsing, random_plain_items_match_the_runtime) {
    uint64_t state = 88172645463325252u;
    auto next = [&state]() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    std::wstring series;
    std::vector<std::wstring> parts;
    for (int i = 0; i < 40000; ++i) {
        std::wstring part = next() % 2 != 0 ? L"-" : L"";
        const int digits = 1 + static_cast<int>(next() % 20);
        const int point = static_cast<int>(next() % (digits + 2)) - 1;  // -1: no point
        for (int d = 0; d < digits; ++d) {
            if (d == point) part += L'.';
            part += static_cast<wchar_t>(L'0' + next() % 10);
        }
        parts.push_back(part);
        series += part + (i % 2 == 0 ? L":" : L";");
    }
    std::vector<double> xs;
    std::vector<double> ys;
    ASSERT_EQ(parseSeries(series.c_str(), xs, ys), parts.size() / 2);
    for (size_t i = 0; i < parts.size(); ++i) {
        const double parsed = i % 2 == 0 ? xs[i / 2] : ys[i / 2];
        const std::wstring& part = parts[i];
        EXPECT_EQ(bitsOf(parsed), bitsOf(convertSeriesNumber(part.data(), part.data() + part.size()))) << i;
#ifdef __GLIBC__
        EXPECT_EQ(bitsOf(parsed), bitsOf(std::wcstod(part.c_str(), nullptr))) << i;
#endif
    }
}

TEST(number_conversion, decimal_forms) {
    EXPECT_EQ(convert(L"  1 "), 1.0);
    EXPECT_EQ(convert(L"\t\n\v\f\r-2.5"), -2.5);
    EXPECT_EQ(convert(L"1,5"), 1.0);
    EXPECT_EQ(convert(L"+.5"), 0.5);
    EXPECT_EQ(convert(L"5."), 5.0);
    EXPECT_EQ(convert(L"1e"), 1.0);
    EXPECT_EQ(convert(L"1e+"), 1.0);
    EXPECT_EQ(convert(L"2.5E-3x"), 0.0025);
    EXPECT_EQ(convert(L"1500.25"), 1500.25);
    EXPECT_EQ(convert(L"-300.5"), -300.5);
    EXPECT_EQ(bitsOf(convert(L"0.1")), 0x3FB999999999999Au);
    EXPECT_EQ(bitsOf(convert(L"1e23")), 0x44B52D02C7E14AF6u);
    EXPECT_EQ(bitsOf(convert(L"1500.2500000000002")), 0x4097710000000001u);
}

TEST(number_conversion, no_number_gives_positive_zero) {
    for (const wchar_t* text : {L"", L"abc", L"-", L"+", L".", L"-.e5", L"\x3000" L"1"}) {
        double value = convert(text);
        EXPECT_EQ(bitsOf(value), 0u) << "text index " << std::wstring(text).size();
    }
    EXPECT_EQ(bitsOf(convert(L"-0")), 0x8000000000000000u);
}

TEST(number_conversion, hexadecimal_forms) {
    EXPECT_EQ(convert(L"0x1p4"), 16.0);
    EXPECT_EQ(convert(L"-0X1.8p1"), -3.0);
    EXPECT_EQ(convert(L"0x.8"), 0.5);
    EXPECT_EQ(convert(L"0xff"), 255.0);
    EXPECT_EQ(convert(L"0x1p-1074"), 4.9406564584124654e-324);
    EXPECT_EQ(convert(L"0x1p1024"), INF);
    EXPECT_EQ(convert(L"0x"), 0.0);
    EXPECT_EQ(convert(L"0xg"), 0.0);
    EXPECT_EQ(convert(L"0x1p"), 1.0);
    // Ties to even, and digits beyond the kept ones break the tie.
    EXPECT_EQ(convert(L"0x1.00000000000008p0"), 1.0);
    EXPECT_EQ(convert(L"0x1.00000000000018p0"), 1.0000000000000004);
    EXPECT_EQ(convert(L"0x1.0000000000000800001p0"), 1.0000000000000002);
    EXPECT_EQ(convert(L"0x1000000000000080000000001"), 7.922816251426436e28);
    EXPECT_EQ(convert(L"0x1000000000000080000000000"), 7.922816251426434e28);
}

TEST(number_conversion, infinity_and_nan_words) {
    EXPECT_EQ(convert(L"inf"), INF);
    EXPECT_EQ(convert(L"-INF"), -INF);
    EXPECT_EQ(convert(L" Infinity"), INF);
    EXPECT_EQ(convert(L"infinite"), INF);
    EXPECT_EQ(convert(L"+iNf"), INF);
    EXPECT_TRUE(std::isnan(convert(L"nan")));
    EXPECT_TRUE(std::isnan(convert(L"-NaN")));
    EXPECT_TRUE(std::isnan(convert(L"nan(123)")));
    EXPECT_TRUE(std::isnan(convert(L"nan(")));
    EXPECT_EQ(convert(L"in"), 0.0);
    EXPECT_EQ(convert(L"na"), 0.0);
}

TEST(number_conversion, range_limits) {
    EXPECT_EQ(convert(L"1e400"), INF);
    EXPECT_EQ(convert(L"-1e400"), -INF);
    EXPECT_EQ(convert(L"1e-400"), 0.0);
    EXPECT_EQ(convert(L"1e999999999999999999"), INF);
    EXPECT_EQ(convert(L"0e999999999999999999"), 0.0);
    EXPECT_EQ(convert(L"1.7976931348623158e308"), DBL_MAX);
    EXPECT_EQ(convert(L"1.7976931348623159e308"), INF);
    EXPECT_EQ(convert(L"2.2250738585072014e-308"), DBL_MIN);
    EXPECT_EQ(bitsOf(convert(L"4.9406564584124654e-324")), 1u);
    EXPECT_EQ(bitsOf(convert(L"2.4703282292062328e-324")), 1u);
    EXPECT_EQ(bitsOf(convert(L"2.4703282292062327e-324")), 0u);
}

TEST(number_conversion, decimal_ties_go_to_even) {
    // 2^53 + 1 and 2^53 + 3 lie exactly between two doubles.
    EXPECT_EQ(convert(L"9007199254740993"), 9007199254740992.0);
    EXPECT_EQ(convert(L"9007199254740995"), 9007199254740996.0);
    EXPECT_EQ(convert(L"9007199254740993.0000000000000000000000000000001"), 9007199254740994.0);
    std::wstring longTie = L"9007199254740993" + std::wstring(900, L'0') + L"e-900";
    EXPECT_EQ(convert(longTie.c_str()), 9007199254740992.0);
    std::wstring longAbove = L"9007199254740993" + std::wstring(900, L'0') + L"1e-901";
    EXPECT_EQ(convert(longAbove.c_str()), 9007199254740994.0);
}

TEST(number_conversion, never_reads_past_the_range) {
    const wchar_t text[] = L"12345";
    EXPECT_EQ(convertSeriesNumber(text, text + 2), 12.0);
    const wchar_t exponent[] = {L'1', L'e', L'5'};
    EXPECT_EQ(convertSeriesNumber(exponent, exponent + 2), 1.0);
    const wchar_t hex[] = {L'0', L'x', L'1', L'p', L'4'};
    EXPECT_EQ(convertSeriesNumber(hex, hex + 4), 1.0);
    const wchar_t word[] = {L'i', L'n', L'f'};
    EXPECT_EQ(convertSeriesNumber(word, word + 2), 0.0);
}

TEST(request_options, texts_are_copied_and_null_gives_empty) {
    auto request = buildChartRequest(L"1:2", L"Title", nullptr, L"+1,500", nullptr, 0, 30, 1, 1.5, 1, 0, 0);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->titleText, L"Title");
    EXPECT_EQ(request->subtitleText, L"");
    EXPECT_EQ(request->valueText, L"+1,500");
    EXPECT_EQ(request->noteText, L"");
}

TEST(request_options, auto_close_is_clamped_to_an_hour) {
    EXPECT_EQ(clampAutoCloseSeconds(-5), 0);
    EXPECT_EQ(clampAutoCloseSeconds(0), 0);
    EXPECT_EQ(clampAutoCloseSeconds(3600), 3600);
    EXPECT_EQ(clampAutoCloseSeconds(100000), 3600);
    EXPECT_EQ(clampAutoCloseSeconds(INT32_MIN), 0);
    auto request = buildChartRequest(L"1:2", nullptr, nullptr, nullptr, nullptr, 0, 100000, 1, 1.5, 1, 0, 0);
    EXPECT_EQ(request->autoCloseSeconds, 3600);
}

TEST(request_options, animation_seconds_is_clamped) {
    EXPECT_EQ(clampAnimationSeconds(0.3), 0.3);
    EXPECT_EQ(clampAnimationSeconds(10.0), 10.0);
    EXPECT_EQ(clampAnimationSeconds(0.29), 0.3);
    EXPECT_EQ(clampAnimationSeconds(0.0), 0.3);
    EXPECT_EQ(clampAnimationSeconds(-1.0), 0.3);
    EXPECT_EQ(clampAnimationSeconds(25.0), 10.0);
    EXPECT_EQ(clampAnimationSeconds(INF), 10.0);
    EXPECT_EQ(clampAnimationSeconds(-INF), 0.3);
    EXPECT_EQ(clampAnimationSeconds(std::numeric_limits<double>::quiet_NaN()), 1.5);
    auto request = buildChartRequest(L"1:2", nullptr, nullptr, nullptr, nullptr, 0, 30, 1,
                                     std::numeric_limits<double>::quiet_NaN(), 1, 0, 0);
    EXPECT_EQ(request->animationSeconds, 1.5);
}

TEST(request_options, flags_are_normalised) {
    for (int32_t mode : {0, 2, -1, 100}) {
        auto request = buildChartRequest(L"1:2", nullptr, nullptr, nullptr, nullptr, mode, 30, 1, 1.5, 1, 0, 0);
        EXPECT_EQ(request->numericXAxis, 0);
    }
    EXPECT_EQ(buildChartRequest(L"1:2", nullptr, nullptr, nullptr, nullptr, 1, 30, 1, 1.5, 1, 0, 0)->numericXAxis, 1);
    EXPECT_FALSE(buildChartRequest(L"1:2", nullptr, nullptr, nullptr, nullptr, 1, 30, 0, 1.5, 1, 0, 0)->animate);
    EXPECT_TRUE(buildChartRequest(L"1:2", nullptr, nullptr, nullptr, nullptr, 1, 30, -7, 1.5, 1, 0, 0)->animate);
}

TEST(accent_color, converts_colorref_to_opaque_argb) {
    EXPECT_EQ(chooseAccentColor(1, 0x000000FFu, 0), 0xFFFF0000u);
    EXPECT_EQ(chooseAccentColor(1, 0x00FF0000u, 0), 0xFF0000FFu);
    EXPECT_EQ(chooseAccentColor(0, 0, 0x00336699u), 0xFF996633u);
    EXPECT_EQ(chooseAccentColor(-3, 0x00FFFFFFu, 0), 0xFFFFFFFFu);
    EXPECT_EQ(chooseAccentColor(0, 0x00FFFFFFu, 0x00000000u), 0xFF000000u);
}

TEST(accent_color, out_of_range_colorref_selects_the_default) {
    EXPECT_EQ(chooseAccentColor(1, 0xFFFFFFFFu, 0), 0xFF38D996u);
    EXPECT_EQ(chooseAccentColor(1, 0x01000000u, 0x00123456u), 0xFF38D996u);
    EXPECT_EQ(chooseAccentColor(0, 0x00123456u, 0x01000000u), 0xFFFF5A67u);
    auto request = buildChartRequest(L"1:2", nullptr, nullptr, nullptr, nullptr, 0, 30, 1, 1.5, 0, 0, 0xFFFFFFFFu);
    EXPECT_EQ(request->accentColor, 0xFFFF5A67u);
}

TEST(out_of_memory, gives_no_record_and_no_exception) {
    const std::wstring title(200, L'T');
    int failures = 0;
    bool completed = false;
    for (long allowed = 0; allowed < 200 && !completed; ++allowed) {
        std::unique_ptr<ChartRequest> request;
        allocationsBeforeFailure = allowed;
        bool threw = false;
        try {
            request = buildChartRequest(L"1:2;3:4;5:6;7:8;9:10;11:12;13:14;15:16;17:18", title.c_str(),
                                        title.c_str(), title.c_str(), title.c_str(), 0, 30, 1, 1.5, 1, 0, 0);
        } catch (...) {
            threw = true;
        }
        allocationsBeforeFailure = -1;
        ASSERT_FALSE(threw) << "after " << allowed << " allocations";
        if (request == nullptr) {
            ++failures;
        } else {
            completed = true;
            EXPECT_EQ(request->xValues.size(), 9u);
            EXPECT_EQ(request->noteText, title);
        }
    }
    EXPECT_TRUE(completed);
    EXPECT_GE(failures, 5);
}

TEST(out_of_memory, parse_keeps_arrays_the_same_length) {
    std::vector<double> xs;
    std::vector<double> ys;
    allocationsBeforeFailure = 1;  // xs gets its points' room, ys does not
    bool threw = false;
    try {
        parseSeries(L"1:1;2:2;3:3;4:4;5:5;6:6;7:7;8:8;9:9", xs, ys);
    } catch (const std::bad_alloc&) {
        threw = true;
    }
    allocationsBeforeFailure = -1;
    EXPECT_TRUE(threw);
    EXPECT_EQ(xs.size(), ys.size());
}

}  // namespace
}  // namespace kestrine
