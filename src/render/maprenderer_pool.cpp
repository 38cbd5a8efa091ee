#include "maprenderer_pool.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "tiledecoder.h"

namespace corvalis {

namespace {

// Queued tiles per worker: enough to keep every worker busy while the
// composing thread reads the next tiles.
constexpr int kSlotsPerWorker = 4;

}  // namespace

int DefaultDecodeThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(cores), 1, kMaxDecodeThreads);
}

DecodePool::DecodePool(int workerCount) {
    workerCount = std::clamp(workerCount, 1, kMaxDecodeThreads);
    const std::size_t slotCount = static_cast<std::size_t>(workerCount) * kSlotsPerWorker;
    tileSlots.resize(slotCount);
    queue.resize(slotCount);
    freeSlots.reserve(slotCount);
    for (std::size_t i = slotCount; i-- > 0;) freeSlots.push_back(static_cast<int>(i));
    workers.reserve(static_cast<std::size_t>(workerCount));
    for (int i = 0; i < workerCount; ++i) {
        auto worker = std::make_unique<Worker>();
        worker->decoder = std::make_unique<TileDecoder>();
        workers.push_back(std::move(worker));
    }
    // Started once every member exists: a worker touches only its own entry.
    try {
        for (auto& worker : workers)
            worker->thread = std::thread([this, w = worker.get()] { Run(*w); });
    } catch (...) {
        Stop();  // the threads that did start
        throw;
    }
}

DecodePool::~DecodePool() {
    Stop();
}

void DecodePool::Stop() {
    {
        std::lock_guard lock(mutex);
        stop = true;
    }
    workReady.notify_all();
    for (auto& worker : workers)
        if (worker->thread.joinable()) worker->thread.join();
}

void DecodePool::Begin(QImage& target, std::vector<std::uint8_t>& loaded) {
    std::lock_guard lock(mutex);
    results = &loaded;
    // Each worker draws through a picture of its own over the same pixels, so
    // that no picture object is shared between threads.
    uchar* bits = target.bits();
    for (auto& worker : workers)
        worker->frame =
            QImage(bits, target.width(), target.height(), target.bytesPerLine(), target.format());
}

bool DecodePool::Submit(int cell, int x, int y, int width, int height, const std::uint8_t* bytes,
                        std::int32_t count) {
    if (bytes == nullptr || count < 1) return false;
    int number = 0;
    {
        std::unique_lock lock(mutex);
        // With every slot taken, wait until half are free and refill them in
        // one go: one wake-up of this thread per few tiles, not one per tile.
        if (freeSlots.empty())
            slotFreed.wait(lock, [this] { return freeSlots.size() >= RefillLevel(); });
        number = freeSlots.back();
        freeSlots.pop_back();
    }
    // The slot is this thread's until queued.
    Slot& slot = tileSlots[static_cast<std::size_t>(number)];
    bool held = true;
    try {
        if (slot.bytes.size() < static_cast<std::size_t>(count))
            slot.bytes.resize(static_cast<std::size_t>(count));
        std::memcpy(slot.bytes.data(), bytes, static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        held = false;
    }
    {
        std::lock_guard lock(mutex);
        if (!held) {
            freeSlots.push_back(number);
            return false;
        }
        slot.count = count;
        slot.cell = cell;
        slot.x = x;
        slot.y = y;
        slot.width = width;
        slot.height = height;
        queue[(queueHead + queueLength) % queue.size()] = number;
        ++queueLength;
    }
    workReady.notify_one();
    return true;
}

void DecodePool::Finish() {
    std::unique_lock lock(mutex);
    slotFreed.wait(lock, [this] { return freeSlots.size() == tileSlots.size(); });
    results = nullptr;
    for (auto& worker : workers) worker->frame = QImage();
}

void DecodePool::Run(Worker& worker) {
    std::unique_lock lock(mutex);
    for (;;) {
        workReady.wait(lock, [this] { return stop || queueLength > 0; });
        if (queueLength == 0) return;  // stopping with nothing left to do
        const int number = queue[queueHead];
        queueHead = (queueHead + 1) % queue.size();
        --queueLength;
        const Slot& slot = tileSlots[static_cast<std::size_t>(number)];
        std::vector<std::uint8_t>& loaded = *results;
        lock.unlock();
        // Cells are disjoint: these pixels and this result are written by this thread only.
        const bool drawn = worker.decoder->DrawTile(&worker.frame, slot.x, slot.y, slot.width,
                                                    slot.height, slot.bytes.data(), slot.count);
        if (drawn) loaded[static_cast<std::size_t>(slot.cell)] = 1;
        lock.lock();
        freeSlots.push_back(number);
        // Only the levels that the composing thread waits for are worth a wake-up.
        if (freeSlots.size() == RefillLevel() || freeSlots.size() == tileSlots.size())
            slotFreed.notify_one();
    }
}

}  // namespace corvalis
