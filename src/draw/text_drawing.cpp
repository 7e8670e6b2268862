// Text drawing in the card's UI font with GDI+'s generic typographic layout,
// so a text starts exactly at its point. A call makes its own font, brush and
// formats, or takes them from the caller's kit; only the family name and the
// base format persist.

#include "draw/text_drawing.h"

#include <functional>
#include <optional>
#include <string_view>

#include "core/placement.h"
#include "core/text_reach.h"
#include "draw/gdiplus_handles.h"
#include "draw/gdiplus_lifetime.h"
#include "draw/module_lock.h"
#include "core/card_palette.h"
#include "draw/test_seams.h"

namespace kestrine {

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

const wchar_t* const UI_FONT_CANDIDATES[UI_FONT_CANDIDATE_COUNT] = {
    L"Meiryo UI", L"Meiryo", L"Yu Gothic UI", L"MS UI Gothic", L"Segoe UI", L"Arial",
};

namespace {

const wchar_t FALLBACK_FONT_FAMILY[] = L"Arial";

// Both guarded by moduleLock. The name is written once, while empty; the
// format handle belongs to GDI+ and is never deleted, only forgotten.
std::wstring uiFontFamilyName;
GpStringFormat* sharedTypographicFormat = nullptr;
int fontProbes = 0;

// A clone of the generic typographic format for one call, or an empty owner
// when GDI+ would not give one (the text is then laid out without a format).
GdiplusStringFormat makeCallFormat() {
    ModuleLockGuard lock;
    if (sharedTypographicFormat == nullptr) {
        GpStringFormat* format = nullptr;
        if (GdipStringFormatGetGenericTypographic(&format) == Ok && format != nullptr) {
            sharedTypographicFormat = format;
        }
    }
    GpStringFormat* clone = nullptr;
    if (sharedTypographicFormat != nullptr) {
        GdipCloneStringFormat(sharedTypographicFormat, &clone);
    }
    return GdiplusStringFormat(clone);
}

// The text's one-line bounding box; empty when measuring fails.
RectF measureBox(GpGraphics* graphics, GpFont* font, GpStringFormat* format,
                 std::wstring_view text) {
    const RectF layout(0.0f, 0.0f, 0.0f, 0.0f);
    RectF box(0.0f, 0.0f, 0.0f, 0.0f);
    if (GdipMeasureString(graphics, text.data(), static_cast<INT>(text.size()), font, &layout,
                          format, &box, nullptr, nullptr) != Ok) {
        return RectF(0.0f, 0.0f, 0.0f, 0.0f);
    }
    return box;
}

// Width of the text's one-line bounding box; 0 when measuring fails.
double measureWidth(GpGraphics* graphics, GpFont* font, GpStringFormat* format,
                    std::wstring_view text) {
    return measureBox(graphics, font, format, text).Width;
}

// Measures pieces of one text at one size.
struct Measurer {
    GpGraphics* graphics;
    GpFont* font;
    GpStringFormat* format;

