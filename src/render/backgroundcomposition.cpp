#include "backgroundcomposition.h"

#include <exception>
#include <utility>

#include "threadpriority.h"
#include "tilesource.h"

namespace corvalis {

BackgroundComposition::~BackgroundComposition() {
    if (!Active()) return;
    Cancel();
    Join();
}

bool BackgroundComposition::Start(CompositionJob job, std::function<void()> ended) {
    if (Active() || job.store == nullptr || job.drawer == nullptr || job.states == nullptr)
        return false;
    job_ = std::move(job);
    cancel_.store(false, std::memory_order_relaxed);
    ended_.store(false, std::memory_order_relaxed);
    tallies_ = {};
    try {
        thread_ = std::thread([this, ended = std::move(ended)] {
            LowerThisThreadsPriority();
            const CompositionPlan plan{&job_.order, &cancel_};
            tallies_ = ComposeBlock(*job_.store, job_.grid, job_.target, job_.earlier, *job_.drawer,
                                    *job_.states, job_.placeholder, plan);
            ended_.store(true, std::memory_order_release);
            if (ended) ended();
        });
    } catch (const std::exception&) {
        return false;
    }
    active_ = true;
    return true;
}

void BackgroundComposition::Wait() {
    if (thread_.joinable()) thread_.join();
}

void BackgroundComposition::Cancel() {
    if (!Active() || Cancelled()) return;
    cancel_.store(true, std::memory_order_release);
    job_.store->InterruptReads();
}

CompositionTallies BackgroundComposition::Join() {
    Wait();
    active_ = false;
    if (Cancelled()) job_.store->ResumeReads();
    // The composer's picture goes with it: the frame's pixels are the caller's again.
    job_.target = QImage();
    return Cancelled() ? CompositionTallies{} : tallies_;
}

}  // namespace corvalis
