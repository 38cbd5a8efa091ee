// TileDecoder on real tiles encoded here with libspng, TurboJPEG and Qt's writers.
#include <gtest/gtest.h>
#include <spng.h>
#include <turbojpeg.h>

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tiledecoder.h"

namespace {

using corvalis::TileDecoder;
using Bytes = std::vector<std::uint8_t>;
using TjHandle = std::unique_ptr<void, int (*)(tjhandle)>;

std::uint8_t Clamp(int v) {
    return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}
std::uint8_t OverWhite(int c, int a) {
    return Clamp((c * a + 255 * (255 - a) + 127) / 255);
}

// Photo-like RGBA: gradients with per-pixel noise, so a misplaced row or column
// cannot pass. Alpha is 0 in the left quarter, 255 in the next, then varies.
Bytes Photo(int w, int h, unsigned seed = 1) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-24, 24);
    Bytes px;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px.insert(px.end(), {Clamp(x * 255 / w + noise(rng)), Clamp(y * 255 / h + noise(rng)),
                                 Clamp(128 + (x - y) / 3 + noise(rng)),
                                 x < w / 4   ? std::uint8_t{0}
                                 : x < w / 2 ? std::uint8_t{255}
                                             : Clamp((x * 5 + y * 3) % 256)});
    return px;
}

Bytes Channels(const Bytes& rgba, std::initializer_list<int> keep) {
    Bytes out;
    for (std::size_t i = 0; i < rgba.size(); i += 4)
        for (int c : keep) out.push_back(rgba[i + static_cast<std::size_t>(c)]);
    return out;
}

Bytes Encode(const QImage& image, const char* format, int quality = -1) {
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format, quality)) << format;
    return Bytes(out.begin(), out.end());
}

Bytes WritePng(spng_ihdr header, const Bytes& samples, const spng_plte* plte = nullptr,
               spng_trns* trns = nullptr) {
    std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> ctx(spng_ctx_new(SPNG_CTX_ENCODER),
                                                       spng_ctx_free);
    spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
    spng_set_ihdr(ctx.get(), &header);
    if (plte) spng_set_plte(ctx.get(), const_cast<spng_plte*>(plte));
    if (trns) spng_set_trns(ctx.get(), trns);
    EXPECT_EQ(spng_encode_image(ctx.get(), samples.data(), samples.size(), SPNG_FMT_PNG,
                                SPNG_ENCODE_FINALIZE),
              0);
    std::size_t size = 0;
    int error = 0;
    std::unique_ptr<std::uint8_t, void (*)(void*)> png(
        static_cast<std::uint8_t*>(spng_get_png_buffer(ctx.get(), &size, &error)), std::free);
    return png ? Bytes(png.get(), png.get() + size) : Bytes();
}

Bytes RgbPng(int w, int h, bool interlace = false) {
    const spng_ihdr header{static_cast<std::uint32_t>(w),
                           static_cast<std::uint32_t>(h),
                           8,
                           SPNG_COLOR_TYPE_TRUECOLOR,
                           0,
                           0,
                           interlace};
    return WritePng(header, Channels(Photo(w, h), {0, 1, 2}));
}

Bytes WriteJpeg(const Bytes& px, int w, int h, int format, int subsampling, int flags = 0) {
    TjHandle tj(tjInitCompress(), tjDestroy);
    unsigned char* data = nullptr;
    unsigned long size = 0;
    const int rc =
        tjCompress2(tj.get(), px.data(), w, 0, h, format, &data, &size, subsampling, 85, flags);
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> owned(data, tjFree);
    EXPECT_EQ(rc, 0) << tjGetErrorStr2(tj.get());
    return rc == 0 ? Bytes(data, data + size) : Bytes();
}

Bytes QtRgb(const Bytes& encoded) {
    const QImage image = QImage::fromData(encoded.data(), static_cast<int>(encoded.size()))
                             .convertToFormat(QImage::Format_RGB888);
    Bytes rgb;
    for (int y = 0; y < image.height(); ++y)
        rgb.insert(rgb.end(), image.constScanLine(y), image.constScanLine(y) + image.width() * 3);
    return rgb;
}

