// PMTiles benchmarks: opening an archive of 4M tiles (every directory entry
// read, leaves of 4096 entries) against opening the MBTiles store of the
// same tiles (and, for scale, its full-scan extents query), and reads at
// random by address in both. The archive and the
// store are generated on demand in a scratch folder and deleted at exit.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "bigstore.h"
#include "pmtiles_archive.h"
#include "pmtileswriter.h"
#include "ratioreporter.h"
#include "scratchfolder.h"
#include "tilesource.h"

namespace {

constexpr std::int64_t kTiles = 4'000'000;

// Small blobs: opening never looks inside the tiles.
const std::vector<std::vector<std::uint8_t>>& Pool() {
    static const std::vector<std::vector<std::uint8_t>> pool = [] {
        std::vector<std::vector<std::uint8_t>> p;
        std::mt19937 rng(1);
        for (int i = 0; i < 16; ++i) {
            std::vector<std::uint8_t> b(40 + 4 * static_cast<std::size_t>(i));
            for (auto& v : b) v = static_cast<std::uint8_t>(rng());
            p.push_back(std::move(b));
        }
        return p;
    }();
    return pool;
}

const std::string& Mbtiles() {
    static const std::string path = [] {
        const std::string p = benchsupport::Scratch().File("tiles.mbtiles");
        std::fprintf(stderr, "generating the %lld-tile MBTiles store...\n",
                     static_cast<long long>(kTiles));
        testsupport::WriteBigMbtiles(p, kTiles, Pool());
        return p;
    }();
    return path;
}

// The same tiles as the MBTiles store (its level-by-level order and blob
// cycle, rows flipped from TMS to world rows), in an archive with the given
// internal compression.
const std::string& Archive(std::uint8_t internal) {
    static std::map<std::uint8_t, std::string> made;
    if (auto it = made.find(internal); it != made.end()) return it->second;
    testsupport::PmtilesWriter w;
    for (const auto& blob : Pool()) w.Content(blob);
    std::int64_t written = 0;
    for (int z = 0; written < kTiles && z < 31; ++z) {
        const std::int64_t n = std::int64_t{1} << z;
        for (std::int64_t x = 0; x < n && written < kTiles; ++x)
            for (std::int64_t y = 0; y < n && written < kTiles; ++y, ++written)
                w.Tile(z, static_cast<std::uint64_t>(x), static_cast<std::uint64_t>(n - 1 - y),
                       static_cast<std::uint32_t>(written % 16));
    }
    testsupport::PmtilesOptions o;
    o.internalCompression = internal;
    o.leafSize = 4096;
    const std::string path =
        benchsupport::Scratch().File("tiles-") + std::to_string(internal) + ".pmtiles";
    std::fprintf(stderr, "generating the %lld-tile PMTiles archive...\n",
                 static_cast<long long>(kTiles));
    w.Write(path, o);
    return made[internal] = path;
}

void BM_OpenMbtiles(benchmark::State& state) {
    const std::string& path = Mbtiles();
    corvalis::TileDatabase db;
    std::string error;
    for (auto _ : state) {
        if (!db.Open(path, error)) state.SkipWithError(error.c_str());
    }
}

// What the archive's open does, every entry read, done by SQLite: the grouped
// extents query over the whole table (for scale; the store's own open seeks).
void BM_MbtilesLiteralQuery(benchmark::State& state) {
    const std::string& path = Mbtiles();
    for (auto _ : state) {
        sqlite3* db = nullptr;
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db,
                           "select zoom_level, min(tile_column), max(tile_column), min(tile_row), "
                           "max(tile_row) from tiles group by zoom_level;",
                           -1, &st, nullptr);
        int sum = 0;
        while (sqlite3_step(st) == SQLITE_ROW) sum += sqlite3_column_int(st, 2);
        benchmark::DoNotOptimize(sum);
        sqlite3_finalize(st);
        sqlite3_close(db);
    }
}

// Arg: internal compression (1 none, 2 gzip, 3 brotli, 4 zstd).
void BM_OpenPmtiles(benchmark::State& state) {
    const std::string& path = Archive(static_cast<std::uint8_t>(state.range(0)));
    corvalis::PmtilesArchive archive;
    std::string error;
    for (auto _ : state) {
        if (!archive.Open(path, error)) state.SkipWithError(error.c_str());
    }
    std::uint64_t tiles = 0;
    for (const auto& l : archive.levels()) tiles += l.tiles;
    if (tiles != static_cast<std::uint64_t>(kTiles)) state.SkipWithError("tile count differs");
}

// Random reads at the deepest full level (level 10).
void BM_ReadTileRandomMbtiles(benchmark::State& state) {
    corvalis::TileDatabase db;
    std::string error;
    if (!db.Open(Mbtiles(), error)) state.SkipWithError(error.c_str());
    std::mt19937 rng(3);
    for (auto _ : state) {
        const std::uint8_t* data = nullptr;
        std::int32_t count = 0;
        benchmark::DoNotOptimize(db.ReadTile(10, static_cast<int>(rng() % 1024),
                                             static_cast<int>(rng() % 1024), data, count));
    }
}

void BM_ReadTileRandomPmtiles(benchmark::State& state) {
    corvalis::PmtilesArchive archive;
    std::string error;
    if (!archive.Open(Archive(2), error)) state.SkipWithError(error.c_str());
    std::mt19937 rng(3);
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        benchmark::DoNotOptimize(archive.ReadTile(10, static_cast<int>(rng() % 1024),
                                                  static_cast<int>(rng() % 1024), out));
    }
}

}  // namespace

BENCHMARK(BM_OpenMbtiles)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MbtilesLiteralQuery)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenPmtiles)->Arg(1)->Arg(2)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadTileRandomMbtiles)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadTileRandomPmtiles)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    return benchsupport::RunWithRatios(argc, argv,
                                       {{"BM_OpenPmtiles/1", "BM_OpenMbtiles"},
                                        {"BM_OpenPmtiles/2", "BM_OpenMbtiles"},
                                        {"BM_OpenPmtiles/3", "BM_OpenMbtiles"},
                                        {"BM_OpenPmtiles/4", "BM_OpenMbtiles"},
                                        {"BM_OpenPmtiles/2", "BM_MbtilesLiteralQuery"},
                                        {"BM_ReadTileRandomPmtiles", "BM_ReadTileRandomMbtiles"}});
}
