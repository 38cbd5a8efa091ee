// TileDecoder on real tiles encoded here with libpng, TurboJPEG and Qt's writers.
#include <gtest/gtest.h>
#include <png.h>
#include <turbojpeg.h>

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <cstdint>
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

std::uint8_t Clamp(int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); }

// Photo-like RGBA samples: gradients with per-pixel noise, so a misplaced row or
// column cannot pass. Alpha runs 0 in the left quarter, 255 in the next, then varies.
Bytes Photo(int w, int h, unsigned seed = 1) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-24, 24);
    Bytes px(static_cast<std::size_t>(w) * h * 4);
    std::uint8_t* p = px.data();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x, p += 4) {
            p[0] = Clamp(x * 255 / w + noise(rng));
            p[1] = Clamp(y * 255 / h + noise(rng));
            p[2] = Clamp(128 + (x - y) / 3 + noise(rng));
            p[3] = x < w / 4 ? 0 : x < w / 2 ? 255 : Clamp((x * 5 + y * 3) % 256);
        }
    return px;
}

Bytes Channels(const Bytes& rgba, std::initializer_list<int> keep) {
    Bytes out;
    for (std::size_t i = 0; i < rgba.size(); i += 4)
        for (int c : keep) out.push_back(rgba[i + static_cast<std::size_t>(c)]);
    return out;
}

std::uint8_t OverWhite(int c, int a) { return static_cast<std::uint8_t>((c * a + 255 * (255 - a) + 127) / 255); }

Bytes FromQt(const QByteArray& a) { return Bytes(a.begin(), a.end()); }

Bytes Encode(const QImage& image, const char* format, int quality = -1) {
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format, quality)) << format;
    return FromQt(out);
}

struct PngSpec {
    int width, height, colorType, bitDepth;
    bool interlace = false;
    std::vector<png_color> palette = {};
    Bytes trns = {};
};

void AppendBytes(png_structp png, png_bytep data, png_size_t n) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}

