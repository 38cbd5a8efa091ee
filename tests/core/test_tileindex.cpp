// Extents found through index seeks must equal the grouped full-scan query,
// row for row, whatever the table holds.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "storewriter.h"
#include "tileindex.h"
#include "tilesource.h"
#include "watchdog.h"

using testsupport::Blob;
using testsupport::Layout;
using testsupport::StoreWriter;
using testsupport::TempDir;
using testsupport::Watchdog;

namespace {

using Row = std::tuple<int, int, int, int, int>;

const corvalis::TileColumns kMbtiles{"zoom_level", "tile_column", "tile_row"};
const corvalis::TileColumns kXyz{"z", "x", "y"};

std::vector<Row> GroupedQuery(sqlite3* db, const corvalis::TileColumns& c) {
    const std::string sql = std::string("select ") + c.zoom + ", min(" + c.column + "), max(" +
                            c.column + "), min(" + c.row + "), max(" + c.row +
                            ") from tiles group by " + c.zoom;
    const corvalis::SqliteStatement st = corvalis::PrepareStatement(db, sql.c_str());
    EXPECT_TRUE(st) << sqlite3_errmsg(db);
    std::vector<Row> rows;
    while (st && sqlite3_step(st.get()) == SQLITE_ROW)
        rows.emplace_back(sqlite3_column_int(st.get(), 0), sqlite3_column_int(st.get(), 1),
                          sqlite3_column_int(st.get(), 2), sqlite3_column_int(st.get(), 3),
                          sqlite3_column_int(st.get(), 4));
    return rows;
}

std::vector<Row> Seeks(sqlite3* db, const corvalis::TileColumns& c) {
    std::vector<Row> rows;
    std::string error;
    EXPECT_TRUE(corvalis::SeekZoomExtents(
        db, c, [](int) { return true; },
        [&](int zs, int x0, int x1, int y0, int y1) { rows.emplace_back(zs, x0, x1, y0, y1); },
        error))
        << error;
    return rows;
}

// The rows whose level reads as a value in [lo, hi].
std::vector<Row> InRange(const std::vector<Row>& rows, int lo, int hi) {
    std::vector<Row> kept;
    for (const Row& row : rows)
        if (std::get<0>(row) >= lo && std::get<0>(row) <= hi) kept.push_back(row);
    return kept;
}

std::vector<Row> SeeksInRange(sqlite3* db, const corvalis::TileColumns& c, int lo, int hi) {
    std::vector<Row> rows;
    std::string error;
    const corvalis::StoredZoomFilter filter(lo, hi, [](int) { return true; });
    EXPECT_TRUE(corvalis::SeekZoomExtents(
        db, c, filter,
        [&](int zs, int x0, int x1, int y0, int y1) { rows.emplace_back(zs, x0, x1, y0, y1); },
        error))
        << error;
    return rows;
}

TEST(TileIndex, UnusableLevelsArePassedOverInOneSeek) {
    TempDir dir;
    StoreWriter w(dir.file("skip.mbtiles"), Layout::MBTiles);
    w.Exec("DROP INDEX tile_index; CREATE INDEX zx ON tiles (zoom_level, tile_column);");
    // Levels around both ends of the range, values whose low 32 bits come back
    // into it, reals that truncate into it from below, text and blobs.
    const char* rows[] = {
        "(-5, 1, 1, X'00')",
        "(-4.5, 2, 2, X'00')",
        "(-0.5, 3, 3, X'00')",
        "(0, 4, 4, X'00')",
        "(3, 5, 5, X'00')",
        "(4, 6, 6, X'00')",
        "(40.5, 7, 7, X'00')",
        "(1000, 8, 8, X'00')",
        "(4294967296, 9, 9, X'00')",
        "(4294967299, 10, 10, X'00')",
        "(4294967300, 11, 11, X'00')",
        "(-4294967295, 12, 12, X'00')",
        "(9223372036854775807, 13, 13, X'00')",
        "('2', 14, 14, X'00')",
        "(X'03', 15, 15, X'00')",
        "(-2, 16, 16, X'00')",
        "(-1, 17, 17, X'00')",
    };
    for (const char* r : rows)
        w.Exec(std::string(
                   "INSERT INTO tiles (zoom_level, tile_column, tile_row, tile_data) VALUES ") +
               r);
    w.Exec(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 5000) "
        "INSERT INTO tiles SELECT 100 + i, 0, 0, X'00' FROM n;");
    for (auto [lo, hi] : {std::pair{0, 3}, {-3, 2}, {4, 4}, {-2147483647 - 1, 2147483647}}) {
        SCOPED_TRACE(std::to_string(lo) + ".." + std::to_string(hi));
        // The levels in range come out as the grouped query gives them, and
        // the five thousand beyond it are not visited one by one.
        const std::vector<Row> seeks = SeeksInRange(w.db(), kMbtiles, lo, hi);
        EXPECT_EQ(InRange(seeks, lo, hi), InRange(GroupedQuery(w.db(), kMbtiles), lo, hi));
        if (hi < 100) {
            EXPECT_LT(seeks.size(), 20u);
        }
    }
}

