// PMTiles v3 tile ids: one number per tile of every level, level by level
// from zoom 0, each level in the order of its Hilbert curve. Rows count from
// the north edge. Levels 0..31 fit a 64-bit id; deeper levels are refused.
#pragma once

#include <cstdint>

namespace corvalis {

inline constexpr int kPmtilesMaxZoom = 31;

// The first id of level z (0..32); the id of level 32 ends the usable ids.
constexpr std::uint64_t PmtilesLevelStart(int z) {
    return z >= 32 ? 0x5555555555555555ULL : ((std::uint64_t{1} << (2 * z)) - 1) / 3;
}
inline constexpr std::uint64_t kPmtilesIdEnd = PmtilesLevelStart(32);

// False for a level outside 0..31 or a column or row outside it.
bool PmtilesTileId(std::int32_t z, std::int64_t x, std::int64_t y, std::uint64_t& id);

// The level holding id; -1 for ids of level 32 and beyond.
int PmtilesLevelOf(std::uint64_t id);

// Position d (0 .. 4^z - 1) along the curve of level z to column and row.
void PmtilesCurvePoint(int z, std::uint64_t d, std::uint32_t& x, std::uint32_t& y);

// The tile of an id; false for ids past level 31.
bool PmtilesTileOf(std::uint64_t id, std::int32_t& z, std::uint32_t& x, std::uint32_t& y);

}  // namespace corvalis
