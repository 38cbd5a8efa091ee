// The store check, each against a baseline of the same run:
//   CheckScan/unique     --check without decoding on a 4M-row store of
//                        distinct tiles (tiles per second), against
//   BareScan             the bare table scan of the same store: one
//                        statement stepping every row and touching its bytes;
//   CheckScan/copies     the same on a 4M-row store whose tiles are 16
//                        contents over and over (every tile a candidate
//                        copy: the confirming second scan runs);
//   CheckDecode/KIND     --check with decoding on all cores on a photo store,
//                        against the bare decode of the same tiles from
//                        memory, shared out among as many threads.
// With --big-store=ROWS the program instead writes a store of that many rows
// (distinct tiles), checks it without decoding in a child process, prints
// the time and the child's peak resident size, and deletes the store.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include "bigstore.h"
#include "maprenderer_pool.h"
#include "photostores.h"
#include "ratioreporter.h"
#include "renderscene.h"
#include "storecheck.h"
#include "storecheck_decode.h"
#include "tilesource.h"

namespace {

using benchsupport::PhotoKind;

constexpr std::int64_t kRows = 4'000'000;

// Blobs of 200 to 650 bytes that read as JPEG by their first bytes.
const std::vector<std::vector<std::uint8_t>>& Pool() {
    static const auto pool = [] {
        std::vector<std::vector<std::uint8_t>> p;
        std::mt19937 rng(5);
        for (std::size_t i = 0; i < 16; ++i) {
            std::vector<std::uint8_t> b(200 + 30 * i);
            for (auto& v : b) v = static_cast<std::uint8_t>(rng());
            b[0] = 0xFF, b[1] = 0xD8, b[2] = 0xFF;
            p.push_back(std::move(b));
        }
        return p;
    }();
    return pool;
}

const std::string& BigStore(bool unique) {
    static std::string made[2];
    std::string& path = made[unique ? 1 : 0];
    if (path.empty()) {
        path = benchsupport::Scratch().File(unique ? "unique.mbtiles" : "copies.mbtiles");
        std::fprintf(stderr, "generating a %lld-row store...\n", static_cast<long long>(kRows));
        testsupport::WriteBigMbtiles(path, kRows, Pool(), unique);
    }
    return path;
}

corvalis::CheckReport Check(corvalis::TileDatabase& store, corvalis::CheckDecoder* decoder) {
    corvalis::CheckOptions options;
    options.expectedTiles = store.CountTiles();
    options.decode = decoder != nullptr;
    options.decoder = decoder;
    return corvalis::RunStoreCheck(store, options);
}

void CheckScan(benchmark::State& state, bool unique) {
    corvalis::TileDatabase store;
    std::string error;
    if (!store.Open(BigStore(unique), error)) state.SkipWithError(error.c_str());
    std::int64_t tiles = 0;
    for (auto _ : state) tiles += Check(store, nullptr).tiles;
    state.SetItemsProcessed(tiles);
}

void BareScan(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(BigStore(true).c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_exec(db, "PRAGMA cache_size=-32000; PRAGMA mmap_size=0;", nullptr, nullptr, nullptr);
    std::int64_t tiles = 0;
    for (auto _ : state) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "select zoom_level, tile_column, tile_row, tile_data from tiles;",
                           -1, &st, nullptr);
        std::uint64_t sum = 0;
        while (sqlite3_step(st) == SQLITE_ROW) {
            const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(st, 3));
            const int n = sqlite3_column_bytes(st, 3);
            sum += static_cast<std::uint64_t>(sqlite3_column_int(st, 1)) + (n > 0 ? p[n - 1] : 0);
            ++tiles;
        }
        benchmark::DoNotOptimize(sum);
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    state.SetItemsProcessed(tiles);
}

void CheckDecode(benchmark::State& state, PhotoKind kind) {
    corvalis::TileDatabase store;
    std::string error;
    if (!store.Open(benchsupport::PhotoStorePath(kind), error)) state.SkipWithError(error.c_str());
    corvalis::ParallelCheckDecoder decoder(corvalis::DefaultDecodeThreads());
    for (auto _ : state) {
        const corvalis::CheckReport report = Check(store, &decoder);
        if (report.undecodable.count != 0) state.SkipWithError("undecodable tiles");
    }
}

