#include "geopackage_matrix.h"

#include <cmath>

namespace corvalis {

namespace {

constexpr double kWorldWidth = 2.0 * kMercatorHalfWorld;  // 156543.03392804097 x 256
constexpr double kSizeTolerance = 1e-6;
constexpr double kOriginTolerance = 1e-6;

// The side of one tile fits level z's share of the world.
bool SideFits(double side, int z) {
    return std::fabs(side * std::ldexp(1.0, z) - kWorldWidth) <= kSizeTolerance * kWorldWidth;
}

// tiles rounded to the nearest whole number of tiles when it lies within the
// tolerance of one and inside the 32-bit range.
std::optional<std::int32_t> WholeTiles(double tiles) {
    const double whole = std::round(tiles);
    if (!(std::fabs(tiles - whole) <= kOriginTolerance) || whole < INT32_MIN || whole > INT32_MAX)
        return std::nullopt;
    return static_cast<std::int32_t>(whole);
}

}  // namespace

std::optional<WorldLevel> FitWorldLevel(const TileMatrix& m) {
    const double sideX = m.tileWidth * m.pixelXSize;
    const double sideY = m.tileHeight * m.pixelYSize;
    if (!(sideX > 0.0) || !(sideY > 0.0) || !std::isfinite(sideX) || !std::isfinite(sideY))
        return std::nullopt;
    const double level = std::round(std::log2(kWorldWidth / sideX));
    if (!(level >= 0.0 && level <= 31.0)) return std::nullopt;
    const int z = static_cast<int>(level);
    if (!SideFits(sideX, z) || !SideFits(sideY, z)) return std::nullopt;
    const std::optional<std::int32_t> column = WholeTiles((m.originX + kMercatorHalfWorld) / sideX);
    const std::optional<std::int32_t> row = WholeTiles((kMercatorHalfWorld - m.originY) / sideY);
    if (!column || !row) return std::nullopt;
    return WorldLevel{z, *column, *row};
}

}  // namespace corvalis
