// Composition and reuse between frames on real stores with real PNG tiles,
// the placeholder and the aligned frames.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "../gui/tilestores.h"
#include "logtail.h"
#include "maprenderer.h"
#include "textutil.h"
#include "tiledecoder.h"
#include "tilesource.h"

using namespace corvalis;
using teststores::TileColour;
using testsupport::GridLines;
using testsupport::LogMessages;

namespace {

QRgb Pixel(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xFFFFFFu;
}
QRgb Rgb(QRgb c) {
    return c & 0xFFFFFFu;
}

class RendererTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::ClearLog(); }
    void TearDown() override { testsupport::ClearLog(); }

    void Open(const std::string& path, int viewWidth, int viewHeight) {
        std::string error;
        ASSERT_TRUE(store.Open(path, error)) << error;
        viewport.SetViewSize(viewWidth, viewHeight);
        viewport.AttachStore(&store);
    }

    // Every cell of the last frame shows its own tile (or the placeholder).
    void ExpectFrameShowsTiles(int salt = 0) {
        const TileGrid& grid = renderer.LastGrid();
        const QImage* frame = renderer.LastFrame();
        ASSERT_NE(frame, nullptr);
        for (int y = grid.minY; y <= grid.maxY; ++y)
            for (int x = grid.minX; x <= grid.maxX; ++x) {
                int px = 0;
                int py = 0;
                ASSERT_TRUE(grid.CellOffset(x, y, px, py));
                EXPECT_EQ(Pixel(*frame, px + 7, py + 9), Rgb(TileColour(grid.zoom, x, y, salt)))
                    << "cell " << x << "," << y;
            }
    }

    testsupport::TempDir dir;
    TileDatabase store;
    TileDecoder decoder;
    MapViewport viewport;
    MapRenderer renderer;
};

TEST_F(RendererTest, ForcedRenderOfAnUnchangedViewCopiesEveryCell) {
    teststores::WorldStore(dir.file("w.mbtiles"), 0, 3);
    Open(dir.file("w.mbtiles"), 800, 600);
    ASSERT_TRUE(viewport.SetZoom(3, false));

    renderer.Render(store, decoder, viewport, true);
    const TileGrid first = renderer.LastGrid();
    const int cells = (first.maxX - first.minX + 1) * (first.maxY - first.minY + 1);
    EXPECT_EQ(renderer.LoadedCount(), cells);
    const QImage before = renderer.ViewImage().copy();

    ASSERT_EQ(renderer.Render(store, decoder, viewport, true), RenderOutcome::Composed);
    EXPECT_EQ(renderer.LastGrid(), first);
    EXPECT_EQ(renderer.LoadedCount(), 0);
    EXPECT_EQ(renderer.MissingCount(), 0);
    EXPECT_EQ(renderer.ReusedCount(), cells);
    EXPECT_EQ(renderer.ViewImage(), before);
    EXPECT_EQ(GridLines(), 2);
    EXPECT_EQ(LogMessages().back(),
              Format("grid z=3 cols=%d rows=%d loaded=0 reused=%d missing=0",
                     first.maxX - first.minX + 1, first.maxY - first.minY + 1, cells));
    ExpectFrameShowsTiles();
}

TEST_F(RendererTest, PanInsideTheBlockOnlyShiftsTheView) {
    teststores::WorldStore(dir.file("w.mbtiles"), 0, 3);
    Open(dir.file("w.mbtiles"), 800, 600);
    ASSERT_TRUE(viewport.SetZoom(3, false));
    renderer.Render(store, decoder, viewport, true);
    const QImage before = renderer.ViewImage().copy();
    const int loaded = renderer.LoadedCount();

    viewport.PanBy(-100, -50);  // the content moves up and left
    ASSERT_EQ(renderer.Render(store, decoder, viewport, false), RenderOutcome::Presented);

    EXPECT_EQ(renderer.LoadedCount(), loaded);
    EXPECT_EQ(renderer.ReusedCount(), 0);
    EXPECT_EQ(GridLines(), 1);
    const QImage& after = renderer.ViewImage();
    for (int y = 0; y < 550; y += 37)
        for (int x = 0; x < 700; x += 41)
            ASSERT_EQ(Pixel(after, x, y), Pixel(before, x + 100, y + 50)) << x << "," << y;
}

