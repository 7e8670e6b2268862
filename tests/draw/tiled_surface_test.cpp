// The tiled surface gives back every pixel it was given, whatever repeats in
// its rows, and keeps a card-like surface in a fraction of its bytes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "draw/tiled_surface.h"

namespace kestrine {
namespace {

struct Surface {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    uint32_t& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// Rows that repeat the one above, the one two above and one seen long
// before, rows of noise, and a last tile narrower than the others.
Surface mixedSurface(int width, int height) {
    Surface s{width, height, std::vector<uint32_t>(static_cast<std::size_t>(width) * height)};
    uint32_t state = 7u;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint32_t value = 0;
            switch (y % 7) {
            case 0: value = 0xF21B2027u; break;
            case 1: value = x % 50 == 0 ? 0xFF34404Cu : 0xF21B2027u; break;
            case 2: value = s.at(x, y - 1); break;
            case 3: value = s.at(x, y - 2); break;
            case 4:
                state = state * 1664525u + 1013904223u;
                value = state;
                break;
            case 5: value = x < width / 2 ? s.at(x, y - 4) : 0x12345678u + x; break;
            default: value = y >= 7 ? s.at(x, y - 7) : 0u; break;
            }
            s.at(x, y) = value;
        }
    }
    return s;
}

void expectSamePixels(const TiledSurface& tiled, Surface& source) {
    ASSERT_EQ(tiled.width(), source.width);
    ASSERT_EQ(tiled.height(), source.height);
    int wrong = 0;
    for (int y = 0; y < source.height; ++y) {
        for (int x = 0; x < source.width; ++x) {
            wrong += tiled.at(x, y) != source.at(x, y) ? 1 : 0;
        }
    }
    EXPECT_EQ(wrong, 0);
    std::vector<uint32_t> whole(source.pixels.size(), 0xDEADBEEFu);
    tiled.copyTo(whole.data());
    EXPECT_EQ(whole, source.pixels);
    // Stretches that start and end inside tiles and across their edges.
    for (const auto& range : {std::make_pair(0, source.width), std::make_pair(3, 64),
                              std::make_pair(63, 65), std::make_pair(70, source.width - 1),
                              std::make_pair(source.width - 1, source.width)}) {
        if (range.first < 0 || range.first >= range.second || range.second > source.width) {
            continue;
        }
        for (int y : {0, 1, source.height / 2, source.height - 1}) {
            if (y >= source.height) {
                continue;
            }
            std::vector<uint32_t> row(static_cast<std::size_t>(range.second - range.first));
            tiled.copyRow(y, range.first, range.second, row.data());
            const auto from = source.pixels.begin() + static_cast<std::ptrdiff_t>(y) * source.width;
            EXPECT_TRUE(std::equal(row.begin(), row.end(), from + range.first))
                << "row " << y << " [" << range.first << ", " << range.second << ")";
        }
    }
}

TEST(TiledSurface, gives_back_every_pixel_of_any_surface) {
    for (const auto& size : {std::make_pair(150, 40), std::make_pair(64, 9),
                             std::make_pair(1, 1), std::make_pair(200, 3)}) {
        Surface source = mixedSurface(size.first, size.second);
        TiledSurface tiled;
        ASSERT_TRUE(tiled.assign(source.pixels.data(), source.width, source.height));
        expectSamePixels(tiled, source);
    }
}

TEST(TiledSurface, is_drawn_over_again_for_another_surface) {
    Surface first = mixedSurface(300, 60);
    Surface second = mixedSurface(130, 20);
    second.at(129, 19) = 0xCAFEF00Du;  // differs in the last tile's last pixel
    TiledSurface tiled;
    ASSERT_TRUE(tiled.assign(first.pixels.data(), first.width, first.height));
    ASSERT_TRUE(tiled.assign(second.pixels.data(), second.width, second.height));
    expectSamePixels(tiled, second);
    ASSERT_TRUE(tiled.assign(nullptr, 10, 10));
    EXPECT_TRUE(tiled.empty());
}

TEST(TiledSurface, keeps_a_card_like_surface_in_a_fraction_of_its_bytes) {
    // 920 x 560: a fill, vertical tick lines, a grid line every 76 rows, a
    // dashed line, and a block of "text" noise in the top rows.
    Surface card{920, 560, std::vector<uint32_t>(920u * 560u)};
    uint32_t state = 3u;
    for (int y = 0; y < card.height; ++y) {
        for (int x = 0; x < card.width; ++x) {
            uint32_t value = (x - 72) % 131 == 0 ? 0xFF2A343Eu : 0xF21B2027u;
            if (y >= 110 && (y - 110) % 76 == 0) {
                value = 0xFF34404Cu;
            } else if (y == 300 && (x / 4) % 2 == 0) {
                value = 0xFF8A949Eu;
            } else if (y >= 20 && y < 60 && x >= 35 && x < 300) {
                state = state * 1664525u + 1013904223u;
                value = state | 0xFF000000u;
            }
            card.at(x, y) = value;
        }
    }
    TiledSurface tiled;
    ASSERT_TRUE(tiled.assign(card.pixels.data(), card.width, card.height));
    expectSamePixels(tiled, card);
    const std::size_t raw = card.pixels.size() * sizeof(uint32_t);
    // The noise alone is 40 rows of 5 tiles, 2.5% of the surface; with the
    // rest and the spare room of its growth, under a tenth.
    EXPECT_LT(tiled.bytes(), raw / 10);
}

}  // namespace
}  // namespace kestrine
