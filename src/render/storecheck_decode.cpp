#include "storecheck_decode.h"

#include <QImage>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>

#include "maprenderer_pool.h"
#include "tiledecoder.h"

namespace corvalis {

namespace {

constexpr std::size_t kSlotsPerWorker = 4;
constexpr std::size_t kSlotKeepBytes = std::size_t{4} << 20;

// The colour of a picture whose pixels all share one; nothing otherwise.
bool SingleColour(const QImage& picture, std::uint32_t& colour) {
    const int w = picture.width(), h = picture.height();
    if (w < 1 || h < 1) return false;
    const uchar* first = picture.constScanLine(0);
    for (std::ptrdiff_t x = 1; x < w; ++x)
        if (std::memcmp(first, first + 3 * x, 3) != 0) return false;
    const auto rowBytes = static_cast<std::size_t>(w) * 3;
    for (int y = 1; y < h; ++y)
        if (std::memcmp(first, picture.constScanLine(y), rowBytes) != 0) return false;
    colour = (std::uint32_t{first[0]} << 16) | (std::uint32_t{first[1]} << 8) | first[2];
    return true;
}

}  // namespace

DecodeResult DecodeForCheck(TileDecoder& decoder, QImage& picture, const DecodeJob& job,
                            const std::uint8_t* data, std::size_t size) {
    DecodeResult result;
    result.job = job;
    if (picture.width() != job.width || picture.height() != job.height)
        picture = QImage(job.width, job.height, QImage::Format_RGB888);
    if (picture.isNull()) {
        result.error = "out of memory";
        return result;
    }
    result.decoded = decoder.DrawTile(&picture, 0, 0, job.width, job.height, data,
                                      static_cast<std::int64_t>(size));
    if (!result.decoded)
        result.error = decoder.LastError();
    else
        result.singleColour = SingleColour(picture, result.colour);
    return result;
}

struct ParallelCheckDecoder::Worker {
    TileDecoder decoder;
    QImage picture;
    std::thread thread;
};

ParallelCheckDecoder::ParallelCheckDecoder(int threads) {
    threads = std::clamp(threads, 1, kMaxDecodeThreads);
    const std::size_t slotCount = static_cast<std::size_t>(threads) * kSlotsPerWorker;
    slots_.resize(slotCount);
    queue_.resize(slotCount);
    for (std::size_t i = slotCount; i-- > 0;) free_.push_back(static_cast<int>(i));
    for (int i = 0; i < threads; ++i) workers_.push_back(std::make_unique<Worker>());
    try {
        for (auto& worker : workers_)
            worker->thread = std::thread([this, w = worker.get()] { Run(*w); });
    } catch (...) {
        Stop();
        throw;
    }
}

ParallelCheckDecoder::~ParallelCheckDecoder() {
    Stop();
}

void ParallelCheckDecoder::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    workReady_.notify_all();
    for (auto& worker : workers_)
        if (worker->thread.joinable()) worker->thread.join();
}

void ParallelCheckDecoder::Submit(const DecodeJob& job, const std::uint8_t* data,
                                  std::size_t size) {
    int number = -1;
    {
        std::unique_lock lock(mutex_);
        slotFreed_.wait(lock, [this] { return !free_.empty(); });
        number = free_.back();
        free_.pop_back();
    }
    // The slot is this thread's until it is queued.
    Slot& slot = slots_[static_cast<std::size_t>(number)];
    slot.job = job;
    slot.bytes.assign(data, data + size);
    {
        std::lock_guard lock(mutex_);
        queue_[(queueHead_ + queueLength_) % queue_.size()] = number;
        ++queueLength_;
    }
    workReady_.notify_one();
}

void ParallelCheckDecoder::Collect(std::vector<DecodeResult>& out, bool wait) {
    std::unique_lock lock(mutex_);
    if (wait) slotFreed_.wait(lock, [this] { return free_.size() == slots_.size(); });
    std::move(done_.begin(), done_.end(), std::back_inserter(out));
    done_.clear();
}

void ParallelCheckDecoder::Run(Worker& worker) {
    std::unique_lock lock(mutex_);
    for (;;) {
        workReady_.wait(lock, [this] { return stop_ || queueLength_ > 0; });
        if (queueLength_ == 0) return;  // stopping with nothing left to do
        const int number = queue_[queueHead_];
        queueHead_ = (queueHead_ + 1) % queue_.size();
        --queueLength_;
        Slot& slot = slots_[static_cast<std::size_t>(number)];
        lock.unlock();
        DecodeResult result = DecodeForCheck(worker.decoder, worker.picture, slot.job,
                                             slot.bytes.data(), slot.bytes.size());
        if (slot.bytes.capacity() > kSlotKeepBytes) std::vector<std::uint8_t>().swap(slot.bytes);
        lock.lock();
        done_.push_back(std::move(result));
        free_.push_back(number);
        slotFreed_.notify_one();
    }
}

}  // namespace corvalis
