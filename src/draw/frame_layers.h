// A card's frames composed from layers cached per record instead of drawn from
// nothing; what a frame shows is, pixel for pixel, what the frame renderer
// draws from nothing.
#pragma once

#include <windows.h>

#include <gdiplus.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "core/card_palette.h"
#include "core/chart_request.h"
#include "core/curve_columns.h"
#include "core/head_position.h"
#include "core/readout.h"
#include "draw/card_base.h"
#include "draw/gdi_handles.h"
#include "draw/tiled_surface.h"

namespace kestrine {

// Leaves new elements uninitialised: for a surface that is written whole
// before it is read, zeroing it first would be one more pass over it.
template <typename T>
struct UninitializedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };
    UninitializedAllocator() = default;
    template <typename U>
    UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// Layers stroke the curve in this many strips of the surface's columns: more
// strips cost more in what every stroke costs, fewer in the area around it.
constexpr int CURVE_STRIPS = 6;
// Rows [first, second) of each strip.
using StripRows = std::array<std::pair<int32_t, int32_t>, CURVE_STRIPS>;

// A rectangle of device pixels, [left, right) x [top, bottom).
struct DeviceRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    bool empty() const { return right <= left || bottom <= top; }
    void unite(const DeviceRect& other);
};

// What the layers of one card hold, in bytes.
struct LayerBytes {
    std::size_t frameSurface = 0;  // the DIB the frames are composed in and presented from
    std::size_t staticSurface = 0; // the card below the curve, hint and border included, as tiles
    std::size_t curve = 0;         // curve pixels and their column index
    std::size_t top = 0;           // hint and border pixels and their row index
    std::size_t headTrack = 0;     // reach times of the full series
    std::size_t readout = 0;       // nearest point per column, pixels under the readout
    std::size_t total() const {
        return frameSurface + staticSurface + curve + top + headTrack + readout;
    }
};

// The layers: the card below the curve with the hint and border on it, kept
// as tiles (most of its rows repeat); the whole curve, kept only in the
// device columns and rows it covers; and the pixels of the hint and border,
// for the places where the head marker passes under them. A frame changes
// only what differs from the previous one and draws nothing but the head
// marker with GDI+. The frame surface is the one surface a card holds: the
// layers are drawn in it, and it is handed from record to record and from the
// last card to the next.
class FrameLayers {
public:
    // Renders the layers of a record whose scale is computed (plot points,
    // axes and surface size in place). Null when they cannot be had: no
    // surface size, a surface or buffer that cannot be allocated. GDI+ must be
    // running.
    //
    // previous: the layers of the record the window showed before, or null;
    // they are used up either way, and never outlive the call. Of the same
    // surface size, their surfaces are drawn over instead of new ones being
    // allocated, and the card below the curve is kept when the new record
    // draws it alike (same texts, colours, axes and scale). The record they
    // were built for may be gone already: nothing of it is read.
    static std::unique_ptr<FrameLayers> build(const ChartRequest& request,
                                              std::unique_ptr<FrameLayers> previous = nullptr);

    // Texts up to this long are kept with the layers to tell whether the
    // next record draws the card below the curve alike; a record with a
    // longer one always has it drawn again.
    static constexpr std::size_t KEPT_TEXT_UNITS = 65536;

    ~FrameLayers();
    FrameLayers(const FrameLayers&) = delete;
    FrameLayers& operator=(const FrameLayers&) = delete;

    // Whether these layers were built for this record as it is now.
    bool builtFor(const ChartRequest& request) const;

    // Brings the frame surface to the frame of (progress, elapsedSeconds) of
    // the record the layers were built for; returns the device rectangle that
    // changed since the previous frame (all of it for the first).
    DeviceRect compose(const ChartRequest& request, double progress, double elapsedSeconds);

    // The readout a pointer over device column reads: the nearest drawn
    // point, found in a table made on the first call (one pass over the
    // points), and whether its time has seconds. Nothing shown when the
    // table cannot be had.
    ReadoutPick readoutAt(const ChartRequest& request, int32_t column);

