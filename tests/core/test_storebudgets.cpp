// Stores that would take the viewer's time or memory without limit, or give
// wrong places: each ends within its budget with a clear reason (in a child
// process under a wall clock and an address-space limit), and the store file
// is left as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>

#include "boundedchild.h"
#include "storewriter.h"
#include "tilesource.h"

using corvalis::TileDatabase;
using testsupport::Layout;
using testsupport::StoreWriter;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Opens path in a bounded child; true when the open failed with expected.
testsupport::ChildResult OpenFailsWith(const std::string& path, const std::string& expected) {
    return testsupport::RunBounded([&] {
        TileDatabase db;
        std::string error;
        if (db.Open(path, error)) return 2;
        if (error == expected) return 0;
        std::fprintf(stderr, "open failed with \"%s\"\n", error.c_str());
        return 1;
    });
}

constexpr const char* kTooLong = "the store's query took too long";
constexpr const char* kTooMuchMemory = "the store's query needs too much memory";

const char* const kEndlessRows = "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n) ";

}  // namespace

TEST(StoreBudgets, EndlessOrHugeQueriesFailTheOpenInTimeAndMemory) {
    struct Case {
        const char* name;
        std::function<void(StoreWriter&)> write;
        const char* error;
    };
    const Case cases[] = {
        {"recursive tiles view",
         [](StoreWriter& w) {
             w.Exec(std::string("CREATE VIEW tiles AS ") + kEndlessRows +
                    "SELECT i % 20 AS zoom_level, i AS tile_column, i AS tile_row, "
                    "x'00' AS tile_data FROM n;");
         },
         kTooLong},
        {"cross join tiles view",
         [](StoreWriter& w) {
             w.Exec("CREATE TABLE t (a);");
             w.Exec(
                 "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 999) "
                 "INSERT INTO t SELECT i FROM n;");
             w.Exec(
                 "CREATE VIEW tiles AS SELECT a.a % 3 AS zoom_level, b.a AS tile_column, "
                 "c.a AS tile_row, x'00' AS tile_data FROM t a, t b, t c;");
         },
         kTooLong},
        {"endless metadata view",
         [](StoreWriter& w) {
             w.Exec("CREATE TABLE tiles (zoom_level, tile_column, tile_row, tile_data);");
             w.Exec("INSERT INTO tiles VALUES (0, 0, 0, x'00');");
             w.Exec(std::string("CREATE VIEW metadata AS ") + kEndlessRows +
                    "SELECT 'name' AS name, 'v' AS value FROM n;");
         },
         kTooLong},
        {"metadata view of doubling texts",
         [](StoreWriter& w) {
             w.Exec("CREATE TABLE tiles (zoom_level, tile_column, tile_row, tile_data);");
             w.Exec("INSERT INTO tiles VALUES (0, 0, 0, x'00');");
             w.Exec(
                 "CREATE VIEW metadata AS WITH RECURSIVE n(i, s) AS (SELECT 0, 'ab' UNION ALL "
                 "SELECT i + 1, s || s FROM n WHERE i < 40) SELECT 'name' AS name, s AS value "
                 "FROM n;");
         },
         kTooMuchMemory},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("hostile.mbtiles");
        {
            StoreWriter w(path, Layout::None, false);
            c.write(w);
        }
        const std::string before = ReadAll(path);
        const auto result = OpenFailsWith(path, c.error);
        EXPECT_TRUE(result.Exited(0)) << "exit " << result.exitCode << " signal " << result.signal
                                      << " after " << result.seconds << " s";
        EXPECT_LT(result.peakRssKb, testsupport::RssLimitKb(500));
        EXPECT_EQ(ReadAll(path), before);
    }
}

TEST(StoreBudgets, DamagedPagesAndFilesThatAreNoStoreGiveTheirReason) {
    TempDir dir;
    const std::string damaged = dir.file("damaged.db");
    {
        StoreWriter w(damaged, Layout::Xyz, false);
        w.Exec("BEGIN;");
        for (int i = 0; i < 3000; ++i) w.Tile(i % 12, i, i, testsupport::Bytes(300, 7));
        w.Exec("COMMIT;");
    }
    {
        // Every page after the first four (the tile rows and their index)
        // becomes garbage.
        const auto size = static_cast<std::size_t>(fs::file_size(damaged));
        std::fstream f(damaged, std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(4 * 4096);
        const std::string junk(size - 4 * 4096, '\x5a');
        f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }
    TileDatabase db;
    std::string error;
    EXPECT_FALSE(db.Open(damaged, error));
    EXPECT_EQ(error, "cannot query tile extents: database disk image is malformed");

    const std::string fifo = dir.file("pipe.mbtiles");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_TRUE(OpenFailsWith(fifo, "not a regular file.").Exited(0));
    EXPECT_TRUE(OpenFailsWith(dir.path().string(), "not a regular file.").Exited(0));
}

TEST(StoreBudgets, OversizedTilesAndHeadersAreRefused) {
    TempDir dir;
    const std::string path = dir.file("big.mbtiles");
    {
        StoreWriter w(path, Layout::MBTiles);
        // A WebP header of 16383 x 16384 pixels: more than any tile drawn.
        const testsupport::Bytes webp = {'R',  'I',  'F',  'F', 0,   0, 0, 0, 'W', 'E',  'B',
                                         'P',  'V',  'P',  '8', 'L', 0, 0, 0, 0,   0x2F, 0xFE,
                                         0xFF, 0xFF, 0x0F, 0,   0,   0, 0, 0, 0};
        w.Tile(0, 0, 0, webp);
        w.Tile(1, 0, 1, testsupport::Bytes((std::size_t{64} << 20) + 1, 1));
        w.Tile(1, 1, 1, testsupport::Bytes(std::size_t{64} << 20, 2));
    }
    TileDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(path, error)) << error;
    EXPECT_EQ(db.tileWidth(), 256);
    EXPECT_EQ(db.tileHeight(), 256);
    std::vector<std::uint8_t> bytes;
    EXPECT_FALSE(db.ReadTile(1, 0, 0, bytes)) << "over 64 MiB";
    EXPECT_TRUE(db.ReadTile(1, 1, 0, bytes));
    EXPECT_EQ(bytes.size(), std::size_t{64} << 20);
}

