// Hooks that only test programs include: they replace GDI+ start-up and
// shut-down and the layered-window update so a test can make them fail or
// watch them. The shipped DLL never sets them and exports none of them.
#pragma once

#include <windows.h>

#include <gdiplus.h>

namespace kestrine {
namespace testing {

using GdiplusStartupHook = Gdiplus::Status(WINAPI*)(ULONG_PTR* token,
                                                    const Gdiplus::GdiplusStartupInput* input,
                                                    Gdiplus::GdiplusStartupOutput* output);
using GdiplusShutdownHook = void(WINAPI*)(ULONG_PTR token);
using UpdateLayeredWindowHook = BOOL(WINAPI*)(HWND window, HDC screenDc, POINT* destination,
                                              SIZE* size, HDC sourceDc, POINT* sourcePoint,
                                              COLORREF colourKey, BLENDFUNCTION* blend, DWORD flags);

// Null puts the real function back.
void setGdiplusHooks(GdiplusStartupHook startup, GdiplusShutdownHook shutdown);
void setUpdateLayeredWindowHook(UpdateLayeredWindowHook hook);

// How long the card bases stay after the last card lets GDI+ go (a minute
// in the DLL).
void setCardBaseKeepMilliseconds(DWORD milliseconds);

// How many times the UI font families have been probed in this process, and
// a way to forget the chosen family so that a test can watch the choice.
int fontProbeCount();
// Milliseconds spent probing the UI font families in this process.
double fontProbeMilliseconds();
void forgetUiFontFamily();
// What the next probe tries instead of the listed families (count names) and
// takes for the system's message font; nulls put the real ones back. The
// names must outlive the probe.
void setUiFontStandIns(const wchar_t* const* candidates, int count, const wchar_t* messageFont);

// Objects currently held by the GDI and GDI+ owners of the Windows layer
// (device contexts, bitmaps, selections, graphics, paths, pens, brushes,
// fonts, formats, ...). Zero whenever no drawing is under way.
long liveGdiObjects();
long liveGdiplusObjects();

}  // namespace testing
}  // namespace kestrine
