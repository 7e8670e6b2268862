// The card window's procedure: one flat switch of short cases, each handing
// over to a small handler that works on the record in GWLP_USERDATA. Timing,
// thresholds and placement arithmetic come from the portable core.

#include "card/window_proc.h"

#include <windowsx.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "card/card_accessible.h"
#include "card/card_layers.h"
#include "card/card_registry.h"
#include "card/display_settings.h"
#include "card/hand_over.h"
#include "card/window_seams.h"
#include "core/animation_clock.h"
#include "core/axis_scale.h"
#include "core/placement.h"
#include "core/readout.h"
#include "draw/frame_renderer.h"
#include "draw/module_lock.h"

namespace kestrine {

static_assert(sizeof(ScreenPoint) == sizeof(POINT), "ScreenPoint mirrors POINT");

namespace {

std::atomic<testing::FrameWatcher> frameWatcher{nullptr};
std::atomic<testing::CardStepHook> cardStepHook{nullptr};

ChartRequest* attachedRequest(HWND window) {
    return reinterpret_cast<ChartRequest*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

ScreenPoint cursorPosition() {
    POINT p = {0, 0};
    GetCursorPos(&p);
    return ScreenPoint{p.x, p.y};
}

ScreenPoint windowTopLeft(HWND window) {
    RECT r = {0, 0, 0, 0};
    GetWindowRect(window, &r);
    return ScreenPoint{r.left, r.top};
}

UINT autoCloseMilliseconds(const ChartRequest& request) {
    return static_cast<UINT>(request.autoCloseSeconds) * 1000u;
}

// Pointer offsets never come near the 32-bit limits on a real screen; the
// clamp only keeps a wild reading from wrapping round into a small offset.
int32_t clampedDifference(int32_t a, int32_t b) {
    const int64_t d = int64_t{a} - b;
    if (d < (std::numeric_limits<int32_t>::min)()) {
        return (std::numeric_limits<int32_t>::min)();
    }
    if (d > (std::numeric_limits<int32_t>::max)()) {
        return (std::numeric_limits<int32_t>::max)();
    }
    return static_cast<int32_t>(d);
}

// A frame that cannot be drawn is left out; the card carries on. False when
// the window did not take it.
bool drawFrame(HWND window, const ChartRequest& request, double progress, double elapsedSeconds,
               double fade, ReadoutPick readout = {}) {
    bool presented = false;
    try {
        presented = presentChartFrame(window, request, progress, elapsedSeconds, fade, readout);
    } catch (...) {
        return false;
    }
    if (testing::FrameWatcher watcher = frameWatcher.load()) {
        watcher(window, progress, elapsedSeconds, fade);
    }
    return presented;
}

// What the pointer reads on this card now: nothing while the curve grows in,
// during a press or a drag, or with the pointer off the plot.
ReadoutPick readoutUnderPointer(HWND window, const ChartRequest& request) {
    if (!request.restingShown || !request.pointerOver || request.dragPressed ||
        !(request.dpiScale > 0.0)) {
        return ReadoutPick{};
    }
    const double x = columnCentre(request.pointerAt.x, request.dpiScale);
    const double y = (request.pointerAt.y + 0.5) / request.dpiScale;
    if (!insidePlotArea(x, y)) {
        return ReadoutPick{};
    }
    try {
        return readoutPickAt(window, request, request.pointerAt.x);
    } catch (...) {
        return ReadoutPick{};
    }
}

// The resting image, drawn at exactly the animation's length. The animation
// timer runs until the window has taken it: a refused frame (a remote session
// reconnecting, a session switch) would otherwise leave the card showing an
// earlier one for good, perhaps the fully transparent first, and nobody could
// see or click it.
void drawRestingFrame(HWND window, ChartRequest& request) {
    // The readout is drawn on the resting frame only: on the first one too,
    // when the pointer already rests on the plot as the curve completes.
    request.restingShown = true;
    const ReadoutPick readout = readoutUnderPointer(window, request);
    if (drawFrame(window, request, 1.0, request.animationSeconds, 1.0, readout)) {
        request.readoutShown = readout;
        KillTimer(window, ANIMATION_TIMER);
    } else {
        request.restingShown = false;
        SetTimer(window, ANIMATION_TIMER, RESTING_RETRY_MS, nullptr);
    }
}

// The resting frame again when the pointer now reads another point (or
// none); nothing is drawn for a move that changes nothing.
void redrawReadout(HWND window, ChartRequest& request) {
    request.readoutDue = false;
    KillTimer(window, READOUT_TIMER);
    if (!request.restingShown) {
        return;
    }
    const ReadoutPick readout = readoutUnderPointer(window, request);
    if (readout != request.readoutShown &&
        drawFrame(window, request, 1.0, request.animationSeconds, 1.0, readout)) {
        request.readoutShown = readout;
    }
}

void onAnimationTick(HWND window, ChartRequest& request) {
    // A still card's timer only runs to retry its resting frame.
    if (!animatesOnCard(request)) {
        drawRestingFrame(window, request);
        return;
    }
    const AnimationFrame frame =
        animationFrameAt(GetTickCount64(), request.animationStartTick, request.animationSeconds);
    // A run can be over at its first tick, when the first frame took longer
    // than the run (a new card at dpiScale 4 here).
    drawFrame(window, request, frame.progress, frame.elapsedSeconds, frame.fade);
    if (frame.runOver) {
        drawRestingFrame(window, request);
    }
}

LRESULT onTimer(HWND window, ChartRequest* request, WPARAM timer, LPARAM lParam) {
    if (timer == AUTOCLOSE_TIMER) {
        KillTimer(window, AUTOCLOSE_TIMER);
        DestroyWindow(window);
        return 0;
    }
    if (timer == ANIMATION_TIMER && request != nullptr) {
        onAnimationTick(window, *request);
        return 0;
    }
    if (timer == READOUT_TIMER && request != nullptr) {
        redrawReadout(window, *request);
        return 0;
    }
    return DefWindowProcW(window, WM_TIMER, timer, lParam);
}

// The pointer moved over the card with no button down: the readout follows
// it at the next tick, so that a burst of moves costs one frame. The window
// asks to hear when the pointer leaves it.
void onPointerMove(HWND window, ChartRequest& request, LPARAM position) {
    request.pointerAt = ScreenPoint{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    request.pointerOver = true;
    if (!request.pointerLeaveTracked) {
        TRACKMOUSEEVENT track = {};
        track.cbSize = sizeof(track);
        track.dwFlags = TME_LEAVE;
        track.hwndTrack = window;
        request.pointerLeaveTracked = TrackMouseEvent(&track) != FALSE;
    }
    if (request.restingShown && !request.readoutDue &&
        SetTimer(window, READOUT_TIMER, ANIMATION_INTERVAL_MS, nullptr) != 0) {
        request.readoutDue = true;
    }
}

void onPointerLeave(HWND window, ChartRequest& request) {
    request.pointerOver = false;
    request.pointerLeaveTracked = false;
    redrawReadout(window, request);
}

void onButtonDown(HWND window, ChartRequest& request) {
    request.dragWindowStart = windowTopLeft(window);
    request.dragCursorStart = cursorPosition();
    request.dragPressed = true;
    request.dragMoved = false;
    SetCapture(window);
    redrawReadout(window, request);  // a press takes the readout away
}

// A card that was moved: the next card opens where this one was dropped, and
// its own delay starts again (the drag stopped it).
void keepDropPoint(HWND window, const ChartRequest& request) {
    const ScreenPoint dropped = windowTopLeft(window);
    {
        ModuleLockGuard lock;
        savedPositionValid = true;
        savedPosition.x = dropped.x;
        savedPosition.y = dropped.y;
    }
    if (request.autoCloseSeconds > 0) {
        SetTimer(window, AUTOCLOSE_TIMER, autoCloseMilliseconds(request), nullptr);
    }
}

// Ends a drag that has no button-up to end it: the card stays where it was
// moved (the drop point kept, its delay running again), and a press that
// never moved is no click.
void endDrag(HWND window, ChartRequest& request) {
    if (!request.dragPressed) {
        return;
    }
    const bool moved = request.dragMoved;
    // Cleared before ReleaseCapture, whose WM_CAPTURECHANGED then finds no
    // drag to end.
    request.dragPressed = false;
    request.dragMoved = false;
    if (GetCapture() == window) {
        ReleaseCapture();
    }
    if (moved) {
        keepDropPoint(window, request);
    }
}

// Moves the card during a drag. Wine drops the capture of a window that
// moves while holding it and tells it the capture went to no window; that
// loss, and only that one, is no end of the drag. The capture is taken back
// once the move call has returned, never from within WM_CAPTURECHANGED
// (which the system forbids). Windows keeps the capture across the move, so
// there nothing is taken back.
// False when a message handled during the move replaced the record.
bool moveOwnWindow(HWND window, ChartRequest& request, const RECT& to, UINT flags) {
    request.dragInOwnMove = true;
    request.captureLostInOwnMove = false;
    SetWindowPos(window, nullptr, to.left, to.top, to.right - to.left, to.bottom - to.top,
                 flags | SWP_NOZORDER | SWP_NOACTIVATE);
    if (attachedRequest(window) != &request) {
        return false;
    }
    request.dragInOwnMove = false;
    if (request.captureLostInOwnMove && request.dragPressed) {
        request.captureLostInOwnMove = false;
        SetCapture(window);
    }
    return true;
}

void moveDraggedCard(HWND window, ChartRequest& request, const ScreenPoint& target) {
    const RECT to = {target.x, target.y, target.x, target.y};
    moveOwnWindow(window, request, to, SWP_NOSIZE);
}

// The card is now on a monitor of another DPI (its thread is per-monitor
// aware): the window, its surfaces and its layers take the new scale, and
// the frame it shows is drawn again. During a drag the grabbed point stays
// under the pointer; otherwise the card goes where the system suggests.
void onDpiChanged(HWND window, ChartRequest& request, UINT dpi, const RECT* suggested) {
    const SurfaceSize size = surfaceSizeForDpi(true, dpi);
    if (size.width == request.surfaceWidth && size.height == request.surfaceHeight) {
        return;
    }
    ScreenPoint corner = windowTopLeft(window);
    if (suggested != nullptr) {
        corner = ScreenPoint{suggested->left, suggested->top};
    }
    if (request.dragPressed) {
        const ScreenPoint cursor = cursorPosition();
        const ScreenPoint now = windowTopLeft(window);
        const double ratio = size.scale / request.dpiScale;
        corner.x = cursor.x - static_cast<int32_t>(std::lround((cursor.x - now.x) * ratio));
        corner.y = cursor.y - static_cast<int32_t>(std::lround((cursor.y - now.y) * ratio));
        request.dragWindowStart = corner;
        request.dragCursorStart = cursor;
    }
    request.dpiScale = size.scale;
    request.surfaceWidth = size.width;
    request.surfaceHeight = size.height;
    const RECT to = {corner.x, corner.y, corner.x + size.width, corner.y + size.height};
    if (!moveOwnWindow(window, request, to, 0)) {
        return;
    }
    prepareFrameLayers(window, request);  // layers are built for one scale
    const AnimationFrame frame =
        animationFrameAt(GetTickCount64(), request.animationStartTick, request.animationSeconds);
    if (animatesOnCard(request) && !frame.runOver) {
        drawFrame(window, request, frame.progress, frame.elapsedSeconds, frame.fade);
    } else {
        drawRestingFrame(window, request);
    }
}

void onMouseMove(HWND window, ChartRequest& request, WPARAM keys) {
    // The button came up where this card did not see it (over another
    // window once the capture had gone): the drag is over.
    if ((keys & MK_LBUTTON) == 0) {
        endDrag(window, request);
        return;
    }
    const ScreenPoint cursor = cursorPosition();
    if (!request.dragMoved) {
        const int32_t dx = clampedDifference(cursor.x, request.dragCursorStart.x);
        const int32_t dy = clampedDifference(cursor.y, request.dragCursorStart.y);
        // Read afresh on every move: the user may change them at any time.
        if (dragThresholdCrossed(dx, dy, GetSystemMetrics(SM_CXDRAG),
                                 GetSystemMetrics(SM_CYDRAG))) {
            request.dragMoved = true;
            KillTimer(window, AUTOCLOSE_TIMER);
        }
        if (!request.dragMoved) {
            return;
        }
    }
    moveDraggedCard(window, request,
                    dragWindowTarget(request.dragWindowStart, request.dragCursorStart, cursor));
}

void onButtonUp(HWND window, ChartRequest& request) {
    if (!request.dragMoved) {
        request.dragPressed = false;
        ReleaseCapture();
        DestroyWindow(window);  // the record is gone after this
        return;
    }
    endDrag(window, request);
}

void onCaptureChanged(HWND window, ChartRequest& request, HWND newOwner) {
    if (newOwner == window) {
        return;  // the capture stayed with this card
    }
    if (newOwner == nullptr && request.dragInOwnMove) {
        request.captureLostInOwnMove = true;  // Wine's loss; see moveDraggedCard
        return;
    }
    // Taken by another window, or cancelled by the system (a switch of the
    // foreground, WM_CANCELMODE): the drag ends where the card is.
    endDrag(window, request);
}

void adopt(HWND window, ChartRequest* old, ChartRequest* fresh) {
    // The window keeps its size and place: these three belong to the window.
    fresh->dpiScale = old->dpiScale;
    fresh->surfaceWidth = old->surfaceWidth;
    fresh->surfaceHeight = old->surfaceHeight;
    // So does the pointer over it: the new chart's readout shows where the
    // pointer rests once its curve is drawn.
    fresh->pointerOver = old->pointerOver;
    fresh->pointerLeaveTracked = old->pointerLeaveTracked;
    fresh->pointerAt = old->pointerAt;
    fresh->cardId = old->cardId;
    const bool dragInProgress = old->dragPressed;
    const CardTextChanges told = cardTextChanges(*old, *fresh);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(fresh));
    deleteRequest(old);
    // The new record starts with no drag; a capture left from the old one
    // would keep every click of the desktop coming here, so give it back.
    if (dragInProgress && GetCapture() == window) {
        ReleaseCapture();
    }
    if (!prepareChart(window, *fresh)) {
        DestroyWindow(window);  // frees fresh; the card ends silently
        return;
    }
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    // After the first frame, which does not wait for screen readers.
    announceIfStillCurrent(fresh->cardId, window, told);
}

// Told that a record waits: the card takes it, if it is still the card to
// take records, and prepares it now. Nothing in the message is trusted.
void onLook(HWND window, ChartRequest* request) {
    if (request == nullptr || request->destroyed) {
        return;
    }
    if (ChartRequest* fresh = takeWaitingRecord(request->cardId)) {
        adopt(window, request, fresh);
    }
}

void onDestroy(HWND window, ChartRequest* request) {
    KillTimer(window, ANIMATION_TIMER);
    KillTimer(window, AUTOCLOSE_TIMER);
    KillTimer(window, READOUT_TIMER);
    releaseFrameLayers(window);
    if (request != nullptr) {
        request->destroyed = true;
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        // A record that waits for this card, current until now, goes to a
        // new card; what the card showed goes with it.
        cardEnded(request->cardId);
        deleteRequest(request);
    }
    PostQuitMessage(0);
}

LRESULT dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ChartRequest* request = attachedRequest(window);
    switch (message) {
    case WM_NCCREATE:
        // Counted from here to WM_NCDESTROY, which follows even a creation
        // that fails after this.
        cardWindowCounted(+1);
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_NCDESTROY:
        // The window's last message: also an object made for a query that
        // came after WM_DESTROY goes with it.
        disconnectCardAccessible(window);
        cardWindowCounted(-1);
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_DESTROY:
        onDestroy(window, request);
        return 0;
    case WM_TIMER:
        return onTimer(window, request, wParam, lParam);
    case WM_LBUTTONDOWN:
        if (request != nullptr) {
            onButtonDown(window, *request);
        }
        return 0;
    case WM_MOUSEMOVE:
        if (request != nullptr && request->dragPressed) {
            onMouseMove(window, *request, wParam);
        } else if (request != nullptr && (wParam & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON)) == 0) {
            onPointerMove(window, *request, lParam);
        }
        return 0;
    case WM_MOUSELEAVE:
        if (request != nullptr) {
            onPointerLeave(window, *request);
        }
        return 0;
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        // Any press takes the readout away; the next move without a button
        // brings it back.
        if (request != nullptr) {
            request->pointerOver = false;
            redrawReadout(window, *request);
        }
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_LBUTTONUP:
        if (request != nullptr && request->dragPressed) {
            onButtonUp(window, *request);
        }
        return 0;
    case WM_DPICHANGED:
        if (request != nullptr) {
            onDpiChanged(window, *request, LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        }
        return 0;
    case WM_MOUSEACTIVATE:
        // A press never activates the card: the host keeps the foreground
        // and the keyboard focus through a click or a drag.
        return MA_NOACTIVATE;
    case WM_CAPTURECHANGED:
        if (request != nullptr) {
            onCaptureChanged(window, *request, reinterpret_cast<HWND>(lParam));
        }
        return 0;
    case WM_GETOBJECT:
        return answerAccessibilityQuery(window, wParam, lParam);
    case WM_CHART_LOOK:
        onLook(window, request);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

bool prepareChart(HWND window, ChartRequest& request) {
    KillTimer(window, ANIMATION_TIMER);
    KillTimer(window, AUTOCLOSE_TIMER);
    KillTimer(window, READOUT_TIMER);
    request.readoutDue = false;
    request.restingShown = false;
    request.readoutShown = ReadoutPick{};
    // Read afresh for every record, so that the user's choice takes effect
    // with the next card or update; never per frame.
    request.display = readDisplaySettings();
    try {
        computeChartScale(request);
    } catch (...) {
        return false;
    }
    // Before the clock starts, so that building them does not eat into the run.
    prepareFrameLayers(window, request);
    request.animationStartTick = GetTickCount64();
    if (animatesOnCard(request)) {
        // Fully transparent: the card fades in over the following ticks.
        drawFrame(window, request, 0.0, 0.0, 0.0);
        SetTimer(window, ANIMATION_TIMER, ANIMATION_INTERVAL_MS, nullptr);
    } else {
        drawRestingFrame(window, request);
    }
    if (request.autoCloseSeconds > 0) {
        SetTimer(window, AUTOCLOSE_TIMER, autoCloseMilliseconds(request), nullptr);
    }
    return true;
}

LRESULT CALLBACK chartWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // No exception may unwind into the system's message dispatch.
    try {
        return dispatch(window, message, wParam, lParam);
    } catch (...) {
        return 0;
    }
}

namespace testing {

void setFrameWatcher(FrameWatcher watcher) { frameWatcher.store(watcher); }

void setCardStepHook(CardStepHook hook) { cardStepHook.store(hook); }

void reachCardStep(CardStep step, HWND window) {
    if (CardStepHook hook = cardStepHook.load()) {
        hook(step, window);
    }
}

}  // namespace testing

}  // namespace kestrine
