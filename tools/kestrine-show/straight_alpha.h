// The card's frames are premultiplied ARGB; a PNG holds straight alpha. These
// two conversions round to nearest, which makes the trip there and back exact
// for every premultiplied pixel (each channel no larger than its alpha), so a
// PNG written from a frame gives back that frame. No Windows header.
#pragma once

#include <cstdint>

namespace kestrine {

uint32_t straightFromPremultiplied(uint32_t pixel);
uint32_t premultipliedFromStraight(uint32_t pixel);

}  // namespace kestrine
