// The PNG codec as DrawTile uses it (fast path first) against libspng alone:
// the same pixels for every colour type, bit depth, transparency and filter;
// tiles the fast path does not take, and image data it refuses, end exactly
// as they do through libspng.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include <string>
#include <vector>

#include "decode_codecs.h"
#include "pngwriter.h"
#include "tilesource.h"

namespace {

using corvalis::detail::ImageSize;
using corvalis::detail::PngCodec;
using testsupport::PngBytes;
using testsupport::PngChunk;
using testsupport::PngRecipe;
using Route = PngCodec::Route;

struct Decoded {
    bool opened = false;
    bool ok = false;
    Route route = Route::None;
    PngBytes pixels;  // rows of a wider pitch, every byte noise before the decode
};

Decoded Decode(PngCodec& codec, const PngBytes& png) {
    Decoded d;
    ImageSize size;
    std::string error;
    d.opened = codec.Open(png.data(), png.size(), size, error);
    if (!d.opened) return d;
    const std::ptrdiff_t pitch = size.width * 3 + 7;
    d.pixels.resize(static_cast<std::size_t>(pitch) * static_cast<std::size_t>(size.height));
    for (std::size_t i = 0; i < d.pixels.size(); ++i)
        d.pixels[i] = static_cast<std::uint8_t>(i * 2654435761u >> 11);
    d.ok = codec.Decode({d.pixels.data(), pitch, size.width, size.height}, error);
    d.route = codec.LastRoute();
    EXPECT_EQ(d.ok, error.empty()) << error;
    return d;
}

// Success, route and every byte of the destination, against libspng alone.
void ExpectAsLibspng(const PngBytes& png, Route route, bool ok) {
    PngCodec codec;
    PngCodec reference(false);
    const Decoded got = Decode(codec, png);
    const Decoded want = Decode(reference, png);
    EXPECT_EQ(got.opened, want.opened);
    EXPECT_EQ(got.ok, want.ok);
    EXPECT_EQ(got.ok, ok);
    if (got.opened) {
        EXPECT_EQ(static_cast<int>(got.route), static_cast<int>(route));
    }
    EXPECT_TRUE(got.pixels == want.pixels);
}

enum class Trns { None, Alpha, Key, HighKey };

PngRecipe Recipe(int colourType, int depth, int width, int filters) {
    PngRecipe r;
    r.width = width;
    r.height = 9;
    r.colourType = colourType;
    r.bitDepth = depth;
    r.filters = filters;
    if (colourType == PNG_COLOR_TYPE_PALETTE)  // one entry short: the last index is off the palette
        for (int i = 0; i < std::max(1, (1 << depth) - 1); ++i)
            r.palette.push_back({static_cast<png_byte>(i * 37), static_cast<png_byte>(255 - i),
                                 static_cast<png_byte>(i * 11)});
    return r;
}

// The PNG of the recipe with the transparency asked for; a key is a colour
// the first pixel has. Keys with bits above the sample depth, which libpng
// does not write, go in a tRNS chunk of their own.
PngBytes Write(PngRecipe r, Trns trns) {
    const PngBytes samples = testsupport::PngSamples(r);
    const bool grey = r.colourType == PNG_COLOR_TYPE_GRAY;
    const std::uint16_t high = trns == Trns::HighKey ? 0x100 : 0;
    png_color_16 key{};
    const int first =
        r.bitDepth == 16 ? samples[0] << 8 | samples[1] : samples[0] >> (8 - r.bitDepth);
    key.gray = static_cast<png_uint_16>(first | high);
    key.red = static_cast<png_uint_16>(samples[0] | high);
    key.green = samples[1];
    key.blue = samples[2];
    if (trns == Trns::Alpha)
        for (std::size_t i = 0; i < r.palette.size() / 2 + 1; ++i)
            r.paletteAlpha.push_back(static_cast<std::uint8_t>(i * 97));
    if (trns == Trns::Key) r.key = key;
    const PngBytes png = testsupport::WritePng(r, samples);
    if (trns != Trns::HighKey) return png;
    PngBytes data;
    for (std::uint16_t v : grey ? std::vector<std::uint16_t>{key.gray}
                                : std::vector<std::uint16_t>{key.red, key.green, key.blue})
        data.insert(data.end(), {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
    return testsupport::WithImageChunks(
        png, {PngChunk("tRNS", data), PngChunk("IDAT", testsupport::PngImageData(png))});
}

TEST(PngFastPath, EveryKindDecodesThroughItWithLibspngsPixels) {
    struct Kind {
        const char* name;
        int colourType, bitDepth;
        Trns trns;
    };
    const Kind kinds[] = {
        {"grey 1", PNG_COLOR_TYPE_GRAY, 1, Trns::None},
        {"grey 2", PNG_COLOR_TYPE_GRAY, 2, Trns::None},
        {"grey 4", PNG_COLOR_TYPE_GRAY, 4, Trns::None},
        {"grey 8", PNG_COLOR_TYPE_GRAY, 8, Trns::None},
        {"grey 2 keyed", PNG_COLOR_TYPE_GRAY, 2, Trns::Key},
        {"grey 8 keyed", PNG_COLOR_TYPE_GRAY, 8, Trns::Key},
        {"grey 8 keyed above 255", PNG_COLOR_TYPE_GRAY, 8, Trns::HighKey},
        {"rgb", PNG_COLOR_TYPE_RGB, 8, Trns::None},
        {"rgb keyed", PNG_COLOR_TYPE_RGB, 8, Trns::Key},
        {"rgb keyed with high bytes", PNG_COLOR_TYPE_RGB, 8, Trns::HighKey},
        {"palette 1", PNG_COLOR_TYPE_PALETTE, 1, Trns::None},
        {"palette 2", PNG_COLOR_TYPE_PALETTE, 2, Trns::None},
        {"palette 4", PNG_COLOR_TYPE_PALETTE, 4, Trns::None},
        {"palette 8", PNG_COLOR_TYPE_PALETTE, 8, Trns::None},
        {"palette 2 with alpha", PNG_COLOR_TYPE_PALETTE, 2, Trns::Alpha},
        {"palette 8 with alpha", PNG_COLOR_TYPE_PALETTE, 8, Trns::Alpha},
        {"grey and alpha", PNG_COLOR_TYPE_GRAY_ALPHA, 8, Trns::None},
        {"rgba", PNG_COLOR_TYPE_RGB_ALPHA, 8, Trns::None},
    };
    const int filters[] = {PNG_FILTER_NONE, PNG_FILTER_SUB,   PNG_FILTER_UP,
                           PNG_FILTER_AVG,  PNG_FILTER_PAETH, PNG_ALL_FILTERS};
    for (const Kind& kind : kinds)
        for (int filter : filters)
            for (int width : {1, 13, 64}) {
                SCOPED_TRACE(std::string(kind.name) + ", filters " + std::to_string(filter) +
                             ", width " + std::to_string(width));
                const PngBytes png =
                    Write(Recipe(kind.colourType, kind.bitDepth, width, filter), kind.trns);
                ASSERT_FALSE(png.empty());
                ExpectAsLibspng(png, Route::Fast, true);
            }
}

// The picture converted to format (alpha varying across ARGB32), as Qt writes PNG.
PngBytes QtPng(const QImage& picture, QImage::Format format) {
    QImage converted = picture.convertToFormat(format);
    for (int row = 0; format == QImage::Format_ARGB32 && row < converted.height(); ++row)
        for (int px = 0; px < converted.width(); ++px)  // the alpha bytes
            converted.scanLine(row)[px * 4 + 3] = static_cast<uchar>(px * 7 + row);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(converted.save(&buffer, "PNG"));
    return PngBytes(png.begin(), png.end());
}

// The generator's Earth tiles (levels 0 to 2 of the reference store) as it
// wrote them, and turned by Qt into the other PNG kinds it writes.
TEST(PngFastPath, TheGeneratorsTilesInEveryKindQtWritesDecodeThroughIt) {
    corvalis::TileDatabase store;
    std::string error;
    ASSERT_TRUE(store.Open(CORVALIS_FIXTURE_DIR "/reference.mbtiles", error)) << error;
    int tiles = 0;
    for (int z = 0; z <= 2; ++z)
        for (int x = 0; x < (1 << z); ++x)
            for (int y = 0; y < (1 << z); ++y) {
                const std::uint8_t* data = nullptr;
                std::int32_t count = 0;
                ASSERT_TRUE(store.ReadTile(z, x, y, data, count));
                const PngBytes stored(data, data + count);
                const QImage picture = QImage::fromData(data, count);
                ++tiles;
                for (QImage::Format format :
                     {QImage::Format_RGB888, QImage::Format_Indexed8, QImage::Format_ARGB32,
                      QImage::Format_Grayscale8, QImage::Format_Mono}) {
                    SCOPED_TRACE(std::to_string(z) + "/" + std::to_string(x) + "/" +
                                 std::to_string(y) + " as format " + std::to_string(format));
                    ExpectAsLibspng(
                        format == QImage::Format_RGB888 ? stored : QtPng(picture, format),
                        Route::Fast, true);
                }
            }
    EXPECT_EQ(tiles, 21);
}

TEST(PngFastPath, TilesItDoesNotTakeStillDecodeThroughLibspng) {
    PngRecipe interlaced = Recipe(PNG_COLOR_TYPE_RGB, 8, 33, PNG_ALL_FILTERS);
    interlaced.interlaced = true;
    PngRecipe interlacedPalette = Recipe(PNG_COLOR_TYPE_PALETTE, 2, 33, PNG_ALL_FILTERS);
    interlacedPalette.interlaced = true;
    const PngBytes rgb = Write(Recipe(PNG_COLOR_TYPE_RGB, 8, 33, PNG_ALL_FILTERS), Trns::None);
    const PngBytes data = testsupport::PngImageData(rgb);
    const struct {
        const char* name;
        PngBytes png;
    } cases[] = {
        {"interlaced", Write(interlaced, Trns::None)},
        {"interlaced palette", Write(interlacedPalette, Trns::None)},
        {"rgb 16-bit", Write(Recipe(PNG_COLOR_TYPE_RGB, 16, 33, PNG_ALL_FILTERS), Trns::None)},
        {"grey 16-bit keyed",
         Write(Recipe(PNG_COLOR_TYPE_GRAY, 16, 33, PNG_FILTER_SUB), Trns::Key)},
        {"rgba 16-bit",
         Write(Recipe(PNG_COLOR_TYPE_RGB_ALPHA, 16, 33, PNG_ALL_FILTERS), Trns::None)},
        {"unknown critical chunk after the image",
         testsupport::WithImageChunks(rgb, {PngChunk("IDAT", data), PngChunk("CrIt", {1, 2})})},
        {"image data split by another chunk",
         testsupport::WithImageChunks(
             rgb, {PngChunk("IDAT", data), PngChunk("tEXt", {'a', 0, 'b'}), PngChunk("IDAT", {})})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectAsLibspng(c.png, Route::Libspng, true);
    }
}

// The zlib stream of raw rows (each with its filter byte), through Qt's zlib.
PngBytes Deflate(const PngBytes& raw) {
    const QByteArray packed =
        qCompress(reinterpret_cast<const uchar*>(raw.data()), static_cast<int>(raw.size()));
    return PngBytes(packed.begin() + 4, packed.end());
}

PngBytes Inflate(const PngBytes& stream, std::size_t size) {
    QByteArray prefixed(4, '\0');
    testsupport::PutBig32(reinterpret_cast<std::uint8_t*>(prefixed.data()),
                          static_cast<std::uint32_t>(size));
    prefixed.append(reinterpret_cast<const char*>(stream.data()),
                    static_cast<qsizetype>(stream.size()));
    const QByteArray raw = qUncompress(prefixed);
    return PngBytes(raw.begin(), raw.end());
}

TEST(PngFastPath, ImageDataItRefusesEndsAsWithLibspng) {
    PngRecipe recipe = Recipe(PNG_COLOR_TYPE_RGB, 8, 40, PNG_FILTER_PAETH);
    recipe.height = 30;
    recipe.idatSize = 300;  // several IDAT chunks
    const PngBytes png = Write(recipe, Trns::None);
    const PngBytes stream = testsupport::PngImageData(png);
    const PngBytes raw = Inflate(stream, 30 * (40 * 3 + 1));
    ASSERT_EQ(raw.size(), 30u * 121);
    const auto chunks = testsupport::PngChunks(png);
    auto flipCrc = [&](bool first) {
        std::vector<testsupport::PngChunkAt> idats;
        for (const auto& c : chunks)
            if (c.type == "IDAT") idats.push_back(c);
        const auto& c = first ? idats.front() : idats.back();
        PngBytes damaged = png;
        damaged[c.offset + 8 + c.length] ^= 1;
        return damaged;
    };
    PngBytes badAdler = stream;
    badAdler.back() ^= 1;
    const PngBytes adlerApart(badAdler.end() - 4, badAdler.end());
    auto withRaw = [&](PngBytes rows) {
        return testsupport::WithImageChunks(png, {PngChunk("IDAT", Deflate(rows))});
    };
    PngBytes badFilter = raw;
    badFilter[3 * 121] = 5;
    PngBytes huge = png;
    std::copy_n(PngChunk("IHDR", {0, 0, 0x20, 0, 0, 0, 0x20, 0, 8, 2, 0, 0, 0}).begin(), 25,
                huge.begin() + 8);  // 8192 x 8192
    const struct {
        const char* name;
        PngBytes png;
        Route route;
        bool ok;
    } cases[] = {
        // libspng checks no CRC of the IDAT chunk where the picture ends.
        {"wrong CRC on the last IDAT", flipCrc(false), Route::Libspng, true},
        {"wrong CRC on the first IDAT", flipCrc(true), Route::Libspng, false},
        // nor an Adler-32 it has not read yet.
        {"wrong Adler-32 in an IDAT of its own",
         testsupport::WithImageChunks(
             png, {PngChunk("IDAT", PngBytes(badAdler.begin(), badAdler.end() - 4)),
                   PngChunk("IDAT", adlerApart)}),
         Route::Libspng, true},
        {"wrong Adler-32", testsupport::WithImageChunks(png, {PngChunk("IDAT", badAdler)}),
         Route::Libspng, false},
        {"unknown filter type", withRaw(badFilter), Route::Libspng, false},
        {"a byte short", withRaw(PngBytes(raw.begin(), raw.end() - 1)), Route::Libspng, false},
        {"a byte over", withRaw([&] {
             PngBytes r = raw;
             r.push_back(0);
             return r;
         }()),
         Route::Libspng, true},
        {"too little for 8192 x 8192", huge, Route::None, false},
        {"cut inside the image data", PngBytes(png.begin(), png.begin() + chunks[2].offset + 20),
         Route::None, false},
        {"whole", withRaw(raw), Route::Fast, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectAsLibspng(c.png, c.route, c.ok);
    }
}

TEST(PngFastPath, ScratchOfALargeTileIsGivenBack) {
    PngRecipe small = Recipe(PNG_COLOR_TYPE_RGB_ALPHA, 8, 256, PNG_ALL_FILTERS);
    small.height = 256;
    PngRecipe large = small;
    large.width = 4096;
    large.height = 400;  // 6.5 MB inflated
    for (bool interlaced : {false, true}) {
        SCOPED_TRACE(interlaced ? "through libspng" : "through the fast path");
        small.interlaced = large.interlaced = interlaced;
        PngCodec codec;
        ASSERT_TRUE(Decode(codec, testsupport::WritePng(small, testsupport::PngSamples(small))).ok);
        EXPECT_GE(codec.ScratchSize(), 256u * 256 * 4);  // kept for the next tile
        const PngBytes zeros(testsupport::PngRowBytes(large) * 400);
        ASSERT_TRUE(Decode(codec, testsupport::WritePng(large, zeros)).ok);
        EXPECT_LT(codec.ScratchSize(), std::size_t{1} << 20);
    }
}

}  // namespace