void PutBig32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

// A PNG chunk: length, type, data, CRC.
Bytes PngChunk(const char* type, const Bytes& data) {
    Bytes chunk(4);
    PutBig32(chunk.data(), static_cast<std::uint32_t>(data.size()));
    chunk.insert(chunk.end(), type, type + 4);
    chunk.insert(chunk.end(), data.begin(), data.end());
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 4; i < chunk.size(); ++i) {
        crc ^= chunk[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    chunk.resize(chunk.size() + 4);
    PutBig32(chunk.data() + chunk.size() - 4, ~crc);
    return chunk;
}

// A 24-bit frame on an outside buffer whose pitch is a multiple of 64 with spare
// bytes after each row, as the renderer builds them. Every byte starts as noise
// (or a given colour) so that a stray write anywhere shows.
struct Frame {
    Frame(int w, int h)
        : pitch(((w * 3 + 63) / 64 + 1) * 64), bytes(static_cast<std::size_t>(pitch) * h) {
        std::mt19937 rng(7);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
        original = bytes;
        image = QImage(bytes.data(), w, h, pitch, QImage::Format_RGB888);
    }
    void Fill(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) std::copy_n(std::data({r, g, b}), 3, At(x, y));
        original = bytes;
    }
    std::uint8_t* At(int x, int y) {
        return bytes.data() + static_cast<std::ptrdiff_t>(y) * pitch + x * 3;
    }
    bool Unchanged() const { return bytes == original; }
    // Bytes outside the rectangle, spare bytes included, that have changed.
    int ChangedOutside(const QRect& r) const {
        int changed = 0;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const int column = static_cast<int>(i % static_cast<std::size_t>(pitch));
            const bool inside =
                column < image.width() * 3 && r.contains(column / 3, static_cast<int>(i) / pitch);
            changed += !inside && bytes[i] != original[i];
        }
        return changed;
    }
    // Largest and mean difference between the rectangle (clipped to the frame)
    // and packed RGB rows of the rectangle's full size.
    std::pair<int, double> Compare(const QRect& r, const Bytes& rgb) {
        int most = 0;
        double sum = 0;
        const QRect visible = r & image.rect();
        for (int y = visible.top(); y <= visible.bottom(); ++y)
            for (int x = visible.left(); x <= visible.right(); ++x)
                for (int c = 0; c < 3; ++c) {
                    const int e = std::abs(
                        At(x, y)[c] -
                        rgb[((static_cast<std::size_t>(y - r.y()) * r.width() + (x - r.x())) * 3 +
                             c)]);
                    most = std::max(most, e);
                    sum += e;
                }
        return {most, sum / (visible.width() * visible.height() * 3)};
    }

    int pitch;
    Bytes bytes, original;
    QImage image;
};

bool Draw(TileDecoder& decoder, Frame& frame, const QRect& cell, const Bytes& tile) {
    return decoder.DrawTile(&frame.image, cell.x(), cell.y(), cell.width(), cell.height(),
                            tile.data(), static_cast<std::int64_t>(tile.size()));
}

TEST(TileDecoder, PngIsDecodedExactlyIntoItsCellAndNowhereElse) {
    const Bytes png = RgbPng(256, 256);
    TileDecoder decoder;
    // Inside, and flush with every edge of the frame.
    for (const QRect cell :
         {QRect(300, 200, 256, 256), QRect(0, 0, 256, 256), QRect(744, 344, 256, 256)}) {
        Frame frame(1000, 600);
        ASSERT_TRUE(Draw(decoder, frame, cell, png)) << decoder.LastError();
        EXPECT_TRUE(decoder.LastError().empty());
        EXPECT_EQ(frame.Compare(cell, Channels(Photo(256, 256), {0, 1, 2})).first, 0);
        EXPECT_EQ(frame.ChangedOutside(cell), 0);
    }
}

