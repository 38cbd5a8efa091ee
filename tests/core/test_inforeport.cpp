// The --info report, line by line, on generated stores.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "geopackagewriter.h"
#include "inforeport.h"
#include "logging.h"
#include "pmtileswriter.h"
#include "sqlitedbwriter.h"
#include "storewriter.h"

using ::testing::ElementsAre;
using testsupport::Blob;
using testsupport::Layout;
using testsupport::StoreWriter;
using testsupport::TempDir;

namespace {

std::vector<std::string> SplitLines(const std::string& text, const std::string& eol) {
    std::vector<std::string> lines;
    std::size_t start = 0, end;
    while ((end = text.find(eol, start)) != std::string::npos) {
        lines.push_back(text.substr(start, end - start));
        start = end + eol.size();
    }
    return lines;
}

// Runs the report and returns its standard output lines, after checking that
// the log got the same lines behind their timestamps.
std::vector<std::string> Report(const std::string& path) {
    const std::string log = corvalis::LogFilePath();
    std::filesystem::remove(log);
    ::testing::internal::CaptureStdout();
    corvalis::RunInfoReport(path);
    const std::vector<std::string> out = SplitLines(::testing::internal::GetCapturedStdout(), "\n");
    std::ifstream in(log, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::vector<std::string> logged = SplitLines(ss.str(), "\r\n");
    EXPECT_EQ(logged.size(), out.size());
    for (std::size_t i = 0; i < std::min(out.size(), logged.size()); ++i) {
        EXPECT_EQ(logged[i].size(), 21 + out[i].size());
        EXPECT_EQ(logged[i].substr(19), "  " + out[i]);
    }
    std::filesystem::remove(log);
    return out;
}

const std::string kFixtures = CORVALIS_FIXTURE_DIR;

TEST(InfoReport, ReferenceStore) {
    const std::string path = kFixtures + "/reference.mbtiles";
    const std::string world = "lon -180.00000..180.00000  lat -85.05113..85.05113";
    EXPECT_THAT(
        Report(path),
        ElementsAre("=== INFO begin ===", "file: " + path,
                    "  kind=MBTiles  localGrid=0  geoUnknown=0  format=png",
                    "  zoom=0-3  tile=256x256  scheme=TMS", "  z0  x=0..0 y=0..0  " + world,
                    "  z1  x=0..1 y=0..1  " + world, "  z2  x=0..3 y=0..3  " + world,
                    "  z3  x=0..7 y=0..7  " + world,
                    "  bounds -180.00000,-85.00000,180.00000,85.00000", "=== INFO end ==="));
}

// Vector stores give no pixel size: their tiles are 512 pixels, whichever layout.
TEST(InfoReport, VectorFixturesHave512PixelTiles) {
    for (const auto& [file, kind, scheme] :
         {std::tuple{"vector.mbtiles", "MBTiles", "TMS"}, {"vector.pmtiles", "PMTiles", "XYZ"}}) {
        std::string path = kFixtures;
        (path += "/") += file;
        // Built by appending (GCC 12 at -O3 warns falsely on "x" + std::string).
        std::string kindLine = "  kind=";
        (kindLine += kind) += "  localGrid=0  geoUnknown=0  format=pbf";
        std::string zoomLine = "  zoom=0-2  tile=512x512  scheme=";
        zoomLine += scheme;
        const std::vector<std::string> lines = Report(path);
        ASSERT_GE(lines.size(), 4u) << file;
        EXPECT_EQ(lines[2], kindLine);
        EXPECT_EQ(lines[3], zoomLine);
    }
}

TEST(InfoReport, OruxFixturePlacedBySidecar) {
    const std::string path = kFixtures + "/test_orux.db";
    EXPECT_THAT(
        Report(path),
        ElementsAre("=== INFO begin ===", "file: " + path,
                    "  kind=Orux (local grid)  localGrid=1  geoUnknown=0  format=jpg",
                    "  zoom=2-3  tile=256x256  scheme=XYZ",
                    "  z2  x=1..2 y=1..2  lon -90.00000..90.00000  lat -66.51326..66.51326",
                    "  z3  x=1..6 y=1..6  lon -135.00000..135.00000  lat -79.17133..79.17133",
                    "  bounds -135.00000,-79.17133,135.00000,79.17133", "=== INFO end ==="));
}

TEST(InfoReport, GapsTwoDigitLevelsAndMissingBounds) {
    TempDir dir;
    const std::string path = dir.file("gaps.sqlitedb");
    {
        StoreWriter w(path, Layout::Xyz);
        w.Meta("format", "WEBP");
        w.Tile(17 - 1, 1, 0, Blob(1, 1, 0));
        w.Tile(17 - 3, 2, 3, Blob(3, 2, 3));
        w.Tile(17 - 12, 100, 200, Blob(12, 100, 200));
    }
    const auto lines = Report(path);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[2], "  kind=SQLite tiles (reversed z)  localGrid=0  geoUnknown=0  format=webp");
    EXPECT_EQ(lines[3], "  zoom=1-12  tile=256x256  scheme=XYZ");
    EXPECT_EQ(lines[4], "  z1  x=1..1 y=0..0  lon 0.00000..180.00000  lat 0.00000..85.05113");
    EXPECT_EQ(lines[5].substr(0, 22), "  z3  x=2..2 y=3..3  l");
    EXPECT_EQ(lines[6].substr(0, 27), "  z12 x=100..100 y=200..200");
    EXPECT_THAT(lines[7], ::testing::StartsWith("  bounds -171.21094,"));
}

TEST(InfoReport, StoreThatCannotBeOpenedGivesFourLines) {
    TempDir dir;
    const std::string path = dir.file("notes.txt");
    std::ofstream(path) << "not a database at all, just some text that is long enough";
    EXPECT_THAT(Report(path),
                ElementsAre("=== INFO begin ===", "file: " + path,
                            "  cannot open: this file has no 'tiles' table.", "=== INFO end ==="));
    const std::string bare = dir.file("bare.db");
    { StoreWriter w(bare, Layout::None, false); }
    EXPECT_THAT(Report(bare),
                ElementsAre("=== INFO begin ===", "file: " + bare,
                            "  cannot open: this file has no 'tiles' table.", "=== INFO end ==="));
}

TEST(InfoReport, GeoUnknownStoreAndNoBounds) {
    TempDir dir;
    const std::string path = dir.file("trip.oruxmapsimages.db");
    {
        StoreWriter w(path, Layout::Xyz);
        w.Tile(2, 3, 0, Blob(2, 3, 0));
        w.Tile(2, 5, 0, Blob(2, 5, 0));  // column 5 of 4 at level 2: outside the world
    }
    const auto lines = Report(path);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[2], "  kind=SQLite tiles (XYZ)  localGrid=0  geoUnknown=1  format=jpg");
    EXPECT_EQ(lines[4], "  z2  x=3..3 y=0..0  lon 90.00000..180.00000  lat 66.51326..85.05113");
    EXPECT_EQ(lines[5], "  bounds 90.00000,66.51326,180.00000,85.05113")
        << "tiles outside the world are part of no extent, so bounds stay inside it";
}

