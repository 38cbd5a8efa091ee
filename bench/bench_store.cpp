// Store benchmarks: opening stores of 100k, 1M and 4M rows (index seeks
// against the full-scan extents query), opening a GeoPackage of the 4M tiles
// against the MBTiles store of the same tiles, and tile reads by key.
// The stores are generated on demand in a scratch folder and deleted at exit.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "bigstore.h"
#include "ratioreporter.h"
#include "scratchfolder.h"
#include "tilesource.h"

namespace {

// Blobs of a realistic small size: the extents and reads do not look inside them.
const std::vector<std::vector<std::uint8_t>>& Pool() {
    static const std::vector<std::vector<std::uint8_t>> pool = [] {
        std::vector<std::vector<std::uint8_t>> p;
        std::mt19937 rng(1);
        for (int i = 0; i < 16; ++i) {
            std::vector<std::uint8_t> b(600 + 100 * static_cast<std::size_t>(i));
            for (auto& v : b) v = static_cast<std::uint8_t>(rng());
            p.push_back(std::move(b));
        }
        return p;
    }();
    return pool;
}

const std::string& StoreWithRows(std::int64_t rows) {
    static std::map<std::int64_t, std::string> made;
    auto it = made.find(rows);
    if (it != made.end()) return it->second;
    const std::string path =
        benchsupport::Scratch().File("rows") + std::to_string(rows) + ".mbtiles";
    std::fprintf(stderr, "generating %lld-row store...\n", static_cast<long long>(rows));
    testsupport::WriteBigMbtiles(path, rows, Pool());
    return made[rows] = path;
}

const std::string& GeoPackageWithRows(std::int64_t rows) {
    static std::map<std::int64_t, std::string> made;
    auto it = made.find(rows);
    if (it != made.end()) return it->second;
    const std::string path = benchsupport::Scratch().File("rows") + std::to_string(rows) + ".gpkg";
    std::fprintf(stderr, "generating %lld-row GeoPackage...\n", static_cast<long long>(rows));
    testsupport::WriteBigGeoPackage(path, rows, Pool());
    return made[rows] = path;
}

// The GeoPackage layout's own work on top of the same extents seeks: the
// system tables, the CRS check and the level placement.
void BM_OpenGeoPackage(benchmark::State& state) {
    const std::string& path = GeoPackageWithRows(state.range(0));
    corvalis::TileDatabase db;
    std::string error;
    for (auto _ : state) {
        if (!db.Open(path, error)) state.SkipWithError(error.c_str());
    }
}

void BM_OpenWithSeeks(benchmark::State& state) {
    const std::string& path = StoreWithRows(state.range(0));
    corvalis::TileDatabase db;
    std::string error;
    for (auto _ : state) {
        if (!db.Open(path, error)) state.SkipWithError(error.c_str());
    }
}

// The grouped extents query over the whole table, on a connection set up the same way.
void BM_OpenLiteralQuery(benchmark::State& state) {
    const std::string& path = StoreWithRows(state.range(0));
    for (auto _ : state) {
        sqlite3* db = nullptr;
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_exec(
            db, "PRAGMA cache_size=-32000; PRAGMA mmap_size=268435456; PRAGMA temp_store=MEMORY;",
            nullptr, nullptr, nullptr);
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

void BM_ReadTileRandom(benchmark::State& state) {
    corvalis::TileDatabase db;
    std::string error;
    if (!db.Open(StoreWithRows(1'000'000), error)) state.SkipWithError(error.c_str());
    std::mt19937 rng(3);
    const int z = db.maxZoom() - 1;
    const unsigned n = 1u << z;
    for (auto _ : state) {
        const std::uint8_t* data = nullptr;
        std::int32_t count = 0;
        benchmark::DoNotOptimize(
            db.ReadTile(z, static_cast<int>(rng() % n), static_cast<int>(rng() % n), data, count));
    }
}

// A 23 x 13 block of neighbouring tiles, as a 1920 x 1080 view with its margin reads them.
void BM_ReadTileWindow(benchmark::State& state) {
    corvalis::TileDatabase db;
    std::string error;
    if (!db.Open(StoreWithRows(1'000'000), error)) state.SkipWithError(error.c_str());
    const int z = db.maxZoom() - 1;
    for (auto _ : state) {
        for (int y = 100; y < 113; ++y)
            for (int x = 200; x < 223; ++x) {
                const std::uint8_t* data = nullptr;
                std::int32_t count = 0;
                benchmark::DoNotOptimize(db.ReadTile(z, x, y, data, count));
            }
    }
    state.SetItemsProcessed(state.iterations() * 23 * 13);
}

}  // namespace

BENCHMARK(BM_OpenWithSeeks)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Arg(4'000'000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenLiteralQuery)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Arg(4'000'000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenGeoPackage)->Arg(4'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadTileRandom)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadTileWindow)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const char* rows : {"100000", "1000000", "4000000"})
        pairs.emplace_back(std::string("BM_OpenWithSeeks/") + rows,
                           std::string("BM_OpenLiteralQuery/") + rows);
    pairs.emplace_back("BM_OpenGeoPackage/4000000", "BM_OpenWithSeeks/4000000");
    return benchsupport::RunWithRatios(argc, argv, pairs);
}
