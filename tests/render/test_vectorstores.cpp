// Vector stores through the store, the renderer and the session: how they are
// recognised and sized, geometry on the right pixels of the frame (MBTiles and
// PMTiles), hidden layers, the text under the pointer, broken and hostile
// tiles as placeholders, and the legend.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>

#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "mapsession.h"
#include "mvtwriter.h"
#include "pmtileswriter.h"
#include "storewriter.h"
#include "tilesource.h"

using namespace corvalis;
namespace mvt = testsupport::mvt;
using mvt::Bytes;
using V = mvt::Vertex;

namespace {

int argc = 1;
char arg0[] = "test_vectorstores";
char* argv[] = {arg0, nullptr};
QGuiApplication app(argc, argv);

using Tiles = std::map<std::tuple<int, int, int>, Bytes>;  // world (XYZ) numbers

mvt::Geometry Square(std::int32_t x0, std::int32_t y0, std::int32_t side) {
    return mvt::Polygon({{V{x0, y0}, V{x0 + side, y0}, V{x0 + side, y0 + side}, V{x0, y0 + side}}});
}

// "quarter": the top-left quarter; "corner": the bottom-right one.
Bytes TwoSquares() {
    return mvt::Write({{"quarter", {{mvt::kPolygon, Square(0, 0, 2048)}}},
                       {"corner", {{mvt::kPolygon, Square(2048, 2048, 2048)}}}});
}

// A point at pixel (128, 128), a line along row 384 and a polygon over the
// top-right quarter of a 512-pixel cell.
Bytes ThreeKinds() {
    return mvt::Write({
        {"area", {{mvt::kPolygon, Square(2048, 0, 2048), {{"name", std::string("Park")}}}}},
        {"roads",
         {{mvt::kLine,
           mvt::Lines({{V{0, 3072}, V{4096, 3072}}}),
           {{"name", std::string("Main")}}}}},
        {"places", {{mvt::kPoint, mvt::Points({V{1024, 1024}}), {{"pop", std::int64_t{7}}}}}},
    });
}

void WriteMbtiles(const std::string& path, const Tiles& tiles, const char* format,
                  testsupport::Layout layout = testsupport::Layout::MBTiles) {
    testsupport::StoreWriter w(path, layout);
    if (format != nullptr) w.Meta("format", format);
    w.Meta("json", R"({"vector_layers":[{"id":"corner"},{"id":"quarter"}]})");
    for (const auto& [key, bytes] : tiles) {
        const auto [z, x, y] = key;
        const bool tms = layout == testsupport::Layout::MBTiles;
        w.Tile(z, x, tms ? (1 << z) - 1 - y : y, bytes);
    }
}

void WritePmtiles(const std::string& path, const Tiles& tiles, std::uint8_t compression) {
    testsupport::PmtilesWriter w;
    for (const auto& [key, bytes] : tiles) {
        const auto [z, x, y] = key;
        w.Tile(z, static_cast<std::uint64_t>(x), static_cast<std::uint64_t>(y), bytes);
    }
    testsupport::PmtilesOptions o;
    o.tileType = 1;
    o.tileCompression = compression;
    w.Write(path, o);
}

// The session's last frame's cell of tile (x, y).
QImage Cell(const MapSession& session, int x, int y) {
    const TileGrid& grid = session.Renderer().LastGrid();
    int px = 0, py = 0;
    if (session.Renderer().LastFrame() == nullptr || !grid.CellOffset(x, y, px, py)) return {};
    return session.Renderer().LastFrame()->copy(px, py, grid.tileWidth, grid.tileHeight);
}

bool IsBackground(const QImage& image, int x, int y) {
    return (image.pixel(x, y) & 0xFFFFFFu) == (kVectorBackground & 0xFFFFFFu);
}

// The pixels that are not background are exactly those of the squares in
// the cell (quarters by the number: 0 top-left, 3 bottom-right). Outlines sit
// half a pixel up and left: the bottom-right square's lights the row and the
// column just before it, which may go either way.
int WrongPixels(const QImage& cell, const std::vector<int>& quarters) {
    int wrong = 0;
    const int half = cell.width() / 2;
    const bool corner = std::find(quarters.begin(), quarters.end(), 3) != quarters.end();
    for (int y = 0; y < cell.height(); ++y)
        for (int x = 0; x < cell.width(); ++x) {
            const int quarter = (y >= half ? 2 : 0) + (x >= half ? 1 : 0);
            const bool filled =
                std::find(quarters.begin(), quarters.end(), quarter) != quarters.end();
            const bool outline =
                corner && ((x == half - 1 && y >= half - 1) || (y == half - 1 && x >= half - 1));
            wrong += !outline && filled == IsBackground(cell, x, y);
        }
    return wrong;
}

class VectorStoreTest : public ::testing::Test {
protected:
    std::size_t LegendIndex(const std::string& layer) {
        session.GatherLegend();
        const auto& entries = session.Legend().Entries();
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i].name == layer) return i;
        return entries.size();
    }
    void Open(const std::string& name, int view = 512) {
        std::string error;
        ASSERT_TRUE(session.Open(dir.file(name), view, view, error)) << error;
        ASSERT_NE(session.Render(true), RenderOutcome::EmptyGrid);
    }
    testsupport::TempDir dir;
    MapSession session;
};

