// Shared helpers of the drawing tests under Wine: the module attached once per
// process, GDI+ held for a suite, cards rendered into memory and the pixel
// arithmetic that premultiplied, anti-aliased frames need.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "core/chart_request.h"
#include "core/placement.h"
#include "core/readout.h"
#include "win_test_support.h"

namespace kestrine {
namespace test {

// One GDI+ reference for as long as it lives.
class GdiplusReference {
public:
    GdiplusReference();
    ~GdiplusReference();
    GdiplusReference(const GdiplusReference&) = delete;
    GdiplusReference& operator=(const GdiplusReference&) = delete;
};

// Suites that draw hold GDI+ for their whole run.
class WithGdiplus : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    // Drops the suite's reference (GDI+ shuts down if it was the last one)
    // and takes a new one, for tests of what survives a restart.
    static void dropSuiteGdiplus();
    static void takeSuiteGdiplus();
};

// A layered popup as a card's UI thread creates it (topmost, no activation),
// of class `className` with DefWindowProcW, registered on first use.
HWND createLayeredPopup(const wchar_t* className, int x, int y);

// A frame (or any bitmap) in memory: premultiplied ARGB, top-down rows.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> data;
    uint32_t at(int x, int y) const { return data[static_cast<size_t>(y) * width + x]; }
};

// The surface of a card on a monitor of dpiScale x 96 DPI, by the card's own
// rule; setScale gives a record that scale and surface.
SurfaceSize surfaceAtScale(double dpiScale);
void setScale(ChartRequest& request, double dpiScale);

// A request as the scale leaves it, from literal values: plot points in card
// units, the y axis and xMax. xValues are derived from the plot x so that the
// head marker can be placed while animating. Not animated; accent green.
std::unique_ptr<ChartRequest> plotRequest(const std::vector<PlotPoint>& points, double yAxisMin,
                                          double yAxisMax, double xMax, double dpiScale);

Pixels renderToMemory(const ChartRequest& request, double progress, double elapsedSeconds,
                      ReadoutPick readout = {});

uint8_t channel(uint32_t pixel, int shift);
// The premultiplied form of a straight ARGB colour.
uint32_t premultiplied(uint32_t argb);
// Largest difference between the four channels of two pixels.
int channelDistance(uint32_t a, uint32_t b);
// How far a pixel has gone from `from` towards `to` (0 none, 1 all), judged
// on the channel where the two differ most.
double shareTowards(uint32_t pixel, uint32_t from, uint32_t to);
// Pixels of the box [x0, x1) x [y0, y1) that differ from `reference` by
// more than `tolerance` in any channel.
int countDiffering(const Pixels& pixels, int x0, int y0, int x1, int y1, uint32_t reference,
                   int tolerance);

// Ink bounding box of everything that differs from `background`.
struct InkBox {
    bool any = false;
    int left = 0;
    int top = 0;
    int right = 0;   // exclusive
    int bottom = 0;  // exclusive
};
InkBox findInk(const Pixels& pixels, uint32_t background, int tolerance);
// The same within the box [x0, x1) x [y0, y1) only.
InkBox findInkIn(const Pixels& pixels, int x0, int y0, int x1, int y1, uint32_t background,
                 int tolerance);

}  // namespace test
}  // namespace kestrine
