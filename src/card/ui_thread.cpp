// The UI thread of one card, from GDI+ reference to the end of its message
// loop. The DPI, size and placement decisions are the core's; this file only
// gathers the facts from Windows and applies the results.

#include "card/ui_thread.h"

#include <atomic>
#include <optional>

#include "card/card_accessible.h"
#include "card/card_registry.h"
#include "card/hand_over.h"
#include "card/window_proc.h"
#include "card/window_seams.h"
#include "draw/gdiplus_lifetime.h"
#include "draw/module_lock.h"

namespace kestrine {

namespace {

constexpr DWORD CARD_STYLE = WS_POPUP;
// WS_EX_NOACTIVATE: the system never brings the card to the foreground, nor
// activates it when the foreground window closes; the window procedure's
// MA_NOACTIVATE keeps a press from activating it.
constexpr DWORD CARD_EX_STYLE =
    WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE;
constexpr int MDT_EFFECTIVE_DPI_VALUE = 0;
constexpr UINT DEFAULT_QUERY_DPI = 96;
constexpr DWORD LOOP_RECHECK_MS = 250;
std::atomic<const testing::ShcoreStandIn*> shcoreStandIn{nullptr};
std::atomic<const testing::ThreadDpiStandIn*> threadDpiStandIn{nullptr};
std::atomic<testing::MonitorFromRectFn> monitorFromRectStandIn{nullptr};
constexpr int PROCESS_PER_MONITOR_DPI_AWARE_VALUE = 2;
// The DPI_AWARENESS_CONTEXT values, spelled out: older SDK headers lack them.
const HANDLE PER_MONITOR_AWARE_V2_CONTEXT = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-4));
const HANDLE PER_MONITOR_AWARE_CONTEXT = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-3));

template <typename Function>
Function procedure(HMODULE module, const char* name) {
    // Through void*, since function pointer types differ from FARPROC.
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Walks the chain of shcore queries, stopping at the first failing test, and
// lets the core decide from what was gathered.
std::optional<uint32_t> queryMonitorDpi(HMONITOR monitor,
                                        testing::GetProcessDpiAwarenessFn getAwareness,
                                        testing::GetDpiForMonitorFn getDpi,
                                        bool threadPerMonitorAware) {
    DpiQueryFacts facts;
    if (threadPerMonitorAware) {
        // The card's own thread context decides what the monitor query sees,
        // not the host's process awareness.
        facts.awarenessFunctionFound = true;
        facts.awarenessResult = 0;
        facts.awareness = PROCESS_PER_MONITOR_DPI_AWARE_VALUE;
    } else {
        facts.awarenessFunctionFound = getAwareness != nullptr;
        if (!facts.awarenessFunctionFound) {
            return std::nullopt;
        }
        int awareness = 0;
        facts.awarenessResult = getAwareness(GetCurrentProcess(), &awareness);
        facts.awareness = awareness;
    }
    if (!awarenessAllowsDpi(facts.awarenessFunctionFound, facts.awarenessResult,
                            facts.awareness)) {
        return std::nullopt;
    }
    facts.dpiFunctionFound = getDpi != nullptr;
    if (facts.dpiFunctionFound) {
        UINT dpiX = DEFAULT_QUERY_DPI;
        UINT dpiY = DEFAULT_QUERY_DPI;
        facts.dpiResult = getDpi(monitor, MDT_EFFECTIVE_DPI_VALUE, &dpiX, &dpiY);
        facts.dpiX = dpiX;
    }
    return chooseMonitorDpi(facts);
}

// The monitor a card at r would overlap most, or null when it overlaps none.
HMONITOR monitorOverlappedMost(const ScreenRect& r) {
    const RECT rect = {r.left, r.top, r.right, r.bottom};
    if (const testing::MonitorFromRectFn standIn = monitorFromRectStandIn.load()) {
        return standIn(&rect, MONITOR_DEFAULTTONULL);
    }
    return MonitorFromRect(&rect, MONITOR_DEFAULTTONULL);
}

RECT primaryWorkArea(HMONITOR primary) {
    MONITORINFO info = {};
    info.cbSize = sizeof(MONITORINFO);
    if (GetMonitorInfoW(primary, &info)) {
        return info.rcWork;
    }
    // Without monitor information the system's own work area is the best
    // guess, and the screen's size after that.
    RECT area = {0, 0, 0, 0};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) {
        area.right = GetSystemMetrics(SM_CXSCREEN);
        area.bottom = GetSystemMetrics(SM_CYSCREEN);
    }
    return area;
}

