// Tile store reading on real SQLite files written by the tests.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "storewriter.h"
#include "tilesource.h"

using corvalis::TileDatabase;
using testsupport::Blob;
using testsupport::Bytes;
using testsupport::Layout;
using testsupport::PngHeader;
using testsupport::StoreWriter;
using testsupport::TempDir;

namespace {

struct Extent {
    int minX, maxX, minY, maxY;
    bool operator==(const Extent&) const = default;
};

Extent ExtentOf(const TileDatabase& db, int z) {
    Extent e{-7, -7, -7, -7};
    EXPECT_TRUE(db.GetZoomExtent(z, e.minX, e.maxX, e.minY, e.maxY)) << "level " << z;
    return e;
}

std::string ReadBack(TileDatabase& db, int z, int x, int y) {
    const std::uint8_t* data = nullptr;
    std::int32_t count = 0;
    if (!db.ReadTile(z, x, y, data, count)) {
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(count, 0);
        return "<none>";
    }
    return std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count));
}

std::string Text(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

class TileStoreTest : public ::testing::Test {
protected:
    TempDir dir;
    TileDatabase db;
    std::string error;

    // An MBTiles store over the whole world at levels z0..z1 with tagged tiles.
    std::string WorldMbtiles(const std::string& name, int z0, int z1) {
        const std::string path = dir.file(name);
        StoreWriter w(path, Layout::MBTiles);
        w.FullWorld(z0, z1, [](int z, std::int64_t x, std::int64_t y) { return Blob(z, x, y); });
        return path;
    }
};

TEST_F(TileStoreTest, RecognisesEachLayout) {
    struct Case {
        std::string file;
        Layout layout;
        std::string extraSql;
        corvalis::TileStoreKind kind;
        std::string kindName;
        bool xyz;
    };
    const Case cases[] = {
        {"a.mbtiles", Layout::MBTiles, "", corvalis::KindMBTiles, "MBTiles", false},
        {"b.db", Layout::Xyz, "", corvalis::KindSqliteXyz, "SQLite tiles (XYZ)", true},
        {"c.SQLITEDB", Layout::Xyz, "", corvalis::KindSqliteReversedZ, "SQLite tiles (reversed z)",
         true},
        {"d.sqlitedb", Layout::Xyz, "", corvalis::KindSqliteReversedZ, "SQLite tiles (reversed z)",
         true},
        // Both image columns: the MBTiles one decides.
        {"e.db", Layout::MBTiles, "ALTER TABLE tiles ADD COLUMN image blob;", corvalis::KindMBTiles,
         "MBTiles", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = dir.file(c.file);
        {
            StoreWriter w(path, c.layout);
            if (!c.extraSql.empty()) w.Exec(c.extraSql);
            w.Tile(c.kind == corvalis::KindSqliteReversedZ ? 17 : 0, 0, 0, Blob(0, 0, 0));
        }
        ASSERT_TRUE(db.Open(path, error)) << error;
        EXPECT_TRUE(error.empty());
        EXPECT_EQ(db.kind(), c.kind);
        EXPECT_EQ(db.KindName(), c.kindName);
        EXPECT_EQ(db.xyzRows(), c.xyz);
        EXPECT_EQ(db.path(), path);
        EXPECT_FALSE(db.localGrid());
        EXPECT_FALSE(db.geoUnknown());
    }
}

TEST_F(TileStoreTest, AcceptsTilesViewOverDeduplicatedImages) {
    const std::string path = dir.file("view.mbtiles");
    {
        StoreWriter w(path, Layout::None);
        w.Exec("CREATE TABLE map (zoom_level int, tile_column int, tile_row int, tile_id text);");
        w.Exec("CREATE TABLE images (tile_id text, tile_data blob);");
        w.Exec(
            "CREATE VIEW tiles AS SELECT map.zoom_level AS zoom_level, map.tile_column AS "
            "tile_column, map.tile_row AS tile_row, images.tile_data AS tile_data FROM map "
            "JOIN images ON map.tile_id = images.tile_id;");
        w.Exec("INSERT INTO map VALUES (1, 1, 0, 'a');");
        w.Exec("INSERT INTO images VALUES ('a', X'0102030405');");
    }
    ASSERT_TRUE(db.Open(path, error)) << error;
    EXPECT_EQ(db.kind(), corvalis::KindMBTiles);
    EXPECT_EQ(ExtentOf(db, 1), (Extent{1, 1, 1, 1}));
    EXPECT_EQ(ReadBack(db, 1, 1, 1), std::string("\x01\x02\x03\x04\x05"));
}

TEST_F(TileStoreTest, RefusesFilesThatAreNotTileStores) {
    const std::string noTiles = dir.file("none.db");
    { StoreWriter w(noTiles, Layout::None); }
    const std::string upper = dir.file("upper.db");
    {
        StoreWriter w(upper, Layout::None);
        w.Exec("CREATE TABLE TILES (x int, y int, z int, image blob);");
    }
    const std::string noColumns = dir.file("cols.db");
    {
        StoreWriter w(noColumns, Layout::None);
        w.Exec("CREATE TABLE tiles (x int, y int, z int, data blob);");
    }
    const std::string text = dir.file("text.mbtiles");
    WriteFile(text, std::string(4096, 'x'));
    const std::string empty = dir.file("empty.mbtiles");
    { StoreWriter w(empty, Layout::MBTiles); }
    const std::string outOfRange = dir.file("range.mbtiles");
    {
        StoreWriter w(outOfRange, Layout::MBTiles);
        w.Tile(32, 0, 0, Blob(0, 0, 0));
        w.Tile(-1, 0, 0, Blob(0, 0, 0));
    }

    const std::pair<std::string, std::string> cases[] = {
        {noTiles, "this file has no 'tiles' table."},
        {upper, "this file has no 'tiles' table."},
        {text, "this file has no 'tiles' table."},
        {noColumns, "'tiles' table has neither 'tile_data' nor 'image' column."},
        {empty, "the tiles table is empty."},
        {outOfRange, "the tiles table is empty."},
    };
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(db.Open(path, error));
        EXPECT_EQ(error, expected);
        EXPECT_FALSE(db.isOpen());
        EXPECT_EQ(db.KindName(), "-");
        EXPECT_EQ(ReadBack(db, 0, 0, 0), "<none>");
        db.Close();
    }

    EXPECT_FALSE(db.Open(dir.file("missing.mbtiles"), error));
    EXPECT_EQ(error.rfind("cannot open database: ", 0), 0u) << error;
    EXPECT_GT(error.size(), std::string("cannot open database: ").size());
    EXPECT_FALSE(db.isOpen());
}

TEST_F(TileStoreTest, MetadataRules) {
    struct Case {
        std::vector<std::pair<std::string, std::string>> rows;
        std::string name, format;
        bool xyz;
        int minZoom, maxZoom;
        bool boundsFromMetadata;
    };
    // Tiles at levels 0..5; the default name comes from the file name.
    const Case cases[] = {
        {{}, "area.oruxmapsimages", "jpg", false, 0, 5, false},
        {{{"NAME", "  My map "}, {"Format", "PNG"}}, "  My map ", "png", false, 0, 5, false},
        {{{"name", "   "}, {"format", ""}}, "area.oruxmapsimages", "", false, 0, 5, false},
        {{{"scheme", " XYZ "}}, "area.oruxmapsimages", "jpg", true, 0, 5, false},
        {{{"scheme", "slippy"}, {"scheme", "google"}},
         "area.oruxmapsimages",
         "jpg",
         true,
         0,
         5,
         false},
        {{{"scheme", "xyz"}, {"scheme", "TMS"}}, "area.oruxmapsimages", "jpg", false, 0, 5, false},
        {{{"minzoom", "abc"}, {"maxzoom", "40"}}, "area.oruxmapsimages", "jpg", false, 0, 5, false},
        {{{"minzoom", "  +2xyz"}, {"maxzoom", "9"}},
         "area.oruxmapsimages",
         "jpg",
         false,
         2,
         5,
         false},
        {{{"minzoom", "3"}, {"minzoom", "-1"}, {"maxzoom", "4"}, {"maxzoom", "4.9"}},
         "area.oruxmapsimages",
         "jpg",
         false,
         3,
         4,
         false},
        {{{"bounds", "-180,-85.0511,180,85.0511"}},
         "area.oruxmapsimages",
         "jpg",
         false,
         0,
         5,
         true},
        {{{"bounds", " -10, 20,30 , 40"}}, "area.oruxmapsimages", "jpg", false, 0, 5, false},
        {{{"bounds", " -10, 20, 30, 40 trailing"}},
         "area.oruxmapsimages",
         "jpg",
         false,
         0,
         5,
         true},
        {{{"bounds", "30,20,-10,40"}}, "area.oruxmapsimages", "jpg", false, 0, 5, false},
        {{{"bounds", "-181,20,-10,40"}}, "area.oruxmapsimages", "jpg", false, 0, 5, false},
        {{{"bounds", "1,2,3"}}, "area.oruxmapsimages", "jpg", false, 0, 5, false},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(index);
        // Appended, not "m" + std::to_string(...): GCC 12 at -O3 warns
        // falsely (-Wrestrict) about a one-letter literal plus a string.
        std::string folder = "m";
        folder += std::to_string(index++);
        const std::string path = dir.file(folder + "/area.oruxmapsimages.db");
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        {
            StoreWriter w(path, Layout::MBTiles);
            for (const auto& [k, v] : c.rows) w.Meta(k, v);
            w.Exec("INSERT INTO metadata VALUES (NULL, 'x'), ('name', NULL);");
            for (int z = 0; z <= 5; ++z) w.Tile(z, 0, 0, Blob(z, 0, 0));
        }
        ASSERT_TRUE(db.Open(path, error)) << error;
        EXPECT_EQ(db.name(), c.name);
        EXPECT_EQ(db.format(), c.format);
        EXPECT_EQ(db.xyzRows(), c.xyz);
        EXPECT_EQ(db.minZoom(), c.minZoom);
        EXPECT_EQ(db.maxZoom(), c.maxZoom);
        EXPECT_FALSE(db.geoUnknown()) << "only SQLite-tiles stores are Orux stores";
        double w = 0, s = 0, e = 0, n = 0;
        ASSERT_TRUE(db.GetBounds(w, s, e, n));
        if (c.boundsFromMetadata) {
            EXPECT_LT(w, -9.0);
            EXPECT_GT(n, 39.0);
        } else {
            // Derived from the single tile (0, 0) at the highest level.
            EXPECT_DOUBLE_EQ(w, -180.0);
            EXPECT_DOUBLE_EQ(e, -180.0 + 360.0 / (1 << c.maxZoom));
        }
    }
}

TEST_F(TileStoreTest, BoundsScanKeepsLastAcceptedRow) {
    const std::string path = dir.file("b.mbtiles");
    {
        StoreWriter w(path, Layout::MBTiles);
        w.Meta("bounds", "-10,20,30,40");
        w.Meta("bounds", "nonsense");
        w.Tile(0, 0, 0, Blob(0, 0, 0));
    }
    ASSERT_TRUE(db.Open(path, error));
    double w = 0, s = 0, e = 0, n = 0;
    ASSERT_TRUE(db.GetBounds(w, s, e, n));
    EXPECT_EQ(std::make_tuple(w, s, e, n), std::make_tuple(-10.0, 20.0, 30.0, 40.0));
}

TEST_F(TileStoreTest, ZoomRangeSettling) {
    auto store = [&](const std::string& name, std::vector<int> levels,
                     std::vector<std::pair<std::string, std::string>> meta) {
        const std::string path = dir.file(name);
        StoreWriter w(path, Layout::MBTiles);
        for (const auto& [k, v] : meta) w.Meta(k, v);
        for (int z : levels) w.Tile(z, 0, 0, Blob(z, 0, 0));
        return path;
    };
    ASSERT_TRUE(db.Open(
        store("a.mbtiles", {0, 1, 2, 3, 4, 5}, {{"minzoom", "2"}, {"maxzoom", "9"}}), error));
    EXPECT_EQ(std::make_pair(db.minZoom(), db.maxZoom()), std::make_pair(2, 5));

    EXPECT_FALSE(db.Open(store("b.mbtiles", {0, 1, 2, 3, 4, 5}, {{"minzoom", "7"}}), error));
    EXPECT_EQ(error, "no usable zoom level found.");

    ASSERT_TRUE(db.Open(store("c.mbtiles", {3, 5}, {}), error));
    EXPECT_EQ(std::make_pair(db.minZoom(), db.maxZoom()), std::make_pair(3, 5));
    int v = 99;
    EXPECT_FALSE(db.GetZoomExtent(4, v, v, v, v));
    EXPECT_FALSE(db.GetZoomExtent(-1, v, v, v, v));
    EXPECT_FALSE(db.GetZoomExtent(32, v, v, v, v));
    EXPECT_EQ(v, 99) << "a failed lookup leaves its outputs untouched";

    // A metadata range that starts on an empty level moves to the next present one.
    ASSERT_TRUE(
        db.Open(store("d.mbtiles", {3, 5, 7}, {{"minzoom", "4"}, {"maxzoom", "6"}}), error));
    EXPECT_EQ(std::make_pair(db.minZoom(), db.maxZoom()), std::make_pair(5, 5));
}

TEST_F(TileStoreTest, WorldNumberingForEveryRowScheme) {
    const std::string path = WorldMbtiles("w.mbtiles", 0, 3);
    ASSERT_TRUE(db.Open(path, error)) << error;
    for (int z = 0; z <= 3; ++z) {
        const int m = (1 << z) - 1;
        EXPECT_EQ(ExtentOf(db, z), (Extent{0, m, 0, m}));
    }
    // TMS file rows are flipped: world row 0 is stored row 1 at level 1.
    EXPECT_EQ(ReadBack(db, 1, 0, 0), Text(Blob(1, 0, 0)));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) EXPECT_EQ(ReadBack(db, 1, x, y), Text(Blob(1, x, y)));
    EXPECT_EQ(ReadBack(db, 1, 99, 99), "<none>");
    EXPECT_EQ(ReadBack(db, 3, 7, 7), Text(Blob(3, 7, 7)));

    // One tile stored at TMS row 0 (the south row) at level 1 is world row 1.
    const std::string south = dir.file("south.mbtiles");
    {
        StoreWriter w(south, Layout::MBTiles);
        w.Tile(1, 0, 0, Blob(1, 0, 0));
    }
    ASSERT_TRUE(db.Open(south, error));
    EXPECT_EQ(ExtentOf(db, 1), (Extent{0, 0, 1, 1}));
    EXPECT_EQ(ReadBack(db, 1, 0, 1), Text(Blob(1, 0, 0)));

    // A scheme entry switches an MBTiles store to XYZ rows.
    const std::string xyz = dir.file("xyz.mbtiles");
    {
        StoreWriter w(xyz, Layout::MBTiles);
        w.Meta("scheme", "xyz");
        w.Tile(1, 0, 0, Blob(1, 0, 0));
    }
    ASSERT_TRUE(db.Open(xyz, error));
    EXPECT_EQ(ExtentOf(db, 1), (Extent{0, 0, 0, 0}));
    EXPECT_EQ(ReadBack(db, 1, 0, 0), Text(Blob(1, 0, 0)));

    // Reversed zoom: stored z 17..14 are levels 0..3; stored 18 (level -1) is skipped.
    const std::string rev = dir.file("r.sqlitedb");
    {
        StoreWriter w(rev, Layout::Xyz);
        for (int z = 0; z <= 3; ++z) w.Tile(17 - z, (1 << z) - 1, 0, Blob(z, (1 << z) - 1, 0));
        w.Tile(18, 0, 0, Blob(-1, 0, 0));
    }
    ASSERT_TRUE(db.Open(rev, error));
    EXPECT_EQ(std::make_pair(db.minZoom(), db.maxZoom()), std::make_pair(0, 3));
    EXPECT_EQ(ExtentOf(db, 3), (Extent{7, 7, 0, 0}));
    EXPECT_EQ(ReadBack(db, 3, 7, 0), Text(Blob(3, 7, 0)));
    EXPECT_EQ(ReadBack(db, 2, 7, 0), "<none>");
}

