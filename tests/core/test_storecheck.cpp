// The store check without decoding, on generated stores with planted faults:
// the exact counts and samples of every finding, the per-level facts, the
// coverage grid and the text report.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "pmtileswriter.h"
#include "storecheck.h"
#include "storecheck_ledger.h"
#include "storewriter.h"
#include "tilesource.h"

using ::testing::Contains;
using ::testing::ElementsAre;
using testsupport::Bytes;
using testsupport::Layout;
using testsupport::PngHeader;
using testsupport::StoreWriter;
using testsupport::TempDir;

namespace {

// The first bytes of a JPEG; enough for its format, not for a size.
const Bytes kJpegStart = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0};

// A PNG header made distinct per tile (a byte past the header), of side pixels.
Bytes Png(int tag, std::uint32_t side = 256) {
    Bytes b = PngHeader(side, side);
    b.push_back(static_cast<std::uint8_t>(tag));
    b.push_back(static_cast<std::uint8_t>(tag >> 8));
    return b;
}

// An MBTiles store of levels 0-2 over the whole world (21 distinct PNG
// tiles), format png, with the faults the case plants.
struct Case {
    const char* name;
    std::function<void(StoreWriter&)> plant;
};

corvalis::CheckReport CheckStore(const Case& c, bool coverage = false) {
    const TempDir dir;
    const std::string path = dir.file("s.mbtiles");
    {
        StoreWriter w(path, Layout::MBTiles);
        w.Meta("format", "png");
        int tag = 0;
        w.FullWorld(0, 2, [&](int, std::int64_t, std::int64_t) { return Png(++tag); });
        c.plant(w);
    }
    corvalis::TileDatabase store;
    std::string error;
    EXPECT_TRUE(store.Open(path, error)) << error;
    corvalis::CheckOptions options;
    options.coverage = coverage;
    options.expectedTiles = store.CountTiles();
    return corvalis::RunStoreCheck(store, options);
}

std::vector<std::string> Places(const corvalis::Finding& f) {
    std::vector<std::string> out;
    for (const auto& s : f.samples)
        out.push_back(std::to_string(s.z) + "/" + std::to_string(s.x) + "/" + std::to_string(s.y) +
                      (s.stored ? " stored" : "") + (s.note.empty() ? "" : " " + s.note));
    return out;
}

// Rows are written as MBTiles stores them: TMS rows (world row 3 - r at z2).
void Replace(StoreWriter& w, int z, int x, int y, const Bytes& data) {
    w.Exec("DELETE FROM tiles WHERE zoom_level=" + std::to_string(z) +
           " AND tile_column=" + std::to_string(x) + " AND tile_row=" + std::to_string(y) + ";");
    w.Tile(z, x, y, data);
}

TEST(StoreCheck, CleanStoreHasNoProblem) {
    const auto r = CheckStore({"clean", [](StoreWriter& w) {
                                   w.Meta("minzoom", "0");
                                   w.Meta("maxzoom", "2");
                                   w.Meta("bounds", "-180,-85.05,180,85.05");
                               }});
    EXPECT_EQ(r.ProblemCount(), 0);
    EXPECT_EQ(r.tiles, 21);
    EXPECT_EQ(r.bytes, 21 * static_cast<std::int64_t>(Png(1).size()));
    EXPECT_EQ(r.integrity, std::optional<std::string>("ok"));
    const corvalis::LevelFacts& z2 = r.levels[2];
    EXPECT_EQ(z2.tiles, 16);
    EXPECT_EQ(z2.formats[static_cast<std::size_t>(corvalis::CheckFormat::Png)], 16);
    ASSERT_EQ(z2.sizes.size(), 1u);
    EXPECT_EQ(z2.sizes[0].tiles, 16);
    EXPECT_EQ(std::tie(z2.minX, z2.maxX, z2.minY, z2.maxY, z2.holes),
              std::make_tuple(0, 3, 0, 3, 0));
    EXPECT_EQ(r.duplicates.tiles, 0);
    EXPECT_FALSE(r.decoded);
}

