// The one composition loop: every cell of a block of tiles is copied from an
// earlier frame that holds it, or read from the store and drawn, or given the
// placeholder. The map's frames and the overview's picture are both made by it;
// the drawing itself happens on the composing thread or on the decode pool.
#pragma once

#include <QImage>
#include <QRect>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "mapviewport.h"

namespace corvalis {

class TileDatabase;
class TileDecoder;
class VectorTileKeeper;

enum CellState : std::uint8_t {
    kCellPending = 0,
    kCellLoaded = 1,
    kCellReused = 2,
    kCellMissing = 3
};

// The state of every cell of one composition, in row-major order. Cells are
// set by whichever thread draws them, once their pixels are final; the storage
// only grows. Reset and SetListener belong to the thread that starts the
// composition, before it starts.
class CellStates {
public:
    // count cells, all pending; false when the memory cannot be had.
    bool Reset(std::size_t count);
    std::size_t Count() const { return count_; }
    CellState Get(std::size_t cell) const {
        return static_cast<CellState>(cells_[cell].load(std::memory_order_acquire));
    }
    void Set(std::size_t cell, CellState state) {
        cells_[cell].store(state, std::memory_order_release);
        if (listener_) listener_();
    }
    // Called on the setting thread after every Set (empty: nothing is called).
    void SetListener(std::function<void()> listener) { listener_ = std::move(listener); }

private:
    std::unique_ptr<std::atomic<std::uint8_t>[]> cells_;
    std::size_t count_ = 0;
    std::size_t capacity_ = 0;
    std::function<void()> listener_;
};

// Draws the placeholder into a rectangle of a picture.
using PlaceholderPainter = std::function<void(QImage& target, const QRect& rect)>;

// Draws the tiles a composition reads into their cells.
class CellDrawer {
public:
    virtual ~CellDrawer() = default;
    // Starts a composition into target (RGB888), whose cells' results go to
    // states; a tile that does not decode gets the placeholder, when one is given.
    virtual void Begin(QImage& target, CellStates& states,
                       const PlaceholderPainter& placeholder) = 0;
    void Begin(QImage& target, CellStates& states) { Begin(target, states, PlaceholderPainter()); }
    // The buffer to read the next tile into (may wait until one is free).
    virtual std::vector<std::uint8_t>& Acquire() = 0;
    // Draws the tile in the buffer last acquired into rect of the target and
    // sets the cell loaded, or missing when it does not decode.
    virtual void Draw(std::size_t cell, const QRect& rect) = 0;
    // Gives the buffer last acquired back without drawing it.
    virtual void Release() = 0;
    // Waits until every tile given to Draw has been drawn or has failed.
    virtual void Finish() = 0;
    // Ends a composition that is given up: tiles not yet begun are dropped
    // (their cells stay pending); waits for the ones being drawn.
    virtual void Abandon() { Finish(); }

    // Where the vector tiles decoded from now on are handed over (null:
    // nowhere). Set while no composition runs.
    void SetVectorKeeper(VectorTileKeeper* keeper) { keeper_ = keeper; }

protected:
    // Called by the drawing thread once a tile of a vector store is drawn
    // (or failed), before its cell is set.
    void HandOver(TileDecoder& decoder, std::size_t cell, bool drawn) const;

private:
    VectorTileKeeper* keeper_ = nullptr;
};

// Decodes every tile on the composing thread, with one decoder.
class InlineDrawer final : public CellDrawer {
public:
    explicit InlineDrawer(TileDecoder* decoder = nullptr) : decoder_(decoder) {}
    void SetDecoder(TileDecoder* decoder) { decoder_ = decoder; }
    using CellDrawer::Begin;
    void Begin(QImage& target, CellStates& states, const PlaceholderPainter& placeholder) override;
    std::vector<std::uint8_t>& Acquire() override { return bytes_; }
    void Draw(std::size_t cell, const QRect& rect) override;
    void Release() override {}
    void Finish() override {}

private:
    TileDecoder* decoder_;
    QImage* target_ = nullptr;
    CellStates* states_ = nullptr;
    PlaceholderPainter placeholder_;
    std::vector<std::uint8_t> bytes_;
};

// The frame of an earlier composition: at the same zoom, it lends the cells
// both blocks share.
struct EarlierFrame {
    const QImage* frame = nullptr;
    TileGrid grid;
};

struct CompositionTallies {
    int loaded = 0;
    int reused = 0;
    int missing = 0;
};

// How a composition goes through its cells.
struct CompositionPlan {
    // Cell numbers (row-major) in the order they are composed, each cell once;
    // null: rows top to bottom and columns left to right.
    const std::vector<std::uint32_t>* order = nullptr;
    // Once set (by any thread), no further cell is begun and the composition is given up.
    const std::atomic<bool>* cancel = nullptr;
};

// The number of cells of a grid (0 when empty).
std::size_t CellCount(const TileGrid& grid);

// The cells that intersect rect (in the block's pixels) first, rows top to
// bottom and columns left to right; then the others, nearest to rect first.
std::vector<std::uint32_t> VisibleFirstOrder(const TileGrid& grid, const QRect& rect);

// Composes every cell of grid into target (RGB888, grid.pixelWidth x
// grid.pixelHeight); states must have been reset to the grid's cell count. The
// store's reads share one read batch. Cells that are absent or do not decode
// get the placeholder when one is given and are left as they are otherwise.
// A composition that is cancelled returns no tallies, with the cells it did
// not reach pending.
CompositionTallies ComposeBlock(TileDatabase& store, const TileGrid& grid, QImage& target,
                                const EarlierFrame& earlier, CellDrawer& drawer, CellStates& states,
                                const PlaceholderPainter& placeholder,
                                const CompositionPlan& plan = {});

}  // namespace corvalis
