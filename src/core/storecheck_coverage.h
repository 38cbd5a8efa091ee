// The grid of the coverage picture, level by level: one cell per tile up to
// the deepest level whose extent is at most kCoverageSide tiles on its longer
// side; deeper levels aggregated at that level's scale, one cell covering
// several tiles (a problem when any of them is one, a hole when any is
// missing). Every level is at most kCoverageSide cells a side, all levels
// together at most kCoverageCells cells and kCoverageRows rows (more levels
// are aggregated further when they would be more), so that the picture
// stays within a fixed size.
#pragma once

#include <vector>

#include "storecheck.h"
#include "storecheck_ledger.h"

namespace corvalis {

inline constexpr std::int64_t kCoverageSide = 2048;
inline constexpr std::int64_t kCoverageCells = std::int64_t{32} << 20;
inline constexpr std::int64_t kCoverageRows = 16384;

// sorted: the ledger's entries after FindDuplicateRows (by key, one each).
std::vector<CoverageLevel> BuildCoverage(const std::vector<TileLedger::Entry>& sorted,
                                         const CheckReport& report);

}  // namespace corvalis
