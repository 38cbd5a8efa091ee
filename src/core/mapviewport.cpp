#include "mapviewport.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "webmercator.h"

namespace corvalis {

namespace {

// Narrows a 64-bit intermediate to int, saturating at the int range.
int SaturateInt(std::int64_t v) {
    return static_cast<int>(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX));
}

// Truncates v toward zero into [0, hi] (hi >= 0). Values outside the int
// range never reach the conversion, and NaN ends up at 0.
int TruncateInto(double v, int hi) {
    if (!(v > 0.0)) return 0;
    if (v >= static_cast<double>(hi)) return hi;
    return static_cast<int>(v);
}

// Brings a finite longitude into (-180, 180], or into [-180, 180) for one
// west of -180, as repeated steps of 360 would, in constant time and exactly.
double WrapLongitude(double lon) {
    if (lon > 180.0) {
        lon = std::fmod(lon, 360.0);
        if (lon > 180.0) lon -= 360.0;
    }
    if (lon < -180.0) {
        lon = std::fmod(lon, 360.0);
        if (lon < -180.0) lon += 360.0;
    }
    return lon;
}

}  // namespace

void MapViewport::AttachStore(const TileDatabase* newStore) {
    store = newStore;
    zoom = 0;
    scrollX = 0;
    scrollY = 0;
    if (!HasOpenStore()) {
        contentWidth = 0;
        contentHeight = 0;
        return;
    }
    zoom = store->minZoom();
    RefreshZoomExtent();
    scrollX = (contentWidth - viewWidth) / 2;
    scrollY = (contentHeight - viewHeight) / 2;
    ClampScroll();
}

void MapViewport::SetViewSize(int width, int height) {
    width = std::max(width, 1);
    height = std::max(height, 1);
    scrollX = SaturateInt(std::int64_t{scrollX} - (std::int64_t{width} - viewWidth) / 2);
    scrollY = SaturateInt(std::int64_t{scrollY} - (std::int64_t{height} - viewHeight) / 2);
    viewWidth = width;
    viewHeight = height;
    ClampScroll();
}

int MapViewport::TileWidth() const {
    return store != nullptr ? store->tileWidth() : 256;
}

int MapViewport::TileHeight() const {
    return store != nullptr ? store->tileHeight() : 256;
}

bool MapViewport::ContentFitsView() const {
    return contentWidth <= viewWidth || contentHeight <= viewHeight;
}

int MapViewport::LetterboxOffsetX() const {
    return contentWidth < viewWidth ? (viewWidth - contentWidth) / 2 : 0;
}

int MapViewport::LetterboxOffsetY() const {
    return contentHeight < viewHeight ? (viewHeight - contentHeight) / 2 : 0;
}

bool MapViewport::HasContent() const {
    return HasOpenStore() && contentWidth >= 1 && contentHeight >= 1 && TileWidth() >= 1 &&
           TileHeight() >= 1;
}

void MapViewport::RefreshZoomExtent() {
    if (!HasOpenStore()) {
        contentWidth = 0;
        contentHeight = 0;
        return;
    }
    if (!store->zoomPresent(zoom)) {
        const int first = std::max(store->minZoom(), 0);
        const int last = std::min(store->maxZoom(), kZoomLevels - 1);
        for (int z = first; z <= last; ++z) {
            if (store->zoomPresent(z)) {
                zoom = z;
                break;
            }
        }
    }
    ZoomExtent e;
    if (!store->GetZoomExtent(zoom, e.minX, e.maxX, e.minY, e.maxY)) {
        contentWidth = 0;
        contentHeight = 0;
        return;
    }
    e.present = true;
    extent = e;
    // Huge extents or tiles can exceed the int range: saturate rather than wrap.
    const std::int64_t columns = std::int64_t{e.maxX} - e.minX + 1;
    const std::int64_t rows = std::int64_t{e.maxY} - e.minY + 1;
    contentWidth = static_cast<int>(std::clamp<std::int64_t>(columns * TileWidth(), 0, INT_MAX));
    contentHeight = static_cast<int>(std::clamp<std::int64_t>(rows * TileHeight(), 0, INT_MAX));
}

void MapViewport::ClampScroll() {
    const int maxX = std::max(0, contentWidth - viewWidth);
    const int maxY = std::max(0, contentHeight - viewHeight);
    scrollX = std::max(std::min(scrollX, maxX), 0);
    scrollY = std::max(std::min(scrollY, maxY), 0);
}

// Content pixel under the middle of the view (the middle of the content on an
// axis where it is letterboxed).
void MapViewport::ViewCentre(std::int64_t& cx, std::int64_t& cy) const {
    cx = std::int64_t{viewWidth / 2} + scrollX - LetterboxOffsetX();
    cy = std::int64_t{viewHeight / 2} + scrollY - LetterboxOffsetY();
}

