// Vector tiles from bytes to pixels: the decoder's rules (a table of good and
// broken messages), values as text, stable layer colours, geometry on the
// right pixels, hidden layers, hit tests, hostile compressed tiles, and the
// same frame whether cells are drawn on one thread or several.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "mvtwriter.h"
#include "vectorcodec.h"
#include "vectortiles.h"
#include "watchdog.h"

using namespace corvalis;
namespace mvt = testsupport::mvt;
using mvt::Bytes;
using mvt::Command;
using mvt::Zigzag;

namespace {

// "k12": built by appending (GCC 12 at -O3 warns falsely on "k" + std::string).
template <typename Number>
std::string Numbered(char prefix, Number n) {
    std::string name(1, prefix);
    name += std::to_string(n);
    return name;
}

int argc = 1;
char arg0[] = "test_vectortile";
char* argv[] = {arg0, nullptr};
QGuiApplication app(argc, argv);

Bytes OneFeature(std::uint32_t type, mvt::Geometry g, std::uint32_t extent = 4096) {
    return mvt::Write({{"layer", {{type, std::move(g), {{"k", std::string("v")}}}}, extent}});
}

std::vector<std::uint32_t> Ints(std::initializer_list<std::uint32_t> v) {
    return v;
}

const std::uint32_t kMove1 = Command(mvt::kMoveTo, 1);
const std::uint32_t kClose = Command(mvt::kClosePath, 1);

TEST(VectorTile, DecodeTable) {
    using V = mvt::Vertex;
    const auto square = mvt::Polygon({{V{0, 0}, V{10, 0}, V{10, 10}, V{0, 10}}});
    mvt::Layer noName{"x", {{mvt::kPoint, mvt::Points({V{1, 1}})}}};
    noName.named = false;
    mvt::Layer noVersion{"x", {{mvt::kPoint, mvt::Points({V{1, 1}})}}, 4096, std::nullopt};
    mvt::Layer version3 = noVersion;
    version3.version = 3;
    mvt::Layer extent0 = noVersion;
    extent0.extent = 0;
    const Bytes good = OneFeature(mvt::kPoint, mvt::Points({V{1, 1}}));
    struct Case {
        const char* name;
        Bytes bytes;
        const char* error;  // part of the message; nullptr when the tile is good
    };
    const Case cases[] = {
        {"multipoint", OneFeature(mvt::kPoint, mvt::Points({V{5, 7}, V{3, 2}})), nullptr},
        {"multiline", OneFeature(mvt::kLine, mvt::Lines({{V{2, 2}, V{2, 10}}, {V{1, 1}, V{3, 5}}})),
         nullptr},
        {"polygon with a hole",
         OneFeature(mvt::kPolygon, mvt::Polygon({{V{0, 0}, V{9, 0}, V{9, 9}, V{0, 9}},
                                                 {V{3, 3}, V{3, 6}, V{6, 6}, V{6, 3}}})),
         nullptr},
        {"LineTo split in two",
         OneFeature(mvt::kPolygon, Ints({kMove1, 0, 0, 10, 20, 0, 10, 0, 20, kClose})), nullptr},
        {"buffer of four extents",
         OneFeature(mvt::kLine, mvt::Lines({{V{-400, -400}, V{500, 500}}}), 100), nullptr},
        {"unknown type skipped", OneFeature(mvt::kUnknown, Ints({99})), nullptr},
        {"no version means 1", mvt::Write({noVersion}), nullptr},
        {"empty message", {}, nullptr},
        {"beyond four extents", OneFeature(mvt::kPoint, mvt::Points({V{501, 0}}), 100), "extents"},
        {"count beyond the stream", OneFeature(mvt::kPoint, Ints({Command(1, 3), 2, 2, 4, 4})),
         "exceeds"},
        {"huge count", OneFeature(mvt::kPoint, Ints({Command(1, (1u << 29) - 1), 2, 2})),
         "exceeds"},
        {"unknown command", OneFeature(mvt::kLine, Ints({Command(3, 1), 2, 2})), "MoveTo(1)"},
        {"point then LineTo", OneFeature(mvt::kPoint, Ints({kMove1, 2, 2, Command(2, 1), 2, 2})),
         "goes on"},
        {"point MoveTo(0)", OneFeature(mvt::kPoint, Ints({Command(1, 0)})), "POINT"},
        {"line MoveTo(2)",
         OneFeature(mvt::kLine, Ints({Command(1, 2), 2, 2, 4, 4, Command(2, 1), 2, 2})),
         "MoveTo(1)"},
        {"line without LineTo", OneFeature(mvt::kLine, Ints({kMove1, 2, 2})), "LineTo"},
        {"LineTo(0)", OneFeature(mvt::kLine, Ints({kMove1, 2, 2, Command(2, 0)})), "count of 0"},
        {"empty line", OneFeature(mvt::kLine, {}), "empty"},
        {"ring not closed",
         OneFeature(mvt::kPolygon, Ints({kMove1, 0, 0, Command(2, 2), 20, 0, 0, 20})), "ClosePath"},
        {"ClosePath(2)",
         OneFeature(mvt::kPolygon,
                    Ints({kMove1, 0, 0, Command(2, 2), 20, 0, 0, 20, Command(7, 2)})),
         "ClosePath"},
        {"ring of two vertices",
         OneFeature(mvt::kPolygon, Ints({kMove1, 0, 0, Command(2, 1), 20, 0, kClose})), "three"},
        {"type 4", OneFeature(4, square), "geometry type"},
        {"odd tags",
         mvt::Write({{"l", {{mvt::kPoint, mvt::Points({V{1, 1}}), {{"k", true}}, {}, Ints({0})}}}}),
         "odd"},
        {"key out of range",
         mvt::Write(
             {{"l", {{mvt::kPoint, mvt::Points({V{1, 1}}), {{"k", true}}, {}, Ints({1, 0})}}}}),
         "range"},
        {"value out of range",
         mvt::Write(
             {{"l", {{mvt::kPoint, mvt::Points({V{1, 1}}), {{"k", true}}, {}, Ints({0, 1})}}}}),
         "range"},
        {"no name", mvt::Write({noName}), "no name"},
        {"version 3", mvt::Write({version3}), "version 3"},
        {"extent 0", mvt::Write({extent0}), "extent 0"},
        {"truncated", Bytes(good.begin(), good.end() - 3), "protobuf"},
        {"name as a varint", {0x1A, 0x02, 0x08, 0x01}, "wire type"},
        {"value of two fields",
         {0x1A, 0x0B, 0x0A, 0x01, 'l', 0x22, 0x04, 0x38, 0x01, 0x38, 0x00, 0x28, 0x02},
         "exactly one"},
        {"value without a field",
         {0x1A, 0x07, 0x0A, 0x01, 'l', 0x22, 0x00, 0x28, 0x02},
         "exactly one"},
    };
    for (const Case& c : cases) {
        VectorTile tile;
        std::string error;
        const bool ok = DecodeVectorTile(c.bytes.data(), c.bytes.size(), tile, error);
        EXPECT_EQ(ok, c.error == nullptr) << c.name << ": " << error;
        if (c.error != nullptr) {
            EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
            EXPECT_TRUE(tile.layers.empty()) << c.name;
        }
    }
}

TEST(VectorTile, ModelOfAPolygonWithAHole) {
    using V = mvt::Vertex;
    const Bytes bytes = mvt::Write(
        {{"area",
          {{mvt::kPolygon,
            mvt::Polygon({{V{0, 0}, V{9, 0}, V{9, 9}, V{0, 9}}, {V{3, 3}, V{3, 6}, V{6, 6}}}),
            {{"name", std::string("A")}},
            7}},
          512}});
    VectorTile tile;
    std::string error;
    ASSERT_TRUE(DecodeVectorTile(bytes.data(), bytes.size(), tile, error)) << error;
    ASSERT_EQ(tile.layers.size(), 1u);
    const VectorLayer& l = tile.layers[0];
    EXPECT_EQ(l.name, "area");
    EXPECT_EQ(l.extent, 512u);
    EXPECT_EQ(l.version, 2u);
    ASSERT_EQ(l.features.size(), 1u);
    const VectorFeature& f = l.features[0];
    EXPECT_TRUE(f.hasId);
    EXPECT_EQ(f.id, 7u);
    ASSERT_EQ(f.partCount, 2u);
    const auto hole = l.Part(f.firstPart + 1);
    EXPECT_EQ(std::vector<TilePoint>(hole.begin(), hole.end()),
              (std::vector<TilePoint>{{3, 3}, {3, 6}, {6, 6}}));
    EXPECT_EQ(l.Key(f, 0), "name");
    EXPECT_EQ(l.Value(f, 0), "A");
}

TEST(VectorTile, ValuesAsText) {
    const std::vector<std::pair<mvt::Value, std::string>> cases = {
        {std::string("Rue d'été"), "Rue d'été"},
        {0.1f, "0.1"},
        {1.23, "1.23"},
        {1e21, "1e+21"},
        {std::int64_t{-5}, "-5"},
        {std::uint64_t{18446744073709551615u}, "18446744073709551615"},
        {mvt::Sint{-7}, "-7"},
        {true, "true"},
        {false, "false"},
    };
    mvt::Feature f{mvt::kPoint, mvt::Points({{1, 1}})};
    for (std::size_t i = 0; i < cases.size(); ++i)
        f.properties.push_back({Numbered('k', i), cases[i].first});
    const Bytes bytes = mvt::Write({{"l", {f}}});
    VectorTile tile;
    std::string error;
    ASSERT_TRUE(DecodeVectorTile(bytes.data(), bytes.size(), tile, error)) << error;
    const VectorLayer& l = tile.layers[0];
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(l.Value(l.features[0], static_cast<std::uint32_t>(i)), cases[i].second);
}

TEST(VectorTile, WorkBudgets) {
    testsupport::Watchdog watchdog("decoding tiles over budget");
    std::vector<mvt::Vertex> many(VectorTileLimits::kMaxVertices + 1, mvt::Vertex{1, 1});
    mvt::Layer features{"f"};
    features.features.assign(VectorTileLimits::kMaxFeatures + 1, {mvt::kUnknown});
    // Tags count over the whole tile: two layers of a little over half the budget each.
    const std::vector<std::uint32_t> halfTags(VectorTileLimits::kMaxTags + 2, 0);
    const mvt::Layer tagged{
        "t", {{mvt::kPoint, mvt::Points({{1, 1}}), {{"k", std::string("v")}}, {}, halfTags}}};
    struct Case {
        const char* name;
        Bytes bytes;
    } const cases[] = {
        {"vertices", OneFeature(mvt::kPoint, mvt::Points(many))},
        {"features", mvt::Write({features})},
        {"tags", mvt::Write({tagged, tagged})},
    };
    for (const Case& c : cases) {
        VectorTile tile;
        std::string error;
        EXPECT_FALSE(DecodeVectorTile(c.bytes.data(), c.bytes.size(), tile, error)) << c.name;
        EXPECT_NE(error.find("too many"), std::string::npos) << c.name << ": " << error;
    }
}

// Palette entries are pinned: a colour that changed between versions would
// repaint every store. Distinct layers of the generator get distinct colours.
TEST(VectorPainter, LayerColoursAreStable) {
    const std::pair<const char*, int> pinned[] = {
        {"land", 4},   {"coastline", 7}, {"graticule", 11}, {"roads", 0},
        {"places", 5}, {"water", 0},     {"building", 9}};
    for (const auto& [name, index] : pinned) EXPECT_EQ(LayerColourIndex(name), index) << name;
    for (int a = 0; a < kVectorPaletteSize; ++a)
        for (int b = a + 1; b < kVectorPaletteSize; ++b) {
            std::string na(1, 'a'), nb;
            // Names landing on entries a and b.
            for (int i = 0; LayerColourIndex(na) != a; ++i) na = Numbered('n', i);
            for (int i = 0; LayerColourIndex(nb) != b; ++i) nb = Numbered('n', i);
            const QColor ca = LayerColour(na), cb = LayerColour(nb);
            const int d = std::abs(ca.red() - cb.red()) + std::abs(ca.green() - cb.green()) +
                          std::abs(ca.blue() - cb.blue());
            EXPECT_GT(d, 60) << a << " " << b;
        }
    EXPECT_TRUE(IsRoadLike("Transportation_name"));
    EXPECT_TRUE(IsRoadLike("water-way"));
    EXPECT_FALSE(IsRoadLike("water"));
}

// A frame larger than the cell, filled with a marker, so that drawing outside
// the cell shows.
struct Frame {
    static constexpr QRgb kMarker = qRgb(1, 2, 3);
    explicit Frame(int w, int h) : image(w, h, QImage::Format_RGB888) { image.fill(kMarker); }
    QImage image;
};

QRgb Over(QColor top, int alpha) {
    const QColor bg(kVectorBackground);
    auto mix = [&](int t, int b) { return (t * alpha + b * (255 - alpha) + 127) / 255; };
    return qRgb(mix(top.red(), bg.red()), mix(top.green(), bg.green()), mix(top.blue(), bg.blue()));
}

TEST(VectorPainter, QuarterSquareFillsExactlyTheTopLeftQuarter) {
    struct Case {
        int side;
        std::uint32_t extent;
        double ratio;
    } const cases[] = {{256, 4096, 1.0}, {512, 4096, 1.0}, {512, 512, 2.0}, {256, 256, 1.0}};
    for (const Case& c : cases) {
        const std::int32_t h = static_cast<std::int32_t>(c.extent / 2);
        const Bytes bytes = mvt::Gzip(
            OneFeature(mvt::kPolygon, mvt::Polygon({{{0, 0}, {h, 0}, {h, h}, {0, h}}}), c.extent));
        Frame frame(c.side + 70, c.side + 50);
        const QRect cell(40, 30, c.side, c.side);
        VectorStyle style;
        style.devicePixelRatio = c.ratio;
        std::string error;
        ASSERT_TRUE(
            DrawVectorTileBytes(frame.image, cell, bytes.data(), bytes.size(), style, error))
            << error;
        const QRgb fill = Over(LayerColour("layer"), 89);
        int wrong = 0;
        for (int y = 0; y < frame.image.height(); ++y)
            for (int x = 0; x < frame.image.width(); ++x) {
                const QRgb p = frame.image.pixel(x, y) & 0xFFFFFF;
                const int cx = x - cell.x(), cy = y - cell.y();
                const bool inCell = cell.contains(x, y);
                const bool quarter = inCell && cx < c.side / 2 && cy < c.side / 2;
                const bool edge = quarter && (cx == c.side / 2 - 1 || cy == c.side / 2 - 1);
                const QRgb expected = !inCell    ? Frame::kMarker
                                      : !quarter ? kVectorBackground
                                      : edge     ? LayerColour("layer").rgb()
                                                 : fill;
                const bool near = std::abs(qRed(p) - qRed(expected)) <= 1 &&
                                  std::abs(qGreen(p) - qGreen(expected)) <= 1 &&
                                  std::abs(qBlue(p) - qBlue(expected)) <= 1;
                // Qt's blend may round the fill by one; the outline's corner
                // pixel is partly covered; everything else is exact.
                const bool corner = cx == c.side / 2 - 1 && cy == cx;
                wrong += corner             ? p == (kVectorBackground & 0xFFFFFF)
                         : expected == fill ? !near
                                            : p != (expected & 0xFFFFFF);
            }
        EXPECT_EQ(wrong, 0) << c.side << " " << c.extent << " x" << c.ratio;
    }
}

Bytes ThreeLayers() {
    using V = mvt::Vertex;
    return mvt::Write({
        {"area",
         {{mvt::kPolygon,
           mvt::Polygon({{V{0, 0}, V{4000, 0}, V{4000, 4000}, V{0, 4000}},
                         {V{1000, 1000}, V{1000, 2000}, V{2000, 2000}, V{2000, 1000}}}),
           {{"name", std::string("Park")}, {"kind", std::string("green")}}}}},
        {"roads",
         {{mvt::kLine,
           mvt::Lines({{V{0, 3000}, V{4096, 3000}}}),
           {{"name", std::string("Main")}}}}},
        {"places", {{mvt::kPoint, mvt::Points({V{3000, 3000}}), {{"name", std::string("Town")}}}}},
    });
}

QImage Drawn(const Bytes& bytes, const VectorStyle& style) {
    Frame frame(256, 256);
    std::string error;
    EXPECT_TRUE(DrawVectorTileBytes(frame.image, frame.image.rect(), bytes.data(), bytes.size(),
                                    style, error))
        << error;
    return frame.image;
}

// A hidden layer leaves the pixels as a tile without that layer.
TEST(VectorPainter, HiddenLayersAreNotDrawn) {
    const Bytes all = ThreeLayers();
    VectorTile tile;
    std::string error;
    ASSERT_TRUE(DecodeVectorTile(all.data(), all.size(), tile, error));
    for (std::size_t hidden = 0; hidden < tile.layers.size(); ++hidden) {
        VectorStyle style;
        style.hiddenLayers.insert(tile.layers[hidden].name);
        VectorTile without = tile;
        without.layers.erase(without.layers.begin() + static_cast<std::ptrdiff_t>(hidden));
        Frame expected(256, 256);
        ASSERT_TRUE(DrawVectorTile(expected.image, expected.image.rect(), without, {}));
        EXPECT_EQ(Drawn(all, style), expected.image) << tile.layers[hidden].name;
        EXPECT_NE(Drawn(all, {}), expected.image) << tile.layers[hidden].name;
    }
}

TEST(VectorPainter, HitTestsTakeTheTopmostFeature) {
    const Bytes bytes = ThreeLayers();
    VectorTile tile;
    std::string error;
    ASSERT_TRUE(DecodeVectorTile(bytes.data(), bytes.size(), tile, error));
    // Cell of 512 device pixels: one pixel is 8 tile units.
    const QSizeF cell(512, 512);
    struct Case {
        QPointF at;
        const char* hidden;
        const char* layer;  // nullptr: nothing
        const char* line;
    } const cases[] = {
        {{375 + 2.5, 375 + 2.5}, "", "places", "name = Town"},  // 3.5 pixels from the point
        {{375 + 4.5, 375}, "", "roads", "name = Main"},         // past the point, on the road
        {{100, 375 + 2.9}, "", "roads", "name = Main"},
        {{100, 375 + 3.2}, "", "area", "name = Park"},
        {{375, 375}, "places", "roads", "name = Main"},
        {{375, 375}, "places,roads", "area", "kind = green"},
        {{190, 190}, "", nullptr, nullptr},  // in the hole
        {{505, 505}, "", nullptr, nullptr},  // outside every ring
        {{50, 50}, "area", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        VectorStyle style;
        for (const char* name : {"places", "roads", "area"})
            if (std::strstr(c.hidden, name) != nullptr) style.hiddenLayers.insert(name);
        const auto hit = HitTest(tile, c.at, cell, style);
        ASSERT_EQ(hit.has_value(), c.layer != nullptr) << c.at.x() << "," << c.at.y();
        if (!hit) continue;
        EXPECT_EQ(hit->layer, c.layer);
        EXPECT_NE(std::find(hit->lines.begin(), hit->lines.end(), c.line), hit->lines.end())
            << c.layer;
    }
}

TEST(VectorPainter, TooltipLinesAreBounded) {
    mvt::Feature f{mvt::kPoint, mvt::Points({{10, 10}})};
    for (int i = 0; i < 15; ++i) f.properties.push_back({Numbered('k', i), std::int64_t{i}});
    f.properties[0].second = std::string("a\nb") + std::string(300, 'x');
    const Bytes bytes = mvt::Write({{"p", {f}}});
    VectorTile tile;
    std::string error;
    ASSERT_TRUE(DecodeVectorTile(bytes.data(), bytes.size(), tile, error));
    const auto hit = HitTest(tile, {0.5, 0.5}, {256, 256}, {});
    ASSERT_TRUE(hit);
    ASSERT_EQ(hit->lines.size(), kMaxHitLines);
    EXPECT_EQ(hit->lines.back(), "(4 more)");
    EXPECT_EQ(hit->lines[0].substr(0, 9), "k0 = a bx");
    EXPECT_LE(hit->lines[0].size(), 203u);
    EXPECT_EQ(hit->lines[10], "k10 = 10");
}

// Broken and hostile tiles fail cleanly and leave the cell to the placeholder.
TEST(VectorCodec, HostileTilesAreNotDrawn) {
    testsupport::Watchdog watchdog("hostile vector tiles");
    const Bytes good = mvt::Gzip(ThreeLayers());
    struct Case {
        const char* name;
        Bytes bytes;
    } const cases[] = {
        {"truncated gzip", Bytes(good.begin(), good.end() - 20)},
        {"gzip of garbage", mvt::Gzip(Bytes(500, 0xFF))},
        {"zlib of a broken tile", mvt::Zlib(OneFeature(mvt::kLine, {kMove1, 2, 2}))},
        {"raw garbage", Bytes{0x1A, 0x7F, 0x01}},
        {"gzip bomb", mvt::GzipOfZeros(std::uint64_t{1} << 30)},  // 1 GiB of zeros
    };
    for (const Case& c : cases) {
        Frame frame(300, 300);
        const QImage before = frame.image;
        VectorTile kept = {};
        kept.layers.resize(1);
        std::string error;
        EXPECT_FALSE(DrawVectorTileBytes(frame.image, {10, 10, 256, 256}, c.bytes.data(),
                                         c.bytes.size(), {}, error, &kept))
            << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
        EXPECT_TRUE(kept.layers.empty()) << c.name;
        EXPECT_EQ(frame.image, before) << c.name;
    }
    EXPECT_TRUE(LooksLikeVectorTile(good.data(), good.size()));
    EXPECT_FALSE(LooksLikeVectorTile(cases[1].bytes.data(), cases[1].bytes.size()));
}

// Cells drawn by two threads, each through a picture of its own over the same
// pixels (as the decode pool does), equal the frame drawn on one thread.
TEST(VectorCodec, ThreadedCellsEqualOneThread) {
    const QImage world = testsupport::LoadWorld(testsupport::kDefaultEarthPicture);
    std::vector<Bytes> tiles;
    for (int i = 0; i < 8; ++i)
        tiles.push_back(mvt::Gzip(testsupport::EarthVectorTile(world, 3, i, 3)));
    auto draw = [&](QImage& frame, int first, int step) {
        VectorCodec codec;
        QImage own(frame.bits(), frame.width(), frame.height(), frame.bytesPerLine(),
                   frame.format());
        for (int i = first; i < 8; i += step) {
            std::string error;
            EXPECT_TRUE(codec.Draw(own, {(i % 4) * 200 - 20, (i / 4) * 200 + 5, 200, 200},
                                   tiles[static_cast<std::size_t>(i)].data(),
                                   tiles[static_cast<std::size_t>(i)].size(), {}, error))
                << error;
        }
    };
    Frame single(760, 420), pooled(760, 420);
    draw(single.image, 0, 1);
    std::thread a([&] { draw(pooled.image, 0, 2); });
    std::thread b([&] { draw(pooled.image, 1, 2); });
    a.join();
    b.join();
    EXPECT_EQ(single.image, pooled.image);
}

}  // namespace
