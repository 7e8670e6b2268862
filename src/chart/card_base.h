// The part of a card that no record changes: the card's fill, as GDI+ lays
// it down for a surface size and scale. Kept module-wide so that only the
// first card of a size pays for it; later cards and every adoption copy it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kestrine {

// Premultiplied ARGB rows of the surface, the card filled and nothing else.
using CardBasePixels = std::shared_ptr<const std::vector<uint32_t>>;

// Sizes kept at once; a card on another monitor's scale displaces the
// oldest.
constexpr std::size_t CARD_BASES_KEPT = 3;

// The base of that size and scale, or null when none is kept. The pixels
// stay valid for the holder even if the module forgets them meanwhile.
CardBasePixels findCardBase(int width, int height, double dpiScale);

// Keeps a base that was just drawn for later cards.
void keepCardBase(int width, int height, double dpiScale, CardBasePixels pixels);

// Forgets every base. releaseGdiplus calls it, under moduleLock, as the last
// card lets GDI+ go: the bases then go with the last card.
void forgetCardBases();

namespace testing {

// Bases kept right now, and their pixel bytes.
std::size_t cardBaseCount();
std::size_t cardBaseBytes();

}  // namespace testing

}  // namespace kestrine
