// Stores built to hurt: oversized or huge tiles, extents at the edges of the
// integer range, enormous metadata and sidecars, millions of unusable levels.
// Each opens or fails with a clear reason, quickly and within modest memory.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

#include "mapviewport.h"
#include "peakmemory.h"
#include "storewriter.h"
#include "tilesource.h"
#include "watchdog.h"

using corvalis::BuildTileGrid;
using corvalis::MapViewport;
using corvalis::TileDatabase;
using testsupport::Blob;
using testsupport::Bytes;
using testsupport::Layout;
using testsupport::PngHeader;
using testsupport::StoreWriter;
using testsupport::TempDir;
using testsupport::Watchdog;

namespace {

// Start of a baseline JPEG whose frame header announces w x h.
Bytes JpegHeader(std::uint16_t w, std::uint16_t h) {
    return {0xFF,
            0xD8,
            0xFF,
            0xE0,
            0x00,
            0x04,
            0x00,
            0x00,
            0xFF,
            0xC0,
            0x00,
            0x11,
            0x08,
            static_cast<std::uint8_t>(h >> 8),
            static_cast<std::uint8_t>(h),
            static_cast<std::uint8_t>(w >> 8),
            static_cast<std::uint8_t>(w),
            0x03,
            0x01,
            0x22,
            0x00,
            0x02,
            0x11,
            0x01,
            0x03,
            0x11,
            0x01};
}

constexpr const char* kTooLarge = "tile extent too large to display.";
// Memory a store may use beyond what it reads: SQLite's page cache and sort space.
constexpr std::int64_t kStoreOverheadKb = 96 * 1024;

class HostileStore : public ::testing::Test {
protected:
    // Opens under a watchdog and checks the peak memory it took.
    bool OpenGuarded(const std::string& path, std::int64_t allowedKb = kStoreOverheadKb) {
        const bool measured = testsupport::ResetPeakMemory();
        const std::int64_t before = testsupport::ResidentMemoryKb();
        Watchdog watchdog("opening " + path);
        const bool ok = db.Open(path, error);
        if (measured) {
            EXPECT_LT(testsupport::PeakMemoryKb() - before, allowedKb) << path;
        }
        return ok;
    }
    std::string Store(const std::string& name, Layout layout,
                      const std::function<void(StoreWriter&)>& fill) {
        const std::string path = dir.file(name);
        StoreWriter w(path, layout);
        w.Exec("BEGIN;");
        fill(w);
        w.Exec("COMMIT;");
        return path;
    }
    TempDir dir;
    TileDatabase db;
    std::string error;
};

TEST_F(HostileStore, HeadersAtAndBeyondTheSizeLimitSettleTheTileSize) {
    struct Case {
        Bytes tile;
        int size;
    };
    const Case cases[] = {{PngHeader(8191, 8191), 8191}, {JpegHeader(8191, 8191), 8191},
                          {PngHeader(8193, 8193), 256},  {JpegHeader(8192, 100), 256},
                          {PngHeader(100000, 3), 256},   {JpegHeader(65535, 65535), 256}};
    for (const Case& c : cases) {
        const std::string path = Store("h.mbtiles", Layout::MBTiles, [&](StoreWriter& w) {
            w.Tile(0, 0, 0, c.tile);
            w.Tile(1, 1, 1, c.tile);
        });
        ASSERT_TRUE(OpenGuarded(path)) << error;
        EXPECT_EQ(db.tileWidth(), c.size);
        EXPECT_EQ(db.tileHeight(), c.size);
        // Two columns of 8191 pixels still fit an int.
        MapViewport vp;
        vp.SetViewSize(800, 600);
        vp.AttachStore(&db);
        ASSERT_TRUE(vp.ZoomIn());
        EXPECT_EQ(vp.ContentWidth(), c.size);
    }
}

TEST_F(HostileStore, SixtyFourMegabyteTileIsReadOnceIntoTheTileBuffer) {
    Bytes huge = PngHeader(256, 256);
    huge.resize(64 << 20, 0x5A);
    const std::string path = Store("big.mbtiles", Layout::MBTiles, [&](StoreWriter& w) {
        w.Tile(0, 0, 0, huge);
        w.Tile(1, 0, 0, Blob(1, 0, 0));
    });
    // The size probe reads the big tile: SQLite's copy and the tile buffer.
    ASSERT_TRUE(OpenGuarded(path, kStoreOverheadKb + 2 * 64 * 1024)) << error;
    EXPECT_EQ(db.tileWidth(), 256);
    const std::uint8_t* data = nullptr;
    std::int32_t count = 0;
    Watchdog watchdog("reading a 64 MB tile");
    ASSERT_TRUE(db.ReadTile(0, 0, 0, data, count));
    EXPECT_EQ(count, 64 << 20);
    EXPECT_EQ(data[count - 1], 0x5A);
}

TEST_F(HostileStore, ExtentsAtTheEdgesOfTheIntRange) {
    // A single row at the last column of level 31 opens and is shown.
    std::string path = Store("edge.db", Layout::Xyz,
                             [](StoreWriter& w) { w.Tile(31, INT_MAX, 5, PngHeader(512, 256)); });
    ASSERT_TRUE(OpenGuarded(path)) << error;
    MapViewport vp;
    vp.SetViewSize(800, 600);
    vp.AttachStore(&db);
    EXPECT_EQ(vp.ContentWidth(), 512);
    const corvalis::TileGrid grid = BuildTileGrid(vp, 3);
    EXPECT_EQ(grid.minX, INT_MAX);
    EXPECT_EQ(grid.maxX, INT_MAX);

    // 262176 columns of 8191 pixels are 2147483616 pixels: the widest that fits.
    struct Case {
        std::int64_t lastColumn, lastRow;
        int tile;
        bool fits;
    };
    const Case cases[] = {{262175, 0, 8191, true},  {262176, 0, 8191, false},
                          {0, 262176, 8191, false}, {INT_MAX - 1, 0, 1, true},
                          {INT_MAX, 0, 1, false},   {INT_MAX, 0, 2, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.lastColumn) + " x " + std::to_string(c.tile));
        path = Store("wide.db", Layout::Xyz, [&](StoreWriter& w) {
            w.Tile(
                31, 0, 0,
                PngHeader(static_cast<std::uint32_t>(c.tile), static_cast<std::uint32_t>(c.tile)));
            w.Tile(31, c.lastColumn, c.lastRow, Blob(31, 0, 0));
        });
        EXPECT_EQ(OpenGuarded(path), c.fits) << error;
        EXPECT_EQ(error, c.fits ? "" : kTooLarge);
        if (!c.fits) continue;
        vp.AttachStore(&db);
        EXPECT_EQ(std::int64_t{vp.ContentWidth()}, (c.lastColumn + 1) * c.tile);
    }

