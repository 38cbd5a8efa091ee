#include "maprenderer_pool.h"

#include <algorithm>
#include <new>

#include "threadpriority.h"
#include "tiledecoder.h"

namespace corvalis {

namespace {

// Queued tiles per worker: enough to keep every worker busy while the
// composing thread reads the next tiles.
constexpr int kSlotsPerWorker = 4;

// A slot keeps the storage of tiles up to this size for the next ones; an
// oversized tile's bytes are let go as soon as it is drawn.
constexpr std::size_t kSlotKeepBytes = std::size_t{4} << 20;

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

void DecodePool::SetVectorStyle(const std::shared_ptr<const VectorStyle>& style,
                                bool vectorStore) {
    std::lock_guard lock(mutex);
    for (auto& worker : workers) worker->decoder->SetVectorStyle(style, vectorStore);
}

void DecodePool::Begin(QImage& target, CellStates& states, const PlaceholderPainter& painter) {
    std::lock_guard lock(mutex);
    results = &states;
    placeholder = painter;
    // Each worker draws through a picture of its own over the same pixels, so
    // that no picture object is shared between threads.
    uchar* bits = target.bits();
    for (auto& worker : workers)
        worker->frame =
            QImage(bits, target.width(), target.height(), target.bytesPerLine(), target.format());
}

std::vector<std::uint8_t>& DecodePool::Acquire() {
    std::unique_lock lock(mutex);
    if (acquired < 0) {
        // With every slot taken, wait until half are free and refill them in
        // one go: one wake-up of this thread per few tiles, not one per tile.
        if (freeSlots.empty())
            slotFreed.wait(lock, [this] { return freeSlots.size() >= RefillLevel(); });
        acquired = freeSlots.back();
        freeSlots.pop_back();
    }
    // The slot is this thread's until queued or given back.
    return tileSlots[static_cast<std::size_t>(acquired)].bytes;
}

void DecodePool::Draw(std::size_t cell, const QRect& rect) {
    {
        std::lock_guard lock(mutex);
        if (acquired < 0) return;
        Slot& slot = tileSlots[static_cast<std::size_t>(acquired)];
        slot.cell = cell;
        slot.rect = rect;
        queue[(queueHead + queueLength) % queue.size()] = acquired;
        ++queueLength;
        acquired = -1;
    }
    workReady.notify_one();
}

void DecodePool::Release() {
    std::lock_guard lock(mutex);
    if (acquired < 0) return;
    freeSlots.push_back(acquired);
    acquired = -1;
}

void DecodePool::Finish() {
    Release();
    std::unique_lock lock(mutex);
    WaitIdle(lock);
}

void DecodePool::Abandon() {
    Release();
    std::unique_lock lock(mutex);
    for (; queueLength > 0; --queueLength) {
        freeSlots.push_back(queue[queueHead]);
        queueHead = (queueHead + 1) % queue.size();
    }
    WaitIdle(lock);
}

void DecodePool::WaitIdle(std::unique_lock<std::mutex>& lock) {
    slotFreed.wait(lock, [this] { return freeSlots.size() == tileSlots.size(); });
    results = nullptr;
    placeholder = nullptr;
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
        Slot& slot = tileSlots[static_cast<std::size_t>(number)];
        CellStates& states = *results;
        const PlaceholderPainter& painter = placeholder;
        lock.unlock();
        if (!worker.lowered && lowerPriority.load(std::memory_order_relaxed)) {
            LowerThisThreadsPriority();
            worker.lowered = true;
        }
        // Cells are disjoint: these pixels and this state are written by this thread only.
        const bool drawn = worker.decoder->DrawTile(
            &worker.frame, slot.rect.x(), slot.rect.y(), slot.rect.width(), slot.rect.height(),
            slot.bytes.data(), static_cast<std::int64_t>(slot.bytes.size()));
        if (!drawn && painter) painter(worker.frame, slot.rect);
        HandOver(*worker.decoder, slot.cell, drawn);
        states.Set(slot.cell, drawn ? kCellLoaded : kCellMissing);
        if (slot.bytes.capacity() > kSlotKeepBytes) std::vector<std::uint8_t>().swap(slot.bytes);
        lock.lock();
        freeSlots.push_back(number);
        // Only the levels that the composing thread waits for are worth a wake-up.
        if (freeSlots.size() == RefillLevel() || freeSlots.size() == tileSlots.size())
            slotFreed.notify_one();
    }
}

}  // namespace corvalis