TEST(TileIndex, DetectsIndexesFromTheSchema) {
    TempDir dir;
    StoreWriter mb(dir.file("a.mbtiles"), Layout::MBTiles);
    EXPECT_TRUE(corvalis::InspectTileIndexes(mb.db(), kMbtiles).zoomColumnLeading);
    EXPECT_TRUE(corvalis::InspectTileIndexes(mb.db(), kMbtiles).anyTileIndex);

    StoreWriter xyz(dir.file("b.sqlitedb"), Layout::Xyz);  // primary key (x, y, z, s)
    EXPECT_FALSE(corvalis::InspectTileIndexes(xyz.db(), kXyz).zoomColumnLeading);
    EXPECT_TRUE(corvalis::InspectTileIndexes(xyz.db(), kXyz).anyTileIndex);
    xyz.Exec("CREATE INDEX zx ON tiles (Z, X);");
    EXPECT_TRUE(corvalis::InspectTileIndexes(xyz.db(), kXyz).zoomColumnLeading);

    StoreWriter bare(dir.file("c.db"), Layout::None);
    bare.Exec("CREATE TABLE tiles (z int, x int, y int, image blob);");
    EXPECT_FALSE(corvalis::InspectTileIndexes(bare.db(), kXyz).anyTileIndex);
    bare.Exec("CREATE INDEX part ON tiles (z, x) WHERE z > 3;");
    bare.Exec("CREATE INDEX nocase ON tiles (z COLLATE NOCASE, x);");
    bare.Exec("CREATE INDEX down ON tiles (z DESC, x);");
    EXPECT_FALSE(corvalis::InspectTileIndexes(bare.db(), kXyz).zoomColumnLeading)
        << "partial, non-binary and descending indexes do not serve the seeks";
}

TEST(TileIndex, SeeksMatchGroupedQueryOnOddValues) {
    TempDir dir;
    StoreWriter w(dir.file("odd.mbtiles"), Layout::MBTiles);
    w.Exec("DROP INDEX tile_index; CREATE INDEX zx ON tiles (zoom_level, tile_column);");
    const char* rows[] = {
        "(NULL, 4, 5, X'00')",
        "(NULL, NULL, 9, X'00')",
        "(0, 0, 0, X'00')",
        "(1, NULL, 7, X'00')",
        "(1, 1, -3, X'00')",
        "(1, 0, NULL, X'00')",
        "(2, 1, 2, X'00')",
        "(2, 'a', 1, X'00')",
        "(3, 1.5, 2, X'00')",
        "(3, 2, 8, X'00')",
        "(4, 5, 'txt', X'00')",
        "(4, 5, 6, X'00')",
        "(5, 4294967301, 2, X'00')",
        "(5, 3, -4294967290, X'00')",
        "(2.5, 1, 1, X'00')",
        "('7', 1, 1, X'00')",
        "('x9', 3, 3, X'00')",
        "(X'01', 2, 2, X'00')",
        "(-2147483649, 1, 1, X'00')",
        "(6, NULL, NULL, X'00')",
        // A real column number between integer ones, and NULL columns holding the row range.
        "(7, 1, 0, X'00')",
        "(7, 1.5, -9, X'00')",
        "(7, 2, 8, X'00')",
        "(8, NULL, -5, X'00')",
        "(8, NULL, 50, X'00')",
        "(8, 1, 0, X'00')",
        // Columns whose first row is NULL (min() passes over it), one holding only NULL.
        "(9, 1, NULL, X'00')",
        "(9, 1, 4, X'00')",
        "(9, 2, NULL, X'00')",
        "(9, 2, -7, X'00')",
        "(9, 3, NULL, X'00')",
        "(9, 4, 2, X'00')",
        // Text and blob column numbers after the integer ones.
        "(10, 1, 1, X'00')",
        "(10, 'z', 5, X'00')",
        "(11, 2, 2, X'00')",
        "(11, X'05', -1, X'00')",
    };
    for (const char* r : rows)
        w.Exec(std::string(
                   "INSERT INTO tiles (zoom_level, tile_column, tile_row, tile_data) VALUES ") +
               r);
    EXPECT_EQ(Seeks(w.db(), kMbtiles), GroupedQuery(w.db(), kMbtiles));
}

