// kestrine-show: a command-line host for kestrine.dll, so that scripts can pop
// up a chart card without writing a host. It loads the DLL from its own folder
// like any host would, shows one card and stays until that card has closed.
#include <windows.h>

#include <shellapi.h>

#include <cstring>
#include <string>
#include <vector>

#include "series_text.h"
#include "show_arguments.h"

namespace {

using namespace kestrine;

constexpr int EXIT_DONE = 0;
constexpr int EXIT_NOT_SHOWN = 1;
constexpr int EXIT_BAD_INPUT = 2;
// The card's thread registers its class and lays out fonts before the window
// exists; under Wine a cold start takes a few seconds.
constexpr ULONGLONG CARD_OPEN_TIMEOUT_MS = 20000;
constexpr DWORD POLL_MS = 20;
// What the card's thread may take to wind down once its window has gone.
constexpr DWORD CARD_WIND_DOWN_TIMEOUT_MS = 5000;
constexpr size_t MAX_SERIES_BYTES = 64u * 1024 * 1024;
constexpr int RESULT_NO_CHART = -1;
constexpr int RESULT_NOT_STARTED = -2;

using ShowFn = int (*)(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*,
                       const wchar_t*, int, int, int, double, int, unsigned int, unsigned int);
using IntFn = int (*)();

struct Kestrine {
    std::wstring path;
    ShowFn show = nullptr;
    IntFn close = nullptr;
    IntFn version = nullptr;
};

// Owns one kernel handle, or none: null and INVALID_HANDLE_VALUE, which
// OpenThread and CreateFileW return on failure, are left alone.
class OwnedHandle {
public:
    explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
    ~OwnedHandle() {
        if (valid()) CloseHandle(handle_);
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// Console handles take UTF-16 directly; pipes and files get UTF-8, which is
// what scripts and Python's subprocess read best.
void writeText(DWORD which, const std::wstring& text) {
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty()) return;
    DWORD mode = 0;
    DWORD written = 0;
    if (GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode)) {
        WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    if (size <= 0) return;
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size,
                        nullptr, nullptr);
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

int fail(int code, const std::wstring& message) {
    writeText(STD_ERROR_HANDLE, L"kestrine-show: " + message + L"\n");
    return code;
}

std::wstring windowsError(DWORD code) { return L"(Windows error " + std::to_wstring(code) + L")"; }

std::wstring ownFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

template <typename F>
F entry(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The DLL beside the program, never one found on the search path: a script
// gets the kestrine.dll that was shipped with this kestrine-show.exe.
bool loadKestrine(Kestrine& dll, std::wstring& error) {
    dll.path = ownFolder() + L"kestrine.dll";
    HMODULE module = LoadLibraryW(dll.path.c_str());
    if (module == nullptr) {
        error = L"cannot load " + dll.path + L" " + windowsError(GetLastError());
        return false;
    }
    dll.show = entry<ShowFn>(module, "ShowKestrine");
    dll.close = entry<IntFn>(module, "CloseKestrine");
    dll.version = entry<IntFn>(module, "KestrineVersion");
    const char* missing = dll.show == nullptr      ? "ShowKestrine"
                          : dll.close == nullptr   ? "CloseKestrine"
                          : dll.version == nullptr ? "KestrineVersion"
                                                   : nullptr;
    if (missing != nullptr) {
        error = dll.path + L" lacks the export " + std::wstring(missing, missing + std::strlen(missing));
        return false;
    }
    return true;
}

bool readAll(HANDLE handle, std::string& bytes, std::wstring& error) {
    char buffer[65536];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(handle, buffer, sizeof buffer, &read, nullptr)) {
            const DWORD code = GetLastError();
            if (code == ERROR_BROKEN_PIPE) return true;  // the writer closed the pipe: the end
            error = windowsError(code);
            return false;
        }
        if (read == 0) return true;
        if (bytes.size() + read > MAX_SERIES_BYTES) {
            error = L"(larger than 64 MB)";
            return false;
        }
        bytes.append(buffer, read);
    }
}

bool readSeriesBytes(const std::wstring& path, std::string& bytes, std::wstring& error) {
    if (path == L"-") {
        if (!readAll(GetStdHandle(STD_INPUT_HANDLE), bytes, error)) {
            error = L"cannot read standard input " + error;
            return false;
        }
        return true;
    }
    const OwnedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        error = L"cannot read " + path + L" " + windowsError(GetLastError());
        return false;
    }
    // The owner closes the file also when growing the buffer throws.
    const bool ok = readAll(file.get(), bytes, error);
    if (!ok) error = L"cannot read " + path + L" " + error;
    return ok;
}

