// Writes the seed corpora of the fuzz targets: tiles encoded by Qt's writers,
// small stores of every layout written the way the tests write them, sample
// sidecars, metadata rows, PMTiles archives, directories and compressed
// streams, and viewport scripts. Usage: fuzzseeds OUTPUT_DIR
#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "geopackagewriter.h"
#include "hostilepictures.h"
#include "mvtwriter.h"
#include "pmtileswriter.h"
#include "pngwriter.h"
#include "storewriter.h"

namespace {

namespace fs = std::filesystem;
using testsupport::Bytes;
using testsupport::Layout;
using testsupport::StoreWriter;

fs::path out;
int counter = 0;

void Seed(const std::string& target, const Bytes& bytes) {
    const fs::path dir = out / target;
    fs::create_directories(dir);
    std::ofstream(dir / ("seed-" + std::to_string(++counter)), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

QImage Picture(int w, int h, QImage::Format format) {
    QImage img(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y,
                         qRgba(x * 255 / w, y * 255 / h, (x ^ y) & 255, x < w / 2 ? 255 : 96));
    return img.convertToFormat(format);
}

Bytes Encode(const QImage& img, const char* format, int quality = -1, bool progressive = false) {
    QByteArray data;
    QBuffer buf(&data);
    buf.open(QIODevice::WriteOnly);
    QImageWriter writer(&buf, format);
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    if (!writer.write(img)) return {};
    return Bytes(data.begin(), data.end());
}

struct Tile {
    Bytes bytes;
    int path;  // decoder path: 0 PNG, 1 JPEG, 2 other
};

std::vector<Tile> Tiles() {
    std::vector<Tile> tiles;
    auto add = [&](Bytes b, int path) {
        if (!b.empty()) tiles.push_back({std::move(b), path});
    };
    add(Encode(Picture(32, 32, QImage::Format_RGB888), "PNG"), 0);
    add(Encode(Picture(16, 24, QImage::Format_ARGB32), "PNG"), 0);
    add(Encode(Picture(16, 16, QImage::Format_Grayscale8), "PNG"), 0);
    add(Encode(Picture(16, 16, QImage::Format_Indexed8), "PNG"), 0);
    add(Encode(Picture(256, 256, QImage::Format_RGB888), "JPEG", 40), 1);
    add(Encode(Picture(24, 16, QImage::Format_RGB888), "JPEG", 90, true), 1);
    add(Encode(Picture(16, 16, QImage::Format_Grayscale8), "JPEG", 75), 1);
    add(Encode(Picture(16, 16, QImage::Format_RGB888), "BMP"), 2);
    add(Encode(Picture(16, 16, QImage::Format_ARGB32), "WEBP", 100), 2);  // lossless
    add(Encode(Picture(16, 16, QImage::Format_RGB888), "WEBP", 50), 2);
    add(Encode(Picture(16, 16, QImage::Format_RGB888), "TIFF"), 2);
    add(Encode(Picture(16, 16, QImage::Format_ARGB32), "ICO"), 2);
    add(Encode(Picture(8, 8, QImage::Format_RGB888), "PPM"), 2);
    return tiles;
}

void ImageSeeds(const std::vector<Tile>& tiles) {
    for (const Tile& t : tiles) {
        Seed("fuzz_probe_image", t.bytes);
        for (int cell : {0, 1, 4, 8}) {
            Bytes b = {static_cast<std::uint8_t>(t.path), static_cast<std::uint8_t>(cell)};
            b.insert(b.end(), t.bytes.begin(), t.bytes.end());
            Seed("fuzz_tile_decoder", b);
        }
    }
    for (auto [w, h] : {std::pair{256u, 256u}, {8191u, 8191u}, {8192u, 1u}})
        Seed("fuzz_probe_image", testsupport::PngHeader(w, h));
}

// PNGs of every colour type, bit depth and transparency written by libpng,
// the filters taken in turn, most with both check fix-ups asked for.
void PngFastPathSeeds() {
    struct Kind {
        int colourType, bitDepth;
        bool transparency, interlaced;
    };
    const Kind kinds[] = {
        {PNG_COLOR_TYPE_GRAY, 1, false, false},       {PNG_COLOR_TYPE_GRAY, 2, true, false},
        {PNG_COLOR_TYPE_GRAY, 4, false, false},       {PNG_COLOR_TYPE_GRAY, 8, true, false},
        {PNG_COLOR_TYPE_RGB, 8, false, false},        {PNG_COLOR_TYPE_RGB, 8, true, false},
        {PNG_COLOR_TYPE_PALETTE, 1, false, false},    {PNG_COLOR_TYPE_PALETTE, 2, true, false},
        {PNG_COLOR_TYPE_PALETTE, 4, false, false},    {PNG_COLOR_TYPE_PALETTE, 8, true, false},
        {PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, false}, {PNG_COLOR_TYPE_RGB_ALPHA, 8, false, false},
        {PNG_COLOR_TYPE_RGB, 8, false, true},         {PNG_COLOR_TYPE_RGB_ALPHA, 16, false, false},
    };
    const int filters[] = {PNG_FILTER_NONE, PNG_FILTER_SUB,   PNG_FILTER_UP,
                           PNG_FILTER_AVG,  PNG_FILTER_PAETH, PNG_ALL_FILTERS};
    int n = 0;
    for (const Kind& k : kinds) {
        testsupport::PngRecipe r;
        r.width = 13 + n % 4;
        r.height = 7;
        r.colourType = k.colourType;
        r.bitDepth = k.bitDepth;
        r.interlaced = k.interlaced;
        r.filters = filters[n % 6];
        r.idatSize = n % 3 == 0 ? 64 : 8192;
        const testsupport::PngBytes samples = testsupport::PngSamples(r, static_cast<unsigned>(n));
        if (k.colourType == PNG_COLOR_TYPE_PALETTE)
            for (int i = 0; i < (1 << k.bitDepth) - 1 || i == 0; ++i)
                r.palette.push_back({static_cast<png_byte>(i * 41), static_cast<png_byte>(i * 3),
                                     static_cast<png_byte>(255 - i)});
        if (k.transparency && k.colourType == PNG_COLOR_TYPE_PALETTE)
            r.paletteAlpha.assign(r.palette.size() / 2 + 1, 128);
        else if (k.transparency)
            r.key = png_color_16{0, samples[0], samples[1], samples[2],
                                 static_cast<png_uint_16>(samples[0] >> (8 - k.bitDepth))};
        Bytes b = {static_cast<std::uint8_t>(n % 5 == 4 ? 0 : 3)};
        const Bytes png = testsupport::WritePng(r, samples);
        b.insert(b.end(), png.begin(), png.end());
        Seed("fuzz_png_fastpath", b);
        ++n;
    }
}

void SidecarSeeds() {
    const char* const texts[] = {
        "[XY]\r\nMinX_2=1\r\nMinY_2=1\r\nMinX_3=1\r\nMinY_3=1\r\n",
        "[xy]\nminx_0=0\nminy_0=0\nMinX_31=2147483647\nMinY_31=2147483647\n",
        "; comment\n[Other]\nMinX_1=0\n[XY]\nMinX_1=2\nMinY_1=0\nMinX_5= 7 \nMinY_5=+3\n",
        "[XY]\nMinX_4=-1\nMinY_4=x\nMinX_30=1073741823\nMinY_30=0\n[XY]\nMinX_6=63\nMinY_6=63\n",
        "[XY\nMinX_2=1\n=\n[]\nMinY_2=1",
    };
    for (const char* t : texts) Seed("fuzz_sidecar", Bytes(t, t + std::strlen(t)));
}

// Texts as stores bring them: escape sequences, line breaks, Latin-1 names,
// C1 controls, cut and overlong UTF-8 sequences.
void TextSeeds() {
    const char* const texts[] = {
        "\x10png\x1b]0;title\x07\x1b]52;c;AAAA\x07\r\n  kind=forged",
        "\x03"
        "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x97\xBA \xE2\x80\xA8 \xC2\x9B"
        "31m",
        "\x20/maps/caf\xE9.mbtiles \xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80 \xE2\x82",
    };
    for (const char* t : texts) Seed("fuzz_text", Bytes(t, t + std::strlen(t)));
}

// Valid progressive JPEG streams with hundreds of scans (the decoder refuses
// the 8192-pixel one for its cost, draws the small one).
void JpegBombSeeds() {
    for (const Bytes& jpeg :
         {testsupport::ProgressiveJpeg(8192, 300, testsupport::JpegCoding::Arithmetic),
          testsupport::ProgressiveJpeg(256, 300, testsupport::JpegCoding::Huffman)}) {
        Bytes seed = {1, 0};  // the JPEG path, a 256-pixel cell
        seed.insert(seed.end(), jpeg.begin(), jpeg.end());
        Seed("fuzz_tile_decoder", seed);
    }
}

// A store written by the tests' writer, then packed into 512-byte pages.
Bytes StoreFile(const std::string& name, Layout layout, const std::vector<Tile>& tiles, int kind) {
    const fs::path path = out / ".scratch" / name;
    fs::create_directories(path.parent_path());
    {
        StoreWriter w(path.string(), layout);
        w.Exec("BEGIN;");
        const Bytes& png = tiles[0].bytes;
        const Bytes& jpeg = tiles[5].bytes;
        if (kind == 0) {  // MBTiles, TMS rows, levels 0 to 2 partly
            w.Meta("name", "seed");
            w.Meta("format", "png");
            w.Meta("bounds", "-180,-85,180,85");
            w.Tile(0, 0, 0, png);
            w.Tile(1, 0, 1, png);
            w.Tile(1, 1, 0, jpeg);
            w.Tile(2, 3, 3, png);
        } else if (kind == 1) {  // MBTiles switched to XYZ rows, zoom range narrowed
            w.Meta("scheme", "xyz");
            w.Meta("minzoom", "1");
            w.Meta("maxzoom", "3");
            w.Tile(1, 0, 0, jpeg);
            w.Tile(3, 7, 5, png);
        } else if (kind == 2) {  // XYZ or reversed z (stored 17 - z)
            for (int z : {14, 15, 16}) w.Tile(z, 1, 1, png);
            w.Tile(2, 0, 3, jpeg);
        } else {  // Orux local grid
            w.Tile(2, 0, 0, png);
            w.Tile(2, 1, 1, jpeg);
            w.Tile(3, 0, 0, png);
        }
        w.Exec("COMMIT;");
        w.Exec("PRAGMA page_size=512; VACUUM;");
    }
    Bytes b = ReadFile(path);
    fs::remove(path);
    return b;
}

void StoreSeeds(const std::vector<Tile>& tiles) {
    struct Case {
        std::uint8_t nameIndex;  // s.mbtiles, s.db, s.sqlitedb, s.oruxmapsimages.db
        Layout layout;
        int kind;
    };
    for (const Case& c :
         {Case{0, Layout::MBTiles, 0}, Case{0, Layout::MBTiles, 1}, Case{1, Layout::Xyz, 2},
          Case{2, Layout::Xyz, 2}, Case{3, Layout::Xyz, 3}}) {
        Bytes b = {c.nameIndex};
        const Bytes file = StoreFile("seed.db", c.layout, tiles, c.kind);
        b.insert(b.end(), file.begin(), file.end());
        Seed("fuzz_store", b);
    }
    // A WAL-mode store: the header asks for the WAL protocol.
    Bytes wal = StoreFile("wal.db", Layout::MBTiles, tiles, 0);
    wal[18] = wal[19] = 2;
    wal.insert(wal.begin(), 0);
    Seed("fuzz_store", wal);

    // Metadata rows: strings from the front, flags consumed from the back.
    struct Row {
        int key;  // index into the target's key list, -1 for the text below
        std::string keyText, value;
    };
    auto escape = [](const std::string& s) {
        std::string e;
        for (char ch : s) e += ch == '\\' ? std::string("\\\\") : std::string(1, ch);
        return e + "\\n";
    };
    const std::vector<std::vector<Row>> sets = {
        {{0, "", "Seed store"},
         {1, "", "PNG"},
         {2, "", "-180,-85.0511,180,85.0511"},
         {3, "", " XYZ "}},
        {{4, "", "2"}, {5, "", "9"}, {3, "", "tms"}, {2, "", "10 ,20,30,40"}},
        {{4, "", "abc"},
         {5, "", "  +3x"},
         {0, "", "   "},
         {-1, "NAME", "upper"},
         {2, "", "1,2,3,4"}},
        {{4, "", "7"}, {6, "", "x"}, {-1, "bounds ", "-1,-1,1,1"}},
    };
    for (const auto& rows : sets) {
        std::string front;
        Bytes flags;
        for (const Row& r : rows) {
            if (r.key < 0) {
                flags.push_back(0);
                front += escape(r.keyText);
            } else {
                flags.push_back(static_cast<std::uint8_t>(1 | (r.key << 1)));
            }
            front += escape(r.value);
        }
        Bytes b = {0x80};
        b.insert(b.end(), front.begin(), front.end());
        b.insert(b.end(), flags.rbegin(), flags.rend());
        Seed("fuzz_store", b);
    }
}

// PMTiles inputs behind their selector byte: archives of each internal
// compression, root-only and with leaves (some tiles left in the root),
// one in the older layout; raw directories; compressed streams.
void PmtilesSeeds(const std::vector<Tile>& tiles) {
    using namespace testsupport;
    auto seed = [](std::uint8_t selector, const Bytes& body) {
        Bytes b = {selector};
        b.insert(b.end(), body.begin(), body.end());
        Seed("fuzz_pmtiles", b);
    };
    PmtilesWriter w;
    const std::uint32_t png = w.Content(tiles[0].bytes), jpeg = w.Content(tiles[5].bytes);
    for (int z = 0; z <= 2; ++z)
        for (std::uint64_t x = 0; x < (1u << z); ++x)
            for (std::uint64_t y = 0; y < (1u << z); ++y) w.Tile(z, x, y, (x + y) % 2 ? png : jpeg);
    for (std::uint64_t x = 0; x < 8; ++x)
        for (std::uint64_t y = 0; y < 8; ++y) w.Tile(3, x, y, png);  // one run
    w.Tile(31, 0x7FFFFFFF, 5, jpeg);
    for (std::uint8_t ic : {kPmtNone, kPmtGzip, kPmtBrotli, kPmtZstd}) {
        PmtilesOptions o;
        o.internalCompression = ic;
        o.boundsE7[0] = -1800000000;
        o.boundsE7[2] = 1800000000;
        seed(0, w.Build(o));
        o.leafSize = 3;
        o.rootTiles = ic == kPmtNone ? 2 : 0;
        o.minZoom = 1;
        o.maxZoom = 40;
        seed(0, w.Build(o));
    }
    Bytes old = {'P', 'M', 2, 0};
    old.resize(512, 0);
    seed(0, old);
    seed(1, PmtEncodeDirectory({{0, 0, 10, 1}, {1, 10, 4, 3}, {4, 14, 2, 1}, {9, 0, 10, 0}}));
    seed(1, PmtEncodeDirectory({{5, 100, 7, 0}, {5000, 107, 9, 0}}));
    const std::string text = R"({"name":"seed","vector_layers":[{"id":"x"}]})";
    for (std::uint8_t codec = 0; codec < 4; ++codec) {
        Bytes body = {codec};
        const Bytes packed =
            PmtCompress(static_cast<std::uint8_t>(codec + 1), Bytes(text.begin(), text.end()));
        body.insert(body.end(), packed.begin(), packed.end());
        seed(2, body);
    }
}

// GeoPackages written by the tests' writer (table "t"), packed into 512-byte
// pages: a world pyramid, a partial one with an origin off the world's
// corner, one in degrees, one with a level off the grid and two tables.
void GeoPackageSeeds(const std::vector<Tile>& tiles) {
    using testsupport::GeoPackageWriter;
    const double h = testsupport::kHalfWorld;
    const fs::path path = out / ".scratch" / "seed.gpkg";
    fs::create_directories(path.parent_path());
    for (int kind = 0; kind < 5; ++kind) {
        {
            GeoPackageWriter w(path.string());
            w.Exec("BEGIN;");
            GeoPackageWriter::Pyramid p("t", "Seed");
            if (kind == 1) p.minX = -h + h / 2, p.maxY = h - h / 2;
            if (kind == 2) p = GeoPackageWriter::Pyramid("t", "", 4326, -180, -90, 180, 90);
            if (kind == 0)
                p.boundsMinX = -h, p.boundsMinY = -h / 2, p.boundsMaxX = h, p.boundsMaxY = h;
            w.AddPyramid(p);
            for (int z = 0; z <= 2; ++z) {
                if (kind == 3 && z == 1)
                    w.AddMatrix("t", z, 2, 2, 256, 256, 1000.0, 1000.0);
                else
                    w.AddWorldMatrix("t", z + (kind == 1 ? 1 : 0), z + (kind == 1 ? 2 : 0));
                w.Tile("t", z, 0, 0, tiles[z == 1 ? 5 : 0].bytes);
                w.Tile("t", z, z, z + 1, tiles[8].bytes);
            }
            if (kind == 4) {
                w.AddPyramid({"a", "Other"});
                w.AddWorldMatrix("a", 0, 0, 512);
                w.Tile("a", 0, 0, 0, tiles[4].bytes);
            }
            w.Exec("COMMIT;");
            w.Exec("PRAGMA page_size=512; VACUUM;");
        }
        Bytes b = ReadFile(path);
        fs::remove(path);
        b.insert(b.begin(), static_cast<std::uint8_t>(kind & 1));
        Seed("fuzz_geopackage", b);
    }
    // Fuzzed rows: the provider takes its choices from the back.
    for (int i = 0; i < 6; ++i) {
        Bytes b = {static_cast<std::uint8_t>(0x80 | (i & 1))};
        for (int j = 0; j < 96; ++j)
            b.push_back(static_cast<std::uint8_t>((j * 37 + i * 11) & 0xFF));
        Seed("fuzz_geopackage", b);
    }
}

// Values in the order the viewport target consumes them; they are taken
// from the back of the input, most significant byte first.
class Script {
public:
    void Int(std::int64_t v, std::int64_t lo, std::int64_t hi) {
        const std::uint64_t range = static_cast<std::uint64_t>(hi) - static_cast<std::uint64_t>(lo);
        const std::uint64_t offset = static_cast<std::uint64_t>(v) - static_cast<std::uint64_t>(lo);
        int bytes = 0;
        while (bytes < 8 && (range >> (bytes * 8)) > 0) ++bytes;
        for (int i = bytes - 1; i >= 0; --i)
            consumed.push_back(static_cast<std::uint8_t>(offset >> (i * 8)));
    }
    void Int32(int v) { Int(v, INT_MIN, INT_MAX); }
    void Bool(bool v) { consumed.push_back(v ? 1 : 0); }
    Bytes Data() const { return Bytes(consumed.rbegin(), consumed.rend()); }

private:
    Bytes consumed;
};

void ViewportSeeds() {
    struct Level {
        int z;
        std::int64_t x0, x1, y0, y1;
    };
    auto script = [](int tile, const std::vector<Level>& levels, int vw, int vh) {
        Script s;
        s.Int(tile, 1, 8191);
        s.Bool(true);
        s.Int(static_cast<std::int64_t>(levels.size()), 1, 4);
        for (const Level& l : levels) {
            s.Int(l.z, 0, 31);
            s.Int(1, 0, 15);
            const std::int64_t last = (std::int64_t{1} << l.z) - 1;
            for (std::int64_t v : {l.x0, l.x1, l.y0, l.y1}) s.Int(v, 0, last);
        }
        s.Int32(vw);
        s.Int32(vh);
        // A probe, a far-off point, then pans, steps and zooms.
        for (int op : {1, 2, 4, 7, 5, 6, 0, 3}) {
            s.Int32(vw / 3);
            s.Int32(vh / 3);
            s.Int(0, 0, 0);
            s.Int(op, 0, 11);
            s.Int32(-vw);
            s.Int32(vh);
        }
        return s.Data();
    };
    const std::int64_t top = INT_MAX;
    Seed("fuzz_viewport",
         script(256, {{0, 0, 0, 0, 0}, {1, 0, 1, 0, 1}, {3, 0, 7, 0, 7}}, 800, 600));
    Seed("fuzz_viewport", script(8191, {{31, top, top, top, top}, {30, 0, 0, 0, 0}}, 1, 1));
    Seed("fuzz_viewport", script(1, {{31, 0, top - 1, 5, 5}}, INT_MAX, 3));
    Seed("fuzz_viewport", script(8191, {{18, 0, 262175, 0, 262175}, {2, 1, 2, 1, 2}}, 1920, 1080));
    Seed("fuzz_viewport", script(8191, {{18, 0, 262176, 0, 0}}, 300, 300));  // one column too many
    Seed("fuzz_viewport", script(512, {{12, 100, 4000, 7, 4095}, {13, 0, 8191, 0, 1}}, 4096, 17));
}

// Vector tiles of every geometry type, with values of every type, given to
// the target raw (path 0), to be compressed by it (1 and 2) or compressed
// already (3).
void VectorSeeds() {
    namespace mvt = testsupport::mvt;
    using V = mvt::Vertex;
    const mvt::Properties props = {
        {"name", std::string("Main")}, {"f", 1.5f},          {"d", 2.25}, {"i", std::int64_t{-3}},
        {"u", std::uint64_t{4}},       {"s", mvt::Sint{-5}}, {"b", true}};
    const std::vector<Bytes> tiles = {
        mvt::Write(
            {{"water",
              {{mvt::kPolygon,
                mvt::Polygon({{V{0, 0}, V{4096, 0}, V{4096, 4096}, V{0, 4096}},
                              {V{100, 100}, V{100, 900}, V{900, 900}, V{900, 100}}}),
                props, 1}}},
             {"roads",
              {{mvt::kLine, mvt::Lines({{V{-64, 10}, V{5000, 20}}, {V{5, 5}, V{9, 9}, V{1, 8}}}),
                props}}},
             {"places", {{mvt::kPoint, mvt::Points({V{5, 7}, V{3, 2}}), props}}, 512}}),
        mvt::Write({{"a", {{mvt::kPoint, mvt::Points({V{1, 1}})}, {mvt::kUnknown}}, 256, 1},
                    {"b", {{mvt::kLine, mvt::Lines({{V{0, 0}, V{1, 1}}})}}, 4096, std::nullopt}}),
        mvt::Write({}),
    };
    for (const Bytes& tile : tiles)
        for (const int path : {0, 1, 3}) {
            Bytes b = {static_cast<std::uint8_t>(path), static_cast<std::uint8_t>(path * 37)};
            const Bytes body = path == 3 ? mvt::Gzip(tile) : tile;
            b.insert(b.end(), body.begin(), body.end());
            Seed("fuzz_mvt", b);
        }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: fuzzseeds OUTPUT_DIR\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    out = argv[1];
    fs::create_directories(out);
    const std::vector<Tile> tiles = Tiles();
    ImageSeeds(tiles);
    SidecarSeeds();
    PngFastPathSeeds();
    TextSeeds();
    JpegBombSeeds();
    StoreSeeds(tiles);
    PmtilesSeeds(tiles);
    GeoPackageSeeds(tiles);
    ViewportSeeds();
    VectorSeeds();
    fs::remove_all(out / ".scratch");
    std::printf("fuzzseeds: %d seeds written to %s\n", counter, out.string().c_str());
    return 0;
}
