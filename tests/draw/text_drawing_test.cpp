// Text drawing on real GDI+ under Wine: the font chosen once, texts placed at
// their corner, right edge or centre, NUL and empty texts, drawing after
// GDI+ has been shut down and started again, and long texts cut to what can
// show with the same pixels as drawn whole.

#include <windows.h>

#include <gdiplus.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "core/text_reach.h"

#include "draw/gdiplus_handles.h"
#include "draw/gdiplus_lifetime.h"
#include "draw/module_lock.h"
#include "draw/test_seams.h"
#include "draw/text_drawing.h"
#include "drawing_test_support.h"

namespace kestrine {
namespace {

using test::InkBox;
using test::Pixels;

constexpr uint32_t BACKGROUND = 0xFF000000u;
constexpr uint32_t WHITE = 0xFFFFFFFFu;
// Anti-aliased edges: a pixel counts as ink when it has moved this far.
constexpr int INK = 40;

// Draws with one of the text operations onto a fresh opaque black card-sized
// bitmap, the way the renderer sets up its graphics at dpiScale 1.
template <typename Draw>
Pixels drawOnCard(Draw draw) {
    Pixels pixels;
    pixels.width = 920;
    pixels.height = 560;
    pixels.data.assign(920 * 560, BACKGROUND);
    const GdiplusBitmap bitmap = createPixelBitmap(920, 560, pixels.data.data());
    const GdiplusGraphics graphics = createImageGraphics(bitmap);
    Gdiplus::DllExports::GdipSetTextRenderingHint(graphics.get(),
                                                  Gdiplus::TextRenderingHintAntiAlias);
    Gdiplus::DllExports::GdipSetPixelOffsetMode(graphics.get(), Gdiplus::PixelOffsetModeHalf);
    draw(graphics.get());
    return pixels;
}

Gdiplus::Status WINAPI failingStartup(ULONG_PTR*, const Gdiplus::GdiplusStartupInput*,
                                      Gdiplus::GdiplusStartupOutput*) {
    return Gdiplus::GdiplusNotInitialized;
}

TEST(FontChoiceWithoutGdiplus, fallback_is_used_but_not_kept_until_gdiplus_runs) {
    testing::forgetUiFontFamily();
    const int probes = testing::fontProbeCount();
    testing::setGdiplusHooks(&failingStartup, nullptr);
    acquireGdiplus();
    EXPECT_EQ(std::wstring(resolveUiFontFamily()), L"Arial");
    EXPECT_EQ(testing::fontProbeCount(), probes);
    releaseGdiplus();
    testing::setGdiplusHooks(nullptr, nullptr);

    const test::GdiplusReference running;
    EXPECT_EQ(std::wstring(resolveUiFontFamily()), L"Meiryo UI");
    EXPECT_EQ(testing::fontProbeCount(), probes + 1);
}

class TextDrawing : public test::WithGdiplus {};

// None of the listed families: the system's message font, and without that
// GDI+'s generic sans serif; either way the text is written.
TEST_F(TextDrawing, without_the_listed_fonts_text_is_still_written) {
    const wchar_t* const missing[] = {L"Kestrine Missing One", L"Kestrine Missing Two"};
    // Wine's message font is "MS Shell Dlg", a name only GDI resolves: the
    // card takes the face GDI selects for it.
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0));
    HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, font);
    WCHAR face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    SelectObject(dc, previous);
    DeleteDC(dc);
    DeleteObject(font);
    const std::wstring messageFont = face;
    ASSERT_FALSE(messageFont.empty());
    const auto titleInk = [] {
        const Pixels pixels = drawOnCard(
            [](Gdiplus::GpGraphics* g) { drawText(g, L"Profit", 35, 22, 24, WHITE); });
        return test::findInk(pixels, BACKGROUND, INK);
    };

    testing::setUiFontStandIns(missing, 2, nullptr);
    testing::forgetUiFontFamily();
    const int probes = testing::fontProbeCount();
    EXPECT_EQ(std::wstring(resolveUiFontFamily()), messageFont);
    const InkBox inMessageFont = titleInk();
    EXPECT_TRUE(inMessageFont.any);
    EXPECT_GT(inMessageFont.right - inMessageFont.left, 40);
    EXPECT_EQ(testing::fontProbeCount(), probes + 1);  // still once

    testing::setUiFontStandIns(missing, 2, L"Kestrine Missing Three");
    testing::forgetUiFontFamily();
    const std::wstring generic = resolveUiFontFamily();
    EXPECT_NE(generic, L"Kestrine Missing Three");
    const InkBox inGeneric = titleInk();
    EXPECT_TRUE(inGeneric.any) << "nothing written in " << std::string(generic.begin(), generic.end());

    testing::setUiFontStandIns(nullptr, 0, nullptr);
    testing::forgetUiFontFamily();
    EXPECT_EQ(std::wstring(resolveUiFontFamily()), L"Meiryo UI");
}

