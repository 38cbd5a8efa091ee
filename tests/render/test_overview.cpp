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

// Like BlockStore, with tiles that decode: all of them solid TileColour(1, 0, 0).
void PaintedBlockStore(const std::string& path, int z, int cols, int rows) {
    testsupport::StoreWriter writer(path, testsupport::Layout::MBTiles);
    writer.Meta("format", "png");
    const testsupport::Bytes tile = teststores::SolidPng(256, 256, teststores::TileColour(1, 0, 0));
    const std::int64_t n = std::int64_t{1} << z;
    writer.Exec("BEGIN;");
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) writer.Tile(z, x, n - 1 - y, tile);
    writer.Exec("COMMIT;");
}

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
        // First a picture of decodable tiles of the same size, so that the
        // bitmap is kept and still holds colour when the next store is drawn.
        const std::string painted = dir.file("painted" + std::to_string(cols) + ".mbtiles");
        PaintedBlockStore(painted, 5, cols, rows);
        Open(painted);
        ASSERT_TRUE(overview.Build(store, decoder)) << cols << "x" << rows;
        ASSERT_EQ(overview.Picture().pixel(5, 5), teststores::TileColour(1, 0, 0));

        const std::string path = dir.file("ok" + std::to_string(cols) + ".mbtiles");
        teststores::BlockStore(path, 5, cols, rows);
        Open(path);
        EXPECT_TRUE(overview.Build(store, decoder)) << cols << "x" << rows;
        EXPECT_TRUE(overview.Ready());
        const QImage& undecoded = overview.Picture();
        EXPECT_EQ(undecoded.size(), QSize(cols * 256, rows * 256));
        // Tiles that do not decode stay black.
        for (int y = 5; y < undecoded.height(); y += 250)
            for (int x = 5; x < undecoded.width(); x += 250)
                ASSERT_EQ(undecoded.pixel(x, y) & 0xFFFFFFu, 0u)
                    << cols << "x" << rows << " at " << x << "," << y;
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
    // Nothing to show yet, but presses still map onto the whole content.
    const OverviewSource none = ChooseOverviewSource(overview, viewport, nullptr, TileGrid{});
    EXPECT_FALSE(none.Usable());
    EXPECT_EQ(none.picture, nullptr);
    EXPECT_EQ(none.srcX, 0);
    EXPECT_EQ(none.srcY, 0);
    EXPECT_EQ(none.srcW, 17 * 256);
    EXPECT_EQ(none.srcH, 16 * 256);
    int px = 0;
    int py = 0;
    ASSERT_TRUE(OverviewPointToContent(ThumbBox{0, 0, 200, 200}, none, 100, 50, px, py));
    EXPECT_EQ(px, 17 * 128);
    EXPECT_EQ(py, 16 * 64);

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

TEST_F(OverviewTest, FrameNarrowerThanThePenStaysInsideItsRectangle) {
    // 1024 x 256 content drawn at (0, 75)-(200, 125), black (the tiles do not decode).
    teststores::BlockStore(dir.file("wide.mbtiles"), 2, 4, 1);
    struct Case {
        int viewWidth;
        int viewHeight;
    };
    // One pixel wide (5 / 1024 x 200 truncates to 0, 6 to 1), one pixel high,
    // and both; scrolled to the top-left corner, on the picture's edges.
    for (const Case c : {Case{6, 100}, Case{300, 6}, Case{6, 6}}) {
        Open(dir.file("wide.mbtiles"), c.viewWidth, c.viewHeight);
        ASSERT_TRUE(overview.Build(store, decoder));
        viewport.PanBy(1 << 20, 1 << 20);
        const OverviewSource source = ChooseOverviewSource(overview, viewport, nullptr, TileGrid{});
        ThumbBox frame;
        ASSERT_TRUE(VisibleFrame(ThumbBox{0, 75, 200, 125}, source, viewport, frame));
        ASSERT_EQ(frame.left, 0);
        ASSERT_EQ(frame.top, 75);
        ASSERT_TRUE(frame.Width() == 1 || frame.Height() == 1)
            << c.viewWidth << "x" << c.viewHeight;

        QImage panel(200, 200, QImage::Format_RGB32);
        panel.fill(Qt::black);
        ThumbBox box;
        {
            QPainter painter(&panel);
            ASSERT_TRUE(PaintOverview(painter, 200, 200, source, viewport, box));
        }
        const QRgb green = qRgb(0, 255, 0);
        const QRect inside(frame.left, frame.top, frame.Width(), frame.Height());
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 200; ++x) {
                const bool isGreen = panel.pixel(x, y) == green;
                // A frame one pixel across is all outline.
                ASSERT_EQ(isGreen, inside.contains(x, y))
                    << c.viewWidth << "x" << c.viewHeight << " at " << x << "," << y;
            }
    }
}

}  // namespace
