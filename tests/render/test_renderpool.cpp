// Decoding on worker threads: the frames, views, tallies and grid lines are
// those of decoding one tile after the other, on a store that mixes photo-like
// JPEG and PNG tiles, pictures of another size, broken and absent tiles.
#include <gtest/gtest.h>

#include <QImage>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "../gui/tilestores.h"
#include "maprenderer.h"
#include "maprenderer_pool.h"
#include "tiledecoder.h"
#include "tilesource.h"

using namespace corvalis;

namespace {

// Noisy gradients that differ from tile to tile, like a photo.
QImage PhotoLike(int z, int x, int y, int size) {
    QImage image(size, size, QImage::Format_RGB888);
    std::uint32_t seed = static_cast<std::uint32_t>(z * 7919 + x * 104729 + y * 1299709 + 1);
    for (int row = 0; row < size; ++row) {
        uchar* p = image.scanLine(row);
        for (int col = 0; col < size; ++col, p += 3) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>(seed >> 28);
            p[0] = static_cast<uchar>((col + x * 40 + noise) & 0xFF);
            p[1] = static_cast<uchar>((row + y * 40 + noise) & 0xFF);
            p[2] = static_cast<uchar>((col + row + z * 50) / 2 & 0xFF);
        }
    }
    return image;
}

// Levels 0..4 of the world; the kind of each tile follows its address.
void MixedStore(const std::string& path) {
    testsupport::StoreWriter store(path, testsupport::Layout::MBTiles);
    store.Meta("format", "jpg");
    store.Exec("BEGIN;");
    for (int z = 0; z <= 4; ++z) {
        const int n = 1 << z;
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                testsupport::Bytes bytes;
                // The corner tile of every level decides the store's tile size: 256.
                switch (x == 0 && y == 0 ? 0 : (x * 3 + y * 5) % 9) {
                    case 1:
                        bytes = teststores::EncodePicture(PhotoLike(z, x, y, 256), "PNG");
                        break;
                    case 2:  // stretched into its cell
                        bytes = teststores::EncodePicture(PhotoLike(z, x, y, 512), "JPG");
                        break;
                    case 3:  // decodes to nothing
                        bytes = testsupport::Blob(z, x, y);
                        break;
                    case 4:  // absent
                        continue;
                    case 5: {  // cut short: refused by the decoder
                        bytes = teststores::EncodePicture(PhotoLike(z, x, y, 256), "JPG");
                        bytes.resize(bytes.size() / 2);
                        break;
                    }
                    default:
                        bytes = teststores::EncodePicture(PhotoLike(z, x, y, 256), "JPG");
                        break;
                }
                store.Tile(z, x, n - 1 - y, bytes);
            }
    }
    store.Exec("COMMIT;");
}

// The same frame, byte for byte over every pixel of every row.
void ExpectSameFrame(const QImage* a, const QImage* b) {
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(a->size(), b->size());
    const auto rowBytes = static_cast<std::size_t>(a->width()) * 3;
    for (int y = 0; y < a->height(); ++y)
        ASSERT_EQ(std::memcmp(a->constScanLine(y), b->constScanLine(y), rowBytes), 0)
            << "row " << y;
}

// Two renderers, one decoding on this thread and one on workers, driven alike.
class PooledRenderTest : public ::testing::Test {
protected:
    // One store for the suite: writing it is the slow part.
    static void SetUpTestSuite() {
        dir = new testsupport::TempDir();
        MixedStore(dir->file("mixed.mbtiles"));
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
    }

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(store.Open(dir->file("mixed.mbtiles"), error)) << error;
        viewport.SetViewSize(700, 450);
        viewport.AttachStore(&store);
        single.SetDecodeThreads(1);
        single.SetMissingTile(FallbackMissingTile());
        pooled.SetMissingTile(FallbackMissingTile());
    }

    // Renders with both and expects the same outcome, tallies, frame and view.
    void RenderBoth(bool force) {
        const RenderOutcome a = single.Render(store, decoder, viewport, force);
        const RenderOutcome b = pooled.Render(store, decoder, viewport, force);
        ASSERT_EQ(a, b);
        ASSERT_EQ(single.LastGrid(), pooled.LastGrid());
        ASSERT_EQ(single.GridLine(), pooled.GridLine());
        ExpectSameFrame(single.LastFrame(), pooled.LastFrame());
        ASSERT_EQ(single.ViewImage(), pooled.ViewImage());
        ++renders;
        if (a == RenderOutcome::Composed) {
            loaded += pooled.LoadedCount();
            reused += pooled.ReusedCount();
            missing += pooled.MissingCount();
        }
    }

    static inline testsupport::TempDir* dir = nullptr;
    TileDatabase store;
    TileDecoder decoder;
    MapViewport viewport;
    MapRenderer single;
    MapRenderer pooled{};
    int renders = 0;
    int loaded = 0;
    int reused = 0;
    int missing = 0;
};