    // Columns outside the world (stored -1, and 2^31, which reads as -2^31)
    // belong to no extent, so no level is left.
    path = Store("wrap.db", Layout::Xyz, [](StoreWriter& w) {
        w.Tile(31, -1, 0, Blob(31, -1, 0));
        w.Tile(31, std::int64_t{1} << 31, 0, Blob(31, 0, 0));
    });
    EXPECT_FALSE(OpenGuarded(path));
    EXPECT_EQ(error, "the tiles table is empty.");
    // Only the levels that can be shown count: metadata that leaves the
    // oversized level out of the range opens the rest.
    path = Store("narrowed.mbtiles", Layout::MBTiles, [](StoreWriter& w) {
        w.Meta("maxzoom", "1");
        w.Tile(0, 0, 0, PngHeader(4096, 4096));
        w.Tile(1, 0, 0, Blob(1, 0, 0));
        w.Tile(20, 0, 0, Blob(20, 0, 0));
        w.Tile(20, 600000, 0, Blob(20, 0, 0));
    });
    EXPECT_TRUE(OpenGuarded(path)) << error;
    EXPECT_EQ(db.maxZoom(), 1);
}

TEST_F(HostileStore, MillionMetadataRowsAndTenMegabyteValues) {
    std::string path = Store("rows.mbtiles", Layout::MBTiles, [](StoreWriter& w) {
        w.Tile(0, 0, 0, Blob(0, 0, 0));
        w.Exec(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000000) "
            "INSERT INTO metadata SELECT CASE i % 4 WHEN 0 THEN 'name' WHEN 1 THEN 'bounds' WHEN 2 "
            "THEN 'minzoom' ELSE 'other' END, 'v' || i FROM n;");
        w.Meta("name", "last");
    });
    ASSERT_TRUE(OpenGuarded(path)) << error;
    EXPECT_EQ(db.name(), "last");

    const std::string digits(10 << 20, '7');
    const std::string letters(10 << 20, 'Q');
    path = Store("values.mbtiles", Layout::MBTiles, [&](StoreWriter& w) {
        w.Tile(0, 0, 0, Blob(0, 0, 0));
        w.Meta("bounds", digits);
        w.Meta("bounds", "-10," + digits + ",10,20");
        w.Meta("minzoom", digits);
        w.Meta("maxzoom", "-" + digits);
        w.Meta("scheme", letters);
        w.Meta("format", letters);
        w.Meta("name", letters);
    });
    // Each value is held once or twice while it is read.
    ASSERT_TRUE(OpenGuarded(path, kStoreOverheadKb + 100 * 1024)) << error;
    EXPECT_EQ(db.name().size(), letters.size());
    EXPECT_EQ(db.format(), std::string(10 << 20, 'q'));
    EXPECT_EQ(db.minZoom(), 0);
    double w = 0, s = 0, e = 0, n = 0;
    ASSERT_TRUE(db.GetBounds(w, s, e, n));
    EXPECT_EQ(w, -180.0);  // from the tiles: neither bounds value was usable
}

