#include "maprenderer.h"

#include <QPainter>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <utility>

#include "logging.h"
#include "maprenderer_pool.h"
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
        if (!Compose(store, decoder, grid)) {
            ClearView();
            return RenderOutcome::NoFrame;
        }
        if (force) LogLine(GridLine());
        outcome = RenderOutcome::Composed;
    }
    PresentFrame(viewport);
    return outcome;
}

MapRenderer::MapRenderer() {
    SetDecodeThreads(DefaultDecodeThreads());
}

MapRenderer::~MapRenderer() = default;

void MapRenderer::SetDecodeThreads(int count) {
    if (count <= 1) {
        pool.reset();
        return;
    }
    count = std::min(count, kMaxDecodeThreads);
    if (pool && pool->Workers() == count) return;
    pool.reset();
    try {
        pool = std::make_unique<DecodePool>(count);
    } catch (const std::exception&) {
        // No threads to be had (or no memory): decode on the composing thread.
        pool.reset();
    }
}

int MapRenderer::DecodeThreads() const {
    return pool ? pool->Workers() : 1;
}

CellDrawer& MapRenderer::Drawer(TileDecoder& decoder) {
    if (pool) return *pool;
    inlineDrawer.SetDecoder(&decoder);
    return inlineDrawer;
}

bool MapRenderer::Compose(TileDatabase& store, TileDecoder& decoder, const TileGrid& grid) {
    FrameBuffer& target = lastFrame == &frameA ? frameB : frameA;
    const EarlierFrame earlier{LastFrame(), lastGrid};
    tallies = {};
    if (!target.Resize(grid.pixelWidth, grid.pixelHeight)) {
        // Out of memory for the block: nothing can be shown of it.
        lastFrame = nullptr;
        lastGrid.Reset();
        return false;
    }
    tallies =
        ComposeBlock(store, grid, target.Image(), earlier, Drawer(decoder), cellStates,
                     [this](QImage& image, const QRect& cell) {
                         DrawMissingTile(image, cell.x(), cell.y(), cell.width(), cell.height());
                     });
    lastFrame = &target;
    lastGrid = grid;
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
                  lastGrid.maxX - lastGrid.minX + 1, lastGrid.maxY - lastGrid.minY + 1,
                  tallies.loaded, tallies.reused, tallies.missing);
}

}  // namespace corvalis
