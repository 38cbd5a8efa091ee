// How a store's own zoom, column and row numbers map to world numbering
// (zoom 0..31, columns from longitude -180, rows from the north edge).
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "storefacts.h"
#include "tileindex.h"
#include "tilescan.h"

namespace corvalis {

struct TileNumbering {
    // Where one world level lies in a store that places its levels itself.
    struct Level {
        bool known = false;
        std::int64_t storedZoom = 0;
        std::int32_t offsetX = 0;  // world column of the store's column 0
        std::int32_t offsetY = 0;  // world row of the store's row 0
    };

    bool xyzRows = true;  // false: stored row 0 is the south row (TMS)
    // The stored zoom is this base less the level ("reversed z").
    std::optional<std::int32_t> reversedZBase;
    // Only the known levels exist, each at its stored zoom and offsets.
    bool placed = false;
    std::array<Level, kZoomLevels> levels{};

    // The world level of a stored zoom value; nothing when it names none.
    std::optional<std::int32_t> WorldZoom(std::int64_t storedZoom) const;

    // The stored numbers of world tile (z, x, y) in 32-bit arithmetic, as the
    // file holds them; false when the store cannot hold that tile.
    bool ToStored(std::int32_t z, std::int32_t x, std::int32_t y, std::int32_t& zs,
                  std::int32_t& xs, std::int32_t& ys) const;

    // Where the stored numbers (zs, xs, ys) of a tile lie: on return z, x and
    // y hold its world numbers (64-bit, so a column or row past the grid
    // keeps its true value) or, for an Unplaced tile, the stored numbers.
    // The inverse of ToStored for every world tile.
    TilePlacement ToWorld(std::int64_t zs, std::int64_t xs, std::int64_t ys, std::int64_t& z,
                          std::int64_t& x, std::int64_t& y) const;

    // The world extent of level z from the stored column and row ranges.
    ZoomExtent ToWorldExtent(std::int32_t z, std::int32_t x0, std::int32_t x1, std::int32_t y0,
                             std::int32_t y1) const;

    // The stored column and row ranges (64-bit, inclusive) that hold the
    // tiles of world level z (0..31) inside the world's 2^z columns and rows.
    void StoredWorldRange(std::int32_t z, std::int64_t& x0, std::int64_t& x1, std::int64_t& y0,
                          std::int64_t& y1) const;

    // The stored zoom values worth the per-level work of the extents seeks.
    StoredZoomFilter Filter() const;
};

}  // namespace corvalis