TEST_F(TileStoreTest, DerivesBoundsFromHighestLevel) {
    const std::string path = dir.file("d.db");
    {
        StoreWriter w(path, Layout::Xyz);
        for (int y = 1; y <= 2; ++y)
            for (int x = 1; x <= 2; ++x) w.Tile(2, x, y, Blob(2, x, y));
        w.Tile(1, 0, 0, Blob(1, 0, 0));
    }
    ASSERT_TRUE(db.Open(path, error));
    double w = 0, s = 0, e = 0, n = 0;
    ASSERT_TRUE(db.GetBounds(w, s, e, n));
    EXPECT_DOUBLE_EQ(w, -90.0);
    EXPECT_DOUBLE_EQ(e, 90.0);
    EXPECT_NEAR(n, 66.51326, 1e-5);
    EXPECT_NEAR(s, -66.51326, 1e-5);
}

TEST_F(TileStoreTest, ReopeningLeavesNothingOfThePreviousStore) {
    const std::string a = dir.file("a.mbtiles");
    {
        StoreWriter w(a, Layout::MBTiles);
        w.Meta("bounds", "-10,20,30,40");
        w.Meta("name", "A");
        for (int z = 0; z <= 5; ++z) w.Tile(z, 0, 0, PngHeader(512, 512));
    }
    const std::string b = dir.file("b.db");
    {
        StoreWriter w(b, Layout::Xyz);
        for (int z = 10; z <= 12; ++z) w.Tile(z, 5, 6, Blob(z, 5, 6));
    }
    ASSERT_TRUE(db.Open(a, error));
    EXPECT_EQ(db.tileWidth(), 512);
    ASSERT_TRUE(db.Open(b, error));
    EXPECT_EQ(db.name(), "b");
    EXPECT_EQ(db.tileWidth(), 256);
    EXPECT_EQ(std::make_pair(db.minZoom(), db.maxZoom()), std::make_pair(10, 12));
    for (int z = 0; z <= 5; ++z) EXPECT_FALSE(db.zoomPresent(z));
    double w = 0, s = 0, e = 0, n = 0;
    ASSERT_TRUE(db.GetBounds(w, s, e, n));
    EXPECT_DOUBLE_EQ(w, 5.0 / 4096 * 360 - 180) << "bounds come from B's tiles, not A's metadata";
}

