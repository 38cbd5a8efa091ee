// ".sqlitedb" stores whose `info` table declares the zoom numbering, the row
// direction, the tile size and the ellipsoidal projection; and the ellipsoidal
// Mercator formulas behind the latitudes of such stores.
#include <gtest/gtest.h>

#include <cmath>

#include "mapviewport.h"
#include "sqlitedbwriter.h"
#include "storewriter.h"
#include "tilesource.h"
#include "webmercator.h"

using corvalis::TileDatabase;
using testsupport::Blob;
using testsupport::InfoColumns;
using testsupport::Layout;
using testsupport::PngHeader;
using testsupport::StoreWriter;
using testsupport::TempDir;

namespace {

struct Stored {
    int z, x, y;
};

// A world tile and the stored tile it must read.
struct Read {
    int z, x, y;
    Stored stored;
};

struct NumberingCase {
    std::string label, file;
    bool infoTable;
    InfoColumns info;
    std::vector<Stored> tiles;
    std::string kindName;
    bool xyzRows;
    int minZoom, maxZoom;
    std::vector<Read> reads;
    bool infoRow = true;
};

std::string Tag(const Stored& s) {
    const auto b = Blob(s.z, s.x, s.y);
    return std::string(b.begin(), b.end());
}

TEST(SqlitedbVariants, InfoTableDecidesTheNumbering) {
    const std::string reversed = "SQLite tiles (reversed z)", xyz = "SQLite tiles (XYZ)";
    const NumberingCase cases[] = {
        {"no info table",
         "a.sqlitedb",
         false,
         {},
         {{16, 1, 0}},
         reversed,
         true,
         1,
         1,
         {{1, 1, 0, {16, 1, 0}}}},
        {"no tilenumbering column; info zooms do not narrow",
         "b.sqlitedb",
         true,
         {{"minzoom", "16"}, {"maxzoom", "16"}},
         {{16, 1, 0}, {15, 3, 3}},
         reversed,
         true,
         1,
         2,
         {{2, 3, 3, {15, 3, 3}}}},
        {"BigPlanet in any case",
         "c.SQLiteDB",
         true,
         {{"tilenumbering", "'bigPLANET'"}},
         {{14, 5, 2}},
         reversed,
         true,
         3,
         3,
         {{3, 5, 2, {14, 5, 2}}}},
        {"empty tilenumbering: z as stored",
         "d.sqlitedb",
         true,
         {{"tilenumbering", "''"}},
         {{1, 1, 0}, {3, 7, 7}},
         xyz,
         true,
         1,
         3,
         {{1, 1, 0, {1, 1, 0}}, {3, 7, 7, {3, 7, 7}}}},
        {"another value, and NULL",
         "e.sqlitedb",
         true,
         {{"tilenumbering", "NULL"}, {"url", "'http://x/{z}'"}},
         {{2, 1, 1}},
         xyz,
         true,
         2,
         2,
         {{2, 1, 1, {2, 1, 1}}}},
        {"inverted_y: rows from the south",
         "f.sqlitedb",
         true,
         {{"tilenumbering", "''"}, {"inverted_y", "1"}},
         {{2, 1, 0}},
         xyz,
         false,
         2,
         2,
         {{2, 1, 3, {2, 1, 0}}}},
        {"inverted_y after the BigPlanet reversal",
         "g.sqlitedb",
         true,
         {{"tilenumbering", "'BigPlanet'"}, {"inverted_y", "'1'"}},
         {{15, 1, 0}},
         reversed,
         false,
         2,
         2,
         {{2, 1, 3, {15, 1, 0}}}},
        {"inverted_y 0",
         "h.sqlitedb",
         true,
         {{"inverted_y", "0"}},
         {{17, 0, 0}},
         reversed,
         true,
         0,
         0,
         {{0, 0, 0, {17, 0, 0}}}},
        {"an info table without a row",
         "i.sqlitedb",
         true,
         {{"tilenumbering", "''"}},
         {{16, 0, 1}},
         reversed,
         true,
         1,
         1,
         {{1, 0, 1, {16, 0, 1}}},
         false},
        {"the table counts in .sqlitedb files only",
         "j.db",
         true,
         {{"tilenumbering", "'BigPlanet'"}, {"inverted_y", "1"}},
         {{2, 1, 0}},
         xyz,
         true,
         2,
         2,
         {{2, 1, 0, {2, 1, 0}}}},
    };
    TempDir dir;
    for (const NumberingCase& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string path = dir.file(c.file);
        {
            StoreWriter w(path, Layout::Xyz, false);
            if (c.infoTable) testsupport::WriteInfoTable(w, c.info, c.infoRow);
            for (const Stored& s : c.tiles) w.Tile(s.z, s.x, s.y, Blob(s.z, s.x, s.y));
        }
        TileDatabase db;
        std::string error;
        ASSERT_TRUE(db.Open(path, error)) << error;
        EXPECT_EQ(db.KindName(), c.kindName);
        EXPECT_EQ(db.reversedZ(), c.kindName == reversed);
        EXPECT_EQ(db.xyzRows(), c.xyzRows);
        EXPECT_EQ(db.minZoom(), c.minZoom);
        EXPECT_EQ(db.maxZoom(), c.maxZoom);
        std::vector<std::uint8_t> bytes;
        for (const Read& r : c.reads) {
            ASSERT_TRUE(db.ReadTile(r.z, r.x, r.y, bytes)) << r.z << "/" << r.x << "/" << r.y;
            EXPECT_EQ(std::string(bytes.begin(), bytes.end()), Tag(r.stored));
            int x0 = 0, x1 = 0, y0 = 0, y1 = 0;
            ASSERT_TRUE(db.GetZoomExtent(r.z, x0, x1, y0, y1));
            EXPECT_TRUE(x0 <= r.x && r.x <= x1 && y0 <= r.y && r.y <= y1);
        }
    }
}

TEST(SqlitedbVariants, TileSizeIsOnlyAHint) {
    struct Case {
        std::string tilesize;
        std::uint32_t side;  // of the tiles
        int hint;
        bool differs;
    };
    const Case cases[] = {
        {"512", 256, 512, true}, {"'256'", 256, 256, false}, {"512", 512, 512, false},
        {"300", 300, 0, false},  {"''", 512, 0, false},      {"NULL", 256, 0, false},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tilesize);
        const std::string path = dir.file(std::to_string(&c - cases) + ".sqlitedb");
        {
            StoreWriter w(path, Layout::Xyz, false);
            testsupport::WriteInfoTable(w, {{"tilenumbering", "''"}, {"tilesize", c.tilesize}});
            w.Tile(0, 0, 0, PngHeader(c.side, c.side));
        }
        TileDatabase db;
        std::string error;
        ASSERT_TRUE(db.Open(path, error)) << error;
        EXPECT_EQ(db.tileWidth(), static_cast<int>(c.side));
        EXPECT_EQ(db.tileSizeHint(), c.hint);
        EXPECT_EQ(db.TileSizeHintDiffers(), c.differs);
    }
}

