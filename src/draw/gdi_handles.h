// Owners for the GDI handles of one frame: the screen DC, the memory DC, the
// DIB section and the selection of the DIB into the memory DC. Every path out
// of a function releases what it made, in reverse order of making.
#pragma once

#include <windows.h>

#include <atomic>

namespace kestrine {

// Objects held right now by GDI owners; a test reads it to prove that frames
// leave nothing behind.
inline std::atomic<long> liveGdiObjectCount{0};

// Holds one handle and releases it with Traits::close. Counts itself in
// Traits::counter() while it holds a handle.
template <typename Traits>
class HandleOwner {
public:
    using Handle = typename Traits::Handle;

    HandleOwner() = default;
    explicit HandleOwner(Handle adopted) : handle(adopted) {
        if (handle != nullptr) {
            ++Traits::counter();
        }
    }
    ~HandleOwner() { reset(); }
    HandleOwner(HandleOwner&& other) noexcept : handle(other.handle) { other.handle = nullptr; }
    HandleOwner& operator=(HandleOwner&& other) noexcept {
        if (this != &other) {
            reset();
            handle = other.handle;
            other.handle = nullptr;
        }
        return *this;
    }
    HandleOwner(const HandleOwner&) = delete;
    HandleOwner& operator=(const HandleOwner&) = delete;

    Handle get() const { return handle; }
    explicit operator bool() const { return handle != nullptr; }

    void reset() {
        if (handle != nullptr) {
            Traits::close(handle);
            --Traits::counter();
            handle = nullptr;
        }
    }

private:
    Handle handle = nullptr;
};

struct ScreenDcTraits {
    using Handle = HDC;
    static void close(HDC dc) { ReleaseDC(nullptr, dc); }
    static std::atomic<long>& counter() { return liveGdiObjectCount; }
};

struct MemoryDcTraits {
    using Handle = HDC;
    static void close(HDC dc) { DeleteDC(dc); }
    static std::atomic<long>& counter() { return liveGdiObjectCount; }
};

struct BitmapTraits {
    using Handle = HBITMAP;
    static void close(HBITMAP bitmap) { DeleteObject(bitmap); }
    static std::atomic<long>& counter() { return liveGdiObjectCount; }
};

struct FontTraits {
    using Handle = HFONT;
    static void close(HFONT font) { DeleteObject(font); }
    static std::atomic<long>& counter() { return liveGdiObjectCount; }
};

using ScreenDc = HandleOwner<ScreenDcTraits>;
using MemoryDc = HandleOwner<MemoryDcTraits>;
using DibBitmap = HandleOwner<BitmapTraits>;
using GdiFont = HandleOwner<FontTraits>;

// A 32-bit top-down DIB section, the surface every card is drawn into. bits
// receives its pixel memory, null when the section has none.
inline DibBitmap createTopDownDib(HDC dc, int width, int height, void** bits) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    *bits = nullptr;
    return DibBitmap(CreateDIBSection(dc, &info, DIB_RGB_COLORS, bits, nullptr, 0));
}

// Selects an object into a DC and puts the previous one back, so that a DIB
// is never deleted while it is still selected.
class SelectGuard {
public:
    SelectGuard(HDC target, HGDIOBJ object) : dc(target), previous(SelectObject(target, object)) {
        if (selected()) {
            ++liveGdiObjectCount;
        }
    }
    ~SelectGuard() {
        if (selected()) {
            SelectObject(dc, previous);
            --liveGdiObjectCount;
        }
    }
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;

    bool selected() const { return previous != nullptr && previous != HGDI_ERROR; }

private:
    HDC dc;
    HGDIOBJ previous;
};

}  // namespace kestrine
