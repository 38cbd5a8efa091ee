#include "pmtiles_extents.h"

#include <algorithm>

namespace corvalis {

namespace {

// Ranges this short are placed tile by tile.
constexpr std::uint64_t kShortRange = 8;

}  // namespace

void PmtilesExtentsBuilder::AddRun(std::uint64_t first, std::uint64_t count) {
    if (count == 0 || first >= kPmtilesIdEnd) return;
    const std::uint64_t end = first + std::min(count, kPmtilesIdEnd - first);
    if (first == pendingEnd_ && pendingEnd_ != pendingFirst_) {
        pendingEnd_ = end;
        return;
    }
    Finish();
    pendingFirst_ = first;
    pendingEnd_ = end;
}

void PmtilesExtentsBuilder::Finish() {
    if (pendingEnd_ != pendingFirst_) AddRange(pendingFirst_, pendingEnd_ - 1);
    pendingFirst_ = pendingEnd_ = 0;
}

// Splits [first, last] (ids below kPmtilesIdEnd) by level.
void PmtilesExtentsBuilder::AddRange(std::uint64_t first, std::uint64_t last) {
    while (first <= last) {
        const int z = PmtilesLevelOf(first);
        const std::uint64_t start = PmtilesLevelStart(z);
        const std::uint64_t levelLast = PmtilesLevelStart(z + 1) - 1;
        const std::uint64_t upTo = std::min(last, levelLast);
        levels_[static_cast<std::size_t>(z)].tiles += upTo - first + 1;
        AddCurveRange(z, first - start, upTo - start);
        if (upTo == last) break;
        first = upTo + 1;
    }
}

// Curve positions d0..d1 of level z. Every block of 4^k positions that starts
// at a multiple of 4^k fills one aligned square of side 2^k.
void PmtilesExtentsBuilder::AddCurveRange(int z, std::uint64_t d0, std::uint64_t d1) {
    std::uint32_t x = 0, y = 0;
    if (d1 - d0 < kShortRange) {
        for (std::uint64_t d = d0;; ++d) {
            PmtilesCurvePoint(z, d, x, y);
            Include(z, x, y, x, y);
            if (d == d1) return;
        }
    }
    std::uint64_t d = d0;
    for (;;) {
        int k = 0;
        while (k < z) {
            const std::uint64_t bigger = std::uint64_t{1} << (2 * (k + 1));
            if ((d & (bigger - 1)) != 0 || d1 - d < bigger - 1) break;
            ++k;
        }
        PmtilesCurvePoint(z, d, x, y);
        const std::uint32_t side = static_cast<std::uint32_t>((std::uint64_t{1} << k) - 1);
        Include(z, x & ~side, y & ~side, (x & ~side) + side, (y & ~side) + side);
        const std::uint64_t block = std::uint64_t{1} << (2 * k);
        if (d1 - d < block) return;
        d += block;
    }
}

void PmtilesExtentsBuilder::Include(int z, std::uint32_t x0, std::uint32_t y0, std::uint32_t x1,
                                    std::uint32_t y1) {
    PmtilesLevel& l = levels_[static_cast<std::size_t>(z)];
    const auto ix0 = static_cast<std::int32_t>(x0), iy0 = static_cast<std::int32_t>(y0);
    const auto ix1 = static_cast<std::int32_t>(x1), iy1 = static_cast<std::int32_t>(y1);
    if (!l.present) {
        l.minX = ix0;
        l.maxX = ix1;
        l.minY = iy0;
        l.maxY = iy1;
        l.present = true;
        return;
    }
    l.minX = std::min(l.minX, ix0);
    l.maxX = std::max(l.maxX, ix1);
    l.minY = std::min(l.minY, iy0);
    l.maxY = std::max(l.maxY, iy1);
}

}  // namespace corvalis
