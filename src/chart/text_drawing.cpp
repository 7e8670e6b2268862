// Text drawing in the card's UI font with GDI+'s generic typographic layout,
// so a text starts exactly at its point. Each call makes and releases its own
// font, brush and format; only the family name and the base format persist.

#include "chart/text_drawing.h"

#include "chart/gdiplus_handles.h"
#include "chart/palette.h"
#include "interface/module_state.h"
#include "interface/test_seams.h"

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

GdiplusFontFamily createUiFontFamily() {
    GpFontFamily* family = nullptr;
    GdipCreateFontFamilyFromName(resolveUiFontFamily(), nullptr, &family);
    return GdiplusFontFamily(family);
}

GdiplusFont createUiFont(const GdiplusFontFamily& family, double size) {
    GpFont* font = nullptr;
    if (family) {
        GdipCreateFont(family.get(), static_cast<REAL>(size), FontStyleRegular, UnitPixel, &font);
    }
    return GdiplusFont(font);
}

// Width of the text's one-line bounding box; 0 when measuring fails.
double measureTextWidth(GpGraphics* graphics, const std::wstring& text, double size) {
    const GdiplusFontFamily family = createUiFontFamily();
    const GdiplusFont font = createUiFont(family, size);
    const GdiplusStringFormat format = makeCallFormat();
    const RectF layout(0.0f, 0.0f, 0.0f, 0.0f);
    RectF box(0.0f, 0.0f, 0.0f, 0.0f);
    if (GdipMeasureString(graphics, text.c_str(), -1, font.get(), &layout, format.get(), &box,
                          nullptr, nullptr) != Ok) {
        return 0.0;
    }
    return box.Width;
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

void drawText(GpGraphics* graphics, const std::wstring& text, double x, double y, double size,
              uint32_t colour) {
    if (text.empty()) {
        return;
    }
    // Declared in creation order, so they are released format, brush, font,
    // family.
    const GdiplusFontFamily family = createUiFontFamily();
    const GdiplusFont font = createUiFont(family, size);
    const GdiplusBrush brush = createSolidBrush(colour);
    const GdiplusStringFormat format = makeCallFormat();
    if (format) {
        INT flags = 0;
        GdipGetStringFormatFlags(format.get(), &flags);
        GdipSetStringFormatFlags(format.get(),
                                 flags | StringFormatFlagsNoWrap | StringFormatFlagsNoClip);
    }
    // An empty layout box with no wrapping and no clipping puts the text's
    // top-left corner at (x, y) and lets it run on to the right. Length -1
    // draws up to the first NUL.
    const RectF layout(static_cast<REAL>(x), static_cast<REAL>(y), 0.0f, 0.0f);
    GdipDrawString(graphics, text.c_str(), -1, font.get(), &layout, format.get(), brush.get());
}

void drawTextRight(GpGraphics* graphics, const std::wstring& text, double y, double size,
                   uint32_t colour) {
    if (text.empty()) {
        return;
    }
    const double width = measureTextWidth(graphics, text, size);
    drawText(graphics, text, TEXT_RIGHT_EDGE - width, y, size, colour);
}

void drawTextCentered(GpGraphics* graphics, const std::wstring& text, double x) {
    if (text.empty()) {
        return;
    }
    const double width = measureTextWidth(graphics, text, AXIS_LABEL_SIZE);
    drawText(graphics, text, x - width * 0.5, AXIS_LABEL_TOP, AXIS_LABEL_SIZE, AXIS_LABEL_COLOR);
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
