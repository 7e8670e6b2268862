// Command line of kestrine-show: a table of options, each with the field it
// sets, read left to right; every check names the option and the value that
// failed, so that a script's author sees the problem in one line.
#include "show_arguments.h"

#include <cmath>
#include <cwchar>

#include "series_text.h"

namespace kestrine {

namespace {

enum class Kind { FLAG, TEXT, SECONDS, DURATION, COLOR, MILLISECONDS, SCALE, NUMBER };

struct KnownOption {
    const wchar_t* name;
    Kind kind;
};

constexpr KnownOption OPTIONS[] = {
    {L"--series", Kind::TEXT},
    {L"--series-file", Kind::TEXT},
    {L"--title", Kind::TEXT},
    {L"--subtitle", Kind::TEXT},
    {L"--value", Kind::TEXT},
    {L"--note", Kind::TEXT},
    {L"--numeric-x", Kind::FLAG},
    {L"--auto-close", Kind::SECONDS},
    {L"--no-animation", Kind::FLAG},
    {L"--duration", Kind::DURATION},
    {L"--negative", Kind::FLAG},
    {L"--positive-color", Kind::COLOR},
    {L"--negative-color", Kind::COLOR},
    {L"--wait", Kind::FLAG},
    {L"--follow", Kind::FLAG},
    {L"--every", Kind::MILLISECONDS},
    {L"--value-format", Kind::TEXT},
    {L"--png", Kind::TEXT},
    {L"--scale", Kind::SCALE},
    {L"--hover", Kind::NUMBER},
    {L"--high-contrast", Kind::FLAG},
    {L"--close", Kind::FLAG},
    {L"--version", Kind::FLAG},
    {L"--help", Kind::FLAG},
};

const KnownOption* findOption(const std::wstring& name) {
    for (const KnownOption& known : OPTIONS) {
        if (name == known.name) return &known;
    }
    return nullptr;
}

int hexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

bool parseWhole(const std::wstring& text, int32_t minimum, int32_t maximum, int32_t& result) {
    if (text.empty() || text.size() > 6) return false;
    int32_t value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        value = value * 10 + (c - L'0');
    }
    if (value < minimum || value > maximum) return false;
    result = value;
    return true;
}

bool parseDecimal(const std::wstring& text, double minimum, double maximum, double& result) {
    // Only plain decimals: the C runtime's wcstod would also take hex,
    // "inf" and "nan", none of which is a duration or a scale.
    if (!isSeriesNumber(text) || text.find_first_of(L"nN") != std::wstring::npos) return false;
    const double value = std::wcstod(text.c_str(), nullptr);
    if (!(value >= minimum && value <= maximum)) return false;
    result = value;
    return true;
}

std::wstring quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

}  // namespace

bool parseColor(const std::wstring& text, uint32_t& colorref) {
    const size_t start = (!text.empty() && text[0] == L'#') ? 1 : 0;
    if (text.size() != start + 6) return false;
    uint32_t rgb = 0;
    for (size_t i = start; i < text.size(); ++i) {
        const int digit = hexDigit(text[i]);
        if (digit < 0) return false;
        rgb = (rgb << 4) | static_cast<uint32_t>(digit);
    }
    const uint32_t red = (rgb >> 16) & 0xFF;
    const uint32_t green = (rgb >> 8) & 0xFF;
    const uint32_t blue = rgb & 0xFF;
    colorref = red | (green << 8) | (blue << 16);
    return true;
}