TEST(SqlitedbVariants, EllipsoidalStoresReportEllipsoidalLatitudes) {
    TempDir dir;
    struct Case {
        std::string ellipsoid;
        bool ellipsoidal;
        double north;  // of the world square
    };
    const Case cases[] = {{"1", true, corvalis::kMaxLatitudeEllipsoidal},
                          {"0", false, corvalis::kMaxLatitude},
                          {"NULL", false, corvalis::kMaxLatitude}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ellipsoid);
        const std::string path = dir.file(std::to_string(&c - cases) + ".sqlitedb");
        {
            StoreWriter w(path, Layout::Xyz, false);
            testsupport::WriteInfoTable(w, {{"ellipsoid", c.ellipsoid}});
            w.Tile(17, 0, 0, Blob(0, 0, 0));
            w.Tile(17 - 8, 0, 100, Blob(8, 0, 100));
        }
        TileDatabase db;
        std::string error;
        ASSERT_TRUE(db.Open(path, error)) << error;
        EXPECT_EQ(db.ellipsoidal(), c.ellipsoidal);
        double w = 0, s = 0, e = 0, n = 0;
        ASSERT_TRUE(db.GetBounds(w, s, e, n));  // derived from the tile at level 8
        EXPECT_NEAR(n, c.ellipsoidal ? 36.78220088975287 : 36.59788913307021, 1e-9);

        // The status bar's latitudes, and the way back that keeps zoom steps
        // centred: pixel rows are the same, their latitudes the ellipsoid's.
        corvalis::MapViewport vp;
        vp.SetViewSize(256, 256);
        vp.AttachStore(&db);
        double lon = 0, lat = 0;
        ASSERT_TRUE(vp.ContentToLonLat(0, 0, lon, lat));
        EXPECT_NEAR(lat, c.north, 1e-9);
        ASSERT_TRUE(vp.SetZoom(8, false));
        ASSERT_TRUE(vp.ContentToLonLat(100, 128, lon, lat));
        EXPECT_NEAR(lat, corvalis::TileYToLat(100.5, 256, c.ellipsoidal), 1e-12);
        int x = 0, y = 0;
        ASSERT_TRUE(vp.LonLatToContent(lon, lat, x, y));
        EXPECT_NEAR(y, 128, 1);
    }
}

TEST(EllipsoidalMercator, KnownValuesAndRoundTrips) {
    const double a = corvalis::kEarthRadius;
    // EPSG:3395 northings of 45 degrees and of the grid's north edge (pi a).
    EXPECT_NEAR(corvalis::EllipsoidalMercatorY(45.0) * a, 5591295.918553, 1e-5);
    EXPECT_NEAR(corvalis::EllipsoidalMercatorLat(corvalis::kPi), 85.08405905011, 1e-10);
    EXPECT_EQ(corvalis::EllipsoidalMercatorLat(0.0), 0.0);
    for (double lat = -89.5; lat <= 89.5; lat += 0.25)
        EXPECT_NEAR(corvalis::EllipsoidalMercatorLat(corvalis::EllipsoidalMercatorY(lat)), lat,
                    1e-12);
    // The ellipsoid puts a latitude nearer the equator than the sphere does.
    EXPECT_LT(corvalis::EllipsoidalMercatorY(60.0), std::asinh(std::tan(corvalis::kPi / 3)));
}

}  // namespace
