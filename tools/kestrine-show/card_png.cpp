// Drawing a card into memory and writing it as a PNG through GDI+'s encoder.
#include "card_png.h"

#include <windows.h>

#include <gdiplus.h>

#include <cmath>
#include <utility>

#include "core/axis_scale.h"
#include "core/placement.h"
#include "draw/frame_renderer.h"
#include "draw/gdiplus_handles.h"
#include "straight_alpha.h"

namespace kestrine {

namespace {

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

bool findPngEncoder(CLSID& clsid) {
    UINT count = 0;
    UINT bytes = 0;
    if (GdipGetImageEncodersSize(&count, &bytes) != Ok || bytes == 0) return false;
    std::vector<unsigned char> buffer(bytes);
    auto* codecs = reinterpret_cast<ImageCodecInfo*>(buffer.data());
    if (GdipGetImageEncoders(count, bytes, codecs) != Ok) return false;
    for (UINT i = 0; i < count; ++i) {
        if (codecs[i].MimeType != nullptr && std::wstring(codecs[i].MimeType) == L"image/png") {
            clsid = codecs[i].Clsid;
            return true;
        }
    }
    return false;
}

// A temporary file that is deleted unless it was renamed into place.
class TemporaryFile {
public:
    explicit TemporaryFile(std::wstring path) : path_(std::move(path)) {}
    ~TemporaryFile() {
        if (!path_.empty()) DeleteFileW(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::wstring& path() const { return path_; }
    bool moveTo(const std::wstring& target) {
        if (!MoveFileExW(path_.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
        path_.clear();
        return true;
    }

private:
    std::wstring path_;
};

std::wstring folderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) {
        // "C:card.png" lies in drive C's current folder, not in this one.
        return path.size() > 1 && path[1] == L':' ? path.substr(0, 2) : L".";
    }
    // "C:\card.png" and "\card.png": the root keeps its separator.
    return slash == 0 || path[slash - 1] == L':' ? path.substr(0, slash + 1) : path.substr(0, slash);
}

std::wstring windowsError(const std::wstring& path, DWORD code) {
    return L"cannot write " + path + L" (Windows error " + std::to_wstring(code) + L")";
}

}  // namespace

bool drawCardImage(ChartRequest& request, double scale, double progress, double elapsedSeconds,
                   CardImage& image, ReadoutPick readout) {
    computeChartScale(request);
    const SurfaceSize size =
        surfaceSizeForDpi(true, static_cast<uint32_t>(std::lround(scale * REFERENCE_DPI)));
    request.dpiScale = size.scale;
    request.surfaceWidth = size.width;
    request.surfaceHeight = size.height;
    image.width = size.width;
    image.height = size.height;
    image.dpiScale = size.scale;
    image.pixels.assign(static_cast<size_t>(size.width) * size.height, 0u);
    return renderCardToPixels(request, progress, elapsedSeconds, image.pixels.data(), readout);
}

bool drawRestingCard(ChartRequest& request, double scale, CardImage& image) {
    // What the window draws when its run is over.
    return drawCardImage(request, scale, 1.0, request.animationSeconds, image);
}

bool drawHoveredCard(ChartRequest& request, double scale, double hoverX, CardImage& image) {
    computeChartScale(request);
    const ReadoutPick readout{nearestPointToValue(request, hoverX), readoutShowsSeconds(request)};
    return drawCardImage(request, scale, 1.0, request.animationSeconds, image, readout);
}

bool writeCardPng(const std::wstring& path, const CardImage& image, std::wstring& error) {
    CLSID png = {};
    if (!findPngEncoder(png)) {
        error = L"cannot write " + path + L": GDI+ has no PNG encoder";
        return false;
    }
    std::vector<uint32_t> straight(image.pixels.size());
    for (size_t i = 0; i < straight.size(); ++i) {
        straight[i] = straightFromPremultiplied(image.pixels[i]);
    }
    GpBitmap* created = nullptr;
    GdipCreateBitmapFromScan0(image.width, image.height, 4 * image.width, PixelFormat32bppARGB,
                              reinterpret_cast<BYTE*>(straight.data()), &created);
    const GdiplusBitmap bitmap(created);
    if (!bitmap) {
        error = L"cannot write " + path + L": no bitmap for the picture";
        return false;
    }

    wchar_t temporaryName[MAX_PATH + 1] = {};
    if (GetTempFileNameW(folderOf(path).c_str(), L"kst", 0, temporaryName) == 0) {
        error = windowsError(path, GetLastError());
        return false;
    }
    TemporaryFile temporary(temporaryName);
    const Status saved = GdipSaveImageToFile(bitmap.get(), temporary.path().c_str(), &png, nullptr);
    if (saved != Ok) {
        error = L"cannot write " + path + L" (GDI+ status " + std::to_wstring(saved) + L")";
        return false;
    }
    if (!temporary.moveTo(path)) {
        error = windowsError(path, GetLastError());
        return false;
    }
    return true;
}

}  // namespace kestrine