TEST(TileDecoder, EveryPngKindIsDrawnAsRgbOverWhiteNotOverTheOldFrame) {
    struct Kind {
        const char* name;
        std::uint8_t colorType, bitDepth, interlace;
    };
    const Kind kinds[] = {
        {"rgb interlaced", SPNG_COLOR_TYPE_TRUECOLOR, 8, 1},
        {"rgb 16-bit", SPNG_COLOR_TYPE_TRUECOLOR, 16, 0},
        {"grey", SPNG_COLOR_TYPE_GRAYSCALE, 8, 0},
        {"grey 16-bit", SPNG_COLOR_TYPE_GRAYSCALE, 16, 0},
        {"palette", SPNG_COLOR_TYPE_INDEXED, 8, 0},
        {"palette with transparency", SPNG_COLOR_TYPE_INDEXED, 8, 0},
        {"grey and alpha", SPNG_COLOR_TYPE_GRAYSCALE_ALPHA, 8, 0},
        {"rgba", SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 8, 0},
        {"rgba interlaced", SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 8, 1},
        {"rgba 16-bit", SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 16, 0},
    };
    std::mt19937 rng(5);
    spng_plte plte{256, {}};
    spng_trns trns{};
    trns.n_type3_entries = 256;
    for (int i = 0; i < 256; ++i) {
        plte.entries[i] = {static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                           static_cast<std::uint8_t>(rng()), 255};
        trns.type3_alpha[i] = static_cast<std::uint8_t>(255 - i);
    }
    const Bytes src = Photo(256, 256, 3);
    TileDecoder decoder;
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        const bool palette = kind.colorType == SPNG_COLOR_TYPE_INDEXED,
                   paletteAlpha = std::string(kind.name).find("transparency") != std::string::npos;
        const bool grey = (kind.colorType & 2) == 0 && !palette, alpha = (kind.colorType & 4) != 0;
        // The samples, and the RGB the frame must show, worked out here.
        Bytes samples, expected;
        for (std::size_t i = 0; i < src.size(); i += 4) {
            const std::uint8_t index = src[i];
            int rgb[3] = {src[i], grey ? src[i] : src[i + 1], grey ? src[i] : src[i + 2]};
            const int a = alpha ? src[i + 3] : paletteAlpha ? trns.type3_alpha[index] : 255;
            if (palette) {
                rgb[0] = plte.entries[index].red, rgb[1] = plte.entries[index].green,
                rgb[2] = plte.entries[index].blue;
                samples.push_back(index);
            }
            for (int c = 0; !palette && c < (grey ? 1 : 3) + alpha; ++c)  // 16-bit samples v * 257
                samples.insert(samples.end(), kind.bitDepth / 8,
                               static_cast<std::uint8_t>(c < (grey ? 1 : 3) ? rgb[c] : a));
            for (int c : rgb) expected.push_back(OverWhite(c, a));
        }
        const Bytes png =
            WritePng({256, 256, kind.bitDepth, kind.colorType, 0, 0, kind.interlace}, samples,
                     palette ? &plte : nullptr, paletteAlpha ? &trns : nullptr);
        Frame frame(600, 400);
        frame.Fill(20, 160, 40);
        const QRect cell(130, 70, 256, 256);
        ASSERT_TRUE(Draw(decoder, frame, cell, png)) << decoder.LastError();
        EXPECT_EQ(frame.Compare(cell, expected).first, 0);
        EXPECT_EQ(frame.ChangedOutside(cell), 0);
    }
}

