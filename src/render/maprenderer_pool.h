// Worker threads that decode tiles into disjoint cells of one frame.
//
// The composing thread stays the only store reader: it copies each tile's
// bytes into one of a few reusable slots and queues it; a worker with its own
// TileDecoder draws it into its cell. Slots are recycled as workers finish, so
// in steady state nothing is allocated per tile and the memory held is a few
// tiles' bytes. Cells never overlap, so pixels need no lock; Finish waits for
// every queued tile and makes the workers' pixels and results visible.
#pragma once

#include <QImage>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace corvalis {

class TileDecoder;

inline constexpr int kMaxDecodeThreads = 16;

// The decode threads a renderer uses by default: one per core, at most 16.
int DefaultDecodeThreads();

class DecodePool {
public:
    // Starts workers (1 to 16) threads, each with its own decoder. Throws
    // std::system_error when a thread cannot be started.
    explicit DecodePool(int workers);
    ~DecodePool();
    DecodePool(const DecodePool&) = delete;
    DecodePool& operator=(const DecodePool&) = delete;

    int Workers() const { return static_cast<int>(workers.size()); }

    // Starts a batch on target (RGB888). Until Finish, only the workers write
    // the cells they are given, and each one that draws sets loaded[cell] to 1;
    // the caller may touch other cells of target but not resize or share it.
    void Begin(QImage& target, std::vector<std::uint8_t>& loaded);

    // Copies count bytes into a free slot (waiting for one) and queues the tile
    // for the cell (x, y, width, height) of the target. False when the bytes
    // cannot be held (out of memory): nothing is queued.
    bool Submit(int cell, int x, int y, int width, int height, const std::uint8_t* bytes,
                std::int32_t count);

    // Waits until every queued tile has been drawn or has failed.
    void Finish();

private:
    struct Slot {
        std::vector<std::uint8_t> bytes;  // grow-only
        std::int32_t count = 0;
        int cell = 0;
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
    };
    struct Worker {
        std::unique_ptr<TileDecoder> decoder;
        QImage frame;  // this worker's own picture over the target's pixels
        std::thread thread;
    };

    void Run(Worker& worker);
    // Lets the workers finish what is queued, then joins them.
    void Stop();
    std::size_t RefillLevel() const { return std::max<std::size_t>(1, tileSlots.size() / 2); }

    std::mutex mutex;
    std::condition_variable workReady;  // a slot was queued, or stop
    std::condition_variable slotFreed;  // a worker gave a slot back
    std::vector<Slot> tileSlots;
    std::vector<int> freeSlots;  // stack of free slot numbers
    std::vector<int> queue;      // ring of queued slot numbers, as long as tileSlots
    std::size_t queueHead = 0;
    std::size_t queueLength = 0;
    std::vector<std::uint8_t>* results = nullptr;
    bool stop = false;
    std::vector<std::unique_ptr<Worker>> workers;
};

}  // namespace corvalis
