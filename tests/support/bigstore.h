// Large stores for benchmarks (MBTiles, and GeoPackages of the same tiles): levels filled from 0 upward until the
// row count is reached, with the usual unique (zoom, column, row) index.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// Rows are written level by level in TMS numbering; blobs cycle through pool.
// With uniqueContents, each row's copy has the row number in its bytes 3 to
// 10 (blobs of at least 11 bytes), so that no two tiles are identical.
void WriteBigMbtiles(const std::string& path, std::int64_t rows,
                     const std::vector<std::vector<std::uint8_t>>& pool,
                     bool uniqueContents = false);

// The same tiles, with the same blobs, as a GeoPackage pyramid (table
// "tiles_gpkg", EPSG:3857, zoom_level = world zoom, rows from the top) whose
// table has the unique (zoom_level, tile_column, tile_row) constraint.
void WriteBigGeoPackage(const std::string& path, std::int64_t rows,
                        const std::vector<std::vector<std::uint8_t>>& pool);

}  // namespace testsupport
