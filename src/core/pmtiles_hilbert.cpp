#include "pmtiles_hilbert.h"

#include <bit>

namespace corvalis {

bool PmtilesTileId(std::int32_t z, std::int64_t x, std::int64_t y, std::uint64_t& id) {
    if (z < 0 || z > kPmtilesMaxZoom) return false;
    const std::int64_t n = std::int64_t{1} << z;
    if (x < 0 || y < 0 || x >= n || y >= n) return false;
    auto ux = static_cast<std::uint64_t>(x), uy = static_cast<std::uint64_t>(y);
    std::uint64_t d = 0;
    for (std::uint64_t s = static_cast<std::uint64_t>(n) >> 1; s > 0; s >>= 1) {
        const std::uint64_t rx = (ux & s) != 0 ? 1 : 0;
        const std::uint64_t ry = (uy & s) != 0 ? 1 : 0;
        d += s * s * ((3 * rx) ^ ry);
        // Into the frame of the quadrant just chosen: drop its bit, then
        // mirror and transpose as the curve turns there.
        ux &= s - 1;
        uy &= s - 1;
        if (ry == 0) {
            if (rx == 1) {
                ux = s - 1 - ux;
                uy = s - 1 - uy;
            }
            const std::uint64_t t = ux;
            ux = uy;
            uy = t;
        }
    }
    id = PmtilesLevelStart(z) + d;
    return true;
}

int PmtilesLevelOf(std::uint64_t id) {
    if (id >= kPmtilesIdEnd) return -1;
    // Level z holds ids whose 3 * id + 1 lies in [4^z, 4^(z+1)).
    return (63 - std::countl_zero(3 * id + 1)) / 2;
}

void PmtilesCurvePoint(int z, std::uint64_t d, std::uint32_t& x, std::uint32_t& y) {
    std::uint64_t ux = 0, uy = 0, t = d;
    for (int k = 0; k < z; ++k) {
        const std::uint64_t s = std::uint64_t{1} << k;
        const std::uint64_t rx = 1 & (t >> 1);
        const std::uint64_t ry = 1 & (t ^ rx);
        if (ry == 0) {
            if (rx == 1) {
                ux = s - 1 - ux;
                uy = s - 1 - uy;
            }
            const std::uint64_t swap = ux;
            ux = uy;
            uy = swap;
        }
        ux += s * rx;
        uy += s * ry;
        t >>= 2;
    }
    x = static_cast<std::uint32_t>(ux);
    y = static_cast<std::uint32_t>(uy);
}

bool PmtilesTileOf(std::uint64_t id, std::int32_t& z, std::uint32_t& x, std::uint32_t& y) {
    const int level = PmtilesLevelOf(id);
    if (level < 0) return false;
    z = level;
    PmtilesCurvePoint(level, id - PmtilesLevelStart(level), x, y);
    return true;
}

}  // namespace corvalis