TEST_F(TextDrawing, prefix_maps_the_first_candidate_so_it_is_chosen) {
    EXPECT_EQ(std::wstring(resolveUiFontFamily()), L"Meiryo UI");
}

TEST_F(TextDrawing, font_is_probed_once_even_across_gdiplus_restarts) {
    const wchar_t* first = resolveUiFontFamily();
    const int probes = testing::fontProbeCount();
    drawOnCard([](Gdiplus::GpGraphics* g) { drawTextRight(g, L"once", 10, 12, WHITE); });
    dropSuiteGdiplus();
    takeSuiteGdiplus();
    drawOnCard([](Gdiplus::GpGraphics* g) { drawText(g, L"again", 10, 10, 12, WHITE); });
    EXPECT_EQ(resolveUiFontFamily(), first);
    EXPECT_EQ(testing::fontProbeCount(), probes);
}

TEST_F(TextDrawing, text_starts_at_its_top_left_corner) {
    const Pixels pixels =
        drawOnCard([](Gdiplus::GpGraphics* g) { drawText(g, L"Hello 123", 100, 50, 24, WHITE); });
    const InkBox ink = test::findInk(pixels, BACKGROUND, INK);
    ASSERT_TRUE(ink.any);
    // The typographic format has no leading margin: the H's stem starts at x.
    EXPECT_GE(ink.left, 100);
    EXPECT_LE(ink.left, 104);
    EXPECT_GE(ink.top, 50);
    EXPECT_LE(ink.top, 50 + 10);
    EXPECT_GT(ink.right, 100 + 60);
    EXPECT_LE(ink.bottom, 50 + 30);
}

TEST_F(TextDrawing, right_aligned_text_ends_at_885) {
    const Pixels pixels =
        drawOnCard([](Gdiplus::GpGraphics* g) { drawTextRight(g, L"+12,345 JPY", 20, 28, WHITE); });
    const InkBox ink = test::findInk(pixels, BACKGROUND, INK);
    ASSERT_TRUE(ink.any);
    EXPECT_LE(ink.right, 886);
    EXPECT_GE(ink.right, 880);
    EXPECT_GE(ink.top, 20);
    EXPECT_LT(ink.left, 885 - 100);
}

TEST_F(TextDrawing, right_aligned_text_wider_than_the_card_starts_left_of_it) {
    const std::wstring wide(120, L'W');
    const Pixels pixels =
        drawOnCard([&](Gdiplus::GpGraphics* g) { drawTextRight(g, wide, 100, 24, WHITE); });
    const InkBox ink = test::findInk(pixels, BACKGROUND, INK);
    ASSERT_TRUE(ink.any);
    EXPECT_EQ(ink.left, 0);
    EXPECT_LE(ink.right, 886);
    EXPECT_GE(ink.right, 875);
}