TEST_F(TileStoreTest, ReadTileEdgeCases) {
    const std::string path = dir.file("e.db");
    {
        StoreWriter w(path, Layout::Xyz);
        w.Tile(0, 0, 0, Blob(0, 0, 0));
        w.Exec("INSERT INTO tiles (z, x, y, s, image) VALUES (1, 0, 0, 0, NULL);");
        w.Tile(1, 1, 0, Bytes{});
        w.Tile(1, 0, 1, Bytes(70000, 7));
        w.Tile(1, 1, 1, Bytes{9});
    }
    ASSERT_TRUE(db.Open(path, error));
    EXPECT_EQ(ReadBack(db, 1, 0, 0), "<none>") << "NULL image";
    EXPECT_EQ(ReadBack(db, 1, 1, 0), "<none>") << "empty image";

    // Bytes handed out live in one buffer that the next read refills.
    const std::uint8_t* first = nullptr;
    std::int32_t firstCount = 0;
    ASSERT_TRUE(db.ReadTile(1, 1, 1, first, firstCount));
    EXPECT_EQ(firstCount, 1);
    const std::uint8_t* second = nullptr;
    std::int32_t secondCount = 0;
    ASSERT_TRUE(db.ReadTile(1, 0, 1, second, secondCount));
    EXPECT_EQ(secondCount, 70000);
    EXPECT_EQ(second[69999], 7);
    // Extreme addresses find nothing and do not misbehave.
    EXPECT_EQ(ReadBack(db, INT32_MIN, INT32_MAX, INT32_MIN), "<none>");
    EXPECT_EQ(ReadBack(db, 40, 0, 0), "<none>");

    db.Close();
    EXPECT_EQ(ReadBack(db, 0, 0, 0), "<none>");
    db.Close();
    EXPECT_FALSE(db.isOpen());
}