ParsedArguments parseArguments(const std::vector<std::wstring>& arguments) {
    ParsedArguments parsed;
    ShowOptions& options = parsed.options;
    bool close = false;
    bool version = false;
    const wchar_t* cardOption = nullptr;  // first option that only a card uses
    bool hasEvery = false;
    bool hasScale = false;

    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        if (argument == L"-h" || argument == L"/?") {
            options.action = ShowAction::HELP;
            return parsed;
        }
        if (argument.size() < 2 || argument[0] != L'-' || argument[1] != L'-') {
            parsed.error = argument.size() > 1 && argument[0] == L'-'
                               ? L"unknown option " + quoted(argument)
                               : L"unexpected argument " + quoted(argument) +
                                     L" (texts go after an option such as --title)";
            return parsed;
        }
        const size_t equals = argument.find(L'=');
        const std::wstring name = argument.substr(0, equals);
        const KnownOption* option = findOption(name);
        if (option == nullptr) {
            parsed.error = L"unknown option " + quoted(name);
            return parsed;
        }
        if (name == L"--help") {
            options.action = ShowAction::HELP;
            return parsed;
        }

        std::wstring value;
        if (option->kind == Kind::FLAG) {
            if (equals != std::wstring::npos) {
                parsed.error = name + L" takes no value";
                return parsed;
            }
        } else if (equals != std::wstring::npos) {
            value = argument.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            parsed.error = L"missing value after " + name;
            return parsed;
        }

        if (name == L"--close") {
            close = true;
            continue;
        }
        if (name == L"--version") {
            version = true;
            continue;
        }
        if (cardOption == nullptr) cardOption = option->name;

        switch (option->kind) {
            case Kind::FLAG:
                if (name == L"--numeric-x") options.numericX = true;
                if (name == L"--no-animation") options.animate = false;
                if (name == L"--negative") options.positive = false;
                if (name == L"--follow") options.follow = true;
                if (name == L"--high-contrast") options.highContrast = true;
                break;  // --wait is what the program does anyway
            case Kind::TEXT:
                if (name == L"--series") {
                    options.hasSeries = true;
                    options.series = value;
                } else if (name == L"--series-file") {
                    if (value.empty()) {
                        parsed.error = L"--series-file needs a path (or - for standard input)";
                        return parsed;
                    }
                    options.hasSeriesFile = true;
                    options.seriesFile = value;
                } else if (name == L"--title") {
                    options.title = value;
                } else if (name == L"--subtitle") {
                    options.subtitle = value;
                } else if (name == L"--value") {
                    options.value = value;
                } else if (name == L"--value-format") {
                    options.hasValueFormat = true;
                    options.valueFormat = value;
                } else if (name == L"--png") {
                    if (value.empty()) {
                        parsed.error = L"--png needs a file name";
                        return parsed;
                    }
                    options.png = true;
                    options.pngFile = value;
                } else {
                    options.note = value;
                }
                break;
            case Kind::SECONDS:
                if (!parseWhole(value, 0, MAX_AUTO_CLOSE_SECONDS, options.autoCloseSeconds)) {
                    parsed.error = name + L" needs whole seconds from 0 to 3600, not " + quoted(value);
                    return parsed;
                }
                break;
            case Kind::DURATION:
                if (!parseDecimal(value, MIN_DURATION_SECONDS, MAX_DURATION_SECONDS,
                                  options.animationSeconds)) {
                    parsed.error = name + L" needs seconds from 0.3 to 10, not " + quoted(value);
                    return parsed;
                }
                break;
            case Kind::MILLISECONDS:
                if (!parseWhole(value, MIN_EVERY_MS, MAX_EVERY_MS, options.everyMs)) {
                    parsed.error = name + L" needs whole milliseconds from 20 to 60000, not " +
                                   quoted(value);
                    return parsed;
                }
                hasEvery = true;
                break;
            case Kind::SCALE:
                if (!parseDecimal(value, MIN_PNG_SCALE, MAX_PNG_SCALE, options.pngScale)) {
                    parsed.error = name + L" needs a number from 1 to 4, not " + quoted(value);
                    return parsed;
                }
                hasScale = true;
                break;
            case Kind::NUMBER:
                if (!parseDecimal(value, -1e300, 1e300, options.hoverX)) {
                    parsed.error = name + L" needs a number, not " + quoted(value);
                    return parsed;
                }
                options.hover = true;
                break;
            case Kind::COLOR: {
                uint32_t& target =
                    name == L"--positive-color" ? options.positiveColor : options.negativeColor;
                if (!parseColor(value, target)) {
                    parsed.error = name + L" needs a colour #RRGGBB, not " + quoted(value);
                    return parsed;
                }
                break;
            }
        }
    }

    if (close || version) {
        if (close && version) {
            parsed.error = L"--close and --version cannot be combined";
        } else if (cardOption != nullptr) {
            parsed.error = std::wstring(close ? L"--close" : L"--version") +
                           L" cannot be combined with " + cardOption;
        } else {
            options.action = close ? ShowAction::CLOSE : ShowAction::VERSION;
        }
        return parsed;
    }
    if (options.hasSeries && options.hasSeriesFile) {
        parsed.error = L"give either --series or --series-file, not both";
    } else if (!options.hasSeries && !options.hasSeriesFile) {
        parsed.error = L"no series: give --series \"x:y;...\" or --series-file PATH (see --help)";
    } else if (options.follow && !options.hasSeriesFile) {
        parsed.error = L"--follow needs --series-file PATH (or - for standard input)";
    } else if (hasEvery && !options.follow) {
        parsed.error = L"--every needs --follow";
    } else if (options.png && options.follow) {
        parsed.error = L"--png cannot be combined with --follow";
    } else if (hasScale && !options.png) {
        parsed.error = L"--scale needs --png";
    } else if (options.hover && !options.png) {
        parsed.error = L"--hover needs --png";
    } else if (options.highContrast && !options.png) {
        // A card in a window follows Windows' own setting, as in any host.
        parsed.error = L"--high-contrast needs --png";
    }
    return parsed;
}

