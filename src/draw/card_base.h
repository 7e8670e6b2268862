// The parts of a card that no record changes: the card's fill, as GDI+ lays
// it down for a surface size, scale and fill colour, and the pixels of the
// hint and the border, which change only with their colours. Kept module-wide so that
// only the first card of a size pays for them; later cards and every
// adoption copy them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "draw/tiled_surface.h"

namespace kestrine {

// Premultiplied ARGB rows of the surface, the card filled and nothing else,
// as tiles: a base takes a few of its rows' bytes.
using CardBasePixels = std::shared_ptr<const TiledSurface>;

// Sizes kept at once; a card on another monitor's scale displaces the
// oldest.
constexpr std::size_t CARD_BASES_KEPT = 3;

// The base of that size, scale and fill colour, or null when none is kept.
// The pixels stay valid for the holder even if the module forgets them
// meanwhile.
CardBasePixels findCardBase(int width, int height, double dpiScale, uint32_t fillColor);

// Keeps a base that was just drawn for later cards.
void keepCardBase(int width, int height, double dpiScale, uint32_t fillColor,
                  CardBasePixels pixels);

// A pixel the hint or the border lays on a transparent surface: where, and
// its straight ARGB colour. Row by row, left to right.
struct HintBorderPixel {
    int32_t x = 0;
    int32_t y = 0;
    uint32_t source = 0;
};
using HintBorderPixels = std::shared_ptr<const std::vector<HintBorderPixel>>;

// The hint and border pixels of that size, scale and colours, or null.
HintBorderPixels findHintAndBorder(int width, int height, double dpiScale, uint32_t hintColor,
                                   uint32_t borderColor);
void keepHintAndBorder(int width, int height, double dpiScale, uint32_t hintColor,
                       uint32_t borderColor, HintBorderPixels pixels);

// Forgets every base and every hint and border. A minute after the last card
// has let GDI+ go (see releaseGdiplus), unless a card takes GDI+ again.
void forgetCardBases();

namespace testing {

// Bases kept right now, and their pixel bytes; hint and border sets kept.
std::size_t cardBaseCount();
std::size_t cardBaseBytes();
std::size_t hintAndBorderCount();
std::size_t hintAndBorderBytes();

}  // namespace testing

}  // namespace kestrine