TEST_F(TileStoreTest, ProbesTileSizeFromFirstCornerTile) {
    auto open = [&](const std::string& name, auto fill) {
        const std::string path = dir.file(name);
        {
            StoreWriter w(path, Layout::Xyz);
            fill(w);
        }
        EXPECT_TRUE(db.Open(path, error)) << error;
        return std::make_pair(db.tileWidth(), db.tileHeight());
    };
    using P = std::pair<int, int>;
    EXPECT_EQ(open("png.db", [](StoreWriter& w) { w.Tile(0, 0, 0, PngHeader(512, 384)); }),
              P(512, 384));
    // A GIF corner tile ends the search with 256 even when a later level has a PNG.
    EXPECT_EQ(open("gif.db",
                   [](StoreWriter& w) {
                       const std::string gif = "GIF89a\x10\0\x10\0";
                       w.Tile(0, 0, 0, Bytes(gif.begin(), gif.end()));
                       w.Tile(1, 0, 0, PngHeader(512, 512));
                   }),
              P(256, 256));
    // Level 0's corner tile is missing (only column 1 is non-empty... at level 1 the corner
    // (0,0) is absent but the extent starts at column 0): the next level decides.
    EXPECT_EQ(open("corner.db",
                   [](StoreWriter& w) {
                       w.Tile(1, 0, 1, PngHeader(100, 100));
                       w.Tile(1, 1, 0, PngHeader(100, 100));
                       w.Tile(2, 0, 0, PngHeader(300, 200));
                   }),
              P(300, 200));
    EXPECT_EQ(open("oversize.db", [](StoreWriter& w) { w.Tile(0, 0, 0, PngHeader(8192, 256)); }),
              P(256, 256));
}