// The window keeps the size it was created with, whichever record it shows.
void attachRecord(HWND window, ChartRequest* request, const SurfaceSize& size, CardId card) {
    request->cardId = card;
    request->dpiScale = size.scale;
    request->surfaceWidth = size.width;
    request->surfaceHeight = size.height;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(request));
}

// Sizes and places a new card and creates its hidden layered window, with no
// record attached yet.
HWND createBareCardWindow(SurfaceSize* size, bool threadPerMonitorAware) {
    registerCardClass();  // a failure shows as CreateWindowExW failing below
    const POINT origin = {0, 0};
    const HMONITOR primary = MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY);
    const CardOpening opening = chooseNewCardOpening(primary, primaryWorkArea(primary),
                                                     threadPerMonitorAware);
    *size = opening.size;
    return CreateWindowExW(CARD_EX_STYLE, CARD_WINDOW_CLASS, CARD_WINDOW_TITLE, CARD_STYLE,
                           opening.topLeft.x, opening.topLeft.y, size->width, size->height,
                           nullptr, nullptr, moduleInstance, nullptr);
}

}  // namespace

bool registerCardClass() {
    ModuleLockGuard lock;
    if (windowClassRegistered) {
        return true;
    }
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(WNDCLASSEXW);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = chartWindowProc;
    windowClass.hInstance = moduleInstance;
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.lpszClassName = CARD_WINDOW_CLASS;
    if (RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS) {
        windowClassRegistered = true;
    }
    return windowClassRegistered;
}

bool makeThreadPerMonitorAware() {
    testing::SetThreadDpiAwarenessContextFn set = nullptr;
    if (const testing::ThreadDpiStandIn* standIn = threadDpiStandIn.load()) {
        set = standIn->setThreadDpiAwarenessContext;
    } else if (HMODULE user32 = GetModuleHandleW(L"user32.dll")) {
        // Looked up at run time: Windows before 10 (1607) has no thread contexts.
        set = procedure<testing::SetThreadDpiAwarenessContextFn>(user32,
                                                                 "SetThreadDpiAwarenessContext");
    }
    if (set == nullptr) {
        return false;
    }
    // v2 (1703 on) also scales the non-client parts; v1 is enough for a
    // layered popup that draws every pixel itself.
    return set(PER_MONITOR_AWARE_V2_CONTEXT) != nullptr ||
           set(PER_MONITOR_AWARE_CONTEXT) != nullptr;
}

SurfaceSize monitorSurfaceSize(HMONITOR monitor, bool threadPerMonitorAware) {
    std::optional<uint32_t> dpi;
    if (const testing::ShcoreStandIn* standIn = shcoreStandIn.load()) {
        if (standIn->shcorePresent) {
            dpi = queryMonitorDpi(monitor, standIn->getProcessDpiAwareness,
                                  standIn->getDpiForMonitor, threadPerMonitorAware);
        }
    } else if (HMODULE shcore = LoadLibraryW(L"shcore.dll")) {
        // Loaded at run time: systems before Windows 8.1 have no shcore.
        dpi = queryMonitorDpi(
            monitor, procedure<testing::GetProcessDpiAwarenessFn>(shcore, "GetProcessDpiAwareness"),
            procedure<testing::GetDpiForMonitorFn>(shcore, "GetDpiForMonitor"),
            threadPerMonitorAware);
        FreeLibrary(shcore);
    }
    return surfaceSizeForDpi(dpi);
}

