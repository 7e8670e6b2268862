// The frame renderer: the whole card drawn from nothing with GDI+ into a
// 32-bit premultiplied bitmap, then handed to the layered window. Nothing is
// cached between frames; every object is owned and released on every path.

#include "draw/frame_renderer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/animation_clock.h"
#include "core/axis_scale.h"
#include "core/axis_ticks.h"
#include "core/curve_columns.h"
#include "core/head_position.h"
#include "core/card_palette.h"
#include "draw/test_seams.h"
#include "draw/text_drawing.h"

namespace kestrine {

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

// The curve goes to GdipDrawLines straight from the record, and the saved
// position to the Windows calls, without copying.
static_assert(sizeof(PlotPoint) == sizeof(PointF) && offsetof(PlotPoint, x) == offsetof(PointF, X) &&
                  offsetof(PlotPoint, y) == offsetof(PointF, Y),
              "PlotPoint must have the layout of GDI+ PointF");
static_assert(sizeof(ScreenPoint) == sizeof(POINT) && offsetof(ScreenPoint, x) == offsetof(POINT, x) &&
                  offsetof(ScreenPoint, y) == offsetof(POINT, y),
              "ScreenPoint must have the layout of POINT");

// "ドラッグで移動　クリックで閉じる" (drag to move, click to close), the two
// phrases joined by an ideographic space; escaped so that every compiler
// reads the same characters whatever the source charset.
const wchar_t HINT_TEXT[] =
    L"\u30C9\u30E9\u30C3\u30B0\u3067\u79FB\u52D5\u3000\u30AF\u30EA\u30C3\u30AF\u3067\u9589\u3058\u308B";

namespace {

// Header texts: positions and sizes in logical units.
constexpr double TITLE_X = 35.0;
constexpr double TITLE_Y = 22.0;
constexpr double TITLE_SIZE = 24.0;
constexpr double SUBTITLE_X = 37.0;
constexpr double SUBTITLE_Y = 59.0;
constexpr double SUBTITLE_SIZE = 13.0;
constexpr double VALUE_TOP = 20.0;
constexpr double VALUE_SIZE = 28.0;
constexpr double NOTE_TOP = 62.0;
constexpr double NOTE_SIZE = 13.0;
constexpr double HINT_TOP = 525.0;
constexpr double HINT_SIZE = 11.0;

// y-axis labels sit at the left margin, a little above their grid line.
constexpr double Y_LABEL_X = 8.0;
constexpr double Y_LABEL_RAISE = 8.0;
constexpr double Y_LABEL_SIZE = 11.0;

constexpr float GRID_PEN_WIDTH = 1.0f;
constexpr float BORDER_PEN_WIDTH = 1.0f;
// Dash and gap, in pen widths.
constexpr REAL ZERO_LINE_DASHES[] = {4.0f, 4.0f};

constexpr float GLOW_RADIUS = 17.0f;
constexpr float DOT_RADIUS = 7.0f;
constexpr uint32_t GLOW_CENTRE_ALPHA = 0xBDu;

constexpr float BORDER_INSET = 0.5f;

// Plot edges as GDI+ takes them.
constexpr float PLOT_LEFT_EDGE = static_cast<float>(PLOT_LEFT);
constexpr float PLOT_TOP_EDGE = static_cast<float>(PLOT_TOP);
constexpr float PLOT_RIGHT_EDGE = static_cast<float>(PLOT_LEFT + PLOT_WIDTH);
constexpr float PLOT_BOTTOM_EDGE = static_cast<float>(PLOT_TOP + PLOT_HEIGHT);

uint32_t withAlpha(uint32_t argb, uint32_t alpha) {
    return (argb & 0x00FFFFFFu) | (alpha << 24);
}

void drawLine(GpGraphics* graphics, const GdiplusPen& pen, float x1, float y1, float x2, float y2) {
    GdipDrawLine(graphics, pen.get(), x1, y1, x2, y2);
}

}  // namespace

void addRoundedRect(GpPath* path, float x, float y, float width, float height) {
    const float d = CORNER_DIAMETER;
    GdipAddPathArc(path, x, y, d, d, 180.0f, 90.0f);
    GdipAddPathArc(path, x + width - d, y, d, d, 270.0f, 90.0f);
    GdipAddPathArc(path, x + width - d, y + height - d, d, d, 0.0f, 90.0f);
    GdipAddPathArc(path, x, y + height - d, d, d, 90.0f, 90.0f);
    GdipClosePathFigure(path);
}

namespace frame_steps {

void prepareGraphics(GpGraphics* graphics, double dpiScale) {
    GdipGraphicsClear(graphics, 0);
    configureGraphics(graphics, dpiScale);
}

void configureGraphics(GpGraphics* graphics, double dpiScale) {
    GdipSetSmoothingMode(graphics, SmoothingModeAntiAlias);
    GdipSetTextRenderingHint(graphics, TextRenderingHintAntiAlias);
    GdipSetPixelOffsetMode(graphics, PixelOffsetModeHalf);
    const REAL scale = static_cast<REAL>(dpiScale);
    GdipScaleWorldTransform(graphics, scale, scale, MatrixOrderPrepend);
}

CardShape fillCard(GpGraphics* graphics, uint32_t fillColor) {
    CardShape card;
    card.path = createPath();
    addRoundedRect(card.path.get(), 0.0f, 0.0f, CARD_WIDTH, CARD_HEIGHT);
    card.brush = createSolidBrush(fillColor);
    GdipFillPath(graphics, card.brush.get(), card.path.get());
    GdipSetClipPath(graphics, card.path.get(), CombineModeReplace);
    return card;
}

void drawHeaderTexts(GpGraphics* graphics, const ChartRequest& request) {
    const CardPalette palette = cardPalette(request);
    TextKit kit;
    drawText(graphics, request.titleText, TITLE_X, TITLE_Y, TITLE_SIZE, palette.titleText, &kit);
    drawText(graphics, request.subtitleText, SUBTITLE_X, SUBTITLE_Y, SUBTITLE_SIZE,
             palette.secondaryText, &kit);
    drawTextRight(graphics, request.valueText, VALUE_TOP, VALUE_SIZE, palette.valueText, &kit);
    drawTextRight(graphics, request.noteText, NOTE_TOP, NOTE_SIZE, palette.secondaryText, &kit);
}

void drawGridAndLabels(GpGraphics* graphics, const ChartRequest& request) {
    const CardPalette palette = cardPalette(request);
    TextKit kit;
    {
        const GdiplusPen gridPen = createPen(palette.gridLine, GRID_PEN_WIDTH);
        for (const YGridLine& line : yGridLines(request.yAxisMin, request.yAxisMax)) {
            const float y = static_cast<float>(line.logicalY);
            drawLine(graphics, gridPen, PLOT_LEFT_EDGE, y, PLOT_RIGHT_EDGE, y);
            drawText(graphics, line.label, Y_LABEL_X, line.logicalY - Y_LABEL_RAISE, Y_LABEL_SIZE,
                     palette.axisLabel, &kit);
        }
    }
    const GdiplusPen tickPen = createPen(palette.tickLine, GRID_PEN_WIDTH);
    for (const XTick& tick : xAxisTicks(request)) {
        const float x = static_cast<float>(tick.logicalX);
        drawLine(graphics, tickPen, x, PLOT_TOP_EDGE, x, PLOT_BOTTOM_EDGE);
        drawTextCentered(graphics, tick.label, tick.logicalX, &kit, palette.axisLabel);
    }
}

void drawZeroLine(GpGraphics* graphics, const ChartRequest& request) {
    const std::optional<double> y0 = zeroLineY(request.yAxisMin, request.yAxisMax);
    if (!y0) {
        return;
    }
    const GdiplusPen pen = createPen(cardPalette(request).zeroLine, GRID_PEN_WIDTH);
    GdipSetPenDashArray(pen.get(), ZERO_LINE_DASHES, 2);
    const float y = static_cast<float>(*y0);
    drawLine(graphics, pen, PLOT_LEFT_EDGE, y, PLOT_RIGHT_EDGE, y);
}

void drawCurve(GpGraphics* graphics, const ChartRequest& request, double progress) {
    // Skipped points (a non-finite value in the data) leave a joint, not a
    // gap: the line runs from the finite point before to the one after. The
    // record's points go straight to GDI+ when none is skipped.
    const std::vector<PlotPoint>& points = request.plotPoints;
    const bool anySkipped = std::any_of(points.begin(), points.end(),
                                        [](const PlotPoint& p) { return isSkippedPlotPoint(p); });
    const std::vector<PlotPoint> finite = anySkipped ? drawnPoints(points) : std::vector<PlotPoint>();
    const PlotPoint* drawn = anySkipped ? finite.data() : points.data();
    const std::size_t count = anySkipped ? finite.size() : points.size();
    if (count < 2) {
        return;
    }
    GraphicsState state = 0;
    GdipSaveGraphics(graphics, &state);
    if (progress < 1.0) {
        const double width = progress < 0.0 ? 0.0 : progress * PLOT_WIDTH;
        GdipSetClipRect(graphics, PLOT_LEFT_EDGE, 0.0f, static_cast<REAL>(width), CARD_HEIGHT,
                        CombineModeIntersect);
    }
    strokeCurve(graphics, cardPalette(request).curve, drawn, count);
    GdipRestoreGraphics(graphics, state);
}

void strokeCurve(GpGraphics* graphics, uint32_t colour, const PlotPoint* points,
                 std::size_t count) {
    if (count < 2) {
        return;
    }
    const GdiplusPen pen = createPen(colour, static_cast<float>(CURVE_PEN_WIDTH));
    GdipSetPenLineJoin(pen.get(), LineJoinMiter);
    GdipDrawLines(graphics, pen.get(), reinterpret_cast<const GpPointF*>(points),
                  static_cast<INT>(count));
}

void drawHeadMarker(GpGraphics* graphics, const ChartRequest& request, double elapsedSeconds) {
    if (request.plotPoints.empty()) {
        return;
    }
    const PlotPoint head = headPosition(request, elapsedSeconds);
    if (isSkippedPlotPoint(head)) {
        return;
    }
    const CardPalette palette = cardPalette(request);
    drawMarkerAt(graphics, palette.marker, palette.glow, head);
}

void drawMarkerAt(GpGraphics* graphics, uint32_t colour, bool glow, PlotPoint head) {
    if (glow) {
        const GdiplusPath glowPath = createPath();
        GdipAddPathEllipse(glowPath.get(), head.x - GLOW_RADIUS, head.y - GLOW_RADIUS,
                           2.0f * GLOW_RADIUS, 2.0f * GLOW_RADIUS);
        GpPathGradient* rawGlow = nullptr;
        if (glowPath) {
            GdipCreatePathGradientFromPath(glowPath.get(), &rawGlow);
        }
        const GdiplusBrush glowBrush(rawGlow);
        GdipSetPathGradientCenterColor(rawGlow, withAlpha(colour, GLOW_CENTRE_ALPHA));
        ARGB surround = withAlpha(colour, 0);
        INT surroundCount = 1;
        GdipSetPathGradientSurroundColorsWithCount(rawGlow, &surround, &surroundCount);
        const PointF centre(head.x, head.y);
        GdipSetPathGradientCenterPoint(rawGlow, &centre);
        GdipFillPath(graphics, glowBrush.get(), glowPath.get());
    }
    const GdiplusBrush dotBrush = createSolidBrush(colour);
    GdipFillEllipse(graphics, dotBrush.get(), head.x - DOT_RADIUS, head.y - DOT_RADIUS,
                    2.0f * DOT_RADIUS, 2.0f * DOT_RADIUS);
}

void drawHint(GpGraphics* graphics, uint32_t colour) {
    drawTextRight(graphics, HINT_TEXT, HINT_TOP, HINT_SIZE, colour);
}

void drawBorder(GpGraphics* graphics, const ChartRequest& request) {
    GdipResetClip(graphics);
    const GdiplusPath path = createPath();
    addRoundedRect(path.get(), BORDER_INSET, BORDER_INSET, CARD_WIDTH - 2.0f * BORDER_INSET,
                   CARD_HEIGHT - 2.0f * BORDER_INSET);
    const GdiplusPen pen = createPen(cardPalette(request).border, BORDER_PEN_WIDTH);
    GdipDrawPath(graphics, pen.get(), path.get());
}

ReadoutLayout layOutReadout(GpGraphics* graphics, const ChartRequest& request,
                            ReadoutPick pick, TextKit* kit) {
    ReadoutLayout readout;
    if (pick.index >= request.plotPoints.size() ||
        isSkippedPlotPoint(request.plotPoints[pick.index])) {
        return readout;
    }
    readout.point = request.plotPoints[pick.index];
    readout.label = readoutLabel(request, pick.index, pick.withSeconds);
    if (readout.label.empty()) {
        return readout;
    }
    const TextExtent text = measureText(graphics, readout.label, READOUT_LABEL_SIZE, kit);
    readout.labelBox = placeReadoutLabel(readout.point, text.width, text.height);
    readout.index = pick.index;
    return readout;
}

void drawReadout(GpGraphics* graphics, const ChartRequest& request, const ReadoutLayout& readout,
                 TextKit* kit) {
    if (readout.index == NO_POINT) {
        return;
    }
    const CardPalette palette = cardPalette(request);
    const PlotPoint p = readout.point;
    {
        const GdiplusPen guide =
            createPen(palette.readoutGuide, static_cast<float>(READOUT_GUIDE_WIDTH));
        drawLine(graphics, guide, p.x, PLOT_TOP_EDGE, p.x, PLOT_BOTTOM_EDGE);
    }
    {
        const float r = static_cast<float>(READOUT_DOT_RADIUS);
        const GdiplusBrush dot = createSolidBrush(palette.readoutDot);
        GdipFillEllipse(graphics, dot.get(), p.x - r, p.y - r, 2.0f * r, 2.0f * r);
        const GdiplusPen ring =
            createPen(palette.readoutRing, static_cast<float>(READOUT_DOT_RING_WIDTH));
        GdipDrawEllipse(graphics, ring.get(), p.x - r, p.y - r, 2.0f * r, 2.0f * r);
    }
    const LogicalRect& box = readout.labelBox;
    const float left = static_cast<float>(box.left);
    const float top = static_cast<float>(box.top);
    const float width = static_cast<float>(box.right - box.left);
    const float height = static_cast<float>(box.bottom - box.top);
    {
        const GdiplusBrush fill = createSolidBrush(palette.readoutLabelFill);
        GdipFillRectangle(graphics, fill.get(), left, top, width, height);
        const GdiplusPen edge = createPen(palette.readoutLabelEdge, GRID_PEN_WIDTH);
        GdipDrawRectangle(graphics, edge.get(), left, top, width, height);
    }
    drawText(graphics, readout.label, box.left + READOUT_LABEL_PAD_X, box.top + READOUT_LABEL_PAD_Y,
             READOUT_LABEL_SIZE, palette.readoutLabelText, kit);
}

}  // namespace frame_steps

void drawCard(GpGraphics* graphics, const ChartRequest& request, double progress,
              double elapsedSeconds, ReadoutPick readout) {
    using namespace frame_steps;
    prepareGraphics(graphics, request.dpiScale);
    // The card shape and its brush stay until the border has been drawn.
    const CardPalette palette = cardPalette(request);
    const CardShape card = fillCard(graphics, palette.cardFill);
    drawHeaderTexts(graphics, request);
    drawGridAndLabels(graphics, request);
    drawZeroLine(graphics, request);
    drawCurve(graphics, request, progress);
    drawHeadMarker(graphics, request, elapsedSeconds);
    drawHint(graphics, palette.hintText);
    drawBorder(graphics, request);
    if (readout.shown()) {
        TextKit kit;
        drawReadout(graphics, request, layOutReadout(graphics, request, readout, &kit), &kit);
    }
}

bool renderCardToPixels(const ChartRequest& request, double progress, double elapsedSeconds,
                        uint32_t* pixels, ReadoutPick readout) {
    if (pixels == nullptr || request.surfaceWidth <= 0 || request.surfaceHeight <= 0) {
        return false;
    }
    // The graphics is declared after the bitmap, so it goes first.
    const GdiplusBitmap bitmap =
        createPixelBitmap(request.surfaceWidth, request.surfaceHeight, pixels);
    const GdiplusGraphics graphics = createImageGraphics(bitmap);
    drawCard(graphics.get(), request, progress, elapsedSeconds, readout);
    return true;
}

FrameSurface createFrameSurface(int width, int height) {
    FrameSurface surface;
    surface.screenDc = ScreenDc(GetDC(nullptr));
    surface.memoryDc = MemoryDc(CreateCompatibleDC(surface.screenDc.get()));
    if (!surface.screenDc || !surface.memoryDc || width <= 0 || height <= 0) {
        return surface;
    }
    void* bits = nullptr;
    surface.dib = createTopDownDib(surface.screenDc.get(), width, height, &bits);
    if (surface.dib && bits != nullptr) {
        surface.pixels = static_cast<uint32_t*>(bits);
        surface.width = width;
        surface.height = height;
    }
    return surface;
}

namespace {
testing::UpdateLayeredWindowHook updateLayeredWindowHook = nullptr;
}  // namespace

bool presentSurface(HWND window, const FrameSurface& surface, double fade) {
    if (surface.pixels == nullptr) {
        return false;
    }
    const SelectGuard selection(surface.memoryDc.get(), surface.dib.get());
    BLENDFUNCTION blend = {};
    blend.BlendOp = AC_SRC_OVER;
    blend.BlendFlags = 0;
    blend.SourceConstantAlpha = static_cast<BYTE>(constantAlphaFromFade(fade));
    blend.AlphaFormat = AC_SRC_ALPHA;
    SIZE size = {surface.width, surface.height};
    POINT source = {0, 0};
    const auto update = updateLayeredWindowHook != nullptr ? updateLayeredWindowHook
                                                           : &UpdateLayeredWindow;
    return update(window, surface.screenDc.get(), nullptr, &size, surface.memoryDc.get(), &source,
                  0, &blend, ULW_ALPHA) != FALSE;
}

bool renderFrame(HWND window, const ChartRequest& request, double progress,
                 double elapsedSeconds, double fade, ReadoutPick readout) {
    // Surface, the card drawn into its pixels, present. The surface's owners
    // release the DIB, the memory DC and the screen DC on every path,
    // including a failed or memoryless DIB.
    const FrameSurface surface = createFrameSurface(request.surfaceWidth, request.surfaceHeight);
    if (surface.pixels == nullptr) {
        return false;
    }
    renderCardToPixels(request, progress, elapsedSeconds, surface.pixels, readout);
    return presentSurface(window, surface, fade);
}

namespace testing {

void setUpdateLayeredWindowHook(UpdateLayeredWindowHook hook) {
    updateLayeredWindowHook = hook;
}

long liveGdiObjects() {
    return liveGdiObjectCount.load();
}

long liveGdiplusObjects() {
    return liveGdiplusObjectCount.load();
}

}  // namespace testing

}  // namespace kestrine
