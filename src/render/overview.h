// The overview: a small picture of the whole store with a frame around the
// part the map shows, and the mapping from points on it back to the map.
#pragma once

#include <QImage>

#include "composition.h"
#include "mapviewport.h"
#include "standin.h"

class QPainter;

namespace corvalis {

class TileDatabase;
class TileDecoder;

inline constexpr int kOverviewMaxTiles = 256;
inline constexpr int kOverviewMaxPixels = 4096;

// Left, top, right, bottom; right and bottom exclusive.
struct ThumbBox {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const ThumbBox&) const = default;
};

// The picture of the store's lowest zoom level, built once per opened store.
class Overview {
public:
    // Draws the whole lowest level when it has at most kOverviewMaxTiles tiles
    // and at most kOverviewMaxPixels pixels along each side. Tiles that cannot
    // be read or decoded stay black. True when a picture was made.
    // The tiles are drawn by drawer, or one after the other by decoder.
    bool Build(TileDatabase& store, CellDrawer& drawer);
    bool Build(TileDatabase& store, TileDecoder& decoder);
    void Reset() { overviewReady = false; }

    bool Ready() const { return overviewReady && !overviewBitmap.isNull(); }
    const QImage& Picture() const { return overviewBitmap; }
    // Where the picture lies on the world.
    const MapPlacement& Placement() const { return placement; }

private:
    QImage overviewBitmap;
    MapPlacement placement;
    bool overviewReady = false;
    CellStates cellStates;
};

// A picture for the overview and the content area (x, y, width, height) it
// stands for. Without a picture the area is still set: presses on the
// overview then map onto the whole content.
struct OverviewSource {
    const QImage* picture = nullptr;
    int srcX = 0;
    int srcY = 0;
    int srcW = 0;
    int srcH = 0;
    bool Usable() const { return picture != nullptr && srcW > 0 && srcH > 0; }
};

// The store's own picture for the whole content at the current zoom when
// there is one, otherwise the block the renderer composed last. With neither,
// no picture and the whole content.
OverviewSource ChooseOverviewSource(const Overview& overview, const MapViewport& viewport,
                                    const QImage* lastFrame, const TileGrid& lastGrid);

// Where a picture of pictureWidth x pictureHeight is drawn on a client area:
// scaled to fit with its aspect ratio kept, centred.
ThumbBox FitOverview(int clientWidth, int clientHeight, int pictureWidth, int pictureHeight);

// The frame around the visible area on a picture drawn at box, clamped to
// the picture. False when nothing of it is left.
bool VisibleFrame(const ThumbBox& box, const OverviewSource& source, const MapViewport& viewport,
                  ThumbBox& frame);

// The content pixel under (x, y) of a picture of source's area drawn at box;
// points outside act as the nearest edge. Needs no picture. False for a box
// less than 1 pixel wide or high.
bool OverviewPointToContent(const ThumbBox& box, const OverviewSource& source, int x, int y,
                            int& contentX, int& contentY);

// Paints a client area: black, the picture fitted into it and the frame in
// green. box receives where the picture went; false when nothing was drawn.
bool PaintOverview(QPainter& painter, int clientWidth, int clientHeight,
                   const OverviewSource& source, const MapViewport& viewport, ThumbBox& box);

}  // namespace corvalis
