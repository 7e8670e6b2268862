// Owners for the GDI+ objects of the flat interface (graphics, bitmaps,
// paths, pens, brushes, fonts, families, string formats), and the few
// creation helpers the renderer and the text code share.
#pragma once

#include <windows.h>

#include <gdiplus.h>

#include <atomic>
#include <cstdint>

#include "draw/gdi_handles.h"

namespace kestrine {

// Objects held right now by GDI+ owners.
inline std::atomic<long> liveGdiplusObjectCount{0};

template <typename Object, Gdiplus::Status(WINGDIPAPI* Delete)(Object*)>
struct GdiplusTraits {
    using Handle = Object*;
    static void close(Object* object) { Delete(object); }
    static std::atomic<long>& counter() { return liveGdiplusObjectCount; }
};

inline Gdiplus::Status WINGDIPAPI deleteGdiplusImage(Gdiplus::GpBitmap* bitmap) {
    return Gdiplus::DllExports::GdipDisposeImage(bitmap);
}

using GdiplusGraphics =
    HandleOwner<GdiplusTraits<Gdiplus::GpGraphics, Gdiplus::DllExports::GdipDeleteGraphics>>;
using GdiplusBitmap = HandleOwner<GdiplusTraits<Gdiplus::GpBitmap, deleteGdiplusImage>>;
using GdiplusPath = HandleOwner<GdiplusTraits<Gdiplus::GpPath, Gdiplus::DllExports::GdipDeletePath>>;
using GdiplusPen = HandleOwner<GdiplusTraits<Gdiplus::GpPen, Gdiplus::DllExports::GdipDeletePen>>;
using GdiplusBrush = HandleOwner<GdiplusTraits<Gdiplus::GpBrush, Gdiplus::DllExports::GdipDeleteBrush>>;
using GdiplusFont = HandleOwner<GdiplusTraits<Gdiplus::GpFont, Gdiplus::DllExports::GdipDeleteFont>>;
using GdiplusFontFamily =
    HandleOwner<GdiplusTraits<Gdiplus::GpFontFamily, Gdiplus::DllExports::GdipDeleteFontFamily>>;
using GdiplusStringFormat =
    HandleOwner<GdiplusTraits<Gdiplus::GpStringFormat, Gdiplus::DllExports::GdipDeleteStringFormat>>;

// A creation that fails gives an empty owner; calls on it then fail quietly.
inline GdiplusBrush createSolidBrush(uint32_t argb) {
    Gdiplus::GpSolidFill* brush = nullptr;
    Gdiplus::DllExports::GdipCreateSolidFill(argb, &brush);
    return GdiplusBrush(brush);
}

inline GdiplusPen createPen(uint32_t argb, float width) {
    Gdiplus::GpPen* pen = nullptr;
    Gdiplus::DllExports::GdipCreatePen1(argb, width, Gdiplus::UnitWorld, &pen);
    return GdiplusPen(pen);
}

inline GdiplusPath createPath() {
    Gdiplus::GpPath* path = nullptr;
    Gdiplus::DllExports::GdipCreatePath(Gdiplus::FillModeAlternate, &path);
    return GdiplusPath(path);
}

// A 32-bit premultiplied bitmap over caller memory (top-down rows, stride
// 4 * width) and a graphics on it.
inline GdiplusBitmap createPixelBitmap(int width, int height, uint32_t* pixels) {
    Gdiplus::GpBitmap* bitmap = nullptr;
    Gdiplus::DllExports::GdipCreateBitmapFromScan0(width, height, 4 * width,
                                                   PixelFormat32bppPARGB,
                                                   reinterpret_cast<BYTE*>(pixels), &bitmap);
    return GdiplusBitmap(bitmap);
}

inline GdiplusGraphics createImageGraphics(const GdiplusBitmap& bitmap) {
    Gdiplus::GpGraphics* graphics = nullptr;
    if (bitmap) {
        Gdiplus::DllExports::GdipGetImageGraphicsContext(bitmap.get(), &graphics);
    }
    return GdiplusGraphics(graphics);
}

}  // namespace kestrine