CardOpening chooseNewCardOpening(HMONITOR primary, const RECT& workArea,
                                 bool threadPerMonitorAware) {
    const SurfaceSize primarySize = monitorSurfaceSize(primary, threadPerMonitorAware);
    const ScreenPoint centred =
        centredPosition(ScreenRect{workArea.left, workArea.top, workArea.right, workArea.bottom},
                        primarySize.width, primarySize.height);
    std::optional<ScreenPoint> saved;
    {
        ModuleLockGuard lock;
        if (savedPositionValid) {
            saved = ScreenPoint{savedPosition.x, savedPosition.y};
        }
    }
    std::optional<SurfaceSize> savedMonitorSize;
    bool resizedOverlaps = false;
    if (saved) {
        // Tested at the primary's size first, then at the size it gives;
        // chooseCardOpening says why.
        const HMONITOR monitor =
            monitorOverlappedMost(cardRectAt(*saved, primarySize.width, primarySize.height));
        if (monitor != nullptr) {
            savedMonitorSize = monitor == primary
                                   ? primarySize
                                   : monitorSurfaceSize(monitor, threadPerMonitorAware);
            resizedOverlaps =
                monitorOverlappedMost(cardRectAt(*saved, savedMonitorSize->width,
                                                 savedMonitorSize->height)) != nullptr;
        }
    }
    return chooseCardOpening(centred, primarySize, saved, savedMonitorSize, resizedOverlaps);
}

void showCard(HWND window) {
    ShowWindow(window, SW_SHOWNOACTIVATE);
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void runCardMessageLoop(HWND window) {
    MSG message;
    for (;;) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                // WM_DESTROY posts the quit that ends the loop. One posted by
                // anything else while the window lives would strand the window
                // and its record: the window goes the usual way, and its own
                // quit follows.
                if (window != nullptr && IsWindow(window)) {
                    DestroyWindow(window);
                    continue;
                }
                return;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        // Wine 8, with many card threads coming and going, can leave a thread
        // waiting in GetMessageW with WM_CLOSE already in its queue until some
        // other message arrives. Waiting for input that is available, not only
        // new, and looking again now and then keeps a card from being stuck.
        MsgWaitForMultipleObjectsEx(0, nullptr, LOOP_RECHECK_MS, QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
    }
}

HWND openStartedCard(CardId card) {
    if (!admitCardWindow(card)) {
        return nullptr;  // closed or replaced while it waited
    }
    testing::reachCardStep(testing::CardStep::beforeWindow, nullptr);
    // Before the window exists: a window keeps the context it was created in.
    const bool perMonitorAware = makeThreadPerMonitorAware();
    SurfaceSize size;
    const HWND window = createBareCardWindow(&size, perMonitorAware);
    ChartRequest* request = takeFirstRecord(card, window);
    if (request == nullptr) {
        if (window != nullptr) {
            DestroyWindow(window);  // void: it never shows
        }
        return nullptr;
    }
    attachRecord(window, request, size, card);
    testing::reachCardStep(testing::CardStep::preparing, window);
    // From here the window owns the record; an update may replace it, so it
    // is not touched again after preparation. A card closed or replaced while
    // it prepared is destroyed unseen; its loop still runs to its quit.
    if (!prepareChart(window, *request) || !showIfStillCurrent(card, window)) {
        DestroyWindow(window);
    }
    return window;
}

DWORD runCardThread(CardId card) {
    // Declared first, so that COM, if a screen reader had it started here, ends last.
    CardThreadAccessibility accessibility;
    acquireGdiplus();
    const HWND window = openStartedCard(card);
    if (window != nullptr) {
        runCardMessageLoop(window);  // ends once the window is destroyed
    }
    releaseGdiplus();
    return window != nullptr ? 0 : 1;
}

namespace testing {

void setShcoreStandIn(const ShcoreStandIn* standIn) { shcoreStandIn.store(standIn); }

void setThreadDpiStandIn(const ThreadDpiStandIn* standIn) { threadDpiStandIn.store(standIn); }

void setMonitorFromRectStandIn(MonitorFromRectFn standIn) { monitorFromRectStandIn.store(standIn); }

}  // namespace testing

}  // namespace kestrine
