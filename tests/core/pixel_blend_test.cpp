// Tests of GDI+'s source-over onto premultiplied pixels. The expected values
// are pixels that GDI+ itself produced under Wine 8 when filling solid
// colours over known premultiplied backgrounds.

#include "core/pixel_blend.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace kestrine {
namespace {

struct Measured {
    uint32_t destination;
    uint32_t source;
    uint32_t result;
};

TEST(GdiplusSourceOver, reproduces_pixels_measured_under_the_library) {
    const Measured measured[] = {
        // The card's fill under a half-transparent colour.
        {0xF2191D24u, 0x80DC596Cu, 0xF87B3A47u},
        // Opaque destinations.
        {0xFF2F55A5u, 0xABB0C13Fu, 0xFF859D60u},
        {0xFF61AF0Eu, 0x3F825FC9u, 0xFF699B3Cu},
        // A transparent destination takes the source, premultiplied with rounding.
        {0x00000000u, 0xABB0C13Fu, 0xAB76812Au},
        {0x00000000u, 0x789990E6u, 0x7848446Cu},
        // Channels whose exact straight value is a whole number (98 x 255 / 119
        // is 210) read back one lower: the library's fixed-point reciprocal.
        {0x774C622Fu, 0x291085DBu, 0x8C41664Au},
        {0xEE648C0Cu, 0x291085DBu, 0xF056892Cu},
    };
    for (const Measured& m : measured) {
        EXPECT_EQ(gdiplusSourceOver(m.destination, m.source), m.result)
            << std::hex << m.destination << " under " << m.source;
    }
}

TEST(GdiplusSourceOver, transparent_source_leaves_the_pixel_alone) {
    EXPECT_EQ(gdiplusSourceOver(0xF2191D24u, 0x00FFFFFFu), 0xF2191D24u);
    // Even a pixel that is not validly premultiplied is not normalised.
    EXPECT_EQ(gdiplusSourceOver(0x10FFFFFFu, 0x00123456u), 0x10FFFFFFu);
}

TEST(GdiplusSourceOver, opaque_source_replaces_the_pixel) {
    EXPECT_EQ(gdiplusSourceOver(0xF2191D24u, 0xFF38D996u), 0xFF38D996u);
    EXPECT_EQ(gdiplusSourceOver(0x00000000u, 0xFFFF5A67u), 0xFFFF5A67u);
}

TEST(GdiplusSourceOver, channels_above_their_alpha_read_as_full) {
    // Alpha 0x40 with a red channel of 0x80 reads back as red 255; under a
    // nearly transparent black it keeps 63 of 64 parts: red 251, stored as 0x3F.
    EXPECT_EQ(gdiplusSourceOver(0x40800000u, 0x01000000u), 0x403F0000u);
}

}  // namespace
}  // namespace kestrine