double MapViewport::LatitudeAt(double cy) const {
    const double n = TilesAcross(zoom);
    return TileYToLat(cy / TileHeight() + extent.minY, n, Ellipsoidal());
}

bool MapViewport::Ellipsoidal() const {
    return store != nullptr && store->ellipsoidal();
}

bool MapViewport::SetZoom(int z, bool keepCentre) {
    if (!HasOpenStore() || z == zoom || z < store->minZoom() || z > store->maxZoom() || z < 0 ||
        z >= kZoomLevels || !store->zoomPresent(z))
        return false;

    double lon = 0.0;
    double lat = 0.0;
    bool haveCentre = false;
    if (HasContent()) {
        std::int64_t cx = 0;
        std::int64_t cy = 0;
        ViewCentre(cx, cy);
        const double n = TilesAcross(zoom);
        lon = TileXToLon(static_cast<double>(cx) / TileWidth() + extent.minX, n);
        lat = LatitudeAt(static_cast<double>(cy));
        haveCentre = true;
    }

    zoom = z;
    RefreshZoomExtent();

    int x = 0;
    int y = 0;
    if (keepCentre && haveCentre) {
        if (LonLatToContent(lon, lat, x, y)) {
            scrollX = x - viewWidth / 2;
            scrollY = y - viewHeight / 2;
        }
    } else {
        scrollX = (contentWidth - viewWidth) / 2;
        scrollY = (contentHeight - viewHeight) / 2;
    }
    ClampScroll();
    return true;
}

int MapViewport::NextPresentZoom(int step) const {
    if (!HasOpenStore()) return -1;
    const int first = std::max(store->minZoom(), 0);
    const int last = std::min(store->maxZoom(), kZoomLevels - 1);
    for (int z = zoom + step; z >= first && z <= last; z += step)
        if (store->zoomPresent(z)) return z;
    return -1;
}

bool MapViewport::CanZoomIn() const {
    return NextPresentZoom(1) >= 0;
}

bool MapViewport::CanZoomOut() const {
    return NextPresentZoom(-1) >= 0;
}

bool MapViewport::ZoomIn() {
    const int z = NextPresentZoom(1);
    return z >= 0 && SetZoom(z, true);
}

bool MapViewport::ZoomOut() {
    const int z = NextPresentZoom(-1);
    return z >= 0 && SetZoom(z, true);
}

void MapViewport::PanBy(int dx, int dy) {
    scrollX = SaturateInt(std::int64_t{scrollX} - dx);
    scrollY = SaturateInt(std::int64_t{scrollY} - dy);
    ClampScroll();
}

bool MapViewport::ScrollBy(int direction, int step) {
    if (!HasOpenStore() || direction < 1 || direction > 4) return false;
    const int oldX = scrollX;
    const int oldY = scrollY;
    switch (direction) {
        case 1: scrollX = SaturateInt(std::int64_t{scrollX} + step); break;
        case 2: scrollX = SaturateInt(std::int64_t{scrollX} - step); break;
        case 3: scrollY = SaturateInt(std::int64_t{scrollY} + step); break;
        default: scrollY = SaturateInt(std::int64_t{scrollY} - step); break;
    }
    ClampScroll();
    return scrollX != oldX || scrollY != oldY;
}

bool MapViewport::CenterOnContent(int x, int y) {
    if (!HasOpenStore()) return false;
    const int oldX = scrollX;
    const int oldY = scrollY;
    scrollX = SaturateInt(std::int64_t{x} - viewWidth / 2);
    scrollY = SaturateInt(std::int64_t{y} - viewHeight / 2);
    ClampScroll();
    return scrollX != oldX || scrollY != oldY;
}

bool MapViewport::CenterOnLonLat(double lon, double lat) {
    int x = 0;
    int y = 0;
    if (!LonLatToContent(lon, lat, x, y)) return false;
    return CenterOnContent(x, y);
}

void MapViewport::ViewToContent(int vx, int vy, int& cx, int& cy) const {
    // Lower bound first, then upper: an empty content gives -1.
    const std::int64_t x = std::int64_t{vx} + scrollX - LetterboxOffsetX();
    const std::int64_t y = std::int64_t{vy} + scrollY - LetterboxOffsetY();
    cx = static_cast<int>(std::min<std::int64_t>(std::max<std::int64_t>(x, 0), contentWidth - 1));
    cy = static_cast<int>(std::min<std::int64_t>(std::max<std::int64_t>(y, 0), contentHeight - 1));
}

bool MapViewport::ContentToTile(int cx, int cy, int& column, int& row) const {
    if (!HasContent()) return false;
    const std::int64_t x = std::int64_t{cx / TileWidth()} + extent.minX;
    const std::int64_t y = std::int64_t{cy / TileHeight()} + extent.minY;
    column = static_cast<int>(std::clamp<std::int64_t>(x, extent.minX, extent.maxX));
    row = static_cast<int>(std::clamp<std::int64_t>(y, extent.minY, extent.maxY));
    return true;
}

