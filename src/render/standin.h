// The picture shown where the cells of a composition are not drawn yet: an
// earlier picture of the map at any zoom level, placed on the world and
// scaled by the power of two between its level and the view's.
#pragma once

#include <QImage>
#include <QRect>

#include <cstdint>
#include <vector>

namespace corvalis {

class MapViewport;

// Where a picture of the map lies: its pixel (0, 0) is world pixel (worldX,
// worldY) of level zoom (pixels counted from the world's top-left corner in
// the store's tile numbering).
struct MapPlacement {
    int zoom = -1;
    std::int64_t worldX = 0;
    std::int64_t worldY = 0;
    bool Valid() const { return zoom >= 0; }
    bool operator==(const MapPlacement&) const = default;
};

// Where the view's pixel (0, 0) lies for the viewport's current state.
MapPlacement ViewPlacement(const MapViewport& viewport);

// Levels further apart than this give no stand-in: the picture would be a
// blur of a few pixels or a speck.
inline constexpr int kMaxStandInLevels = 8;

class StandIn {
public:
    // Takes picture (RGB888) placed at placement; anything else gives none.
    void Set(QImage picture, const MapPlacement& placement);
    // Swaps the picture with another one (which then holds the old stand-in,
    // or nothing): an earlier view picture becomes the stand-in without a copy.
    void SwapIn(QImage& picture, const MapPlacement& placement);
    // No stand-in; a picture of its own is kept to be swapped in next time.
    void Reset();
    bool Valid() const;

    // Draws rect of a view placed at view from the stand-in, nearest pixel,
    // black where the stand-in has nothing. target is RGB888.
    void Draw(QImage& target, const QRect& rect, const MapPlacement& view);

private:
    QImage picture_;
    MapPlacement placement_;
    std::vector<int> columns_;  // per target column: source byte offset, or -1
};

}  // namespace corvalis
