// GDI+'s source-over onto a premultiplied pixel, step by step: read back as
// straight colour, blend straight, write back premultiplied. Each step rounds
// as the library does; the order matters for the last bit.

#include "core/pixel_blend.h"

namespace kestrine {

namespace {

uint32_t channel(uint32_t pixel, int shift) {
    return (pixel >> shift) & 0xFFu;
}

// Reading a premultiplied pixel back as straight colour: a fixed-point
// reciprocal of the alpha, which can come out one below the exact quotient.
uint32_t straightened(uint32_t pixel) {
    const uint32_t alpha = channel(pixel, 24);
    if (alpha == 0) {
        return 0;
    }
    const uint32_t reciprocal = (255u << 15) / alpha;
    uint32_t result = alpha << 24;
    for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t c = channel(pixel, shift);
        const uint32_t straight = c > alpha ? 255u : (c * reciprocal) >> 15;
        result |= (straight & 0xFFu) << shift;
    }
    return result;
}

uint32_t straightOver(uint32_t destination, uint32_t source) {
    const uint32_t sourceAlpha = channel(source, 24);
    if (sourceAlpha == 0xFFu) {
        return source;
    }
    const uint32_t destinationWeight = channel(destination, 24) * (0xFFu - sourceAlpha) / 0xFFu;
    if (destinationWeight == 0) {
        return source;
    }
    const uint32_t alpha = destinationWeight + sourceAlpha;
    uint32_t result = alpha << 24;
    for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t mixed = (channel(destination, shift) * destinationWeight +
                                channel(source, shift) * sourceAlpha) /
                               alpha;
        result |= (mixed & 0xFFu) << shift;
    }
    return result;
}

uint32_t premultipliedFrom(uint32_t straight) {
    const uint32_t alpha = channel(straight, 24);
    uint32_t result = alpha << 24;
    for (int shift = 0; shift < 24; shift += 8) {
        result |= ((channel(straight, shift) * alpha + 127u) / 255u) << shift;
    }
    return result;
}

}  // namespace

uint32_t gdiplusSourceOver(uint32_t premultipliedDestination, uint32_t straightSource) {
    if (channel(straightSource, 24) == 0) {
        return premultipliedDestination;
    }
    return premultipliedFrom(straightOver(straightened(premultipliedDestination), straightSource));
}

}  // namespace kestrine
