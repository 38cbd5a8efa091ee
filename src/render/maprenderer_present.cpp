// Presenting: the view picture from the last frame, or, while a composition
// runs in the background, from the stand-in, the last frame of the level and
// the cells drawn so far.
#include <algorithm>

#include "maprenderer.h"

namespace corvalis {

namespace {

// The view's rectangle in content pixels.
QRect ViewInContent(const MapViewport& viewport) {
    return {viewport.ScrollX() - viewport.LetterboxOffsetX(),
            viewport.ScrollY() - viewport.LetterboxOffsetY(), viewport.ViewWidth(),
            viewport.ViewHeight()};
}

QRect GridInContent(const TileGrid& grid) {
    return {grid.originX, grid.originY, grid.pixelWidth, grid.pixelHeight};
}

// Calls visit(cell number, cell rectangle in the frame) for every cell of grid
// that the view shows.
template <class Visit>
void ForViewCells(const TileGrid& grid, const MapViewport& viewport, Visit visit) {
    const QRect shown = ViewInContent(viewport).intersected(GridInContent(grid));
    if (shown.isEmpty()) return;
    const int columns = grid.maxX - grid.minX + 1;
    const int firstX = (shown.left() - grid.originX) / grid.tileWidth;
    const int lastX = (shown.right() - grid.originX) / grid.tileWidth;
    const int firstY = (shown.top() - grid.originY) / grid.tileHeight;
    const int lastY = (shown.bottom() - grid.originY) / grid.tileHeight;
    for (int row = firstY; row <= lastY; ++row)
        for (int column = firstX; column <= lastX; ++column)
            visit(static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) +
                      static_cast<std::size_t>(column),
                  QRect(column * grid.tileWidth, row * grid.tileHeight, grid.tileWidth,
                        grid.tileHeight));
}

// Copies rect of a frame composed for grid to where the view shows it.
void CopyToView(const QImage& frame, const TileGrid& grid, const QRect& rect,
                const MapViewport& viewport, QImage& view) {
    const QRect shown = ViewInContent(viewport);
    CopyPixels(frame, rect.x(), rect.y(), rect.width(), rect.height(), view,
               grid.originX + rect.x() - shown.x(), grid.originY + rect.y() - shown.y());
}

}  // namespace

bool MapRenderer::PrepareView(const MapViewport& viewport) {
    const int viewWidth = viewport.ViewWidth();
    const int viewHeight = viewport.ViewHeight();
    if (viewWidth < 1 || viewHeight < 1) return false;
    if (view.width() != viewWidth || view.height() != viewHeight ||
        view.format() != QImage::Format_RGB888)
        view = QImage(viewWidth, viewHeight, QImage::Format_RGB888);
    if (view.isNull()) return false;
    view.setDevicePixelRatio(devicePixelRatio);
    return true;
}

void MapRenderer::PresentFrame(const MapViewport& viewport) {
    if (lastFrame == nullptr || lastGrid.IsEmpty()) return;
    PresentFrom(lastFrame->Image(), lastGrid, viewport);
}

void MapRenderer::PresentFrom(const QImage& frame, const TileGrid& grid,
                              const MapViewport& viewport) {
    if (!PrepareView(viewport)) return;
    const int viewWidth = viewport.ViewWidth();
    const int viewHeight = viewport.ViewHeight();
    const int dx = grid.originX - (viewport.ScrollX() - viewport.LetterboxOffsetX());
    const int dy = grid.originY - (viewport.ScrollY() - viewport.LetterboxOffsetY());
    const bool coversView = dx <= 0 && dy <= 0 && dx + grid.pixelWidth >= viewWidth &&
                            dy + grid.pixelHeight >= viewHeight;
    if (!coversView) FillPixels(view, 0, 0, viewWidth, viewHeight, qRgb(0, 0, 0));
    const int sx = std::max(0, -dx);
    const int sy = std::max(0, -dy);
    const int tx = std::max(0, dx);
    const int ty = std::max(0, dy);
    const int w = std::min(grid.pixelWidth - sx, viewWidth - tx);
    const int h = std::min(grid.pixelHeight - sy, viewHeight - ty);
    if (w > 0 && h > 0) CopyPixels(frame, sx, sy, w, h, view, tx, ty);
    Presented(viewport, -1);
}

void MapRenderer::PresentView(const MapViewport& viewport) {
    const bool live = LiveAt(viewport);
    const bool lastHere = lastFrame != nullptr && lastGrid.zoom == viewport.Zoom();
    if (!live && lastHere && !standIn.Valid()) return PresentFrame(viewport);
    int total = 0;
    const int drawn = live ? DrawnViewCells(viewport, total) : -1;
    const QRect needed = ViewInContent(viewport).intersected(
        QRect(0, 0, viewport.ContentWidth(), viewport.ContentHeight()));
    if (live && drawn == total && GridInContent(composition.Grid()).contains(needed)) {
        // Every cell the view shows is drawn: the frame being composed serves as a whole.
        PresentFrom(composing->Image(), composition.Grid(), viewport);
        presentedDrawnCells = drawn;
        return;
    }
    if (!PrepareView(viewport)) return;
    PresentLayers(viewport, lastHere, live);
    Presented(viewport, drawn);
}

void MapRenderer::PresentLayers(const MapViewport& viewport, bool lastHere, bool live) {
    // Black outside the content, the stand-in (or black) over it.
    const QRect shown = ViewInContent(viewport);
    const QRect content =
        QRect(0, 0, viewport.ContentWidth(), viewport.ContentHeight()).translated(-shown.topLeft());
    const QRect inView = content.intersected(view.rect());
    if (inView != view.rect()) FillPixels(view, 0, 0, view.width(), view.height(), qRgb(0, 0, 0));
    standIn.Draw(view, inView, ViewPlacement(viewport));
    // The last complete frame of this level, then the cells drawn so far.
    if (lastHere) {
        const QRect part = shown.intersected(GridInContent(lastGrid))
                               .translated(-lastGrid.originX, -lastGrid.originY);
        if (!part.isEmpty()) CopyToView(lastFrame->Image(), lastGrid, part, viewport, view);
    }
    if (!live) return;
    const TileGrid& grid = composition.Grid();
    const QImage& frame = composing->Image();
    ForViewCells(grid, viewport, [&](std::size_t cell, const QRect& rect) {
        if (cellStates.Get(cell) != kCellPending) CopyToView(frame, grid, rect, viewport, view);
    });
}

int MapRenderer::DrawnViewCells(const MapViewport& viewport, int& total) const {
    int drawn = 0;
    total = 0;
    ForViewCells(composition.Grid(), viewport, [&](std::size_t cell, const QRect&) {
        ++total;
        drawn += cellStates.Get(cell) != kCellPending ? 1 : 0;
    });
    return drawn;
}

void MapRenderer::Presented(const MapViewport& viewport, int drawnViewCells) {
    presented = ViewPlacement(viewport);
    presentedDrawnCells = drawnViewCells;
    presentedAt = std::chrono::steady_clock::now();
}

}  // namespace corvalis