// Columns and rows outside 0..2^z-1 (negative, huge, not whole numbers,
// wrapped by an offset) belong to no extent; bounds derived from the rest
// stay inside the world.
TEST(StoreBudgets, TilesOutsideTheWorldArePartOfNoExtent) {
    TempDir dir;
    const std::string path = dir.file("wide.db");
    {
        StoreWriter w(path, Layout::Xyz);
        w.Tile(2, 1, 2, testsupport::Blob(2, 1, 2));
        w.Tile(2, -3, 1, testsupport::Blob(2, -3, 1));
        w.Tile(2, 2, 9, testsupport::Blob(2, 2, 9));
        w.Exec("INSERT INTO tiles VALUES (1e308, 0, 2, 0, x'00'), ('inf', 1, 2, 1, x'00');");
        w.Exec("UPDATE tiles SET x = 9e999 WHERE x = 1e308;");
        w.Tile(3, 0, 0, testsupport::Blob(3, 0, 0));
        w.Tile(3, 8, 0, testsupport::Blob(3, 8, 0));
        w.Tile(4, 16, 16, testsupport::Blob(4, 16, 16));  // no tile of level 4 is in the world
    }
    TileDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(path, error)) << error;
    std::int32_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    ASSERT_TRUE(db.GetZoomExtent(2, x0, x1, y0, y1));
    EXPECT_EQ(std::vector<int>({x0, x1, y0, y1}), std::vector<int>({1, 1, 2, 2}));
    ASSERT_TRUE(db.GetZoomExtent(3, x0, x1, y0, y1));
    EXPECT_EQ(std::vector<int>({x0, x1, y0, y1}), std::vector<int>({0, 0, 0, 0}));
    EXPECT_FALSE(db.zoomPresent(4));
    EXPECT_EQ(db.maxZoom(), 3);
    double w = 0, s = 0, e = 0, n = 0;
    ASSERT_TRUE(db.GetBounds(w, s, e, n));
    EXPECT_EQ(w, -180.0);
    EXPECT_EQ(e, -135.0);

    // An Orux offset at level 31 that carries a local column past the world.
    const std::string orux = dir.file("far.db");
    {
        StoreWriter o(orux, Layout::Xyz, false);
        o.Tile(31, 0, 0, testsupport::Blob(31, 0, 0));
        o.Tile(31, 5, 0, testsupport::Blob(31, 5, 0));
    }
    std::ofstream(dir.file("far.omm")) << "[XY]\nMinX_31=2147483646\nMinY_31=0\n";
    ASSERT_TRUE(db.Open(orux, error)) << error;
    ASSERT_TRUE(db.GetZoomExtent(31, x0, x1, y0, y1));
    EXPECT_EQ(x0, 2147483646);
    EXPECT_EQ(x1, 2147483646);
    ASSERT_TRUE(db.GetBounds(w, s, e, n));
    EXPECT_LE(e, 180.0);
}

// A relative name that begins "file:" is a file name, not a URI whose
// parameters change how the store is read.
TEST(StoreBudgets, FileNamesThatLookLikeUrisAreFileNames) {
    TempDir dir;
    const fs::path previous = fs::current_path();
    fs::current_path(dir.path());
    {
        StoreWriter w("./file:plain.mbtiles", Layout::MBTiles);
        w.Tile(0, 0, 0, testsupport::Blob(0, 0, 0));
    }
    TileDatabase db;
    std::string error;
    EXPECT_TRUE(db.Open("file:plain.mbtiles", error)) << error;
    EXPECT_FALSE(db.Open("file:plain.mbtiles?mode=memory", error));
    EXPECT_EQ(error.rfind("cannot open database: ", 0), 0u) << error;
    fs::current_path(previous);
}