TEST_F(TextDrawing, axis_label_is_centred_on_its_tick_below_the_plot) {
    const Pixels pixels =
        drawOnCard([](Gdiplus::GpGraphics* g) { drawTextCentered(g, L"12:00", 467); });
    const InkBox ink = test::findInk(pixels, BACKGROUND, INK);
    ASSERT_TRUE(ink.any);
    const double centre = (ink.left + ink.right) / 2.0;
    EXPECT_NEAR(centre, 467.0, 2.5);
    EXPECT_GE(ink.top, 500);
    EXPECT_LE(ink.bottom, 500 + 16);
    // Size 11: five characters are narrower than 50 units.
    EXPECT_LT(ink.right - ink.left, 50);
    // Drawn in the axis label colour (0xFF89939E) at its darkest.
    uint32_t brightest = BACKGROUND;
    for (int y = ink.top; y < ink.bottom; ++y) {
        for (int x = ink.left; x < ink.right; ++x) {
            if (test::channel(pixels.at(x, y), 0) > test::channel(brightest, 0)) {
                brightest = pixels.at(x, y);
            }
        }
    }
    EXPECT_LE(test::channelDistance(brightest, 0xFF89939Eu), 12);
}

TEST_F(TextDrawing, label_at_the_plot_edge_reaches_left_of_it) {
    const Pixels pixels = drawOnCard([](Gdiplus::GpGraphics* g) { drawTextCentered(g, L"0", 72); });
    const InkBox ink = test::findInk(pixels, BACKGROUND, INK);
    ASSERT_TRUE(ink.any);
    EXPECT_LT(ink.left, 72);
    EXPECT_GT(ink.right, 72);
}

TEST_F(TextDrawing, empty_texts_leave_the_graphics_untouched) {
    const Pixels pixels = drawOnCard([](Gdiplus::GpGraphics* g) {
        drawText(g, L"", 10, 10, 24, WHITE);
        drawTextRight(g, L"", 10, 24, WHITE);
        drawTextCentered(g, L"", 100);
    });
    EXPECT_FALSE(test::findInk(pixels, BACKGROUND, 0).any);
    EXPECT_EQ(testing::liveGdiplusObjects(), 0);
}

TEST_F(TextDrawing, texts_sharing_a_kit_draw_as_each_on_its_own) {
    const auto draw = [](TextKit* kit) {
        return drawOnCard([kit](Gdiplus::GpGraphics* g) {
            drawText(g, L"\u640D\u76CA Title", 35, 22, 24, WHITE, kit);
            drawTextRight(g, L"+1,234", 20, 28, 0xFF38D996u, kit);
            drawTextCentered(g, L"12:00", 467, kit);
            drawText(g, L"again, smaller", 35, 80, 13, WHITE, kit);
            drawTextRight(g, std::wstring(3000, L'8'), 120, 24, WHITE, kit);
        });
    };
    const Pixels alone = draw(nullptr);
    Pixels shared;
    {
        TextKit kit;
        shared = draw(&kit);
        EXPECT_GT(testing::liveGdiplusObjects(), 0);
    }
    EXPECT_TRUE(test::findInk(alone, BACKGROUND, INK).any);
    EXPECT_EQ(shared.data, alone.data);
    EXPECT_EQ(testing::liveGdiplusObjects(), 0);
}

TEST_F(TextDrawing, text_is_drawn_only_up_to_a_nul) {
    const std::wstring withNul(L"AB\0CD", 5);
    ASSERT_EQ(withNul.size(), 5u);
    const Pixels cut =
        drawOnCard([&](Gdiplus::GpGraphics* g) { drawText(g, withNul, 40, 40, 24, WHITE); });
    const Pixels plain =
        drawOnCard([](Gdiplus::GpGraphics* g) { drawText(g, L"AB", 40, 40, 24, WHITE); });
    EXPECT_TRUE(test::findInk(cut, BACKGROUND, INK).any);
    EXPECT_EQ(cut.data, plain.data);

    const std::wstring leadingNul(L"\0XY", 3);
    const Pixels none = drawOnCard([&](Gdiplus::GpGraphics* g) {
        drawText(g, leadingNul, 40, 40, 24, WHITE);
        drawTextRight(g, leadingNul, 40, 24, WHITE);
        drawTextCentered(g, leadingNul, 300);
    });
    EXPECT_FALSE(test::findInk(none, BACKGROUND, 0).any);
}