TEST(TileDecoder, JpegKindsMatchAReferenceDecodeInPlace) {
    struct Kind {
        const char* name;
        int format, subsampling, flags;
        std::initializer_list<int> channels;
    };
    const Kind kinds[] = {
        {"rgb 4:2:0", TJPF_RGB, TJSAMP_420, 0, {0, 1, 2}},
        {"rgb 4:4:4 progressive", TJPF_RGB, TJSAMP_444, TJFLAG_PROGRESSIVE, {0, 1, 2}},
        {"grey", TJPF_GRAY, TJSAMP_GRAY, 0, {0}},
        {"cmyk", TJPF_CMYK, TJSAMP_444, 0, {0, 1, 2, 1}},
    };
    TileDecoder decoder;
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        const Bytes jpeg = WriteJpeg(Channels(Photo(256, 256), kind.channels), 256, 256,
                                     kind.format, kind.subsampling, kind.flags);
        // TurboJPEG's own accurate decode; for inks, which it leaves alone, Qt's reader.
        Bytes expected(256 * 256 * 3);
        TjHandle tj(tjInitDecompress(), tjDestroy);
        if (kind.format == TJPF_CMYK)
            expected = QtRgb(jpeg);
        else
            EXPECT_EQ(tjDecompress2(tj.get(), jpeg.data(), jpeg.size(), expected.data(), 256, 0,
                                    256, TJPF_RGB, 0),
                      0);
        Frame frame(900, 700);
        const QRect cell(512, 256, 256, 256);
        ASSERT_TRUE(Draw(decoder, frame, cell, jpeg)) << decoder.LastError();
        const auto [most, mean] = frame.Compare(cell, expected);
        EXPECT_LE(most, 24);
        EXPECT_LE(mean, 2.0);
        EXPECT_EQ(frame.ChangedOutside(cell), 0);
    }
}

TEST(TileDecoder, QtReadableFormatsAreDrawnWithAlphaOverWhite) {
    const Bytes photo = Photo(256, 256);
    const QImage rgba = QImage(photo.data(), 256, 256, 1024, QImage::Format_RGBA8888).copy();
    const QImage rgb = rgba.convertToFormat(QImage::Format_RGB888);
    if (!QImageReader::supportedImageFormats().contains("webp")) GTEST_SKIP() << "no WebP reader";
    TileDecoder decoder;
    for (const auto& [format, picture] :
         {std::pair{"BMP", rgb}, {"TIFF", rgb}, {"WEBP", rgb}, {"WEBP", rgba}}) {
        const bool transparent = picture.hasAlphaChannel();
        SCOPED_TRACE(std::string(format) + (transparent ? " with alpha" : ""));
        const Bytes tile = Encode(picture, format, 90);
        Bytes expected = QtRgb(tile);
        const QImage read = QImage::fromData(tile.data(), static_cast<int>(tile.size()))
                                .convertToFormat(QImage::Format_RGBA8888);
        for (std::size_t i = 0; transparent && i < expected.size(); ++i)
            expected[i] =
                OverWhite(read.constBits()[i / 3 * 4 + i % 3], read.constBits()[i / 3 * 4 + 3]);
        Frame frame(400, 300);
        frame.Fill(20, 160, 40);
        const QRect cell(100, 40, 256, 256);
        ASSERT_TRUE(Draw(decoder, frame, cell, tile)) << decoder.LastError();
        EXPECT_EQ(frame.Compare(cell, expected).first, 0);
        EXPECT_EQ(frame.ChangedOutside(cell), 0);
    }
}

TEST(TileDecoder, OtherSizesAreScaledSmoothlyIntoTheCellAndClippedToTheFrame) {
    const Bytes big = Channels(Photo(512, 512), {0, 1, 2});
    Bytes boxed;  // each cell pixel should be near the mean of its 2x2 source block
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            for (int c = 0; c < 3; ++c) {
                auto at = [&](int dx, int dy) {
                    return big[static_cast<std::size_t>(((2 * y + dy) * 512 + 2 * x + dx) * 3 + c)];
                };
                boxed.push_back(
                    static_cast<std::uint8_t>((at(0, 0) + at(1, 0) + at(0, 1) + at(1, 1) + 2) / 4));
            }
    TileDecoder decoder;
    Frame frame(700, 500);
    const QRect cell(100, 50, 256, 256);
    ASSERT_TRUE(Draw(decoder, frame, cell, RgbPng(512, 512)));
    const auto [most, mean] = frame.Compare(cell, boxed);
    EXPECT_LE(most, 3);
    EXPECT_LE(mean, 1.5);
    EXPECT_EQ(frame.ChangedOutside(cell), 0);
    // A cell hanging over the frame's corner: the visible part exact, nothing past the edges.
    const QRect corner(600, 444, 256, 256);
    ASSERT_TRUE(Draw(decoder, frame, corner, RgbPng(256, 256)));
    EXPECT_EQ(frame.Compare(corner, Channels(Photo(256, 256), {0, 1, 2})).first, 0);
    EXPECT_EQ(frame.ChangedOutside(cell | corner), 0);
}