TEST_F(RendererTest, ShiftedBlockReusesSharedCellsAndReadsTheRest) {
    teststores::WorldStore(dir.file("w.mbtiles"), 0, 4);
    Open(dir.file("w.mbtiles"), 300, 200);
    ASSERT_TRUE(viewport.SetZoom(4, false));  // 4096 x 4096 content
    renderer.Render(store, decoder, viewport, false);
    const TileGrid first = renderer.LastGrid();

    viewport.PanBy(-600, -300);
    ASSERT_EQ(renderer.Render(store, decoder, viewport, false), RenderOutcome::Composed);
    const TileGrid second = renderer.LastGrid();
    const int cells = (second.maxX - second.minX + 1) * (second.maxY - second.minY + 1);
    const int sharedX = first.maxX - second.minX + 1;
    const int sharedY = first.maxY - second.minY + 1;
    ASSERT_GT(sharedX, 0);
    ASSERT_GT(sharedY, 0);
    EXPECT_EQ(renderer.ReusedCount(), sharedX * sharedY);
    EXPECT_EQ(renderer.LoadedCount(), cells - sharedX * sharedY);
    EXPECT_EQ(renderer.MissingCount(), 0);
    EXPECT_EQ(GridLines(), 0);  // not forced: nothing logged
    ExpectFrameShowsTiles();
}

TEST_F(RendererTest, ZoomChangeReusesNothing) {
    teststores::WorldStore(dir.file("w.mbtiles"), 0, 3);
    Open(dir.file("w.mbtiles"), 800, 600);
    ASSERT_TRUE(viewport.SetZoom(2, false));
    renderer.Render(store, decoder, viewport, true);
    ASSERT_TRUE(viewport.ZoomIn());
    renderer.Render(store, decoder, viewport, true);
    EXPECT_EQ(renderer.ReusedCount(), 0);
    EXPECT_EQ(renderer.LoadedCount(), 64);
    ExpectFrameShowsTiles();
    EXPECT_EQ(LogMessages().back(), "grid z=3 cols=8 rows=8 loaded=64 reused=0 missing=0");
}

TEST(MissingTile, IsStretchedIntoLargerCellsOrFilledGreyWithoutAPicture) {
    MapRenderer renderer;
    QImage target(600, 600, QImage::Format_RGB888);
    target.fill(Qt::black);
    renderer.DrawMissingTile(target, 10, 20, 512, 512);  // no picture yet
    EXPECT_EQ(Pixel(target, 10, 20), qRgb(128, 128, 128) & 0xFFFFFFu);
    EXPECT_EQ(Pixel(target, 521, 531), qRgb(128, 128, 128) & 0xFFFFFFu);
    EXPECT_EQ(Pixel(target, 522, 532), 0u);

    renderer.SetMissingTile(FallbackMissingTile());
    target.fill(Qt::black);
    renderer.DrawMissingTile(target, 10, 20, 512, 512);
    EXPECT_EQ(Pixel(target, 10 + 400, 20 + 100), qRgb(48, 48, 48) & 0xFFFFFFu);
    EXPECT_EQ(Pixel(target, 10 + 256, 20 + 256), qRgb(96, 96, 96) & 0xFFFFFFu);
    EXPECT_EQ(Pixel(target, 522, 300), 0u);
}

TEST(MissingTile, FallbackIsDarkGreyWithTwoDiagonals) {
    const QImage fallback = LoadMissingTile(":/no/such/picture.bmp");
    ASSERT_EQ(fallback.size(), QSize(256, 256));
    EXPECT_EQ(fallback.format(), QImage::Format_RGB888);
    EXPECT_EQ(Pixel(fallback, 200, 30), qRgb(48, 48, 48) & 0xFFFFFFu);
    const QRgb line = qRgb(96, 96, 96) & 0xFFFFFFu;
    for (int i : {1, 64, 128, 200, 254}) {
        EXPECT_EQ(Pixel(fallback, i, i), line) << i;
        // The other diagonal runs from the top-right corner to the bottom-left one.
        bool onLine = false;
        for (int x = std::max(0, 254 - i); x <= std::min(255, 256 - i); ++x)
            onLine = onLine || Pixel(fallback, x, i) == line;
        EXPECT_TRUE(onLine) << i;
    }
}

TEST_F(RendererTest, NothingIsDrawnForAnEmptyGrid) {
    MapViewport detached;
    detached.SetViewSize(100, 100);
    EXPECT_EQ(renderer.Render(store, decoder, detached, true), RenderOutcome::EmptyGrid);
    EXPECT_TRUE(renderer.ViewImage().isNull());
    EXPECT_EQ(renderer.LastFrame(), nullptr);
    EXPECT_EQ(GridLines(), 0);
}