// Each planted fault is found exactly: its count, its samples (world
// numbers, first in storage order) and nothing else.
TEST(StoreCheck, PlantedFaultsAreCountedWithTheirSamples) {
    const Case cases[] = {
        {"jpeg in a png store", [](StoreWriter& w) { Replace(w, 2, 1, 3, kJpegStart); }},
        {"512 among 256", [](StoreWriter& w) { Replace(w, 2, 2, 0, Png(99, 512)); }},
        {"column 2^z", [](StoreWriter& w) { w.Tile(2, 4, 0, Png(98)); }},
        {"zoom naming no level", [](StoreWriter& w) { w.Tile(40, 1, 2, Png(97)); }},
        {"no data", [](StoreWriter& w) { Replace(w, 1, 0, 0, {}); }},
        {"maxzoom beyond the tiles", [](StoreWriter& w) { w.Meta("maxzoom", "5"); }},
        {"bounds off", [](StoreWriter& w) { w.Meta("bounds", "0,0,90,45"); }},
        {"format no tile has", [](StoreWriter& w) { w.Exec("UPDATE metadata SET value='webp';"); }},
    };
    const std::vector<std::string> expected[] = {
        {"format 2/1/0 jpg"},
        {"size 2/2/3 512x512"},
        {"outside 2/4/3"},
        {"outside 40/1/2 stored stored numbers; no level"},
        {"undecodable 1/0/1 no data"},
        {"metadata maxzoom 5, but the deepest level with tiles is 2"},
        {"metadata bounds 0,0,90,45 lie 2.0 tiles from the tiles' extent at level 2"},
        {"metadata format webp, but no tile has it"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        const auto r = CheckStore(cases[i]);
        std::vector<std::string> found;
        for (const auto& [kind, finding] : {std::pair{"format", &r.formatMismatch},
                                            {"size", &r.sizeMismatch},
                                            {"outside", &r.outsideGrid},
                                            {"undecodable", &r.undecodable},
                                            {"rows", &r.duplicateRows}})
            for (const std::string& s : Places(*finding)) found.push_back(kind + (" " + s));
        for (const std::string& m : r.metadata) found.push_back("metadata " + m);
        const bool webp = i + 1 == std::size(cases);
        EXPECT_EQ(r.ProblemCount(), webp ? 22 : 1);  // with webp, every tile mismatches too
        if (webp) {
            EXPECT_THAT(found, Contains(expected[i][0]));
        } else {
            EXPECT_EQ(found, expected[i]);
        }
    }
}

TEST(StoreCheck, DuplicateRowsWithoutAUniqueIndex) {
    const auto r = CheckStore({"duplicate rows", [](StoreWriter& w) {
                                   w.Exec("DROP INDEX tile_index;");
                                   w.Tile(2, 1, 2, Png(1000));
                                   w.Tile(2, 1, 2, Png(1001));
                                   w.Tile(0, 0, 0, Png(1002));
                               }});
    EXPECT_TRUE(r.noIndex);
    EXPECT_EQ(r.duplicateRows.count, 3);  // two extra rows at 2/1/1, one at 0/0/0
    EXPECT_EQ(Places(r.duplicateRows), (std::vector<std::string>{"0/0/0 2 rows", "2/1/1 3 rows"}));
    EXPECT_EQ(r.levels[2].tiles, 18);  // levels count rows
    EXPECT_EQ(r.levels[2].holes, 0);
    EXPECT_EQ(r.ProblemCount(), 4);
}

// Copies are found by hash and confirmed byte for byte, whether the groups
// are few (reads by key) or hold most of the store (a second scan).
TEST(StoreCheck, IdenticalContentsAreConfirmed) {
    const auto few = CheckStore({"two copies of the level 0 tile", [](StoreWriter& w) {
                                     int tag = 1000;
                                     w.FullWorld(3, 3, [&](int, auto, auto) { return Png(++tag); });
                                     Replace(w, 2, 0, 0, Png(1));
                                     Replace(w, 3, 3, 3, Png(1));
                                 }});
    EXPECT_EQ(std::tie(few.duplicates.tiles, few.duplicates.groups, few.duplicates.bytes),
              std::make_tuple(2, 1, 2 * static_cast<std::int64_t>(Png(1).size())));
    EXPECT_EQ(few.ProblemCount(), 0);
    const auto most = CheckStore({"mostly one tile", [](StoreWriter& w) {
                                      w.Exec(
                                          "UPDATE tiles SET tile_data=x'01020304' "
                                          "WHERE zoom_level=2;");
                                      Replace(w, 1, 0, 0, {1, 2, 3, 4});
                                      Replace(w, 1, 1, 1, {1, 2, 3, 5});
                                  }});
    EXPECT_EQ(std::tie(most.duplicates.tiles, most.duplicates.groups, most.duplicates.bytes),
              std::make_tuple(16, 1, 64));
    EXPECT_TRUE(most.duplicates.confirmed);
}

// A PMTiles archive is scanned through its directories: a run of identical
// tiles counts each tile, and its copies as identical contents.
TEST(StoreCheck, PmtilesRunsCountEveryTile) {
    const TempDir dir;
    const std::string path = dir.file("a.pmtiles");
    testsupport::PmtilesWriter w;
    int tag = 0;
    for (int z = 0; z <= 2; ++z)
        for (std::uint64_t x = 0; x < (1u << z); ++x)
            for (std::uint64_t y = 0; y < (1u << z); ++y) w.Tile(z, x, y, Png(++tag));
    const std::uint32_t same = w.Content(Png(999));
    for (std::uint64_t x = 0; x < 8; ++x)
        for (std::uint64_t y = 0; y < 8; ++y) w.Tile(3, x, y, same);
    testsupport::PmtilesOptions o;
    o.leafSize = 4;
    w.Write(path, o);
    corvalis::TileDatabase store;
    std::string error;
    ASSERT_TRUE(store.Open(path, error)) << error;
    const auto r = corvalis::RunStoreCheck(store, {});
    EXPECT_EQ(r.scanError, "");
    EXPECT_EQ(r.tiles, 85);
    EXPECT_EQ(std::tie(r.levels[3].tiles, r.levels[3].holes, r.levels[3].maxX),
              std::make_tuple(64, 0, 7));
    EXPECT_EQ(std::tie(r.duplicates.tiles, r.duplicates.groups), std::make_tuple(63, 1));
    EXPECT_EQ(r.ProblemCount(), 0) << ::testing::PrintToString(corvalis::FormatCheckReport(r));
}

TEST(StoreCheck, HolesAndTheCoverageGrid) {
    const auto r = CheckStore({"holes and a problem",
                               [](StoreWriter& w) {
                                   w.Exec(
                                       "DELETE FROM tiles WHERE zoom_level=2 AND tile_row=3 "
                                       "AND tile_column < 2;");
                                   Replace(w, 2, 3, 0, Png(5, 512));
                               }},
                              true);
    EXPECT_EQ(r.levels[2].holes, 2);
    EXPECT_EQ(r.Holes(), 2);
    EXPECT_EQ(r.ProblemCount(), 1);
    ASSERT_EQ(r.coverage.size(), 3u);
    const corvalis::CoverageLevel& z2 = r.coverage[2];
    EXPECT_EQ(std::tie(z2.z, z2.width, z2.height, z2.step), std::make_tuple(2, 4, 4, 1));
    using C = std::vector<std::uint8_t>;
    // World row 0 lacks columns 0 and 1; world row 3, column 3 is the odd size.
    EXPECT_EQ(z2.cells, (C{0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2}));
}

// A level wider than the picture's side is shown in cells of several tiles
// (here 1024 columns of the one row at level 12): a cell is present only when
// all its tiles are, a problem when any is.
TEST(StoreCheck, DeepLevelsAreAggregatedInTheCoverageGrid) {
    const auto r = CheckStore({"a row of 4096 tiles at level 12",
                               [](StoreWriter& w) {
                                   w.Exec("BEGIN;");
                                   for (int x = 0; x < 4096; ++x)
                                       if (x != 100) w.Tile(12, x, 4095, Png(1));
                                   w.Exec("COMMIT;");
                                   Replace(w, 12, 3000, 4095, Png(7, 512));
                               }},
                              true);
    ASSERT_EQ(r.coverage.size(), 4u);
    const corvalis::CoverageLevel& z12 = r.coverage[3];
    EXPECT_EQ(std::tie(z12.z, z12.width, z12.height, z12.step), std::make_tuple(12, 4, 1, 1024));
    EXPECT_EQ(z12.cells, (std::vector<std::uint8_t>{0, 1, 2, 1}));
    EXPECT_EQ(r.levels[12].holes, 1);
}

TEST(StoreCheck, TileKeysRoundTrip) {
    for (const auto& [z, x, y] : {std::tuple{0, 0ll, 0ll},
                                  {1, 1ll, 0ll},
                                  {5, 31ll, 7ll},
                                  {31, (1ll << 31) - 1, (1ll << 31) - 1},
                                  {31, 0ll, 1ll}}) {
        std::int32_t z2 = -1;
        std::int64_t x2 = -1, y2 = -1;
        const std::uint64_t key = corvalis::TileKey(z, x, y);
        EXPECT_LT(key, corvalis::TileLedger::kFlagBit);
        corvalis::TileFromKey(key | corvalis::TileLedger::kFlagBit, z2, x2, y2);
        EXPECT_EQ(std::tie(z2, x2, y2), std::tie(z, x, y));
    }
}

TEST(StoreCheck, TextReport) {
    const auto r = CheckStore({"faults", [](StoreWriter& w) {
                                   Replace(w, 2, 1, 3, kJpegStart);
                                   w.Tile(2, 4, 0, Png(98));
                                   w.Meta("maxzoom", "3");
                               }});
    const std::vector<std::string> lines = corvalis::FormatCheckReport(r);
    for (const std::string& line : lines) EXPECT_LE(line.size(), 80u) << line;
    const std::vector<std::string> expected = {
        "kind: MBTiles; metadata format: png; tile size: 256x256",
        "tiles: 22; bytes: 746 (746); not decoded",
        "",
        "  z       tiles    bytes     min    mean     max  formats    sizes",
        "  0           1       35      35      35      35  png        256x256",
        "  1           4      140      35      35      35  png        256x256",
        "  2          17      571      11      33      35  mixed      mixed",
        "      formats: png 16, jpg 1",
        "      sizes: 256x256 16, unknown 1",
        "",
        "  z  columns               rows                       holes     outside",
        "  0  0-0                   0-0                             0           0",
        "  1  0-1                   0-1                             0           0",
        "  2  0-3                   0-3                             0           1",
        "",
        "problems: 3",
        "  undecodable tiles                                       0 (not decoded)",
        "  tiles of another format than png                        1",
        "      2/1/0  jpg",
        "  tiles of another pixel size than 256x256                0",
        "  tiles outside the world grid                            1",
        "      2/4/3",
        "  duplicate (z, x, y) rows (beyond the first)             0",
        "  metadata disagreeing with the tiles                     1",
        "      maxzoom 3, but the deepest level with tiles is 2",
        "  no usable tile index (reads scan the table)             no",
        "  integrity (PRAGMA quick_check)                          ok",
        "",
        "reported, not problems:",
        "  holes in the levels' extents                            0",
        "  identical contents: extra copies / groups / bytes       0 / 0 / 0",
        "  single-colour tiles                                     not decoded",
    };
    ASSERT_GT(lines.size(), 1u);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), expected);
}

}  // namespace
