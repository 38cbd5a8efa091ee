// PMTiles archives written by the tests' writer (in every layout and internal
// compression, and hostile ones built by hand), read back by world address.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <map>
#include <string>
#include <tuple>

#include "decompress.h"
#include "jsonscan.h"
#include "pmtiles_archive.h"
#include "pmtiles_hilbert.h"
#include "pmtiles_leafcache.h"
#include "pmtileswriter.h"
#include "storewriter.h"
#include "tilesource.h"

using corvalis::PmtilesArchive;
using testsupport::Blob;
using testsupport::Bytes;
using testsupport::PmtDirEntry;
using testsupport::PmtilesOptions;
using testsupport::PmtilesWriter;
using testsupport::TempDir;

namespace {

using Key = std::tuple<int, std::uint32_t, std::uint32_t>;
using TileMap = std::map<Key, Bytes>;
constexpr std::uint32_t kLast31 = 0x7FFFFFFF;

// Levels 0-3 with tiles of their own, level 5 all one content (a single run
// along the curve), a known level-12 tile and the corners of level 31.
TileMap SampleTiles() {
    TileMap t;
    for (int z = 0; z <= 3; ++z)
        for (std::uint32_t x = 0; x < (1u << z); ++x)
            for (std::uint32_t y = 0; y < (1u << z); ++y) t[{z, x, y}] = Blob(z, x, y);
    const Bytes sea = {'s', 'e', 'a'};
    for (std::uint32_t x = 0; x < 32; ++x)
        for (std::uint32_t y = 0; y < 32; ++y) t[{5, x, y}] = sea;
    t[{12, 3423, 1763}] = Blob(12, 3423, 1763);
    t[{31, 0, 0}] = Blob(31, 0, 0);
    t[{31, kLast31, kLast31}] = Blob(31, kLast31, kLast31);
    return t;
}

Bytes Build(const TileMap& tiles, const PmtilesOptions& o) {
    PmtilesWriter w;
    for (const auto& [k, bytes] : tiles)
        w.Tile(std::get<0>(k), std::get<1>(k), std::get<2>(k), bytes);
    return w.Build(o);
}

bool OpenBytes(PmtilesArchive& a, Bytes b, std::string& error) {
    return a.Open(std::make_unique<corvalis::MemoryByteSource>(std::move(b)), error);
}

// An archive from raw sections: root and leaves as given, no metadata.
Bytes Raw(const Bytes& root, const Bytes& leaves = {}, const Bytes& tileData = Bytes(64, 'T'),
          std::uint8_t internal = testsupport::kPmtNone) {
    PmtilesOptions o;
    o.internalCompression = internal;
    testsupport::PmtSections s;
    s.root = root;
    s.leaves = leaves;
    s.tileData = tileData;
    return testsupport::PmtAssemble(o, s);
}

Bytes Dir(const std::vector<PmtDirEntry>& entries) {
    return testsupport::PmtEncodeDirectory(entries);
}

TEST(PmtilesTileIds, KnownIdsBothWaysAndAgreementWithTheWriter) {
    struct Case {
        int z;
        std::int64_t x, y;
        std::uint64_t id;
    };
    const Case cases[] = {{0, 0, 0, 0},
                          {1, 0, 0, 1},
                          {1, 0, 1, 2},
                          {1, 1, 1, 3},
                          {1, 1, 0, 4},
                          {2, 0, 0, 5},
                          {12, 3423, 1763, 19078479},
                          {31, 0, 0, corvalis::PmtilesLevelStart(31)},
                          {31, kLast31, 0, corvalis::kPmtilesIdEnd - 1}};
    for (const Case& c : cases) {
        std::uint64_t id = 0;
        ASSERT_TRUE(corvalis::PmtilesTileId(c.z, c.x, c.y, id));
        EXPECT_EQ(id, c.id) << c.z << "/" << c.x << "/" << c.y;
        std::int32_t z = -1;
        std::uint32_t x = 0, y = 0;
        ASSERT_TRUE(corvalis::PmtilesTileOf(c.id, z, x, y));
        EXPECT_EQ(Key(z, x, y), Key(c.z, c.x, c.y));
    }
    for (int z = 0; z <= 6; ++z)
        for (std::uint32_t x = 0; x < (1u << z); ++x)
            for (std::uint32_t y = 0; y < (1u << z); ++y) {
                std::uint64_t id = 0;
                ASSERT_TRUE(corvalis::PmtilesTileId(z, x, y, id));
                ASSERT_EQ(id, testsupport::PmtTileId(z, x, y));
            }
    std::uint64_t id = 0;
    for (auto [z, x, y] : {std::tuple{32, 0LL, 0LL},
                           {-1, 0LL, 0LL},
                           {3, 8LL, 0LL},
                           {3, 0LL, -1LL},
                           {31, 1LL << 31, 0LL}})
        EXPECT_FALSE(corvalis::PmtilesTileId(z, x, y, id)) << z << "/" << x << "/" << y;
    std::int32_t z = 0;
    std::uint32_t x = 0, y = 0;
    EXPECT_FALSE(corvalis::PmtilesTileOf(corvalis::kPmtilesIdEnd, z, x, y));
}

// Extents and counts per level, as the tiles written give them.
void ExpectLevelsOf(const PmtilesArchive& a, const TileMap& tiles) {
    std::map<int, corvalis::PmtilesLevel> expected;
    for (const auto& [k, bytes] : tiles) {
        const auto [z, x, y] = k;
        auto [it, fresh] = expected.emplace(z, corvalis::PmtilesLevel{});
        auto& l = it->second;
        const auto ix = static_cast<std::int32_t>(x), iy = static_cast<std::int32_t>(y);
        l = {fresh ? ix : std::min(l.minX, ix),
             fresh ? ix : std::max(l.maxX, ix),
             fresh ? iy : std::min(l.minY, iy),
             fresh ? iy : std::max(l.maxY, iy),
             l.tiles + 1,
             true};
    }
    for (int z = 0; z <= 31; ++z) {
        const auto& got = a.levels()[static_cast<std::size_t>(z)];
        const auto want = expected.count(z) ? expected[z] : corvalis::PmtilesLevel{};
        EXPECT_EQ(std::tie(got.present, got.minX, got.maxX, got.minY, got.maxY, got.tiles),
                  std::tie(want.present, want.minX, want.maxX, want.minY, want.maxY, want.tiles))
            << "level " << z;
    }
}

// Every tile by its world address, a few absent ones, and the full scan.
void ExpectReadBack(PmtilesArchive& a, const TileMap& tiles) {
    std::string error;
    Bytes out;
    for (const auto& [k, bytes] : tiles) {
        const auto [z, x, y] = k;
        ASSERT_TRUE(a.ReadTile(z, static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), out))
            << z << "/" << x << "/" << y;
        ASSERT_EQ(out, bytes) << z << "/" << x << "/" << y;
    }
    for (auto [z, x, y] : {std::tuple{4, 0, 0},
                           {12, 3424, 1763},
                           {31, 1, 0},
                           {32, 0, 0},
                           {2, -1, 0},
                           {6, 0, 0},
                           {31, INT_MAX, INT_MAX - 1}})
        EXPECT_FALSE(a.ReadTile(z, x, y, out)) << z << "/" << x << "/" << y;