TEST_F(HostileStore, TenMegabyteSidecarOfGarbage) {
    const std::string path = Store("area.oruxmapsimages.db", Layout::Xyz,
                                   [](StoreWriter& w) { w.Tile(2, 0, 0, Blob(2, 0, 0)); });
    std::string garbage(10 << 20, '\0');
    std::uint32_t seed = 1;
    for (char& c : garbage) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 23);
    for (const std::string& text :
         {garbage, std::string(10 << 20, '['), "[XY]\nMinX_2=" + std::string(10 << 20, '1')}) {
        std::ofstream(dir.file("area.omm"), std::ios::binary) << text;
        ASSERT_TRUE(OpenGuarded(path)) << error;
        EXPECT_TRUE(db.geoUnknown());
        EXPECT_FALSE(db.localGrid());
    }
}

TEST_F(HostileStore, MillionZoomLevelsOutOfRange) {
    // MBTiles with its (zoom, column, row) index: levels are found by seeks;
    // the XYZ layout without one: by the grouped query.
    for (Layout layout : {Layout::MBTiles, Layout::Xyz}) {
        const char* insert = layout == Layout::MBTiles
                                 ? "INSERT INTO tiles SELECT 100 + i, 0, 0, x'00' FROM n;"
                                 : "INSERT INTO tiles SELECT 0, 0, 100 + i, 0, x'00' FROM n;";
        const std::string path = Store(
            layout == Layout::MBTiles ? "levels.mbtiles" : "levels.db", layout,
            [&](StoreWriter& w) {
                w.Exec(std::string(
                           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE "
                           "i < 1000000) ") +
                       insert);
                w.Tile(3, 1, 1, Blob(3, 1, 1));
            });
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(OpenGuarded(path)) << error;
        std::printf("opened %s in %lld ms\n", path.c_str(),
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - start)
                                               .count()));
        EXPECT_EQ(db.minZoom(), 3);
        EXPECT_EQ(db.maxZoom(), 3);
        db.Close();
        {
            const auto writer = testsupport::OpenConnection(path);
            ASSERT_TRUE(writer);
            ASSERT_EQ(
                sqlite3_exec(writer.get(),
                             layout == Layout::MBTiles ? "DELETE FROM tiles WHERE zoom_level = 3;"
                                                       : "DELETE FROM tiles WHERE z = 3;",
                             nullptr, nullptr, nullptr),
                SQLITE_OK);
        }
        EXPECT_FALSE(OpenGuarded(path));
        EXPECT_EQ(error, "the tiles table is empty.");
    }
}

}  // namespace
