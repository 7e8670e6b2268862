// Tests of label formatting: the axis labels with separators and the bounded
// printf, whose output must be the same under glibc and msvcrt (ties to even,
// all digits of large doubles, length returned when cut).
#include "core/labels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <clocale>
#include <cstdint>
#include <limits>
#include <string>

namespace kestrine {
namespace {

const double INF = std::numeric_limits<double>::infinity();
const double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();

std::wstring format(const wchar_t* pattern, ...) {
    wchar_t buffer[512];
    va_list args;
    va_start(args, pattern);
    formatBoundedV(buffer, 512, pattern, args);
    va_end(args);
    return buffer;
}

TEST(axis_label, groups_digits_by_three) {
    EXPECT_EQ(formatAxisValue(0), L"0");
    EXPECT_EQ(formatAxisValue(7), L"7");
    EXPECT_EQ(formatAxisValue(999), L"999");
    EXPECT_EQ(formatAxisValue(1000), L"1,000");
    EXPECT_EQ(formatAxisValue(-5000), L"-5,000");
    EXPECT_EQ(formatAxisValue(20000), L"20,000");
    EXPECT_EQ(formatAxisValue(123456), L"123,456");
    EXPECT_EQ(formatAxisValue(1234567), L"1,234,567");
    EXPECT_EQ(formatAxisValue(-1234567), L"-1,234,567");
}

TEST(axis_label, rounds_halves_to_even) {
    EXPECT_EQ(formatAxisValue(1234.5), L"1,234");
    EXPECT_EQ(formatAxisValue(1235.5), L"1,236");
    EXPECT_EQ(formatAxisValue(999.6), L"1,000");
    EXPECT_EQ(formatAxisValue(0.5), L"0");
    EXPECT_EQ(formatAxisValue(1.5), L"2");
    EXPECT_EQ(formatAxisValue(2.5), L"2");
    EXPECT_EQ(formatAxisValue(3.5), L"4");
    EXPECT_EQ(formatAxisValue(-2.5), L"-2");
    EXPECT_EQ(formatAxisValue(999999.5), L"1,000,000");
    EXPECT_EQ(formatAxisValue(0.4), L"0");
    EXPECT_EQ(formatAxisValue(-0.4), L"-0");
}

TEST(axis_label, shows_every_digit_of_large_values) {
    EXPECT_EQ(formatAxisValue(1e23), L"99,999,999,999,999,991,611,392");
    // Beyond 63 characters the text is cut before grouping.
    EXPECT_EQ(formatAxisValue(1e63),
              L"100,000,000,000,000,005,785,795,994,272,696,982,739,337,868,917,504,043,817,264,742");
    EXPECT_EQ(formatAxisValue(-1e62),
              L"-10,000,000,000,000,000,350,219,968,594,316,117,304,608,031,779,831,182,560,487,014");
}

TEST(axis_label, passes_non_finite_values_through) {
    EXPECT_EQ(formatAxisValue(INF), L"inf");
    EXPECT_EQ(formatAxisValue(-INF), L"-inf");
    EXPECT_EQ(formatAxisValue(NOT_A_NUMBER), L"nan");
}

TEST(axis_label, ignores_the_locale) {
    const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "German_Germany.1252", "German"};
    const char* chosen = nullptr;
    std::string previous = std::setlocale(LC_ALL, nullptr);
    for (const char* name : names) {
        if (std::setlocale(LC_ALL, name) != nullptr) {
            chosen = name;
            break;
        }
    }
    if (chosen == nullptr) GTEST_SKIP() << "no locale with a decimal comma installed";
    std::wstring label = formatAxisValue(1234567.5);
    std::wstring fixed = format(L"%.2f", 1234.5);
    std::setlocale(LC_ALL, previous.c_str());
    EXPECT_EQ(label, L"1,234,568");
    EXPECT_EQ(fixed, L"1234.50");
}

TEST(bounded_format, clock_labels) {
    EXPECT_EQ(format(L"%02d:%02d", 9, 5), L"09:05");
    EXPECT_EQ(format(L"%02d:%02d", 0, 0), L"00:00");
    EXPECT_EQ(format(L"%02d:%02d", 23, 59), L"23:59");
}

TEST(bounded_format, cuts_and_returns_the_full_length) {
    wchar_t buffer[32];
    std::fill(buffer, buffer + 32, L'#');
    EXPECT_EQ(formatBounded(buffer, 16, L"%s-%d", L"abcdefghijklmno", 1234), 20);
    EXPECT_EQ(std::wstring(buffer), L"abcdefghijklmno");
    EXPECT_EQ(buffer[16], L'#');

    std::fill(buffer, buffer + 32, L'#');
    EXPECT_EQ(formatBounded(buffer, 0, L"%d", 12345), 5);
    EXPECT_EQ(buffer[0], L'#');
    EXPECT_EQ(formatBounded(nullptr, 0, L"%.3f", 2.0), 5);

    EXPECT_EQ(formatBounded(buffer, 1, L"abc"), 3);
    EXPECT_EQ(buffer[0], L'\0');
    EXPECT_EQ(formatBounded(buffer, 4, L"abc"), 3);
    EXPECT_EQ(std::wstring(buffer), L"abc");
    EXPECT_EQ(formatBounded(buffer, 3, L"%5d", 42), 5);
    EXPECT_EQ(std::wstring(buffer), L"  ");
    EXPECT_EQ(formatBounded(buffer, 8, nullptr), 0);
    EXPECT_EQ(buffer[0], L'\0');
}

TEST(bounded_format, huge_widths_are_counted_not_written) {
    wchar_t buffer[8];
    EXPECT_EQ(formatBounded(buffer, 8, L"%1000000000d", 7), 1000000000);
    EXPECT_EQ(std::wstring(buffer), L"       ");
    EXPECT_EQ(formatBounded(buffer, 8, L"%2000000000d%2000000000d", 1, 2), -1);
}

TEST(bounded_format, decimal_rounding_ties_to_even) {
    EXPECT_EQ(format(L"%.0f", 0.5), L"0");
    EXPECT_EQ(format(L"%.0f", 1.5), L"2");
    EXPECT_EQ(format(L"%.0f", 2.5), L"2");
    EXPECT_EQ(format(L"%.0f", -0.5), L"-0");
    EXPECT_EQ(format(L"%.1f", 0.25), L"0.2");
    EXPECT_EQ(format(L"%.1f", 0.35), L"0.3");  // 0.34999999999999997...
    EXPECT_EQ(format(L"%.1f", 0.45), L"0.5");  // 0.45000000000000001...
    EXPECT_EQ(format(L"%.1f", 0.05), L"0.1");
    EXPECT_EQ(format(L"%.2f", 0.125), L"0.12");
    EXPECT_EQ(format(L"%.2f", 0.375), L"0.38");
    EXPECT_EQ(format(L"%.2f", 1.005), L"1.00");
    EXPECT_EQ(format(L"%.1f", 9.96), L"10.0");
    EXPECT_EQ(format(L"%.0e", 2.5), L"2e+00");
    EXPECT_EQ(format(L"%.3e", 1.0005), L"1.000e+00");
    EXPECT_EQ(format(L"%.3g", 999.5), L"1e+03");
}

TEST(bounded_format, exact_digits_of_doubles) {
    EXPECT_EQ(format(L"%.20f", 0.1), L"0.10000000000000000555");
    EXPECT_EQ(format(L"%.0f", 1e23), L"99999999999999991611392");
    EXPECT_EQ(format(L"%.3e", 4.9406564584124654e-324), L"4.941e-324");
    EXPECT_EQ(format(L"%.25e", 4.9406564584124654e-324), L"4.9406564584124654417656879e-324");
    EXPECT_EQ(format(L"%.17g", 0.1), L"0.10000000000000001");
    EXPECT_EQ(format(L"%f", DBL_MAX),
              L"17976931348623157081452742373170435679807056752584499659891747680315726078002853876058955863276687817"
              L"15404589535143824642343213268894641827684675467035375169860499105765512820762454900903893289440758685"
              L"08455133942304583236903222948165808559332123348274797826204144723168738177180919299881250404026184124"
              L"858368.000000");
    EXPECT_EQ(format(L"%f", 0.0), L"0.000000");
    EXPECT_EQ(format(L"%e", 0.0), L"0.000000e+00");
    EXPECT_EQ(format(L"%E", 123456.0), L"1.234560E+05");
    EXPECT_EQ(format(L"%.2e", 1e-300), L"1.00e-300");
}

TEST(bounded_format, general_form) {
    EXPECT_EQ(format(L"%g", 0.0001), L"0.0001");
    EXPECT_EQ(format(L"%g", 0.00001), L"1e-05");
    EXPECT_EQ(format(L"%g", 123456789.0), L"1.23457e+08");
    EXPECT_EQ(format(L"%g", 100000.0), L"100000");
    EXPECT_EQ(format(L"%g", 1e6), L"1e+06");
    EXPECT_EQ(format(L"%G", 1e-10), L"1E-10");
    EXPECT_EQ(format(L"%g", 0.0), L"0");
    EXPECT_EQ(format(L"%#g", 1.0), L"1.00000");
    EXPECT_EQ(format(L"%#.3g", 999.5), L"1.00e+03");
    EXPECT_EQ(format(L"%.0g", 25.0), L"2e+01");
}

TEST(bounded_format, flags_width_and_precision_for_doubles) {
    EXPECT_EQ(format(L"%+012.3f", 3.14159), L"+0000003.142");
    EXPECT_EQ(format(L"%-10.2e|", -1234.5), L"-1.23e+03 |");
    EXPECT_EQ(format(L"% .4g", 2.0), L" 2");
    EXPECT_EQ(format(L"%#.0f", 3.0), L"3.");
    EXPECT_EQ(format(L"%#.0e", 3.0), L"3.e+00");
    EXPECT_EQ(format(L"%*.*f", 8, 2, 1.005), L"    1.00");
    EXPECT_EQ(format(L"%.*f", -1, 1.5), L"1.500000");
    EXPECT_EQ(format(L"%Lf", 2.5L), L"2.500000");
}

TEST(bounded_format, infinity_and_nan) {
    EXPECT_EQ(format(L"%f", INF), L"inf");
    EXPECT_EQ(format(L"%F", INF), L"INF");
    EXPECT_EQ(format(L"%e", -INF), L"-inf");
    EXPECT_EQ(format(L"%+g", INF), L"+inf");
    EXPECT_EQ(format(L"%5.1f", NOT_A_NUMBER), L"  nan");
    EXPECT_EQ(format(L"%E", NOT_A_NUMBER), L"NAN");
    EXPECT_EQ(format(L"%05f", INF), L"  inf");
    EXPECT_EQ(format(L"%-5f|", -INF), L"-inf |");
}

TEST(bounded_format, integers) {
    EXPECT_EQ(format(L"%d", INT_MIN), L"-2147483648");
    EXPECT_EQ(format(L"%5d|%-5d|", 42, 42), L"   42|42   |");
    EXPECT_EQ(format(L"%05d", -42), L"-0042");
    EXPECT_EQ(format(L"%+d % d %+d", 5, 5, -5), L"+5  5 -5");
    EXPECT_EQ(format(L"%.3d|%.0d|%5.0d|", 7, 0, 0), L"007||     |");
    EXPECT_EQ(format(L"%08.3d", 7), L"     007");
    EXPECT_EQ(format(L"%x %X %#x %#X %#x", 255u, 255u, 255u, 255u, 0u), L"ff FF 0xff 0XFF 0");
    EXPECT_EQ(format(L"%o %#o %#o %#.0o", 8u, 8u, 0u, 0u), L"10 010 0 0");
    EXPECT_EQ(format(L"%u", 4294967295u), L"4294967295");
    EXPECT_EQ(format(L"%lld %llu", LLONG_MIN, ULLONG_MAX), L"-9223372036854775808 18446744073709551615");
    EXPECT_EQ(format(L"%ld %lu", -7L, 7UL), L"-7 7");
    EXPECT_EQ(format(L"%zu %zd %jd %td", size_t{42}, ptrdiff_t{-42}, intmax_t{-1}, ptrdiff_t{3}), L"42 -42 -1 3");
    EXPECT_EQ(format(L"%hhd %hd %hhu", 300, 70000, 511), L"44 4464 255");
    EXPECT_EQ(format(L"%*d|%-*d|", -4, 1, 3, 2), L"1   |2  |");
}

TEST(bounded_format, strings_and_characters) {
    EXPECT_EQ(format(L"%s|%ls|%hs", L"wide", L"also", "narrow"), L"wide|also|narrow");
    EXPECT_EQ(format(L"%.2s|%5s|%-5s|", L"abc", L"ab", L"ab"), L"ab|   ab|ab   |");
    EXPECT_EQ(format(L"%s", static_cast<const wchar_t*>(nullptr)), L"(null)");
    EXPECT_EQ(format(L"%c%c%3c", L'A', 0x3042, L'z'), L"A\x3042  z");
    EXPECT_EQ(format(L"100%%"), L"100%");
    // Not terminated: a precision stops the read.
    const wchar_t unterminated[3] = {L'x', L'y', L'z'};
    EXPECT_EQ(format(L"%.3s", unterminated), L"xyz");
}

TEST(bounded_format, unknown_conversions_are_copied) {
    EXPECT_EQ(format(L"a%qb", 1), L"a%qb");
    EXPECT_EQ(format(L"%n"), L"%n");
    EXPECT_EQ(format(L"end%"), L"end%");
    EXPECT_EQ(format(L"%-5"), L"%-5");
}

}  // namespace
}  // namespace kestrine
