// One composition on a thread of its own, the composer: it reads the store
// and hands the tiles to the drawer, as ComposeBlock does on the caller's
// thread. While it runs, the store, the drawer, the target's pixels outside
// cells already set in the states, and the states' storage are the composer's;
// the thread that started it reads finished cells only, and joins it before
// it touches any of the rest again.
#pragma once

#include <QImage>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "composition.h"

namespace corvalis {

class TileDatabase;

struct CompositionJob {
    TileDatabase* store = nullptr;
    TileGrid grid;
    QImage target;  // a picture over the frame's pixels, for the composer alone
    EarlierFrame earlier;
    CellDrawer* drawer = nullptr;
    CellStates* states = nullptr;  // reset to the grid's cells
    PlaceholderPainter placeholder;
    std::vector<std::uint32_t> order;
};

class BackgroundComposition {
public:
    BackgroundComposition() = default;
    ~BackgroundComposition();  // cancels and joins
    BackgroundComposition(const BackgroundComposition&) = delete;
    BackgroundComposition& operator=(const BackgroundComposition&) = delete;

    // Starts the job on a new thread; ended is called on that thread once
    // the composition has ended either way. False when no thread could be
    // started (nothing runs then). Only while not Active.
    bool Start(CompositionJob job, std::function<void()> ended);

    // A composition was started and is not taken in by Join yet.
    bool Active() const { return active_; }
    bool Ended() const { return ended_.load(std::memory_order_acquire); }
    const TileGrid& Grid() const { return job_.grid; }

    // No further cell is begun, the tile being read is cut short and the
    // decodes not begun are dropped. Ended follows soon after.
    void Cancel();
    bool Cancelled() const { return cancel_.load(std::memory_order_relaxed); }

    // Waits until the composer has ended.
    void Wait();
    // Waits for the composer and ends the run: its tallies (none when it was
    // cancelled). Grid stays until the next Start.
    CompositionTallies Join();

private:
    CompositionJob job_;
    bool active_ = false;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> ended_{false};
    CompositionTallies tallies_;
    std::thread thread_;
};

}  // namespace corvalis
