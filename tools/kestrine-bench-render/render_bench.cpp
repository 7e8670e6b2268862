// kestrine-bench-render: what one card frame costs, drawn into memory and
// drawn and presented to a real layered window, for small and large series at
// several DPI scales, with the time of each drawing step. Runs under Wine or
// Windows; prints medians in milliseconds.
//
//   kestrine-bench-render [--frames N]   (N frames per cell for 1k points;
//                                         a tenth, at least 3, for 100k)

#include <windows.h>

#include <gdiplus.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "chart/axis_scale.h"
#include "chart/frame_renderer.h"
#include "interface/module_state.h"
#include "window/placement.h"

namespace {

using namespace kestrine;
using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// A deterministic random walk of profit over time, like a trading day.
std::unique_ptr<ChartRequest> benchRequest(size_t points, double dpiScale) {
    auto request = std::make_unique<ChartRequest>();
    uint32_t state = 12345u;
    double y = 0.0;
    for (size_t i = 0; i < points; ++i) {
        state = state * 1664525u + 1013904223u;
        y += (static_cast<double>(state >> 8) / 16777216.0 - 0.48) * 1000.0;
        request->xValues.push_back(static_cast<double>(i) * 28800.0 / points);
        request->yValues.push_back(y);
    }
    request->titleText = L"\u640D\u76CA\u63A8\u79FB";
    request->subtitleText = L"2024-05-17 09:00 - 17:00";
    request->valueText = L"+1,234,567";
    request->noteText = L"\u53D6\u5F15 312 \u56DE";
    request->animate = false;
    computeChartScale(*request);
    const SurfaceSize size =
        surfaceSizeForDpi(true, static_cast<uint32_t>(std::lround(dpiScale * REFERENCE_DPI)));
    request->dpiScale = size.scale;
    request->surfaceWidth = size.width;
    request->surfaceHeight = size.height;
    return request;
}

enum Step { PREPARE, FILL, TEXTS, GRID, ZERO, CURVE, MARKER, HINT, BORDER, PRESENT, STEP_COUNT };
const char* const STEP_NAMES[STEP_COUNT] = {"clear", "fill",  "texts", "grid+lbl", "zero",
                                            "curve", "marker", "hint", "border",   "present"};

// One frame step by step on a real surface, timing each step.
void timeSteps(HWND window, const ChartRequest& request, std::vector<double>* times) {
    using namespace frame_steps;
    const FrameSurface surface = createFrameSurface(request.surfaceWidth, request.surfaceHeight);
    {
        const GdiplusBitmap bitmap =
            createPixelBitmap(request.surfaceWidth, request.surfaceHeight, surface.pixels);
        const GdiplusGraphics graphics = createImageGraphics(bitmap);
        Gdiplus::GpGraphics* g = graphics.get();
        Clock::time_point start = Clock::now();
        const auto lap = [&](Step step) {
            times[step].push_back(millisecondsSince(start));
            start = Clock::now();
        };
        prepareGraphics(g, request.dpiScale);
        lap(PREPARE);
        const CardShape card = fillCard(g);
        lap(FILL);
        drawHeaderTexts(g, request);
        lap(TEXTS);
        drawGridAndLabels(g, request);
        lap(GRID);
        drawZeroLine(g, request);
        lap(ZERO);
        drawCurve(g, request, 1.0);
        lap(CURVE);
        drawHeadMarker(g, request, request.animationSeconds);
        lap(MARKER);
        drawHint(g);
        lap(HINT);
        drawBorder(g, request);
        lap(BORDER);
    }
    const Clock::time_point start = Clock::now();
    presentSurface(window, surface, 1.0);
    times[PRESENT].push_back(millisecondsSince(start));
}

HWND createBenchWindow() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"KestrineRenderBench";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(WS_EX_LAYERED | WS_EX_TOPMOST | WS_EX_TOOLWINDOW |
                                      WS_EX_NOACTIVATE,
                                  L"KestrineRenderBench", L"Kestrine", WS_POPUP, 0, 0, 10, 10,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    return window;
}

void pumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
}

}  // namespace

int main(int argc, char** argv) {
    int frames = 30;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--frames") == 0) {
            frames = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    attachModule(GetModuleHandleW(nullptr));
    acquireGdiplus();
    HWND window = createBenchWindow();

    std::printf("Frame cost in ms (median), drawn from nothing as at every animation tick.\n");
    std::printf("%7s %5s %6s | %9s %12s |", "points", "scale", "frames", "draw-only",
                "draw+present");
    for (const char* name : STEP_NAMES) {
        std::printf(" %8s", name);
    }
    std::printf("\n");
    bool warmedUp = false;
    for (size_t points : {static_cast<size_t>(1000), static_cast<size_t>(100000)}) {
        for (double scale : {1.0, 2.0, 4.0}) {
            const auto request = benchRequest(points, scale);
            const int n = points > 10000 ? std::max(3, frames / 10) : frames;
            std::vector<uint32_t> pixels(static_cast<size_t>(request->surfaceWidth) *
                                         request->surfaceHeight);
            // One warm-up frame for the first cell: the font probe and the
            // first use of GDI+ and of the window are not per-frame costs.
            if (!warmedUp) {
                renderFrame(window, *request, 1.0, request->animationSeconds, 1.0);
                warmedUp = true;
            }
            std::vector<double> drawOnly;
            std::vector<double> drawAndPresent;
            std::vector<double> steps[STEP_COUNT];
            for (int i = 0; i < n; ++i) {
                Clock::time_point start = Clock::now();
                renderCardToPixels(*request, 1.0, request->animationSeconds, pixels.data());
                drawOnly.push_back(millisecondsSince(start));
                start = Clock::now();
                renderFrame(window, *request, 1.0, request->animationSeconds, 1.0);
                drawAndPresent.push_back(millisecondsSince(start));
                timeSteps(window, *request, steps);
                pumpMessages();
            }
            std::printf("%7zu %5.1f %6d | %9.2f %12.2f |", points, scale, n, median(drawOnly),
                        median(drawAndPresent));
            for (const std::vector<double>& step : steps) {
                std::printf(" %8.2f", median(step));
            }
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    DestroyWindow(window);
    releaseGdiplus();
    return 0;
}
