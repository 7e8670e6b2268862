// Tests of what a screen reader reads of a card: the series sentence in the
// card's number styles, the description's parts and the name's fallback, and
// which changes a newer record announces.

#include "core/card_description.h"

#include <gtest/gtest.h>

#include <limits>
#include <utility>

namespace kestrine {
namespace {

void setSeries(ChartRequest& request, std::vector<double> x, std::vector<double> y,
               int32_t numeric = 0) {
    request.xValues = std::move(x);
    request.yValues = std::move(y);
    request.numericXAxis = numeric;
}

std::wstring sentenceOf(std::vector<double> x, std::vector<double> y, int32_t numeric = 0) {
    ChartRequest request;
    setSeries(request, std::move(x), std::move(y), numeric);
    return seriesSentence(request);
}

TEST(SeriesSentence, time_and_numeric_axes_in_the_card_styles) {
    // A trading day: x in seconds from the open, the lowest y before the last.
    EXPECT_EQ(L"4 points, 00:00 to 06:00; last +48,250, low -15,600, high +48,250",
              sentenceOf({0, 3600, 7200, 21600}, {0, -15600, 1200.5, 48250}));
    // Numeric x as the axis writes it, y with six significant digits, zero unsigned.
    EXPECT_EQ(L"3 points, 2 to 1,500; last 0, low -0.001235, high +12,345.7",
              sentenceOf({1500, 2, 40}, {12345.678, -0.0012346, 0}, 1));
    // x out of order: the lowest and highest x, the last y in series order.
    EXPECT_EQ(L"2 points, 00:01 to 01:00; last +5, low +5, high +7",
              sentenceOf({3600, 60}, {7, 5}));
}

TEST(SeriesSentence, points_that_are_not_drawn_are_not_counted) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(L"1 point, 00:02 to 00:02; last -3, low -3, high -3",
              sentenceOf({60, 120, nan}, {inf, -3, 9}));
    EXPECT_EQ(L"No points drawn", sentenceOf({nan}, {1}));
    EXPECT_EQ(L"No points drawn", sentenceOf({}, {}));
}

TEST(CardTexts, name_description_and_changes) {
    ChartRequest shown;
    setSeries(shown, {0, 60}, {1, 2});
    EXPECT_EQ(L"Kestrine", cardAccessibleName(shown));
    EXPECT_EQ(L"2 points, 00:00 to 00:01; last +2, low +1, high +2",
              cardAccessibleDescription(shown));
    shown.titleText = L"損益";
    shown.subtitleText = L"本日";
    shown.noteText = L"12 trades";
    shown.valueText = L"+2";
    EXPECT_EQ(L"損益", cardAccessibleName(shown));
    EXPECT_EQ(L"本日\n12 trades\n2 points, 00:00 to 00:01; last +2, low +1, high +2",
              cardAccessibleDescription(shown));
    shown.subtitleText.clear();
    EXPECT_EQ(L"12 trades\n2 points, 00:00 to 00:01; last +2, low +1, high +2",
              cardAccessibleDescription(shown));

    ChartRequest fresh;
    setSeries(fresh, {0}, {5});
    fresh.titleText = L"損益";
    fresh.valueText = L"+2";
    fresh.noteText = L"other";
    CardTextChanges changes = cardTextChanges(shown, fresh);
    EXPECT_FALSE(changes.name);
    EXPECT_FALSE(changes.value);
    fresh.valueText = L"+5";
    changes = cardTextChanges(shown, fresh);
    EXPECT_FALSE(changes.name);
    EXPECT_TRUE(changes.value);
    // An empty title reads as the window's title: "Kestrine" to "Kestrine" is
    // no change, "Kestrine" to a title is one.
    shown.titleText.clear();
    fresh.titleText = L"Kestrine";
    EXPECT_FALSE(cardTextChanges(shown, fresh).name);
    fresh.titleText = L"P&L";
    EXPECT_TRUE(cardTextChanges(shown, fresh).name);
}

}  // namespace
}  // namespace kestrine
