// Rendering on photo stores (the Earth picture, JPEG and PNG, 256 and
// 512-pixel tiles) in a 1920 x 1080 view, each against a baseline of the same run:
//   DrawTile/KIND              each tile of the view's block in turn into an
//                              aligned frame of one cell, against the bare
//                              library decode into a plain buffer of the same
//                              size (so that only DrawTile's own work differs);
//   RenderMap/KIND/threads:1   a forced render (about 300 tiles at 256 pixels)
//                              against the floor: the same tiles read and
//                              decoded straight into a frame by a minimal loop;
//   RenderMap/KIND/threads:N   the same on N decode threads (one per core)
//                              against one thread;
//   paired/KIND/ceiling/...    the bare decode of the same tiles shared out
//                              among N threads that do nothing else, against
//                              one: how far decoding scales on the machine.
//   PresentFrame               the view copied out of the frame against a
//                              row-by-row memcpy of the view.
//   paired/...                 the same comparisons with both ways timed
//                              in every iteration, in alternating order, so
//                              that both meet the same load on a busy machine.
// Each benchmark runs three times, interleaved at random with the others; the
// ratios use the fastest run of each (the median run for the paired ones).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "maprenderer.h"
#include "maprenderer_frame.h"
#include "maprenderer_pool.h"
#include "ratioreporter.h"
#include "renderscene.h"
#include "tiledecoder.h"

