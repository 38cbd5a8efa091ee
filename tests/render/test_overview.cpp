// The overview picture, its fit on the panel, the visible-area frame and the
// mapping of presses back to the map.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "../gui/tilestores.h"
#include "overview.h"
#include "tiledecoder.h"
#include "tilesource.h"

using namespace corvalis;

namespace {

class OverviewTest : public ::testing::Test {
protected:
    void Open(const std::string& path, int viewWidth = 800, int viewHeight = 600) {
        std::string error;
        ASSERT_TRUE(store.Open(path, error)) << error;
        viewport.SetViewSize(viewWidth, viewHeight);
        viewport.AttachStore(&store);
    }

    testsupport::TempDir dir;
    TileDatabase store;
    TileDecoder decoder;
    MapViewport viewport;
    Overview overview;
};

TEST_F(OverviewTest, LowestLevelIsDrawnWholeWithinTheLimits) {
    teststores::WorldStore(dir.file("w.mbtiles"), 1, 2);
    Open(dir.file("w.mbtiles"));
    ASSERT_TRUE(overview.Build(store, decoder));
    const QImage& picture = overview.Picture();
    ASSERT_EQ(picture.size(), QSize(512, 512));
    EXPECT_EQ(picture.pixel(10, 10), teststores::TileColour(1, 0, 0));
    EXPECT_EQ(picture.pixel(300, 300), teststores::TileColour(1, 1, 1));

    const std::pair<int, int> accepted[] = {{16, 16}, {4, 1}};
    for (auto [cols, rows] : accepted) {
        const std::string path = dir.file("ok" + std::to_string(cols) + ".mbtiles");
        teststores::BlockStore(path, 5, cols, rows);
        Open(path);
        EXPECT_TRUE(overview.Build(store, decoder)) << cols << "x" << rows;
        EXPECT_TRUE(overview.Ready());
        EXPECT_EQ(overview.Picture().size(), QSize(cols * 256, rows * 256));
        // Tiles that do not decode stay black.
        EXPECT_EQ(overview.Picture().pixel(5, 5) & 0xFFFFFFu, 0u);
    }
    // 255 tiles but 4352 pixels wide; 272 tiles.
    const std::pair<int, int> refused[] = {{17, 15}, {17, 16}};
    for (auto [cols, rows] : refused) {
        const std::string path = dir.file("big" + std::to_string(rows) + ".mbtiles");
        teststores::BlockStore(path, 5, cols, rows);
        Open(path);
        EXPECT_FALSE(overview.Build(store, decoder)) << cols << "x" << rows;
        EXPECT_FALSE(overview.Ready());
    }
}

TEST(OverviewFit, KeepsTheAspectRatioAndCentres) {
    EXPECT_EQ(FitOverview(200, 200, 1024, 256), (ThumbBox{0, 75, 200, 125}));
    EXPECT_EQ(FitOverview(200, 200, 256, 256), (ThumbBox{0, 0, 200, 200}));
    EXPECT_EQ(FitOverview(200, 200, 256, 1024), (ThumbBox{75, 0, 125, 200}));
    EXPECT_EQ(FitOverview(200, 200, 0, 10), ThumbBox{});
}

TEST_F(OverviewTest, FrameFollowsTheViewAndIsClampedToThePicture) {
    teststores::WorldStore(dir.file("w.mbtiles"), 0, 3);
    Open(dir.file("w.mbtiles"));
    ASSERT_TRUE(overview.Build(store, decoder));
    const ThumbBox box{0, 0, 200, 200};
    ThumbBox frame;

    // Zoom 0 letterboxed: the view starts at content -272 and covers everything.
    const OverviewSource whole = ChooseOverviewSource(overview, viewport, nullptr, TileGrid{});
    ASSERT_TRUE(whole.Usable());
    EXPECT_EQ(whole.picture, &overview.Picture());
    ASSERT_TRUE(VisibleFrame(box, whole, viewport, frame));
    EXPECT_EQ(frame, box);

    ASSERT_TRUE(viewport.SetZoom(3, false));  // scroll (624, 724) on 2048 x 2048
    const OverviewSource z3 = ChooseOverviewSource(overview, viewport, nullptr, TileGrid{});
    EXPECT_EQ(z3.srcW, 2048);
    ASSERT_TRUE(VisibleFrame(box, z3, viewport, frame));
    EXPECT_EQ(frame, (ThumbBox{60, 70, 138, 128}));
}

TEST_F(OverviewTest, WithoutAPictureTheLastBlockStandsIn) {
    teststores::BlockStore(dir.file("big.mbtiles"), 5, 17, 16);
    Open(dir.file("big.mbtiles"));
    ASSERT_FALSE(overview.Build(store, decoder));
    EXPECT_FALSE(ChooseOverviewSource(overview, viewport, nullptr, TileGrid{}).Usable());

    QImage block(768, 512, QImage::Format_RGB888);
    TileGrid grid;
    grid.zoom = 5;
    grid.minX = 2;
    grid.maxX = 4;
    grid.minY = 1;
    grid.maxY = 2;
    grid.originX = 512;
    grid.originY = 256;
    grid.pixelWidth = 768;
    grid.pixelHeight = 512;
    const OverviewSource source = ChooseOverviewSource(overview, viewport, &block, grid);
    ASSERT_TRUE(source.Usable());
    EXPECT_EQ(source.picture, &block);
    int cx = 0;
    int cy = 0;
    const ThumbBox box = FitOverview(200, 200, 768, 512);
    ASSERT_EQ(box, (ThumbBox{0, 33, 200, 166}));
    ASSERT_TRUE(OverviewPointToContent(box, source, 100, 33, cx, cy));
    EXPECT_EQ(cx, 512 + 384);
    EXPECT_EQ(cy, 256);
}

TEST(OverviewPoint, MapsInProportionAndClampsToTheEdges) {
    QImage picture(1024, 256, QImage::Format_RGB888);
    const OverviewSource source{&picture, 0, 0, 4096, 1024};
    const ThumbBox box{0, 75, 200, 125};
    int cx = -1;
    int cy = -1;
    ASSERT_TRUE(OverviewPointToContent(box, source, 100, 100, cx, cy));
    EXPECT_EQ(cx, 2048);
    EXPECT_EQ(cy, 512);
    ASSERT_TRUE(OverviewPointToContent(box, source, 50, 10, cx, cy));  // above the picture
    EXPECT_EQ(cx, 1024);
    EXPECT_EQ(cy, 0);
    ASSERT_TRUE(OverviewPointToContent(box, source, 250, 190, cx, cy));
    EXPECT_EQ(cx, 4096);
    EXPECT_EQ(cy, 1024);
    EXPECT_FALSE(OverviewPointToContent(ThumbBox{5, 5, 5, 50}, source, 5, 5, cx, cy));
}

TEST_F(OverviewTest, PaintDrawsThePictureAndAGreenFrame) {
    teststores::WorldStore(dir.file("w.mbtiles"), 0, 3);
    Open(dir.file("w.mbtiles"));
    ASSERT_TRUE(overview.Build(store, decoder));
    ASSERT_TRUE(viewport.SetZoom(3, false));
    QImage panel(200, 200, QImage::Format_RGB32);
    panel.fill(Qt::black);
    ThumbBox box;
    {
        QPainter painter(&panel);
        ASSERT_TRUE(PaintOverview(painter, 200, 200,
                                  ChooseOverviewSource(overview, viewport, nullptr, TileGrid{}),
                                  viewport, box));
    }
    EXPECT_EQ(box, (ThumbBox{0, 0, 200, 200}));
    const QRgb green = qRgb(0, 255, 0);
    EXPECT_EQ(panel.pixel(60, 100), green);   // left edge of (60, 70, 138, 128)
    EXPECT_EQ(panel.pixel(137, 100), green);  // right edge
    EXPECT_EQ(panel.pixel(100, 70), green);
    EXPECT_EQ(panel.pixel(100, 127), green);
    EXPECT_EQ(panel.pixel(100, 100), teststores::TileColour(0, 0, 0));  // not filled
}

}  // namespace
