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
    ratio = ratio > 0.0 ? ratio : 1.0;
    if (ratio != devicePixelRatio) vectorStyle.reset();
    devicePixelRatio = ratio;
}

void MapRenderer::SetVectorStyle(VectorStyle style, bool vectorTiles) {
    CancelComposition();
    vectorLook = std::move(style);
    vectorStore = vectorTiles;
    vectorStyle.reset();
}

VectorStyle MapRenderer::CurrentVectorStyle() const {
    VectorStyle style = vectorLook;
    style.devicePixelRatio = devicePixelRatio;
    return style;
}

RenderOutcome MapRenderer::Render(TileDatabase& store, TileDecoder& decoder,
                                  const MapViewport& viewport, bool force) {
    const TileGrid grid = BuildTileGrid(viewport, PrefetchFactor);
    if (grid.IsEmpty()) return RenderOutcome::EmptyGrid;
    if (background) return RenderInBackground(store, decoder, viewport, grid, force);
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
    inlineDrawer.SetVectorKeeper(&keeper);
    SetDecodeThreads(DefaultDecodeThreads());
}

MapRenderer::~MapRenderer() {
    CancelComposition();
}

void MapRenderer::SetDecodeThreads(int count) {
    CancelComposition();
    if (count <= 1) {
        pool.reset();
        return;
    }
    count = std::min(count, kMaxDecodeThreads);
    if (pool && pool->Workers() == count) return;
    pool.reset();
    try {
        pool = std::make_unique<DecodePool>(count);
        pool->SetVectorKeeper(&keeper);
        if (background) pool->LowerPriority();
    } catch (const std::exception&) {
        // No threads to be had (or no memory): decode on the composing thread.
        pool.reset();
    }
}

int MapRenderer::DecodeThreads() const {
    return pool ? pool->Workers() : 1;
}

CellDrawer& MapRenderer::Drawer(TileDecoder& decoder) {
    if (!vectorStyle) vectorStyle = std::make_shared<const VectorStyle>(CurrentVectorStyle());
    decoder.SetVectorStyle(vectorStyle, vectorStore);
    if (pool) pool->SetVectorStyle(vectorStyle, vectorStore);
    if (pool) return *pool;
    inlineDrawer.SetDecoder(&decoder);
    return inlineDrawer;
}

bool MapRenderer::Compose(TileDatabase& store, TileDecoder& decoder, const TileGrid& grid) {
    FrameBuffer& target = NextTarget();
    const EarlierFrame earlier{LastFrame(), lastGrid};
    tallies = {};
    if (!PrepareTarget(target, grid)) return false;
    CellDrawer& drawer = Drawer(decoder);
    keeper.Begin(grid);
    tallies = ComposeBlock(store, grid, target.Image(), earlier, drawer, cellStates, Placeholder());
    keeper.End();
    lastFrame = &target;
    lastGrid = grid;
    return true;
}

bool MapRenderer::PrepareTarget(FrameBuffer& target, const TileGrid& grid) {
    if (target.Resize(grid.pixelWidth, grid.pixelHeight) && cellStates.Reset(CellCount(grid)))
        return true;
    // Out of memory for the block: nothing can be shown of it.
    lastFrame = nullptr;
    lastGrid.Reset();
    tallies = {};
    return false;
}

PlaceholderPainter MapRenderer::Placeholder() const {
    return [this](QImage& image, const QRect& cell) {
        DrawMissingTile(image, cell.x(), cell.y(), cell.width(), cell.height());
    };
}

void MapRenderer::ResetFrames() {
    CancelComposition();
    keeper.Clear();
    lastFrame = nullptr;
    lastGrid.Reset();
    standIn.Reset();
    presented = {};
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
    presented = {};
    standIn.Reset();
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
