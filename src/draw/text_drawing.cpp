// Text drawing in the card's UI font with GDI+'s generic typographic layout,
// so a text starts exactly at its point. A call makes its own font, brush and
// formats, or takes them from the caller's kit; only the family name and the
// base format persist.

#include "draw/text_drawing.h"

#include <functional>
#include <initializer_list>
#include <optional>
#include <string_view>

#include "core/card_palette.h"
#include "core/placement.h"
#include "core/text_reach.h"
#include "draw/gdi_handles.h"
#include "draw/gdiplus_handles.h"
#include "draw/gdiplus_lifetime.h"
#include "draw/module_lock.h"
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
double fontProbeMs = 0.0;

// Test stand-ins for the candidate list and the system's message font; null
// for the real ones. Guarded by moduleLock.
const wchar_t* const* candidateStandIn = nullptr;
int candidateStandInCount = 0;
const wchar_t* messageFontStandIn = nullptr;

bool familyExists(const wchar_t* name) {
    // The handle decides, not the status.
    GpFontFamily* family = nullptr;
    GdipCreateFontFamilyFromName(name, nullptr, &family);
    if (family == nullptr) {
        return false;
    }
    GdipDeleteFontFamily(family);
    return true;
}

// The system's message font: the user-interface font that every Windows and
// Wine has, whatever else is installed. Its name may be one that only GDI
// knows (Wine's is "MS Shell Dlg", which GDI substitutes), so the face GDI
// actually selects for it comes second. Empty names where unknown.
struct MessageFont {
    std::wstring name;
    std::wstring face;
};

MessageFont messageFont() {
    MessageFont font;
    if (messageFontStandIn != nullptr) {
        font.name = messageFontStandIn;
        return font;
    }
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        return font;
    }
    font.name = metrics.lfMessageFont.lfFaceName;
    const GdiFont created(CreateFontIndirectW(&metrics.lfMessageFont));
    const MemoryDc dc(CreateCompatibleDC(nullptr));
    if (created && dc) {
        const SelectGuard selection(dc.get(), created.get());
        WCHAR face[LF_FACESIZE] = {};
        if (GetTextFaceW(dc.get(), LF_FACESIZE, face) > 0) {
            font.face = face;
        }
    }
    return font;
}

// The name of GDI+'s generic sans-serif family, which it finds among the
// installed fonts; empty when it finds none.
std::wstring genericSansSerifName() {
    GpFontFamily* family = nullptr;
    GdipGetGenericFontFamilySansSerif(&family);
    if (family == nullptr) {
        return std::wstring();
    }
    WCHAR name[LF_FACESIZE] = {};
    const bool named = GdipGetFamilyName(family, name, LANG_NEUTRAL) == Ok;
    GdipDeleteFontFamily(family);
    return named ? std::wstring(name) : std::wstring();
}

// The first family that exists: a listed one, else the system's message font,
// else GDI+'s generic sans serif; a card that dropped every text its host
// passed because none of the listed fonts is installed (a Windows program
// under Wine, a trimmed system) would show a chart nobody can read.
std::wstring probeUiFontFamily() {
    const wchar_t* const* candidates =
        candidateStandIn != nullptr ? candidateStandIn : UI_FONT_CANDIDATES;
    const int count =
        candidateStandIn != nullptr ? candidateStandInCount : UI_FONT_CANDIDATE_COUNT;
    for (int i = 0; i < count; ++i) {
        if (familyExists(candidates[i])) {
            return candidates[i];
        }
    }
    const MessageFont message = messageFont();
    for (const std::wstring& name : {message.name, message.face}) {
        if (!name.empty() && familyExists(name.c_str())) {
            return name;
        }
    }
    const std::wstring generic = genericSansSerifName();
    if (!generic.empty() && familyExists(generic.c_str())) {
        return generic;
    }
    // Nothing at all: the name is kept all the same, and texts draw nothing.
    return FALLBACK_FONT_FAMILY;
}

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
        LARGE_INTEGER start;
        LARGE_INTEGER end;
        LARGE_INTEGER frequency;
        QueryPerformanceCounter(&start);
        uiFontFamilyName = probeUiFontFamily();
        QueryPerformanceCounter(&end);
        QueryPerformanceFrequency(&frequency);
        fontProbeMs += 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                       static_cast<double>(frequency.QuadPart);
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

double fontProbeMilliseconds() {
    ModuleLockGuard lock;
    return fontProbeMs;
}

void forgetUiFontFamily() {
    ModuleLockGuard lock;
    uiFontFamilyName.clear();
}

void setUiFontStandIns(const wchar_t* const* candidates, int count, const wchar_t* messageFont) {
    ModuleLockGuard lock;
    candidateStandIn = candidates;
    candidateStandInCount = candidates != nullptr ? count : 0;
    messageFontStandIn = messageFont;
}

}  // namespace testing

}  // namespace kestrine
