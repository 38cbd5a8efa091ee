#include "composition.h"

#include <algorithm>
#include <new>

#include "maprenderer_frame.h"
#include "tiledecoder.h"
#include "tilesource.h"
#include "vectorkeeper.h"

namespace corvalis {

namespace {

// Ends the drawer's part of a composition when leaving it by any road: waits
// for every tile, or drops the ones not begun when the composition is given up.
class DrawerEnd {
public:
    explicit DrawerEnd(CellDrawer& drawer) : drawer_(drawer) {}
    ~DrawerEnd() { abandon ? drawer_.Abandon() : drawer_.Finish(); }
    DrawerEnd(const DrawerEnd&) = delete;
    DrawerEnd& operator=(const DrawerEnd&) = delete;
    bool abandon = true;

private:
    CellDrawer& drawer_;
};

QRect CellRect(const TileGrid& grid, int x, int y) {
    int cx = 0, cy = 0;
    grid.CellOffset(x, y, cx, cy);
    return {cx, cy, grid.tileWidth, grid.tileHeight};
}

// The tile address of a cell number (row-major).
void CellAddress(const TileGrid& grid, std::size_t cell, int& x, int& y) {
    const auto columns = static_cast<std::size_t>(grid.maxX - grid.minX + 1);
    x = grid.minX + static_cast<int>(cell % columns);
    y = grid.minY + static_cast<int>(cell / columns);
}

int FloorDiv(int a, int b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

bool CopyFromEarlier(const EarlierFrame& earlier, const QRect& cell, int x, int y, QImage& target) {
    int ox = 0, oy = 0;
    if (earlier.frame == nullptr || !earlier.grid.CellOffset(x, y, ox, oy)) return false;
    CopyPixels(*earlier.frame, ox, oy, cell.width(), cell.height(), target, cell.x(), cell.y());
    return true;
}

struct CellComposer {
    TileDatabase& store;
    const TileGrid& grid;
    QImage& target;
    const EarlierFrame& earlier;
    CellDrawer& drawer;
    CellStates& states;
    const PlaceholderPainter& placeholder;

    // Copies the cell from the earlier frame, or reads it and hands it to the drawer.
    void Compose(std::size_t cell) {
        int x = 0, y = 0;
        CellAddress(grid, cell, x, y);
        const QRect rect = CellRect(grid, x, y);
        if (CopyFromEarlier(earlier, rect, x, y, target)) {
            states.Set(cell, kCellReused);
            return;
        }
        std::vector<std::uint8_t>& bytes = drawer.Acquire();
        if (store.ReadTile(grid.zoom, x, y, bytes)) {
            drawer.Draw(cell, rect);
            return;
        }
        drawer.Release();
        if (placeholder) placeholder(target, rect);
        states.Set(cell, kCellMissing);
    }
};

bool Cancelled(const CompositionPlan& plan) {
    return plan.cancel != nullptr && plan.cancel->load(std::memory_order_acquire);
}

// Reads and hands to the drawer every cell the earlier frame does not hold, in
// the plan's order; false when the plan's cancel flag stopped it.
bool ReadCells(CellComposer& composer, const CompositionPlan& plan) {
    const TileDatabase::ReadBatch reads(composer.store);
    const std::size_t cells = composer.states.Count();
    for (std::size_t i = 0; i < cells; ++i) {
        if (Cancelled(plan)) return false;
        composer.Compose(plan.order != nullptr ? (*plan.order)[i] : i);
    }
    return true;
}

// The distance in cells from a cell to a range of cells along one axis.
int CellDistance(int cell, int first, int last) {
    return cell < first ? first - cell : cell > last ? cell - last : 0;
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

void CellDrawer::HandOver(TileDecoder& decoder, std::size_t cell, bool drawn) const {
    if (keeper_ == nullptr || !decoder.VectorStore()) return;
    keeper_->Put(cell, drawn ? decoder.TakeVectorTile() : nullptr);
}

void InlineDrawer::Begin(QImage& target, CellStates& states,
                         const PlaceholderPainter& placeholder) {
    target_ = &target;
    states_ = &states;
    placeholder_ = placeholder;
}

void InlineDrawer::Draw(std::size_t cell, const QRect& rect) {
    const bool drawn = decoder_ != nullptr &&
                       decoder_->DrawTile(target_, rect.x(), rect.y(), rect.width(), rect.height(),
                                          bytes_.data(), static_cast<std::int64_t>(bytes_.size()));
    if (!drawn && placeholder_) placeholder_(*target_, rect);
    if (decoder_ != nullptr) HandOver(*decoder_, cell, drawn);
    states_->Set(cell, drawn ? kCellLoaded : kCellMissing);
}

std::size_t CellCount(const TileGrid& grid) {
    if (grid.IsEmpty()) return 0;
    return static_cast<std::size_t>(grid.maxX - grid.minX + 1) *
           static_cast<std::size_t>(grid.maxY - grid.minY + 1);
}

std::vector<std::uint32_t> VisibleFirstOrder(const TileGrid& grid, const QRect& rect) {
    const std::size_t cells = CellCount(grid);
    std::vector<std::uint32_t> order(cells);
    if (cells == 0) return order;
    const int columns = grid.maxX - grid.minX + 1;
    // The range of columns and rows that rect touches (may be empty or outside).
    const int firstX = FloorDiv(rect.left(), grid.tileWidth);
    const int lastX = FloorDiv(rect.left() + rect.width() - 1, grid.tileWidth);
    const int firstY = FloorDiv(rect.top(), grid.tileHeight);
    const int lastY = FloorDiv(rect.top() + rect.height() - 1, grid.tileHeight);
    std::vector<int> distance(cells);
    for (std::size_t i = 0; i < cells; ++i) {
        order[i] = static_cast<std::uint32_t>(i);
        const int column = static_cast<int>(i % static_cast<std::size_t>(columns));
        const int row = static_cast<int>(i / static_cast<std::size_t>(columns));
        distance[i] =
            std::max(CellDistance(column, firstX, lastX), CellDistance(row, firstY, lastY));
    }
    std::stable_sort(order.begin(), order.end(), [&distance](std::uint32_t a, std::uint32_t b) {
        return distance[a] < distance[b];
    });
    return order;
}

CompositionTallies ComposeBlock(TileDatabase& store, const TileGrid& grid, QImage& target,
                                const EarlierFrame& earlier, CellDrawer& drawer, CellStates& states,
                                const PlaceholderPainter& placeholder,
                                const CompositionPlan& plan) {
    CompositionTallies tallies;
    const std::size_t cells = CellCount(grid);
    if (cells == 0 || states.Count() != cells) return tallies;
    if (plan.order != nullptr && plan.order->size() != cells) return tallies;
    const EarlierFrame lender =
        earlier.frame != nullptr && earlier.grid.zoom == grid.zoom ? earlier : EarlierFrame{};
    CellComposer composer{store, grid, target, lender, drawer, states, placeholder};
    {
        drawer.Begin(target, states, placeholder);
        DrawerEnd end(drawer);
        if (!ReadCells(composer, plan)) return tallies;
        end.abandon = false;
    }
    // Every drawing is done: tally (a cell left pending is missing).
    for (std::size_t cell = 0; cell < cells; ++cell) {
        switch (states.Get(cell)) {
            case kCellReused: ++tallies.reused; break;
            case kCellLoaded: ++tallies.loaded; break;
            case kCellMissing: ++tallies.missing; break;
            default: {
                int x = 0, y = 0;
                CellAddress(grid, cell, x, y);
                if (placeholder) placeholder(target, CellRect(grid, x, y));
                states.Set(cell, kCellMissing);
                ++tallies.missing;
                break;
            }
        }
    }
    return tallies;
}

}  // namespace corvalis
