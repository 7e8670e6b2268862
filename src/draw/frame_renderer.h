// Draw, the layer above core: GDI and GDI+ (card and dll build on it).
// Draws one frame of a card and presents it to its layered window. Drawing
// and presenting are apart: a card can be drawn into caller memory without a
// window (tests, the snapshot tool, benchmarks), and renderFrame composes the
// two for the window procedure.
#pragma once

#include <windows.h>

#include <gdiplus.h>

#include <cstddef>
#include <cstdint>

#include "core/chart_request.h"
#include "core/placement.h"
#include "core/readout.h"
#include "draw/gdi_handles.h"
#include "draw/gdiplus_handles.h"
#include "draw/text_drawing.h"

namespace kestrine {

// The card in logical units, the corner arcs of every rounded rectangle, and
// the hint line at the bottom of the card.
constexpr float CARD_WIDTH = static_cast<float>(CARD_LOGICAL_WIDTH);
constexpr float CARD_HEIGHT = static_cast<float>(CARD_LOGICAL_HEIGHT);
constexpr float CORNER_DIAMETER = 28.0f;
extern const wchar_t HINT_TEXT[];

// progress: share of the curve revealed (below 0 none, 1 or more all);
// elapsedSeconds: places the head marker while animating;
// fade: opacity of the whole window, becomes the layered window's constant alpha;
// readout: the point read under the pointer, drawn over everything when shown.
// False when the frame could not be drawn or the window did not take it.
bool renderFrame(HWND window, const ChartRequest& request, double progress,
                 double elapsedSeconds, double fade, ReadoutPick readout = {});

// Draws the whole card from nothing (modes, clear, scale by dpiScale, every
// step up to the border, then the readout) on a graphics whose world
// transform is the identity.
void drawCard(Gdiplus::GpGraphics* graphics, const ChartRequest& request, double progress,
              double elapsedSeconds, ReadoutPick readout = {});

// Draws the card into caller memory of surfaceWidth x surfaceHeight pixels:
// premultiplied ARGB, top-down rows, stride 4 * surfaceWidth. False, with
// nothing drawn, when the size is empty or no memory is given.
bool renderCardToPixels(const ChartRequest& request, double progress, double elapsedSeconds,
                        uint32_t* pixels, ReadoutPick readout = {});

// The GDI side of one frame: the screen DC, a memory DC and a 32-bit top-down
// DIB section. pixels is null when any of them could not be made; whatever
// was made is released when the surface goes.
struct FrameSurface {
    ScreenDc screenDc;
    MemoryDc memoryDc;
    DibBitmap dib;
    uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
};

FrameSurface createFrameSurface(int width, int height);

// Hands the surface to the layered window with per-pixel alpha and the
// constant alpha of fade; the window keeps its position and takes the
// surface's size. False when the window did not take it.
bool presentSurface(HWND window, const FrameSurface& surface, double fade);

// One closed rounded-rectangle figure: four 90-degree arcs in 28 x 28 boxes,
// top left, top right, bottom right, bottom left, joined by straight edges.
void addRoundedRect(Gdiplus::GpPath* path, float x, float y, float width, float height);

// The steps of drawCard, apart so that a benchmark can time each one. Each
// expects the graphics in the state the previous step left it.
namespace frame_steps {

// Anti-aliasing, half-pixel offset, clear to transparent, scale by dpiScale.
void prepareGraphics(Gdiplus::GpGraphics* graphics, double dpiScale);
// The same modes and scale without the clear, for drawing onto a surface
// that already holds part of a card.
void configureGraphics(Gdiplus::GpGraphics* graphics, double dpiScale);

// The card shape and its fill; the shape becomes the clip. Its path and
// brush live until the border is drawn.
struct CardShape {
    GdiplusPath path;
    GdiplusBrush brush;
};
CardShape fillCard(Gdiplus::GpGraphics* graphics, uint32_t fillColor);

// Each step below draws in the record's palette (cardPalette).

void drawHeaderTexts(Gdiplus::GpGraphics* graphics, const ChartRequest& request);
// Horizontal grid with y labels, then vertical ticks with x labels.
void drawGridAndLabels(Gdiplus::GpGraphics* graphics, const ChartRequest& request);
void drawZeroLine(Gdiplus::GpGraphics* graphics, const ChartRequest& request);
void drawCurve(Gdiplus::GpGraphics* graphics, const ChartRequest& request, double progress);
// The curve's stroke through the given points, at whatever clip is set.
void strokeCurve(Gdiplus::GpGraphics* graphics, uint32_t colour, const PlotPoint* points,
                 std::size_t count);
void drawHeadMarker(Gdiplus::GpGraphics* graphics, const ChartRequest& request,
                    double elapsedSeconds);
// The dot, with the glow around it when asked, at a head position that is
// not skipped.
void drawMarkerAt(Gdiplus::GpGraphics* graphics, uint32_t colour, bool glow, PlotPoint head);
void drawHint(Gdiplus::GpGraphics* graphics, uint32_t colour);
// Resets the clip and strokes the border.
void drawBorder(Gdiplus::GpGraphics* graphics, const ChartRequest& request);

// The readout of one point, laid out: its label measured on the graphics
// and placed beside the point. index is NO_POINT when the pick names no
// drawn point of the record: then nothing is drawn.
struct ReadoutLayout {
    std::size_t index = NO_POINT;
    PlotPoint point;
    std::wstring label;
    LogicalRect labelBox;  // the text sits inside it by the label's padding
};
ReadoutLayout layOutReadout(Gdiplus::GpGraphics* graphics, const ChartRequest& request,
                            ReadoutPick pick, TextKit* kit = nullptr);
// The guide across the plot, the dot on the curve and the label, over
// whatever is drawn, with no clip.
void drawReadout(Gdiplus::GpGraphics* graphics, const ChartRequest& request,
                 const ReadoutLayout& readout, TextKit* kit = nullptr);

}  // namespace frame_steps

}  // namespace kestrine