TEST(TileDecoder, ArgumentsAndSignaturesChooseWhatHappens) {
    TileDecoder decoder;
    Frame frame(64, 64);
    const Bytes png = RgbPng(16, 16), junk = {1, 2, 3, 4, 5};
    const QRect cell(0, 0, 16, 16);
    // Bad arguments fail without a message, clearing the last one.
    for (int which = 0; which < 4; ++which) {
        EXPECT_FALSE(Draw(decoder, frame, cell, junk));
        EXPECT_FALSE(decoder.LastError().empty());
        QImage* target = which == 0 ? nullptr : &frame.image;
        const std::uint8_t* bytes = which == 1 ? nullptr : png.data();
        const std::int64_t count = which == 2 ? 0 : which == 3 ? -1 : 16;
        EXPECT_FALSE(decoder.DrawTile(target, 0, 0, 16, 16, bytes, count));
        EXPECT_EQ(decoder.LastError(), "");
    }
    // Seven PNG-like bytes are not a PNG: Qt's reader gets them, and its message comes back.
    const Bytes seven = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A};
    QByteArray raw(reinterpret_cast<const char*>(seven.data()), 7);
    QBuffer buffer(&raw);
    QImageReader reader(&buffer);
    EXPECT_TRUE(reader.read().isNull());
    EXPECT_FALSE(Draw(decoder, frame, cell, seven));
    EXPECT_EQ(decoder.LastError(), reader.errorString().toStdString());
    // Three JPEG bytes go to TurboJPEG, and its message comes back.
    const Bytes three = {0xFF, 0xD8, 0xFF};
    EXPECT_FALSE(Draw(decoder, frame, cell, three));
    TjHandle tj(tjInitDecompress(), tjDestroy);
    int w, h, sub, space;
    tjDecompressHeader3(tj.get(), three.data(), 3, &w, &h, &sub, &space);
    EXPECT_EQ(decoder.LastError(), tjGetErrorStr2(tj.get()));
    // A bare eight-byte PNG signature is taken as PNG and fails there.
    EXPECT_FALSE(Draw(decoder, frame, cell, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}));
    EXPECT_NE(decoder.LastError().find("png"), std::string::npos) << decoder.LastError();
    EXPECT_TRUE(frame.Unchanged());
    // A frame that is not 24-bit is refused, with a reason, untouched.
    QImage wide(64, 64, QImage::Format_RGB32);
    wide.fill(Qt::red);
    EXPECT_FALSE(
        decoder.DrawTile(&wide, 0, 0, 16, 16, png.data(), static_cast<std::int64_t>(png.size())));
    EXPECT_FALSE(decoder.LastError().empty());
    EXPECT_EQ(wide.pixel(5, 5), qRgb(255, 0, 0));
}

TEST(TileDecoder, OversizedPicturesAreRefusedFromTheirHeaders) {
    Bytes png = RgbPng(64, 64);
    const Bytes header =
        PngChunk("IHDR", {0, 0, 0x23, 0x28, 0, 0, 0x23, 0x28, 8, 2, 0, 0, 0});  // 9000 x 9000
    std::copy(header.begin(), header.end(), png.begin() + 8);
    Bytes jpeg = WriteJpeg(Channels(Photo(64, 64), {0, 1, 2}), 64, 64, TJPF_RGB, TJSAMP_420);
    const std::uint8_t sofMarker[] = {0xFF, 0xC0};
    const auto sof =
        std::search(jpeg.begin(), jpeg.end(), std::begin(sofMarker), std::end(sofMarker));
    ASSERT_NE(sof, jpeg.end());
    sof[5] = 0, sof[6] = 100, sof[7] = 0x23, sof[8] = 0x28;  // 9000 x 100
    QImage small(64, 64, QImage::Format_RGB888);
    small.fill(Qt::blue);
    Bytes bmp = Encode(small, "BMP");
    for (int at : {18, 22})
        std::copy_n(std::data({0x28, 0x23, 0, 0}), 4, bmp.begin() + at);  // 9000 x 9000
    TileDecoder decoder;
    Frame frame(300, 300);
    for (const Bytes& tile : {png, jpeg, bmp}) {
        EXPECT_FALSE(Draw(decoder, frame, QRect(10, 10, 256, 256), tile));
        EXPECT_NE(decoder.LastError().find("9000"), std::string::npos) << decoder.LastError();
    }
    EXPECT_TRUE(frame.Unchanged());
    // The limit itself: 8192 pixels on a side are drawn, 8193 are not.
    EXPECT_TRUE(Draw(decoder, frame, QRect(10, 10, 64, 64), RgbPng(8192, 1)))
        << decoder.LastError();
    EXPECT_FALSE(Draw(decoder, frame, QRect(10, 10, 64, 64), RgbPng(1, 8193)));
    EXPECT_NE(decoder.LastError().find("8193"), std::string::npos) << decoder.LastError();
}

