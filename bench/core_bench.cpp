// Benchmarks of the portable core: building a request from series text and
// computing its scale, for 1k, 100k and 1M points, and the curve's outline of
// a long series. Goals: 1M points built in 200 ms and scaled in 10 ms.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>

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

}  // namespace

BENCHMARK(BM_curveOutline)->Arg(1000000)->Arg(10000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_buildChartRequest)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_buildChartRequest_17digits)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_computeChartScale)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_formatAxisValue)->Unit(benchmark::kNanosecond);

BENCHMARK_MAIN();
