// Vector tiles of the Earth picture for benchmarks and fixtures, a few
// thousand features each, in the layers a real store would have:
//   land       polygons: runs of land cells along the rows of a 64 x 64 grid;
//   coastline  lines: the land/sea boundary of that grid, chained;
//   graticule  lines: meridians and parallels, four steps across the tile;
//   roads      lines: 1500 random polylines (a road-like name: drawn wide);
//   places     points: 800 labelled points.
// Land is wherever the picture is not dominantly blue. The same (z, x, y)
// gives the same bytes in every run.
#pragma once

#include <QImage>

#include <cmath>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "earthtiles.h"
#include "mvtwriter.h"
#include "storewriter.h"
#include "webmercator.h"

namespace testsupport {

namespace vectordetail {

using mvt::Vertex;
constexpr int kGrid = 64;

inline bool IsLand(QRgb c) {
    return !(qBlue(c) > qRed(c) + 15 && qBlue(c) >= qGreen(c));
}

// Land for each cell of the grid, sampled at the cell's centre.
inline std::vector<std::vector<bool>> LandGrid(const QImage& world, int z, int x, int y) {
    const double n = corvalis::TilesAcross(z);
    std::vector<std::vector<bool>> land(kGrid, std::vector<bool>(kGrid));
    for (int j = 0; j < kGrid; ++j) {
        const double lat = corvalis::TileYToLat(y + (j + 0.5) / kGrid, n);
        for (int i = 0; i < kGrid; ++i) {
            const double lon = corvalis::TileXToLon(x + (i + 0.5) / kGrid, n);
            land[j][i] = IsLand(SampleBilinear(world, (lon + 180.0) / 360.0 * world.width() - 0.5,
                                               (90.0 - lat) / 180.0 * world.height() - 0.5));
        }
    }
    return land;
}

inline Vertex Node(int i, int j, std::uint32_t extent) {
    return {static_cast<std::int32_t>(i * static_cast<std::int64_t>(extent) / kGrid),
            static_cast<std::int32_t>(j * static_cast<std::int64_t>(extent) / kGrid)};
}

inline mvt::Layer Land(const std::vector<std::vector<bool>>& land, std::uint32_t extent) {
    mvt::Layer layer{"land", {}, extent};
    for (int j = 0; j < kGrid; ++j)
        for (int i = 0; i < kGrid;) {
            if (!land[j][i]) {
                ++i;
                continue;
            }
            const int start = i;
            while (i < kGrid && land[j][i]) ++i;
            layer.features.push_back(
                {mvt::kPolygon,
                 mvt::Polygon({{Node(start, j, extent), Node(i, j, extent), Node(i, j + 1, extent),
                                Node(start, j + 1, extent)}}),
                 {{"row", std::int64_t{j}}, {"cells", std::int64_t{i - start}}}});
        }
    return layer;
}

// Boundary edges between land and sea cells, land on the right, chained.
inline mvt::Layer Coastline(const std::vector<std::vector<bool>>& land, std::uint32_t extent) {
    using NodeId = std::pair<int, int>;
    std::multimap<NodeId, NodeId> edges;
    for (int j = 0; j < kGrid; ++j)
        for (int i = 0; i < kGrid; ++i) {
            if (j > 0 && land[j][i] != land[j - 1][i])
                land[j][i] ? edges.insert({{i, j}, {i + 1, j}})
                           : edges.insert({{i + 1, j}, {i, j}});
            if (i > 0 && land[j][i] != land[j][i - 1])
                land[j][i] ? edges.insert({{i, j + 1}, {i, j}})
                           : edges.insert({{i, j}, {i, j + 1}});
        }
    mvt::Layer layer{"coastline", {}, extent};
    while (!edges.empty()) {
        auto it = edges.begin();
        std::vector<Vertex> line = {Node(it->first.first, it->first.second, extent)};
        NodeId at = it->second;
        edges.erase(it);
        line.push_back(Node(at.first, at.second, extent));
        for (auto next = edges.find(at); next != edges.end(); next = edges.find(at)) {
            at = next->second;
            edges.erase(next);
            line.push_back(Node(at.first, at.second, extent));
        }
        layer.features.push_back(
            {mvt::kLine, mvt::Lines({line}), {{"kind", std::string("coast")}}});
    }
    return layer;
}

inline mvt::Layer Graticule(int z, int x, int y, std::uint32_t extent) {
    mvt::Layer layer{"graticule", {}, extent};
    const double n = corvalis::TilesAcross(z), e = extent;
    for (int k = 0; k <= 4; ++k) {
        std::vector<Vertex> meridian, parallel;
        for (int s = 0; s <= 16; ++s) {
            const double along = -64 + (e + 128) * s / 16;
            meridian.push_back(
                {static_cast<std::int32_t>(e * k / 4), static_cast<std::int32_t>(along)});
            parallel.push_back(
                {static_cast<std::int32_t>(along), static_cast<std::int32_t>(e * k / 4)});
        }
        const double lon = corvalis::TileXToLon(x + k / 4.0, n);
        const double lat = corvalis::TileYToLat(y + k / 4.0, n);
        layer.features.push_back({mvt::kLine,
                                  mvt::Lines({meridian}),
                                  {{"kind", std::string("meridian")}, {"degrees", lon}}});
        layer.features.push_back({mvt::kLine,
                                  mvt::Lines({parallel}),
                                  {{"kind", std::string("parallel")}, {"degrees", lat}}});
    }
    return layer;
}

inline mvt::Layer Roads(std::mt19937& rng, std::uint32_t extent) {
    const char* const classes[] = {"motorway", "primary", "secondary", "track"};
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    mvt::Layer layer{"roads", {}, extent};
    const double e = extent;
    for (int r = 0; r < 1500; ++r) {
        double px = unit(rng) * e, py = unit(rng) * e, heading = unit(rng) * 2 * corvalis::kPi;
        std::vector<Vertex> line;
        const int count = 6 + static_cast<int>(unit(rng) * 10);
        for (int k = 0; k < count; ++k) {
            line.push_back({static_cast<std::int32_t>(px), static_cast<std::int32_t>(py)});
            heading += (unit(rng) - 0.5);
            const double step = 10 + unit(rng) * 30;
            px += std::cos(heading) * step;
            py += std::sin(heading) * step;
        }
        layer.features.push_back({mvt::kLine,
                                  mvt::Lines({line}),
                                  {{"class", std::string(classes[r % 4])},
                                   {"lanes", std::int64_t{1 + r % 3}},
                                   {"name", "Road " + std::to_string(r)}},
                                  static_cast<std::uint64_t>(r + 1)});
    }
    return layer;
}

inline mvt::Layer Places(std::mt19937& rng, std::uint32_t extent) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    mvt::Layer layer{"places", {}, extent};
    for (int p = 0; p < 800; ++p) {
        const Vertex v{static_cast<std::int32_t>(unit(rng) * extent),
                       static_cast<std::int32_t>(unit(rng) * extent)};
        layer.features.push_back({mvt::kPoint,
                                  mvt::Points({v}),
                                  {{"name", "Place " + std::to_string(p)},
                                   {"population", static_cast<std::uint64_t>(unit(rng) * 1e6)},
                                   {"rank", unit(rng) * 10},
                                   {"capital", p % 50 == 0}}});
    }
    return layer;
}

}  // namespace vectordetail