TEST_F(PooledRenderTest, FramesMatchDecodingOneTileAfterAnother) {
    for (int threads : {2, 3, 5}) {
        SCOPED_TRACE(threads);
        pooled.SetDecodeThreads(threads);
        ASSERT_EQ(pooled.DecodeThreads(), threads);
        single.ResetFrames();
        pooled.ResetFrames();
        ASSERT_TRUE(viewport.SetZoom(2, false));
        RenderBoth(true);
        ASSERT_TRUE(viewport.ZoomIn());
        RenderBoth(true);
        ASSERT_TRUE(viewport.ZoomIn());
        RenderBoth(true);
        // Pans far enough to shift the block: shared cells copied, the rest read.
        for (const auto& [dx, dy] : {std::pair{-900, -300},
                                     {-700, 0},
                                     {0, -800},
                                     {1200, 500},
                                     {-300, 200},
                                     {2000, 2000}}) {
            viewport.PanBy(dx, dy);
            RenderBoth(false);
            RenderBoth(true);
        }
        ASSERT_TRUE(viewport.ZoomOut());
        RenderBoth(true);
    }
    // The drive went through every kind of cell.
    EXPECT_GT(loaded, 0);
    EXPECT_GT(reused, 0);
    EXPECT_GT(missing, 0);
}

TEST_F(PooledRenderTest, ViewSizeChangesMatchToo) {
    pooled.SetDecodeThreads(2);
    ASSERT_TRUE(viewport.SetZoom(4, false));
    for (const auto& [w, h] : {std::pair{1000, 700}, {333, 777}, {1500, 300}, {64, 64}}) {
        viewport.SetViewSize(w, h);
        RenderBoth(false);
        viewport.PanBy(w / 3, -h / 2);
        RenderBoth(true);
    }
}

// The same kind of drive with every composition in the background, visible
// cells first, and waited for: frames, tallies, grid lines and views are those
// of composing in the foreground one tile after the other.
TEST_F(PooledRenderTest, BackgroundCompositionsMatchToo) {
    MapRenderer background;
    TileDecoder backgroundDecoder;
    background.SetMissingTile(FallbackMissingTile());
    background.SetBackground(true);
    auto renderBoth = [&](bool force) {
        single.Render(store, decoder, viewport, force);
        background.Render(store, backgroundDecoder, viewport, force);
        background.WaitForComposition(store, backgroundDecoder, viewport);
        ASSERT_EQ(single.LastGrid(), background.LastGrid());
        ASSERT_EQ(single.GridLine(), background.GridLine());
        ExpectSameFrame(single.LastFrame(), background.LastFrame());
        ASSERT_EQ(single.ViewImage(), background.ViewImage());
        reused += background.ReusedCount();
        missing += background.MissingCount();
    };
    ASSERT_TRUE(viewport.SetZoom(2, false));
    renderBoth(true);
    for (int step = 0; step < 2; ++step) {
        ASSERT_TRUE(viewport.ZoomIn());
        renderBoth(true);
    }
    for (const auto& [dx, dy] : {std::pair{-900, -300}, {1200, 500}, {0, -800}, {2000, 2000}}) {
        viewport.PanBy(dx, dy);
        renderBoth(false);
        renderBoth(true);
    }
    ASSERT_TRUE(viewport.ZoomOut());
    renderBoth(true);
    EXPECT_GT(reused, 0);
    EXPECT_GT(missing, 0);
}

TEST(DecodeThreads, OneDecodesOnTheCallingThreadAndTheCountIsCapped) {
    MapRenderer renderer;
    EXPECT_EQ(renderer.DecodeThreads(), DefaultDecodeThreads());
    EXPECT_GE(DefaultDecodeThreads(), 1);
    renderer.SetDecodeThreads(1);
    EXPECT_EQ(renderer.DecodeThreads(), 1);
    renderer.SetDecodeThreads(0);
    EXPECT_EQ(renderer.DecodeThreads(), 1);
    renderer.SetDecodeThreads(4);
    EXPECT_EQ(renderer.DecodeThreads(), 4);
    renderer.SetDecodeThreads(1000);
    EXPECT_EQ(renderer.DecodeThreads(), 16);
}

