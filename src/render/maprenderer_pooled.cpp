// Composition with the tiles decoded on worker threads.
#include <algorithm>
#include <exception>
#include <new>

#include "maprenderer.h"
#include "maprenderer_pool.h"
#include "tilesource.h"

namespace corvalis {

namespace {

// Per cell of a pooled composition; the pool's workers write kLoaded.
enum CellState : std::uint8_t { kMissing = 0, kLoaded = 1, kReused = 2 };

// Waits for the workers when leaving a batch by any road.
class BatchGuard {
public:
    explicit BatchGuard(DecodePool& pool) : pool_(pool) {}
    ~BatchGuard() { pool_.Finish(); }
    BatchGuard(const BatchGuard&) = delete;
    BatchGuard& operator=(const BatchGuard&) = delete;

private:
    DecodePool& pool_;
};

}  // namespace

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
    if (!pool || pool->Workers() != count) {
        pool.reset();
        try {
            pool = std::make_unique<DecodePool>(count);
        } catch (const std::exception&) {
            // No threads to be had (or no memory): decode on the composing thread.
            pool.reset();
        }
    }
}

int MapRenderer::DecodeThreads() const {
    return pool ? pool->Workers() : 1;
}

void MapRenderer::DrawCellsPooled(TileDatabase& store, TileDecoder& decoder, const TileGrid& grid,
                                  QImage& image, bool reuse) {
    const int tw = grid.tileWidth;
    const int th = grid.tileHeight;
    const auto cells = static_cast<std::size_t>(grid.maxX - grid.minX + 1) *
                       static_cast<std::size_t>(grid.maxY - grid.minY + 1);
    try {
        cellState.assign(cells, kMissing);  // keeps its storage once large enough
    } catch (const std::bad_alloc&) {
        DrawCells(store, decoder, grid, image, reuse);
        return;
    }
    {
        // The workers draw the read tiles while this thread reads the next ones
        // and copies the shared cells from the previous frame.
        pool->Begin(image, cellState);
        BatchGuard batch(*pool);
        // Ends before the wait for the last decodes: the store's lock is held
        // only while tiles are being read.
        const TileDatabase::ReadBatch reads(store);
        std::size_t cell = 0;
        for (int y = grid.minY; y <= grid.maxY; ++y) {
            for (int x = grid.minX; x <= grid.maxX; ++x, ++cell) {
                if (reuse && CopyFromLastFrame(grid, x, y, image)) {
                    cellState[cell] = kReused;
                    continue;
                }
                const int cx = (x - grid.minX) * tw;
                const int cy = (y - grid.minY) * th;
                const std::uint8_t* bytes = nullptr;
                std::int32_t count = 0;
                if (store.ReadTile(grid.zoom, x, y, bytes, count))
                    pool->Submit(static_cast<int>(cell), cx, cy, tw, th, bytes, count);
            }
        }
    }
    // Every worker is done: tally in cell order and draw the placeholders.
    std::size_t cell = 0;
    for (int y = grid.minY; y <= grid.maxY; ++y) {
        for (int x = grid.minX; x <= grid.maxX; ++x, ++cell) {
            switch (cellState[cell]) {
                case kReused: ++reusedCount; break;
                case kLoaded: ++loadedCount; break;
                default:
                    DrawMissingTile(image, (x - grid.minX) * tw, (y - grid.minY) * th, tw, th);
                    ++missingCount;
                    break;
            }
        }
    }
}

}  // namespace corvalis
