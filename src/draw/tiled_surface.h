// A surface of a card that never changes while it is kept (the card below the
// curve, the card's fill), held in a fraction of its pixels' bytes: most of a
// card is rows that repeat the rows around them, so each row is cut into
// tiles and a tile is stored once for all the rows that repeat it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrine {

class TiledSurface {
public:
    // Columns per tile: narrow enough that a line of text stores only the
    // tiles it crosses, wide enough that the table of tiles stays small.
    static constexpr int TILE_PIXELS = 64;

    // Takes the pixels of a surface (top-down rows of width pixels, stride
    // width). Storage already held is reused; false, with the surface left
    // empty, when memory runs out.
    bool assign(const uint32_t* pixels, int width, int height);
    void clear();

    int width() const { return width_; }
    int height() const { return height_; }
    bool empty() const { return width_ == 0 || height_ == 0; }

    uint32_t at(int x, int y) const {
        const uint32_t tile = tiles_[rowTiles_[y] + static_cast<uint32_t>(x) / TILE_PIXELS];
        return pixels_[tile + static_cast<uint32_t>(x) % TILE_PIXELS];
    }
    // Writes columns [left, right) of row y to out[0 .. right - left).
    void copyRow(int y, int left, int right, uint32_t* out) const;
    // Writes the whole surface to rows of width pixels.
    void copyTo(uint32_t* out) const;

    // Bytes held, spare capacity included.
    std::size_t bytes() const;

private:
    int width_ = 0;
    int height_ = 0;
    int tilesPerRow_ = 0;
    // Per row, where its tiles start in tiles_; rows that repeat an earlier
    // row share its entries.
    std::vector<uint32_t> rowTiles_;
    // Per tile of a stored row, where its pixels start in pixels_.
    std::vector<uint32_t> tiles_;
    std::vector<uint32_t> pixels_;
};

}  // namespace kestrine
