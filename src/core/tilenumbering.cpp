#include "tilenumbering.h"

#include <algorithm>

#include "imageformat.h"

namespace corvalis {

namespace {

// The world's last row index (2^z - 1) in 32-bit arithmetic; the shift count is
// taken modulo 32 for levels outside 0..31.
std::int64_t LastRowIndex(std::int64_t z) {
    return Wrap32((std::int64_t{1} << (z & 31)) - 1);
}

bool InWorld(std::int64_t z) {
    return z >= 0 && z < kZoomLevels;
}

}  // namespace

std::optional<std::int32_t> TileNumbering::WorldZoom(std::int64_t storedZoom) const {
    if (placed) {
        for (std::size_t z = 0; z < levels.size(); ++z)
            if (levels[z].known && levels[z].storedZoom == storedZoom)
                return static_cast<std::int32_t>(z);
        return std::nullopt;
    }
    const std::int64_t z = reversedZBase ? *reversedZBase - storedZoom : storedZoom;
    if (!InWorld(z)) return std::nullopt;
    return static_cast<std::int32_t>(z);
}

bool TileNumbering::ToStored(std::int32_t z, std::int32_t x, std::int32_t y, std::int32_t& zs,
                             std::int32_t& xs, std::int32_t& ys) const {
    std::int64_t storedZ = reversedZBase ? *reversedZBase - std::int64_t{z} : z;
    std::int64_t row = xyzRows ? std::int64_t{y} : LastRowIndex(z) - y;
    std::int64_t column = x;
    if (placed) {
        if (!InWorld(z)) return false;
        const Level& level = levels[static_cast<std::size_t>(z)];
        if (!level.known) return false;
        storedZ = level.storedZoom;
        column -= level.offsetX;
        row -= level.offsetY;
    }
    zs = Wrap32(storedZ);
    xs = Wrap32(column);
    ys = Wrap32(row);
    return true;
}

TilePlacement TileNumbering::ToWorld(std::int64_t zs, std::int64_t xs, std::int64_t ys,
                                     std::int64_t& z, std::int64_t& x, std::int64_t& y) const {
    z = zs;
    x = xs;
    y = ys;
    // Stored zooms past the 32-bit range name no level (and would overflow
    // the reversed-zoom arithmetic).
    if (zs < INT32_MIN || zs > INT32_MAX) return TilePlacement::Unplaced;
    const std::optional<std::int32_t> level = WorldZoom(zs);
    if (!level) return TilePlacement::Unplaced;
    z = *level;
    // Numbers this far out lie outside the grid whatever the mapping; they are
    // kept as stored so that the arithmetic below cannot overflow.
    constexpr std::int64_t kFar = std::int64_t{1} << 40;
    if (xs < -kFar || xs > kFar || ys < -kFar || ys > kFar) return TilePlacement::OutsideGrid;
    std::int64_t row = ys;
    if (placed) {
        const Level& at = levels[static_cast<std::size_t>(*level)];
        x += at.offsetX;
        row += at.offsetY;
    }
    const std::int64_t last = (std::int64_t{1} << *level) - 1;
    y = xyzRows ? row : last - row;
    const bool inside = x >= 0 && x <= last && y >= 0 && y <= last;
    return inside ? TilePlacement::InGrid : TilePlacement::OutsideGrid;
}

ZoomExtent TileNumbering::ToWorldExtent(std::int32_t z, std::int32_t x0, std::int32_t x1,
                                        std::int32_t y0, std::int32_t y1) const {
    std::int64_t minX = x0, maxX = x1, minY = y0, maxY = y1;
    if (!xyzRows) {
        const std::int64_t m = LastRowIndex(z);
        minY = m - y1;
        maxY = m - y0;
    }
    if (placed && InWorld(z)) {
        const Level& level = levels[static_cast<std::size_t>(z)];
        minX += level.offsetX;
        maxX += level.offsetX;
        minY += level.offsetY;
        maxY += level.offsetY;
    }
    return ZoomExtent{Wrap32(minX), Wrap32(maxX), Wrap32(minY), Wrap32(maxY), true};
}

void TileNumbering::StoredWorldRange(std::int32_t z, std::int64_t& x0, std::int64_t& x1,
                                     std::int64_t& y0, std::int64_t& y1) const {
    const std::int64_t last = (std::int64_t{1} << z) - 1;
    std::int64_t offsetX = 0, offsetY = 0;
    if (placed && InWorld(z)) {
        offsetX = levels[static_cast<std::size_t>(z)].offsetX;
        offsetY = levels[static_cast<std::size_t>(z)].offsetY;
    }
    x0 = -offsetX;
    x1 = last - offsetX;
    // World rows are the stored ones (TMS: flipped) moved by the offset.
    y0 = xyzRows ? -offsetY : offsetY;
    y1 = xyzRows ? last - offsetY : last + offsetY;
}

StoredZoomFilter TileNumbering::Filter() const {
    std::int64_t first = 0, last = kZoomLevels - 1;
    if (reversedZBase) {
        first = *reversedZBase - (kZoomLevels - 1);
        last = *reversedZBase;
    }
    if (placed) {
        first = INT32_MAX;
        last = INT32_MIN;
        for (const Level& level : levels) {
            if (!level.known) continue;
            first = std::min(first, level.storedZoom);
            last = std::max(last, level.storedZoom);
        }
        if (first > last) first = last = 0;  // no level: every value is turned down
    }
    const auto clamp32 = [](std::int64_t v) {
        return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
    };
    return StoredZoomFilter(clamp32(first), clamp32(last),
                            [this](std::int32_t zs) { return WorldZoom(zs).has_value(); });
}

}  // namespace corvalis