// Nothing with a destructor is created after setjmp, so the longjmp is sound.
bool WritePngInto(const PngSpec& s, const Bytes& samples, Bytes& out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows(static_cast<std::size_t>(s.height));
    const std::size_t rowBytes = samples.size() / rows.size();
    for (std::size_t y = 0; y < rows.size(); ++y)
        rows[y] = const_cast<png_bytep>(samples.data() + y * rowBytes);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &out, AppendBytes, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(s.width), static_cast<png_uint_32>(s.height),
                 s.bitDepth, s.colorType, s.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!s.palette.empty())
        png_set_PLTE(png, info, s.palette.data(), static_cast<int>(s.palette.size()));
    if (!s.trns.empty())
        png_set_tRNS(png, info, s.trns.data(), static_cast<int>(s.trns.size()), nullptr);
    png_set_rows(png, info, rows.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

Bytes WritePng(const PngSpec& s, const Bytes& samples) {
    Bytes out;
    EXPECT_TRUE(WritePngInto(s, samples, out));
    return out;
}

Bytes RgbPng(int w, int h, unsigned seed = 1) {
    return WritePng({w, h, PNG_COLOR_TYPE_RGB, 8}, Channels(Photo(w, h, seed), {0, 1, 2}));
}

using TjHandle = std::unique_ptr<void, int (*)(tjhandle)>;

Bytes WriteJpeg(const Bytes& px, int w, int h, int format, int subsampling, int flags = 0) {
    TjHandle tj(tjInitCompress(), tjDestroy);
    unsigned char* data = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(tj.get(), px.data(), w, 0, h, format, &data, &size, subsampling, 85, flags);
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> owned(data, tjFree);
    EXPECT_EQ(rc, 0) << tjGetErrorStr2(tj.get());
    return rc == 0 ? Bytes(data, data + size) : Bytes();
}

// TurboJPEG's own decode with its default (accurate) settings.
Bytes ReferenceJpeg(const Bytes& jpeg, int w, int h) {
    TjHandle tj(tjInitDecompress(), tjDestroy);
    Bytes rgb(static_cast<std::size_t>(w) * h * 3);
    EXPECT_EQ(tjDecompress2(tj.get(), jpeg.data(), jpeg.size(), rgb.data(), w, 0, h, TJPF_RGB, 0), 0);
    return rgb;
}

Bytes QtRgb(const Bytes& encoded) {
    const QImage image = QImage::fromData(encoded.data(), static_cast<int>(encoded.size()))
                             .convertToFormat(QImage::Format_RGB888);
    Bytes rgb;
    for (int y = 0; y < image.height(); ++y)
        rgb.insert(rgb.end(), image.constScanLine(y), image.constScanLine(y) + image.width() * 3);
    return rgb;
}

std::uint32_t Crc(const std::uint8_t* p, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

void PutBig32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

Bytes PngChunk(const char* type, const Bytes& data) {
    Bytes chunk(8);
    PutBig32(chunk.data(), static_cast<std::uint32_t>(data.size()));
    chunk.insert(chunk.begin() + 4, type, type + 4);
    chunk.resize(8);
    chunk.insert(chunk.end(), data.begin(), data.end());
    chunk.resize(chunk.size() + 4);
    PutBig32(chunk.data() + chunk.size() - 4, Crc(chunk.data() + 4, chunk.size() - 8));
    return chunk;
}

struct Diff {
    int max = 0;
    double mean = 0;
};

// A 24-bit frame on an outside buffer whose pitch is a multiple of 64 with spare
// bytes after each row, as the renderer builds them. Every byte starts as noise
// (or a given colour) so that a stray write anywhere shows.
class Frame {
public:
    Frame(int w, int h) : pitch(((w * 3 + 63) / 64 + 1) * 64), bytes(static_cast<std::size_t>(pitch) * h) {
        std::mt19937 rng(7);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
        original = bytes;
        image = QImage(bytes.data(), w, h, pitch, QImage::Format_RGB888);
    }
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    void Fill(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) std::copy_n(std::data({r, g, b}), 3, At(x, y));
        original = bytes;
    }
    std::uint8_t* At(int x, int y) { return bytes.data() + static_cast<std::ptrdiff_t>(y) * pitch + x * 3; }
    bool Unchanged() const { return bytes == original; }

    // Bytes outside the rectangle, spare bytes included, that have changed.
    int ChangedOutside(const QRect& r) const {
        int changed = 0;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const int x = static_cast<int>(i % static_cast<std::size_t>(pitch)) / 3;
            const int y = static_cast<int>(i / static_cast<std::size_t>(pitch));
            const bool inCell = static_cast<int>(i % static_cast<std::size_t>(pitch)) < image.width() * 3 &&
                                r.contains(x, y);
            changed += !inCell && bytes[i] != original[i];
        }
        return changed;
    }

    // The rectangle (clipped to the frame) against packed RGB rows of its full size.
    Diff Compare(const QRect& r, const Bytes& rgb) {
        Diff d;
        long sum = 0;
        const QRect visible = r & image.rect();
        for (int y = visible.top(); y <= visible.bottom(); ++y)
            for (int x = visible.left(); x <= visible.right(); ++x)
                for (int c = 0; c < 3; ++c) {
                    const std::size_t at = (static_cast<std::size_t>(y - r.y()) * r.width() + (x - r.x())) * 3 + c;
                    const int e = std::abs(At(x, y)[c] - rgb[at]);
                    d.max = std::max(d.max, e);
                    sum += e;
                }
        d.mean = static_cast<double>(sum) / (visible.width() * visible.height() * 3);
        return d;
    }

    int pitch;
    Bytes bytes, original;
    QImage image;
};

bool Draw(TileDecoder& decoder, Frame& frame, const QRect& cell, const Bytes& tile) {
    return decoder.DrawTile(&frame.image, cell.x(), cell.y(), cell.width(), cell.height(), tile.data(),
                            static_cast<std::int64_t>(tile.size()));
}

