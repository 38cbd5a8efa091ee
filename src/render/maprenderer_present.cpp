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
    Presented(viewport);
}

void MapRenderer::PresentView(const MapViewport& viewport) {
    const bool live = LiveAt(viewport);
    const bool lastHere = lastFrame != nullptr && lastGrid.zoom == viewport.Zoom();
    std::fill(cellsShown.begin(), cellsShown.end(), std::uint8_t{0});
    if (!live && lastHere && !standIn.Valid()) return PresentFrame(viewport);
    const QRect needed = ViewInContent(viewport).intersected(
        QRect(0, 0, viewport.ContentWidth(), viewport.ContentHeight()));
    const TileGrid& grid = composition.Grid();
    if (live && ViewCellsDone(viewport, false) && GridInContent(grid).contains(needed)) {
        // Every cell the view shows is drawn: the frame being composed serves as a whole.
        PresentFrom(composing->Image(), grid, viewport);
        ForViewCells(grid, viewport,
                     [this](std::size_t cell, const QRect&) { cellsShown[cell] = 1; });
        return;
    }
    if (!PrepareView(viewport)) return;
    PresentLayers(viewport, lastHere, live);
    Presented(viewport);
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
        if (cellStates.Get(cell) == kCellPending) return;
        CopyToView(frame, grid, rect, viewport, view);
        cellsShown[cell] = 1;
    });
}

bool MapRenderer::PresentedAt(const MapViewport& viewport) const {
    return presented.Valid() && presented == ViewPlacement(viewport) &&
           view.width() == viewport.ViewWidth() && view.height() == viewport.ViewHeight();
}

QRect MapRenderer::PresentNewCells(const MapViewport& viewport) {
    const TileGrid& grid = composition.Grid();
    const QImage& frame = composing->Image();
    const QPoint frameInView =
        QPoint(grid.originX, grid.originY) - ViewInContent(viewport).topLeft();
    QRect area;
    ForViewCells(grid, viewport, [&](std::size_t cell, const QRect& rect) {
        if (cellsShown[cell] != 0 || cellStates.Get(cell) == kCellPending) return;
        CopyToView(frame, grid, rect, viewport, view);
        cellsShown[cell] = 1;
        area |= rect.translated(frameInView).intersected(view.rect());
    });
    return area;
}

bool MapRenderer::ViewCellsDone(const MapViewport& viewport, bool shown) const {
    bool done = true;
    ForViewCells(composition.Grid(), viewport, [&](std::size_t cell, const QRect&) {
        done = done && cellStates.Get(cell) != kCellPending && (!shown || cellsShown[cell] != 0);
    });
    return done;
}

void MapRenderer::Presented(const MapViewport& viewport) {
    presented = ViewPlacement(viewport);
}

}  // namespace corvalis
