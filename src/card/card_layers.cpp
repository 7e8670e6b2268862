// A card window's layers, held in a window property so that the record and
// the window procedure stay as they are. The property is set and removed only
// on the card's UI thread, like everything else about the window.

#include "card/card_layers.h"

#include <memory>
#include <new>
#include <utility>

#include "draw/frame_layer_seams.h"
#include "draw/frame_layers.h"
#include "draw/frame_renderer.h"

namespace kestrine {

namespace {

constexpr wchar_t LAYERS_PROPERTY[] = L"Kestrine.FrameLayers";

// What the property points at: the layers and the record they belong to.
// Layers that failed to build are remembered as such, so that a record whose
// layers cannot be had is not tried again at every tick.
struct CardLayers {
    const ChartRequest* record = nullptr;
    std::unique_ptr<FrameLayers> layers;
};

CardLayers* heldBy(HWND window) {
    return static_cast<CardLayers*>(GetPropW(window, LAYERS_PROPERTY));
}

}  // namespace

void prepareFrameLayers(HWND window, const ChartRequest& request) {
    CardLayers* held = heldBy(window);
    if (held == nullptr) {
        held = new (std::nothrow) CardLayers;
        if (held == nullptr) {
            return;
        }
        if (!SetPropW(window, LAYERS_PROPERTY, held)) {
            delete held;
            return;
        }
    }
    // The old record's layers are handed to the new ones, which draw over
    // their surfaces and keep what the new record does not change; building
    // frees the rest of them first, so that a card never holds two sets.
    std::unique_ptr<FrameLayers> previous = std::move(held->layers);
    if (!previous) {
        // A new card draws over the surfaces of the last card to close.
        previous = takeClosedCardLayers();
    }
    held->record = &request;
    held->layers = FrameLayers::build(request, std::move(previous));
}

namespace {

// The window's layers when they were built for this record as it is now;
// layers of a record the window no longer shows are of no more use, nor
// could they assume the window still shows their last frame.
FrameLayers* layersFor(HWND window, const ChartRequest& request) {
    CardLayers* held = heldBy(window);
    if (held == nullptr || !held->layers) {
        return nullptr;
    }
    if (held->record == &request && held->layers->builtFor(request)) {
        return held->layers.get();
    }
    held->layers.reset();
    return nullptr;
}

}  // namespace

bool presentChartFrame(HWND window, const ChartRequest& request, double progress,
                       double elapsedSeconds, double fade, ReadoutPick readout) {
    if (FrameLayers* layers = layersFor(window, request)) {
        DeviceRect changed = layers->compose(request, progress, elapsedSeconds);
        changed.unite(layers->showReadout(request, readout));
        return layers->present(window, changed, fade);
    }
    return renderFrame(window, request, progress, elapsedSeconds, fade, readout);
}

ReadoutPick readoutPickAt(HWND window, const ChartRequest& request, int32_t column) {
    if (FrameLayers* layers = layersFor(window, request)) {
        return layers->readoutAt(request, column);
    }
    return ReadoutPick{
        nearestDrawnPoint(request.plotPoints, columnCentre(column, request.dpiScale)),
        readoutShowsSeconds(request)};
}

void releaseFrameLayers(HWND window) {
    const std::unique_ptr<CardLayers> held(
        static_cast<CardLayers*>(RemovePropW(window, LAYERS_PROPERTY)));
    if (held) {
        keepClosedCardLayers(std::move(held->layers));
    }
}

namespace testing {

const FrameLayers* frameLayersOf(HWND window) {
    const CardLayers* held = heldBy(window);
    return held != nullptr ? held->layers.get() : nullptr;
}

}  // namespace testing

}  // namespace kestrine