TEST_F(RendererTest, BlockWithoutMemoryForItsFrameComposesAndLogsNothing) {
    // Two tiles at the ends of a level-22 row: the extent is 2^22 tiles (2^30
    // pixels) across, more than a frame can ever hold.
    const std::string path = dir.file("wide.mbtiles");
    {
        testsupport::StoreWriter writer(path, testsupport::Layout::MBTiles);
        writer.Meta("format", "png");
        const std::int64_t n = std::int64_t{1} << 22;
        writer.Tile(22, 0, n - 1, teststores::SolidPng(256, 256, TileColour(4, 0, 0)));
        writer.Tile(22, n - 1, n - 1, teststores::SolidPng(256, 256, TileColour(4, 1, 0)));
    }
    Open(path, 800, 600);
    ASSERT_EQ(viewport.Zoom(), 22);
    renderer.Render(store, decoder, viewport, true);
    ASSERT_NE(renderer.LastFrame(), nullptr);
    ASSERT_EQ(GridLines(), 1);

    // A view so wide that the block spans the whole extent.
    viewport.SetViewSize(1 << 29, 600);
    renderer.Render(store, decoder, viewport, true);
    EXPECT_EQ(GridLines(), 1);
    EXPECT_EQ(renderer.LastFrame(), nullptr);
    EXPECT_TRUE(renderer.LastGrid().IsEmpty());

    // Back to a normal view: composed afresh, one more line.
    viewport.SetViewSize(800, 600);
    renderer.Render(store, decoder, viewport, true);
    ASSERT_NE(renderer.LastFrame(), nullptr);
    EXPECT_EQ(renderer.ReusedCount(), 0);
    ASSERT_EQ(GridLines(), 2);
    EXPECT_EQ(LogMessages().back().rfind("grid z=22 ", 0), 0u);
}

TEST_F(RendererTest, ResetFramesMakesTheNextCompositionReadEverything) {
    teststores::WorldStore(dir.file("w.mbtiles"), 0, 1);
    Open(dir.file("w.mbtiles"), 600, 600);
    ASSERT_TRUE(viewport.SetZoom(1, false));
    renderer.Render(store, decoder, viewport, true);
    renderer.ResetFrames();
    EXPECT_EQ(renderer.LastFrame(), nullptr);
    EXPECT_TRUE(renderer.LastGrid().IsEmpty());
    renderer.Render(store, decoder, viewport, false);
    EXPECT_EQ(renderer.ReusedCount(), 0);
    EXPECT_EQ(renderer.LoadedCount(), 4);
}

TEST(FrameBuffer, RowsAreAlignedAndStorageIsKeptWhileTheSizeStays) {
    FrameBuffer frame;
    ASSERT_TRUE(frame.Resize(333, 77));
    const QImage& image = frame.Image();
    EXPECT_EQ(image.format(), QImage::Format_RGB888);
    EXPECT_EQ(image.size(), QSize(333, 77));
    EXPECT_EQ(image.bytesPerLine() % kFrameRowAlignment, 0);
    EXPECT_GE(image.bytesPerLine(), 333 * 3);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(image.constBits()) % kFrameRowAlignment, 0u);
    const uchar* bits = image.constBits();
    ASSERT_TRUE(frame.Resize(333, 77));
    EXPECT_EQ(frame.Image().constBits(), bits);
    ASSERT_TRUE(frame.Resize(334, 77));
    EXPECT_EQ(frame.Image().width(), 334);
    EXPECT_EQ(frame.Image().bytesPerLine() % kFrameRowAlignment, 0);
}

TEST(FrameBuffer, CopiesAreClippedToBothPictures) {
    QImage src(10, 10, QImage::Format_RGB888);
    src.fill(qRgb(1, 2, 3));
    QImage dst(10, 10, QImage::Format_RGB888);
    dst.fill(Qt::black);
    // Source (-5, -5) lands on (2, 3): source (0, 0) on (7, 8), cut at the far edges.
    CopyPixels(src, -5, -5, 20, 20, dst, 2, 3);
    EXPECT_EQ(Pixel(dst, 6, 8), 0u);
    EXPECT_EQ(Pixel(dst, 7, 7), 0u);
    EXPECT_EQ(Pixel(dst, 7, 8), qRgb(1, 2, 3) & 0xFFFFFFu);
    EXPECT_EQ(Pixel(dst, 9, 9), qRgb(1, 2, 3) & 0xFFFFFFu);
    FillPixels(dst, 8, 8, 100, 100, qRgb(9, 8, 7));
    EXPECT_EQ(Pixel(dst, 9, 9), qRgb(9, 8, 7) & 0xFFFFFFu);
    EXPECT_EQ(Pixel(dst, 7, 9), qRgb(1, 2, 3) & 0xFFFFFFu);
}

}  // namespace