bool MapViewport::ContentToLonLat(int cx, int cy, double& lon, double& lat) const {
    if (!HasContent()) return false;
    const double n = TilesAcross(zoom);
    lon = TileXToLon(static_cast<double>(cx) / TileWidth() + extent.minX, n);
    lat = LatitudeAt(static_cast<double>(cy));
    return true;
}

bool MapViewport::LonLatToContent(double lon, double lat, int& x, int& y) const {
    // NaN and an infinite longitude have no place on the map.
    if (!HasContent() || std::isnan(lat) || !std::isfinite(lon)) return false;
    const double maxLat = Ellipsoidal() ? kMaxLatitudeEllipsoidal : kMaxLatitude;
    lat = std::clamp(lat, -maxLat, maxLat);
    lon = WrapLongitude(lon);
    const double n = TilesAcross(zoom);
    const double fx = (lon + 180.0) / 360.0 * n;
    const double fy = LatToTileY(lat, n, Ellipsoidal());
    x = TruncateInto(TileWidth() * (fx - extent.minX), contentWidth - 1);
    y = TruncateInto(TileHeight() * (fy - extent.minY), contentHeight - 1);
    return true;
}

double MapViewport::MetersPerPixel() const {
    if (!HasContent()) return 0.0;
    std::int64_t cx = 0;
    std::int64_t cy = 0;
    ViewCentre(cx, cy);
    const double lat = LatitudeAt(static_cast<double>(cy));
    return std::cos(lat * kPi / 180.0) * (2.0 * kPi * kEarthRadius) / TileWidth() /
           TilesAcross(zoom);
}

bool TileGrid::Covers(const TileGrid& other) const {
    return !IsEmpty() && !other.IsEmpty() && zoom == other.zoom && minX <= other.minX &&
           other.maxX <= maxX && minY <= other.minY && other.maxY <= maxY;
}

bool TileGrid::CellOffset(int x, int y, int& px, int& py) const {
    if (IsEmpty() || x < minX || x > maxX || y < minY || y > maxY) return false;
    px = SaturateInt((std::int64_t{x} - minX) * tileWidth);
    py = SaturateInt((std::int64_t{y} - minY) * tileHeight);
    return true;
}

namespace {

// First and last tile of one axis covered by a span of view sizes centred
// on the view, cut to the extent [lo, hi]. False when nothing is left.
bool SpanTiles(int scroll, int view, std::int64_t factor, int tile, int lo, int hi,
               std::int64_t& first, std::int64_t& last) {
    const std::int64_t span = factor * view;
    const std::int64_t start = scroll - (span - view) / 2;
    first = static_cast<std::int64_t>(std::floor(static_cast<double>(start) / tile)) + lo;
    last = static_cast<std::int64_t>(std::ceil(static_cast<double>(start + span) / tile)) + lo - 1;
    first = std::max<std::int64_t>(first, lo);
    last = std::min<std::int64_t>(last, hi);
    return first <= last;
}

}  // namespace

TileGrid BuildTileGrid(const MapViewport& viewport, int factor) {
    TileGrid grid;
    const int tw = viewport.TileWidth();
    const int th = viewport.TileHeight();
    if (!viewport.HasOpenStore() || viewport.ViewWidth() < 1 || viewport.ViewHeight() < 1 ||
        viewport.ContentWidth() < 1 || viewport.ContentHeight() < 1 || tw < 1 || th < 1)
        return grid;
    const std::int64_t f = std::max(factor, 1);
    const ZoomExtent& e = viewport.Extent();
    std::int64_t minX = 0;
    std::int64_t maxX = 0;
    std::int64_t minY = 0;
    std::int64_t maxY = 0;
    if (!SpanTiles(viewport.ScrollX(), viewport.ViewWidth(), f, tw, e.minX, e.maxX, minX, maxX) ||
        !SpanTiles(viewport.ScrollY(), viewport.ViewHeight(), f, th, e.minY, e.maxY, minY, maxY))
        return grid;
    grid.zoom = viewport.Zoom();
    grid.minX = static_cast<int>(minX);
    grid.maxX = static_cast<int>(maxX);
    grid.minY = static_cast<int>(minY);
    grid.maxY = static_cast<int>(maxY);
    grid.originX = SaturateInt((minX - e.minX) * tw);
    grid.originY = SaturateInt((minY - e.minY) * th);
    grid.pixelWidth = SaturateInt((maxX - minX + 1) * tw);
    grid.pixelHeight = SaturateInt((maxY - minY + 1) * th);
    grid.tileWidth = tw;
    grid.tileHeight = th;
    return grid;
}

}  // namespace corvalis
