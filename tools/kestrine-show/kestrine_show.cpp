// kestrine-show: a command-line host for kestrine.dll, so that scripts can pop
// up a chart card without writing a host. It loads the DLL from its own folder
// like any host would, shows one card and stays until that card has closed;
// with --follow it keeps that card fed from a growing file or a pipe, and with
// --png it draws the card into a picture instead of a window.
#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "card/display_settings.h"
#include "card_png.h"
#include "core/request_building.h"
#include "dll/module_state.h"
#include "kestrine.h"
#include "draw/gdiplus_lifetime.h"
#include "series_follow.h"
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
constexpr ULONGLONG MAX_FILE_POLL_MS = 100;
// What the card's thread may take to wind down once its window has gone.
constexpr DWORD CARD_WIND_DOWN_TIMEOUT_MS = 5000;
constexpr size_t MAX_SERIES_BYTES = 64u * 1024 * 1024;
constexpr int RESULT_NO_CHART = -1;
constexpr int RESULT_NOT_STARTED = -2;

// The exports' own types, calling convention included (__stdcall on x86).
using ShowFn = decltype(&ShowKestrine);
using IntFn = decltype(&KestrineVersion);

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

// One line on standard error: a note while the program goes on.
void note(const std::wstring& message) {
    writeText(STD_ERROR_HANDLE, L"kestrine-show: " + message + L"\n");
}

int fail(int code, const std::wstring& message) {
    note(message);
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

BOOL CALLBACK closeIfOwnCard(HWND window, LPARAM process) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[32] = {};
    if (owner == static_cast<DWORD>(process) && GetClassNameW(window, name, 32) > 0 &&
        lstrcmpW(name, L"KestrineWindow") == 0) {
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    return TRUE;
}

// Only this process's cards: CloseKestrine would close other programs' too.
void closeOwnCards() {
    EnumWindows(closeIfOwnCard, static_cast<LPARAM>(GetCurrentProcessId()));
}

// The value text: made from the last point when --value-format is given and
// a point has a number for y, else the text given with --value.
std::wstring valueText(const ShowOptions& options, bool hasLastY, double lastY) {
    return options.hasValueFormat && hasLastY ? applyValueFormat(options.valueFormat, lastY)
                                              : options.value;
}

std::wstring valueText(const ShowOptions& options, const std::wstring& series) {
    double lastY = 0.0;
    const bool hasLastY = lastFiniteY(series, 0, lastY);
    return valueText(options, hasLastY, lastY);
}

int callShow(const Kestrine& dll, const ShowOptions& options, const std::wstring& series,
             const std::wstring& value, bool animate) {
    return dll.show(series.c_str(), options.title.c_str(), options.subtitle.c_str(), value.c_str(),
                    options.note.c_str(), options.numericX ? 1 : 0, options.autoCloseSeconds,
                    animate ? 1 : 0, options.animationSeconds, options.positive ? 1 : 0,
                    options.positiveColor, options.negativeColor);
}

// The exit for a ShowKestrine result other than 0.
int showFailure(int result) {
    if (result == RESULT_NO_CHART) return fail(EXIT_BAD_INPUT, L"the series holds no point");
    if (result == RESULT_NOT_STARTED) return fail(EXIT_NOT_SHOWN, L"no card thread could be started");
    return fail(EXIT_NOT_SHOWN, L"ShowKestrine returned " + std::to_wstring(result));
}

// The card's window, once ShowKestrine has started its thread; null when it
// did not open in time.
HWND awaitOwnCard() {
    const ULONGLONG deadline = GetTickCount64() + CARD_OPEN_TIMEOUT_MS;
    HWND card = nullptr;
    while ((card = findOwnCard()) == nullptr) {
        if (GetTickCount64() > deadline) return nullptr;
        Sleep(POLL_MS);
    }
    return card;
}

// Leaving ends the process, which cuts off any thread where it stands. The
// card's thread still frees its chart and shuts GDI+ down after its window
// has gone; let it finish rather than kill it in the middle of that.
// With closing, every card of this process is asked to close until none is
// left, one that opens meanwhile included; else the user closes it.
void awaitCardsGone(HANDLE cardThread, bool closing) {
    for (;;) {
        if (closing) closeOwnCards();
        if (findOwnCard() == nullptr) break;
        Sleep(POLL_MS);
    }
    if (cardThread != nullptr) WaitForSingleObject(cardThread, CARD_WIND_DOWN_TIMEOUT_MS);
}

int showCard(const Kestrine& dll, const ShowOptions& options) {
    NormalisedSeries series;
    std::wstring error;
    if (!seriesFromOptions(options, series, error)) return fail(EXIT_BAD_INPUT, error);

    const int result = callShow(dll, options, series.series, valueText(options, series.series),
                                options.animate);
    if (result != 0) return showFailure(result);

    // The card lives in this process: leaving now would take it away. First
    // wait for its window, then for the window to go.
    const HWND card = awaitOwnCard();
    if (card == nullptr) return fail(EXIT_NOT_SHOWN, L"the card did not open");
    const OwnedHandle cardThread(OpenThread(SYNCHRONIZE, FALSE, GetWindowThreadProcessId(card, nullptr)));
    awaitCardsGone(cardThread.valid() ? cardThread.get() : nullptr, false);
    return EXIT_DONE;
}

// GDI+ for drawing in this process, for as long as it lives.
class GdiplusUse {
public:
    GdiplusUse() {
        attachModule(GetModuleHandleW(nullptr));
        acquireGdiplus();
    }
    ~GdiplusUse() { releaseGdiplus(); }
    GdiplusUse(const GdiplusUse&) = delete;
    GdiplusUse& operator=(const GdiplusUse&) = delete;
};

// --png: the card at rest, drawn by the same renderer the DLL's windows use
// (linked into this program, since the DLL exports no drawing), no window.
int writePicture(const ShowOptions& options) {
    NormalisedSeries series;
    std::wstring error;
    if (!seriesFromOptions(options, series, error)) return fail(EXIT_BAD_INPUT, error);
    const std::wstring value = valueText(options, series.series);
    std::unique_ptr<ChartRequest> request = buildChartRequest(
        series.series.c_str(), options.title.c_str(), options.subtitle.c_str(), value.c_str(),
        options.note.c_str(), options.numericX ? 1 : 0, options.autoCloseSeconds,
        options.animate ? 1 : 0, options.animationSeconds, options.positive ? 1 : 0,
        options.positiveColor, options.negativeColor);
    if (!request) return showFailure(RESULT_NO_CHART);
    if (options.highContrast) {
        request->display.highContrast = true;
        request->display.colours = readSystemColours();
    }

    const GdiplusUse gdiplus;
    CardImage image;
    const bool drawn = options.hover
                           ? drawHoveredCard(*request, options.pngScale, options.hoverX, image)
                           : drawRestingCard(*request, options.pngScale, image);
    if (!drawn) {
        return fail(EXIT_NOT_SHOWN, L"the card could not be drawn");
    }
    if (!writeCardPng(options.pngFile, image, error)) return fail(EXIT_NOT_SHOWN, error);
    return EXIT_DONE;
}

// Set by the console's Ctrl+C, Ctrl+Break or close: the live card closes and
// the program ends as if the card had been clicked away.
std::atomic<bool> stopRequested{false};

BOOL WINAPI onConsoleControl(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
        stopRequested.store(true);
        return TRUE;
    }
    return FALSE;
}