// The uncompressed MVT message of tile (z, x, y).
inline mvt::Bytes EarthVectorTile(const QImage& world, int z, int x, int y,
                                  std::uint32_t extent = 4096) {
    using namespace vectordetail;
    const auto land = LandGrid(world, z, x, y);
    std::mt19937 rng(static_cast<std::uint32_t>(z * 1000003 + x * 7919 + y));
    return mvt::Write({Land(land, extent), Coastline(land, extent), Graticule(z, x, y, extent),
                       Roads(rng, extent), Places(rng, extent)});
}

// An MBTiles vector store (format pbf, gzip tiles) of levels z0 to z1.
inline void WriteVectorMbtiles(const std::string& path, const QImage& world, int z0, int z1) {
    StoreWriter w(path, Layout::MBTiles);
    w.Meta("name", "Earth vector");
    w.Meta("format", "pbf");
    w.Meta("minzoom", std::to_string(z0));
    w.Meta("maxzoom", std::to_string(z1));
    w.Meta("json",
           "{\"vector_layers\":[{\"id\":\"land\"},{\"id\":\"coastline\"},{\"id\":\"graticule\"},"
           "{\"id\":\"roads\"},{\"id\":\"places\"}]}");
    w.FullWorld(z0, z1, [&](int z, std::int64_t x, std::int64_t y) {
        return mvt::Gzip(EarthVectorTile(world, z, static_cast<int>(x), static_cast<int>(y)));
    });
}

}  // namespace testsupport
