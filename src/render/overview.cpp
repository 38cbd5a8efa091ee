#include "overview.h"

#include <QPainter>

#include <algorithm>
#include <cstdint>

#include "tiledecoder.h"
#include "tilesource.h"

namespace corvalis {

namespace {

constexpr int kFramePenWidth = 2;

// The outline of rect as a pen of penWidth pixels drawn along the inside of its
// edges. Each side is a band of whole pixels, so nothing lands outside rect
// however narrow it is: a rectangle narrower than two pens is filled.
void DrawOutline(QPainter& painter, const ThumbBox& rect, const QColor& colour, int penWidth) {
    const int width = rect.Width();
    const int height = rect.Height();
    const int across = std::min(penWidth, width);
    const int down = std::min(penWidth, height);
    painter.fillRect(QRect(rect.left, rect.top, width, down), colour);
    painter.fillRect(QRect(rect.left, rect.bottom - down, width, down), colour);
    painter.fillRect(QRect(rect.left, rect.top, across, height), colour);
    painter.fillRect(QRect(rect.right - across, rect.top, across, height), colour);
}

// The whole lowest level as one block, when it is small enough for a picture.
bool LowestLevelGrid(const TileDatabase& store, TileGrid& grid) {
    if (!store.isOpen()) return false;
    const std::int32_t z = store.minZoom();
    std::int32_t minX = 0, maxX = 0, minY = 0, maxY = 0;
    if (!store.GetZoomExtent(z, minX, maxX, minY, maxY)) return false;
    const std::int64_t cols = std::int64_t{maxX} - minX + 1;
    const std::int64_t rows = std::int64_t{maxY} - minY + 1;
    if (cols < 1 || rows < 1 || cols * rows > kOverviewMaxTiles) return false;
    const std::int64_t width = cols * store.tileWidth();
    const std::int64_t height = rows * store.tileHeight();
    if (width < 1 || width > kOverviewMaxPixels || height < 1 || height > kOverviewMaxPixels)
        return false;
    grid.zoom = z;
    grid.minX = minX;
    grid.maxX = maxX;
    grid.minY = minY;
    grid.maxY = maxY;
    grid.tileWidth = store.tileWidth();
    grid.tileHeight = store.tileHeight();
    grid.pixelWidth = static_cast<int>(width);
    grid.pixelHeight = static_cast<int>(height);
    return true;
}

}  // namespace

bool Overview::Build(TileDatabase& store, TileDecoder& decoder) {
    InlineDrawer drawer(&decoder);
    return Build(store, drawer);
}

bool Overview::Build(TileDatabase& store, CellDrawer& drawer) {
    overviewReady = false;
    TileGrid grid;
    if (!LowestLevelGrid(store, grid)) return false;
    placement = {grid.zoom, std::int64_t{grid.minX} * grid.tileWidth,
                 std::int64_t{grid.minY} * grid.tileHeight};
    if (overviewBitmap.width() != grid.pixelWidth || overviewBitmap.height() != grid.pixelHeight ||
        overviewBitmap.format() != QImage::Format_RGB888)
        overviewBitmap = QImage(grid.pixelWidth, grid.pixelHeight, QImage::Format_RGB888);
    if (overviewBitmap.isNull()) return false;
    overviewBitmap.fill(Qt::black);
    if (!cellStates.Reset(CellCount(grid))) return false;
    // Tiles that cannot be read or decoded stay black.
    ComposeBlock(store, grid, overviewBitmap, EarlierFrame{}, drawer, cellStates, {});
    overviewReady = true;
    return true;
}

OverviewSource ChooseOverviewSource(const Overview& overview, const MapViewport& viewport,
                                    const QImage* lastFrame, const TileGrid& lastGrid) {
    OverviewSource source;
    source.srcW = viewport.ContentWidth();
    source.srcH = viewport.ContentHeight();
    if (overview.Ready()) {
        source.picture = &overview.Picture();
    } else if (lastFrame != nullptr && !lastFrame->isNull() && !lastGrid.IsEmpty()) {
        source.picture = lastFrame;
        source.srcX = lastGrid.originX;
        source.srcY = lastGrid.originY;
        source.srcW = lastGrid.pixelWidth;
        source.srcH = lastGrid.pixelHeight;
    }
    return source;
}

ThumbBox FitOverview(int clientWidth, int clientHeight, int pictureWidth, int pictureHeight) {
    if (pictureWidth < 1 || pictureHeight < 1) return {};
    const double scale =
        std::min(static_cast<double>(clientWidth) / static_cast<double>(pictureWidth),
                 static_cast<double>(clientHeight) / static_cast<double>(pictureHeight));
    const int dw = static_cast<int>(pictureWidth * scale);
    const int dh = static_cast<int>(pictureHeight * scale);
    const int ox = (clientWidth - dw) / 2;
    const int oy = (clientHeight - dh) / 2;
    return {ox, oy, ox + dw, oy + dh};
}

bool VisibleFrame(const ThumbBox& box, const OverviewSource& source, const MapViewport& viewport,
                  ThumbBox& frame) {
    if (!source.Usable()) return false;
    const double dw = box.Width();
    const double dh = box.Height();
    const double vx = viewport.ScrollX() - viewport.LetterboxOffsetX();
    const double vy = viewport.ScrollY() - viewport.LetterboxOffsetY();
    const int left = box.left + static_cast<int>((vx - source.srcX) / source.srcW * dw);
    const int top = box.top + static_cast<int>((vy - source.srcY) / source.srcH * dh);
    const int right = left + static_cast<int>(viewport.ViewWidth() / double(source.srcW) * dw);
    const int bottom = top + static_cast<int>(viewport.ViewHeight() / double(source.srcH) * dh);
    frame = {std::max(left, box.left), std::max(top, box.top), std::min(right, box.right),
             std::min(bottom, box.bottom)};
    return frame.left < frame.right && frame.top < frame.bottom;
}

bool OverviewPointToContent(const ThumbBox& box, const OverviewSource& source, int x, int y,
                            int& contentX, int& contentY) {
    if (box.Width() < 1 || box.Height() < 1) return false;
    const double fx = std::clamp(double(x - box.left) / box.Width(), 0.0, 1.0);
    const double fy = std::clamp(double(y - box.top) / box.Height(), 0.0, 1.0);
    contentX = static_cast<int>(source.srcX + source.srcW * fx);
    contentY = static_cast<int>(source.srcY + source.srcH * fy);
    return true;
}

bool PaintOverview(QPainter& painter, int clientWidth, int clientHeight,
                   const OverviewSource& source, const MapViewport& viewport, ThumbBox& box) {
    if (!source.Usable()) return false;
    const ThumbBox fitted =
        FitOverview(clientWidth, clientHeight, source.picture->width(), source.picture->height());
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(QRect(fitted.left, fitted.top, fitted.Width(), fitted.Height()),
                      *source.picture);
    box = fitted;
    ThumbBox frame;
    if (VisibleFrame(fitted, source, viewport, frame)) {
        DrawOutline(painter, frame, QColor(0, 255, 0), kFramePenWidth);
    }
    return true;
}

}  // namespace corvalis