namespace {

using benchsupport::PhotoKind;
using benchsupport::Scene;
using benchsupport::SceneFor;

constexpr int kRepetitions = 3;
constexpr double kPairedSeconds = 2.0;

void DrawTile(benchmark::State& state, PhotoKind kind) {
    const auto tiles = SceneFor(kind).TileBytes();
    const int side = kind.tileSize;
    corvalis::FrameBuffer frame;
    if (tiles.empty() || !frame.Resize(side, side)) state.SkipWithError("no tiles");
    corvalis::TileDecoder decoder;
    std::size_t i = 0;
    for (auto _ : state) {
        const auto& tile = tiles[i++ % tiles.size()];
        if (!decoder.DrawTile(&frame.Image(), 0, 0, side, side, tile.data(),
                              static_cast<std::int64_t>(tile.size())))
            state.SkipWithError(decoder.LastError().c_str());
    }
    state.SetItemsProcessed(state.iterations());
}

void Bare(benchmark::State& state, PhotoKind kind) {
    const auto tiles = SceneFor(kind).TileBytes();
    const int side = kind.tileSize;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(side) * side * 3);
    benchsupport::BareDecoder bare;
    std::size_t i = 0;
    if (tiles.empty()) state.SkipWithError("no tiles");
    for (auto _ : state) {
        const auto& tile = tiles[i++ % tiles.size()];
        if (!bare.Decode(kind.format, tile.data(), static_cast<std::int32_t>(tile.size()),
                         pixels.data(), side * 3, side, side))
            state.SkipWithError("bare decode failed");
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetItemsProcessed(state.iterations());
}

void RenderMap(benchmark::State& state, PhotoKind kind, int threads) {
    Scene& scene = SceneFor(kind);
    benchsupport::RenderPass render(scene, threads);
    for (auto _ : state)
        if (!render.Run()) state.SkipWithError("not every tile was drawn");
    state.counters["tiles"] = scene.Cells();
    state.SetItemsProcessed(state.iterations() * scene.Cells());
}

void Floor(benchmark::State& state, PhotoKind kind) {
    Scene& scene = SceneFor(kind);
    benchsupport::FloorPass floor(scene, kind.format);
    for (auto _ : state) {
        if (!floor.Run()) state.SkipWithError("not every tile was drawn");
        benchmark::ClobberMemory();
    }
    state.counters["tiles"] = scene.Cells();
    state.SetItemsProcessed(state.iterations() * scene.Cells());
}

template <class Pass>
double Seconds(Pass& pass, bool& ok) {
    const auto start = std::chrono::steady_clock::now();
    ok = pass.Run() && ok;
    benchmark::ClobberMemory();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A pass of the measured way and one of its baseline in every iteration, in
// alternating order, so that both meet the same load on a busy machine. The
// time reported is the measured way's; "ratio" is measured over baseline.
template <class Measured, class Baseline>
void Paired(benchmark::State& state, Measured& measured, Baseline& baseline) {
    double measuredSum = 0;
    double baselineSum = 0;
    bool ok = true;
    bool baselineFirst = false;
    for (auto _ : state) {
        double b = baselineFirst ? Seconds(baseline, ok) : 0;
        const double m = Seconds(measured, ok);
        if (!baselineFirst) b = Seconds(baseline, ok);
        baselineFirst = !baselineFirst;
        measuredSum += m;
        baselineSum += b;
        state.SetIterationTime(m);
    }
    if (!ok) state.SkipWithError("not every tile was drawn");
    state.counters["baseline_ms"] = baselineSum * 1e3 / static_cast<double>(state.iterations());
    state.counters["ratio"] = baselineSum > 0 ? measuredSum / baselineSum : 0;
}

// Every tile of the scene in turn through DrawTile into an aligned frame of
// one cell, or through the bare library decode into a plain buffer.
class DrawTilePass {
public:
    explicit DrawTilePass(PhotoKind kind)
        : tiles_(SceneFor(kind).TileBytes()), side_(kind.tileSize) {
        if (!frame_.Resize(side_, side_)) std::abort();
    }
    bool Run() {
        bool ok = !tiles_.empty();
        for (const auto& tile : tiles_)
            ok = decoder_.DrawTile(&frame_.Image(), 0, 0, side_, side_, tile.data(),
                                   static_cast<std::int64_t>(tile.size())) &&
                 ok;
        return ok;
    }

private:
    std::vector<std::vector<std::uint8_t>> tiles_;
    int side_;
    corvalis::FrameBuffer frame_;
    corvalis::TileDecoder decoder_;
};

class BarePass {
public:
    explicit BarePass(PhotoKind kind)
        : tiles_(SceneFor(kind).TileBytes()),
          kind_(kind),
          pixels_(static_cast<std::size_t>(kind.tileSize) * kind.tileSize * 3) {}
    bool Run() {
        bool ok = !tiles_.empty();
        for (const auto& tile : tiles_)
            ok = bare_.Decode(kind_.format, tile.data(), static_cast<std::int32_t>(tile.size()),
                              pixels_.data(), kind_.tileSize * 3, kind_.tileSize, kind_.tileSize) &&
                 ok;
        return ok;
    }

private:
    std::vector<std::vector<std::uint8_t>> tiles_;
    PhotoKind kind_;
    std::vector<std::uint8_t> pixels_;
    benchsupport::BareDecoder bare_;
};

// The bare decode of the scene's tiles shared out among threads, each with its
// own decoder and buffer and nothing else to do: how far decoding itself
// scales on this machine, the ceiling for the renderer's decode threads.
class ParallelBarePass {
public:
    ParallelBarePass(PhotoKind kind, int threads)
        : tiles_(SceneFor(kind).TileBytes()), kind_(kind) {
        for (int i = 0; i < threads; ++i) shares_.push_back(std::make_unique<Share>(kind));
    }
    bool Run() {
        const std::size_t n = shares_.size();
        for (std::size_t i = 0; i < n; ++i) shares_[i]->ok = true;
        auto work = [this, n](std::size_t i) {
            Share& share = *shares_[i];
            for (std::size_t t = i; t < tiles_.size(); t += n)
                share.ok = share.bare.Decode(kind_.format, tiles_[t].data(),
                                             static_cast<std::int32_t>(tiles_[t].size()),
                                             share.pixels.data(), kind_.tileSize * 3,
                                             kind_.tileSize, kind_.tileSize) &&
                           share.ok;
        };
        std::vector<std::thread> threads;
        for (std::size_t i = 1; i < n; ++i) threads.emplace_back(work, i);
        work(0);
        for (auto& t : threads) t.join();
        bool ok = !tiles_.empty();
        for (const auto& share : shares_) ok = ok && share->ok;
        return ok;
    }

private:
    struct Share {
        explicit Share(PhotoKind kind)
            : pixels(static_cast<std::size_t>(kind.tileSize) * kind.tileSize * 3) {}
        benchsupport::BareDecoder bare;
        std::vector<std::uint8_t> pixels;
        bool ok = true;
    };
    std::vector<std::vector<std::uint8_t>> tiles_;
    PhotoKind kind_;
    std::vector<std::unique_ptr<Share>> shares_;
};

void PairedCeiling(benchmark::State& state, PhotoKind kind, int threads) {
    ParallelBarePass many(kind, threads);
    ParallelBarePass one(kind, 1);
    Paired(state, many, one);
}

void PairedWithBare(benchmark::State& state, PhotoKind kind) {
    DrawTilePass draw(kind);
    BarePass bare(kind);
    Paired(state, draw, bare);
}

void PairedWithFloor(benchmark::State& state, PhotoKind kind) {
    Scene& scene = SceneFor(kind);
    benchsupport::RenderPass render(scene, 1);
    benchsupport::FloorPass floor(scene, kind.format);
    Paired(state, render, floor);
}

void PairedThreads(benchmark::State& state, PhotoKind kind, int threads) {
    Scene& scene = SceneFor(kind);
    benchsupport::RenderPass many(scene, threads);
    benchsupport::RenderPass one(scene, 1);
    Paired(state, many, one);
}

// The renderer after a forced render of the JPEG 256 scene.
struct Presented {
    corvalis::MapRenderer renderer;
    corvalis::TileDecoder decoder;
    Scene& scene = SceneFor({benchsupport::PhotoFormat::Jpeg, 256});
    Presented() { renderer.Render(scene.store, decoder, scene.viewport, true); }
};

// The view presented out of the frame, or copied by a row-by-row memcpy.
class PresentPass {
public:
    bool Run() {
        presented_.renderer.PresentFrame(presented_.scene.viewport);
        return true;
    }

private:
    Presented presented_;
};

class RowCopyPass {
public:
    RowCopyPass() : view_(kRowBytes * benchsupport::kViewHeight) {
        const corvalis::MapViewport& v = presented_.scene.viewport;
        const corvalis::TileGrid& grid = presented_.renderer.LastGrid();
        sx_ = v.ScrollX() - v.LetterboxOffsetX() - grid.originX;
        sy_ = v.ScrollY() - v.LetterboxOffsetY() - grid.originY;
    }
    bool Run() {
        const QImage& frame = *presented_.renderer.LastFrame();
        for (int row = 0; row < benchsupport::kViewHeight; ++row)
            std::memcpy(view_.data() + row * kRowBytes, frame.constScanLine(sy_ + row) + sx_ * 3,
                        kRowBytes);
        return true;
    }

private:
    static constexpr std::size_t kRowBytes = benchsupport::kViewWidth * 3;
    Presented presented_;
    std::vector<std::uint8_t> view_;
    int sx_ = 0;
    int sy_ = 0;
};

template <class Pass>
void Repeat(benchmark::State& state) {
    Pass pass;
    for (auto _ : state) {
        pass.Run();
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * benchsupport::kViewWidth *
                            benchsupport::kViewHeight * 3);
}

void PairedPresent(benchmark::State& state) {
    PresentPass present;
    RowCopyPass copy;
    Paired(state, present, copy);
}

}  // namespace

int main(int argc, char** argv) {
    auto addPaired = [](const std::string& name, auto&&... args) {
        // Long enough for a few passes of the slowest (PNG) scenes in each run.
        return benchmark::RegisterBenchmark(name.c_str(), args...)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->MinTime(kPairedSeconds)
            ->Repetitions(kRepetitions);
    };
    auto add = [](const std::string& name, auto&&... args) {
        return benchmark::RegisterBenchmark(name.c_str(), args...)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Repetitions(kRepetitions);
    };
    const int threads = corvalis::DefaultDecodeThreads();
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const PhotoKind& kind : benchsupport::kPhotoKinds) {
        const std::string name = kind.Name();
        add("bare/" + name, Bare, kind)->Unit(benchmark::kMicrosecond);
        add("DrawTile/" + name, DrawTile, kind)->Unit(benchmark::kMicrosecond);
        pairs.emplace_back("DrawTile/" + name + "/real_time", "bare/" + name + "/real_time");
        addPaired("paired/" + name + "/DrawTile-vs-bare", PairedWithBare, kind);
    }
    for (const PhotoKind& kind : benchsupport::kPhotoKinds) {
        const std::string name = kind.Name();
        const std::string one = "RenderMap/" + name + "/threads:1";
        const std::string many = "RenderMap/" + name + "/threads:" + std::to_string(threads);
        add("floor/" + name, Floor, kind);
        add(one, RenderMap, kind, 1);
        pairs.emplace_back(one + "/real_time", "floor/" + name + "/real_time");
        addPaired("paired/" + name + "/threads:1-vs-floor", PairedWithFloor, kind);
        if (threads > 1) {
            add(many, RenderMap, kind, threads);
            pairs.emplace_back(many + "/real_time", one + "/real_time");
            addPaired("paired/" + name + "/threads:" + std::to_string(threads) + "-vs-threads:1",
                      PairedThreads, kind, threads);
            addPaired("paired/" + name + "/ceiling/bare-threads:" + std::to_string(threads) +
                          "-vs-bare-threads:1",
                      PairedCeiling, kind, threads);
        }
    }
    add("rowcopy/1920x1080", Repeat<RowCopyPass>)->Unit(benchmark::kMicrosecond);
    add("PresentFrame/1920x1080", Repeat<PresentPass>)->Unit(benchmark::kMicrosecond);
    addPaired("paired/1920x1080/PresentFrame-vs-rowcopy", PairedPresent)
        ->Unit(benchmark::kMicrosecond);
    pairs.emplace_back("PresentFrame/1920x1080/real_time", "rowcopy/1920x1080/real_time");
    // Repetitions in random order, so that a change in the machine's load
    // falls on measured and baseline runs alike (a later flag overrides).
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> args(argv, argv + argc);
    args.insert(args.begin() + 1, interleave.data());
    return benchsupport::RunWithRatios(static_cast<int>(args.size()), args.data(), pairs);
}