TEST(ProbeImageSize, Headers) {
    auto probe = [](const Bytes& b) {
        std::int32_t w = -1, h = -1;
        const bool ok =
            corvalis::ProbeImageSize(b.data(), static_cast<std::int64_t>(b.size()), w, h);
        return std::make_tuple(ok, w, h);
    };
    using R = std::tuple<bool, int, int>;
    EXPECT_EQ(probe(PngHeader(256, 512)), R(true, 256, 512));
    EXPECT_EQ(probe(PngHeader(8191, 1)), R(true, 8191, 1));
    EXPECT_EQ(std::get<0>(probe(PngHeader(8192, 256))), false);
    EXPECT_EQ(std::get<0>(probe(PngHeader(0, 256))), false);
    const Bytes png = PngHeader(256, 256);
    EXPECT_EQ(probe(Bytes(png.begin(), png.begin() + 20)), R(false, 0, 0));
    EXPECT_EQ(probe(Bytes{0x89, 'P', 'N'}), R(false, 0, 0));

    // JPEG: an APP0 segment, then a baseline frame header for 300 x 200 (h first).
    Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F',  'I',  'F',  0,    1,
                  1,    0,    0,    1,    0,    1,    0,   0,    0xFF, 0xC0, 0x00, 0x11,
                  0x08, 0x00, 200,  0x01, 0x2C, 3,    1,   0x22, 0,    2,    0x11, 1};
    EXPECT_EQ(probe(jpeg), R(true, 300, 200));
    Bytes progressive = jpeg;
    progressive[21] = 0xC2;
    EXPECT_EQ(probe(progressive), R(true, 300, 200));
    Bytes huffmanFirst = {0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x04, 0,  0, 0xFF, 0xC0,
                          0,    0x11, 8,    0,    16,   0,    32, 3, 0,    0};
    EXPECT_EQ(probe(huffmanFirst), R(true, 32, 16));
    Bytes endsEarly = {0xFF, 0xD8, 0xFF, 0xD9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::get<0>(probe(endsEarly)), false);
    Bytes badLength = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::get<0>(probe(badLength)), false);
    Bytes hugeLength = {0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::get<0>(probe(hugeLength)), false);

    auto webp = [](const char* chunk) {
        Bytes b(30, 0);
        std::memcpy(b.data(), "RIFF", 4);
        std::memcpy(b.data() + 8, "WEBP", 4);
        std::memcpy(b.data() + 12, chunk, 4);
        return b;
    };
    Bytes lossy = webp("VP8 ");
    lossy[26] = 0x00;
    lossy[27] = 0xC1;  // 256 with scale bits set
    lossy[28] = 0x00;
    lossy[29] = 0x02;  // 512
    EXPECT_EQ(probe(lossy), R(true, 256, 512));
    EXPECT_EQ(probe(webp("VP8L")), R(true, 1, 1));
    Bytes lossless = webp("VP8L");
    const std::uint32_t bits = 255u | (511u << 14);
    for (int i = 0; i < 4; ++i)
        lossless[21 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (8 * i));
    EXPECT_EQ(probe(lossless), R(true, 256, 512));
    Bytes extended = webp("VP8X");
    extended[24] = 0xFF;
    extended[25] = 0x01;  // 511 + 1
    extended[27] = 0xFF;  // 255 + 1
    EXPECT_EQ(probe(extended), R(true, 512, 256));
    extended[26] = 0x01;  // width beyond 8191
    EXPECT_EQ(std::get<0>(probe(extended)), false);
    EXPECT_EQ(std::get<0>(probe(webp("ALPH"))), false);

    std::int32_t w = 5, h = 5;
    EXPECT_FALSE(corvalis::ProbeImageSize(nullptr, 100, w, h));
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
}

