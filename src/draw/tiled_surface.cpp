// Storing a surface tile by tile: a tile is compared with the same tile of
// the last two different contents seen in its column of tiles (a card's rows
// go plain, grid line, plain again), and a row with the tiles of one of the
// last two rows stored shares their entries.

#include "draw/tiled_surface.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kestrine {

namespace {

bool samePixels(const uint32_t* a, const uint32_t* b, int count) {
    return std::memcmp(a, b, static_cast<std::size_t>(count) * sizeof(uint32_t)) == 0;
}

constexpr uint32_t NONE = 0xFFFFFFFFu;

}  // namespace

bool TiledSurface::assign(const uint32_t* pixels, int width, int height) {
    clear();
    if (pixels == nullptr || width <= 0 || height <= 0) {
        return true;
    }
    try {
        tilesPerRow_ = (width + TILE_PIXELS - 1) / TILE_PIXELS;
        rowTiles_.resize(static_cast<std::size_t>(height));
        // The last two contents stored per column of tiles, newest first.
        std::vector<uint32_t> recent(2 * static_cast<std::size_t>(tilesPerRow_), NONE);
        std::vector<uint32_t> row(static_cast<std::size_t>(tilesPerRow_));
        // Where the last two rows stored start in tiles_, newest first.
        uint32_t recentRows[2] = {NONE, NONE};
        for (int y = 0; y < height; ++y) {
            const uint32_t* source = pixels + static_cast<std::size_t>(y) * width;
            for (int t = 0; t < tilesPerRow_; ++t) {
                const int left = t * TILE_PIXELS;
                const int count = (std::min)(TILE_PIXELS, width - left);
                uint32_t* seen = recent.data() + 2 * static_cast<std::size_t>(t);
                if (seen[0] != NONE && samePixels(source + left, pixels_.data() + seen[0], count)) {
                    row[t] = seen[0];
                    continue;
                }
                if (seen[1] != NONE && samePixels(source + left, pixels_.data() + seen[1], count)) {
                    row[t] = seen[1];
                } else {
                    row[t] = static_cast<uint32_t>(pixels_.size());
                    pixels_.insert(pixels_.end(), source + left, source + left + count);
                }
                seen[1] = seen[0];
                seen[0] = row[t];
            }
            uint32_t shared = NONE;
            for (uint32_t start : recentRows) {
                if (start != NONE &&
                    std::equal(row.begin(), row.end(), tiles_.begin() + start)) {
                    shared = start;
                    break;
                }
            }
            if (shared == NONE) {
                shared = static_cast<uint32_t>(tiles_.size());
                tiles_.insert(tiles_.end(), row.begin(), row.end());
            }
            if (shared != recentRows[0]) {
                recentRows[1] = recentRows[0];
                recentRows[0] = shared;
            }
            rowTiles_[static_cast<std::size_t>(y)] = shared;
        }
        width_ = width;
        height_ = height;
        return true;
    } catch (const std::bad_alloc&) {
        clear();
        return false;
    }
}

void TiledSurface::clear() {
    width_ = 0;
    height_ = 0;
    tilesPerRow_ = 0;
    rowTiles_.clear();
    tiles_.clear();
    pixels_.clear();
}

void TiledSurface::copyRow(int y, int left, int right, uint32_t* out) const {
    const uint32_t* tiles = tiles_.data() + rowTiles_[static_cast<std::size_t>(y)];
    int x = left;
    while (x < right) {
        const int tile = x / TILE_PIXELS;
        const int end = (std::min)(right, (tile + 1) * TILE_PIXELS);
        std::memcpy(out + (x - left), pixels_.data() + tiles[tile] + (x - tile * TILE_PIXELS),
                    static_cast<std::size_t>(end - x) * sizeof(uint32_t));
        x = end;
    }
}

void TiledSurface::copyTo(uint32_t* out) const {
    for (int y = 0; y < height_; ++y) {
        copyRow(y, 0, width_, out + static_cast<std::size_t>(y) * width_);
    }
}

std::size_t TiledSurface::bytes() const {
    return (rowTiles_.capacity() + tiles_.capacity() + pixels_.capacity()) * sizeof(uint32_t);
}

}  // namespace kestrine
