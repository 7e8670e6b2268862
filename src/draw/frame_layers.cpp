// Building a record's layers with the frame renderer's own drawing steps, and
// composing frames from them: copies of pixels GDI+ drew once, the head marker
// drawn afresh, and the layered window told only what changed.

#include "draw/frame_layers.h"

#include <gdiplus.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <new>
#include <utility>

#include "core/animation_clock.h"
#include "core/pixel_blend.h"
#include "draw/card_base.h"
#include "draw/frame_layer_seams.h"
#include "draw/frame_renderer.h"
#include "draw/gdiplus_handles.h"
#include "draw/gdiplus_lifetime.h"
#include "draw/module_lock.h"
#include "draw/test_seams.h"

namespace kestrine {

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

// Under GDI+ as Wine implements it, every fill and line covers whole pixels (a
// shape's coverage and the clip are pixel masks), so the curve clipped to a
// progress is exactly the full curve in the admitted columns, and a frame put
// together from pixels GDI+ drew once is the frame it would draw now. A GDI+
// that anti-aliases may differ by a level or two along the reveal's edge and
// where the head passes under the hint or the border.

namespace {

std::atomic<bool> allocationFails{false};
std::atomic<testing::LayeredPresentHook> presentHook{nullptr};
std::atomic<long> staticDraws{0};
std::atomic<testing::LayerTimes*> timeTally{nullptr};

// Adds the time from its start, or from its last lap, to a field of the
// tally, when one is set; the font choice, timed on its own, is left out of
// whichever phase it falls in.
class PhaseClock {
public:
    PhaseClock() : tally_(timeTally.load()) {
        if (tally_ != nullptr) {
            start_ = ticks();
            fontStart_ = testing::fontProbeMilliseconds();
        }
    }
    void lap(double testing::LayerTimes::*field) {
        if (tally_ == nullptr) {
            return;
        }
        const long long now = ticks();
        const double font = testing::fontProbeMilliseconds();
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        tally_->*field += 1000.0 * static_cast<double>(now - start_) /
                              static_cast<double>(frequency.QuadPart) -
                          (font - fontStart_);
        start_ = now;
        fontStart_ = font;
    }
    void count(int testing::LayerTimes::*field) {
        if (tally_ != nullptr) {
            ++(tally_->*field);
        }
    }

private:
    static long long ticks() {
        LARGE_INTEGER t;
        QueryPerformanceCounter(&t);
        return t.QuadPart;
    }
    testing::LayerTimes* tally_;
    long long start_ = 0;
    double fontStart_ = 0.0;
};

// A phase that ends wherever its scope is left.
class ScopedPhase {
public:
    explicit ScopedPhase(double testing::LayerTimes::*field) : field_(field) {}
    ~ScopedPhase() { clock_.lap(field_); }
    ScopedPhase(const ScopedPhase&) = delete;
    ScopedPhase& operator=(const ScopedPhase&) = delete;

private:
    PhaseClock clock_;
    double testing::LayerTimes::*field_;
};

// The last closed card's layers; guarded by moduleLock. A plain pointer, so
// that no destructor frees GDI objects as the process ends.
FrameLayers* closedCardLayers = nullptr;

// The glow's radius bounds the head marker; the margin takes in the rounding
// of its outline to device pixels.
constexpr double MARKER_REACH = 17.0;
constexpr double MARKER_MARGIN = 2.0;

// The head of a record without points: no marker.
const float NO_HEAD = std::numeric_limits<float>::quiet_NaN();

// The ring of the card that GDI+ fills, in logical units from the card's
// edge: well beyond the corners' arcs (radius 14), so that the rest is
// inside. INSIDE_RING lies in the ring, clear of the edge and of the arcs.
constexpr float FILL_RING = 32.0f;
constexpr float INSIDE_RING = 24.0f;

// How far a stroke's pixels reach from its points, in logical units: the
// miter of a sharp join (GDI+'s limit is ten pen widths) and a pixel's edge.
constexpr double STROKE_REACH = 10.0 * CURVE_PEN_WIDTH + 1.0;

// Beyond this size (four times the largest card, 3680 x 2240 at dpiScale 4)
// a card draws from nothing instead.
constexpr uint64_t MAX_SURFACE_PIXELS = 4ull * 3680u * 2240u;

// The left edge of a strip of columns; strip CURVE_STRIPS is the right edge
// of the surface.
int32_t stripEdge(int width, int strip) {
    return static_cast<int32_t>(static_cast<int64_t>(width) * strip / CURVE_STRIPS);
}

// A GDI+ graphics over caller memory.
struct Canvas {
    GdiplusBitmap bitmap;
    GdiplusGraphics graphics;
};

Canvas wrapPixels(uint32_t* pixels, int width, int height, PixelFormat format) {
    Canvas canvas;
    GpBitmap* bitmap = nullptr;
    GdipCreateBitmapFromScan0(width, height, 4 * width, format, reinterpret_cast<BYTE*>(pixels),
                              &bitmap);
    canvas.bitmap = GdiplusBitmap(bitmap);
    canvas.graphics = createImageGraphics(canvas.bitmap);
    return canvas;
}

// Set up as the frame renderer's graphics is after its clear: the same modes
// and the same scale, over what the memory already holds.
Canvas openCanvas(uint32_t* pixels, int width, int height, double dpiScale, PixelFormat format) {
    Canvas canvas = wrapPixels(pixels, width, height, format);
    frame_steps::configureGraphics(canvas.graphics.get(), dpiScale);
    return canvas;
}

// The clip the frame renderer keeps from the card's fill to the border.
void clipToCard(GpGraphics* graphics) {
    const GdiplusPath card = createPath();
    addRoundedRect(card.get(), 0.0f, 0.0f, CARD_WIDTH, CARD_HEIGHT);
    GdipSetClipPath(graphics, card.get(), CombineModeReplace);
}

// What the frame renderer draws over the curve and the head marker.
void drawHintAndBorder(GpGraphics* graphics, const ChartRequest& request) {
    clipToCard(graphics);
    frame_steps::drawHint(graphics, cardPalette(request).hintText);
    frame_steps::drawBorder(graphics, request);
}

int32_t clampToRange(double value, int32_t low, int32_t high) {
    if (!(value > low)) {
        return low;
    }
    if (value > high) {
        return high;
    }
    return static_cast<int32_t>(value);
}

// The rows of each strip of columns in which drawing the outline can have
// changed pixels, [first, second): around each segment's box by the
// stroke's reach, and each span's own rows.
StripRows curveRows(const CurveOutline& curve, double dpiScale, int width, int height) {
    StripRows rows;
    rows.fill(std::make_pair(height, 0));
    const auto mark = [&](double left, double right, double top, double bottom) {
        const int32_t from = clampToRange(std::floor(top) - 1.0, 0, height);
        const int32_t to = clampToRange(std::ceil(bottom) + 2.0, 0, height);
        for (int strip = 0; strip < CURVE_STRIPS; ++strip) {
            if (right >= stripEdge(width, strip) && left <= stripEdge(width, strip + 1)) {
                rows[strip].first = (std::min)(rows[strip].first, from);
                rows[strip].second = (std::max)(rows[strip].second, to);
            }
        }
    };
    for (const std::vector<PlotPoint>& stroke : curve.strokes) {
        for (std::size_t i = 0; i + 1 < stroke.size(); ++i) {
            const PlotPoint a = stroke[i];
            const PlotPoint b = stroke[i + 1];
            mark(((std::min)(a.x, b.x) - STROKE_REACH) * dpiScale,
                 ((std::max)(a.x, b.x) + STROKE_REACH) * dpiScale,
                 ((std::min)(a.y, b.y) - STROKE_REACH) * dpiScale,
                 ((std::max)(a.y, b.y) + STROKE_REACH) * dpiScale);
        }
    }
    for (const ColumnSpan& span : curve.spans) {
        mark(span.column, span.column + 1.0, span.top, span.bottom);
    }
    return rows;
}

}  // namespace

void DeviceRect::unite(const DeviceRect& other) {
    if (other.empty()) {
        return;
    }
    if (empty()) {
        *this = other;
        return;
    }
    left = (std::min)(left, other.left);
    top = (std::min)(top, other.top);
    right = (std::max)(right, other.right);
    bottom = (std::max)(bottom, other.bottom);
}

std::unique_ptr<FrameLayers> FrameLayers::build(const ChartRequest& request,
                                                std::unique_ptr<FrameLayers> previous) {
    const int width = request.surfaceWidth;
    const int height = request.surfaceHeight;
    if (allocationFails.load() || width <= 0 || height <= 0 ||
        static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > MAX_SURFACE_PIXELS) {
        return nullptr;
    }
    // Out of memory anywhere on the way gives no layers, never a half-built set.
    try {
        PhaseClock clock;
        clock.count(&testing::LayerTimes::builds);
        std::unique_ptr<FrameLayers> layers(new FrameLayers);
        layers->record_ = &request;
        layers->pointData_ = request.plotPoints.data();
        layers->pointCount_ = request.plotPoints.size();
        layers->dpiScale_ = request.dpiScale;
        layers->palette_ = cardPalette(request);
        layers->width_ = width;
        layers->height_ = height;
        layers->staticInputs_ = StaticInputs::of(request);

        layers->headTrack_ = buildHeadTrack(request);
        clock.lap(&testing::LayerTimes::layers);

        // Drawing over the surface the window already has spares allocating
        // (and first touching) a new one, which at the larger scales costs
        // more than drawing the card; the rest of the old layers goes before
        // anything more is allocated, so that a card never holds two sets.
        bool keepStatic = false;
        if (previous && layers->takeSurfaces(*previous)) {
            keepStatic = !layers->static_.empty() &&
                         layers->staticInputs_.drawsAlike(previous->staticInputs_);
        }
        previous.reset();
        bool transparent = false;
        if (layers->framePixels_ == nullptr) {
            layers->memoryDc_ = MemoryDc(CreateCompatibleDC(nullptr));
            void* bits = nullptr;
            layers->dib_ = createTopDownDib(nullptr, width, height, &bits);
            if (!layers->memoryDc_ || !layers->dib_ || bits == nullptr) {
                return nullptr;
            }
            layers->selection_ =
                std::make_unique<SelectGuard>(layers->memoryDc_.get(), layers->dib_.get());
            if (!layers->selection_->selected()) {
                return nullptr;
            }
            layers->framePixels_ = static_cast<uint32_t*>(bits);
            // A new DIB reads as zeros, but each of its pages costs its first
            // touch: taken here, in one pass, rather than by whatever draws
            // on it first.
            std::memset(bits, 0, static_cast<std::size_t>(width) * height * sizeof(uint32_t));
            transparent = true;
        }
        clock.lap(&testing::LayerTimes::surface);
        if (!layers->render(request, keepStatic, transparent)) {
            return nullptr;
        }
        return layers;
    } catch (...) {
        return nullptr;
    }
}

FrameLayers::StaticInputs FrameLayers::StaticInputs::of(const ChartRequest& request) {
    StaticInputs inputs;
    for (const std::wstring* text : {&request.titleText, &request.subtitleText,
                                     &request.valueText, &request.noteText}) {
        if (text->size() > KEPT_TEXT_UNITS) {
            return inputs;
        }
    }
    inputs.kept = true;
    inputs.titleText = request.titleText;
    inputs.subtitleText = request.subtitleText;
    inputs.valueText = request.valueText;
    inputs.noteText = request.noteText;
    inputs.palette = cardPalette(request);
    inputs.numericXAxis = request.numericXAxis;
    inputs.xMax = request.xMax;
    inputs.yAxisMin = request.yAxisMin;
    inputs.yAxisMax = request.yAxisMax;
    inputs.dpiScale = request.dpiScale;
    return inputs;
}

bool FrameLayers::StaticInputs::drawsAlike(const StaticInputs& other) const {
    return kept && other.kept && titleText == other.titleText &&
           subtitleText == other.subtitleText && valueText == other.valueText &&
           noteText == other.noteText && palette == other.palette &&
           numericXAxis == other.numericXAxis && xMax == other.xMax &&
           yAxisMin == other.yAxisMin && yAxisMax == other.yAxisMax &&
           dpiScale == other.dpiScale;
}

bool FrameLayers::takeSurfaces(FrameLayers& previous) {
    if (previous.framePixels_ == nullptr || previous.width_ != width_ ||
        previous.height_ != height_) {
        return false;
    }
    memoryDc_ = std::move(previous.memoryDc_);
    dib_ = std::move(previous.dib_);
    selection_ = std::move(previous.selection_);
    framePixels_ = previous.framePixels_;
    previous.framePixels_ = nullptr;
    static_ = std::move(previous.static_);
    // Their other buffers too: new memory of a few megabytes costs more to
    // touch first than to fill. The top pixels still hold what lies under
    // the hint and border, for a card below the curve that is kept.
    columnRunStart_ = std::move(previous.columnRunStart_);
    curveRuns_ = std::move(previous.curveRuns_);
    curveValues_ = std::move(previous.curveValues_);
    curveColumns_ = std::move(previous.curveColumns_);
    curveColumns_.clear();
    topRowStart_ = std::move(previous.topRowStart_);
    topPixels_ = std::move(previous.topPixels_);
    coveredScratch_ = std::move(previous.coveredScratch_);
    runScratch_ = std::move(previous.runScratch_);
    return true;
}

std::unique_ptr<FrameLayers> FrameLayers::surfaceOnly(std::unique_ptr<FrameLayers> layers) {
    std::unique_ptr<FrameLayers> kept(new (std::nothrow) FrameLayers);
    if (!kept) {
        return nullptr;
    }
    kept->width_ = layers->width_;
    kept->height_ = layers->height_;
    kept->memoryDc_ = std::move(layers->memoryDc_);
    kept->dib_ = std::move(layers->dib_);
    kept->selection_ = std::move(layers->selection_);
    kept->framePixels_ = std::exchange(layers->framePixels_, nullptr);
    return kept;
}

FrameLayers::~FrameLayers() = default;

bool FrameLayers::render(const ChartRequest& request, bool keepStatic, bool transparent) {
    PhaseClock clock;
    // The hint and border first: when they are to be drawn, the frame
    // surface is where, before it holds anything else.
    bool hintDrawn = false;
    const HintBorderPixels hintAndBorder = hintAndBorderPixels(request, &hintDrawn);
    transparent = transparent && !hintDrawn;
    clock.lap(&testing::LayerTimes::hintAndBorder);
    StripRows changedRows;
    {
        // The card below the curve, drawn by the frame renderer's steps into
        // the frame surface; then the whole curve over it, at the same clip.
        const Canvas canvas = wrapPixels(framePixels_, width_, height_, PixelFormat32bppPARGB);
        if (!canvas.graphics) {
            return false;
        }
        GpGraphics* graphics = canvas.graphics.get();
        if (keepStatic) {
            // Drawn for the previous record from equal inputs: the same steps
            // over the same fill give the same pixels, and the same hint and
            // border lie on them, with the same pixels under them. The
            // graphics is set up as those steps leave it.
            static_.copyTo(framePixels_);
            for (const TopPixel& p : topPixels_) {
                framePixels_[static_cast<std::size_t>(p.y) * width_ + p.x] = p.underStatic;
            }
            frame_steps::configureGraphics(graphics, dpiScale_);
            clipToCard(graphics);
        } else {
            staticDraws.fetch_add(1);
            layCardBase(graphics, transparent);
            clock.lap(&testing::LayerTimes::cardFill);
            frame_steps::drawHeaderTexts(graphics, request);
            clock.lap(&testing::LayerTimes::headerTexts);
            frame_steps::drawGridAndLabels(graphics, request);
            clock.lap(&testing::LayerTimes::gridAndLabels);
            frame_steps::drawZeroLine(graphics, request);
            clock.lap(&testing::LayerTimes::zeroLine);
        }
        collectTopPixels(*hintAndBorder);
        if (!keepStatic) {
            // Kept with the hint and border on it, as a frame shows it; each
            // of their pixels laid over what is below as GDI+ lays a colour,
            // which is what drawing them there again gives, without another
            // pass of GDI+ over the whole surface.
            for (const TopPixel& p : topPixels_) {
                uint32_t& pixel = framePixels_[static_cast<std::size_t>(p.y) * width_ + p.x];
                pixel = gdiplusSourceOver(pixel, p.source);
            }
            if (!static_.assign(framePixels_, width_, height_)) {
                return false;
            }
            for (const TopPixel& p : topPixels_) {
                framePixels_[static_cast<std::size_t>(p.y) * width_ + p.x] = p.underStatic;
            }
        }
        clock.lap(&testing::LayerTimes::layers);
        const CurveOutline curve =
            curveOutline(request.plotPoints, dpiScale_, width_, height_);
        strokeOutline(graphics, curve.strokes);
        fillSpans(curve.spans);
        changedRows = curveRows(curve, dpiScale_, width_, height_);
    }
    clock.lap(&testing::LayerTimes::curve);
    collectCurveRuns(changedRows);
    // The hint and border over the curve.
    for (TopPixel& p : topPixels_) {
        uint32_t& pixel = framePixels_[static_cast<std::size_t>(p.y) * width_ + p.x];
        p.underCurve = pixel;
        pixel = gdiplusSourceOver(pixel, p.source);
        p.overCurve = pixel;
    }
    for (int32_t x : curveColumns_) {
        for (uint32_t r = columnRunStart_[x]; r < columnRunStart_[x + 1]; ++r) {
            const CurveRun& run = curveRuns_[r];
            for (int32_t y = run.top; y < run.bottom; ++y) {
                uint32_t& pixel = framePixels_[static_cast<std::size_t>(y) * width_ + x];
                curveValues_[run.firstValue + (y - run.top)] = pixel;
                // Frames start from the card without the curve and without a
                // marker, which the surface holds everywhere else already.
                pixel = static_.at(x, y);
            }
        }
    }
    revealed_ = ColumnRange{};
    lastMarker_ = DeviceRect{};
    // Matches no head, not even a skipped one, so that the first frame draws.
    const uint32_t noHeadBits = 0xFFFFFFFFu;
    std::memcpy(&lastHead_.x, &noHeadBits, sizeof(float));
    std::memcpy(&lastHead_.y, &noHeadBits, sizeof(float));
    composed_ = false;
    clock.lap(&testing::LayerTimes::layers);
    return true;
}

void FrameLayers::layCardBase(GpGraphics* graphics, bool transparent) {
    const CardBasePixels kept = findCardBase(width_, height_, dpiScale_, palette_.cardFill);
    if (kept) {
        // The fill as GDI+ laid it down for an earlier card, and the graphics
        // as the fill leaves it: the card's modes, scale and clip.
        kept->copyTo(framePixels_);
        frame_steps::configureGraphics(graphics, dpiScale_);
        clipToCard(graphics);
        return;
    }
    // Cleared as the frame renderer's graphics clears it, but directly:
    // GDI+ clearing a whole surface takes far longer than the memory does.
    if (!transparent) {
        std::memset(framePixels_, 0, static_cast<std::size_t>(width_) * height_ * sizeof(uint32_t));
    }
    frame_steps::configureGraphics(graphics, dpiScale_);
    // GDI+ takes time in proportion to the area it fills, and inside the
    // card's rounded outline the fill is one colour: GDI+ fills a ring along
    // the outline, and the middle gets the colour GDI+ gave the ring's inner
    // part. (fillCard then sets the card's clip, as it always does.)
    GdipSetClipRect(graphics, FILL_RING, FILL_RING, CARD_WIDTH - 2.0f * FILL_RING,
                    CARD_HEIGHT - 2.0f * FILL_RING, CombineModeExclude);
    const frame_steps::CardShape card = frame_steps::fillCard(graphics, palette_.cardFill);
    // Device pixels of a logical position, kept on the surface whatever its
    // size.
    const auto device = [this](float logical, int limit) {
        return static_cast<std::size_t>(clampToRange(std::floor(logical * dpiScale_ + 0.5), 0,
                                                     limit));
    };
    const uint32_t inside = framePixels_[device(CARD_HEIGHT / 2.0f, height_ - 1) * width_ +
                                         device(INSIDE_RING, width_ - 1)];
    const std::size_t left = device(FILL_RING - 4.0f, width_);
    const std::size_t right = device(CARD_WIDTH - FILL_RING + 4.0f, width_);
    const std::size_t bottom = device(CARD_HEIGHT - FILL_RING + 4.0f, height_);
    for (std::size_t y = device(FILL_RING - 4.0f, height_); y < bottom && left < right; ++y) {
        std::fill(framePixels_ + y * width_ + left, framePixels_ + y * width_ + right, inside);
    }
    // A fill that failed leaves the ring empty: not worth keeping. Kept as
    // tiles, it takes a few rows' worth of memory: all but the corners'
    // rows repeat.
    if ((inside >> 24) != 0) {
        auto base = std::make_shared<TiledSurface>();
        if (base->assign(framePixels_, width_, height_)) {
            keepCardBase(width_, height_, dpiScale_, palette_.cardFill, std::move(base));
        }
    }
}

void FrameLayers::strokeOutline(GpGraphics* graphics,
                                const std::vector<std::vector<PlotPoint>>& strokes) {
    if (strokes.size() == 1) {
        strokeInStrips(graphics, strokes[0]);
        return;
    }
    if (strokes.empty()) {
        return;
    }
    // Many short stretches: one path of many figures, one call.
    const GdiplusPath path = createPath();
    for (const std::vector<PlotPoint>& stroke : strokes) {
        GdipStartPathFigure(path.get());
        GdipAddPathLine2(path.get(), reinterpret_cast<const GpPointF*>(stroke.data()),
                         static_cast<INT>(stroke.size()));
    }
    const GdiplusPen pen = createPen(palette_.curve, static_cast<float>(CURVE_PEN_WIDTH));
    GdipSetPenLineJoin(pen.get(), LineJoinMiter);
    GdipDrawPath(graphics, pen.get(), path.get());
}

void FrameLayers::strokeInStrips(GpGraphics* graphics, const std::vector<PlotPoint>& points) {
    // GDI+ as Wine has it takes time in proportion to the box around what a
    // stroke fills, so a curve across the plot costs as much as the plot's
    // area. In strips of device columns, each clipped to its columns and
    // stroking only the points whose stretch of the curve can reach them,
    // the boxes shrink to the band the curve takes in each strip. The strips
    // share their edges, so every pixel is in one strip, and within it the
    // stroke is the whole curve's: the same segments, the same joins (the
    // stretch runs a segment beyond the last one that can reach the strip),
    // at the same transform.
    const std::size_t count = points.size();
    if (count < 2) {
        return;
    }
    std::size_t firstPoint[CURVE_STRIPS];
    std::size_t lastPoint[CURVE_STRIPS];
    std::fill(std::begin(firstPoint), std::end(firstPoint), count);
    std::fill(std::begin(lastPoint), std::end(lastPoint), std::size_t{0});
    const auto edge = [this](int strip) { return stripEdge(width_, strip); };
    for (std::size_t i = 0; i + 1 < count; ++i) {
        const double left = (std::min)(points[i].x, points[i + 1].x) - STROKE_REACH;
        const double right = (std::max)(points[i].x, points[i + 1].x) + STROKE_REACH;
        for (int strip = 0; strip < CURVE_STRIPS; ++strip) {
            if (right * dpiScale_ >= edge(strip) &&
                left * dpiScale_ <= edge(strip + 1)) {
                firstPoint[strip] = (std::min)(firstPoint[strip], i);
                lastPoint[strip] = (std::max)(lastPoint[strip], i + 1);
            }
        }
    }
    for (int strip = 0; strip < CURVE_STRIPS; ++strip) {
        if (firstPoint[strip] >= lastPoint[strip]) {
            continue;
        }
        // One segment more on each side, so that the joins at the ends of
        // the stretch are the whole curve's; the caps of those segments'
        // far ends cannot reach the strip.
        const std::size_t first = firstPoint[strip] > 0 ? firstPoint[strip] - 1 : 0;
        const std::size_t last = (std::min)(lastPoint[strip] + 1, count - 1);
        GraphicsState state = 0;
        GdipSaveGraphics(graphics, &state);
        // The strip's columns in device pixels, then the scale as
        // configureGraphics set it; the card's clip stays.
        GdipResetWorldTransform(graphics);
        GdipSetClipRectI(graphics, edge(strip), 0, edge(strip + 1) - edge(strip),
                         height_, CombineModeIntersect);
        const REAL scale = static_cast<REAL>(dpiScale_);
        GdipScaleWorldTransform(graphics, scale, scale, MatrixOrderPrepend);
        frame_steps::strokeCurve(graphics, palette_.curve, points.data() + first,
                                 last - first + 1);
        GdipRestoreGraphics(graphics, state);
    }
}

void FrameLayers::fillSpans(const std::vector<ColumnSpan>& spans) {
    // The pen's colour laid over the card as GDI+ fills it, inside the card's
    // clip only: that is where the card's own fill put any alpha.
    for (const ColumnSpan& span : spans) {
        for (int32_t y = span.top; y < span.bottom; ++y) {
            const std::size_t index = static_cast<std::size_t>(y) * width_ + span.column;
            const uint32_t below = belowCurveAt(span.column, y);
            if ((below >> 24) != 0 && framePixels_[index] == below) {
                framePixels_[index] = gdiplusSourceOver(below, palette_.curve);
            }
        }
    }
}

HintBorderPixels FrameLayers::hintAndBorderPixels(const ChartRequest& request, bool* drawn) {
    *drawn = false;
    HintBorderPixels kept =
        findHintAndBorder(width_, height_, dpiScale_, palette_.hintText, palette_.border);
    if (kept) {
        return kept;
    }
    // The hint and border alone on the frame surface made transparent, read
    // as straight alpha: there GDI+ stores each colour it lays down exactly
    // as it lays it.
    *drawn = true;
    std::memset(framePixels_, 0, static_cast<std::size_t>(width_) * height_ * sizeof(uint32_t));
    {
        const Canvas canvas = openCanvas(framePixels_, width_, height_, dpiScale_,
                                         PixelFormat32bppARGB);
        drawHintAndBorder(canvas.graphics.get(), request);
    }
    auto pixels = std::make_shared<std::vector<HintBorderPixel>>();
    for (int32_t y = 0; y < height_; ++y) {
        const uint32_t* row = framePixels_ + static_cast<std::size_t>(y) * width_;
        for (int32_t x = 0; x < width_; ++x) {
            if ((row[x] >> 24) != 0) {
                pixels->push_back(HintBorderPixel{x, y, row[x]});
            }
        }
    }
    pixels->shrink_to_fit();
    keepHintAndBorder(width_, height_, dpiScale_, palette_.hintText, palette_.border, pixels);
    return pixels;
}

void FrameLayers::collectTopPixels(const std::vector<HintBorderPixel>& hintAndBorder) {
    topPixels_.clear();
    topRowStart_.assign(static_cast<std::size_t>(height_) + 1, 0u);
    topPixels_.reserve(hintAndBorder.size());
    for (const HintBorderPixel& p : hintAndBorder) {
        const uint32_t under = framePixels_[static_cast<std::size_t>(p.y) * width_ + p.x];
        topPixels_.push_back(TopPixel{p.x, p.y, p.source, under, 0u, 0u});
        ++topRowStart_[static_cast<std::size_t>(p.y) + 1];
    }
    for (int32_t y = 0; y < height_; ++y) {
        topRowStart_[y + 1] += topRowStart_[y];
    }
}

uint32_t FrameLayers::belowCurveAt(int32_t x, int32_t y) const {
    const TopPixel* rowBegin = topPixels_.data() + topRowStart_[y];
    const TopPixel* rowEnd = topPixels_.data() + topRowStart_[y + 1];
    const TopPixel* p = std::lower_bound(rowBegin, rowEnd, x,
                                         [](const TopPixel& t, int32_t at) { return t.x < at; });
    return p != rowEnd && p->x == x ? p->underStatic : static_.at(x, y);
}

void FrameLayers::collectCurveRuns(const StripRows& changedRows) {
    const std::size_t w = static_cast<std::size_t>(width_);
    const uint32_t* withCurve = framePixels_;

    // The curve, column by column: a run is a vertical stretch of pixels that
    // the curve changed. One pass over the rows finds them, each opening
    // where a pixel changed and the one above did not and closing where the
    // one below did not; then they are laid out column after column, each
    // column's from the top down as they were found. The card below the
    // curve comes a row at a time from its tiles, the hint and border taken
    // off.
    RunScratch& scratch = runScratch_;
    std::vector<uint8_t>& above = scratch.above;
    std::vector<uint8_t>& here = scratch.here;
    std::vector<uint32_t>& openRun = scratch.openRun;
    std::vector<CurveRun>& found = scratch.found;
    std::vector<int32_t>& foundColumn = scratch.foundColumn;
    above.assign(w, 0u);
    here.assign(w, 0u);
    openRun.assign(w, 0u);
    found.clear();
    foundColumn.clear();
    scratch.belowRow.resize(w);
    uint32_t* b = scratch.belowRow.data();
    for (int32_t y = 0; y <= height_; ++y) {
        const uint32_t* a = withCurve + static_cast<std::size_t>(y) * w;
        bool belowRead = false;
        for (int strip = 0; strip < CURVE_STRIPS; ++strip) {
            const std::size_t x0 = static_cast<std::size_t>(stripEdge(width_, strip));
            const std::size_t x1 = static_cast<std::size_t>(stripEdge(width_, strip + 1));
            if (y >= changedRows[strip].first && y < changedRows[strip].second) {
                if (!belowRead) {
                    static_.copyRow(y, 0, width_, b);
                    for (uint32_t i = topRowStart_[y]; i < topRowStart_[y + 1]; ++i) {
                        b[topPixels_[i].x] = topPixels_[i].underStatic;
                    }
                    belowRead = true;
                }
                // Four pixels at a time: most of them the curve left alone.
                std::size_t x = x0;
                for (; x + 4 <= x1; x += 4) {
                    uint64_t pixelsA[2];
                    uint64_t pixelsB[2];
                    std::memcpy(pixelsA, a + x, sizeof(pixelsA));
                    std::memcpy(pixelsB, b + x, sizeof(pixelsB));
                    if (((pixelsA[0] ^ pixelsB[0]) | (pixelsA[1] ^ pixelsB[1])) == 0) {
                        std::memset(here.data() + x, 0, 4);
                        continue;
                    }
                    for (std::size_t k = x; k < x + 4; ++k) {
                        here[k] = a[k] != b[k] ? 1u : 0u;
                    }
                }
                for (; x < x1; ++x) {
                    here[x] = a[x] != b[x] ? 1u : 0u;
                }
            } else {
                std::fill(here.begin() + x0, here.begin() + x1, uint8_t{0});
            }
        }
        // Eight columns at a time where nothing opens or closes.
        for (std::size_t x0 = 0; x0 < w; x0 += 8) {
            const std::size_t x1 = (std::min)(x0 + 8, w);
            uint64_t now = 0;
            uint64_t before = 0;
            std::memcpy(&now, here.data() + x0, x1 - x0);
            std::memcpy(&before, above.data() + x0, x1 - x0);
            if (now == before) {
                continue;
            }
            for (std::size_t x = x0; x < x1; ++x) {
                if (here[x] == above[x]) {
                    continue;
                }
                if (here[x] != 0) {
                    openRun[x] = static_cast<uint32_t>(found.size());
                    found.push_back(CurveRun{y, y, 0u});
                    foundColumn.push_back(static_cast<int32_t>(x));
                } else {
                    found[openRun[x]].bottom = y;
                }
            }
        }
        above.swap(here);
    }
    columnRunStart_.assign(w + 1, 0u);
    for (int32_t x : foundColumn) {
        ++columnRunStart_[static_cast<std::size_t>(x) + 1];
    }
    for (std::size_t x = 0; x < w; ++x) {
        if (columnRunStart_[x + 1] > 0) {
            curveColumns_.push_back(static_cast<int32_t>(x));
        }
        columnRunStart_[x + 1] += columnRunStart_[x];
    }
    curveRuns_.assign(found.size(), CurveRun{});
    std::vector<uint32_t>& nextRun = scratch.nextRun;
    nextRun.assign(columnRunStart_.begin(), columnRunStart_.end() - 1);
    for (std::size_t i = 0; i < found.size(); ++i) {
        curveRuns_[nextRun[static_cast<std::size_t>(foundColumn[i])]++] = found[i];
    }
    uint32_t values = 0;
    for (CurveRun& run : curveRuns_) {
        run.firstValue = values;
        values += static_cast<uint32_t>(run.bottom - run.top);
    }
    curveValues_.assign(values, 0u);
}

bool FrameLayers::builtFor(const ChartRequest& request) const {
    return record_ == &request && pointData_ == request.plotPoints.data() &&
           pointCount_ == request.plotPoints.size() && dpiScale_ == request.dpiScale &&
           palette_ == cardPalette(request) && width_ == request.surfaceWidth &&
           height_ == request.surfaceHeight;
}

void FrameLayers::setColumns(int32_t column, bool withCurve, DeviceRect& changed) {
    for (uint32_t r = columnRunStart_[column]; r < columnRunStart_[column + 1]; ++r) {
        const CurveRun& run = curveRuns_[r];
        for (int32_t y = run.top; y < run.bottom; ++y) {
            const std::size_t index = static_cast<std::size_t>(y) * width_ + column;
            framePixels_[index] =
                withCurve ? curveValues_[run.firstValue + (y - run.top)] : static_.at(column, y);
        }
        changed.unite(DeviceRect{column, run.top, column + 1, run.bottom});
    }
}

void FrameLayers::restoreBox(const DeviceRect& box) {
    for (int32_t y = box.top; y < box.bottom; ++y) {
        static_.copyRow(y, box.left, box.right,
                        framePixels_ + static_cast<std::size_t>(y) * width_ + box.left);
    }
    auto column = std::lower_bound(curveColumns_.begin(), curveColumns_.end(), box.left);
    for (; column != curveColumns_.end() && *column < box.right; ++column) {
        const int32_t x = *column;
        if (!curveShownAt(x)) {
            continue;
        }
        for (uint32_t r = columnRunStart_[x]; r < columnRunStart_[x + 1]; ++r) {
            const CurveRun& run = curveRuns_[r];
            const int32_t from = (std::max)(run.top, box.top);
            const int32_t to = (std::min)(run.bottom, box.bottom);
            for (int32_t y = from; y < to; ++y) {
                framePixels_[static_cast<std::size_t>(y) * width_ + x] =
                    curveValues_[run.firstValue + (y - run.top)];
            }
        }
    }
}

DeviceRect FrameLayers::markerBox(PlotPoint head) const {
    DeviceRect box;
    box.left = clampToRange(std::floor((head.x - MARKER_REACH) * dpiScale_) - MARKER_MARGIN, 0,
                            width_);
    box.right = clampToRange(std::ceil((head.x + MARKER_REACH) * dpiScale_) + MARKER_MARGIN + 1,
                             0, width_);
    box.top = clampToRange(std::floor((head.y - MARKER_REACH) * dpiScale_) - MARKER_MARGIN, 0,
                           height_);
    box.bottom = clampToRange(std::ceil((head.y + MARKER_REACH) * dpiScale_) + MARKER_MARGIN + 1,
                              0, height_);
    return box;
}

void FrameLayers::drawMarker(PlotPoint head, const DeviceRect& box) {
    // The marker goes under the hint and border: where they cover the box,
    // take them off first, and lay them on again afterwards.
    std::vector<const TopPixel*>& covered = coveredScratch_;
    covered.clear();
    for (int32_t y = box.top; y < box.bottom; ++y) {
        const TopPixel* rowBegin = topPixels_.data() + topRowStart_[y];
        const TopPixel* rowEnd = topPixels_.data() + topRowStart_[y + 1];
        const TopPixel* p = std::lower_bound(
            rowBegin, rowEnd, box.left, [](const TopPixel& t, int32_t x) { return t.x < x; });
        for (; p != rowEnd && p->x < box.right; ++p) {
            covered.push_back(p);
        }
    }
    const auto under = [this](const TopPixel& p) {
        return curveShownAt(p.x) ? p.underCurve : p.underStatic;
    };
    for (const TopPixel* p : covered) {
        framePixels_[static_cast<std::size_t>(p->y) * width_ + p->x] = under(*p);
    }
    {
        // GDI+ sees the whole frame surface, as the frame renderer's does, so
        // the marker lands on the same pixels with the same colours; only
        // the marker's own pixels are touched.
        const Canvas canvas = openCanvas(framePixels_, width_, height_, dpiScale_,
                                         PixelFormat32bppPARGB);
        clipToCard(canvas.graphics.get());
        frame_steps::drawMarkerAt(canvas.graphics.get(), palette_.marker, palette_.glow, head);
    }
    for (const TopPixel* p : covered) {
        const std::size_t index = static_cast<std::size_t>(p->y) * width_ + p->x;
        const uint32_t now = framePixels_[index];
        if (now == under(*p)) {
            // Untouched by the marker: the layer already holds the result.
            framePixels_[index] = curveShownAt(p->x) ? p->overCurve : static_.at(p->x, p->y);
        } else {
            framePixels_[index] = gdiplusSourceOver(now, p->source);
        }
    }
}

ReadoutPick FrameLayers::readoutAt(const ChartRequest& request, int32_t column) {
    if (!readoutTableMade_) {
        try {
            readoutTable_ = NearestPointTable::build(request.plotPoints, dpiScale_, width_);
        } catch (const std::bad_alloc&) {
            return ReadoutPick{};
        }
        readoutSeconds_ = readoutShowsSeconds(request);
        readoutTableMade_ = true;
    }
    return ReadoutPick{readoutTable_.at(column), readoutSeconds_};
}

void FrameLayers::takeReadoutOff(DeviceRect& changed) {
    readoutShown_ = ReadoutPick{};
    if (readoutBox_.empty()) {
        return;
    }
    const std::size_t span =
        static_cast<std::size_t>(readoutBox_.right - readoutBox_.left) * sizeof(uint32_t);
    const uint32_t* saved = readoutUnder_.data();
    for (int32_t y = readoutBox_.top; y < readoutBox_.bottom; ++y) {
        std::memcpy(framePixels_ + static_cast<std::size_t>(y) * width_ + readoutBox_.left, saved,
                    span);
        saved += readoutBox_.right - readoutBox_.left;
    }
    changed.unite(readoutBox_);
    readoutBox_ = DeviceRect{};
}

DeviceRect FrameLayers::showReadout(const ChartRequest& request, ReadoutPick pick) {
    DeviceRect changed;
    if (pick == readoutShown_) {
        return changed;
    }
    takeReadoutOff(changed);
    if (!pick.shown()) {
        return changed;
    }
    // GDI+ sees the whole frame surface, as the frame renderer's does after
    // the border: the same modes and scale, no clip.
    const Canvas canvas = openCanvas(framePixels_, width_, height_, dpiScale_,
                                     PixelFormat32bppPARGB);
    if (!canvas.graphics) {
        return changed;
    }
    TextKit kit;  // measures and draws the label
    const frame_steps::ReadoutLayout layout =
        frame_steps::layOutReadout(canvas.graphics.get(), request, pick, &kit);
    if (layout.index == NO_POINT) {
        return changed;
    }
    const LogicalRect reach = readoutPaintedBounds(layout.point, layout.labelBox, dpiScale_);
    DeviceRect box;
    box.left = clampToRange(std::floor(reach.left * dpiScale_), 0, width_);
    box.top = clampToRange(std::floor(reach.top * dpiScale_), 0, height_);
    box.right = clampToRange(std::ceil(reach.right * dpiScale_), 0, width_);
    box.bottom = clampToRange(std::ceil(reach.bottom * dpiScale_), 0, height_);
    if (box.empty()) {
        return changed;
    }
    const std::size_t rowPixels = static_cast<std::size_t>(box.right - box.left);
    try {
        readoutUnder_.resize(rowPixels * static_cast<std::size_t>(box.bottom - box.top));
    } catch (const std::bad_alloc&) {
        return changed;  // the frame shows no readout, which it can afford
    }
    uint32_t* saved = readoutUnder_.data();
    for (int32_t y = box.top; y < box.bottom; ++y) {
        std::memcpy(saved, framePixels_ + static_cast<std::size_t>(y) * width_ + box.left,
                    rowPixels * sizeof(uint32_t));
        saved += rowPixels;
    }
    frame_steps::drawReadout(canvas.graphics.get(), request, layout, &kit);
    readoutBox_ = box;
    readoutShown_ = pick;
    changed.unite(box);
    return changed;
}

DeviceRect FrameLayers::compose(const ChartRequest& request, double progress,
                                double elapsedSeconds) {
    const ScopedPhase phase(&testing::LayerTimes::compose);
    DeviceRect changed;
    if (!composed_) {
        changed = DeviceRect{0, 0, width_, height_};
        composed_ = true;
    }
    // What compose changes lies under the readout, which is laid again after.
    takeReadoutOff(changed);
    const ColumnRange target = revealedColumns(progress, dpiScale_);
    bool columnsChanged = false;
    for (int32_t x : curveColumns_) {
        const bool shown = target.contains(x);
        if (shown != revealed_.contains(x)) {
            setColumns(x, shown, changed);
            columnsChanged = true;
        }
    }
    revealed_ = target;
    const PlotPoint head = request.plotPoints.empty()
                               ? PlotPoint{NO_HEAD, NO_HEAD}
                               : headPosition(request, headTrack_, elapsedSeconds);
    // The same head over the same pixels: the marker on the surface is right.
    if (!columnsChanged && std::memcmp(&head, &lastHead_, sizeof(PlotPoint)) == 0) {
        return changed;
    }
    if (!lastMarker_.empty()) {
        restoreBox(lastMarker_);
        changed.unite(lastMarker_);
        lastMarker_ = DeviceRect{};
    }
    if (!isSkippedPlotPoint(head)) {
        const DeviceRect box = markerBox(head);
        if (!box.empty()) {
            try {
                drawMarker(head, box);
            } catch (const std::bad_alloc&) {
                // Nothing of the surface was changed yet: this frame shows no
                // marker, and with no head recorded the next one tries again.
                return changed;
            }
            lastMarker_ = box;
            changed.unite(box);
        }
    }
    lastHead_ = head;
    return changed;
}

bool FrameLayers::present(HWND window, const DeviceRect& changed, double fade) {
    PhaseClock clock;
    clock.count(&testing::LayerTimes::frames);
    const ScopedPhase phase(&testing::LayerTimes::present);
    const int alpha = constantAlphaFromFade(fade);
    // A partial update keeps what the window shows outside the rectangle, so
    // it needs the window to show this surface at this constant alpha already.
    const bool partial = presentedTo_ == window && presentedAlpha_ == alpha;
    if (partial && changed.empty()) {
        return true;
    }
    BLENDFUNCTION blend = {};
    blend.BlendOp = AC_SRC_OVER;
    blend.BlendFlags = 0;
    blend.SourceConstantAlpha = static_cast<BYTE>(alpha);
    blend.AlphaFormat = AC_SRC_ALPHA;
    SIZE size = {width_, height_};
    POINT source = {0, 0};
    RECT dirty = {changed.left, changed.top, changed.right, changed.bottom};
    UPDATELAYEREDWINDOWINFO info = {};
    info.cbSize = sizeof(info);
    info.hdcDst = nullptr;  // the screen's; asking for its DC every frame costs time
    info.pptDst = nullptr;
    info.psize = &size;
    info.hdcSrc = memoryDc_.get();
    info.pptSrc = &source;
    info.crKey = 0;
    info.pblend = &blend;
    info.dwFlags = ULW_ALPHA;
    info.prcDirty = partial ? &dirty : nullptr;
    const testing::LayeredPresentHook hook = presentHook.load();
    const auto update = hook != nullptr ? hook : &UpdateLayeredWindowIndirect;
    BOOL done = update(window, &info);
    if (!done && partial) {
        info.prcDirty = nullptr;
        done = update(window, &info);
    }
    presentedTo_ = done ? window : nullptr;
    presentedAlpha_ = done ? alpha : -1;
    return done != FALSE;
}

LayerBytes FrameLayers::bytes() const {
    LayerBytes b;
    b.frameSurface = static_cast<std::size_t>(width_) * height_ * sizeof(uint32_t);
    b.staticSurface = static_.bytes();
    b.curve = columnRunStart_.capacity() * sizeof(uint32_t) +
              curveRuns_.capacity() * sizeof(CurveRun) +
              curveValues_.capacity() * sizeof(uint32_t) +
              curveColumns_.capacity() * sizeof(int32_t) + runScratch_.above.capacity() +
              runScratch_.here.capacity() + runScratch_.openRun.capacity() * sizeof(uint32_t) +
              runScratch_.found.capacity() * sizeof(CurveRun) +
              runScratch_.foundColumn.capacity() * sizeof(int32_t) +
              runScratch_.nextRun.capacity() * sizeof(uint32_t) +
              runScratch_.belowRow.capacity() * sizeof(uint32_t);
    b.top = topRowStart_.capacity() * sizeof(uint32_t) + topPixels_.capacity() * sizeof(TopPixel) +
            coveredScratch_.capacity() * sizeof(const TopPixel*);
    b.headTrack = headTrack_.pointIndex.capacity() * sizeof(std::size_t);
    b.readout = readoutTable_.bytes() + readoutUnder_.capacity() * sizeof(uint32_t);
    return b;
}

void keepClosedCardLayers(std::unique_ptr<FrameLayers> layers) {
    // A next card draws over the surface and nothing else of them; the rest
    // goes now rather than a minute later.
    if (layers) {
        layers = FrameLayers::surfaceOnly(std::move(layers));
    }
    // Declared before the lock, so that what is not kept is freed after the
    // lock is left.
    std::unique_ptr<FrameLayers> displaced;
    ModuleLockGuard lock;
    // The closing card still counts as a user: any other is a card that is
    // open or starting, which has or is building layers of its own.
    if (layers && gdiplusUsers == 1) {
        displaced.reset(closedCardLayers);
        closedCardLayers = layers.release();
    } else {
        displaced = std::move(layers);
    }
}

std::unique_ptr<FrameLayers> takeClosedCardLayers() {
    ModuleLockGuard lock;
    return std::unique_ptr<FrameLayers>(std::exchange(closedCardLayers, nullptr));
}

namespace testing {

std::size_t closedCardLayerBytes() {
    ModuleLockGuard lock;
    return closedCardLayers != nullptr ? closedCardLayers->bytes().total() : 0;
}

void setLayerTimeTally(LayerTimes* tally) { timeTally.store(tally); }

void setFrameLayerAllocationFailure(bool fail) { allocationFails.store(fail); }

void setLayeredPresentHook(LayeredPresentHook hook) { presentHook.store(hook); }

long staticPartDraws() { return staticDraws.load(); }

}  // namespace testing

}  // namespace kestrine