    // Lays the readout of pick over the composed frame (takes it off when
    // pick shows nothing); returns the device rectangle that changed. compose
    // takes it off first, so it is laid again after every compose.
    DeviceRect showReadout(const ChartRequest& request, ReadoutPick pick);

    // Hands the frame surface to the layered window with the constant alpha
    // of fade. When the window already shows this surface at the same
    // constant alpha, only the changed rectangle is sent (nothing at all when
    // it is empty). False when the window did not take the frame.
    bool present(HWND window, const DeviceRect& changed, double fade);

    // The composed frame: premultiplied ARGB, top-down rows of width() pixels.
    const uint32_t* framePixels() const { return framePixels_; }
    int width() const { return width_; }
    int height() const { return height_; }
    LayerBytes bytes() const;

    // Layers that hold the frame surface (and its DC) of these and nothing
    // else: what a next card can use of layers it was not built for. They
    // draw no frame. Null, with these freed, when memory runs out.
    static std::unique_ptr<FrameLayers> surfaceOnly(std::unique_ptr<FrameLayers> layers);

private:
    FrameLayers() = default;

    struct CurveRun {
        int32_t top = 0;
        int32_t bottom = 0;     // exclusive
        uint32_t firstValue = 0; // index into curveValues_ of the pixel at top
    };
    // A pixel of the hint or border: the colour they lay on it and what lies
    // under them there, without and with the curve.
    struct TopPixel {
        int32_t x = 0;
        int32_t y = 0;
        uint32_t source = 0;        // straight ARGB drawn by the hint or border
        uint32_t underStatic = 0;   // card below, without the curve
        uint32_t underCurve = 0;    // card below with the curve
        uint32_t overCurve = 0;     // hint or border over the curve
    };

    // What the card below the curve is drawn from; layers whose inputs are
    // equal hold the same pixels there.
    struct StaticInputs {
        bool kept = false;
        std::wstring titleText;
        std::wstring subtitleText;
        std::wstring valueText;
        std::wstring noteText;
        CardPalette palette;
        int32_t numericXAxis = 0;
        double xMax = 0.0;
        double yAxisMin = 0.0;
        double yAxisMax = 0.0;
        double dpiScale = 0.0;

        static StaticInputs of(const ChartRequest& request);
        bool drawsAlike(const StaticInputs& other) const;
    };

    // Takes over the frame surface (and its DC), the card below the curve
    // and the other buffers of layers of the same size. False when there is
    // nothing to take.
    bool takeSurfaces(FrameLayers& previous);
    // transparent: the frame surface holds nothing but zeros.
    bool render(const ChartRequest& request, bool keepStatic, bool transparent);
    // The card's fill with the graphics set up as after it: from the
    // module's base of this size when there is one, else drawn (and kept).
    // transparent: the frame surface holds nothing but zeros already.
    void layCardBase(Gdiplus::GpGraphics* graphics, bool transparent);
    void strokeOutline(Gdiplus::GpGraphics* graphics,
                       const std::vector<std::vector<PlotPoint>>& strokes);
    // The whole series as one stroke, pixel for pixel as the frame renderer
    // strokes it.
    void strokeInStrips(Gdiplus::GpGraphics* graphics, const std::vector<PlotPoint>& points);
    void fillSpans(const std::vector<ColumnSpan>& spans);
    // The hint and border pixels of this size, scale and colours: kept from
    // an earlier card, or drawn alone on the frame surface made transparent
    // (and kept). *drawn tells which.
    HintBorderPixels hintAndBorderPixels(const ChartRequest& request, bool* drawn);
    // The top pixels of the hint and border, with what the frame surface
    // holds under them now, and their index by rows.
    void collectTopPixels(const std::vector<HintBorderPixel>& hintAndBorder);
    // The card below the curve without the hint and border at (x, y).
    uint32_t belowCurveAt(int32_t x, int32_t y) const;
    // The curve's runs where the frame surface differs from the card below
    // the curve in the rows changedRows gives each strip of columns.
    void collectCurveRuns(const StripRows& changedRows);
    void setColumns(int32_t column, bool withCurve, DeviceRect& changed);
    void restoreBox(const DeviceRect& box);
    DeviceRect markerBox(PlotPoint head) const;
    void drawMarker(PlotPoint head, const DeviceRect& box);
    bool curveShownAt(int32_t x) const { return revealed_.contains(x); }
    // Puts back the pixels the readout covered; adds them to changed.
    void takeReadoutOff(DeviceRect& changed);