// Standard input, read on a thread of its own: a read from a pipe or a
// console blocks until data comes, and the card must stay fed and closable
// meanwhile. The thread shares its state through a shared_ptr, so that
// leaving while it is still blocked frees nothing it uses.
class StandardInput {
public:
    StandardInput() = default;
    StandardInput(const StandardInput&) = delete;
    StandardInput& operator=(const StandardInput&) = delete;

    bool start(std::wstring& error) {
        // The thread owns its copy once it runs; until then, this does.
        auto handed = std::make_unique<std::shared_ptr<Shared>>(shared_);
        HANDLE thread = CreateThread(nullptr, 0, readAll, handed.get(), 0, nullptr);
        if (thread == nullptr) {
            error = L"cannot read standard input " + windowsError(GetLastError());
            return false;
        }
        handed.release();
        thread_.reset(new OwnedHandle(thread));
        return true;
    }

    ~StandardInput() {
        if (!thread_) return;
        // A read still waiting for a writer is called off; if the system
        // cannot do that, the thread ends with the process.
        if (WaitForSingleObject(thread_->get(), 0) == WAIT_TIMEOUT) {
            CancelSynchronousIo(thread_->get());
            WaitForSingleObject(thread_->get(), CANCEL_WAIT_MS);
        }
    }

    // Moves what has arrived into bytes; true once the input has ended and
    // nothing more will come.
    bool take(std::string& bytes, DWORD& error) {
        std::lock_guard<std::mutex> guard(shared_->lock);
        bytes.swap(shared_->bytes);
        shared_->bytes.clear();
        error = shared_->error;
        return shared_->ended && bytes.empty();
    }

private:
    static constexpr DWORD CANCEL_WAIT_MS = 500;

    struct Shared {
        std::mutex lock;
        std::string bytes;
        bool ended = false;
        DWORD error = 0;
    };