// A partial GeoPackage: its grid's origin at tile (2, 1) of world zoom 2, its
// levels 0 and 1 holding world zooms 2 and 3; no bounds in gpkg_contents.
TEST(InfoReport, GeoPackageLevelsPlacedOnTheWorld) {
    TempDir dir;
    const std::string path = dir.file("part.gpkg");
    {
        testsupport::GeoPackageWriter w(path);
        const double tile2 = testsupport::kHalfWorld / 2;
        w.AddPyramid({"roads", "Roads", 3857, -testsupport::kHalfWorld + 2 * tile2,
                      -testsupport::kHalfWorld, testsupport::kHalfWorld,
                      testsupport::kHalfWorld - tile2});
        w.AddWorldMatrix("roads", 0, 2);
        w.AddWorldMatrix("roads", 1, 3);
        w.AddMatrix("roads", 2, 8, 8, 256, 256, 1000.0, 1000.0);  // off the grid
        w.Tile("roads", 0, 0, 0, testsupport::PngHeader(256, 256));
        w.Tile("roads", 0, 1, 2, testsupport::PngHeader(256, 256));
        w.Tile("roads", 1, 1, 0, testsupport::PngHeader(256, 256));
        w.Tile("roads", 2, 0, 0, testsupport::PngHeader(256, 256));
    }
    for (const std::string& p : {path, path + "#roads"})
        EXPECT_THAT(
            Report(p),
            ElementsAre("=== INFO begin ===", "file: " + p,
                        "  kind=GeoPackage tiles  localGrid=0  geoUnknown=0  format=png",
                        "  zoom=2-3  tile=256x256  scheme=XYZ",
                        "  z2  x=2..3 y=1..3  lon 0.00000..180.00000  lat -85.05113..66.51326",
                        "  z3  x=5..5 y=2..2  lon 45.00000..90.00000  lat 40.97990..66.51326",
                        "  bounds 45.00000,40.97990,90.00000,66.51326", "=== INFO end ==="));
}