    TileMap scanned;
    ASSERT_TRUE(a.ForEachTile(
        [&](const corvalis::PmtilesTile& t) {
            Bytes b;
            EXPECT_TRUE(a.ReadBytes(t.offset, t.length, b));
            return scanned.emplace(Key(t.z, t.x, t.y), b).second;
        },
        error))
        << error;
    EXPECT_EQ(scanned, tiles);
}

struct LayoutCase {
    const char* label;
    std::uint8_t internal;
    std::size_t leafSize, rootTiles;
    bool dedup, runLengths;
};

TEST(PmtilesArchive, EveryLayoutAndCompressionReadsBackByWorldAddress) {
    using namespace testsupport;
    const LayoutCase cases[] = {
        {"root, none", kPmtNone, 0, 0, true, true},
        {"root, gzip", kPmtGzip, 0, 0, true, true},
        {"root, brotli", kPmtBrotli, 0, 0, true, true},
        {"root, zstd", kPmtZstd, 0, 0, true, true},
        {"leaves, none", kPmtNone, 7, 0, true, true},
        {"leaves, gzip", kPmtGzip, 7, 0, true, true},
        {"leaves, brotli", kPmtBrotli, 7, 0, true, true},
        {"leaves, zstd", kPmtZstd, 7, 0, true, true},
        {"leaves and root tiles, no runs, no dedup", kPmtGzip, 5, 3, false, false},
    };
    const TileMap tiles = SampleTiles();
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.label);
        PmtilesOptions o;
        o.internalCompression = c.internal;
        o.leafSize = c.leafSize;
        o.rootTiles = c.rootTiles;
        o.dedup = c.dedup;
        o.runLengths = c.runLengths;
        TempDir dir;
        const std::string path = dir.file("a.pmtiles");
        PmtilesWriter w;
        for (const auto& [k, bytes] : tiles)
            w.Tile(std::get<0>(k), std::get<1>(k), std::get<2>(k), bytes);
        w.Write(path, o);
        PmtilesArchive a;
        std::string error;
        ASSERT_TRUE(a.Open(path, error)) << error;
        EXPECT_EQ(a.name(), "PMTiles test");
        EXPECT_EQ(a.format(), "png");

        ExpectLevelsOf(a, tiles);
        ExpectReadBack(a, tiles);
    }
}

