// The store check with decoding on all cores, its JSON and its coverage
// picture, on generated stores of real pictures with planted faults.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "../gui/tilestores.h"
#include "storecheck.h"
#include "storecheck_decode.h"
#include "storecheck_output.h"
#include "tilesource.h"

using testsupport::Bytes;
using testsupport::StoreWriter;
using testsupport::TempDir;

namespace {

// A picture that is not of one colour.
Bytes Gradient(int salt) {
    QImage image(256, 256, QImage::Format_RGB888);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) image.setPixel(x, y, qRgb(x, y, salt & 255));
    return teststores::EncodePicture(image);
}

// Levels 0-2 of the whole world in PNG; plant changes what it wants (rows
// are TMS: world row 3 - r at level 2).
corvalis::CheckReport CheckStore(const std::function<void(StoreWriter&)>& plant, bool decode,
                                 bool coverage = false) {
    const TempDir dir;
    const std::string path = dir.file("s.mbtiles");
    {
        StoreWriter w(path, testsupport::Layout::MBTiles);
        w.Meta("format", "png");
        int salt = 0;
        w.FullWorld(0, 2, [&](int, std::int64_t, std::int64_t) { return Gradient(++salt); });
        plant(w);
    }
    corvalis::TileDatabase store;
    std::string error;
    EXPECT_TRUE(store.Open(path, error)) << error;
    corvalis::ParallelCheckDecoder decoder(2);
    corvalis::CheckOptions options;
    options.decode = decode;
    options.decoder = &decoder;
    options.coverage = coverage;
    return corvalis::RunStoreCheck(store, options);
}

void Replace(StoreWriter& w, int z, int x, int y, const Bytes& data) {
    w.Exec("DELETE FROM tiles WHERE zoom_level=" + std::to_string(z) +
           " AND tile_column=" + std::to_string(x) + " AND tile_row=" + std::to_string(y) + ";");
    w.Tile(z, x, y, data);
}

Bytes Truncated(const Bytes& picture) {
    return Bytes(picture.begin(),
                 picture.begin() + static_cast<std::ptrdiff_t>(picture.size() / 2));
}

TEST(StoreCheckDecode, UndecodableAndSingleColourTiles) {
    const auto r = CheckStore(
        [](StoreWriter& w) {
            Replace(w, 2, 1, 3, Truncated(Gradient(7)));  // world 2/1/0
            Replace(w, 1, 1, 0, teststores::SolidPng(256, 256, qRgb(255, 255, 255)));
            QImage black(256, 256, QImage::Format_RGB888);
            black.fill(Qt::black);
            Replace(w, 2, 3, 3, teststores::EncodePicture(black, "JPG"));
        },
        true);
    EXPECT_TRUE(r.decoded);
    EXPECT_EQ(r.decodeThreads, 2);
    ASSERT_EQ(r.undecodable.count, 1);
    EXPECT_EQ(std::tie(r.undecodable.samples[0].z, r.undecodable.samples[0].x,
                       r.undecodable.samples[0].y),
              std::make_tuple(2, 1, 0));
    EXPECT_FALSE(r.undecodable.samples[0].note.empty());
    ASSERT_EQ(r.undecodableReasons.size(), 1u);
    EXPECT_EQ(r.undecodableReasons[0].second, 1);
    // The JPEG is a format mismatch, decodes, and is of one colour like the white PNG.
    EXPECT_EQ(r.formatMismatch.count, 1);
    ASSERT_EQ(r.singleColour.count, 2);
    EXPECT_EQ(r.singleColour.samples[0].note, "#ffffff");
    EXPECT_EQ(r.singleColour.samples[1].y, 0);
    EXPECT_EQ(r.ProblemCount(), 2);
}

// Results come back from several threads in any order; the samples are the
// first 20 tiles of the scan, whatever the order.
TEST(StoreCheckDecode, SamplesAreTheFirstInStorageOrder) {
    const auto r = CheckStore(
        [](StoreWriter& w) { w.Exec("UPDATE tiles SET tile_data=substr(tile_data, 1, 40);"); },
        true);
    ASSERT_EQ(r.undecodable.count, 21);
    ASSERT_EQ(r.undecodable.samples.size(), corvalis::kSampleLimit);
    for (std::size_t i = 0; i < corvalis::kSampleLimit; ++i)
        EXPECT_EQ(r.undecodable.samples[i].order, i);
    // Storage order: level 0, then level 1 as written (world rows from the north).
    EXPECT_EQ(std::tie(r.undecodable.samples[1].z, r.undecodable.samples[1].y),
              std::make_tuple(1, 0));
}