TEST(TileDecoderPlacement, PngIsDecodedExactlyIntoItsCellAndNowhereElse) {
    const Bytes png = RgbPng(256, 256);
    const Bytes expected = Channels(Photo(256, 256), {0, 1, 2});
    TileDecoder decoder;
    // Inside, and flush with every edge of the frame.
    for (const QRect cell : {QRect(300, 200, 256, 256), QRect(0, 0, 256, 256), QRect(744, 344, 256, 256)}) {
        Frame frame(1000, 600);
        ASSERT_TRUE(Draw(decoder, frame, cell, png)) << decoder.LastError();
        EXPECT_TRUE(decoder.LastError().empty());
        EXPECT_EQ(frame.Compare(cell, expected).max, 0);
        EXPECT_EQ(frame.ChangedOutside(cell), 0);
    }
    // A frame Qt allocated itself, whose rows are padded to four bytes.
    QImage own(771, 300, QImage::Format_RGB888);
    own.fill(Qt::black);
    ASSERT_TRUE(decoder.DrawTile(&own, 515, 44, 256, 256, png.data(), static_cast<std::int64_t>(png.size())));
    EXPECT_EQ(own.copy(515, 44, 256, 256), QImage(expected.data(), 256, 256, 768, QImage::Format_RGB888));
    int changed = 0;
    for (int y = 0; y < own.height(); ++y)
        for (int x = 0; x < own.width(); ++x)
            changed += !QRect(515, 44, 256, 256).contains(x, y) && own.pixel(x, y) != qRgb(0, 0, 0);
    EXPECT_EQ(changed, 0);
}

struct PngKind {
    const char* name;
    int colorType, bitDepth;
    bool interlace, paletteAlpha;
    int tolerance;
};

const PngKind kPngKinds[] = {
    {"rgb interlaced", PNG_COLOR_TYPE_RGB, 8, true, false, 0},
    {"rgb 16-bit", PNG_COLOR_TYPE_RGB, 16, false, false, 1},
    {"grey", PNG_COLOR_TYPE_GRAY, 8, false, false, 0},
    {"grey 16-bit", PNG_COLOR_TYPE_GRAY, 16, false, false, 1},
    {"palette", PNG_COLOR_TYPE_PALETTE, 8, false, false, 0},
    {"palette with transparency", PNG_COLOR_TYPE_PALETTE, 8, false, true, 1},
    {"grey and alpha", PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, false, 1},
    {"rgba", PNG_COLOR_TYPE_RGBA, 8, false, false, 1},
    {"rgba interlaced", PNG_COLOR_TYPE_RGBA, 8, true, false, 1},
    {"rgba 16-bit", PNG_COLOR_TYPE_RGBA, 16, false, false, 1},
};

// Encodes the photo as the given kind and works out, without the decoder, the
// RGB it must show: the samples composited over white.
void MakePng(const PngKind& kind, int w, int h, Bytes& png, Bytes& expected) {
    const Bytes src = Photo(w, h, 3);
    std::mt19937 rng(5);
    auto byte = [&rng] { return static_cast<std::uint8_t>(rng()); };
    PngSpec spec{w, h, kind.colorType, kind.bitDepth, kind.interlace, {}, {}};
    const bool palette = kind.colorType == PNG_COLOR_TYPE_PALETTE;
    for (int i = 0; palette && i < 256; ++i) spec.palette.push_back({byte(), byte(), byte()});
    for (int i = 0; kind.paletteAlpha && i < 256; ++i) spec.trns.push_back(static_cast<std::uint8_t>(255 - i));
    const bool grey = (kind.colorType & PNG_COLOR_MASK_COLOR) == 0;
    const bool alpha = (kind.colorType & PNG_COLOR_MASK_ALPHA) != 0;
    Bytes samples;
    expected.clear();
    for (std::size_t i = 0; i < src.size(); i += 4) {
        int rgb[3] = {src[i], grey ? src[i] : src[i + 1], grey ? src[i] : src[i + 2]};
        int a = alpha ? src[i + 3] : 255;
        if (palette) {
            const png_color& c = spec.palette[src[i]];
            rgb[0] = c.red, rgb[1] = c.green, rgb[2] = c.blue;
            if (kind.paletteAlpha) a = spec.trns[src[i]];
            samples.push_back(src[i]);
        } else {
            std::vector<int> values(rgb, rgb + (grey ? 1 : 3));
            if (alpha) values.push_back(a);
            for (std::size_t v = 0; v < values.size(); ++v) {
                samples.push_back(static_cast<std::uint8_t>(values[v]));
                // 16-bit colour gets noisy low bytes; 16-bit alpha is exact.
                if (kind.bitDepth == 16)
                    samples.push_back(alpha && v + 1 == values.size() ? samples.back() : byte());
            }
        }
        for (int c : rgb) expected.push_back(OverWhite(c, a));
    }
    png = WritePng(spec, samples);
}