// The fixture archive holds the reference store's tiles: the same extents and
// bytes at every world address, whichever way each file numbers its rows.
TEST(PmtilesArchive, FixtureMatchesTheReferenceStoreTileForTile) {
    corvalis::TileDatabase store;
    PmtilesArchive a;
    std::string error;
    ASSERT_TRUE(store.Open(CORVALIS_FIXTURE_DIR "/reference.mbtiles", error)) << error;
    ASSERT_TRUE(a.Open(CORVALIS_FIXTURE_DIR "/reference.pmtiles", error)) << error;
    EXPECT_EQ(a.name(), store.name());
    for (int z = 0; z <= 31; ++z) {
        std::int32_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
        const auto& l = a.levels()[static_cast<std::size_t>(z)];
        ASSERT_EQ(store.GetZoomExtent(z, x0, x1, y0, y1), l.present) << z;
        if (!l.present) continue;
        EXPECT_EQ(std::tie(x0, x1, y0, y1), std::tie(l.minX, l.maxX, l.minY, l.maxY));
        Bytes out;
        for (std::int32_t x = x0; x <= x1; ++x)
            for (std::int32_t y = y0; y <= y1; ++y) {
                const std::uint8_t* data = nullptr;
                std::int32_t count = 0;
                ASSERT_TRUE(store.ReadTile(z, x, y, data, count));
                ASSERT_TRUE(a.ReadTile(z, x, y, out));
                ASSERT_EQ(out, Bytes(data, data + count)) << z << "/" << x << "/" << y;
            }
    }
}

