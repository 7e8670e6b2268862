// kestrine-snapshot: draws one card frame into memory, exactly as the window
// would, and writes it as a PNG, so that people can look at the card without
// a window. Runs under Wine or Windows.
//
//   kestrine-snapshot --out card.png --series "0:0;1:5;2:-3" [--title T]
//       [--subtitle T] [--value T] [--note T] [--numeric] [--negative]
//       [--animate] [--seconds S] [--progress P] [--elapsed S] [--fade F]
//       [--dpi-scale S] [--backdrop RRGGBB]
//
// Texts may carry \uXXXX escapes, so that any text survives any console code
// page. --fade scales the whole image as the layered window's constant alpha
// would; --backdrop composites the translucent card onto an opaque colour.

#include <windows.h>

#include <shellapi.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "card_png.h"
#include "core/request_building.h"
#include "dll/module_state.h"
#include "draw/gdiplus_lifetime.h"

namespace {

using namespace kestrine;

struct Options {
    std::wstring out;
    std::wstring series;
    std::wstring title;
    std::wstring subtitle;
    std::wstring value;
    std::wstring note;
    bool numeric = false;
    bool negative = false;
    bool animate = false;
    double seconds = 1.5;
    double progress = 1.0;
    double elapsed = -1.0;  // negative: the end of the animation
    double fade = 1.0;
    double dpiScale = 1.0;
    bool backdrop = false;
    uint32_t backdropColor = 0;
};

std::wstring unescape(const std::wstring& text) {
    std::wstring result;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\\' && i + 5 < text.size() && text[i + 1] == L'u') {
            const std::wstring hex = text.substr(i + 2, 4);
            wchar_t* end = nullptr;
            const unsigned long code = std::wcstoul(hex.c_str(), &end, 16);
            if (end == hex.c_str() + 4) {
                result.push_back(static_cast<wchar_t>(code));
                i += 5;
                continue;
            }
        }
        result.push_back(text[i]);
    }
    return result;
}

void usage() {
    std::fprintf(stderr,
                 "usage: kestrine-snapshot --out FILE.png --series \"x:y;...\" [--title T] "
                 "[--subtitle T] [--value T] [--note T] [--numeric] [--negative] [--animate] "
                 "[--seconds S] [--progress P] [--elapsed S] [--fade F] [--dpi-scale S] "
                 "[--backdrop RRGGBB]\n");
}

bool parseOptions(int argc, wchar_t** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring name = argv[i];
        const bool hasValue = i + 1 < argc;
        const auto value = [&]() { return std::wstring(argv[++i]); };
        const auto number = [&]() { return std::wcstod(argv[++i], nullptr); };
        if (name == L"--numeric") {
            options.numeric = true;
        } else if (name == L"--negative") {
            options.negative = true;
        } else if (name == L"--animate") {
            options.animate = true;
        } else if (!hasValue) {
            return false;
        } else if (name == L"--out") {
            options.out = value();
        } else if (name == L"--series") {
            options.series = value();
        } else if (name == L"--title") {
            options.title = unescape(value());
        } else if (name == L"--subtitle") {
            options.subtitle = unescape(value());
        } else if (name == L"--value") {
            options.value = unescape(value());
        } else if (name == L"--note") {
            options.note = unescape(value());
        } else if (name == L"--seconds") {
            options.seconds = number();
        } else if (name == L"--progress") {
            options.progress = number();
        } else if (name == L"--elapsed") {
            options.elapsed = number();
        } else if (name == L"--fade") {
            options.fade = number();
        } else if (name == L"--dpi-scale") {
            options.dpiScale = number();
        } else if (name == L"--backdrop") {
            options.backdrop = true;
            options.backdropColor = static_cast<uint32_t>(std::wcstoul(argv[++i], nullptr, 16));
        } else {
            return false;
        }
    }
    return !options.out.empty() && !options.series.empty();
}

// What the screen would show: every premultiplied channel scaled by the
// constant alpha, then optionally laid over an opaque backdrop.
void applyFadeAndBackdrop(std::vector<uint32_t>& pixels, const Options& options) {
    const double fade = options.fade < 0.0 ? 0.0 : (options.fade > 1.0 ? 1.0 : options.fade);
    for (uint32_t& pixel : pixels) {
        uint32_t result = 0;
        const double alpha = ((pixel >> 24) & 0xFFu) * fade / 255.0;
        for (int shift = 0; shift < 32; shift += 8) {
            double c = ((pixel >> shift) & 0xFFu) * fade;
            if (options.backdrop) {
                c = shift == 24 ? 255.0
                                : c + ((options.backdropColor >> shift) & 0xFFu) * (1.0 - alpha);
            }
            result |= static_cast<uint32_t>(std::lround(c > 255.0 ? 255.0 : c)) << shift;
        }
        pixel = result;
    }
}

int run(const Options& options) {
    std::unique_ptr<ChartRequest> request = buildChartRequest(
        options.series.c_str(), options.title.c_str(), options.subtitle.c_str(),
        options.value.c_str(), options.note.c_str(), options.numeric ? 1 : 0, 30,
        options.animate ? 1 : 0, options.seconds, options.negative ? 0 : 1, 0xFFFFFFFFu,
        0xFFFFFFFFu);
    if (!request) {
        std::fprintf(stderr, "kestrine-snapshot: the series holds no point\n");
        return 1;
    }
    const double elapsed = options.elapsed < 0.0 ? request->animationSeconds : options.elapsed;
    CardImage image;
    drawCardImage(*request, options.dpiScale, options.progress, elapsed, image);
    applyFadeAndBackdrop(image.pixels, options);

    std::wstring error;
    if (!writeCardPng(options.out, image, error)) {
        std::fprintf(stderr, "kestrine-snapshot: %ls\n", error.c_str());
        return 1;
    }
    std::printf("%ls: %dx%d, dpiScale %.2f, progress %.2f, fade %.2f\n", options.out.c_str(),
                image.width, image.height, image.dpiScale, options.progress, options.fade);
    return 0;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    Options options;
    if (argv == nullptr || !parseOptions(argc, argv, options)) {
        usage();
        return 2;
    }
    LocalFree(argv);
    attachModule(GetModuleHandleW(nullptr));
    acquireGdiplus();
    const int status = run(options);
    releaseGdiplus();
    return status;
}
