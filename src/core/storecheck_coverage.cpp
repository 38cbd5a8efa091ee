#include "storecheck_coverage.h"

#include <algorithm>

namespace corvalis {

namespace {

std::int64_t Columns(const LevelFacts& level) {
    return level.maxX - level.minX + 1;
}
std::int64_t Rows(const LevelFacts& level) {
    return level.maxY - level.minY + 1;
}
std::int64_t CellsOver(std::int64_t tiles, std::int64_t step) {
    return (tiles + step - 1) / step;
}

// Doubles the step of the level that measures most until all together
// measure at most limit.
template <class Measure>
void Coarsen(std::vector<CoverageLevel>& grids, const Measure& measure, std::int64_t limit) {
    for (;;) {
        std::int64_t total = 0;
        for (const CoverageLevel& g : grids) total += measure(g);
        if (total <= limit || grids.empty()) return;
        auto largest =
            std::max_element(grids.begin(), grids.end(),
                             [&](const auto& a, const auto& b) { return measure(a) < measure(b); });
        largest->step *= 2;
    }
}

// The empty grids, with the step of each level.
std::vector<CoverageLevel> LayOut(const CheckReport& report) {
    int fine = -1;  // the deepest level shown at one cell per tile
    for (int z = 0; z < kZoomLevels; ++z) {
        const LevelFacts& level = report.levels[static_cast<std::size_t>(z)];
        if (level.hasExtent && std::max(Columns(level), Rows(level)) <= kCoverageSide) fine = z;
    }
    std::vector<CoverageLevel> grids;
    for (int z = 0; z < kZoomLevels; ++z) {
        const LevelFacts& level = report.levels[static_cast<std::size_t>(z)];
        if (!level.hasExtent) continue;
        CoverageLevel grid;
        grid.z = z;
        grid.minX = level.minX;
        grid.minY = level.minY;
        grid.step = fine >= 0 && z > fine ? std::int64_t{1} << (z - fine) : 1;
        while (std::max(CellsOver(Columns(level), grid.step), CellsOver(Rows(level), grid.step)) >
               kCoverageSide)
            grid.step *= 2;
        grids.push_back(std::move(grid));
    }
    const auto cells = [&](const CoverageLevel& g) {
        const LevelFacts& level = report.levels[static_cast<std::size_t>(g.z)];
        return CellsOver(Columns(level), g.step) * CellsOver(Rows(level), g.step);
    };
    const auto rows = [&](const CoverageLevel& g) {
        return CellsOver(Rows(report.levels[static_cast<std::size_t>(g.z)]), g.step);
    };
    Coarsen(grids, cells, kCoverageCells);
    Coarsen(grids, rows, kCoverageRows);
    for (CoverageLevel& g : grids) {
        const LevelFacts& level = report.levels[static_cast<std::size_t>(g.z)];
        g.width = static_cast<std::int32_t>(CellsOver(Columns(level), g.step));
        g.height = static_cast<std::int32_t>(CellsOver(Rows(level), g.step));
    }
    return grids;
}

// Counts the level's tiles per cell and judges each cell.
void Fill(CoverageLevel& grid, const LevelFacts& level, const TileLedger::Entry* first,
          const TileLedger::Entry* last) {
    const auto cellCount =
        static_cast<std::size_t>(grid.width) * static_cast<std::size_t>(grid.height);
    std::vector<std::uint32_t> present(cellCount, 0);
    grid.cells.assign(cellCount, kCoverageHole);
    for (const TileLedger::Entry* e = first; e != last; ++e) {
        std::int32_t z = 0;
        std::int64_t x = 0, y = 0;
        TileFromKey(e->key, z, x, y);
        const auto cell = static_cast<std::size_t>((y - grid.minY) / grid.step * grid.width +
                                                   (x - grid.minX) / grid.step);
        ++present[cell];
        if ((e->key & TileLedger::kFlagBit) != 0) grid.cells[cell] = kCoverageProblem;
    }
    for (std::int32_t cy = 0; cy < grid.height; ++cy)
        for (std::int32_t cx = 0; cx < grid.width; ++cx) {
            const std::int64_t w = std::min(grid.step, Columns(level) - cx * grid.step);
            const std::int64_t h = std::min(grid.step, Rows(level) - cy * grid.step);
            const auto cell = static_cast<std::size_t>(cy) * static_cast<std::size_t>(grid.width) +
                              static_cast<std::size_t>(cx);
            if (grid.cells[cell] != kCoverageProblem && present[cell] == w * h)
                grid.cells[cell] = kCoveragePresent;
        }
}

}  // namespace

std::vector<CoverageLevel> BuildCoverage(const std::vector<TileLedger::Entry>& sorted,
                                         const CheckReport& report) {
    std::vector<CoverageLevel> grids = LayOut(report);
    const TileLedger::Entry* at = sorted.data();
    const TileLedger::Entry* end = sorted.data() + sorted.size();
    for (CoverageLevel& grid : grids) {
        const std::uint64_t from = TileKey(grid.z, 0, 0);
        const std::uint64_t to = grid.z + 1 < kZoomLevels ? TileKey(grid.z + 1, 0, 0) : UINT64_MAX;
        const auto bare = [](const TileLedger::Entry& e) { return e.key & ~TileLedger::kFlagBit; };
        while (at != end && bare(*at) < from) ++at;
        const TileLedger::Entry* stop = at;
        while (stop != end && bare(*stop) < to) ++stop;
        Fill(grid, report.levels[static_cast<std::size_t>(grid.z)], at, stop);
        at = stop;
    }
    return grids;
}

}  // namespace corvalis
