// A card drawn into memory, as its window would show it, and written as a PNG
// with its alpha: what kestrine-show --png and kestrine-snapshot produce. GDI+
// must be running (acquireGdiplus) while these are called.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/chart_request.h"
#include "core/readout.h"

namespace kestrine {

// Premultiplied ARGB, top-down rows of width pixels.
struct CardImage {
    int width = 0;
    int height = 0;
    double dpiScale = 1.0;
    std::vector<uint32_t> pixels;
};

// Sizes the record as a card on a monitor of scale x 96 DPI would be sized,
// computes its scale and draws the frame of (progress, elapsedSeconds). False
// when nothing could be drawn.
bool drawCardImage(ChartRequest& request, double scale, double progress, double elapsedSeconds,
                   CardImage& image, ReadoutPick readout = {});

// The card at rest, as its window shows it once the animation is over: the
// whole curve, the marker at its end, fully opaque.
bool drawRestingCard(ChartRequest& request, double scale, CardImage& image);

// The card at rest with the readout a pointer at the point nearest to the
// data x value hoverX shows.
bool drawHoveredCard(ChartRequest& request, double scale, double hoverX, CardImage& image);

// Writes the image as a PNG with straight alpha. The PNG is written to a
// temporary file beside path and renamed over it only when complete, so a
// failure leaves neither a partial file nor a damaged older one. On failure
// error says why in one line naming path.
bool writeCardPng(const std::wstring& path, const CardImage& image, std::wstring& error);

}  // namespace kestrine