// Every tile of the photo store in memory, decoded by the libraries directly,
// shared out among one thread per core.
void BareDecode(benchmark::State& state, PhotoKind kind) {
    corvalis::TileDatabase store;
    std::string error;
    if (!store.Open(benchsupport::PhotoStorePath(kind), error)) state.SkipWithError(error.c_str());
    std::vector<std::vector<std::uint8_t>> tiles;
    store.ScanTiles(
        [&](const corvalis::ScannedTile& t) {
            tiles.emplace_back(t.data, t.data + t.size);
            return true;
        },
        error);
    const auto threads = static_cast<std::size_t>(corvalis::DefaultDecodeThreads());
    const int side = kind.tileSize;
    for (auto _ : state) {
        auto work = [&](std::size_t first) {
            benchsupport::BareDecoder bare;
            std::vector<std::uint8_t> pixels(static_cast<std::size_t>(side) * side * 3);
            for (std::size_t i = first; i < tiles.size(); i += threads)
                bare.Decode(kind.format, tiles[i].data(),
                            static_cast<std::int32_t>(tiles[i].size()), pixels.data(), side * 3,
                            side, side);
        };
        std::vector<std::thread> pool;
        for (std::size_t i = 1; i < threads; ++i) pool.emplace_back(work, i);
        work(0);
        for (auto& t : pool) t.join();
    }
}

std::int64_t ResidentKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Writes, checks in a child (whose peak resident size getrusage tells), deletes.
int BigStoreRun(std::int64_t rows) {
    const std::string path = benchsupport::Scratch().File("big.mbtiles");
    const auto t0 = std::chrono::steady_clock::now();
    testsupport::WriteBigMbtiles(path, rows, Pool(), true);
    const double written =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("wrote %lld rows in %.1f s (parent peak %lld KiB)\n", static_cast<long long>(rows),
                written, static_cast<long long>(ResidentKb()));
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        corvalis::TileDatabase store;
        std::string error;
        if (!store.Open(path, error)) _exit(2);
        const auto t1 = std::chrono::steady_clock::now();
        const corvalis::CheckReport report = Check(store, nullptr);
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count();
        std::printf(
            "checked %lld tiles without decoding in %.1f s (%.0f tiles/s), %lld problems, "
            "%lld identical copies\n",
            static_cast<long long>(report.tiles), s, static_cast<double>(report.tiles) / s,
            static_cast<long long>(report.ProblemCount()),
            static_cast<long long>(report.duplicates.tiles));
        std::fflush(stdout);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    std::printf("peak resident size of the check: %lld KiB (%.1f bytes a tile)\n",
                static_cast<long long>(usage.ru_maxrss),
                static_cast<double>(usage.ru_maxrss) * 1024.0 / static_cast<double>(rows));
    std::remove(path.c_str());
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--big-store=", 12) == 0)
            return BigStoreRun(std::atoll(argv[i] + 12));
    // Wall time: the check runs its structure check on a second thread, and
    // tiles per second are meant as the user waits for them.
    benchmark::RegisterBenchmark("CheckScan/unique", CheckScan, true)
        ->Unit(benchmark::kSecond)
        ->Iterations(2)
        ->UseRealTime();
    benchmark::RegisterBenchmark("CheckScan/copies", CheckScan, false)
        ->Unit(benchmark::kSecond)
        ->Iterations(2)
        ->UseRealTime();
    benchmark::RegisterBenchmark("BareScan", BareScan)
        ->Unit(benchmark::kSecond)
        ->Iterations(2)
        ->UseRealTime();
    std::vector<std::pair<std::string, std::string>> pairs = {
        {"CheckScan/unique/iterations:2/real_time", "BareScan/iterations:2/real_time"},
        {"CheckScan/copies/iterations:2/real_time", "BareScan/iterations:2/real_time"}};
    for (const PhotoKind& kind : benchsupport::kPhotoKinds) {
        if (kind.tileSize != 256) continue;
        const std::string name = kind.Name();
        benchmark::RegisterBenchmark(("BareDecode/" + name).c_str(), BareDecode, kind)
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(3);
        benchmark::RegisterBenchmark(("CheckDecode/" + name).c_str(), CheckDecode, kind)
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(3);
        // Measured against baseline: bare / check, the check's decode rate as
        // a share of the bare decode's.
        pairs.emplace_back("BareDecode/" + name, "CheckDecode/" + name);
    }
    return benchsupport::RunWithRatios(argc, argv, pairs);
}
