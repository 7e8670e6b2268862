// The module-wide card bases, guarded by moduleLock. Holders get shared
// pixels, so a card copying a base never races the module forgetting it.

#include "chart/card_base.h"

#include <algorithm>

#include "interface/module_state.h"

namespace kestrine {

namespace {

struct KeptBase {
    int width = 0;
    int height = 0;
    double dpiScale = 0.0;
    CardBasePixels pixels;
};

struct KeptHintAndBorder {
    int width = 0;
    int height = 0;
    double dpiScale = 0.0;
    uint32_t accentColor = 0;
    HintBorderPixels pixels;
};

// Oldest first. Guarded by moduleLock.
std::vector<KeptBase> keptBases;
std::vector<KeptHintAndBorder> keptHintsAndBorders;

// Each size may have cards of both default accents at once.
constexpr std::size_t HINTS_AND_BORDERS_KEPT = 2 * CARD_BASES_KEPT;

}  // namespace

CardBasePixels findCardBase(int width, int height, double dpiScale) {
    ModuleLockGuard lock;
    for (const KeptBase& base : keptBases) {
        if (base.width == width && base.height == height && base.dpiScale == dpiScale) {
            return base.pixels;
        }
    }
    return nullptr;
}

void keepCardBase(int width, int height, double dpiScale, CardBasePixels pixels) {
    if (!pixels || pixels->size() != static_cast<std::size_t>(width) * height) {
        return;
    }
    CardBasePixels displaced;
    ModuleLockGuard lock;
    const auto same = [&](const KeptBase& base) {
        return base.width == width && base.height == height && base.dpiScale == dpiScale;
    };
    if (std::any_of(keptBases.begin(), keptBases.end(), same)) {
        return;
    }
    // Without GDI+ running there is no card to keep it for.
    if (gdiplusUsers <= 0) {
        return;
    }
    if (keptBases.size() >= CARD_BASES_KEPT) {
        displaced = std::move(keptBases.front().pixels);
        keptBases.erase(keptBases.begin());
    }
    keptBases.push_back(KeptBase{width, height, dpiScale, std::move(pixels)});
}

HintBorderPixels findHintAndBorder(int width, int height, double dpiScale, uint32_t accentColor) {
    ModuleLockGuard lock;
    for (const KeptHintAndBorder& kept : keptHintsAndBorders) {
        if (kept.width == width && kept.height == height && kept.dpiScale == dpiScale &&
            kept.accentColor == accentColor) {
            return kept.pixels;
        }
    }
    return nullptr;
}

void keepHintAndBorder(int width, int height, double dpiScale, uint32_t accentColor,
                       HintBorderPixels pixels) {
    if (!pixels || pixels->empty()) {
        return;
    }
    HintBorderPixels displaced;
    ModuleLockGuard lock;
    for (const KeptHintAndBorder& kept : keptHintsAndBorders) {
        if (kept.width == width && kept.height == height && kept.dpiScale == dpiScale &&
            kept.accentColor == accentColor) {
            return;
        }
    }
    if (gdiplusUsers <= 0) {
        return;
    }
    if (keptHintsAndBorders.size() >= HINTS_AND_BORDERS_KEPT) {
        displaced = std::move(keptHintsAndBorders.front().pixels);
        keptHintsAndBorders.erase(keptHintsAndBorders.begin());
    }
    keptHintsAndBorders.push_back(
        KeptHintAndBorder{width, height, dpiScale, accentColor, std::move(pixels)});
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
    for (const KeptBase& base : keptBases) {
        bytes += base.pixels->size() * sizeof(uint32_t);
    }
    return bytes;
}

std::size_t hintAndBorderCount() {
    ModuleLockGuard lock;
    return keptHintsAndBorders.size();
}

}  // namespace testing

}  // namespace kestrine