TEST(OruxSidecarPath, Rules) {
    EXPECT_EQ(corvalis::OruxSidecarPath("/maps/Area.ORUXMAPSIMAGES.DB"), "/maps/Area.omm");
    EXPECT_EQ(corvalis::OruxSidecarPath("/maps/x.omm.oruxmapsimages.db"), "/maps/x.omm");
    EXPECT_EQ(corvalis::OruxSidecarPath("/maps/x.OMM.oruxmapsimages.db"), "/maps/x.OMM");
    EXPECT_EQ(corvalis::OruxSidecarPath("/maps/area.db"), "/maps/area.omm");
    EXPECT_EQ(corvalis::OruxSidecarPath("/maps.d/area"), "/maps.d/area.omm");
    EXPECT_EQ(corvalis::OruxSidecarPath("area"), "area.omm");
}

class OruxTest : public TileStoreTest {
protected:
    // Local tiles at level 1 (0..1) and 2 (0..1 x 0..1).
    std::string Store(const std::string& name, const std::string& sidecar) {
        const std::string path = dir.file(name);
        {
            StoreWriter w(path, Layout::Xyz);
            w.Tile(1, 0, 0, Blob(1, 0, 0));
            for (int y = 0; y <= 1; ++y)
                for (int x = 0; x <= 1; ++x) w.Tile(2, x, y, Blob(2, x, y));
        }
        if (!sidecar.empty()) WriteFile(corvalis::OruxSidecarPath(path), sidecar);
        return path;
    }
};