TEST(PmtilesArchive, HeaderFactsAndTileCompression) {
    struct Case {
        std::uint8_t tileType, tileCompression;
        int minZoom, maxZoom;
        std::int32_t bounds[4];
        const char* format;
        std::int32_t minHint, maxHint;
        bool readable, hasBounds;
    };
    const Case cases[] = {
        {2, 1, 0, 3, {-1800000000, -850000000, 1800000000, 850000000}, "png", 0, 3, true, true},
        {3, 1, 1, 2, {0, 0, 0, 0}, "jpg", 1, 2, true, false},
        {4, 1, 32, 40, {0, 0, 0, 1}, "webp", -1, -1, true, true},
        {5, 1, 0, 255, {}, "avif", 0, -1, true, false},
        {1, 2, 35, 31, {}, "pbf", -1, 31, false, false},
        {0, 1, 0, 3, {}, "", 0, 3, true, false},
        {6, 1, 0, 3, {}, "", 0, 3, true, false},
    };
    for (const Case& c : cases) {
        PmtilesOptions o;
        o.tileType = c.tileType;
        o.tileCompression = c.tileCompression;
        o.minZoom = c.minZoom;
        o.maxZoom = c.maxZoom;
        std::copy(std::begin(c.bounds), std::end(c.bounds), o.boundsE7);
        PmtilesArchive a;
        std::string error;
        ASSERT_TRUE(OpenBytes(a, Build(SampleTiles(), o), error)) << error;
        EXPECT_EQ(a.format(), c.format);
        EXPECT_EQ(a.isVector(), c.tileType == 1);
        EXPECT_EQ(a.minZoomHint(), c.minHint);
        EXPECT_EQ(a.maxZoomHint(), c.maxHint);
        Bytes out;
        EXPECT_EQ(a.ReadTile(1, 1, 0, out), c.readable);
        EXPECT_TRUE(a.ReadStoredTile(1, 1, 0, out));
        EXPECT_EQ(out, Blob(1, 1, 0));
        double w = 0, s = 0, e = 0, n = 0;
        ASSERT_EQ(a.HeaderBounds(w, s, e, n), c.hasBounds);
        if (c.hasBounds && c.bounds[0] != 0) {
            EXPECT_DOUBLE_EQ(w, -180.0);
            EXPECT_DOUBLE_EQ(s, -85.0);
            EXPECT_DOUBLE_EQ(e, 180.0);
            EXPECT_DOUBLE_EQ(n, 85.0);
        }
    }
}

TEST(PmtilesArchive, FilesThatAreNoVersionThreeArchiveFailWithTheirReason) {
    const Bytes v3 = Build(SampleTiles(), {});
    auto withByte = [&](std::size_t at, std::uint8_t v) {
        Bytes b = v3;
        b[at] = v;
        return b;
    };
    Bytes v2 = {'P', 'M', 2, 0};
    v2.resize(600, 0);
    Bytes v1 = v2;
    v1[2] = 1;
    const std::pair<Bytes, std::string> cases[] = {
        {v2, "PMTiles version 2 is not supported; only version 3."},
        {v1, "PMTiles version 1 is not supported; only version 3."},
        {withByte(7, 4), "PMTiles version 4 is not supported; only version 3."},
        {Bytes(v3.begin(), v3.begin() + 100), "PMTiles header is truncated."},
        {withByte(97, 9), "PMTiles internal compression 9 is not supported."},
        {withByte(97, 0), "PMTiles internal compression 0 is not supported."},
    };
    for (const auto& [bytes, text] : cases) {
        PmtilesArchive a;
        std::string error;
        EXPECT_TRUE(corvalis::HasPmtilesSignature(bytes.data(), bytes.size()));
        EXPECT_FALSE(OpenBytes(a, bytes, error));
        EXPECT_EQ(error, text);
        EXPECT_FALSE(a.isOpen());
    }
    TempDir dir;
    PmtilesArchive a;
    std::string error;
    EXPECT_FALSE(a.Open(dir.file("missing.pmtiles"), error));
    EXPECT_EQ(error, "cannot open file: No such file or directory");
    EXPECT_FALSE(a.Open(dir.path().string(), error));
    EXPECT_EQ(error, "not a regular file.");
}

