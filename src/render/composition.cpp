#include "composition.h"

#include <new>

#include "maprenderer_frame.h"
#include "tiledecoder.h"
#include "tilesource.h"

namespace corvalis {

namespace {

// Waits for the drawer when leaving a composition by any road.
class DrawerFinish {
public:
    explicit DrawerFinish(CellDrawer& drawer) : drawer_(drawer) {}
    ~DrawerFinish() { drawer_.Finish(); }
    DrawerFinish(const DrawerFinish&) = delete;
    DrawerFinish& operator=(const DrawerFinish&) = delete;

private:
    CellDrawer& drawer_;
};

QRect CellRect(const TileGrid& grid, int x, int y) {
    int cx = 0, cy = 0;
    grid.CellOffset(x, y, cx, cy);
    return {cx, cy, grid.tileWidth, grid.tileHeight};
}

bool CopyFromEarlier(const EarlierFrame& earlier, const QRect& cell, int x, int y, QImage& target) {
    int ox = 0, oy = 0;
    if (earlier.frame == nullptr || !earlier.grid.CellOffset(x, y, ox, oy)) return false;
    CopyPixels(*earlier.frame, ox, oy, cell.width(), cell.height(), target, cell.x(), cell.y());
    return true;
}

// Reads and hands to the drawer every cell the earlier frame does not hold.
void ReadCells(TileDatabase& store, const TileGrid& grid, QImage& target,
               const EarlierFrame& earlier, CellDrawer& drawer, CellStates& states) {
    const TileDatabase::ReadBatch reads(store);
    std::size_t cell = 0;
    for (int y = grid.minY; y <= grid.maxY; ++y) {
        for (int x = grid.minX; x <= grid.maxX; ++x, ++cell) {
            const QRect rect = CellRect(grid, x, y);
            if (CopyFromEarlier(earlier, rect, x, y, target)) {
                states.Set(cell, kCellReused);
                continue;
            }
            std::vector<std::uint8_t>& bytes = drawer.Acquire();
            if (store.ReadTile(grid.zoom, x, y, bytes)) {
                drawer.Draw(cell, rect);
            } else {
                drawer.Release();
                states.Set(cell, kCellMissing);
            }
        }
    }
}

}  // namespace

bool CellStates::Reset(std::size_t count) {
    if (count > capacity_) {
        cells_.reset(new (std::nothrow) std::atomic<std::uint8_t>[count]);
        capacity_ = cells_ ? count : 0;
        if (!cells_) {
            count_ = 0;
            return false;
        }
    }
    count_ = count;
    for (std::size_t i = 0; i < count; ++i)
        cells_[i].store(kCellPending, std::memory_order_relaxed);
    return true;
}

void InlineDrawer::Begin(QImage& target, CellStates& states) {
    target_ = &target;
    states_ = &states;
}

void InlineDrawer::Draw(std::size_t cell, const QRect& rect) {
    const bool drawn = decoder_ != nullptr &&
                       decoder_->DrawTile(target_, rect.x(), rect.y(), rect.width(), rect.height(),
                                          bytes_.data(), static_cast<std::int64_t>(bytes_.size()));
    states_->Set(cell, drawn ? kCellLoaded : kCellMissing);
}

CompositionTallies ComposeBlock(TileDatabase& store, const TileGrid& grid, QImage& target,
                                const EarlierFrame& earlier, CellDrawer& drawer, CellStates& states,
                                const PlaceholderPainter& placeholder) {
    CompositionTallies tallies;
    const auto cells = static_cast<std::size_t>(grid.maxX - grid.minX + 1) *
                       static_cast<std::size_t>(grid.maxY - grid.minY + 1);
    if (grid.IsEmpty() || !states.Reset(cells)) return tallies;
    const EarlierFrame lender =
        earlier.frame != nullptr && earlier.grid.zoom == grid.zoom ? earlier : EarlierFrame{};
    {
        drawer.Begin(target, states);
        const DrawerFinish finish(drawer);
        ReadCells(store, grid, target, lender, drawer, states);
    }
    // Every drawing is done: tally in cell order and draw the placeholders.
    std::size_t cell = 0;
    for (int y = grid.minY; y <= grid.maxY; ++y) {
        for (int x = grid.minX; x <= grid.maxX; ++x, ++cell) {
            switch (states.Get(cell)) {
                case kCellReused: ++tallies.reused; break;
                case kCellLoaded: ++tallies.loaded; break;
                default:
                    states.Set(cell, kCellMissing);
                    if (placeholder) placeholder(target, CellRect(grid, x, y));
                    ++tallies.missing;
                    break;
            }
        }
    }
    return tallies;
}

}  // namespace corvalis
