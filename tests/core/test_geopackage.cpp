// GeoPackage tile pyramids on files written by the tests' GeoPackage writer:
// levels placed on the world grid, the table chosen, the CRS and grid checks,
// the format, the bounds, and the order against the older layouts.
#include <gtest/gtest.h>

#include <functional>

#include "geopackage.h"
#include "geopackagewriter.h"
#include "tilebytes.h"
#include "tilesource.h"

using corvalis::TileDatabase;
using testsupport::Blob;
using testsupport::Bytes;
using testsupport::GeoPackageWriter;
using testsupport::kHalfWorld;
using testsupport::PngHeader;
using testsupport::Tagged;
using testsupport::TempDir;

namespace {

constexpr double kWorld = 2 * kHalfWorld;

struct Extent {
    int z, minX, maxX, minY, maxY;
    bool operator==(const Extent&) const = default;
};

// A world tile and the stored tile it must read (zoom_level, column, row), or
// none when stored is empty.
struct Read {
    int z, x, y;
    std::vector<std::int64_t> stored;
};

std::string ReadBack(TileDatabase& db, int z, int x, int y) {
    std::vector<std::uint8_t> bytes;
    if (!db.ReadTile(z, x, y, bytes)) return "<none>";
    return std::string(bytes.begin(), bytes.end());
}

std::string Expected(const Bytes& header, const std::vector<std::int64_t>& stored) {
    if (stored.empty()) return "<none>";
    const Bytes b = Tagged(header, static_cast<int>(stored[0]), stored[1], stored[2]);
    return std::string(b.begin(), b.end());
}

// A pyramid whose level zoomLevel + first holds world zoom z for z in
// z0..z1, every tile of the matrix stored, tagged with its stored numbers.
void WorldPyramid(GeoPackageWriter& w, const std::string& table, int z0, int z1, int first = 0,
                  const Bytes& header = PngHeader(256, 256)) {
    w.AddPyramid({table, "The " + table});
    for (int z = z0; z <= z1; ++z) {
        const int level = z - z0 + first;
        w.AddWorldMatrix(table, level, z);
        for (int y = 0; y < (1 << z); ++y)
            for (int x = 0; x < (1 << z); ++x)
                w.Tile(table, level, x, y, Tagged(header, level, x, y));
    }
}

struct GridCase {
    std::string label;
    std::function<void(GeoPackageWriter&)> write;
    int minZoom, maxZoom, tileSize;
    std::vector<Extent> extents;  // every present level
    std::vector<Read> reads;
    Bytes header = PngHeader(256, 256);
};

TEST(GeoPackage, PlacesLevelsOnTheWorldGrid) {
    const double side2 = kWorld / 4;  // one tile of world zoom 2
    const GridCase cases[] = {
        {"one pyramid, zoom_level = world zoom",
         [](GeoPackageWriter& w) { WorldPyramid(w, "world", 0, 2); },
         0,
         2,
         256,
         {{0, 0, 0, 0, 0}, {1, 0, 1, 0, 1}, {2, 0, 3, 0, 3}},
         {{0, 0, 0, {0, 0, 0}}, {1, 1, 0, {1, 1, 0}}, {2, 3, 1, {2, 3, 1}}, {2, 4, 0, {}}}},
        {"levels 0 and 1 holding world zooms 3 and 4",
         [](GeoPackageWriter& w) { WorldPyramid(w, "deep", 3, 4); },
         3,
         4,
         256,
         {{3, 0, 7, 0, 7}, {4, 0, 15, 0, 15}},
         {{3, 5, 6, {0, 5, 6}}, {4, 15, 0, {1, 15, 0}}, {0, 0, 0, {}}}},
        {"partial world: origin at tile (2, 1) of zoom 2",
         [side2](GeoPackageWriter& w) {
             w.AddPyramid({"part", "", 3857, -kHalfWorld + 2 * side2, -kHalfWorld, kHalfWorld,
                           kHalfWorld - side2});
             w.AddWorldMatrix("part", 0, 2);
             w.AddWorldMatrix("part", 1, 3);
             w.Tile("part", 0, 0, 0, Tagged(PngHeader(256, 256), 0, 0, 0));
             w.Tile("part", 0, 1, 2, Tagged(PngHeader(256, 256), 0, 1, 2));
             w.Tile("part", 1, 1, 0, Tagged(PngHeader(256, 256), 1, 1, 0));
         },
         2,
         3,
         256,
         {{2, 2, 3, 1, 3}, {3, 5, 5, 2, 2}},
         {{2, 2, 1, {0, 0, 0}}, {2, 3, 3, {0, 1, 2}}, {3, 5, 2, {1, 1, 0}}, {2, 0, 0, {}}}},
        {"512-pixel tiles",
         [](GeoPackageWriter& w) {
             w.AddPyramid({"big", "Big"});
             for (int z = 0; z <= 1; ++z) {
                 w.AddWorldMatrix("big", z, z, 512);
                 w.Tile("big", z, z, 0, Tagged(PngHeader(512, 512), z, z, 0));
             }
         },
         0,
         1,
         512,
         {{0, 0, 0, 0, 0}, {1, 1, 1, 0, 0}},
         {{1, 1, 0, {1, 1, 0}}},
         PngHeader(512, 512)},
        {"a level off the grid by 1e-5 skipped, one off by 1e-7 kept",
         [](GeoPackageWriter& w) {
             w.AddPyramid({"off", ""});
             const double p1 = GeoPackageWriter::WorldPixel(1, 256) * (1 + 1e-5);
             const double p2 = GeoPackageWriter::WorldPixel(2, 256) * (1 + 1e-7);
             w.AddWorldMatrix("off", 0, 0);
             w.AddMatrix("off", 1, 2, 2, 256, 256, p1, p1);
             w.AddMatrix("off", 2, 4, 4, 256, 256, p2, p2);
             for (int z = 0; z <= 2; ++z)
                 w.Tile("off", z, 0, 0, Tagged(PngHeader(256, 256), z, 0, 0));
         },
         0,
         2,
         256,
         {{0, 0, 0, 0, 0}, {2, 0, 0, 0, 0}},
         {{1, 0, 0, {}}, {2, 0, 0, {2, 0, 0}}}},
        {"origin half a tile of zoom 1 east: zoom 1 skipped, zoom 2 shifted by one",
         [side2](GeoPackageWriter& w) {
             w.AddPyramid(
                 {"half", "", 3857, -kHalfWorld + side2, -kHalfWorld, kHalfWorld, kHalfWorld});
             w.AddWorldMatrix("half", 1, 1);
             w.AddWorldMatrix("half", 2, 2);
             w.Tile("half", 1, 0, 0, Tagged(PngHeader(256, 256), 1, 0, 0));
             w.Tile("half", 2, 0, 0, Tagged(PngHeader(256, 256), 2, 0, 0));
         },
         2,
         2,
         256,
         {{2, 1, 1, 0, 0}},
         {{2, 1, 0, {2, 0, 0}}, {2, 0, 0, {}}}},
    };
    TempDir dir;
    for (const GridCase& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string path = dir.file(std::to_string(&c - cases) + ".gpkg");
        {
            GeoPackageWriter w(path);
            c.write(w);
        }
        TileDatabase db;
        std::string error;
        ASSERT_TRUE(db.Open(path, error)) << error;
        EXPECT_EQ(db.kind(), corvalis::KindGeoPackage);
        EXPECT_EQ(db.KindName(), "GeoPackage tiles");
        EXPECT_TRUE(db.xyzRows());
        EXPECT_FALSE(db.localGrid() || db.geoUnknown() || db.reversedZ());
        EXPECT_EQ(db.minZoom(), c.minZoom);
        EXPECT_EQ(db.maxZoom(), c.maxZoom);
        EXPECT_EQ(db.tileWidth(), c.tileSize);
        EXPECT_EQ(db.tileHeight(), c.tileSize);
        std::vector<Extent> found;
        for (int z = 0; z < 32; ++z) {
            Extent e{z, 0, 0, 0, 0};
            if (db.GetZoomExtent(z, e.minX, e.maxX, e.minY, e.maxY)) found.push_back(e);
        }
        EXPECT_EQ(found, c.extents);
        for (const Read& r : c.reads)
            EXPECT_EQ(ReadBack(db, r.z, r.x, r.y), Expected(c.header, r.stored))
                << "world " << r.z << "/" << r.x << "/" << r.y;
    }
}

TEST(GeoPackage, OpensTheFirstTableOrTheOneNamed) {
    TempDir dir;
    const std::string path = dir.file("two.gpkg");
    {
        GeoPackageWriter w(path);
        WorldPyramid(w, "roads", 1, 1);
        WorldPyramid(w, "aerial", 2, 2);
        w.Exec("INSERT INTO gpkg_contents (table_name, data_type) VALUES ('places', 'features');");
    }
    const std::vector<corvalis::GeoPackageTable> tables = corvalis::ListGeoPackageTileTables(path);
    ASSERT_EQ(tables.size(), 2u);
    EXPECT_EQ(tables[0].name, "aerial");
    EXPECT_EQ(tables[0].identifier, "The aerial");
    EXPECT_EQ(tables[1].name, "roads");

    struct Case {
        std::string path;
        bool opens;
        std::string nameOrError;
        int minZoom;
    };
    const Case cases[] = {
        {path, true, "The aerial", 2},
        {path + "#roads", true, "The roads", 1},
        {path + "#aerial", true, "The aerial", 2},
        {path + "#places", false, "GeoPackage has no tile table named 'places'.", 0},
        {path + "#", false, "GeoPackage has no tile table named ''.", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        TileDatabase db;
        std::string error;
        EXPECT_EQ(db.Open(c.path, error), c.opens);
        EXPECT_EQ(c.opens ? db.name() : error, c.nameOrError);
        EXPECT_EQ(db.path(), c.path);
        if (c.opens) {
            EXPECT_EQ(db.minZoom(), c.minZoom);
        }
    }

    // "#" after a file that is no GeoPackage, or after no file: the path is
    // opened as it stands, and fails as a missing file.
    const std::string other = dir.file("plain.mbtiles");
    { testsupport::StoreWriter w(other, testsupport::Layout::MBTiles); }
    for (const std::string& p : {other + "#roads", dir.file("none.gpkg#roads")}) {
        TileDatabase db;
        std::string error;
        EXPECT_FALSE(db.Open(p, error));
        EXPECT_EQ(error.rfind("cannot open database: ", 0), 0u) << error;
        EXPECT_TRUE(corvalis::ListGeoPackageTileTables(p).empty());
    }
    EXPECT_TRUE(corvalis::ListGeoPackageTileTables(other).empty());
}

TEST(GeoPackage, RefusesPyramidsOffTheWebMercatorGrid) {
    struct Case {
        std::string label;
        std::function<void(GeoPackageWriter&)> write;
        std::string error;
    };
    const Case cases[] = {
        {"WGS 84 degrees",
         [](GeoPackageWriter& w) {
             w.AddPyramid({"geo", "", 4326, -180, -90, 180, 90});
             w.AddMatrix("geo", 0, 2, 1, 256, 256, 180.0 / 256, 180.0 / 256);
             w.Tile("geo", 0, 0, 0, PngHeader(256, 256));
         },
         "GeoPackage tiles in EPSG:4326 are not supported; only EPSG:3857."},
        {"a CRS of another organisation, as stored",
         [](GeoPackageWriter& w) {
             w.Exec(
                 "INSERT INTO gpkg_spatial_ref_sys VALUES ('x', 900913, 'Google', 900913, '', "
                 "NULL);");
             w.AddPyramid({"g", "", 900913});
             w.AddWorldMatrix("g", 0, 0);
         },
         "GeoPackage tiles in Google:900913 are not supported; only EPSG:3857."},
        {"EPSG in lower case is Web Mercator; every level off the grid",
         [](GeoPackageWriter& w) {
             w.Exec("UPDATE gpkg_spatial_ref_sys SET organization = 'epsg' WHERE srs_id = 3857;");
             w.AddPyramid({"off", ""});
             w.AddMatrix("off", 0, 1, 1, 256, 256, 100.0, 100.0);
             w.AddMatrix("off", 1, 2, 2, 256, 256, GeoPackageWriter::WorldPixel(1, 256),
                         GeoPackageWriter::WorldPixel(1, 256) * 2);  // not square
             w.Tile("off", 0, 0, 0, PngHeader(256, 256));
         },
         "GeoPackage tiles are not on the Web Mercator grid."},
        {"no matrix levels",
         [](GeoPackageWriter& w) {
             w.AddPyramid({"empty", ""});
         },
         "GeoPackage tiles are not on the Web Mercator grid."},
        {"a CRS not in gpkg_spatial_ref_sys",
         [](GeoPackageWriter& w) {
             w.AddPyramid({"u", "", 777});
             w.AddWorldMatrix("u", 0, 0);
         },
         "GeoPackage tiles in an undefined CRS (srs_id 777) are not supported; only EPSG:3857."},
        {"no tile matrix set",
         [](GeoPackageWriter& w) {
             w.AddPyramid({"lost", ""});
             w.Exec("DELETE FROM gpkg_tile_matrix_set;");
         },
         "GeoPackage tiles 'lost' have no tile matrix set."},
        {"fitting levels without tiles",
         [](GeoPackageWriter& w) {
             w.AddPyramid({"bare", ""});
             w.AddWorldMatrix("bare", 0, 0);
         },
         "the tiles table is empty."},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string path = dir.file(std::to_string(&c - cases) + ".gpkg");
        {
            GeoPackageWriter w(path);
            c.write(w);
        }
        TileDatabase db;
        std::string error;
        EXPECT_FALSE(db.Open(path, error));
        EXPECT_EQ(error, c.error);
        EXPECT_FALSE(db.isOpen());
    }
}

TEST(GeoPackage, FormatIsThatOfTheProbedTile) {
    struct Case {
        Bytes corner;  // the first corner tile, at the lowest level
        std::string format;
        int tileSize;
    };
    const Case cases[] = {
        {PngHeader(256, 256), "png", 256},
        {testsupport::JpegHeader(256, 256), "jpg", 256},
        {testsupport::WebpHeader(512, 512), "webp", 512},
        {Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0}, "", 256},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        const std::string path = dir.file(std::to_string(&c - cases) + ".gpkg");
        {
            // Mixed pictures: the corner tile of level 0, then JPEG and PNG.
            GeoPackageWriter w(path);
            w.AddPyramid({"mixed", ""});
            w.AddWorldMatrix("mixed", 0, 0);
            w.AddWorldMatrix("mixed", 1, 1);
            w.Tile("mixed", 0, 0, 0, c.corner);
            w.Tile("mixed", 1, 0, 0, testsupport::JpegHeader(256, 256));
            w.Tile("mixed", 1, 1, 0, PngHeader(256, 256));
        }
        TileDatabase db;
        std::string error;
        ASSERT_TRUE(db.Open(path, error)) << error;
        EXPECT_EQ(db.format(), c.format);
        EXPECT_EQ(db.tileWidth(), c.tileSize);
        const Bytes png = PngHeader(256, 256);
        EXPECT_EQ(ReadBack(db, 1, 1, 0), std::string(png.begin(), png.end()));
    }
}

TEST(GeoPackage, BoundsFromContentsOrFromTheDeepestLevel) {
    struct Case {
        std::optional<double> minX, minY, maxX, maxY;
        double west, south, east, north;
    };
    const Case cases[] = {
        // Metres converted to degrees, as stored, unchecked.
        {-kHalfWorld / 2, 0.0, kHalfWorld, kHalfWorld, -90, 0, 180, 85.0511287798066},
        {kHalfWorld, 0.0, -kHalfWorld, 1.0, 180, 0, -180, 8.983152841195214e-06},
        // One NULL: derived from the tiles of the deepest level (zoom 1, tile 1/0).
        {-kHalfWorld, std::nullopt, kHalfWorld, kHalfWorld, 0, 0, 180, 85.0511287798066},
    };
    TempDir dir;
    for (const Case& c : cases) {
        const std::string path = dir.file(std::to_string(&c - cases) + ".gpkg");
        {
            GeoPackageWriter w(path);
            GeoPackageWriter::Pyramid p{"b", ""};
            p.boundsMinX = c.minX;
            p.boundsMinY = c.minY;
            p.boundsMaxX = c.maxX;
            p.boundsMaxY = c.maxY;
            w.AddPyramid(p);
            w.AddWorldMatrix("b", 0, 0);
            w.AddWorldMatrix("b", 1, 1);
            w.Tile("b", 0, 0, 0, PngHeader(256, 256));
            w.Tile("b", 1, 1, 0, PngHeader(256, 256));
        }
        TileDatabase db;
        std::string error;
        ASSERT_TRUE(db.Open(path, error)) << error;
        double w = 0, s = 0, e = 0, n = 0;
        ASSERT_TRUE(db.GetBounds(w, s, e, n));
        EXPECT_NEAR(w, c.west, 1e-9);
        EXPECT_NEAR(s, c.south, 1e-9);
        EXPECT_NEAR(e, c.east, 1e-9);
        EXPECT_NEAR(n, c.north, 1e-9);
        EXPECT_EQ(db.name(), "b");  // no identifier: the table's name
    }
}

// A pyramid table named `tiles` has the MBTiles columns: the older layout
// takes the file as it always did; "#tiles" reads it as the GeoPackage it is.
TEST(GeoPackage, OlderLayoutsComeFirst) {
    TempDir dir;
    const std::string path = dir.file("tiles.gpkg");
    {
        GeoPackageWriter w(path);
        WorldPyramid(w, "tiles", 1, 1);
        WorldPyramid(w, "other", 0, 0);
    }
    TileDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(path, error)) << error;
    EXPECT_EQ(db.kind(), corvalis::KindMBTiles);
    EXPECT_TRUE(corvalis::ListGeoPackageTileTables(path).empty());
    ASSERT_TRUE(db.Open(path + "#tiles", error)) << error;
    EXPECT_EQ(db.kind(), corvalis::KindGeoPackage);
    EXPECT_EQ(ReadBack(db, 1, 1, 0), Expected(PngHeader(256, 256), {0, 1, 0}));
}

}  // namespace
