// Writes the stores that the tests, the self-check and `make run` use:
//   reference.mbtiles  MBTiles, levels 0-3 over the whole world, 256-pixel PNG tiles
//   reference.pmtiles  the same tiles in a PMTiles archive (gzip directories, leaves)
//   test_orux.db/.omm  an Orux local grid placed by its sidecar at levels 2 and 3
//   sample.mbtiles     the Earth picture in Web Mercator, levels 0-4, JPEG tiles
//   world.gpkg         the same tiles as a GeoPackage tile pyramid (table "world")
//   vector.mbtiles     vector tiles of the Earth picture (format pbf, gzip MVT), levels 0-2
//   vector.pmtiles     the same tiles in a PMTiles archive (tile type MVT, gzip tiles)
// Usage: fixturegen OUTPUT_DIR [EARTH_IMAGE]
#include <QGuiApplication>
#include <QImage>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <tuple>

#include "earthtiles.h"
#include "pmtileswriter.h"
#include "geopackagewriter.h"
#include "storewriter.h"
#include "vectortiles.h"

namespace {

using testsupport::Bytes;
using testsupport::EncodeImage;
using testsupport::Layout;
using testsupport::LoadWorld;
using testsupport::RenderEarthTile;
using testsupport::StoreWriter;

using TileKey = std::tuple<int, int, int>;
using TileSet = std::map<TileKey, Bytes>;

// Every tile of levels z0..z1 in world (XYZ) numbering.
TileSet RenderWorld(const QImage& world, int z0, int z1, const char* format, int quality) {
    TileSet tiles;
    for (int z = z0; z <= z1; ++z) {
        const int n = 1 << z;
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x)
                tiles[{z, x, y}] =
                    EncodeImage(RenderEarthTile(world, z, x, y, 256), format, quality);
    }
    return tiles;
}

void WriteMbtiles(const std::string& path, const TileSet& tiles,
                  const std::map<std::string, std::string>& meta) {
    StoreWriter w(path, Layout::MBTiles);
    for (const auto& [k, v] : meta) w.Meta(k, v);
    w.Exec("BEGIN;");
    for (const auto& [key, bytes] : tiles) {
        const auto [z, x, y] = key;
        w.Tile(z, x, (1 << z) - 1 - y, bytes);  // TMS rows in the file
    }
    w.Exec("COMMIT;");
}

void WritePmtiles(const std::string& path, const TileSet& tiles, const std::string& name) {
    testsupport::PmtilesWriter w;
    for (const auto& [key, bytes] : tiles) {
        const auto [z, x, y] = key;
        w.Tile(z, static_cast<std::uint64_t>(x), static_cast<std::uint64_t>(y), bytes);
    }
    testsupport::PmtilesOptions o;
    o.internalCompression = testsupport::kPmtGzip;
    o.leafSize = 16;
    o.metadata = R"({"name":")" + name + R"(","format":"png"})";
    o.boundsE7[0] = -1800000000;
    o.boundsE7[1] = -850000000;
    o.boundsE7[2] = 1800000000;
    o.boundsE7[3] = 850000000;
    w.Write(path, o);
}

// An Orux local grid: level 2 covers world columns and rows 1..2, level 3 1..6,
// each stored from local 0,0 and placed by the sidecar.
void WriteOrux(const std::string& dbPath, const std::string& ommPath, const TileSet& reference) {
    struct Level {
        int z, first, last;
    };
    const Level levels[] = {{2, 1, 2}, {3, 1, 6}};
    StoreWriter w(dbPath, Layout::Xyz, false);
    w.Exec("BEGIN;");
    std::ofstream omm(ommPath, std::ios::binary | std::ios::trunc);
    omm << "[XY]\r\n";
    for (const Level& l : levels) {
        for (int y = l.first; y <= l.last; ++y)
            for (int x = l.first; x <= l.last; ++x)
                w.Tile(l.z, x - l.first, y - l.first, reference.at({l.z, x, y}));
        omm << "MinX_" << l.z << "=" << l.first << "\r\nMinY_" << l.z << "=" << l.first << "\r\n";
    }
    w.Exec("COMMIT;");
}

