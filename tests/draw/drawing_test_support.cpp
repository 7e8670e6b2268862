// The drawing tests' shared helpers and the process-wide attach of the module,
// which a DLL would get from the loader.

#include "drawing_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "dll/module_state.h"
#include "draw/frame_renderer.h"
#include "draw/gdiplus_lifetime.h"

namespace kestrine {
namespace test {

namespace {

class ModuleEnvironment : public ::testing::Environment {
public:
    void SetUp() override { attachModule(GetModuleHandleW(nullptr)); }
};

::testing::Environment* const moduleEnvironment =
    ::testing::AddGlobalTestEnvironment(new ModuleEnvironment);

// Held by the running drawing suite (WithGdiplus).
std::unique_ptr<GdiplusReference> suiteGdiplus;

}  // namespace

void WithGdiplus::SetUpTestSuite() {
    takeSuiteGdiplus();
}

void WithGdiplus::TearDownTestSuite() {
    dropSuiteGdiplus();
}

void WithGdiplus::dropSuiteGdiplus() {
    suiteGdiplus.reset();
}

void WithGdiplus::takeSuiteGdiplus() {
    suiteGdiplus = std::make_unique<GdiplusReference>();
}

HWND createLayeredPopup(const wchar_t* className, int x, int y) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassW(&windowClass);  // fails harmlessly once the class exists
    return CreateWindowExW(WS_EX_LAYERED | WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE,
                           className, L"Kestrine", WS_POPUP, x, y, 10, 10, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

GdiplusReference::GdiplusReference() {
    acquireGdiplus();
}

GdiplusReference::~GdiplusReference() {
    releaseGdiplus();
}

SurfaceSize surfaceAtScale(double dpiScale) {
    return surfaceSizeForDpi(true, static_cast<uint32_t>(dpiScale * 96.0 + 0.5));
}

void setScale(ChartRequest& request, double dpiScale) {
    const SurfaceSize size = surfaceAtScale(dpiScale);
    request.dpiScale = size.scale;
    request.surfaceWidth = size.width;
    request.surfaceHeight = size.height;
}

std::unique_ptr<ChartRequest> plotRequest(const std::vector<PlotPoint>& points, double yAxisMin,
                                          double yAxisMax, double xMax, double dpiScale) {
    auto request = std::make_unique<ChartRequest>();
    request->plotPoints = points;
    for (const PlotPoint& p : points) {
        request->xValues.push_back(isSkippedPlotPoint(p) ? 0.0 : (p.x - 72.0) / 790.0 * xMax);
        request->yValues.push_back(0.0);
    }
    request->xMax = xMax;
    request->yAxisMin = yAxisMin;
    request->yAxisMax = yAxisMax;
    request->numericXAxis = 1;
    request->animate = false;
    request->accentColor = 0xFF38D996u;
    setScale(*request, dpiScale);
    return request;
}

Pixels renderToMemory(const ChartRequest& request, double progress, double elapsedSeconds,
                      ReadoutPick readout) {
    Pixels pixels;
    pixels.width = request.surfaceWidth;
    pixels.height = request.surfaceHeight;
    pixels.data.assign(static_cast<size_t>(pixels.width) * pixels.height, 0xDEADBEEFu);
    renderCardToPixels(request, progress, elapsedSeconds, pixels.data.data(), readout);
    return pixels;
}

uint8_t channel(uint32_t pixel, int shift) {
    return static_cast<uint8_t>((pixel >> shift) & 0xFFu);
}

uint32_t premultiplied(uint32_t argb) {
    const uint32_t a = argb >> 24;
    uint32_t result = a << 24;
    for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t c = (argb >> shift) & 0xFFu;
        result |= ((c * a + 127) / 255) << shift;
    }
    return result;
}

int channelDistance(uint32_t a, uint32_t b) {
    int most = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        most = (std::max)(most, std::abs(channel(a, shift) - channel(b, shift)));
    }
    return most;
}

double shareTowards(uint32_t pixel, uint32_t from, uint32_t to) {
    int bestShift = 0;
    int bestSpan = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const int span = std::abs(channel(to, shift) - channel(from, shift));
        if (span > bestSpan) {
            bestSpan = span;
            bestShift = shift;
        }
    }
    if (bestSpan == 0) {
        return 0.0;
    }
    return static_cast<double>(channel(pixel, bestShift) - channel(from, bestShift)) /
           (channel(to, bestShift) - channel(from, bestShift));
}

int countDiffering(const Pixels& pixels, int x0, int y0, int x1, int y1, uint32_t reference,
                   int tolerance) {
    int count = 0;
    for (int y = (std::max)(0, y0); y < (std::min)(pixels.height, y1); ++y) {
        for (int x = (std::max)(0, x0); x < (std::min)(pixels.width, x1); ++x) {
            if (channelDistance(pixels.at(x, y), reference) > tolerance) {
                ++count;
            }
        }
    }
    return count;
}

InkBox findInk(const Pixels& pixels, uint32_t background, int tolerance) {
    return findInkIn(pixels, 0, 0, pixels.width, pixels.height, background, tolerance);
}

InkBox findInkIn(const Pixels& pixels, int x0, int y0, int x1, int y1, uint32_t background,
                 int tolerance) {
    InkBox box;
    for (int y = (std::max)(0, y0); y < (std::min)(pixels.height, y1); ++y) {
        for (int x = (std::max)(0, x0); x < (std::min)(pixels.width, x1); ++x) {
            if (channelDistance(pixels.at(x, y), background) <= tolerance) {
                continue;
            }
            if (!box.any) {
                box = {true, x, y, x + 1, y + 1};
            } else {
                box.left = (std::min)(box.left, x);
                box.top = (std::min)(box.top, y);
                box.right = (std::max)(box.right, x + 1);
                box.bottom = (std::max)(box.bottom, y + 1);
            }
        }
    }
    return box;
}

}  // namespace test
}  // namespace kestrine