TEST(PmtilesArchive, HostileDirectoriesFailTheOpenWithAClearReason) {
    using testsupport::PutLe;
    const char* outside = "PMTiles directory points outside the file.";
    const char* order = "PMTiles directory entries are out of order.";
    auto patched = [](Bytes b, std::size_t field, std::uint64_t v) {
        PutLe(b, field, v, 8);
        return b;
    };
    PmtilesOptions leaves;
    leaves.leafSize = 4;
    const Bytes good = Build(SampleTiles(), leaves);
    // A root whose only entry is a leaf spanning the root's own five bytes.
    const Bytes selfRoot = Dir({{0, 0, 5, 0}});
    Bytes absurd;
    testsupport::PutVarint(absurd, std::uint64_t{1} << 60);
    absurd.resize(absurd.size() + 8, 0);
    const Bytes zeros(65u << 20, 0);
    // 70000 leaf entries that all name one empty leaf: cheap bytes, costly reads.
    std::vector<PmtDirEntry> manyLeaves;
    for (std::uint64_t i = 0; i < 70000; ++i) manyLeaves.push_back({i, 0, 1, 0});
    const std::pair<Bytes, std::string> cases[] = {
        {patched(good, 8, good.size()), outside},
        {patched(good, 16, UINT64_MAX), outside},
        {patched(good, 40, UINT64_MAX - 3), outside},
        {patched(Raw(selfRoot), 40, 127), "PMTiles leaf directories nest deeper than one level."},
        {Raw(testsupport::PmtCompress(testsupport::kPmtZstd, zeros), {}, {}, testsupport::kPmtZstd),
         "PMTiles directory decompresses to more than 64 MiB."},
        {Raw(Bytes{1, 2, 3, 4, 5, 6}, {}, {}, testsupport::kPmtGzip),
         "PMTiles directory cannot be decompressed."},
        {Raw(absurd), "PMTiles directory is truncated."},
        {Raw(Dir({{5, 0, 1, 1}, {5, 1, 1, 1}})), order},
        {Raw(Dir({{5, 0, 1, 3}, {7, 1, 1, 1}})), order},
        {Raw(Dir({{5, 0, 0, 1}})), "PMTiles directory has an entry of length 0."},
        {Raw(Bytes{1, 0, 1, 1, 0}), "PMTiles directory is corrupt."},  // no offset before the first
        {Raw(Dir({{10, 0, 5, 0}}), Dir({{3, 0, 1, 1}})), order},       // a leaf below its range
        {Raw(Dir(manyLeaves), Bytes{0}), "PMTiles directories are too large for the file."},
    };
    for (const auto& [bytes, text] : cases) {
        PmtilesArchive a;
        std::string error;
        EXPECT_FALSE(OpenBytes(a, bytes, error)) << text;
        EXPECT_EQ(error, text);
    }
}

TEST(PmtilesArchive, TilesOutsideTheFileAreMissingNotFatal) {
    PmtilesArchive a;
    std::string error;
    const Bytes tiles(10, 'T');
    ASSERT_TRUE(OpenBytes(
        a, Raw(Dir({{0, 0, 10, 1}, {1, 5, 100, 1}, {2, UINT64_MAX - 20, 5, 1}}), {}, tiles), error))
        << error;
    Bytes out;
    EXPECT_TRUE(a.ReadTile(0, 0, 0, out));
    EXPECT_EQ(out, tiles);
    EXPECT_FALSE(a.ReadTile(1, 0, 0, out));
    EXPECT_FALSE(a.ReadTile(1, 0, 1, out));
    EXPECT_TRUE(out.empty());
}

TEST(PmtilesMetadata, TopLevelNameStringOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"name":"Alps"})", "Alps"},
        {R"( { "a" : {"name":"inner"}, "b":[1,"]",{"x":[]}], "name" : "outer" } )", "outer"},
        {R"({"n\u0061me":"caf\u00e9 \ud83d\ude00 \"q\" \\ \/"})",
         "caf\xC3\xA9 \xF0\x9F\x98\x80 \"q\" \\ /"},
        {R"({"name":"\ud800x"})", "\xEF\xBF\xBDx"},
        {R"({"name":"first","name":"second"})", "first"},
        {R"({"name":42})", nullptr},
        {R"({"other":1})", nullptr},
        {R"(["name","x"])", nullptr},
        {R"({"name":"unterminated)", nullptr},
        {R"({"a":tru e,"name":"x"})", nullptr},
        {R"({"name":"bad \q escape"})", nullptr},
        {"", nullptr},
    };
    for (const auto& [json, want] : cases) {
        const auto got = corvalis::JsonTopLevelString(json, "name");
        if (want == nullptr)
            EXPECT_FALSE(got.has_value()) << json;
        else
            EXPECT_EQ(got.value_or("<none>"), want) << json;
    }
}