TEST_F(TextDrawing, japanese_text_draws_in_the_ui_font) {
    const Pixels pixels = drawOnCard([](Gdiplus::GpGraphics* g) {
        drawText(g, L"\u30C9\u30E9\u30C3\u30B0\u3067\u79FB\u52D5", 20, 20, 24, WHITE);
    });
    const InkBox ink = test::findInk(pixels, BACKGROUND, INK);
    ASSERT_TRUE(ink.any);
    // Seven full-width characters at 24 units are about 168 units wide.
    EXPECT_GT(ink.right - ink.left, 140);
    EXPECT_LT(ink.right - ink.left, 190);
}

TEST_F(TextDrawing, text_draws_the_same_after_gdiplus_restarts) {
    const auto draw = [](Gdiplus::GpGraphics* g) {
        drawText(g, L"Before and after", 30, 30, 20, WHITE);
        drawTextRight(g, L"right", 90, 13, WHITE);
        drawTextCentered(g, L"00:30", 300);
    };
    const Pixels before = drawOnCard(draw);
    ASSERT_TRUE(test::findInk(before, BACKGROUND, INK).any);

    // Dropping the suite's reference shuts GDI+ down; the next one starts a
    // new instance, whose typographic format the text code must take afresh.
    dropSuiteGdiplus();
    {
        ModuleLockGuard lock;
        ASSERT_EQ(gdiplusToken, 0u);
    }
    takeSuiteGdiplus();
    const Pixels after = drawOnCard(draw);
    EXPECT_EQ(after.data, before.data);
}

TEST_F(TextDrawing, two_threads_drawing_at_once_get_the_same_pixels) {
    const auto draw = [](Gdiplus::GpGraphics* g) {
        drawText(g, L"Thread", 30, 30, 20, WHITE);
        drawTextRight(g, L"\u30AF\u30EA\u30C3\u30AF", 90, 13, WHITE);
        drawTextCentered(g, L"10:00", 400);
    };
    const Pixels reference = drawOnCard(draw);
    // Both threads race to take the shared format afresh.
    forgetSharedTypographicFormat();
    bool sameA = true;
    bool sameB = true;
    const auto worker = [&](bool* same) {
        for (int i = 0; i < 40; ++i) {
            if (drawOnCard(draw).data != reference.data) {
                *same = false;
            }
        }
    };
    std::thread a(worker, &sameA);
    std::thread b(worker, &sameB);
    a.join();
    b.join();
    EXPECT_TRUE(sameA);
    EXPECT_TRUE(sameB);
}

// The whole text handed to GDI+ at once, as text drawing did before it cut
// long texts: the reference for what a cut text must show.
void drawWhole(Gdiplus::GpGraphics* g, const std::wstring& text, double x, double y, double size,
               bool rightAligned) {
    using namespace Gdiplus::DllExports;
    Gdiplus::GpFontFamily* family = nullptr;
    GdipCreateFontFamilyFromName(resolveUiFontFamily(), nullptr, &family);
    const GdiplusFontFamily familyOwner(family);
    Gdiplus::GpFont* font = nullptr;
    GdipCreateFont(family, static_cast<Gdiplus::REAL>(size), Gdiplus::FontStyleRegular,
                   Gdiplus::UnitPixel, &font);
    const GdiplusFont fontOwner(font);
    Gdiplus::GpStringFormat* generic = nullptr;
    GdipStringFormatGetGenericTypographic(&generic);
    Gdiplus::GpStringFormat* format = nullptr;
    GdipCloneStringFormat(generic, &format);
    const GdiplusStringFormat formatOwner(format);
    if (rightAligned) {
        const Gdiplus::RectF layout(0.0f, 0.0f, 0.0f, 0.0f);
        Gdiplus::RectF box(0.0f, 0.0f, 0.0f, 0.0f);
        GdipMeasureString(g, text.c_str(), -1, font, &layout, format, &box, nullptr, nullptr);
        x = TEXT_RIGHT_EDGE - box.Width;
    }
    INT flags = 0;
    GdipGetStringFormatFlags(format, &flags);
    GdipSetStringFormatFlags(format, flags | Gdiplus::StringFormatFlagsNoWrap |
                                         Gdiplus::StringFormatFlagsNoClip);
    const GdiplusBrush brush = createSolidBrush(WHITE);
    const Gdiplus::RectF at(static_cast<Gdiplus::REAL>(x), static_cast<Gdiplus::REAL>(y), 0.0f,
                            0.0f);
    GdipDrawString(g, text.c_str(), -1, font, &at, format, brush.get());
}