// A GeoPackage of the whole world in EPSG:3857, zoom_level = world zoom.
void WriteGeoPackage(const std::string& path, const TileSet& tiles) {
    testsupport::GeoPackageWriter w(path);
    testsupport::GeoPackageWriter::Pyramid pyramid("world", "Earth sample");
    pyramid.boundsMinX = pyramid.boundsMinY = -testsupport::kHalfWorld;
    pyramid.boundsMaxX = pyramid.boundsMaxY = testsupport::kHalfWorld;
    w.AddPyramid(pyramid);
    int maxZoom = -1;
    for (const auto& [key, bytes] : tiles) maxZoom = std::max(maxZoom, std::get<0>(key));
    for (int z = 0; z <= maxZoom; ++z) w.AddWorldMatrix("world", z, z);
    w.Exec("BEGIN;");
    for (const auto& [key, bytes] : tiles) {
        const auto [z, x, y] = key;
        w.Tile("world", z, x, y, bytes);  // rows from the top, as in the world
    }
    w.Exec("COMMIT;");
}

// The Earth's vector tiles of levels z0..z1 as a PMTiles archive.
void WriteVectorPmtiles(const std::string& path, const QImage& world, int z0, int z1) {
    testsupport::PmtilesWriter w;
    for (int z = z0; z <= z1; ++z)
        for (int y = 0; y < (1 << z); ++y)
            for (int x = 0; x < (1 << z); ++x)
                w.Tile(z, static_cast<std::uint64_t>(x), static_cast<std::uint64_t>(y),
                       testsupport::mvt::Gzip(testsupport::EarthVectorTile(world, z, x, y)));
    testsupport::PmtilesOptions o;
    o.internalCompression = testsupport::kPmtGzip;
    o.tileCompression = testsupport::kPmtGzip;
    o.tileType = 1;  // MVT
    o.metadata = R"({"name":"Earth vector","vector_layers":[{"id":"land"},{"id":"coastline"},)"
                 R"({"id":"graticule"},{"id":"roads"},{"id":"places"}]})";
    w.Write(path, o);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: fixturegen OUTPUT_DIR [EARTH_IMAGE]\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    const std::filesystem::path out = argv[1];
    std::filesystem::create_directories(out);
    const QImage world = LoadWorld(argc > 2 ? argv[2] : testsupport::kDefaultEarthPicture);

    const TileSet reference = RenderWorld(world, 0, 3, "PNG", -1);
    WriteMbtiles((out / "reference.mbtiles").string(), reference,
                 {{"name", "Reference world"},
                  {"format", "png"},
                  {"bounds", "-180,-85,180,85"},
                  {"minzoom", "0"},
                  {"maxzoom", "3"}});
    WritePmtiles((out / "reference.pmtiles").string(), reference, "Reference world");
    WriteOrux((out / "test_orux.db").string(), (out / "test_orux.omm").string(), reference);

    const TileSet sample = RenderWorld(world, 0, 4, "JPG", 88);
    WriteMbtiles((out / "sample.mbtiles").string(), sample,
                 {{"name", "Earth sample"},
                  {"format", "jpg"},
                  {"bounds", "-180,-85.0511,180,85.0511"},
                  {"minzoom", "0"},
                  {"maxzoom", "4"},
                  {"description", "Blue-marble style picture of the Earth in Web Mercator"}});
    WriteGeoPackage((out / "world.gpkg").string(), sample);
    testsupport::WriteVectorMbtiles((out / "vector.mbtiles").string(), world, 0, 2);
    WriteVectorPmtiles((out / "vector.pmtiles").string(), world, 0, 2);
    std::printf("fixturegen: stores written to %s\n", out.string().c_str());
    return 0;
}
