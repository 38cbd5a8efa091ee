// Tiles built to hurt, drawn by the renderer from a real store: pictures that
// announce 8191 or more pixels a side, a 64 MB blob, truncated pictures. Each
// becomes a missing tile quickly, and no more memory than the tile and the
// frame is taken.
#include <gtest/gtest.h>

#include <QImage>

#include <cstdio>
#include <string>
#include <vector>

#include "../gui/tilestores.h"
#include "logging.h"
#include "maprenderer.h"
#include "peakmemory.h"
#include "tiledecoder.h"
#include "tilesource.h"
#include "watchdog.h"

using namespace corvalis;
using testsupport::Bytes;

namespace {

Bytes JpegHeader(std::uint16_t w, std::uint16_t h) {
    return {0xFF,
            0xD8,
            0xFF,
            0xE0,
            0x00,
            0x04,
            0x00,
            0x00,
            0xFF,
            0xC0,
            0x00,
            0x11,
            0x08,
            static_cast<std::uint8_t>(h >> 8),
            static_cast<std::uint8_t>(h),
            static_cast<std::uint8_t>(w >> 8),
            static_cast<std::uint8_t>(w),
            0x03,
            0x01,
            0x22,
            0x00,
            0x02,
            0x11,
            0x01,
            0x03,
            0x11,
            0x01,
            0xFF,
            0xDA,
            0x00,
            0x08,
            0x01,
            0x01,
            0x00,
            0x00,
            0x3F,
            0x00,
            0x12,
            0x34};
}

Bytes Cut(Bytes b, std::size_t keep) {
    b.resize(keep);
    return b;
}

TEST(HostileTiles, EachBecomesAMissingTileWithinTheMemoryOfTileAndFrame) {
    testsupport::TempDir dir;
    const Bytes good = teststores::SolidPng(256, 256, qRgb(10, 200, 30));
    QImage photo(256, 256, QImage::Format_RGB888);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) photo.setPixel(x, y, qRgb(x, y, (x * y) & 255));
    const Bytes jpeg = teststores::EncodePicture(photo, "JPEG");
    Bytes huge = testsupport::PngHeader(256, 256);
    huge.resize(64 << 20, 0x41);
    Bytes hugeJpeg = JpegHeader(256, 256);
    hugeJpeg.resize(64 << 20, 0x41);
    const std::vector<Bytes> hostile = {
        testsupport::PngHeader(8191, 8191),
        JpegHeader(8191, 8191),
        testsupport::PngHeader(8193, 8193),
        JpegHeader(9000, 9000),
        huge,
        hugeJpeg,
        Bytes(64 << 20, 0x41),
        Cut(good, good.size() / 2),
        Cut(jpeg, jpeg.size() / 2),
        Cut(jpeg, 300),
    };
    const std::string path = dir.file("hostile.mbtiles");
    {
        // Level 2, all hostile but the corner tile, which settles 256 pixels.
        testsupport::StoreWriter w(path, testsupport::Layout::MBTiles);
        w.Exec("BEGIN;");
        for (int i = 0; i < 16; ++i) {
            const int x = i % 4, y = i / 4;
            w.Tile(2, x, 3 - y,
                   i == 0 ? good : hostile[static_cast<std::size_t>(i - 1) % hostile.size()]);
        }
        w.Exec("COMMIT;");
    }
    std::remove(LogFilePath().c_str());
    TileDatabase store;
    std::string error;
    ASSERT_TRUE(store.Open(path, error)) << error;
    ASSERT_EQ(store.tileWidth(), 256);
    MapViewport viewport;
    viewport.SetViewSize(1024, 1024);
    viewport.AttachStore(&store);
    TileDecoder decoder;
    MapRenderer renderer;
    renderer.SetMissingTile(FallbackMissingTile());

    const bool measured = testsupport::ResetPeakMemory();
    const std::int64_t before = testsupport::ResidentMemoryKb();
    {
        testsupport::Watchdog watchdog("drawing hostile tiles");
        ASSERT_EQ(renderer.Render(store, decoder, viewport, true), RenderOutcome::Composed);
    }
    EXPECT_EQ(renderer.LoadedCount(), 1);
    EXPECT_EQ(renderer.MissingCount(), 15);
    // A 64 MB tile is held by SQLite (its copy, and its 32000 KiB page cache
    // filled with the tile's pages), once in the tile buffer and once by the
    // generic reader that turns it down; nothing grows beyond that.
    if (measured) {
        EXPECT_LT(testsupport::PeakMemoryKb() - before, 4 * 64 * 1024 + 32 * 1024);
    }
    const QImage* frame = renderer.LastFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->pixel(5, 5) & 0xFFFFFFu, qRgb(10, 200, 30) & 0xFFFFFFu);
    EXPECT_EQ(frame->pixel(256 + 5, 40) & 0xFFFFFFu, qRgb(48, 48, 48) & 0xFFFFFFu);
    std::remove(LogFilePath().c_str());
}

}  // namespace