TEST(StoreCheckOutput, JsonHoldsTheFacts) {
    const auto r = CheckStore(
        [](StoreWriter& w) {
            Replace(w, 2, 1, 3, Truncated(Gradient(7)));
            Replace(w, 2, 2, 2, Gradient(1));  // a copy of the level 0 tile
            w.Tile(2, 4, 0, Gradient(8));
            w.Meta("maxzoom", "3");
        },
        true);
    const QJsonObject o = QJsonDocument::fromJson(corvalis::CheckReportJson(r)).object();
    EXPECT_EQ(o["kind"].toString(), "MBTiles");
    EXPECT_EQ(o["tiles"].toInteger(), 22);
    EXPECT_EQ(o["bytes"].toInteger(), r.bytes);
    const QJsonArray levels = o["levels"].toArray();
    ASSERT_EQ(levels.size(), 3);
    const QJsonObject z2 = levels[2].toObject();
    EXPECT_EQ(z2["z"].toInt(), 2);
    EXPECT_EQ(z2["tiles"].toInt(), 17);
    EXPECT_EQ(z2["extent"].toArray(), (QJsonArray{0, 3, 0, 3}));
    EXPECT_EQ(z2["formats"].toObject(), (QJsonObject{{"png", 17}}));
    EXPECT_EQ(z2["holes"].toInt(), 0);
    EXPECT_EQ(z2["min_bytes"].toInteger(), r.levels[2].minBytes);
    const QJsonObject problems = o["problems"].toObject();
    const QJsonObject expected{{"undecodable", 1},  {"format_mismatch", 0}, {"size_mismatch", 0},
                               {"outside_grid", 1}, {"duplicate_rows", 0},  {"metadata", 1},
                               {"no_index", 0},     {"integrity", 0}};
    EXPECT_EQ(problems, expected);
    EXPECT_EQ(o["duplicate_contents"].toObject()["tiles"].toInt(), 1);
    EXPECT_EQ(o["duplicate_contents"].toObject()["bytes"].toInteger(),
              static_cast<qint64>(Gradient(1).size()));
    const QJsonObject samples = o["samples"].toObject();
    const QJsonArray undecodable = samples["undecodable"].toArray();
    ASSERT_EQ(undecodable.size(), 1);
    EXPECT_EQ(undecodable[0].toArray().size(), 4);
    EXPECT_EQ(undecodable[0].toArray()[1].toInt(), 1);
    EXPECT_EQ(samples["outside_grid"].toArray(), (QJsonArray{QJsonArray{2, 4, 3}}));
    EXPECT_EQ(samples["metadata"].toArray()[0].toString(),
              "maxzoom 3, but the deepest level with tiles is 2");
}

TEST(StoreCheckOutput, PictureShowsPresentHolesAndProblems) {
    const auto r = CheckStore(
        [](StoreWriter& w) {
            w.Exec("DELETE FROM tiles WHERE zoom_level=2 AND tile_row=3 AND tile_column=0;");
            Replace(w, 2, 3, 0, Truncated(Gradient(3)));  // world 2/3/3
        },
        true, true);
    const QImage picture = corvalis::DrawCoverage(r);
    const std::vector<QRect> places = corvalis::CoverageLayout(r);
    ASSERT_EQ(places.size(), 3u);
    const int scale = corvalis::CoverageScale(r);
    EXPECT_EQ(places[2].size(), QSize(4 * scale, 4 * scale));
    const auto at = [&](int cx, int cy) {
        return QColor(picture.pixel(places[2].left() + cx * scale + scale / 2,
                                    places[2].top() + cy * scale + scale / 2));
    };
    EXPECT_EQ(at(0, 0), corvalis::kCoverageColours[corvalis::kCoverageHole]);
    EXPECT_EQ(at(1, 0), corvalis::kCoverageColours[corvalis::kCoveragePresent]);
    EXPECT_EQ(at(3, 3), corvalis::kCoverageColours[corvalis::kCoverageProblem]);
    EXPECT_EQ(QColor(picture.pixel(places[0].left() + scale / 2, places[0].top() + scale / 2)),
              corvalis::kCoverageColours[corvalis::kCoveragePresent]);
    EXPECT_EQ(QColor(picture.pixel(places[2].right() + 2, places[2].top())),
              corvalis::kCoverageBackground);
}

}  // namespace

// The labels of the picture need fonts, hence the application object.
int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
