// Tests of kestrine-show's command line: what each option sets, the defaults
// that reach ShowKestrine, colours as COLORREFs, and the one-line errors for
// every kind of bad input.
#include "show_arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrine {
namespace {

ParsedArguments parse(std::vector<std::wstring> arguments) { return parseArguments(arguments); }

std::wstring errorOf(std::vector<std::wstring> arguments) {
    const ParsedArguments parsed = parseArguments(arguments);
    EXPECT_FALSE(parsed.error.empty());
    EXPECT_EQ(parsed.error.find(L'\n'), std::wstring::npos);
    return parsed.error;
}

TEST(parsing_colours, turns_rrggbb_into_a_colorref) {
    uint32_t color = 0;
    EXPECT_TRUE(parseColor(L"#38D996", color));
    EXPECT_EQ(color, 0x96D938u);
    EXPECT_TRUE(parseColor(L"#ff5a67", color));
    EXPECT_EQ(color, 0x675AFFu);
    EXPECT_TRUE(parseColor(L"0000FF", color));
    EXPECT_EQ(color, 0xFF0000u);
    EXPECT_TRUE(parseColor(L"#000000", color));
    EXPECT_EQ(color, 0u);
}

TEST(parsing_colours, rejects_other_forms_and_keeps_the_value) {
    uint32_t color = 123;
    for (const wchar_t* text : {L"", L"#", L"#12345", L"#1234567", L"#12345G", L"##123456",
                                L"0x123456", L"red", L"#12 456", L"#\u7DD1\u7DD1\u7DD1\u7DD1\u7DD1\u7DD1"}) {
        EXPECT_FALSE(parseColor(text, color));
        EXPECT_EQ(color, 123u);
    }
}

TEST(parsing_arguments, gives_the_card_defaults_for_a_bare_series) {
    const ParsedArguments parsed = parse({L"--series", L"0:0;60:1500"});
    ASSERT_EQ(parsed.error, L"");
    const ShowOptions& options = parsed.options;
    EXPECT_EQ(options.action, ShowAction::SHOW);
    EXPECT_TRUE(options.hasSeries);
    EXPECT_EQ(options.series, L"0:0;60:1500");
    EXPECT_FALSE(options.hasSeriesFile);
    EXPECT_EQ(options.title, L"");
    EXPECT_FALSE(options.numericX);
    EXPECT_EQ(options.autoCloseSeconds, 0);
    EXPECT_TRUE(options.animate);
    EXPECT_EQ(options.animationSeconds, 1.5);
    EXPECT_TRUE(options.positive);
    EXPECT_EQ(options.positiveColor, 0xFFFFFFFFu);
    EXPECT_EQ(options.negativeColor, 0xFFFFFFFFu);
}

TEST(parsing_arguments, sets_every_card_option) {
    const ParsedArguments parsed =
        parse({L"--series-file", L"C:\\data\\\u640D\u76CA.txt", L"--title", L"\u672C\u65E5\u306E\u640D\u76CA",
               L"--subtitle", L"Tokyo", L"--value", L"-720", L"--note", L"--not an option",
               L"--numeric-x", L"--auto-close", L"30", L"--no-animation", L"--duration", L"2.25",
               L"--negative", L"--positive-color", L"#102030", L"--negative-color", L"A0B0C0",
               L"--wait"});
    ASSERT_EQ(parsed.error, L"");
    const ShowOptions& options = parsed.options;
    EXPECT_TRUE(options.hasSeriesFile);
    EXPECT_EQ(options.seriesFile, L"C:\\data\\\u640D\u76CA.txt");
    EXPECT_EQ(options.title, L"\u672C\u65E5\u306E\u640D\u76CA");
    EXPECT_EQ(options.subtitle, L"Tokyo");
    EXPECT_EQ(options.value, L"-720");
    EXPECT_EQ(options.note, L"--not an option");
    EXPECT_TRUE(options.numericX);
    EXPECT_EQ(options.autoCloseSeconds, 30);
    EXPECT_FALSE(options.animate);
    EXPECT_EQ(options.animationSeconds, 2.25);
    EXPECT_FALSE(options.positive);
    EXPECT_EQ(options.positiveColor, 0x302010u);
    EXPECT_EQ(options.negativeColor, 0xC0B0A0u);
}

TEST(parsing_arguments, takes_values_after_an_equals_sign) {
    const ParsedArguments parsed =
        parse({L"--series=1:2", L"--title=a=b", L"--note=", L"--auto-close=0", L"--duration=10"});
    ASSERT_EQ(parsed.error, L"");
    EXPECT_EQ(parsed.options.series, L"1:2");
    EXPECT_EQ(parsed.options.title, L"a=b");
    EXPECT_EQ(parsed.options.note, L"");
    EXPECT_EQ(parsed.options.autoCloseSeconds, 0);
    EXPECT_EQ(parsed.options.animationSeconds, 10.0);
}

TEST(parsing_arguments, reads_standard_input_as_a_series_file) {
    const ParsedArguments parsed = parse({L"--series-file", L"-"});
    ASSERT_EQ(parsed.error, L"");
    EXPECT_TRUE(parsed.options.hasSeriesFile);
    EXPECT_EQ(parsed.options.seriesFile, L"-");
}

TEST(parsing_arguments, later_values_replace_earlier_ones) {
    const ParsedArguments parsed = parse({L"--series", L"1:1", L"--title", L"a", L"--title", L"b"});
    EXPECT_EQ(parsed.options.title, L"b");
}

TEST(parsing_arguments, recognises_the_actions) {
    EXPECT_EQ(parse({L"--close"}).options.action, ShowAction::CLOSE);
    EXPECT_EQ(parse({L"--version"}).options.action, ShowAction::VERSION);
    EXPECT_EQ(parse({L"--help"}).options.action, ShowAction::HELP);
    EXPECT_EQ(parse({L"-h"}).options.action, ShowAction::HELP);
    EXPECT_EQ(parse({L"/?"}).options.action, ShowAction::HELP);
    EXPECT_EQ(parse({L"--series", L"1:1", L"--help", L"--bogus"}).options.action, ShowAction::HELP);
    EXPECT_EQ(parse({L"--close"}).error, L"");
    EXPECT_EQ(parse({L"--help", L"--bogus"}).error, L"");
}

TEST(parsing_arguments, reports_unknown_options_and_stray_words) {
    EXPECT_EQ(errorOf({L"--series", L"1:1", L"--colour", L"#000000"}), L"unknown option \"--colour\"");
    EXPECT_EQ(errorOf({L"--series", L"1:1", L"-x"}), L"unknown option \"-x\"");
    EXPECT_EQ(errorOf({L"--bogus=1"}), L"unknown option \"--bogus\"");
    EXPECT_EQ(errorOf({L"--series", L"1:1", L"\u640D\u76CA"}),
              L"unexpected argument \"\u640D\u76CA\" (texts go after an option such as --title)");
}

TEST(parsing_arguments, reports_a_missing_value) {
    EXPECT_EQ(errorOf({L"--series"}), L"missing value after --series");
    EXPECT_EQ(errorOf({L"--series", L"1:1", L"--title"}), L"missing value after --title");
    EXPECT_EQ(errorOf({L"--series", L"1:1", L"--positive-color"}),
              L"missing value after --positive-color");
    EXPECT_EQ(errorOf({L"--series-file", L""}),
              L"--series-file needs a path (or - for standard input)");
}

TEST(parsing_arguments, reports_flags_given_a_value) {
    EXPECT_EQ(errorOf({L"--series", L"1:1", L"--negative=yes"}), L"--negative takes no value");
}

TEST(parsing_arguments, reports_bad_numbers) {
    for (const wchar_t* value : {L"-1", L"3601", L"1.5", L"", L"ten", L"99999999999"}) {
        EXPECT_EQ(errorOf({L"--series", L"1:1", L"--auto-close", value}),
                  std::wstring(L"--auto-close needs whole seconds from 0 to 3600, not \"") + value + L"\"");
    }
    for (const wchar_t* value : {L"0.29", L"10.5", L"nan", L"inf", L"0x2", L"1,5", L"", L"-1"}) {
        EXPECT_EQ(errorOf({L"--series", L"1:1", L"--duration", value}),
                  std::wstring(L"--duration needs seconds from 0.3 to 10, not \"") + value + L"\"");
    }
    EXPECT_EQ(parse({L"--series", L"1:1", L"--auto-close", L"3600"}).options.autoCloseSeconds, 3600);
    EXPECT_EQ(parse({L"--series", L"1:1", L"--duration", L"0.3"}).options.animationSeconds, 0.3);
}

TEST(parsing_arguments, reports_a_malformed_colour) {
    EXPECT_EQ(errorOf({L"--series", L"1:1", L"--negative-color", L"#12345"}),
              L"--negative-color needs a colour #RRGGBB, not \"#12345\"");
    EXPECT_EQ(errorOf({L"--series", L"1:1", L"--positive-color", L"\u7DD1"}),
              L"--positive-color needs a colour #RRGGBB, not \"\u7DD1\"");
}

TEST(parsing_arguments, needs_exactly_one_series_source) {
    EXPECT_EQ(errorOf({}), L"no series: give --series \"x:y;...\" or --series-file PATH (see --help)");
    EXPECT_EQ(errorOf({L"--title", L"T"}),
              L"no series: give --series \"x:y;...\" or --series-file PATH (see --help)");
    EXPECT_EQ(errorOf({L"--series", L"1:1", L"--series-file", L"a.txt"}),
              L"give either --series or --series-file, not both");
}

TEST(parsing_arguments, keeps_actions_apart_from_card_options) {
    EXPECT_EQ(errorOf({L"--close", L"--version"}), L"--close and --version cannot be combined");
    EXPECT_EQ(errorOf({L"--close", L"--series", L"1:1"}), L"--close cannot be combined with --series");
    EXPECT_EQ(errorOf({L"--title", L"T", L"--version"}), L"--version cannot be combined with --title");
    EXPECT_EQ(errorOf({L"--version", L"--wait"}), L"--version cannot be combined with --wait");
}

TEST(parsing_arguments, reads_the_live_and_picture_options) {
    const ShowOptions live = parse({L"--series-file", L"-", L"--follow", L"--every", L"20",
                                    L"--value-format", L"{y} \u5186"}).options;
    EXPECT_TRUE(live.follow);
    EXPECT_EQ(live.everyMs, 20);
    EXPECT_TRUE(live.hasValueFormat);
    EXPECT_EQ(live.valueFormat, L"{y} \u5186");
    EXPECT_EQ(parse({L"--series-file", L"a.txt", L"--follow"}).options.everyMs, 200);

    const ShowOptions picture = parse({L"--series", L"1:1", L"--png", L"c.png", L"--scale=2.5"}).options;
    EXPECT_TRUE(picture.png);
    EXPECT_EQ(picture.pngFile, L"c.png");
    EXPECT_EQ(picture.pngScale, 2.5);
    EXPECT_EQ(parse({L"--series", L"1:1", L"--png", L"c.png"}).options.pngScale, 1.0);
    EXPECT_FALSE(parse({L"--series", L"1:1"}).options.png);
    const ShowOptions hovered =
        parse({L"--series", L"1:1", L"--png", L"c.png", L"--hover", L"-40800.5"}).options;
    EXPECT_TRUE(hovered.hover);
    EXPECT_EQ(hovered.hoverX, -40800.5);
    EXPECT_FALSE(hovered.highContrast);
    EXPECT_TRUE(parse({L"--series", L"1:1", L"--png", L"c.png", L"--high-contrast"})
                    .options.highContrast);
}

TEST(parsing_arguments, checks_the_live_and_picture_options) {
    for (const wchar_t* value : {L"19", L"60001", L"", L"1e2", L"-20"}) {
        EXPECT_EQ(errorOf({L"--series-file", L"a", L"--follow", L"--every", value}),
                  std::wstring(L"--every needs whole milliseconds from 20 to 60000, not \"") + value + L"\"");
    }
    for (const wchar_t* value : {L"0.99", L"4.01", L"nan", L"0x2", L""}) {
        EXPECT_EQ(errorOf({L"--series", L"1:1", L"--png", L"c.png", L"--scale", value}),
                  std::wstring(L"--scale needs a number from 1 to 4, not \"") + value + L"\"");
    }
    EXPECT_EQ(errorOf({L"--series", L"1:1", L"--follow"}),
              L"--follow needs --series-file PATH (or - for standard input)");
    EXPECT_EQ(errorOf({L"--series-file", L"a", L"--every", L"50"}), L"--every needs --follow");
    EXPECT_EQ(errorOf({L"--series-file", L"a", L"--follow", L"--png", L"c.png"}),
              L"--png cannot be combined with --follow");
    EXPECT_EQ(errorOf({L"--series", L"1:1", L"--scale", L"2"}), L"--scale needs --png");
    EXPECT_EQ(errorOf({L"--series", L"1:1", L"--hover", L"2"}), L"--hover needs --png");
    EXPECT_EQ(errorOf({L"--series", L"1:1", L"--high-contrast"}), L"--high-contrast needs --png");
    EXPECT_EQ(errorOf({L"--series", L"1:1", L"--png", L"c.png", L"--hover", L"inf"}),
              L"--hover needs a number, not \"inf\"");
    EXPECT_EQ(errorOf({L"--series", L"1:1", L"--png="}), L"--png needs a file name");
    EXPECT_EQ(errorOf({L"--close", L"--follow"}), L"--close cannot be combined with --follow");
}

TEST(usage_text, lists_every_option) {
    const std::wstring usage = usageText();
    for (const wchar_t* option :
         {L"--series ", L"--series-file", L"--title", L"--subtitle", L"--value", L"--note",
          L"--numeric-x", L"--auto-close", L"--no-animation", L"--duration", L"--negative ",
          L"--positive-color", L"--negative-color", L"--wait", L"--close", L"--version", L"--help",
          L"--follow", L"--every", L"--value-format", L"--png", L"--scale", L"--hover",
          L"--high-contrast"}) {
        EXPECT_NE(usage.find(option), std::wstring::npos) << "missing " << std::string(option, option + 8);
    }
}

}  // namespace
}  // namespace kestrine
