// How GDI+ lays a straight-alpha colour over a premultiplied pixel, to the bit:
// frames composed from layers use it to put the hint or border back over a
// freshly drawn head marker, giving the pixel the frame renderer would draw.
#pragma once

#include <cstdint>

namespace kestrine {

// Source-over of a straight ARGB source (alpha in the top byte) onto a
// premultiplied ARGB destination, returning the premultiplied result, in the
// arithmetic GDI+ (as Wine 8 implements it) uses for every fill, line and
// glyph drawn on a premultiplied bitmap:
//  - a source alpha of 0 leaves the destination as it is;
//  - the destination is first made straight: each colour channel c of a pixel
//    with alpha a becomes 255 when c > a, else (c * floor((255 << 15) / a)) >> 15;
//  - straight source-over: an opaque source replaces it; otherwise the
//    destination keeps weight floor(a * (255 - sa) / 255), the source weight sa,
//    each channel is the weighted mean rounded down and the alpha is the sum
//    (a destination weight of 0 gives the source as it is);
//  - the result is premultiplied again with rounding: (c * alpha + 127) / 255.
uint32_t gdiplusSourceOver(uint32_t premultipliedDestination, uint32_t straightSource);

}  // namespace kestrine