// The series in the form ShowKestrine takes, from --series or a file.
bool seriesFromOptions(const ShowOptions& options, NormalisedSeries& series, std::wstring& error) {
    std::wstring text = options.series;
    std::wstring source = L"--series";
    if (options.hasSeriesFile) {
        std::string bytes;
        if (!readSeriesBytes(options.seriesFile, bytes, error)) return false;
        source = options.seriesFile == L"-" ? L"standard input" : options.seriesFile;
        std::wstring reason;
        if (!decodeText(bytes, text, reason)) {
            error = source + L": " + reason;
            return false;
        }
    }
    series = normaliseSeries(text);
    if (!series.error.empty()) {
        error = source + L" " + series.error;
        return false;
    }
    return true;
}

struct CardSearch {
    DWORD process;
    HWND found;
};

BOOL CALLBACK matchOwnCard(HWND window, LPARAM context) {
    CardSearch* search = reinterpret_cast<CardSearch*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != search->process) return TRUE;
    wchar_t name[32] = {};
    if (GetClassNameW(window, name, 32) > 0 && lstrcmpW(name, L"KestrineWindow") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Our own card among the desktop's windows; other programs' cards don't count.
HWND findOwnCard() {
    CardSearch search{GetCurrentProcessId(), nullptr};
    EnumWindows(matchOwnCard, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int showCard(const Kestrine& dll, const ShowOptions& options) {
    NormalisedSeries series;
    std::wstring error;
    if (!seriesFromOptions(options, series, error)) return fail(EXIT_BAD_INPUT, error);

    const int result = dll.show(series.series.c_str(), options.title.c_str(),
                                options.subtitle.c_str(), options.value.c_str(),
                                options.note.c_str(), options.numericX ? 1 : 0,
                                options.autoCloseSeconds, options.animate ? 1 : 0,
                                options.animationSeconds, options.positive ? 1 : 0,
                                options.positiveColor, options.negativeColor);
    if (result == RESULT_NO_CHART) return fail(EXIT_BAD_INPUT, L"the series holds no point");
    if (result == RESULT_NOT_STARTED) return fail(EXIT_NOT_SHOWN, L"no card thread could be started");
    if (result != 0) return fail(EXIT_NOT_SHOWN, L"ShowKestrine returned " + std::to_wstring(result));

    // The card lives in this process: leaving now would take it away. First
    // wait for its window, then for the window to go.
    const ULONGLONG deadline = GetTickCount64() + CARD_OPEN_TIMEOUT_MS;
    HWND card = nullptr;
    while ((card = findOwnCard()) == nullptr) {
        if (GetTickCount64() > deadline) return fail(EXIT_NOT_SHOWN, L"the card did not open");
        Sleep(POLL_MS);
    }
    const OwnedHandle cardThread(OpenThread(SYNCHRONIZE, FALSE, GetWindowThreadProcessId(card, nullptr)));
    while (findOwnCard() != nullptr) Sleep(POLL_MS);
    // Leaving ends the process, which cuts off any thread where it stands. The
    // card's thread still frees its chart and shuts GDI+ down after its window
    // has gone; let it finish rather than kill it in the middle of that.
    if (cardThread.valid()) WaitForSingleObject(cardThread.get(), CARD_WIND_DOWN_TIMEOUT_MS);
    return EXIT_DONE;
}

std::vector<std::wstring> commandLineArguments() {
    std::vector<std::wstring> arguments;
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words == nullptr) return arguments;
    for (int i = 1; i < count; ++i) arguments.emplace_back(words[i]);
    LocalFree(words);
    return arguments;
}

int run() {
    const ParsedArguments parsed = parseArguments(commandLineArguments());
    if (!parsed.error.empty()) return fail(EXIT_BAD_INPUT, parsed.error);
    const ShowOptions& options = parsed.options;
    if (options.action == ShowAction::HELP) {
        writeText(STD_OUTPUT_HANDLE, usageText());
        return EXIT_DONE;
    }

    Kestrine dll;
    std::wstring error;
    if (!loadKestrine(dll, error)) return fail(EXIT_BAD_INPUT, error);
    switch (options.action) {
        case ShowAction::VERSION:
            writeText(STD_OUTPUT_HANDLE, std::to_wstring(dll.version()) + L"\n");
            return EXIT_DONE;
        case ShowAction::CLOSE:
            writeText(STD_OUTPUT_HANDLE, std::to_wstring(dll.close()) + L"\n");
            return EXIT_DONE;
        default:
            return showCard(dll, options);
    }
}

}  // namespace

int main() {
    try {
        return run();
    } catch (...) {
        return fail(EXIT_NOT_SHOWN, L"out of memory");
    }
}