TEST(TileDecoderPngKinds, EveryKindIsDrawnAsRgbOverWhiteNotOverTheOldFrame) {
    TileDecoder decoder;
    for (const PngKind& kind : kPngKinds) {
        SCOPED_TRACE(kind.name);
        Bytes png, expected;
        MakePng(kind, 256, 256, png, expected);
        Frame frame(600, 400);
        frame.Fill(20, 160, 40);
        const QRect cell(130, 70, 256, 256);
        ASSERT_TRUE(Draw(decoder, frame, cell, png)) << decoder.LastError();
        EXPECT_LE(frame.Compare(cell, expected).max, kind.tolerance);
        EXPECT_EQ(frame.ChangedOutside(cell), 0);
    }
}

TEST(TileDecoderJpeg, KindsMatchAReferenceDecodeInPlace) {
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
        const Bytes jpeg = WriteJpeg(Channels(Photo(256, 256), kind.channels), 256, 256, kind.format,
                                     kind.subsampling, kind.flags);
        // TurboJPEG does not turn inks into RGB; Qt's reader does, the Adobe way.
        const Bytes expected = kind.format == TJPF_CMYK ? QtRgb(jpeg) : ReferenceJpeg(jpeg, 256, 256);
        Frame frame(900, 700);
        const QRect cell(512, 256, 256, 256);
        ASSERT_TRUE(Draw(decoder, frame, cell, jpeg)) << decoder.LastError();
        const Diff d = frame.Compare(cell, expected);
        EXPECT_LE(d.mean, 2.0);
        EXPECT_LE(d.max, 24);
        EXPECT_EQ(frame.ChangedOutside(cell), 0);
    }
}

TEST(TileDecoderOtherFormats, QtReadableFormatsAreDrawnWithAlphaOverWhite) {
    const Bytes photo = Photo(256, 256);
    const QImage rgba = QImage(photo.data(), 256, 256, 1024, QImage::Format_RGBA8888).copy();
    const QImage rgb = rgba.convertToFormat(QImage::Format_RGB888);
    const bool webp = QImageReader::supportedImageFormats().contains("webp");
    TileDecoder decoder;
    for (const auto& [format, picture] : {std::pair{"BMP", rgb}, {"TIFF", rgb}, {"WEBP", rgb}, {"WEBP", rgba}}) {
        const bool transparent = picture.hasAlphaChannel();
        SCOPED_TRACE(std::string(format) + (transparent ? " with alpha" : ""));
        if (std::string(format) == "WEBP" && !webp) continue;
        const Bytes tile = Encode(picture, format, 90);
        Bytes expected = QtRgb(tile);
        if (transparent) {
            const QImage read = QImage::fromData(tile.data(), static_cast<int>(tile.size()))
                                    .convertToFormat(QImage::Format_RGBA8888);
            for (int i = 0; i < 256 * 256 * 3; ++i)
                expected[i] = OverWhite(read.constBits()[i / 3 * 4 + i % 3], read.constBits()[i / 3 * 4 + 3]);
        }
        Frame frame(400, 300);
        frame.Fill(20, 160, 40);
        const QRect cell(100, 40, 256, 256);
        ASSERT_TRUE(Draw(decoder, frame, cell, tile)) << decoder.LastError();
        EXPECT_LE(frame.Compare(cell, expected).max, transparent ? 1 : 0);
        EXPECT_EQ(frame.ChangedOutside(cell), 0);
    }
    if (!webp) GTEST_SKIP() << "no WebP reader";
}