    static DWORD WINAPI readAll(void* parameter) {
        const std::unique_ptr<std::shared_ptr<Shared>> handed(
            static_cast<std::shared_ptr<Shared>*>(parameter));
        const std::shared_ptr<Shared> shared = *handed;
        const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
        try {
            std::vector<char> buffer(65536);
            for (;;) {
                DWORD read = 0;
                const BOOL ok = ReadFile(input, buffer.data(), static_cast<DWORD>(buffer.size()),
                                         &read, nullptr);
                const DWORD code = ok ? 0 : GetLastError();
                std::lock_guard<std::mutex> guard(shared->lock);
                if (!ok || read == 0) {
                    // A closed pipe is the writer's end, not a failure.
                    if (code != ERROR_BROKEN_PIPE && code != ERROR_OPERATION_ABORTED) shared->error = code;
                    shared->ended = true;
                    return 0;
                }
                shared->bytes.append(buffer.data(), read);
            }
        } catch (...) {
            std::lock_guard<std::mutex> guard(shared->lock);
            shared->error = ERROR_NOT_ENOUGH_MEMORY;
            shared->ended = true;
        }
        return 0;
    }

    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    std::unique_ptr<OwnedHandle> thread_;
};

// A series file that may grow, shrink, be replaced or not exist yet. Each
// poll opens it afresh (so that a writer may delete or rename it) and reads
// only the bytes after those read before.
class FollowedFile {
public:
    enum class Poll { READ, MISSING, FAILED };

    explicit FollowedFile(std::wstring path) : path_(std::move(path)) {}

