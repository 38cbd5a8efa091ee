// Navigation state of the map for one attached store, and the block of tiles
// that covers the view. No widget dependency.
#pragma once

#include <cstdint>

#include "tilesource.h"

namespace corvalis {

class MapViewport {
public:
    MapViewport() = default;

    void AttachStore(const TileDatabase* store);
    void SetViewSize(int width, int height);

    int TileWidth() const;
    int TileHeight() const;
    int ContentWidth() const { return contentWidth; }
    int ContentHeight() const { return contentHeight; }
    bool ContentFitsView() const;
    int LetterboxOffsetX() const;
    int LetterboxOffsetY() const;

    bool SetZoom(int z, bool keepCentre);
    bool CanZoomIn() const;
    bool CanZoomOut() const;
    bool ZoomIn();
    bool ZoomOut();
    void PanBy(int dx, int dy);
    bool ScrollBy(int direction, int step);
    bool CenterOnContent(int x, int y);
    bool CenterOnLonLat(double lon, double lat);
    void ViewToContent(int vx, int vy, int& cx, int& cy) const;
    bool ContentToTile(int cx, int cy, int& column, int& row) const;
    bool ContentToLonLat(int cx, int cy, double& lon, double& lat) const;
    bool LonLatToContent(double lon, double lat, int& x, int& y) const;
    double MetersPerPixel() const;

    // Read-only state.
    const TileDatabase* Store() const { return store; }
    int Zoom() const { return zoom; }
    int ViewWidth() const { return viewWidth; }
    int ViewHeight() const { return viewHeight; }
    int ScrollX() const { return scrollX; }
    int ScrollY() const { return scrollY; }
    const ZoomExtent& Extent() const { return extent; }
    // An attached store that is open.
    bool HasOpenStore() const { return store != nullptr && store->isOpen(); }

private:
    void RefreshZoomExtent();
    void ClampScroll();
    // An open store whose current zoom gives a non-empty content.
    bool HasContent() const;
    void ViewCentre(std::int64_t& cx, std::int64_t& cy) const;
    // Latitude of content row cy (on the ellipsoid for an ellipsoidal store).
    double LatitudeAt(double cy) const;
    bool Ellipsoidal() const;
    // The nearest present zoom from the current one in steps of step (+1 or
    // -1) within the store's zoom range, or -1.
    int NextPresentZoom(int step) const;

    const TileDatabase* store = nullptr;
    int viewWidth = 0;
    int viewHeight = 0;
    int zoom = 0;
    int scrollX = 0;
    int scrollY = 0;
    int contentWidth = 0;
    int contentHeight = 0;
    ZoomExtent extent{};
};

inline constexpr int PrefetchFactor = 3;

struct TileGrid {
    int zoom = -1;
    int minX = 0;
    int maxX = 0;
    int minY = 0;
    int maxY = 0;
    int originX = 0;
    int originY = 0;
    int pixelWidth = 0;
    int pixelHeight = 0;
    int tileWidth = 256;
    int tileHeight = 256;

    void Reset() { *this = TileGrid{}; }
    bool IsEmpty() const { return zoom < 0 || maxX < minX || maxY < minY; }
    bool Covers(const TileGrid& other) const;
    bool CellOffset(int x, int y, int& px, int& py) const;
    bool operator==(const TileGrid&) const = default;
};

TileGrid BuildTileGrid(const MapViewport& viewport, int factor);

}  // namespace corvalis
