// Tests of following a growing series: pieces of any size, lines that wait for
// their end, bad lines reported once with their number, a restart from
// nothing, and the headline value made from the last point.
#include "series_follow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrine {
namespace {

void feed(SeriesFollower& follower, const std::string& bytes) {
    follower.feed(bytes.data(), bytes.size());
}

TEST(following_a_series, reads_complete_lines_and_waits_for_a_partial_one) {
    SeriesFollower follower;
    feed(follower, "# pnl\n0,0\n60,1");
    EXPECT_EQ(follower.series(), L"0:0");
    const uint64_t revision = follower.revision();
    feed(follower, "500");
    EXPECT_EQ(follower.revision(), revision) << "a line without its end is not read";
    feed(follower, "\r");
    EXPECT_EQ(follower.series(), L"0:0;60:1500");
    feed(follower, "\n120:-3;180:7\n\n");  // the LF of the CRLF does not make a blank line count
    EXPECT_EQ(follower.series(), L"0:0;60:1500;120:-3;180:7");
    EXPECT_EQ(follower.points(), 4u);
    EXPECT_GT(follower.revision(), revision);
    EXPECT_EQ(follower.skippedLines(), 0u);
    feed(follower, "240:9");
    follower.finish();
    EXPECT_EQ(follower.points(), 5u) << "the end of the source ends the last line";
}

TEST(following_a_series, reads_a_stream_split_at_every_byte) {
    // UTF-16LE with its mark, 損 in a comment, CRLF line ends: one byte at a time.
    const std::wstring text = L"# \u640D\r\n1:2\r\nx\r\n3:-4\r\n";
    std::string bytes("\xFF\xFE", 2);
    for (wchar_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
    SeriesFollower follower;
    for (char byte : bytes) follower.feed(&byte, 1);
    EXPECT_EQ(follower.series(), L"1:2;3:-4");
    EXPECT_EQ(follower.takeReports(),
              std::vector<std::wstring>{L"line 3: \"x\" is not a pair of numbers (x:y or x,y)"});
}

TEST(following_a_series, reports_each_bad_line_once_and_counts_them) {
    SeriesFollower follower;
    feed(follower, "time,pnl\n0,0\n");
    EXPECT_EQ(follower.takeReports(),
              std::vector<std::wstring>{L"line 1: \"time,pnl\" is not a pair of numbers (x:y or x,y)"});
    feed(follower, "1:1;oops\n2:2\n3:inf\n");
    EXPECT_EQ(follower.series(), L"0:0;2:2") << "a line with a bad item adds none of its points";
    const std::vector<std::wstring> reports = follower.takeReports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], L"line 3: \"oops\" is not a pair of numbers (x:y or x,y)");
    EXPECT_EQ(reports[1].rfind(L"line 5: ", 0), 0u);
    EXPECT_TRUE(follower.takeReports().empty());
    EXPECT_EQ(follower.skippedLines(), 3u);
}

TEST(following_a_series, skips_an_endless_line_without_holding_it) {
    SeriesFollower follower;
    feed(follower, "1:1\n");
    const std::string chunk(MAX_FOLLOWED_LINE_BYTES / 2, '7');
    for (int i = 0; i < 5; ++i) feed(follower, chunk);
    feed(follower, "\n2:2\n");
    EXPECT_EQ(follower.series(), L"1:1;2:2");
    EXPECT_EQ(follower.takeReports(),
              std::vector<std::wstring>{L"line 2: longer than 64 KB without a line break"});
    feed(follower, "3:3\n");
    EXPECT_EQ(follower.points(), 3u);
}

TEST(following_a_series, starts_again_from_nothing_on_restart) {
    SeriesFollower follower;
    feed(follower, "1:10\n2:20\nbad\n3:");
    const uint64_t revision = follower.revision();
    follower.restart();
    EXPECT_EQ(follower.points(), 0u);
    EXPECT_NE(follower.revision(), revision);
    EXPECT_FALSE(follower.hasLastY());
    feed(follower, "\xEF\xBB\xBF" "5:-7\nworse\n");
    EXPECT_EQ(follower.series(), L"5:-7") << "the half line before the restart is gone";
    const std::vector<std::wstring> reports = follower.takeReports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].rfind(L"line 2: ", 0), 0u) << "line numbers start again";
    EXPECT_EQ(follower.skippedLines(), 2u) << "the count covers the whole run";
}

TEST(following_a_series, keeps_the_last_number_for_the_value) {
    SeriesFollower follower;
    feed(follower, "0:5\n");
    ASSERT_TRUE(follower.hasLastY());
    EXPECT_EQ(follower.lastY(), 5.0);
    feed(follower, "1:-48250.4;2:nan\n");
    EXPECT_EQ(follower.lastY(), -48250.4) << "a nan point has no value to show";
}

TEST(value_format, writes_y_with_sign_and_separators) {
    EXPECT_EQ(formatSignedValue(48250.0), L"+48,250");
    EXPECT_EQ(formatSignedValue(-1234567.0), L"-1,234,567");
    EXPECT_EQ(formatSignedValue(0.0), L"0");
    EXPECT_EQ(formatSignedValue(-0.4), L"0");
    EXPECT_EQ(formatSignedValue(0.4), L"0");
    EXPECT_EQ(formatSignedValue(999.6), L"+1,000");
    EXPECT_EQ(applyValueFormat(L"{y} \u5186", 48250.0), L"+48,250 \u5186");
    EXPECT_EQ(applyValueFormat(L"{y}/{y} {x} {", -5.0), L"-5/-5 {x} {");
    EXPECT_EQ(applyValueFormat(L"flat", 3.0), L"flat");
}

}  // namespace
}  // namespace kestrine
