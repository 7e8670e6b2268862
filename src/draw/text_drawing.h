// The card's three text operations and the choice of its UI font. Positions
// and sizes are logical card units: the caller's graphics already scales
// them to device pixels.
#pragma once

#include <windows.h>

#include <gdiplus.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/card_palette.h"
#include "draw/gdiplus_handles.h"

namespace kestrine {

constexpr double TEXT_RIGHT_EDGE = 885.0;  // right-aligned texts end here
constexpr double AXIS_LABEL_TOP = 500.0;   // top of the x-axis labels
constexpr double AXIS_LABEL_SIZE = 11.0;   // font size of the x-axis labels

// Japanese user-interface fonts first, "Arial" last. When none of them exists
// the card writes in the system's message font, or else in GDI+'s generic
// sans serif; "Arial" is kept only when there is no font at all.
constexpr int UI_FONT_CANDIDATE_COUNT = 6;
extern const wchar_t* const UI_FONT_CANDIDATES[UI_FONT_CANDIDATE_COUNT];

// The UI font family name, probed once per process under moduleLock. The
// characters stay valid for the rest of the process.
const wchar_t* resolveUiFontFamily();

// What the texts of one drawing step share: the UI font family, a font per
// size, a brush per colour and the two layout formats, each made on first
// use and released with the kit. Making them is a good part of what a short
// text costs. A kit stays on the thread that made it, within one drawing
// step. Without one, each call makes and releases its own.
class TextKit {
public:
    TextKit() = default;
    TextKit(const TextKit&) = delete;
    TextKit& operator=(const TextKit&) = delete;

    Gdiplus::GpFont* font(double size);
    Gdiplus::GpBrush* brush(uint32_t colour);
    // The generic typographic format, and that format with no wrapping and
    // no clipping for drawing; null where GDI+ gives none.
    Gdiplus::GpStringFormat* measureFormat();
    Gdiplus::GpStringFormat* drawFormat();

private:
    // The family is declared first, so that it goes after its fonts.
    GdiplusFontFamily family_;
    bool familyMade_ = false;
    std::vector<std::pair<double, GdiplusFont>> fonts_;
    std::vector<std::pair<uint32_t, GdiplusBrush>> brushes_;
    GdiplusStringFormat measureFormat_;
    GdiplusStringFormat drawFormat_;
    bool measureFormatMade_ = false;
    bool drawFormatMade_ = false;
};

// Text with its top-left corner at (x, y), on one line. Drawn up to its first
// NUL; an empty text creates and draws nothing. Only what can reach the card
// is laid out: each line up to where it has certainly run past the card's
// right edge, no lines below it, at most TEXT_UNIT_LIMIT units at all; up
// to that limit the pixels are those of the whole text.
void drawText(Gdiplus::GpGraphics* graphics, const std::wstring& text, double x, double y,
              double size, uint32_t colour, TextKit* kit = nullptr);

// Text whose right end is at TEXT_RIGHT_EDGE, top at y. A one-line text
// wider than the card is laid out only from where it enters the card; of a
// text beyond TEXT_UNIT_LIMIT units, the last ones are placed.
void drawTextRight(Gdiplus::GpGraphics* graphics, const std::wstring& text, double y,
                   double size, uint32_t colour, TextKit* kit = nullptr);

// An x-axis label centred on x, top AXIS_LABEL_TOP, size AXIS_LABEL_SIZE,
// in the axis label colour of the card's palette.
void drawTextCentered(Gdiplus::GpGraphics* graphics, const std::wstring& text, double x,
                      TextKit* kit = nullptr, uint32_t colour = AXIS_LABEL_COLOR);

// The box of a one-line text at size, as drawText lays it out; zero when it
// cannot be measured.
struct TextExtent {
    double width = 0.0;
    double height = 0.0;
};
TextExtent measureText(Gdiplus::GpGraphics* graphics, const std::wstring& text, double size,
                       TextKit* kit = nullptr);

// Drops the cached generic typographic format. releaseGdiplus calls it, under
// moduleLock, just before GDI+ shuts down: the handle belongs to that GDI+
// instance, and the next instance hands out its own.
void forgetSharedTypographicFormat();

}  // namespace kestrine
