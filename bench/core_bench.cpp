// Benchmarks of the portable core: building a request from series text and
// computing its scale, for 1k, 100k and 1M points, and the curve's outline of
// a long series, ordinary and one that stacks many stretches in a column.
// Goals: 1M points built in 200 ms and scaled in 10 ms, and reading a series
// at most twice what touching its arrays and reading its text once cost.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "core/axis_scale.h"
#include "core/curve_columns.h"
#include "core/labels.h"
#include "core/request_building.h"

namespace {

// A running profit-and-loss series: one point a minute, cents on every value.
// fullPrecision writes 17 significant digits, as a host printing doubles
// with "%.17g" would.
const std::wstring& seriesText(int64_t points, bool fullPrecision) {
    static std::map<std::pair<int64_t, bool>, std::wstring> cache;
    std::wstring& text = cache[{points, fullPrecision}];
    if (!text.empty()) return text;
    uint64_t state = 12345;
    int64_t cents = 0;
    wchar_t item[96];
    for (int64_t i = 0; i < points; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        cents += static_cast<int64_t>((state >> 33) % 20001) - 10000;
        double value = static_cast<double>(cents) / 100.0;
        if (fullPrecision) {
            kestrine::formatBounded(item, 96, L"%lld:%.17g;", static_cast<long long>(i * 60), value / 3.0);
        } else {
            kestrine::formatBounded(item, 96, L"%lld:%.2f;", static_cast<long long>(i * 60), value);
        }
        text += item;
    }
    return text;
}

void buildRequest(benchmark::State& state, bool fullPrecision) {
    const std::wstring& text = seriesText(state.range(0), fullPrecision);
    for (auto _ : state) {
        auto request = kestrine::buildChartRequest(text.c_str(), L"Daily P&L", L"Strategy", L"+1,234", L"note", 0, 30,
                                                   1, 1.5, 1, 0x00336699u, 0xFFFFFFFFu);
        benchmark::DoNotOptimize(request.get());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_buildChartRequest(benchmark::State& state) { buildRequest(state, false); }
void BM_buildChartRequest_17digits(benchmark::State& state) { buildRequest(state, true); }

// Hands freed memory back to the system, so that the next large block comes
// from fresh pages, as it does from a Windows heap: glibc would otherwise keep
// it and hand the same, already touched pages out again.
void releaseFreedMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    const size_t middle = samples.size() / 2;
    return samples.size() % 2 != 0 ? samples[middle] : (samples[middle - 1] + samples[middle]) / 2.0;
}

// Reading a series on the caller's thread against the least any reading
// costs: writing the two arrays of its values once, in fresh memory, and
// reading its text once. All three in each iteration, each from fresh pages;
// the row's time is the reading, and the counters are medians.
void BM_buildChartRequest_bounds(benchmark::State& state) {
    const auto points = static_cast<size_t>(state.range(0));
    const std::wstring& text = seriesText(state.range(0), false);
    std::vector<double> parse;
    std::vector<double> touch;
    std::vector<double> read;
    for (auto _ : state) {
        releaseFreedMemory();
        auto start = std::chrono::steady_clock::now();
        {
            auto request = kestrine::buildChartRequest(text.c_str(), L"Daily P&L", L"Strategy", L"+1,234", L"note",
                                                       0, 30, 1, 1.5, 1, 0x00336699u, 0xFFFFFFFFu);
            benchmark::DoNotOptimize(request.get());
            parse.push_back(millisecondsSince(start));
        }
        state.SetIterationTime(parse.back() / 1000.0);

        releaseFreedMemory();
        start = std::chrono::steady_clock::now();
        {
            std::unique_ptr<double[]> xs(new double[points]);
            std::unique_ptr<double[]> ys(new double[points]);
            for (size_t i = 0; i < points; ++i) {
                xs[i] = static_cast<double>(i);
                ys[i] = static_cast<double>(i);
            }
            benchmark::DoNotOptimize(xs.get());
            benchmark::DoNotOptimize(ys.get());
            benchmark::ClobberMemory();
            touch.push_back(millisecondsSince(start));
        }

        start = std::chrono::steady_clock::now();
        uint32_t sum = 0;
        for (wchar_t c : text) sum += static_cast<uint32_t>(c);
        benchmark::DoNotOptimize(sum);
        read.push_back(millisecondsSince(start));
    }
    const double parseMs = median(parse);
    const double touchMs = median(touch);
    const double readMs = median(read);
    state.counters["parse_ms"] = parseMs;
    state.counters["touch_ms"] = touchMs;
    state.counters["read_ms"] = readMs;
    state.counters["ratio"] = parseMs / (touchMs + readMs);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_computeChartScale(benchmark::State& state) {
    const std::wstring& text = seriesText(state.range(0), false);
    auto request =
        kestrine::buildChartRequest(text.c_str(), nullptr, nullptr, nullptr, nullptr, 0, 30, 1, 1.5, 1, 0, 0);
    for (auto _ : state) {
        kestrine::computeChartScale(*request);
        benchmark::DoNotOptimize(request->plotPoints.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_formatAxisValue(benchmark::State& state) {
    const double values[] = {-12500.0, 0.0, 20000.0, 1234567.5, -0.4, 1e23};
    for (auto _ : state) {
        for (double value : values) benchmark::DoNotOptimize(kestrine::formatAxisValue(value));
    }
    state.SetItemsProcessed(state.iterations() * 6);
}

// The render benchmark's random walk over a trading day, scaled to the card.
void BM_curveOutline(benchmark::State& state) {
    const auto points = static_cast<size_t>(state.range(0));
    kestrine::ChartRequest request;
    request.xValues.reserve(points);
    request.yValues.reserve(points);
    uint32_t seed = 12345u;
    double y = 0.0;
    for (size_t i = 0; i < points; ++i) {
        seed = seed * 1664525u + 1013904223u;
        y += (static_cast<double>(seed >> 8) / 16777216.0 - 0.48) * 1000.0;
        request.xValues.push_back(static_cast<double>(i) * 28800.0 / static_cast<double>(points));
        request.yValues.push_back(y);
    }
    kestrine::computeChartScale(request);
    for (auto _ : state) {
        const kestrine::CurveOutline outline = kestrine::curveOutline(request.plotPoints, 1.0, 920, 560);
        benchmark::DoNotOptimize(outline.spans.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The outline of a series that visits one column at many separate heights:
// runs of 20 points climbing a sliver at each of the plot's levels two device
// rows apart, in a scrambled order, in two columns by turns. Each column
// then holds as many separate stretches as its height allows.
void BM_curveOutline_separateLevels(benchmark::State& state) {
    const double scale = static_cast<double>(state.range(0));
    const size_t points = 1000000;
    std::vector<kestrine::PlotPoint> plotPoints;
    plotPoints.reserve(points);
    const int levels = static_cast<int>(380 * scale / 2);
    for (size_t run = 0; plotPoints.size() < points; ++run) {
        const double level = 110.0 + 2.0 * static_cast<double>((run * 7919) % static_cast<size_t>(levels)) / scale;
        const float x = run % 2 == 0 ? 400.0f : 420.0f;
        for (int i = 0; i < 20 && plotPoints.size() < points; ++i) {
            plotPoints.push_back({x, static_cast<float>(level + 0.0001 * i)});
        }
    }
    const auto width = static_cast<int32_t>(920 * scale);
    const auto height = static_cast<int32_t>(560 * scale);
    for (auto _ : state) {
        const kestrine::CurveOutline outline = kestrine::curveOutline(plotPoints, scale, width, height);
        benchmark::DoNotOptimize(outline.spans.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(points));
}

}  // namespace

BENCHMARK(BM_curveOutline)->Arg(1000000)->Arg(10000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_curveOutline_separateLevels)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_buildChartRequest)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_buildChartRequest_17digits)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_computeChartScale)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_formatAxisValue)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_buildChartRequest_bounds)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