TEST(TileIndex, SeeksLeaveNoReadLockBehind) {
    TempDir dir;
    StoreWriter w(dir.file("lock.mbtiles"), Layout::MBTiles);
    w.Tile(3, 1, 2, Blob(3, 1, 2));
    w.Tile(4, 5, 6, Blob(4, 5, 6));
    const auto connection =
        testsupport::OpenConnection(dir.file("lock.mbtiles"), SQLITE_OPEN_READONLY);
    ASSERT_TRUE(connection);
    sqlite3* reader = connection.get();
    const std::vector<Row> expected{{3, 1, 1, 2, 2}, {4, 5, 5, 6, 6}};
    EXPECT_EQ(Seeks(reader, kMbtiles), expected);
    EXPECT_NE(sqlite3_get_autocommit(reader), 0) << "the read transaction is closed";
    w.Tile(5, 0, 0, Blob(5, 0, 0));  // a writer commits at once: no shared lock is left
    EXPECT_EQ(Seeks(reader, kMbtiles).size(), 3u);

    // Within the caller's own transaction the seeks neither end it nor nest another.
    ASSERT_EQ(sqlite3_exec(reader, "BEGIN;", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(Seeks(reader, kMbtiles).size(), 3u);
    EXPECT_EQ(sqlite3_get_autocommit(reader), 0);
    EXPECT_EQ(sqlite3_exec(reader, "COMMIT;", nullptr, nullptr, nullptr), SQLITE_OK);
}

TEST(TileIndex, SeeksMatchGroupedQueryOnRandomStores) {
    TempDir dir;
    std::mt19937 rng(20261208);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        // Appended: GCC 12 at -O3 warns falsely (-Wrestrict) about "r" + std::to_string(...).
        std::string name = "r";
        name += std::to_string(round) + ".db";
        StoreWriter w(dir.file(name), Layout::None);
        w.Exec("CREATE TABLE tiles (z int, x int, y int, s int, image blob);");
        w.Exec(round % 2 ? "CREATE INDEX i ON tiles (z, x, y);"
                         : "CREATE INDEX i ON tiles (z, x);");
        const int levels = 1 + static_cast<int>(rng() % 6);
        const bool sparse = round % 3 == 0;
        w.Exec("BEGIN;");
        for (int z = 0; z < levels; ++z) {
            const int n = 1 << z;
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < n; ++x)
                    if (!sparse || rng() % 7 == 0)
                        w.Tile(z + static_cast<int>(rng() % 2) * 10, x, y, Blob(z, x, y));
        }
        for (int k = 0; k < 3; ++k)  // a few rows far out
            w.Tile(static_cast<int>(rng() % 40) - 5,
                   static_cast<std::int64_t>(rng()) - (std::int64_t{1} << 31),
                   static_cast<int>(rng() % 100000), Blob(0, 0, 0));
        w.Exec("COMMIT;");
        EXPECT_EQ(Seeks(w.db(), kXyz), GroupedQuery(w.db(), kXyz));
    }
}