TEST_F(VectorStoreTest, RecognisedByFormatTileTypeOrTileBytes) {
    const Bytes raw = TwoSquares();
    const Bytes gzip = mvt::Gzip(raw);
    struct Case {
        const char* name;
        std::function<void(const std::string&)> write;
        bool vector;
        const char* format;
        int side;
        const char* kind;
    } const cases[] = {
        {"named.mbtiles",
         [&](auto& p) {
             WriteMbtiles(p, {{{0, 0, 0}, raw}}, "pbf");
         },
         true, "pbf", 512, "MBTiles   vector tiles"},
        {"mvt.pmtiles",
         [&](auto& p) {
             WritePmtiles(p, {{{0, 0, 0}, gzip}}, 2);
         },
         true, "pbf", 512, "PMTiles   vector tiles"},
        {"unnamed.mbtiles",
         [&](auto& p) {
             WriteMbtiles(p, {{{0, 0, 0}, gzip}}, nullptr);
         },
         true, "pbf", 512, "MBTiles   vector tiles"},
        {"zlib.mbtiles",
         [&](auto& p) {
             WriteMbtiles(p, {{{0, 0, 0}, mvt::Zlib(raw)}}, "other");
         },
         true, "other", 512, "MBTiles   vector tiles"},
        {"notmvt.mbtiles",
         [&](auto& p) {
             WriteMbtiles(p, {{{0, 0, 0}, mvt::Gzip(Bytes(40, 0xFF))}}, "other");
         },
         false, "other", 256, "MBTiles   256x256 tiles"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.write(dir.file(c.name));
        Open(c.name);
        ASSERT_NE(session.Store(), nullptr);
        EXPECT_EQ(session.VectorStore(), c.vector);
        EXPECT_EQ(session.Store()->format(), c.format);
        EXPECT_EQ(session.Store()->tileWidth(), c.side);
        EXPECT_EQ(session.StatusTexts()[1], c.kind);
    }
}

// The square over the tile's top-left quarter fills that quarter of the
// cell and nothing else, from either layout; a hidden layer is not drawn.
TEST_F(VectorStoreTest, SquaresFillTheirQuartersAndHiddenLayersGo) {
    WriteMbtiles(dir.file("v.mbtiles"), {{{0, 0, 0}, mvt::Gzip(TwoSquares())}}, "pbf");
    WritePmtiles(dir.file("v.pmtiles"), {{{0, 0, 0}, mvt::Gzip(TwoSquares())}}, 2);
    for (const char* name : {"v.mbtiles", "v.pmtiles"}) {
        SCOPED_TRACE(name);
        Open(name);
        ASSERT_EQ(session.Renderer().LoadedCount(), 1);
        EXPECT_EQ(WrongPixels(Cell(session, 0, 0), {0, 3}), 0);
        // The legend lists the declared layers first, then those met in the tiles.
        const std::size_t corner = LegendIndex("corner");
        const auto& entries = session.Legend().Entries();
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[0].name, std::string(name) == "v.mbtiles" ? "corner" : "quarter");
        ASSERT_TRUE(session.ToggleLayer(corner));
        session.Render(true);
        EXPECT_EQ(WrongPixels(Cell(session, 0, 0), {0}), 0);
        ASSERT_TRUE(session.ToggleLayer(corner));
        session.Render(true);
        EXPECT_EQ(WrongPixels(Cell(session, 0, 0), {0, 3}), 0);
    }
}

TEST_F(VectorStoreTest, HoverTellsTheTopmostFeature) {
    WriteMbtiles(dir.file("h.mbtiles"), {{{0, 0, 0}, mvt::Gzip(ThreeKinds())}}, "pbf");
    Open("h.mbtiles");
    struct Case {
        int x, y;
        const char* text;
    } const cases[] = {
        {130, 127, "places\npop = 7"},   {131, 128, "places\npop = 7"},    {133, 128, ""},
        {40, 385, "roads\nname = Main"}, {40, 381, "roads\nname = Main"},  {40, 379, ""},
        {300, 100, "area\nname = Park"}, {300, 384, "roads\nname = Main"}, {100, 100, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(session.HoverText(c.x, c.y), c.text) << c.x << "," << c.y;
    ASSERT_TRUE(session.ToggleLayer(LegendIndex("roads")));
    session.Render(true);
    EXPECT_EQ(session.HoverText(300, 100), "area\nname = Park");
    EXPECT_EQ(session.HoverText(40, 385), "");
}

// A corrupt tile and a gzip bomb get the placeholder and count as missing;
// the others are drawn and kept for the pointer.
TEST_F(VectorStoreTest, BrokenAndHostileTilesArePlaceholders) {
    const Bytes good = mvt::Gzip(ThreeKinds());
    Bytes corrupt = good;
    corrupt.resize(corrupt.size() / 2);
    WriteMbtiles(dir.file("bad.mbtiles"),
                 {{{1, 0, 0}, good},
                  {{1, 1, 0}, corrupt},
                  {{1, 0, 1}, mvt::GzipOfZeros(std::uint64_t{128} << 20)},
                  {{1, 1, 1}, good}},
                 "pbf");
    Open("bad.mbtiles", 1024);
    EXPECT_EQ(session.Renderer().LoadedCount(), 2);
    EXPECT_EQ(session.Renderer().MissingCount(), 2);
    for (const auto& [x, y, drawn] :
         {std::tuple{0, 0, true}, {1, 0, false}, {0, 1, false}, {1, 1, true}}) {
        const QImage cell = Cell(session, x, y);
        ASSERT_FALSE(cell.isNull());
        EXPECT_EQ(IsBackground(cell, 5, 10), drawn) << x << "," << y;
        EXPECT_EQ(session.Renderer().KeptVectorTiles().Find(1, x, y) != nullptr, drawn);
    }
}

}  // namespace
