// The module-wide card bases, guarded by moduleLock. Holders get shared
// pixels, so a card copying a base never races the module forgetting it.

#include "draw/card_base.h"

#include <algorithm>
#include <utility>

#include "draw/gdiplus_lifetime.h"
#include "draw/module_lock.h"

namespace kestrine {

namespace {

// What a kept entry was drawn for: the fill's colour and 0 for a base, the
// hint's and the border's colours for a hint and border.
struct KeptKey {
    int width = 0;
    int height = 0;
    double dpiScale = 0.0;
    uint32_t firstColor = 0;
    uint32_t secondColor = 0;

    bool operator==(const KeptKey& other) const {
        return width == other.width && height == other.height && dpiScale == other.dpiScale &&
               firstColor == other.firstColor && secondColor == other.secondColor;
    }
};

template <typename Pixels>
struct Kept {
    KeptKey key;
    Pixels pixels;
};

// Oldest first. Guarded by moduleLock.
std::vector<Kept<CardBasePixels>> keptBases;
std::vector<Kept<HintBorderPixels>> keptHintsAndBorders;

// Each size may have cards of both default accents at once.
constexpr std::size_t HINTS_AND_BORDERS_KEPT = 2 * CARD_BASES_KEPT;

template <typename Pixels>
Pixels findKept(const std::vector<Kept<Pixels>>& kept, const KeptKey& key) {
    ModuleLockGuard lock;
    for (const Kept<Pixels>& entry : kept) {
        if (entry.key == key) {
            return entry.pixels;
        }
    }
    return nullptr;
}

template <typename Pixels>
void keep(std::vector<Kept<Pixels>>& kept, std::size_t most, const KeptKey& key, Pixels pixels) {
    // Declared before the lock, so that an entry pushed out is freed after
    // the lock is left.
    Pixels displaced;
    ModuleLockGuard lock;
    // Without GDI+ running there is no card to keep it for.
    if (gdiplusUsers <= 0 ||
        std::any_of(kept.begin(), kept.end(),
                    [&key](const Kept<Pixels>& entry) { return entry.key == key; })) {
        return;
    }
    if (kept.size() >= most) {
        displaced = std::move(kept.front().pixels);
        kept.erase(kept.begin());
    }
    kept.push_back(Kept<Pixels>{key, std::move(pixels)});
}

}  // namespace

CardBasePixels findCardBase(int width, int height, double dpiScale, uint32_t fillColor) {
    return findKept(keptBases, KeptKey{width, height, dpiScale, fillColor, 0});
}

void keepCardBase(int width, int height, double dpiScale, uint32_t fillColor,
                  CardBasePixels pixels) {
    if (pixels && pixels->width() == width && pixels->height() == height) {
        keep(keptBases, CARD_BASES_KEPT, KeptKey{width, height, dpiScale, fillColor, 0},
             std::move(pixels));
    }
}

HintBorderPixels findHintAndBorder(int width, int height, double dpiScale, uint32_t hintColor,
                                   uint32_t borderColor) {
    return findKept(keptHintsAndBorders,
                    KeptKey{width, height, dpiScale, hintColor, borderColor});
}

void keepHintAndBorder(int width, int height, double dpiScale, uint32_t hintColor,
                       uint32_t borderColor, HintBorderPixels pixels) {
    if (pixels && !pixels->empty()) {
        keep(keptHintsAndBorders, HINTS_AND_BORDERS_KEPT,
             KeptKey{width, height, dpiScale, hintColor, borderColor}, std::move(pixels));
    }
}

void forgetCardBases() {
    ModuleLockGuard lock;
    keptBases.clear();
    keptHintsAndBorders.clear();
}

namespace testing {

std::size_t cardBaseCount() {
    ModuleLockGuard lock;
    return keptBases.size();
}

std::size_t cardBaseBytes() {
    ModuleLockGuard lock;
    std::size_t bytes = 0;
    for (const Kept<CardBasePixels>& base : keptBases) {
        bytes += base.pixels->bytes();
    }
    return bytes;
}

std::size_t hintAndBorderCount() {
    ModuleLockGuard lock;
    return keptHintsAndBorders.size();
}

std::size_t hintAndBorderBytes() {
    ModuleLockGuard lock;
    std::size_t bytes = 0;
    for (const Kept<HintBorderPixels>& set : keptHintsAndBorders) {
        bytes += set.pixels->capacity() * sizeof(HintBorderPixel);
    }
    return bytes;
}

}  // namespace testing

}  // namespace kestrine
