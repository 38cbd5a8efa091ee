// Worker threads that decode tiles into disjoint cells of one frame.
//
// The composing thread stays the only store reader: it reads each tile's
// bytes straight into one of a few reusable slots and queues it; a worker with
// its own TileDecoder draws it into its cell. Slots are recycled as workers
// finish, so in steady state nothing is allocated per tile and the memory held
// is a few tiles' bytes. Cells never overlap, so pixels need no lock; Finish
// waits for every queued tile and makes the workers' pixels visible.
#pragma once

#include <QImage>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "composition.h"

namespace corvalis {

class TileDecoder;
struct VectorStyle;

inline constexpr int kMaxDecodeThreads = 16;

// The decode threads a renderer uses by default: one per core, at most 16.
int DefaultDecodeThreads();

class DecodePool final : public CellDrawer {
public:
    // Starts workers (1 to 16) threads, each with its own decoder. Throws
    // std::system_error when a thread cannot be started.
    explicit DecodePool(int workers);
    ~DecodePool() override;
    DecodePool(const DecodePool&) = delete;
    DecodePool& operator=(const DecodePool&) = delete;

    int Workers() const { return static_cast<int>(workers.size()); }
    // From the next tile on, the workers run at a background priority (for good).
    void LowerPriority() { lowerPriority.store(true, std::memory_order_relaxed); }
    // Every worker's decoder draws vector tiles so (TileDecoder::SetVectorStyle).
    // Between compositions only.
    void SetVectorStyle(const std::shared_ptr<const VectorStyle>& style, bool vectorStore);

    // Until Finish, only the workers write the cells they are given; the
    // caller may touch other cells of target but not resize or share it.
    using CellDrawer::Begin;
    void Begin(QImage& target, CellStates& states, const PlaceholderPainter& placeholder) override;
    // A free slot's buffer (waiting for one); it is the caller's until Draw
    // or Release.
    std::vector<std::uint8_t>& Acquire() override;
    void Draw(std::size_t cell, const QRect& rect) override;
    void Release() override;
    void Finish() override;
    // Drops the queued tiles that no worker has begun.
    void Abandon() override;

private:
    struct Slot {
        std::vector<std::uint8_t> bytes;  // grow-only
        std::size_t cell = 0;
        QRect rect;
    };
    struct Worker {
        std::unique_ptr<TileDecoder> decoder;
        QImage frame;  // this worker's own picture over the target's pixels
        std::thread thread;
        bool lowered = false;
    };

    void Run(Worker& worker);
    // Lets the workers finish what is queued, then joins them.
    void Stop();
    // Waits until every slot is free again and ends the composition.
    void WaitIdle(std::unique_lock<std::mutex>& lock);
    std::size_t RefillLevel() const { return std::max<std::size_t>(1, tileSlots.size() / 2); }

    std::mutex mutex;
    std::condition_variable workReady;  // a slot was queued, or stop
    std::condition_variable slotFreed;  // a worker gave a slot back
    std::vector<Slot> tileSlots;
    std::vector<int> freeSlots;  // stack of free slot numbers
    std::vector<int> queue;      // ring of queued slot numbers, as long as tileSlots
    std::size_t queueHead = 0;
    std::size_t queueLength = 0;
    int acquired = -1;  // the slot the composing thread holds
    CellStates* results = nullptr;
    PlaceholderPainter placeholder;  // for tiles that do not decode
    bool stop = false;
    std::atomic<bool> lowerPriority{false};
    std::vector<std::unique_ptr<Worker>> workers;
};

}  // namespace corvalis
