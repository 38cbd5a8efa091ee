// Placing a GeoPackage tile matrix on the Web Mercator world grid: which world
// zoom its tiles have and where its column 0 and row 0 lie.
#pragma once

#include <cstdint>
#include <optional>

namespace corvalis {

// Half the side of the Web Mercator square, in metres.
inline constexpr double kMercatorHalfWorld = 20037508.342789244;

// One row of gpkg_tile_matrix, with the origin (min_x, max_y) of its table's
// gpkg_tile_matrix_set row.
struct TileMatrix {
    double tileWidth = 0;  // pixels
    double tileHeight = 0;
    double pixelXSize = 0;  // metres
    double pixelYSize = 0;
    double originX = 0;  // min_x
    double originY = 0;  // max_y
};

struct WorldLevel {
    std::int32_t z = 0;
    std::int32_t offsetX = 0;  // world column of the matrix's column 0
    std::int32_t offsetY = 0;  // world row of its row 0
};

// The world level of a matrix whose tiles are 2^-z of the world's side on both
// axes (within a millionth of the world) for one z in 0..31, and whose origin
// lies on that level's tile grid within a millionth of a tile. Nothing when
// the matrix does not fit, or its origin lies beyond the 32-bit tile numbers.
std::optional<WorldLevel> FitWorldLevel(const TileMatrix& matrix);

}  // namespace corvalis