    Poll poll(SeriesFollower& follower, std::wstring& message) {
        const OwnedHandle file(CreateFileW(path_.c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        BY_HANDLE_FILE_INFORMATION information = {};
        if (!file.valid() || !GetFileInformationByHandle(file.get(), &information)) {
            const DWORD code = GetLastError();
            if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return Poll::MISSING;
            // A writer holding the file for itself lets go soon; so does a
            // file being deleted. Other failures count only before the file
            // was ever read: later ones are waited out like a missing file.
            if (seen_ || code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION) {
                return Poll::READ;
            }
            message = L"cannot read " + path_ + L" " + windowsError(code);
            return Poll::FAILED;
        }
        const ULONGLONG size =
            (static_cast<ULONGLONG>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
        const Identity identity{information.dwVolumeSerialNumber, information.nFileIndexHigh,
                                information.nFileIndexLow};
        if (seen_ && (!(identity == identity_) || size < offset_)) {
            message = path_ + (identity == identity_ ? L" is shorter than before"
                                                     : L" was replaced") +
                      L"; reading it again from the start";
            follower.restart();
            offset_ = 0;
        }
        seen_ = true;
        identity_ = identity;
        if (size <= offset_) return Poll::READ;

        LARGE_INTEGER position;
        position.QuadPart = static_cast<LONGLONG>(offset_);
        if (!SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN)) return Poll::READ;
        // What a writer adds while this runs waits for the next poll.
        ULONGLONG left = std::min<ULONGLONG>(size - offset_, MAX_BYTES_PER_POLL);
        while (left > 0) {
            DWORD read = 0;
            const DWORD wanted = static_cast<DWORD>(std::min<ULONGLONG>(left, buffer_.size()));
            if (!ReadFile(file.get(), buffer_.data(), wanted, &read, nullptr) || read == 0) break;
            follower.feed(buffer_.data(), read);
            offset_ += read;
            left -= read;
        }
        return Poll::READ;
    }

private:
    static constexpr ULONGLONG MAX_BYTES_PER_POLL = 16u * 1024 * 1024;

    struct Identity {
        DWORD volume = 0;
        DWORD high = 0;
        DWORD low = 0;
        bool operator==(const Identity& other) const {
            return volume == other.volume && high == other.high && low == other.low;
        }
    };

    std::wstring path_;
    bool seen_ = false;
    Identity identity_;
    ULONGLONG offset_ = 0;
    std::vector<char> buffer_ = std::vector<char>(65536);
};

void reportSkipped(const std::wstring& source, SeriesFollower& follower) {
    for (const std::wstring& report : follower.takeReports()) {
        note(source + L" " + report + L"; skipped");
    }
}

// --follow: one card for the whole run, shown with the points read so far
// and given the newest points at most every --every milliseconds. Updates
// are shown without the grow-in (animate off), which an open card takes as
// "draw the finished chart at once"; the first appearance animates as asked.
int followCard(const Kestrine& dll, const ShowOptions& options) {
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    const bool fromInput = options.seriesFile == L"-";
    const std::wstring source = fromInput ? std::wstring(L"standard input") : options.seriesFile;
    SeriesFollower follower;
    StandardInput input;
    FollowedFile file(options.seriesFile);
    std::wstring error;
    if (fromInput && !input.start(error)) return fail(EXIT_NOT_SHOWN, error);

    HWND card = nullptr;
    std::unique_ptr<OwnedHandle> cardThread;
    uint64_t shownRevision = follower.revision();
    ULONGLONG nextUpdate = 0;
    ULONGLONG nextPoll = 0;
    bool inputEnded = false;
    bool waitingNoted = false;
    bool missingNoted = false;
    int exitCode = EXIT_DONE;
    size_t updates = 0;  // calls that gave the card new points, the first included
    std::string bytes;

    for (;; Sleep(POLL_MS)) {
        if (stopRequested.load()) break;
        if (card != nullptr && !IsWindow(card)) break;  // clicked, auto-closed or --close

        if (fromInput && !inputEnded) {
            DWORD code = 0;
            inputEnded = input.take(bytes, code);
            follower.feed(bytes.data(), bytes.size());
            if (inputEnded) {
                follower.finish();
                if (code != 0) note(L"cannot read standard input " + windowsError(code));
            }
        } else if (!fromInput && GetTickCount64() >= nextPoll) {
            // Opening the file costs more than a glance at the card: look no
            // more often than updates may come, and at least every 100 ms.
            nextPoll = GetTickCount64() + std::min<ULONGLONG>(options.everyMs, MAX_FILE_POLL_MS);
            std::wstring message;
            const FollowedFile::Poll poll = file.poll(follower, message);
            if (poll == FollowedFile::Poll::FAILED) {
                exitCode = fail(EXIT_BAD_INPUT, message);  // unreadable from the start
                break;
            }
            if (poll == FollowedFile::Poll::MISSING && !missingNoted) {
                note(card == nullptr ? L"waiting for " + source + L" to appear"
                                     : source + L" is gone; waiting for it to come back");
            }
            missingNoted = poll == FollowedFile::Poll::MISSING;
            if (!message.empty() && poll == FollowedFile::Poll::READ) note(message);
        }
        reportSkipped(source, follower);

        if (follower.points() == 0) {
            if (fromInput && inputEnded && card == nullptr) {
                exitCode = showFailure(RESULT_NO_CHART);
                break;
            }
            if (!fromInput && card == nullptr && !waitingNoted && !missingNoted) {
                note(L"waiting for the first point in " + source);
                waitingNoted = true;
            }
            continue;
        }
        const ULONGLONG now = GetTickCount64();
        if (follower.revision() == shownRevision || now < nextUpdate) continue;
        shownRevision = follower.revision();
        const std::wstring value = valueText(options, follower.hasLastY(), follower.lastY());

        if (card == nullptr) {
            const int result = callShow(dll, options, follower.series(), value, options.animate);
            if (result == RESULT_NO_CHART && !(fromInput && inputEnded)) continue;  // nan only, so far
            if (result != 0) {
                exitCode = showFailure(result);
                break;
            }
            ++updates;
            card = awaitOwnCard();
            if (card == nullptr) {
                exitCode = fail(EXIT_NOT_SHOWN, L"the card did not open");
                break;
            }
            cardThread.reset(new OwnedHandle(
                OpenThread(SYNCHRONIZE, FALSE, GetWindowThreadProcessId(card, nullptr))));
            // The grow-in plays once, undisturbed; updates come after it.
            const ULONGLONG shown = GetTickCount64();
            nextUpdate = shown + static_cast<ULONGLONG>(options.everyMs);
            if (options.animate) {
                const ULONGLONG grown = shown + static_cast<ULONGLONG>(options.animationSeconds * 1000);
                nextUpdate = std::max<ULONGLONG>(nextUpdate, grown);
            }
            continue;
        }
        // A card closed a moment ago would make ShowKestrine open a new one.
        if (!IsWindow(card)) break;
        const int result = callShow(dll, options, follower.series(), value, false);
        nextUpdate = now + static_cast<ULONGLONG>(options.everyMs);
        if (result != 0 && result != RESULT_NO_CHART) {
            exitCode = showFailure(result);
            break;
        }
        if (result == 0) ++updates;
        if (!IsWindow(card)) break;  // it closed while the update was on its way
    }

    // Whatever card this run opened goes with it, including one that an update
    // racing a click may have opened.
    awaitCardsGone(cardThread && cardThread->valid() ? cardThread->get() : nullptr, true);
    if (exitCode == EXIT_DONE) {
        const size_t skipped = follower.skippedLines();
        note(source + L": " + std::to_wstring(follower.points()) + L" points, " +
             std::to_wstring(updates) + (updates == 1 ? L" card update, " : L" card updates, ") +
             std::to_wstring(skipped) + (skipped == 1 ? L" line skipped" : L" lines skipped"));
    }
    return exitCode;
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

    // The picture needs no window, hence no DLL.
    if (options.png) return writePicture(options);

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
            return options.follow ? followCard(dll, options) : showCard(dll, options);
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
