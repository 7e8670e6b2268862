// Command line of kestrine-show: the options, their values and checks, and the
// "#RRGGBB" colours, turned into what one ShowKestrine or CloseKestrine call
// needs. No Windows header, so that it is tested natively and under Wine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrine {

// A COLORREF above 0xFFFFFF makes the card take its default accent colour.
constexpr uint32_t DEFAULT_ACCENT = 0xFFFFFFFF;
constexpr int32_t MAX_AUTO_CLOSE_SECONDS = 3600;
constexpr double MIN_DURATION_SECONDS = 0.3;
constexpr double MAX_DURATION_SECONDS = 10.0;
constexpr int32_t DEFAULT_EVERY_MS = 200;
constexpr int32_t MIN_EVERY_MS = 20;
constexpr int32_t MAX_EVERY_MS = 60000;
constexpr double MIN_PNG_SCALE = 1.0;
constexpr double MAX_PNG_SCALE = 4.0;

enum class ShowAction { SHOW, CLOSE, VERSION, HELP };

struct ShowOptions {
    ShowAction action = ShowAction::SHOW;
    bool hasSeries = false;
    std::wstring series;        // --series, as given
    bool hasSeriesFile = false;
    std::wstring seriesFile;    // --series-file; "-" is standard input
    std::wstring title;
    std::wstring subtitle;
    std::wstring value;
    std::wstring note;
    bool numericX = false;
    int32_t autoCloseSeconds = 0;
    bool animate = true;
    double animationSeconds = 1.5;
    bool positive = true;
    uint32_t positiveColor = DEFAULT_ACCENT;
    uint32_t negativeColor = DEFAULT_ACCENT;
    // --follow: keep reading the series file as it grows; the card is
    // updated at most every everyMs milliseconds.
    bool follow = false;
    int32_t everyMs = DEFAULT_EVERY_MS;
    // --value-format: the value text made from the last point ("{y}").
    bool hasValueFormat = false;
    std::wstring valueFormat;
    // --png: the card at rest written to pngFile at pngScale, no window.
    bool png = false;
    std::wstring pngFile;
    double pngScale = 1.0;
    // --hover: the PNG shows the readout at the point nearest to this x.
    bool hover = false;
    double hoverX = 0.0;
    // --high-contrast: the PNG in this system's colours, as the card draws
    // itself while a high-contrast theme is on.
    bool highContrast = false;
};

struct ParsedArguments {
    ShowOptions options;
    std::wstring error;  // empty when the command line is good; else one line
};

// Parses the arguments after the program name. Options take their value as
// the next argument or after "=" ("--title=T"); the next argument is the
// value even when it starts with "-" (a value such as "-720"). The first
// problem found is reported: unknown option, missing value, bad number or
// colour, no series, two series sources, an action (--close, --version)
// combined with options of a card, or options that need another one
// (--follow a series file, --every --follow, --scale --png, --hover --png,
// --high-contrast --png) or exclude it
// (--png and --follow). --help (or -h, /?) ends the reading where
// it stands and asks for the usage text.
ParsedArguments parseArguments(const std::vector<std::wstring>& arguments);

// "#RRGGBB" (the "#" may be left out, since shells treat a leading "#" as a
// comment) to a COLORREF 0x00BBGGRR. False for anything else.
bool parseColor(const std::wstring& text, uint32_t& colorref);

// The --help text, lines ending in "\n".
const wchar_t* usageText();

}  // namespace kestrine