TEST(TileIndex, StoreExtentsIdenticalWithAndWithoutIndex) {
    TempDir dir;
    std::mt19937 rng(7);
    for (Layout layout : {Layout::MBTiles, Layout::Xyz}) {
        const std::string indexed =
            dir.file(layout == Layout::MBTiles ? "i.mbtiles" : "i.sqlitedb");
        const std::string plain = dir.file(layout == Layout::MBTiles ? "p.mbtiles" : "p.sqlitedb");
        {
            StoreWriter a(indexed, layout), b(plain, layout);
            if (layout == Layout::MBTiles)
                b.Exec("DROP INDEX tile_index;");
            else
                a.Exec("CREATE INDEX zxy ON tiles (z, x, y);");
            a.Exec("BEGIN;");
            b.Exec("BEGIN;");
            std::set<std::tuple<int, int, int>> seen;
            for (int i = 0; i < 3000; ++i) {
                const int z = static_cast<int>(rng() % 18);
                const int n = 1 << z;
                const int x = static_cast<int>(rng() % static_cast<unsigned>(n));
                const int y = static_cast<int>(rng() % static_cast<unsigned>(n));
                if (!seen.insert({z, x, y}).second) continue;
                a.Tile(z, x, y, Blob(z, x, y));
                b.Tile(z, x, y, Blob(z, x, y));
            }
            a.Exec("COMMIT;");
            b.Exec("COMMIT;");
        }
        corvalis::TileDatabase da, db;
        std::string error;
        ASSERT_TRUE(da.Open(indexed, error)) << error;
        ASSERT_TRUE(db.Open(plain, error)) << error;
        EXPECT_EQ(std::make_pair(da.minZoom(), da.maxZoom()),
                  std::make_pair(db.minZoom(), db.maxZoom()));
        for (int z = 0; z < 32; ++z) {
            int a[4] = {-1, -1, -1, -1}, b[4] = {-1, -1, -1, -1};
            EXPECT_EQ(da.GetZoomExtent(z, a[0], a[1], a[2], a[3]),
                      db.GetZoomExtent(z, b[0], b[1], b[2], b[3]));
            EXPECT_EQ(std::vector<int>(a, a + 4), std::vector<int>(b, b + 4)) << "level " << z;
        }
        EXPECT_EQ(da.hasTileIndex(), true);
        EXPECT_EQ(db.hasTileIndex(), layout == Layout::Xyz) << "the primary key serves reads";
    }
}

// A damaged index whose keys are out of order can answer "the next value
// after v" with v itself or an earlier one; the seeks must still end.
TEST(TileIndex, SeeksEndOnAnIndexWithKeysOutOfOrder) {
    TempDir dir;
    const std::string good = dir.file("good.mbtiles");
    int root = 0;
    {
        StoreWriter w(good, Layout::MBTiles);
        w.FullWorld(0, 3, [](int z, std::int64_t x, std::int64_t y) { return Blob(z, x, y); });
        const auto st = w.Prepare("SELECT rootpage FROM sqlite_master WHERE name = 'tile_index'");
        ASSERT_EQ(sqlite3_step(st.get()), SQLITE_ROW);
        root = sqlite3_column_int(st.get(), 0);
    }
    std::ifstream in(good, std::ios::binary);
    const std::vector<char> original{std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>()};
    const std::size_t page = static_cast<std::size_t>(root - 1) * 4096;
    ASSERT_GT(original.size(), page + 4096);
    ASSERT_EQ(static_cast<unsigned char>(original[page]), 0x0A) << "the index is one leaf page";
    const int cells = (static_cast<unsigned char>(original[page + 3]) << 8) |
                      static_cast<unsigned char>(original[page + 4]);
    ASSERT_EQ(cells, 85);

    Watchdog watchdog("seeks on damaged indexes", std::chrono::seconds(60));
    std::mt19937 rng(11);
    for (int trial = 0; trial < 200; ++trial) {
        // Two cell pointers swapped: two keys trade places in the page.
        std::vector<char> bytes = original;
        const std::size_t a = page + 8 + 2 * (rng() % static_cast<unsigned>(cells));
        const std::size_t b = page + 8 + 2 * (rng() % static_cast<unsigned>(cells));
        std::swap(bytes[a], bytes[b]);
        std::swap(bytes[a + 1], bytes[b + 1]);
        const std::string path = dir.file("bad" + std::to_string(trial) + ".mbtiles");
        std::ofstream(path, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        std::string error;
        int rows = 0;
        {
            const auto db = testsupport::OpenConnection(path, SQLITE_OPEN_READONLY);
            ASSERT_TRUE(db);
            corvalis::SeekZoomExtents(
                db.get(), kMbtiles, [](int) { return true; },
                [&](int, int, int, int, int) { ++rows; }, error);
        }
        EXPECT_LE(rows, 85);
        corvalis::TileDatabase store;
        store.Open(path, error);  // either way, it returns
        std::filesystem::remove(path);
    }
}

}  // namespace
