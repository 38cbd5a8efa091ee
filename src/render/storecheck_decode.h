// The store check's decoding: every raster tile decoded on all cores with
// the renderer's decoder (one TileDecoder per thread), each into a scratch
// picture of the tile's own size, then looked at for a single colour.
//
// The checking thread stays the only store reader: it copies each tile's bytes
// into one of a few reusable slots and queues it; workers decode and leave
// their results for the checking thread to collect.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "storecheck.h"

class QImage;

namespace corvalis {

class TileDecoder;

class ParallelCheckDecoder final : public CheckDecoder {
public:
    // Starts threads (1 to 16) workers. Throws std::system_error when a
    // thread cannot be started.
    explicit ParallelCheckDecoder(int threads);
    ~ParallelCheckDecoder() override;
    ParallelCheckDecoder(const ParallelCheckDecoder&) = delete;
    ParallelCheckDecoder& operator=(const ParallelCheckDecoder&) = delete;

    int Threads() const override { return static_cast<int>(workers_.size()); }
    void Submit(const DecodeJob& job, const std::uint8_t* data, std::size_t size) override;
    void Collect(std::vector<DecodeResult>& out, bool wait) override;

private:
    struct Slot {
        DecodeJob job;
        std::vector<std::uint8_t> bytes;  // grow-only up to a limit
    };
    struct Worker;

    void Run(Worker& worker);
    void Stop();

    std::mutex mutex_;
    std::condition_variable workReady_;  // a slot was queued, or stop
    std::condition_variable slotFreed_;  // a worker finished a slot
    std::vector<Slot> slots_;
    std::vector<int> free_;   // stack of free slot numbers
    std::vector<int> queue_;  // ring of queued slot numbers
    std::size_t queueHead_ = 0;
    std::size_t queueLength_ = 0;
    bool stop_ = false;
    std::vector<DecodeResult> done_;
    std::vector<std::unique_ptr<Worker>> workers_;
};

// Decodes one tile into picture (made or reused at the job's size) and says
// whether it is of a single colour. For one thread at a time per picture.
DecodeResult DecodeForCheck(TileDecoder& decoder, QImage& picture, const DecodeJob& job,
                            const std::uint8_t* data, std::size_t size);

}  // namespace corvalis
