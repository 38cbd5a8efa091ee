// Spherical Web Mercator helpers shared by the store, the viewport and the reports.
#pragma once

#include <cmath>
#include <cstdint>

namespace corvalis {

inline constexpr double kPi = 3.141592653589793;
inline constexpr double kMaxLatitude = 85.0511287798066;
inline constexpr double kEarthRadius = 6378137.0;

// Number of tiles along one side of the world at level z (0..62), as a double.
inline double TilesAcross(int z) {
    return static_cast<double>(std::int64_t{1} << z);
}

// Longitude of the west edge of (fractional) tile column tx out of n.
inline double TileXToLon(double tx, double n) {
    return tx / n * 360.0 - 180.0;
}

// Latitude of the north edge of (fractional) tile row ty out of n.
inline double TileYToLat(double ty, double n) {
    const double h = kPi * (1.0 - 2.0 * ty / n);
    return std::atan((std::exp(h) - std::exp(-h)) / 2.0) * 180.0 / kPi;
}

}  // namespace corvalis
