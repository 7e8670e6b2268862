// Rounding conversions between premultiplied and straight ARGB.
#include "straight_alpha.h"

namespace kestrine {

namespace {

// channel * numerator / denominator rounded to nearest, in integers.
uint32_t scaled(uint32_t channel, uint32_t numerator, uint32_t denominator) {
    return (channel * numerator * 2 + denominator) / (denominator * 2);
}

template <typename Convert>
uint32_t eachColour(uint32_t pixel, Convert convert) {
    const uint32_t alpha = pixel >> 24;
    uint32_t result = alpha << 24;
    for (int shift = 0; shift < 24; shift += 8) {
        result |= convert((pixel >> shift) & 0xFFu, alpha) << shift;
    }
    return result;
}

}  // namespace

uint32_t straightFromPremultiplied(uint32_t pixel) {
    return eachColour(pixel, [](uint32_t c, uint32_t alpha) -> uint32_t {
        if (alpha == 0) return 0;
        const uint32_t value = scaled(c, 255, alpha);
        return value > 255 ? 255 : value;  // a channel above its alpha is not premultiplied
    });
}

uint32_t premultipliedFromStraight(uint32_t pixel) {
    return eachColour(pixel, [](uint32_t c, uint32_t alpha) { return scaled(c, alpha, 255); });
}

}  // namespace kestrine
