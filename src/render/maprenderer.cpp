#include "maprenderer.h"

#include <QPainter>

#include <algorithm>
#include <cstdint>
#include <utility>

#include "logging.h"
#include "tiledecoder.h"
#include "tilesource.h"

namespace corvalis {

namespace {

constexpr int kMissingTileSize = 256;

}  // namespace

QImage LoadMissingTile(const QString& path) {
    QImage picture(path);
    if (picture.isNull()) return FallbackMissingTile();
    return picture.convertToFormat(QImage::Format_RGB888);
}

QImage FallbackMissingTile() {
    QImage picture(kMissingTileSize, kMissingTileSize, QImage::Format_RGB888);
    picture.fill(QColor(48, 48, 48));
    QPainter painter(&picture);
    painter.setPen(QColor(96, 96, 96));
    painter.drawLine(0, 0, kMissingTileSize, kMissingTileSize);
    painter.drawLine(kMissingTileSize, 0, 0, kMissingTileSize);
    return picture;
}

void MapRenderer::SetMissingTile(QImage picture) {
    missingTile = picture.isNull() ? QImage() : picture.convertToFormat(QImage::Format_RGB888);
}

void MapRenderer::SetDevicePixelRatio(double ratio) {
    devicePixelRatio = ratio > 0.0 ? ratio : 1.0;
}

RenderOutcome MapRenderer::Render(TileDatabase& store, TileDecoder& decoder,
                                  const MapViewport& viewport, bool force) {
    const TileGrid grid = BuildTileGrid(viewport, PrefetchFactor);
    if (grid.IsEmpty()) return RenderOutcome::EmptyGrid;
    RenderOutcome outcome = RenderOutcome::Presented;
    if (force || lastFrame == nullptr || !lastGrid.Covers(grid)) {
        // Without a frame nothing was composed, so there is no grid to report.
        if (Compose(store, decoder, grid) && force) LogLine(GridLine());
        outcome = RenderOutcome::Composed;
    }
    PresentFrame(viewport);
    return outcome;
}

bool MapRenderer::Compose(TileDatabase& store, TileDecoder& decoder, const TileGrid& grid) {
    FrameBuffer& target = lastFrame == &frameA ? frameB : frameA;
    const bool reuse = lastFrame != nullptr && lastGrid.zoom == grid.zoom;
    loadedCount = 0;
    reusedCount = 0;
    missingCount = 0;
    if (!target.Resize(grid.pixelWidth, grid.pixelHeight)) {
        // Out of memory for the block: nothing can be shown of it.
        lastFrame = nullptr;
        lastGrid.Reset();
        return false;
    }
    QImage& image = target.Image();
    if (pool)
        DrawCellsPooled(store, decoder, grid, image, reuse);
    else
        DrawCells(store, decoder, grid, image, reuse);
    lastFrame = &target;
    lastGrid = grid;
    return true;
}

void MapRenderer::DrawCells(TileDatabase& store, TileDecoder& decoder, const TileGrid& grid,
                            QImage& image, bool reuse) {
    const int tw = grid.tileWidth;
    const int th = grid.tileHeight;
    const TileDatabase::ReadBatch reads(store);
    for (int y = grid.minY; y <= grid.maxY; ++y) {
        for (int x = grid.minX; x <= grid.maxX; ++x) {
            if (reuse && CopyFromLastFrame(grid, x, y, image)) {
                ++reusedCount;
                continue;
            }
            const int cx = (x - grid.minX) * tw;
            const int cy = (y - grid.minY) * th;
            const std::uint8_t* bytes = nullptr;
            std::int32_t count = 0;
            if (store.ReadTile(grid.zoom, x, y, bytes, count) &&
                decoder.DrawTile(&image, cx, cy, tw, th, bytes, count)) {
                ++loadedCount;
            } else {
                DrawMissingTile(image, cx, cy, tw, th);
                ++missingCount;
            }
        }
    }
}

bool MapRenderer::CopyFromLastFrame(const TileGrid& grid, int x, int y, QImage& image) const {
    int ox = 0;
    int oy = 0;
    if (!lastGrid.CellOffset(x, y, ox, oy)) return false;
    CopyPixels(lastFrame->Image(), ox, oy, grid.tileWidth, grid.tileHeight, image,
               (x - grid.minX) * grid.tileWidth, (y - grid.minY) * grid.tileHeight);
    return true;
}

void MapRenderer::ResetFrames() {
    lastFrame = nullptr;
    lastGrid.Reset();
}

void MapRenderer::PresentFrame(const MapViewport& viewport) {
    const int viewWidth = viewport.ViewWidth();
    const int viewHeight = viewport.ViewHeight();
    if (lastFrame == nullptr || lastGrid.IsEmpty() || viewWidth < 1 || viewHeight < 1) return;
    if (view.width() != viewWidth || view.height() != viewHeight ||
        view.format() != QImage::Format_RGB888)
        view = QImage(viewWidth, viewHeight, QImage::Format_RGB888);
    if (view.isNull()) return;
    view.setDevicePixelRatio(devicePixelRatio);

    const QImage& frame = lastFrame->Image();
    const int dx = lastGrid.originX - (viewport.ScrollX() - viewport.LetterboxOffsetX());
    const int dy = lastGrid.originY - (viewport.ScrollY() - viewport.LetterboxOffsetY());
    const bool coversView = dx <= 0 && dy <= 0 && dx + lastGrid.pixelWidth >= viewWidth &&
                            dy + lastGrid.pixelHeight >= viewHeight;
    if (!coversView) FillPixels(view, 0, 0, viewWidth, viewHeight, qRgb(0, 0, 0));
    const int sx = std::max(0, -dx);
    const int sy = std::max(0, -dy);
    const int tx = std::max(0, dx);
    const int ty = std::max(0, dy);
    const int w = std::min(lastGrid.pixelWidth - sx, viewWidth - tx);
    const int h = std::min(lastGrid.pixelHeight - sy, viewHeight - ty);
    if (w <= 0 || h <= 0) return;
    CopyPixels(frame, sx, sy, w, h, view, tx, ty);
}

void MapRenderer::DrawMissingTile(QImage& target, int x, int y, int width, int height) const {
    if (missingTile.isNull()) {
        FillPixels(target, x, y, width, height, qRgb(128, 128, 128));
        return;
    }
    if (missingTile.width() == width && missingTile.height() == height) {
        CopyPixels(missingTile, 0, 0, width, height, target, x, y);
        return;
    }
    QPainter painter(&target);
    painter.drawImage(QRect(x, y, width, height), missingTile);
}

void MapRenderer::ClearView() {
    view = QImage(1, 1, QImage::Format_RGB888);
    view.fill(Qt::black);
    view.setDevicePixelRatio(devicePixelRatio);
}

std::string MapRenderer::GridLine() const {
    return Format("grid z=%d cols=%d rows=%d loaded=%d reused=%d missing=%d", lastGrid.zoom,
                  lastGrid.maxX - lastGrid.minX + 1, lastGrid.maxY - lastGrid.minY + 1, loadedCount,
                  reusedCount, missingCount);
}

}  // namespace corvalis