TEST(PmtilesMetadata, VectorLayerIdsInOrderUpToTheFirstFault) {
    using Ids = std::vector<std::string>;
    const std::pair<const char*, Ids> cases[] = {
        {R"({"vector_layers":[{"id":"land","fields":{"id":"no"}},{"x":1},{"id":"roads"}]})",
         {"land", "roads"}},
        {R"({"name":"x", "vector_layers" : [ {"id":"a"} , {"id":7}, {"id":"b"} ] })", {"a", "b"}},
        {R"({"vector_layers":[{"id":"a"},{"id":"b"},{"id":"c"},{"id":"d"}]})", {"a", "b", "c"}},
        {R"({"vector_layers":[{"id":"a"},{"id":"b" "c"}]})", {"a"}},
        {R"({"vector_layers":[{"id":"a"},[]]})", {"a"}},
        {R"({"vector_layers":{"id":"a"}})", {}},
        {R"({"a":{"vector_layers":[{"id":"inner"}]}})", {}},
        {R"({"vector_layers":[{"id":"a")", {}},
        {"", {}},
    };
    for (const auto& [json, want] : cases)
        EXPECT_EQ(corvalis::JsonVectorLayerIds(json, 3), want) << json;
}

TEST(Decompress, EveryCodecStopsAtTheLimitAndOnDamage) {
    using corvalis::DecompressStatus;
    Bytes plain(300000);
    for (std::size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<std::uint8_t>(i * 7 % 251);
    const std::pair<corvalis::Compression, std::uint8_t> codecs[] = {
        {corvalis::Compression::None, testsupport::kPmtNone},
        {corvalis::Compression::Gzip, testsupport::kPmtGzip},
        {corvalis::Compression::Brotli, testsupport::kPmtBrotli},
        {corvalis::Compression::Zstd, testsupport::kPmtZstd}};
    for (const auto& [codec, code] : codecs) {
        const Bytes packed = testsupport::PmtCompress(code, plain);
        Bytes out;
        EXPECT_EQ(corvalis::Decompress(codec, packed.data(), packed.size(), plain.size(), out),
                  DecompressStatus::Ok);
        EXPECT_EQ(out, plain);
        EXPECT_EQ(corvalis::Decompress(codec, packed.data(), packed.size(), plain.size() - 1, out),
                  DecompressStatus::TooLarge);
        EXPECT_TRUE(out.empty());
        if (codec == corvalis::Compression::None) continue;
        EXPECT_EQ(corvalis::Decompress(codec, packed.data(), packed.size() / 2, plain.size(), out),
                  DecompressStatus::Corrupt);
        // Fed in small pieces, the stream decodes the same.
        corvalis::Decompressor d(codec, plain.size());
        DecompressStatus status = DecompressStatus::More;
        for (std::size_t at = 0; at < packed.size(); at += 999)
            status = d.Feed(packed.data() + at, std::min<std::size_t>(999, packed.size() - at),
                            at + 999 >= packed.size());
        EXPECT_EQ(status, DecompressStatus::Ok);
        EXPECT_EQ(d.output(), plain);
    }
}

TEST(PmtilesLeafCache, KeepsTheMostRecentWithinTheBudget) {
    auto dir = [](std::uint64_t id) {
        corvalis::PmtilesDirectory d;
        std::string error;
        EXPECT_TRUE(d.Parse(Dir({{id, 0, 1, 1}}), error)) << error;
        return d;
    };
    const std::size_t each = dir(1).memoryBytes();
    corvalis::PmtilesLeafCache cache(2 * each);
    for (std::uint64_t k = 1; k <= 2; ++k) ASSERT_NE(cache.Insert({k, 1}, dir(k)), nullptr);
    ASSERT_NE(cache.Find({1, 1}), nullptr);  // 2 is now the least recent
    ASSERT_NE(cache.Insert({3, 1}, dir(3)), nullptr);
    EXPECT_EQ(cache.Find({2, 1}), nullptr);
    corvalis::PmtilesEntry e;
    ASSERT_NE(cache.Find({1, 1}), nullptr);
    EXPECT_TRUE(cache.Find({1, 1})->Find(1, e));
    EXPECT_EQ(cache.Find({1, 2}), nullptr);
    EXPECT_LE(cache.memoryBytes(), 2 * each);
    corvalis::PmtilesLeafCache tiny(each - 1);
    corvalis::PmtilesDirectory big = dir(9);
    EXPECT_EQ(tiny.Insert({9, 1}, std::move(big)), nullptr);
    EXPECT_TRUE(big.Find(9, e));  // left as it was
}

}  // namespace
