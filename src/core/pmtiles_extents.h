// Per-level tile extents of a PMTiles archive, gathered from its directory
// entries without visiting tiles one by one: runs of consecutive ids are
// merged, and a long run is covered by the aligned squares of the curve it
// passes through (a few per level of the run's size).
#pragma once

#include <array>
#include <cstdint>

#include "pmtiles_hilbert.h"

namespace corvalis {

struct PmtilesLevel {
    std::int32_t minX = 0;
    std::int32_t maxX = 0;
    std::int32_t minY = 0;
    std::int32_t maxY = 0;
    std::uint64_t tiles = 0;  // addressed tiles of the level, run lengths counted
    bool present = false;
};

using PmtilesLevels = std::array<PmtilesLevel, kPmtilesMaxZoom + 1>;

class PmtilesExtentsBuilder {
public:
    // The tiles first .. first + count - 1 (in id order); ids past level 31
    // are left out.
    void AddRun(std::uint64_t first, std::uint64_t count);
    // Adds the run still pending; call before reading levels().
    void Finish();
    const PmtilesLevels& levels() const { return levels_; }

private:
    void AddRange(std::uint64_t first, std::uint64_t last);
    void AddCurveRange(int z, std::uint64_t d0, std::uint64_t d1);
    void Include(int z, std::uint32_t x0, std::uint32_t y0, std::uint32_t x1, std::uint32_t y1);

    PmtilesLevels levels_{};
    std::uint64_t pendingFirst_ = 0;
    std::uint64_t pendingEnd_ = 0;  // one past the last id; equal to first when none
};

}  // namespace corvalis
