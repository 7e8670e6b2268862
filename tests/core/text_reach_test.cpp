// Tests of cutting texts to what can reach the card: the cap, NULs,
// surrogate pairs at every cut, lines cut past the edge, lines below the
// card, the tail of a right-aligned text, and what measuring costs.

#include "core/text_reach.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrine {
namespace {

// Every unit 10 wide, except zero-width spaces; counts the units measured.
struct FakeMeasure {
    std::size_t* measured;
    double operator()(std::wstring_view text) const {
        *measured += text.size();
        double width = 0.0;
        for (wchar_t c : text) {
            width += c == 0x200B ? 0.0 : 10.0;
        }
        return width;
    }
};

TEST(TextCap, keeps_texts_to_the_limit_and_up_to_a_nul) {
    EXPECT_EQ(leadingText(L"short"), L"short");
    const std::wstring withNul(L"ab\0cd", 5);
    EXPECT_EQ(leadingText(withNul), L"ab");
    EXPECT_EQ(trailingText(withNul), L"ab");
    const std::wstring huge(TEXT_UNIT_LIMIT * 3, L'x');
    EXPECT_EQ(leadingText(huge).size(), TEXT_UNIT_LIMIT);
    EXPECT_EQ(trailingText(huge).size(), TEXT_UNIT_LIMIT);
    EXPECT_EQ(trailingText(huge).data(), huge.data() + 2 * TEXT_UNIT_LIMIT);
    // A NUL beyond the limit still ends what a right-aligned text shows.
    std::wstring tail = huge;
    tail[TEXT_UNIT_LIMIT * 2] = L'\0';
    EXPECT_EQ(trailingText(tail).data(), tail.data() + TEXT_UNIT_LIMIT);
}

TEST(TextCap, never_splits_a_surrogate_pair) {
    std::wstring head(TEXT_UNIT_LIMIT + 10, L'x');
    head[TEXT_UNIT_LIMIT - 1] = 0xD83D;
    head[TEXT_UNIT_LIMIT] = 0xDE00;
    EXPECT_EQ(leadingText(head).size(), TEXT_UNIT_LIMIT + 1);
    std::wstring tail(TEXT_UNIT_LIMIT + 10, L'x');
    tail[9] = 0xD83D;
    tail[10] = 0xDE00;
    EXPECT_EQ(trailingText(tail).size(), TEXT_UNIT_LIMIT + 1);
    // Unpaired halves are cut like any unit.
    EXPECT_EQ(pairSafeEnd(L"a\xDE00" L"b", 1), 1u);
    EXPECT_EQ(pairSafeEnd(L"a\xD83D" L"b", 2), 2u);
    EXPECT_EQ(pairSafeStart(L"a\xDE00" L"b", 1), 1u);
    EXPECT_EQ(pairSafeStart(L"\xD83D\xDE00", 1), 0u);
    EXPECT_EQ(pairSafeEnd(L"\xD83D\xDE00", 1), 2u);
}

TEST(TextFromLeft, short_lines_are_kept_without_measuring) {
    std::size_t measured = 0;
    const std::wstring text = std::wstring(UNMEASURED_LINE_UNITS, L'a') + L"\n" +
                              std::wstring(100, L'b') + L"\r\n" + L"c";
    EXPECT_EQ(visibleFromLeft(text, 50.0, 10, FakeMeasure{&measured}), text);
    EXPECT_EQ(measured, 0u);
}

TEST(TextFromLeft, long_lines_are_cut_past_the_room_and_the_lines_after_go_on) {
    std::size_t measured = 0;
    const std::wstring first(100000, L'a');
    const std::wstring second(300, L'b');
    const std::wstring visible =
        visibleFromLeft(first + L"\n" + second, 3000.0, 10, FakeMeasure{&measured});
    // 256 units are 2560 wide, 512 are past the room: the first line ends there.
    EXPECT_EQ(visible, std::wstring(512, L'a') + L"\n" + second);
    EXPECT_EQ(measured, 256u + 512u + 256u);
}

TEST(TextFromLeft, zero_width_lines_are_kept_whole_and_pairs_stay_together) {
    std::size_t measured = 0;
    const std::wstring invisible(5000, wchar_t(0x200B));
    EXPECT_EQ(visibleFromLeft(invisible, 100.0, 3, FakeMeasure{&measured}), invisible);
    std::wstring pairs(600, L'a');
    pairs[UNMEASURED_LINE_UNITS - 1] = 0xD83D;
    pairs[UNMEASURED_LINE_UNITS] = 0xDE00;
    const std::wstring cut = visibleFromLeft(pairs, 100.0, 3, FakeMeasure{&measured});
    EXPECT_EQ(cut.size(), UNMEASURED_LINE_UNITS + 1);
    EXPECT_EQ(cut.back(), wchar_t(0xDE00));
}

TEST(TextFromLeft, lines_beyond_the_limit_are_left_out) {
    std::size_t measured = 0;
    std::wstring many;
    for (int i = 0; i < 1000; ++i) {
        many += L"line\r\n";
    }
    EXPECT_EQ(visibleFromLeft(many, 1e9, 3, FakeMeasure{&measured}), L"line\r\nline\r\nline");
    EXPECT_EQ(visibleFromLeft(L"\n\n\n", 1e9, 0, FakeMeasure{&measured}), L"");
}

TEST(TextTail, starts_where_the_tail_is_wider_than_the_room) {
    std::size_t measured = 0;
    const std::wstring text(1000000, L'v');
    const std::size_t start = visibleTailStart(text, 3000.0, FakeMeasure{&measured});
    EXPECT_EQ(start, text.size() - 512);
    EXPECT_EQ(measured, 256u + 512u);
    // A pair across the cut moves the start before it.
    std::wstring paired(1000, L'v');
    paired[1000 - 257] = 0xD83D;
    paired[1000 - 256] = 0xDE00;
    EXPECT_EQ(visibleTailStart(paired, 100.0, FakeMeasure{&measured}), 1000u - 257u);
}

TEST(TextTail, short_narrow_or_broken_texts_are_placed_whole) {
    std::size_t measured = 0;
    EXPECT_EQ(visibleTailStart(std::wstring(UNMEASURED_LINE_UNITS, L'v'), 1.0,
                               FakeMeasure{&measured}),
              0u);
    EXPECT_EQ(measured, 0u);
    EXPECT_EQ(visibleTailStart(std::wstring(4000, wchar_t(0x200B)), 100.0,
                               FakeMeasure{&measured}),
              0u);
    std::wstring broken(4000, L'v');
    broken[10] = L'\n';
    measured = 0;
    EXPECT_EQ(visibleTailStart(broken, 100.0, FakeMeasure{&measured}), 0u);
    EXPECT_EQ(measured, 0u);
}

}  // namespace
}  // namespace kestrine
