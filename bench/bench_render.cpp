// Rendering on photo stores (the Earth picture, JPEG and PNG, 256 and
// 512-pixel tiles) in a 1920 x 1080 view, each against a baseline of the same run:
//   DrawTile/KIND              each tile of the view's block in turn into a
//                              cell of an aligned frame, against the bare
//                              library decode into a plain buffer;
//   RenderMap/KIND/threads:1   a forced render (about 300 tiles at 256 pixels)
//                              against the floor: the same tiles read and
//                              decoded straight into a frame by a minimal loop;
//   RenderMap/KIND/threads:N   the same on N decode threads (one per core)
//                              against one thread;
//   PresentFrame               the view copied out of the frame against a
//                              row-by-row memcpy of the view.
//   paired/...                 the same two comparisons with both ways timed
//                              in every iteration, in alternating order, so
//                              that both meet the same load on a busy machine.
// Each benchmark runs three times, interleaved at random with the others; the
// ratios use the fastest run of each (the median run for the paired ones).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>
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

void DrawTile(benchmark::State& state, PhotoKind kind) {
    const auto tiles = SceneFor(kind).TileBytes();
    const int side = kind.tileSize;
    corvalis::FrameBuffer frame;
    if (tiles.empty() || !frame.Resize(4 * side, side)) state.SkipWithError("no tiles");
    corvalis::TileDecoder decoder;
    std::size_t i = 0;
    for (auto _ : state) {
        const auto& tile = tiles[i++ % tiles.size()];
        if (!decoder.DrawTile(&frame.Image(), side, 0, side, side, tile.data(),
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

void PresentFrame(benchmark::State& state) {
    Presented p;
    for (auto _ : state) p.renderer.PresentFrame(p.scene.viewport);
    state.SetBytesProcessed(state.iterations() * benchsupport::kViewWidth *
                            benchsupport::kViewHeight * 3);
}

void RowCopy(benchmark::State& state) {
    Presented p;
    const QImage& frame = *p.renderer.LastFrame();
    const corvalis::MapViewport& v = p.scene.viewport;
    const corvalis::TileGrid& grid = p.renderer.LastGrid();
    const int sx = v.ScrollX() - v.LetterboxOffsetX() - grid.originX;
    const int sy = v.ScrollY() - v.LetterboxOffsetY() - grid.originY;
    const std::size_t rowBytes = benchsupport::kViewWidth * 3;
    std::vector<std::uint8_t> view(rowBytes * benchsupport::kViewHeight);
    for (auto _ : state) {
        for (int row = 0; row < benchsupport::kViewHeight; ++row)
            std::memcpy(view.data() + row * rowBytes, frame.constScanLine(sy + row) + sx * 3,
                        rowBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(view.size()));
}

}  // namespace

int main(int argc, char** argv) {
    auto addPaired = [](const std::string& name, auto&&... args) {
        return benchmark::RegisterBenchmark(name.c_str(), args...)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
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
        }
    }
    add("rowcopy/1920x1080", RowCopy)->Unit(benchmark::kMicrosecond);
    add("PresentFrame/1920x1080", PresentFrame)->Unit(benchmark::kMicrosecond);
    pairs.emplace_back("PresentFrame/1920x1080/real_time", "rowcopy/1920x1080/real_time");
    // Repetitions in random order, so that a change in the machine's load
    // falls on measured and baseline runs alike (a later flag overrides).
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> args(argv, argv + argc);
    args.insert(args.begin() + 1, interleave.data());
    return benchsupport::RunWithRatios(static_cast<int>(args.size()), args.data(), pairs);
}