    Measurer(GpGraphics* g, TextKit& kit, double size)
        : graphics(g), font(kit.font(size)), format(kit.measureFormat()) {}
    double operator()(std::wstring_view text) const {
        return measureWidth(graphics, font, format, text);
    }
};

// The caller's kit, or one for this call alone.
class KitForCall {
public:
    explicit KitForCall(TextKit* kit) : kit_(kit != nullptr ? kit : &own_.emplace()) {}
    TextKit& operator*() const { return *kit_; }

private:
    std::optional<TextKit> own_;
    TextKit* kit_;
};

// Glyphs reach a little to the left of where they start (overhangs, marks
// that combine with the character before), never by this many em sizes: a
// piece is cut only once it runs at least this far past the card's edge.
constexpr double CUT_MARGIN_EMS = 2.0;

// Lines below the card do not show. Lines are never closer than half their
// em size, so a text has no more than this many that can.
std::size_t linesThatCanShow(double y, double size) {
    const double spacing = size * 0.5;
    if (!(spacing > 0.0) || !(y < static_cast<double>(CARD_LOGICAL_HEIGHT))) {
        return 1;
    }
    const double lines = (static_cast<double>(CARD_LOGICAL_HEIGHT) - y) / spacing + 2.0;
    return lines < static_cast<double>(TEXT_UNIT_LIMIT) ? static_cast<std::size_t>(lines)
                                                        : TEXT_UNIT_LIMIT;
}

// Draws the units of text as they are, top-left corner at (x, y).
void drawUnits(GpGraphics* graphics, TextKit& kit, std::wstring_view text, double x, double y,
               double size, uint32_t colour) {
    if (text.empty()) {
        return;
    }
    // An empty layout box with no wrapping and no clipping puts the text's
    // top-left corner at (x, y) and lets it run on to the right.
    const RectF layout(static_cast<REAL>(x), static_cast<REAL>(y), 0.0f, 0.0f);
    GdipDrawString(graphics, text.data(), static_cast<INT>(text.size()), kit.font(size), &layout,
                   kit.drawFormat(), kit.brush(colour));
}

// A left-aligned text: what of it can reach the card, drawn.
void drawFromLeft(GpGraphics* graphics, TextKit& kit, std::wstring_view text, double x,
                  double y, double size, uint32_t colour) {
    const std::size_t maxLines = linesThatCanShow(y, size);
    std::size_t breaks = 0;
    for (wchar_t c : text) {
        breaks += isLineBreak(c) ? 1 : 0;
    }
    if (text.size() <= UNMEASURED_LINE_UNITS && breaks < maxLines) {
        drawUnits(graphics, kit, text, x, y, size, colour);
        return;
    }
    const double room = static_cast<double>(CARD_LOGICAL_WIDTH) - x + CUT_MARGIN_EMS * size;
    const Measurer measure(graphics, kit, size);
    const std::wstring visible = visibleFromLeft(text, room, maxLines, std::cref(measure));
    drawUnits(graphics, kit, visible, x, y, size, colour);
}

}  // namespace

const wchar_t* resolveUiFontFamily() {
    ModuleLockGuard lock;
    // Without a running GDI+ every probe fails; settling on the fallback then
    // would keep the card out of its Japanese font for the rest of the
    // process. Such a text draws nothing anyway, so use the fallback name for
    // this call only and probe once GDI+ runs.
    if (uiFontFamilyName.empty() && gdiplusToken == 0) {
        return FALLBACK_FONT_FAMILY;
    }
    if (uiFontFamilyName.empty()) {
        ++fontProbes;
        for (const wchar_t* candidate : UI_FONT_CANDIDATES) {
            // The handle decides, not the status.
            GpFontFamily* family = nullptr;
            GdipCreateFontFamilyFromName(candidate, nullptr, &family);
            if (family != nullptr) {
                GdipDeleteFontFamily(family);
                uiFontFamilyName = candidate;
                break;
            }
        }
        if (uiFontFamilyName.empty()) {
            uiFontFamilyName = FALLBACK_FONT_FAMILY;
        }
    }
    return uiFontFamilyName.c_str();
}

GpFont* TextKit::font(double size) {
    for (const auto& made : fonts_) {
        if (made.first == size) {
            return made.second.get();
        }
    }
    if (!familyMade_) {
        familyMade_ = true;
        GpFontFamily* family = nullptr;
        GdipCreateFontFamilyFromName(resolveUiFontFamily(), nullptr, &family);
        family_ = GdiplusFontFamily(family);
    }
    GpFont* font = nullptr;
    if (family_) {
        GdipCreateFont(family_.get(), static_cast<REAL>(size), FontStyleRegular, UnitPixel, &font);
    }
    fonts_.emplace_back(size, GdiplusFont(font));
    return font;
}

GpBrush* TextKit::brush(uint32_t colour) {
    for (const auto& made : brushes_) {
        if (made.first == colour) {
            return made.second.get();
        }
    }
    brushes_.emplace_back(colour, createSolidBrush(colour));
    return brushes_.back().second.get();
}

GpStringFormat* TextKit::measureFormat() {
    if (!measureFormatMade_) {
        measureFormatMade_ = true;
        measureFormat_ = makeCallFormat();
    }
    return measureFormat_.get();
}

GpStringFormat* TextKit::drawFormat() {
    if (!drawFormatMade_) {
        drawFormatMade_ = true;
        drawFormat_ = makeCallFormat();
        if (drawFormat_) {
            INT flags = 0;
            GdipGetStringFormatFlags(drawFormat_.get(), &flags);
            GdipSetStringFormatFlags(drawFormat_.get(),
                                     flags | StringFormatFlagsNoWrap | StringFormatFlagsNoClip);
        }
    }
    return drawFormat_.get();
}

void drawText(GpGraphics* graphics, const std::wstring& text, double x, double y, double size,
              uint32_t colour, TextKit* kit) {
    if (text.empty()) {
        return;
    }
    const KitForCall texts(kit);
    drawFromLeft(graphics, *texts, leadingText(text), x, y, size, colour);
}

void drawTextRight(GpGraphics* graphics, const std::wstring& text, double y, double size,
                   uint32_t colour, TextKit* kit) {
    if (text.empty()) {
        return;
    }
    const KitForCall texts(kit);
    // Placed by the width of the whole (its tail when that is beyond the
    // limit); a tail wider than the card starts where the whole would have
    // put it, so of a long line only that tail is laid out.
    const std::wstring_view whole = trailingText(text);
    const Measurer measure(graphics, *texts, size);
    const double room = TEXT_RIGHT_EDGE + CUT_MARGIN_EMS * size;
    const std::wstring_view shown = whole.substr(visibleTailStart(whole, room, std::cref(measure)));
    const double width = measure(shown);
    drawFromLeft(graphics, *texts, shown, TEXT_RIGHT_EDGE - width, y, size, colour);
}

void drawTextCentered(GpGraphics* graphics, const std::wstring& text, double x, TextKit* kit,
                      uint32_t colour) {
    if (text.empty()) {
        return;
    }
    const KitForCall texts(kit);
    const std::wstring_view label = leadingText(text);
    const double width = Measurer(graphics, *texts, AXIS_LABEL_SIZE)(label);
    drawFromLeft(graphics, *texts, label, x - width * 0.5, AXIS_LABEL_TOP, AXIS_LABEL_SIZE,
                 colour);
}

TextExtent measureText(GpGraphics* graphics, const std::wstring& text, double size,
                       TextKit* kit) {
    TextExtent extent;
    if (text.empty()) {
        return extent;
    }
    const KitForCall texts(kit);
    const RectF box = measureBox(graphics, (*texts).font(size), (*texts).measureFormat(), text);
    extent.width = box.Width;
    extent.height = box.Height;
    return extent;
}

void forgetSharedTypographicFormat() {
    ModuleLockGuard lock;
    sharedTypographicFormat = nullptr;
}

namespace testing {

int fontProbeCount() {
    ModuleLockGuard lock;
    return fontProbes;
}

void forgetUiFontFamily() {
    ModuleLockGuard lock;
    uiFontFamilyName.clear();
}

}  // namespace testing

}  // namespace kestrine