TEST_F(OruxTest, SidecarPlacesLocalGridOnWorld) {
    ASSERT_TRUE(db.Open(
        Store("area.oruxmapsimages.db", "[XY]\r\nMinX_2=1\r\nMinY_2=1\r\nMinX_1=2\r\nMinY_1=0\r\n"),
        error))
        << error;
    EXPECT_TRUE(db.localGrid());
    EXPECT_FALSE(db.geoUnknown());
    EXPECT_EQ(db.KindName(), "Orux (local grid)");
    EXPECT_EQ(ExtentOf(db, 2), (Extent{1, 2, 1, 2}));
    int v = 0;
    EXPECT_FALSE(db.GetZoomExtent(1, v, v, v, v)) << "MinX_1=2 is not below 2^1";
    EXPECT_EQ(ReadBack(db, 2, 1, 1), Text(Blob(2, 0, 0)));
    EXPECT_EQ(ReadBack(db, 2, 2, 2), Text(Blob(2, 1, 1)));
    EXPECT_EQ(ReadBack(db, 2, 0, 0), "<none>");
    EXPECT_EQ(ReadBack(db, 1, 2, 0), "<none>") << "levels without offsets cannot be read";
    EXPECT_EQ(ReadBack(db, 32, 0, 0), "<none>");
    EXPECT_EQ(ReadBack(db, -1, 0, 0), "<none>");
}