// Latitudes on the ellipsoid, in the level lines and the derived bounds.
TEST(InfoReport, EllipsoidalSqlitedbStore) {
    TempDir dir;
    const std::string path = dir.file("yandex.sqlitedb");
    {
        StoreWriter w(path, Layout::Xyz, false);
        testsupport::WriteInfoTable(w, {{"tilenumbering", "''"}, {"ellipsoid", "1"}});
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x) w.Tile(1, x, y, Blob(1, x, y));
        w.Tile(2, 1, 1, Blob(2, 1, 1));
    }
    EXPECT_THAT(
        Report(path),
        ElementsAre("=== INFO begin ===", "file: " + path,
                    "  kind=SQLite tiles (XYZ)  localGrid=0  geoUnknown=0  format=jpg",
                    "  zoom=1-2  tile=256x256  scheme=XYZ",
                    "  z1  x=0..1 y=0..1  lon -180.00000..180.00000  lat -85.08406..85.08406",
                    "  z2  x=1..1 y=1..1  lon -90.00000..0.00000  lat 0.00000..66.65348",
                    "  bounds -90.00000,0.00000,0.00000,66.65348", "=== INFO end ==="));
}

}  // namespace

// A PMTiles archive reports its kind, the format of its header's tile type,
// XYZ rows, the zoom range of its levels narrowed by the header's (zooms
// beyond 31 passed over), and its header's bounds unless all four are 0.
TEST(InfoReport, PmtilesArchives) {
    const auto fixture = Report(CORVALIS_FIXTURE_DIR "/reference.pmtiles");
    ASSERT_EQ(fixture.size(), 10u);
    EXPECT_EQ(fixture[2], "  kind=PMTiles  localGrid=0  geoUnknown=0  format=png");
    EXPECT_EQ(fixture[3], "  zoom=0-3  tile=256x256  scheme=XYZ");
    EXPECT_EQ(fixture[7],
              "  z3  x=0..7 y=0..7  lon -180.00000..180.00000  lat -85.05113..85.05113");
    EXPECT_EQ(fixture[8], "  bounds -180.00000,-85.00000,180.00000,85.00000");

    TempDir dir;
    struct Case {
        int minZoom, maxZoom;
        std::uint8_t tileType;
        std::vector<std::string> lines;  // after the file line
    };
    const Case cases[] = {
        {1,
         40,
         3,
         {"  kind=PMTiles  localGrid=0  geoUnknown=0  format=jpg",
          "  zoom=1-2  tile=256x256  scheme=XYZ",
          "  z1  x=1..1 y=0..0  lon 0.00000..180.00000  lat 0.00000..85.05113",
          "  z2  x=0..0 y=3..3  lon -180.00000..-90.00000  lat -85.05113..-66.51326",
          "  bounds -180.00000,-85.05113,-90.00000,-66.51326"}},
        {3, 3, 9, {"  cannot open: no usable zoom level found."}},
    };
    for (const Case& c : cases) {
        testsupport::PmtilesWriter w;
        w.Tile(1, 1, 0, Blob(1, 1, 0));
        w.Tile(2, 0, 3, Blob(2, 0, 3));
        testsupport::PmtilesOptions o;
        o.minZoom = c.minZoom;
        o.maxZoom = c.maxZoom;
        o.tileType = c.tileType;
        const std::string path = dir.file("a.pmtiles");
        w.Write(path, o);
        std::vector<std::string> expected = {"=== INFO begin ===", "file: " + path};
        expected.insert(expected.end(), c.lines.begin(), c.lines.end());
        expected.emplace_back("=== INFO end ===");
        EXPECT_EQ(Report(path), expected);
    }
    const std::string old = dir.file("old.pmtiles");
    std::ofstream(old, std::ios::binary) << std::string("PM\x02\x00", 4) << std::string(600, '\0');
    EXPECT_EQ(Report(old)[2], "  cannot open: PMTiles version 2 is not supported; only version 3.");
}