TEST(TileDecoderStretch, OtherSizesAreScaledIntoTheCellAndClippedToTheFrame) {
    const Bytes big = Channels(Photo(512, 512), {0, 1, 2});
    Bytes boxed;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            for (int c = 0; c < 3; ++c) {
                auto at = [&](int dx, int dy) { return big[((2 * y + dy) * 512 + 2 * x + dx) * 3 + c]; };
                boxed.push_back(static_cast<std::uint8_t>((at(0, 0) + at(1, 0) + at(0, 1) + at(1, 1) + 2) / 4));
            }
    TileDecoder decoder;
    Frame frame(700, 500);
    const QRect cell(100, 50, 256, 256);
    ASSERT_TRUE(Draw(decoder, frame, cell, WritePng({512, 512, PNG_COLOR_TYPE_RGB, 8}, big)));
    const Diff d = frame.Compare(cell, boxed);
    EXPECT_LE(d.mean, 1.5);
    EXPECT_LE(d.max, 3);
    EXPECT_EQ(frame.ChangedOutside(cell), 0);

    // A cell hanging over the frame's corner: the visible part exact, nothing past the edges.
    const QRect corner(600, 444, 256, 256);
    ASSERT_TRUE(Draw(decoder, frame, corner, RgbPng(256, 256)));
    EXPECT_EQ(frame.Compare(corner, Channels(Photo(256, 256), {0, 1, 2})).max, 0);
    EXPECT_EQ(frame.ChangedOutside(cell | corner), 0);
}

TEST(TileDecoderInput, BadArgumentsFailWithoutAMessage) {
    TileDecoder decoder;
    Frame frame(300, 300);
    const Bytes png = RgbPng(16, 16);
    const std::uint8_t junk[] = {1, 2, 3, 4, 5};
    auto failFirst = [&] { EXPECT_FALSE(decoder.DrawTile(&frame.image, 0, 0, 16, 16, junk, 5)); };
    failFirst();
    EXPECT_FALSE(decoder.LastError().empty());
    EXPECT_FALSE(decoder.DrawTile(nullptr, 0, 0, 16, 16, png.data(), static_cast<std::int64_t>(png.size())));
    EXPECT_EQ(decoder.LastError(), "");
    failFirst();
    EXPECT_FALSE(decoder.DrawTile(&frame.image, 0, 0, 16, 16, nullptr, 100));
    EXPECT_EQ(decoder.LastError(), "");
    for (std::int64_t count : {0, -1}) {
        failFirst();
        EXPECT_FALSE(decoder.DrawTile(&frame.image, 0, 0, 16, 16, png.data(), count));
        EXPECT_EQ(decoder.LastError(), "");
    }
    EXPECT_TRUE(frame.Unchanged());

    // A frame that is not 24-bit is refused, with a reason, untouched.
    QImage wide(64, 64, QImage::Format_RGB32);
    wide.fill(Qt::red);
    EXPECT_FALSE(decoder.DrawTile(&wide, 0, 0, 16, 16, png.data(), static_cast<std::int64_t>(png.size())));
    EXPECT_FALSE(decoder.LastError().empty());
    EXPECT_EQ(wide.pixel(5, 5), qRgb(255, 0, 0));
}

TEST(TileDecoderInput, SignaturesChooseTheDecoder) {
    TileDecoder decoder;
    Frame frame(64, 64);
    // Seven PNG-like bytes are not a PNG: Qt's reader gets them and its message comes back.
    const Bytes seven = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A};
    QByteArray raw(reinterpret_cast<const char*>(seven.data()), 7);
    QBuffer buffer(&raw);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    EXPECT_TRUE(reader.read().isNull());
    EXPECT_FALSE(Draw(decoder, frame, QRect(0, 0, 16, 16), seven));
    EXPECT_EQ(decoder.LastError(), reader.errorString().toStdString());
    // Three JPEG bytes go to TurboJPEG, and its message comes back.
    const Bytes three = {0xFF, 0xD8, 0xFF};
    EXPECT_FALSE(Draw(decoder, frame, QRect(0, 0, 16, 16), three));
    TjHandle tj(tjInitDecompress(), tjDestroy);
    int w, h, sub, space;
    tjDecompressHeader3(tj.get(), three.data(), 3, &w, &h, &sub, &space);
    EXPECT_EQ(decoder.LastError(), tjGetErrorStr2(tj.get()));
    EXPECT_FALSE(decoder.LastError().empty());
    // A bare eight-byte PNG signature is taken as PNG and fails there.
    EXPECT_FALSE(Draw(decoder, frame, QRect(0, 0, 16, 16), {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}));
    EXPECT_FALSE(decoder.LastError().empty());
    EXPECT_TRUE(frame.Unchanged());
}