TEST_F(OruxTest, SidecarReadingRules) {
    struct Case {
        std::string name, sidecar;
        bool localGrid, geoUnknown;
    };
    const Case cases[] = {
        {"a.oruxmapsimages.db", "[xy]\nminx_2 = 0\nMINY_2=3\n", true, false},
        {"b.oruxmapsimages.db", "[Other]\nMinX_2=0\nMinY_2=0\n", false, true},
        {"c.oruxmapsimages.db", "[XY]\nMinX_2=abc\nMinY_2=0\nMinX_1=1.5\nMinY_1=0\n", false, true},
        {"d.oruxmapsimages.db", "", false, true},
        {"e.db", "[XY]\nMinX_2=0\nMinY_2=0\n", true, false},
        {"f.db", "", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(db.Open(Store(c.name, c.sidecar), error)) << error;
        EXPECT_EQ(db.localGrid(), c.localGrid);
        EXPECT_EQ(db.geoUnknown(), c.geoUnknown);
        if (!c.localGrid) {
            EXPECT_EQ(db.KindName(), "SQLite tiles (XYZ)");
            EXPECT_EQ(ExtentOf(db, 2), (Extent{0, 1, 0, 1})) << "own numbering without a sidecar";
        }
    }
}

TEST_F(OruxTest, LevelLimitAtZoom31) {
    const std::string path = dir.file("deep.oruxmapsimages.db");
    {
        StoreWriter w(path, Layout::Xyz);
        w.Tile(31, 0, 0, Blob(31, 0, 0));
        w.Tile(30, 0, 0, Blob(30, 0, 0));
    }
    WriteFile(corvalis::OruxSidecarPath(path),
              "[XY]\nMinX_31=2147483647\nMinY_31=2147483647\nMinX_30=1073741824\nMinY_30=0\n");
    ASSERT_TRUE(db.Open(path, error)) << error;
    EXPECT_EQ(ExtentOf(db, 31), (Extent{INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX}));
    EXPECT_EQ(ReadBack(db, 31, INT32_MAX, INT32_MAX), Text(Blob(31, 0, 0)));
    EXPECT_FALSE(db.zoomPresent(30)) << "MinX_30 = 2^30 is outside level 30";

    WriteFile(corvalis::OruxSidecarPath(path),
              "[XY]\nMinX_31=2147483648\nMinY_31=0\nMinX_5=0\nMinY_5=0\n");
    EXPECT_FALSE(db.Open(path, error));
    EXPECT_EQ(error, "the tiles table is empty.") << "no level with tiles keeps an offset";
}

TEST_F(TileStoreTest, OpeningNeverChangesTheFile) {
    const std::string path = WorldMbtiles("ro.mbtiles", 0, 2);
    const auto before = std::filesystem::last_write_time(path);
    const auto size = std::filesystem::file_size(path);
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(db.Open(path, error));
        for (int z = 0; z <= 2; ++z) ReadBack(db, z, 0, 0);
    }
    db.Close();
    EXPECT_EQ(std::filesystem::last_write_time(path), before);
    EXPECT_EQ(std::filesystem::file_size(path), size);
    std::ifstream again(path, std::ios::binary);
    EXPECT_EQ(
        std::string((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>()),
        bytes);
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1) << "no journal or other file beside the store";
}

}  // namespace
