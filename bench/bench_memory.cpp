// Peak memory while browsing: a fresh process opens the JPEG 256 photo store
// in a 1920 x 1080 view, zooms in level by level, sweeps across the deepest
// level and back, zooms out and in again (store, viewport, renderer with its
// decode threads; no window). What browsing adds to the process, its peak
// resident size less its resident size before the store was opened (the
// program and its libraries), is compared with what it is expected to hold:
// the two frames (of the largest block composed), the view and 20 MB for
// everything else (store cache, decoders, threads, buffers).
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "maprenderer.h"
#include "mapviewport.h"
#include "photostores.h"
#include "tiledecoder.h"
#include "tilesource.h"

extern char** environ;

namespace {

constexpr int kViewWidth = 1920;
constexpr int kViewHeight = 1080;
constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kOtherBytes = 20.0 * 1000 * 1000;

struct Result {
    double peakBytes = 0;
    double baseBytes = 0;
    double budgetBytes = 0;
    bool valid = false;
} result;

std::int64_t FrameBytes(const corvalis::TileGrid& grid) {
    const std::int64_t pitch = (std::int64_t{grid.pixelWidth} * 3 + 63) / 64 * 64;
    return pitch * grid.pixelHeight;
}

// Resident size of this process now, in bytes.
double ResidentBytes() {
    long pages = 0;
    long resident = 0;
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr) return 0;
    const bool read = std::fscanf(f, "%ld %ld", &pages, &resident) == 2;
    std::fclose(f);
    return read ? static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) : 0;
}

// The browsing itself, in the child process. Prints its resident size before
// opening the store and the largest frame's size.
int Browse(const char* path) {
    const double before = ResidentBytes();
    corvalis::TileDatabase store;
    std::string error;
    if (!store.Open(path, error)) {
        std::fprintf(stderr, "cannot open %s: %s\n", path, error.c_str());
        return 1;
    }
    corvalis::MapViewport viewport;
    viewport.SetViewSize(kViewWidth, kViewHeight);
    viewport.AttachStore(&store);
    corvalis::MapRenderer renderer;
    renderer.SetMissingTile(corvalis::FallbackMissingTile());
    corvalis::TileDecoder decoder;
    std::int64_t largest = 0;
    auto render = [&](bool force) {
        renderer.Render(store, decoder, viewport, force);
        largest = std::max(largest, FrameBytes(renderer.LastGrid()));
    };
    render(true);
    while (viewport.ZoomIn()) render(true);
    // Sweeps across the deepest level, row after row, as a user dragging.
    for (int sweep = 0; sweep < 2; ++sweep)
        for (int row = 0; row < 8; ++row) {
            for (int step = 0; step < 14; ++step) {
                viewport.PanBy((row % 2 == 0 ? -1 : 1) * 550, 0);
                render(false);
            }
            viewport.PanBy(0, (sweep == 0 ? -1 : 1) * 600);
            render(false);
        }
    while (viewport.ZoomOut()) render(true);
    while (viewport.ZoomIn()) render(true);
    std::printf("%.0f %lld\n", before, static_cast<long long>(largest));
    return 0;
}

// Runs this program again to browse; gives the child's peak resident size,
// its size before opening the store and the largest frame's size.
bool BrowseInChild(const std::string& store, double& peakBytes, double& baseBytes,
                   double& largestFrame) {
    int out[2];
    if (pipe(out) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string mode = "--browse";
    std::string storeArg = store;
    char* args[] = {mode.data(), mode.data(), storeArg.data(), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; rc == 0 && (n = read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    close(out[0]);
    if (rc != 0) return false;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return false;
    peakBytes = static_cast<double>(usage.ru_maxrss) * 1024.0;  // kilobytes on Linux
    char* rest = nullptr;
    baseBytes = std::strtod(text.c_str(), &rest);
    largestFrame = std::strtod(rest, nullptr);
    return baseBytes > 0 && largestFrame > 0;
}

void BrowsePeakMemory(benchmark::State& state) {
    const std::string& store = benchsupport::PhotoStorePath({benchsupport::PhotoFormat::Jpeg, 256});
    double peak = 0;
    double base = 0;
    double frame = 0;
    for (auto _ : state)
        if (!BrowseInChild(store, peak, base, frame))
            state.SkipWithError("the browsing process failed");
    const double view = double{kViewWidth} * kViewHeight * 3;
    result = {peak, base, 2 * frame + view + kOtherBytes, peak > 0};
    state.counters["peak_MiB"] = peak / kMiB;
    state.counters["idle_MiB"] = base / kMiB;
    state.counters["added_MiB"] = (peak - base) / kMiB;
    state.counters["frame_MiB"] = frame / kMiB;
    state.counters["budget_MiB"] = result.budgetBytes / kMiB;
}

}  // namespace

BENCHMARK(BrowsePeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--browse") == 0) return Browse(argv[2]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (result.valid) {
        const double added = result.peakBytes - result.baseBytes;
        std::printf(
            "\nmemory added by browsing / (two frames + view + 20 MB) = %.3f"
            "  (%.1f MiB of %.1f MiB; peak resident size %.1f MiB, %.1f MiB before"
            " opening the store)\n",
            added / result.budgetBytes, added / kMiB, result.budgetBytes / kMiB,
            result.peakBytes / kMiB, result.baseBytes / kMiB);
    }
    return 0;
}