// Far more tiles than slots: every one is drawn into its own cell, and bytes
// that no decoder reads leave their cell untouched and not loaded.
TEST(DecodePool, DrawsEveryQueuedTileIntoItsCell) {
    constexpr int kSide = 16;
    constexpr int kCols = 12;
    constexpr int kRows = 9;
    QImage frame(kSide * kCols, kSide * kRows, QImage::Format_RGB888);
    frame.fill(Qt::black);
    std::vector<testsupport::Bytes> tiles;
    for (int i = 0; i < kCols * kRows; ++i)
        tiles.push_back(i % 10 == 7 ? testsupport::Blob(0, i, i)
                                    : teststores::SolidPng(kSide, kSide, qRgb(i, 255 - i, 9)));
    corvalis::CellStates states;
    ASSERT_TRUE(states.Reset(tiles.size()));
    DecodePool pool(3);
    pool.Begin(frame, states);
    for (int i = 0; i < kCols * kRows; ++i) {
        pool.Acquire() = tiles[static_cast<std::size_t>(i)];
        pool.Draw(static_cast<std::size_t>(i),
                  QRect((i % kCols) * kSide, (i / kCols) * kSide, kSide, kSide));
    }
    pool.Acquire();
    pool.Release();  // a buffer given back is not drawn
    pool.Finish();
    for (int i = 0; i < kCols * kRows; ++i) {
        const bool broken = i % 10 == 7;
        EXPECT_EQ(states.Get(static_cast<std::size_t>(i)) == corvalis::kCellLoaded, !broken) << i;
        const QRgb expected = broken ? qRgb(0, 0, 0) : qRgb(i, 255 - i, 9);
        for (const auto& [dx, dy] : {std::pair{0, 0}, {kSide - 1, kSide - 1}, {3, 11}})
            EXPECT_EQ(frame.pixel((i % kCols) * kSide + dx, (i / kCols) * kSide + dy), expected)
                << i;
    }
}

// Vector tiles of the generator's store, a layer hidden and drawn for a
// device pixel ratio of 2: the pooled and background frames are those of
// one thread, and each renderer keeps a decoded tile for every cell it drew.
TEST(VectorRender, PooledAndBackgroundFramesMatchOneThread) {
    TileDatabase store;
    std::string error;
    ASSERT_TRUE(store.Open(std::string(CORVALIS_FIXTURE_DIR) + "/vector.mbtiles", error)) << error;
    ASSERT_TRUE(store.vectorTiles());
    MapViewport viewport;
    viewport.SetViewSize(900, 700);
    viewport.AttachStore(&store);
    VectorStyle style;
    style.hiddenLayers.insert("graticule");
    MapRenderer renderers[3];
    TileDecoder decoders[3];
    renderers[0].SetDecodeThreads(1);
    renderers[1].SetDecodeThreads(3);
    renderers[2].SetDecodeThreads(2);
    renderers[2].SetBackground(true);
    for (MapRenderer& r : renderers) {
        r.SetDevicePixelRatio(2.0);
        r.SetVectorStyle(style, true);
    }
    auto renderAll = [&](bool force) {
        for (int i = 0; i < 3; ++i) {
            renderers[i].Render(store, decoders[i], viewport, force);
            renderers[i].WaitForComposition(store, decoders[i], viewport);
        }
        for (int i = 1; i < 3; ++i) {
            ASSERT_EQ(renderers[0].LastGrid(), renderers[i].LastGrid());
            ExpectSameFrame(renderers[0].LastFrame(), renderers[i].LastFrame());
            EXPECT_EQ(renderers[i].KeptVectorTiles().Count(),
                      renderers[0].KeptVectorTiles().Count());
        }
        const TileGrid& grid = renderers[0].LastGrid();
        EXPECT_EQ(renderers[0].KeptVectorTiles().Count(), CellCount(grid));
        EXPECT_EQ(renderers[0].MissingCount(), 0);
    };
    for (int z : {1, 2}) {
        ASSERT_TRUE(viewport.SetZoom(z, false));
        renderAll(true);
        viewport.PanBy(300, 200);
        renderAll(false);
    }
}

}  // namespace
