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
