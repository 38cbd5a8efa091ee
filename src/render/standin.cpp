#include "standin.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "mapviewport.h"

namespace corvalis {

namespace {

// The stand-in's pixel under world pixel world of the view's level.
std::int64_t SourcePixel(std::int64_t world, int levels, std::int64_t origin) {
    // An arithmetic shift is a floor division by a power of two.
    return (levels >= 0 ? world >> levels : world * (std::int64_t{1} << -levels)) - origin;
}

}  // namespace

MapPlacement ViewPlacement(const MapViewport& viewport) {
    MapPlacement placement;
    if (!viewport.HasOpenStore()) return placement;
    placement.zoom = viewport.Zoom();
    placement.worldX = std::int64_t{viewport.Extent().minX} * viewport.TileWidth() +
                       viewport.ScrollX() - viewport.LetterboxOffsetX();
    placement.worldY = std::int64_t{viewport.Extent().minY} * viewport.TileHeight() +
                       viewport.ScrollY() - viewport.LetterboxOffsetY();
    return placement;
}

void StandIn::Set(QImage picture, const MapPlacement& placement) {
    picture_ = std::move(picture);
    placement_ = placement;
}

void StandIn::SwapIn(QImage& picture, const MapPlacement& placement) {
    picture_.swap(picture);
    placement_ = placement;
}

void StandIn::Reset() {
    placement_ = {};
    if (!picture_.isDetached()) picture_ = QImage();
}

bool StandIn::Valid() const {
    return placement_.Valid() && !picture_.isNull() && picture_.format() == QImage::Format_RGB888;
}

void StandIn::Draw(QImage& target, const QRect& area, const MapPlacement& view) {
    const QRect rect = area.intersected(target.rect());
    if (rect.isEmpty() || target.format() != QImage::Format_RGB888) return;
    const int levels = view.zoom - placement_.zoom;
    const bool usable = Valid() && view.Valid() && std::abs(levels) <= kMaxStandInLevels;
    const auto rowBytes = static_cast<std::size_t>(rect.width()) * 3;
    columns_.assign(static_cast<std::size_t>(rect.width()), -1);
    for (int i = 0; usable && i < rect.width(); ++i) {
        const std::int64_t sx = SourcePixel(view.worldX + rect.x() + i, levels, placement_.worldX);
        if (sx >= 0 && sx < picture_.width()) columns_[static_cast<std::size_t>(i)] = int(sx) * 3;
    }
    std::int64_t lastSource = -1;
    const uchar* lastRow = nullptr;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        uchar* out = target.scanLine(y) + std::ptrdiff_t{rect.x()} * 3;
        const std::int64_t sy =
            usable ? SourcePixel(view.worldY + y, levels, placement_.worldY) : -1;
        if (sy < 0 || sy >= picture_.height()) {
            std::memset(out, 0, rowBytes);
            continue;
        }
        // Rows that come from the same stand-in row are the same.
        if (sy == lastSource && lastRow != nullptr) {
            std::memcpy(out, lastRow, rowBytes);
        } else {
            const uchar* in = picture_.constScanLine(static_cast<int>(sy));
            uchar* p = out;
            for (const int offset : columns_) {
                if (offset < 0) {
                    p[0] = p[1] = p[2] = 0;
                } else {
                    std::memcpy(p, in + offset, 3);
                }
                p += 3;
            }
        }
        lastSource = sy;
        lastRow = out;
    }
}

}  // namespace corvalis
