// Web Mercator helpers shared by the store, the viewport and the reports: the
// spherical projection of the world grid, and the ellipsoidal Mercator
// (EPSG:3395, WGS 84) that some stores draw their tiles in on the same grid.
#pragma once

#include <cmath>
#include <cstdint>

namespace corvalis {

inline constexpr double kPi = 3.141592653589793;
inline constexpr double kMaxLatitude = 85.0511287798066;
inline constexpr double kEarthRadius = 6378137.0;
// First eccentricity of the WGS 84 ellipsoid.
inline constexpr double kWgs84Eccentricity = 0.0818191908426;
// The latitude of the north edge of the grid in ellipsoidal Mercator.
inline constexpr double kMaxLatitudeEllipsoidal = 85.0840590501104;

// Number of tiles along one side of the world at level z (0..62), as a double.
inline double TilesAcross(int z) {
    return static_cast<double>(std::int64_t{1} << z);
}

// Longitude of the west edge of (fractional) tile column tx out of n.
inline double TileXToLon(double tx, double n) {
    return tx / n * 360.0 - 180.0;
}

// Ellipsoidal Mercator northing, in units of the semi-major axis, of a
// latitude in degrees: ln(tan(pi/4 + phi/2) * ((1 - e sin phi) / (1 + e sin phi))^(e/2)).
inline double EllipsoidalMercatorY(double latDegrees) {
    const double phi = latDegrees * kPi / 180.0;
    const double es = kWgs84Eccentricity * std::sin(phi);
    return std::log(std::tan(kPi / 4.0 + phi / 2.0) *
                    std::pow((1.0 - es) / (1.0 + es), kWgs84Eccentricity / 2.0));
}

// The latitude in degrees of an ellipsoidal Mercator northing given in units
// of the semi-major axis. The inverse has no closed form: the fixed-point
// iteration phi = pi/2 - 2 atan(t ((1 - e sin phi) / (1 + e sin phi))^(e/2)),
// t = exp(-y), gains about three digits per step and settles within ten.
inline double EllipsoidalMercatorLat(double yOverA) {
    const double t = std::exp(-yOverA);
    double phi = kPi / 2.0 - 2.0 * std::atan(t);
    for (int i = 0; i < 16; ++i) {
        const double es = kWgs84Eccentricity * std::sin(phi);
        const double next = kPi / 2.0 - 2.0 * std::atan(t * std::pow((1.0 - es) / (1.0 + es),
                                                                     kWgs84Eccentricity / 2.0));
        const bool settled = std::fabs(next - phi) < 1e-15;
        phi = next;
        if (settled) break;
    }
    return phi * 180.0 / kPi;
}

// Latitude of the north edge of (fractional) tile row ty out of n; on the
// ellipsoid for a store drawn in ellipsoidal Mercator.
inline double TileYToLat(double ty, double n, bool ellipsoidal = false) {
    const double h = kPi * (1.0 - 2.0 * ty / n);
    if (ellipsoidal) return EllipsoidalMercatorLat(h);
    return std::atan((std::exp(h) - std::exp(-h)) / 2.0) * 180.0 / kPi;
}

// The (fractional) tile row out of n at a latitude in degrees within the grid.
inline double LatToTileY(double lat, double n, bool ellipsoidal = false) {
    double y = 0.0;
    if (ellipsoidal) {
        y = EllipsoidalMercatorY(lat);
    } else {
        const double t = std::tan(lat * kPi / 180.0);
        y = std::log(t + std::sqrt(t * t + 1.0));
    }
    return (1.0 - y / kPi) / 2.0 * n;
}

}  // namespace corvalis