// A text of at least `units` units: `piece` again and again.
std::wstring repeated(const std::wstring& piece, std::size_t units) {
    std::wstring text;
    while (text.size() < units) {
        text += piece;
    }
    return text;
}

const wchar_t SMILE[] = L"\xD83D\xDE00";  // U+1F600, one surrogate pair

// Long texts drawn left-aligned as the title is and right-aligned as the
// value is: the same pixels as the whole text drawn at once.
void expectSameAsWhole(const std::wstring& text, const char* name) {
    const Pixels left = drawOnCard([&](Gdiplus::GpGraphics* g) {
        drawText(g, text, 35, 22, 24, WHITE);
    });
    const Pixels leftWhole = drawOnCard([&](Gdiplus::GpGraphics* g) {
        drawWhole(g, text, 35, 22, 24, false);
    });
    EXPECT_TRUE(test::findInk(left, BACKGROUND, INK).any) << name;
    EXPECT_TRUE(left.data == leftWhole.data) << name << ", left-aligned";
    const Pixels right = drawOnCard([&](Gdiplus::GpGraphics* g) {
        drawTextRight(g, text, 20, 28, WHITE);
    });
    const Pixels rightWhole = drawOnCard([&](Gdiplus::GpGraphics* g) {
        drawWhole(g, text, 0, 20, 28, true);
    });
    EXPECT_TRUE(test::findInk(right, BACKGROUND, INK).any) << name;
    EXPECT_TRUE(right.data == rightWhole.data) << name << ", right-aligned";
}

class LongTexts : public test::WithGdiplus {};

TEST_F(LongTexts, show_what_the_whole_text_shows) {
    expectSameAsWhole(repeated(L"Profit and loss 0123456789, ", 10000), "ascii");
    expectSameAsWhole(repeated(L"\u640D\u76CA\u63A8\u79FB\u3001\u53D6\u5F15", 3000),
                      "japanese");
    // Zero-width spaces measure nothing: the cut has to look far ahead.
    expectSameAsWhole(std::wstring(3000, wchar_t(0x200B)) + repeated(L"abc ", 2000) +
                          std::wstring(3000, wchar_t(0x200B)),
                      "zero-width");
    // The first prefix and tail measured end between the halves of a pair.
    const std::wstring pairs = std::wstring(UNMEASURED_LINE_UNITS - 1, L'a') + SMILE +
                               std::wstring(3000, L'b') + SMILE +
                               std::wstring(UNMEASURED_LINE_UNITS - 1, L'c');
    expectSameAsWhole(pairs, "surrogate pair at the cut");
    expectSameAsWhole(L"first\n" + repeated(L"second line ", 5000) + L"\r\nthird\n\nfifth",
                      "several lines");
    expectSameAsWhole(repeated(L"0123456789", TEXT_UNIT_LIMIT).substr(0, TEXT_UNIT_LIMIT),
                      "64k units");
}

TEST_F(LongTexts, beyond_the_limit_draw_in_bounded_time_without_crashing) {
    const std::wstring huge = repeated(L"\u640D\u76CA 123456789 ", 10000000);
    const ULONGLONG start = GetTickCount64();
    const Pixels pixels = drawOnCard([&](Gdiplus::GpGraphics* g) {
        drawText(g, huge, 35, 22, 24, WHITE);
        drawText(g, huge, 37, 59, 13, WHITE);
        drawTextRight(g, huge, 20, 28, WHITE);
        drawTextRight(g, huge, 62, 13, WHITE);
        drawTextCentered(g, huge, 400);
    });
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_TRUE(test::findInk(pixels, BACKGROUND, INK).any);
    // Whole, one such text takes GDI+ minutes or crashes it; cut, the five
    // take about as long as short ones (a loaded machine gets ample room).
    EXPECT_LT(took, 5000u);
    EXPECT_EQ(testing::liveGdiplusObjects(), 0);
}

}  // namespace
}  // namespace kestrine