const wchar_t* usageText() {
    return L"usage: kestrine-show --series \"x:y;x:y;...\" | --series-file PATH|- [options]\n"
           L"       kestrine-show --series-file PATH|- --follow [--every MS] [options]\n"
           L"       kestrine-show --series ... | --series-file ... --png FILE [--scale S]\n"
           L"                     [--hover X] [--high-contrast]\n"
           L"       kestrine-show --close | --version | --help\n"
           L"\n"
           L"Shows a Kestrine chart card and waits until it closes (a click on the card,\n"
           L"--auto-close, or kestrine-show --close from elsewhere), then exits 0.\n"
           L"\n"
           L"  --series TEXT            points as x:y (or x,y) items separated by ';'\n"
           L"  --series-file PATH       a UTF-8 or UTF-16 text file: x:y or x,y per line\n"
           L"                           (or ';'-separated); blank lines and # comments\n"
           L"                           are skipped; - reads standard input\n"
           L"  --title TEXT             large heading\n"
           L"  --subtitle TEXT          second heading line\n"
           L"  --value TEXT             headline value, right, in the accent colour\n"
           L"  --note TEXT              small note under the value\n"
           L"  --numeric-x              x values are plain numbers (default: seconds,\n"
           L"                           labelled as hours:minutes)\n"
           L"  --auto-close SECONDS     close the card after 1..3600 seconds (0: never)\n"
           L"  --no-animation           show the finished chart at once\n"
           L"  --duration SECONDS       animation length, 0.3..10 (default 1.5)\n"
           L"  --negative               use the negative accent colour\n"
           L"  --positive-color #RRGGBB positive accent (default #38D996)\n"
           L"  --negative-color #RRGGBB negative accent (default #FF5A67)\n"
           L"  --value-format TEXT      value text made from the last point: {y} becomes\n"
           L"                           its y, such as +48,250\n"
           L"  --wait                   wait until the card closes (the default)\n"
           L"  --follow                 keep reading the series file (or standard input)\n"
           L"                           and update the card in place as lines arrive;\n"
           L"                           Ctrl+C closes the card\n"
           L"  --every MS               update the card at most every 20..60000 ms\n"
           L"                           (default 200)\n"
           L"  --png FILE               write the finished card to a PNG, no window\n"
           L"  --scale S                size of the PNG, 1..4 times the card (default 1)\n"
           L"  --hover X                draw the PNG as a pointer at the point nearest to\n"
           L"                           the x value X (seconds, or the number with\n"
           L"                           --numeric-x) shows it\n"
           L"  --high-contrast          draw the PNG as the card looks in a high-contrast\n"
           L"                           theme, in this system's colours (a card in a\n"
           L"                           window follows the Windows setting itself)\n"
           L"  --close                  close every card on the desktop, print how many\n"
           L"  --version                print the interface version of kestrine.dll\n"
           L"  --help                   this text\n"
           L"\n"
           L"Exit codes: 0 done; 1 the card could not be opened; 2 bad input (the\n"
           L"message names it), including a kestrine.dll that is missing or incomplete.\n";
}

}  // namespace kestrine
