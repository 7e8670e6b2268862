// Tests of the command-line host's series text: the encodings a series file
// may arrive in (with and without marks) and the reading of its lines into
// the ";" form, with errors that name the line instead of inventing points.
#include "series_text.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrine {
namespace {

std::wstring decoded(const std::string& bytes) {
    std::wstring text;
    std::wstring error;
    EXPECT_TRUE(decodeText(bytes, text, error)) << std::string(error.begin(), error.end());
    return text;
}

std::string decodeError(const std::string& bytes) {
    std::wstring text;
    std::wstring error;
    EXPECT_FALSE(decodeText(bytes, text, error));
    EXPECT_TRUE(text.empty());
    return std::string(error.begin(), error.end());
}

// "0:5\n" and the title 損益 (U+640D U+76CA) in each byte order.
const std::string UTF16LE_BODY("0\0:\0" "5\0\n\0\x0D\x64\xCA\x76", 12);
const std::string UTF16BE_BODY("\0" "0\0:\0" "5\0\n\x64\x0D\x76\xCA", 12);

TEST(decoding_series_bytes, reads_utf8_with_and_without_mark) {
    EXPECT_EQ(decoded("0:0\n60:1500\n"), L"0:0\n60:1500\n");
    EXPECT_EQ(decoded("\xEF\xBB\xBF" "1:2"), L"1:2");
    EXPECT_EQ(decoded("# \xE6\x90\x8D\xE7\x9B\x8A"), L"# \u640D\u76CA");
    EXPECT_EQ(decoded(""), L"");
}

TEST(decoding_series_bytes, reads_utf16_little_endian_with_and_without_mark) {
    EXPECT_EQ(decoded("\xFF\xFE" + UTF16LE_BODY), L"0:5\n\u640D\u76CA");
    EXPECT_EQ(decoded(UTF16LE_BODY), L"0:5\n\u640D\u76CA");
}

TEST(decoding_series_bytes, reads_utf16_big_endian_with_and_without_mark) {
    EXPECT_EQ(decoded("\xFE\xFF" + UTF16BE_BODY), L"0:5\n\u640D\u76CA");
    EXPECT_EQ(decoded(UTF16BE_BODY), L"0:5\n\u640D\u76CA");
}

TEST(decoding_series_bytes, keeps_characters_beyond_the_basic_plane) {
    // U+1F4C8 (chart with upwards trend) as UTF-8 and as a UTF-16 surrogate pair.
    const std::wstring expected = sizeof(wchar_t) == 2 ? std::wstring(L"\xD83D\xDCC8")
                                                       : std::wstring(1, wchar_t(0x1F4C8));
    EXPECT_EQ(decoded("\xF0\x9F\x93\x88"), expected);
    EXPECT_EQ(decoded(std::string("\xFF\xFE\x3D\xD8\xC8\xDC", 6)), expected);
}

TEST(decoding_series_bytes, replaces_bytes_that_are_not_utf8) {
    // A Shift-JIS comment: the numbers still read, the comment becomes U+FFFD.
    EXPECT_EQ(decoded("# \x91\xB9\x89\x76\n1:2"), L"# \uFFFD\uFFFD\uFFFDv\n1:2");
    EXPECT_EQ(decoded("\xC0\xAF"), L"\uFFFD\uFFFD");          // overlong "/"
    EXPECT_EQ(decoded("\xED\xA0\x80"), L"\uFFFD");            // a surrogate in UTF-8
    EXPECT_EQ(decoded("1\xE6\x90"), L"1\uFFFD");               // cut off at the end
    EXPECT_EQ(decoded(std::string("\xFF\xFE\x00\xDC", 4)), L"\uFFFD");  // lone low surrogate
}

TEST(decoding_series_bytes, rejects_broken_utf16_and_nul_characters) {
    EXPECT_EQ(decodeError(std::string("\xFF\xFE" "0\0:", 5)), "UTF-16 text with an odd number of bytes");
    EXPECT_EQ(decodeError(std::string("0\0:", 3)), "UTF-16 text with an odd number of bytes");
    EXPECT_EQ(decodeError(std::string("\xFF\xFE\0\0", 4)), "a NUL character in the text");
    EXPECT_EQ(decodeError(std::string("\xEF\xBB\xBF" "1\0:2", 6)), "a NUL character in the text");
}

NormalisedSeries normalised(const wchar_t* text) { return normaliseSeries(text); }

TEST(normalising_series, joins_one_pair_per_line_with_semicolons) {
    const NormalisedSeries series = normalised(L"0:0\n60:1500\r\n120,-300\r180 , 2.5e3\n");
    EXPECT_EQ(series.series, L"0:0;60:1500;120:-300;180:2.5e3");
    EXPECT_EQ(series.points, 4u);
    EXPECT_TRUE(series.error.empty());
}

TEST(normalising_series, takes_the_semicolon_form_and_mixed_lines) {
    EXPECT_EQ(normalised(L"0:0;60:1500;120:-300").series, L"0:0;60:1500;120:-300");
    EXPECT_EQ(normalised(L"0:0;60:1;\n120:2;;180:3;").series, L"0:0;60:1;120:2;180:3");
    EXPECT_EQ(normalised(L"0:0;60:1").points, 2u);
}

TEST(normalising_series, skips_blank_lines_and_comments) {
    const NormalisedSeries series =
        normalised(L"# time,pnl\n\n   \n0,0   # the open\n\t60,10\n#60,99\n");
    EXPECT_EQ(series.series, L"0:0;60:10");
    EXPECT_EQ(series.points, 2u);
}

TEST(normalising_series, accepts_the_number_forms_the_card_reads) {
    EXPECT_EQ(normalised(L"+1:-2").series, L"+1:-2");
    EXPECT_EQ(normalised(L".5:5.").series, L".5:5.");
    EXPECT_EQ(normalised(L"1E-3:7e+2").series, L"1E-3:7e+2");
    EXPECT_EQ(normalised(L"3:NaN").series, L"3:NaN");
    EXPECT_EQ(normalised(L"\u30001:2\u3000").series, L"1:2");  // ideographic spaces
}

TEST(normalising_series, gives_no_point_for_empty_text) {
    for (const wchar_t* text : {L"", L"\n\n", L"# only a comment", L";;;", L" ; \r\n"}) {
        const NormalisedSeries series = normalised(text);
        EXPECT_EQ(series.series, L"");
        EXPECT_EQ(series.points, 0u);
        EXPECT_TRUE(series.error.empty());
    }
}

TEST(normalising_series, names_the_line_of_an_item_that_is_not_a_pair) {
    EXPECT_EQ(normalised(L"0:0\n\n60:abc\n").error,
              L"line 3: \"60:abc\" is not a pair of numbers (x:y or x,y)");
    EXPECT_EQ(normalised(L"time,pnl\n0,0").error,
              L"line 1: \"time,pnl\" is not a pair of numbers (x:y or x,y)");
    EXPECT_EQ(normalised(L"0:0\r\n1:2\r\n5").error,
              L"line 3: \"5\" is not a pair of numbers (x:y or x,y)");
    EXPECT_EQ(normalised(L"0:0;1:2:3").error,
              L"line 1: \"1:2:3\" is not a pair of numbers (x:y or x,y)");
}

TEST(normalising_series, rejects_what_would_read_as_a_wrong_value) {
    for (const wchar_t* item : {L"1,5:3", L"0:", L":4", L"1:2x", L"0x10:1", L"1:inf", L"1:-infinity",
                                L"1:e5", L"1:.", L"1:1e", L"1:1 000", L"\uFFFD:1"}) {
        const NormalisedSeries series = normalised(item);
        EXPECT_FALSE(series.error.empty()) << "accepted item " << series.series.size();
        EXPECT_EQ(series.series, L"");
        EXPECT_EQ(series.points, 0u);
    }
}

}  // namespace
}  // namespace kestrine