    // Identity of the record the layers were built for.
    const ChartRequest* record_ = nullptr;
    const PlotPoint* pointData_ = nullptr;
    std::size_t pointCount_ = 0;
    double dpiScale_ = 0.0;
    CardPalette palette_;
    StaticInputs staticInputs_;

    int width_ = 0;
    int height_ = 0;
    MemoryDc memoryDc_;
    DibBitmap dib_;
    // The surface stays selected into the memory DC for the layers' life, so
    // that presenting a frame takes no selecting; it goes first when they go.
    std::unique_ptr<SelectGuard> selection_;
    uint32_t* framePixels_ = nullptr;
    // The card below the curve with the hint and border on it: what a frame
    // shows wherever the curve is not revealed and the marker is not.
    TiledSurface static_;

    std::vector<uint32_t> columnRunStart_;  // width_ + 1 entries into curveRuns_
    std::vector<CurveRun> curveRuns_;
    std::vector<uint32_t> curveValues_;     // curve with hint and border over it
    std::vector<int32_t> curveColumns_;     // columns that have runs, ascending

    std::vector<uint32_t> topRowStart_;     // height_ + 1 entries into topPixels_
    std::vector<TopPixel> topPixels_;
    // The top pixels under the marker's box, kept between frames so that a
    // frame allocates nothing once the box's share is reached.
    std::vector<const TopPixel*> coveredScratch_;
    // What finding the curve's runs needs, kept from record to record.
    struct RunScratch {
        std::vector<uint8_t> above;
        std::vector<uint8_t> here;
        std::vector<uint32_t> openRun;
        std::vector<CurveRun> found;
        std::vector<int32_t> foundColumn;
        std::vector<uint32_t> nextRun;
        std::vector<uint32_t, UninitializedAllocator<uint32_t>> belowRow;
    };
    RunScratch runScratch_;

    HeadTrack headTrack_;

    // Frame state: the columns in which the curve is on the surface, where
    // the last head marker was drawn, and what the window shows.
    ColumnRange revealed_;
    DeviceRect lastMarker_;
    PlotPoint lastHead_;
    bool composed_ = false;
    // The readout: its look-up (made on first use), what is laid on the
    // surface, and the composed frame's pixels under it.
    NearestPointTable readoutTable_;
    bool readoutTableMade_ = false;
    bool readoutSeconds_ = false;
    ReadoutPick readoutShown_;
    DeviceRect readoutBox_;
    std::vector<uint32_t> readoutUnder_;
    HWND presentedTo_ = nullptr;
    int presentedAlpha_ = -1;
};

// The frame surface of the last card to close, kept for the next card: built
// over it, a card of the same size spares allocating and first touching its
// surface (about 100 ms of a new card at dpiScale 4 here). The rest of that
// card's layers is freed as it closes, so what stays of them is one surface. Kept
// only from the last card using GDI+, forgotten with the card bases a minute
// after that card (see releaseGdiplus). Nothing in them belongs to the
// closed card's thread: a memory DC from CreateCompatibleDC may be used by any
// thread, one at a time, and is deleted by whichever frees the layers.
void keepClosedCardLayers(std::unique_ptr<FrameLayers> layers);
// The kept set, or null; the caller owns it from then on.
std::unique_ptr<FrameLayers> takeClosedCardLayers();

}  // namespace kestrine
