/* Public interface of kestrine.dll for host programs, from C or C++: the three
 * exported functions, their arguments, results and threading contract.
 * Link against kestrine.dll (import library or LoadLibrary + GetProcAddress). */
#ifndef KESTRINE_H
#define KESTRINE_H

#include <stddef.h> /* wchar_t: UTF-16 on Windows */

/* Hosts importing from the DLL get __declspec(dllimport). Define
 * KESTRINE_STATIC when linking the library's sources directly. The DLL names
 * its exports in a module-definition file, so building it needs no attribute. */
#if defined(KESTRINE_STATIC) || defined(KESTRINE_BUILDING)
#define KESTRINE_API
#elif defined(_WIN32)
#define KESTRINE_API __declspec(dllimport)
#else
#define KESTRINE_API
#endif

/* On x86 the three functions use __stdcall, the convention that VBA's
 * Declare, .NET's DllImport default, Python's ctypes.WinDLL and trading
 * terminals' import statements call. x86-64 Windows has a single calling
 * convention, so there the macro is empty and nothing changes. */
#if defined(_WIN32) && !defined(_WIN64)
#define KESTRINE_CALL __stdcall
#else
#define KESTRINE_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Interface version reported by KestrineVersion. */
#define KESTRINE_VERSION 100

/* Results of ShowKestrine. */
#define KESTRINE_OK 0                /* taken: the open card or a new one will show it (or newer data) */
#define KESTRINE_NO_CHART (-1)       /* series is null or holds no point, or no memory to build it */
#define KESTRINE_NOT_STARTED (-2)    /* the card thread this call needed could not be started */

/* Shows a chart card: a borderless, always-on-top, translucent window of 920 x
 * 560 logical units (scaled by the DPI of the monitor it opens on) that draws
 * the series as a growing curve, with two headings, a headline value and a note.
 * When a card is already open, it takes the new data and redraws in place
 * (same window, same place and size); otherwise a new card opens, centred in
 * the work area or where the user last dropped a card. The user drags a card to move it and clicks it to
 * close it. The card never takes the keyboard focus from the host.
 *
 *   series            "x:y" pairs separated by ';' (e.g. L"0:0;60:1500;120:-300").
 *                     Each item is split at its first ':'; items without ':' and
 *                     empty items are skipped; numbers are read like wcstod.
 *                     Must not be null.
 *   titleText         large heading at the top left; null means empty.
 *   subtitleText      smaller second heading line; null means empty.
 *   valueText         headline value, top right, in the accent colour; null means empty.
 *   noteText          small note under the headline value; null means empty.
 *   xAxisMode         1: x values are plain numbers; any other value: x values are
 *                     seconds, labelled as hours and minutes.
 *   autoCloseSeconds  the card closes itself after this many seconds (at most
 *                     3600); 0 or less: never. A drag restarts the delay.
 *   animate           nonzero: the curve grows from left to right while the card
 *                     fades in; zero: the finished chart at once.
 *   animationSeconds  duration of that animation, clamped to 0.3 .. 10.
 *   positive          nonzero: accent colour is positiveColor; zero: negativeColor.
 *   positiveColor     COLORREF 0x00BBGGRR; a value above 0xFFFFFF selects the
 *                     default green 0x38D996 (RGB).
 *   negativeColor     COLORREF 0x00BBGGRR; a value above 0xFFFFFF selects the
 *                     default red 0xFF5A67 (RGB).
 *
 * Returns KESTRINE_OK (0), KESTRINE_NO_CHART (-1) or KESTRINE_NOT_STARTED (-2).
 * 0 means the DLL took the data: of the calls that returned 0 with no
 * CloseKestrine after them, the newest is shown, by the open card or, if that
 * card has not taken it within 3 seconds (hung, stopped, its window never
 * made), by a new card that replaces it, whether or not another call comes.
 * -2: the new card this call needed could not get a thread; its data is freed
 * (older data that returned 0 still shows). The strings are copied before the
 * call returns.
 *
 * Threading: any host thread, concurrently with the other functions. The call
 * blocks for the parsing of the series and briefly for the module lock; it
 * never waits for a card, whether at rest, busy or hung. Each card runs on a
 * thread of its own; no window is created on the caller's thread. Once loaded, the library stays
 * in the process until it ends, so cards outlive FreeLibrary. */
KESTRINE_API int KESTRINE_CALL ShowKestrine(const wchar_t* series, const wchar_t* titleText,
                                            const wchar_t* subtitleText, const wchar_t* valueText,
                                            const wchar_t* noteText, int xAxisMode,
                                            int autoCloseSeconds, int animate,
                                            double animationSeconds, int positive,
                                            unsigned int positiveColor, unsigned int negativeColor);

/* Asks every card window on the desktop (window class "KestrineWindow") to
 * close and returns how many it asked. The cards close shortly after, on their
 * own threads; the call does not wait for them. Whatever began before it is
 * void first: once it has returned, no card from before becomes visible or is
 * announced, also one still starting or preparing (it is counted only if its
 * window was found), and data not yet taken is freed. A ShowKestrine that
 * begins after it has returned always opens a new card and shows; one that
 * overlaps it may go either way. Any thread. */
KESTRINE_API int KESTRINE_CALL CloseKestrine(void);

/* Returns KESTRINE_VERSION (100). Any thread; no other effect. */
KESTRINE_API int KESTRINE_CALL KestrineVersion(void);

#ifdef __cplusplus
}
#endif

#endif /* KESTRINE_H */