TEST(TileDecoderUntrusted, OversizedPicturesAreRefusedFromTheirHeaders) {
    Bytes png = RgbPng(64, 64);
    PutBig32(png.data() + 16, 9000);
    PutBig32(png.data() + 20, 9000);
    PutBig32(png.data() + 29, Crc(png.data() + 12, 17));
    Bytes jpeg = WriteJpeg(Channels(Photo(64, 64), {0, 1, 2}), 64, 64, TJPF_RGB, TJSAMP_420);
    const std::uint8_t sofMarker[] = {0xFF, 0xC0};
    const auto sof = std::search(jpeg.begin(), jpeg.end(), std::begin(sofMarker), std::end(sofMarker));
    ASSERT_NE(sof, jpeg.end());
    sof[5] = 0, sof[6] = 100, sof[7] = 9000 >> 8, sof[8] = 9000 & 0xFF;
    QImage small(64, 64, QImage::Format_RGB888);
    small.fill(Qt::blue);
    Bytes bmp = Encode(small, "BMP");
    for (int at : {18, 22}) std::copy_n(std::data({0x28, 0x23, 0, 0}), 4, bmp.begin() + at);  // 9000
    TileDecoder decoder;
    Frame frame(300, 300);
    for (const Bytes& tile : {png, jpeg, bmp}) {
        EXPECT_FALSE(Draw(decoder, frame, QRect(10, 10, 256, 256), tile));
        EXPECT_NE(decoder.LastError().find("9000"), std::string::npos) << decoder.LastError();
    }
    EXPECT_TRUE(frame.Unchanged());
    // The limit itself: 8192 pixels on a side are drawn, 8193 are not.
    EXPECT_TRUE(Draw(decoder, frame, QRect(10, 10, 64, 64), RgbPng(8192, 1))) << decoder.LastError();
    EXPECT_FALSE(Draw(decoder, frame, QRect(10, 10, 64, 64), RgbPng(1, 8193)));
    EXPECT_NE(decoder.LastError().find("8193"), std::string::npos) << decoder.LastError();
}

TEST(TileDecoderUntrusted, DamagedTilesFailAndTheDecoderCarriesOn) {
    const Bytes photo = Channels(Photo(256, 256), {0, 1, 2});
    const Bytes whole[] = {
        RgbPng(256, 256),
        WritePng({256, 256, PNG_COLOR_TYPE_RGB, 8, true, {}, {}}, photo),
        WriteJpeg(photo, 256, 256, TJPF_RGB, TJSAMP_420),
        WriteJpeg(photo, 256, 256, TJPF_RGB, TJSAMP_420, TJFLAG_PROGRESSIVE),
    };
    TileDecoder decoder;
    const QRect cell(20, 30, 256, 256);
    for (const Bytes& tile : whole) {
        // Truncated anywhere: refused before a single row is written.
        for (std::size_t cut : {std::size_t{40}, tile.size() / 2, tile.size() - 12, tile.size() - 1}) {
            SCOPED_TRACE(cut);
            Frame frame(300, 300);
            EXPECT_FALSE(Draw(decoder, frame, cell, Bytes(tile.begin(), tile.begin() + static_cast<std::ptrdiff_t>(cut))));
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

TEST(TileDecoderUntrusted, CompressedMetadataCannotExhaustMemory) {
    // Twenty text chunks of 16 KB that each inflate to 16 MB, then the picture.
    Bytes text = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 0};
    {
        const QByteArray packed = qCompress(QByteArray(16 << 20, 'a'), 9).mid(4);  // a zlib stream
        text.insert(text.end(), packed.begin(), packed.end());
    }
    const Bytes chunk = PngChunk("zTXt", text);
    Bytes png = RgbPng(64, 64);
    for (int i = 0; i < 20; ++i) png.insert(png.begin() + 33, chunk.begin(), chunk.end());
    if (!(std::ofstream("/proc/self/clear_refs") << "5")) GTEST_SKIP() << "cannot reset the peak memory";
    const std::int64_t before = PeakMemoryKb();
    TileDecoder decoder;
    Frame frame(64, 64);
    EXPECT_TRUE(Draw(decoder, frame, QRect(0, 0, 64, 64), png)) << decoder.LastError();
    EXPECT_EQ(frame.Compare(QRect(0, 0, 64, 64), Channels(Photo(64, 64), {0, 1, 2})).max, 0);
    EXPECT_LT(PeakMemoryKb() - before, 32 * 1024);
}

}  // namespace