TEST(TileDecoder, DamagedTilesFailAndTheDecoderCarriesOn) {
    const Bytes photo = Channels(Photo(256, 256), {0, 1, 2});
    TileDecoder decoder;
    const QRect cell(20, 30, 256, 256);
    for (const Bytes& tile :
         {RgbPng(256, 256), RgbPng(256, 256, true),
          WriteJpeg(photo, 256, 256, TJPF_RGB, TJSAMP_420),
          WriteJpeg(photo, 256, 256, TJPF_RGB, TJSAMP_420, TJFLAG_PROGRESSIVE)}) {
        // Truncated anywhere: refused before a single row is written.
        for (std::size_t cut :
             {std::size_t{40}, tile.size() / 2, tile.size() - 12, tile.size() - 1}) {
            SCOPED_TRACE(cut);
            Frame frame(300, 300);
            EXPECT_FALSE(
                Draw(decoder, frame, cell,
                     Bytes(tile.begin(), tile.begin() + static_cast<std::ptrdiff_t>(cut))));
            EXPECT_FALSE(decoder.LastError().empty());
            EXPECT_TRUE(frame.Unchanged());
        }
        // Whole but damaged inside the image data: fails with the codec's reason.
        Bytes damaged = tile;
        std::mt19937 rng(3);
        for (std::size_t i = tile.size() / 2; i < tile.size() / 2 + 200; ++i)
            damaged[i] = static_cast<std::uint8_t>(rng() % 255);
        Frame frame(300, 300);
        EXPECT_FALSE(Draw(decoder, frame, cell, damaged));
        EXPECT_FALSE(decoder.LastError().empty());
        EXPECT_TRUE(Draw(decoder, frame, cell, tile)) << decoder.LastError();
    }
}

std::int64_t PeakMemoryKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6));
    return -1;
}

TEST(TileDecoder, CompressedMetadataCannotExhaustMemory) {
    // Twenty text chunks of 16 KB that each inflate to 16 MB, then the picture.
    Bytes text = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 0};
    const QByteArray packed = qCompress(QByteArray(16 << 20, 'a'), 9).mid(4);  // a zlib stream
    text.insert(text.end(), packed.begin(), packed.end());
    const Bytes chunk = PngChunk("zTXt", text);
    Bytes png = RgbPng(64, 64);
    for (int i = 0; i < 20; ++i) png.insert(png.begin() + 33, chunk.begin(), chunk.end());
    if (!(std::ofstream("/proc/self/clear_refs") << "5"))
        GTEST_SKIP() << "cannot reset the peak memory";
    const std::int64_t before = PeakMemoryKb();
    TileDecoder decoder;
    Frame frame(64, 64);
    EXPECT_TRUE(Draw(decoder, frame, QRect(0, 0, 64, 64), png)) << decoder.LastError();
    EXPECT_EQ(frame.Compare(QRect(0, 0, 64, 64), Channels(Photo(64, 64), {0, 1, 2})).first, 0);
    EXPECT_LT(PeakMemoryKb() - before, 32 * 1024);
}

}  // namespace
