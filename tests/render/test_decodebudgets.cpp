// Tiles that cost a decoder far more than their bytes: each ends in time and
// within memory (measured in a child process), the decoder lets go of an
// oversized tile's scratch, and pictures much larger than their cell are
// decoded at a reduced scale yet drawn like the full picture shrunk.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <QBuffer>
#include <QImage>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "boundedchild.h"
#include "hostilepictures.h"
#include "peakmemory.h"
#include "tiledecoder.h"

namespace {

using corvalis::TileDecoder;
using testsupport::Bytes;
using testsupport::JpegCoding;
using testsupport::ProgressiveJpeg;

constexpr int kDrawnGrey = 0, kRefusedForScans = 1;

bool Draw(TileDecoder& decoder, QImage& frame, const QRect& cell, const Bytes& tile) {
    return decoder.DrawTile(&frame, cell.x(), cell.y(), cell.width(), cell.height(), tile.data(),
                            static_cast<std::int64_t>(tile.size()));
}

// How a fresh decoder handles tile in a 256-pixel cell: one of the outcomes above, or 2.
int DrawOutcome(const Bytes& tile) {
    QImage frame(300, 300, QImage::Format_RGB888);
    frame.fill(Qt::black);
    TileDecoder decoder;
    if (Draw(decoder, frame, QRect(10, 10, 256, 256), tile))
        return frame.pixel(200, 200) == qRgb(128, 128, 128) ? kDrawnGrey : 2;
    return decoder.LastError().find("scans") != std::string::npos ? kRefusedForScans : 2;
}

TEST(DecodeBudgets, ProgressiveJpegBombsEndInTimeAndMemory) {
    struct Case {
        const char* name;
        Bytes tile;
        int outcome;
        std::int64_t peakMb;
    };
    // The two-scan streams are valid versions of the bombs within the budget;
    // decoded at 1/8, they need their 128 MB of coefficients but not 192 MB of pixels.
    const Case cases[] = {
        {"huffman 8192 px, 301 scans", ProgressiveJpeg(8192, 300, JpegCoding::Huffman),
         kRefusedForScans, 500},
        {"arithmetic 8192 px, 301 scans", ProgressiveJpeg(8192, 300, JpegCoding::Arithmetic),
         kRefusedForScans, 500},
        {"huffman 8192 px, 2 scans", ProgressiveJpeg(8192, 1, JpegCoding::Huffman), kDrawnGrey,
         256},
        {"arithmetic 8192 px, 2 scans", ProgressiveJpeg(8192, 1, JpegCoding::Arithmetic),
         kDrawnGrey, 256},
        {"huffman 512 px, 301 scans", ProgressiveJpeg(512, 300, JpegCoding::Huffman), kDrawnGrey,
         500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const testsupport::ChildResult run =
            testsupport::RunBounded([&c] { return DrawOutcome(c.tile); });
        EXPECT_TRUE(run.Exited(c.outcome))
            << "exit " << run.exitCode << ", signal " << run.signal << ", " << run.seconds << " s";
        EXPECT_LT(run.peakRssKb, testsupport::RssLimitKb(c.peakMb));
    }
}

TEST(DecodeBudgets, AnOversizedTransparentTileLeavesNoScratchBehind) {
    const Bytes png = testsupport::TransparentPng(8191);
    ASSERT_FALSE(png.empty());
    // The picture alone takes 470 MB while it is decoded (RGBA, then RGB).
    testsupport::ChildLimits limits;
    limits.wall = std::chrono::seconds(30);
    limits.addressSpaceBytes = std::uint64_t{1500} << 20;
    const testsupport::ChildResult run = testsupport::RunBounded(
        [&png] {
            QImage frame(300, 300, QImage::Format_RGB888);
            frame.fill(Qt::black);
            TileDecoder decoder;
            const std::int64_t before = testsupport::ResidentMemoryKb();
            if (!Draw(decoder, frame, QRect(10, 10, 256, 256), png)) return 1;
            if (frame.pixel(100, 100) != qRgb(255, 255, 255)) return 2;
            // (Sanitizer builds hold freed memory in quarantine.)
            const bool released = testsupport::ResidentMemoryKb() - before < 32 * 1024;
            return released || testsupport::kSanitized ? 0 : 3;
        },
        limits);
    EXPECT_TRUE(run.Exited(0)) << "exit " << run.exitCode << ", signal " << run.signal;
}

// A smooth picture with detail at every scale but no noise, so that a reduced
// decode and a shrunk full decode must agree closely.
QImage Landscape(int side) {
    QImage image(side, side, QImage::Format_RGB888);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const int u = x * 256 / side, v = y * 256 / side;
            image.setPixel(x, y, qRgb(u, v, ((u / 32 + v / 32) % 2) * 120 + 60));
        }
    return image;
}

Bytes Encoded(const QImage& image, const char* format) {
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, 95);
    return Bytes(out.begin(), out.end());
}

TEST(DecodeBudgets, PicturesMuchLargerThanTheCellAreDrawnLikeTheShrunkPicture) {
    struct Case {
        const char* format;
        int side;
        QRect cell;
    };
    const Case cases[] = {
        {"JPEG", 512, QRect(40, 30, 256, 256)},     // 1/2, decoded straight into the frame
        {"JPEG", 2048, QRect(40, 30, 256, 256)},    // 1/8
        {"JPEG", 2048, QRect(40, 30, 300, 200)},    // 1/4 (covers 300), then stretched
        {"JPEG", 1024, QRect(-60, 200, 256, 256)},  // 1/4, clipped by the frame
        {"BMP", 1024, QRect(40, 30, 256, 256)},     // Qt's reader scales
    };
    TileDecoder decoder;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.side));
        const Bytes tile = Encoded(Landscape(c.side), c.format);
        const QImage expected =
            QImage::fromData(tile.data(), static_cast<int>(tile.size()))
                .convertToFormat(QImage::Format_RGB888)
                .scaled(c.cell.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QImage frame(400, 320, QImage::Format_RGB888);
        frame.fill(Qt::magenta);
        ASSERT_TRUE(Draw(decoder, frame, c.cell, tile)) << decoder.LastError();
        int most = 0;
        double sum = 0;
        int samples = 0;
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x) {
                const QRgb got = frame.pixel(x, y);
                if (!c.cell.contains(x, y)) {
                    ASSERT_EQ(got, QColor(Qt::magenta).rgb()) << x << "," << y;
                    continue;
                }
                const QRgb want = expected.pixel(x - c.cell.x(), y - c.cell.y());
                for (int shift : {0, 8, 16}) {
                    const int e =
                        std::abs(int((got >> shift) & 0xFF) - int((want >> shift) & 0xFF));
                    most = std::max(most, e);
                    sum += e;
                    ++samples;
                }
            }
        EXPECT_LE(sum / samples, 2.0);
        EXPECT_LE(most, 64);  // at the sharp edges of the checks only
    }
}

}  // namespace
