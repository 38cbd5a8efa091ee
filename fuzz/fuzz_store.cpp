// TileDatabase on hostile files. An input whose first byte is below 0x80 is a
// whole store file (the byte also picks the file name, hence the layout: MBTiles,
// XYZ, reversed z, Orux with a sidecar); any other is a list of metadata rows
// written into a small valid store, whose reading is checked against the rules.
// Every store that opens is also checked whole (--check without decoding).
#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzzcheck.h"
#include "openstorecheck.h"
#include "sqlitehandles.h"
#include "storecheck.h"
#include "storewriter.h"
#include "tileindex.h"
#include "tilesource.h"

namespace {

namespace fs = std::filesystem;

const char* const kStoreNames[] = {"s.mbtiles", "s.db", "s.sqlitedb", "s.oruxmapsimages.db"};

using fuzzsupport::CheckOpenStore;

bool KnownError(const std::string& e) {
    return fuzzsupport::KnownOpenError(e);
}

std::vector<std::uint8_t> ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The store check's pass over the same store: its counts agree with one
// another whatever the file holds (decoding is fuzzed on its own).
void CheckWholeStore(corvalis::TileDatabase& db) {
    corvalis::CheckOptions options;
    options.coverage = true;
    options.expectedTiles = db.CountTiles();
    const corvalis::CheckReport r = corvalis::RunStoreCheck(db, options);
    std::int64_t placed = 0;
    for (const corvalis::LevelFacts& level : r.levels) {
        std::int64_t formats = 0;
        for (const std::int64_t n : level.formats) formats += n;
        FUZZ_CHECK(formats == level.tiles && level.holes >= 0 && level.outside <= level.tiles);
        FUZZ_CHECK(level.minBytes <= level.maxBytes && level.bytes >= level.maxBytes);
        placed += level.tiles;
    }
    FUZZ_CHECK(placed + r.unplaced == r.tiles);
    FUZZ_CHECK(r.duplicates.tiles >= 0 && r.duplicates.tiles <= r.duplicates.candidates &&
               r.duplicates.candidates < std::max<std::int64_t>(r.tiles, 1));
    for (const corvalis::Finding* f :
         {&r.undecodable, &r.formatMismatch, &r.sizeMismatch, &r.outsideGrid, &r.duplicateRows})
        FUZZ_CHECK(f->samples.size() <= std::min<std::size_t>(static_cast<std::size_t>(f->count),
                                                              corvalis::kSampleLimit));
    for (const corvalis::CoverageLevel& g : r.coverage)
        FUZZ_CHECK(g.width >= 1 && g.height >= 1 && g.width <= 2048 && g.height <= 2048 &&
                   g.cells.size() ==
                       static_cast<std::size_t>(g.width) * static_cast<std::size_t>(g.height));
    FUZZ_CHECK(r.ProblemCount() >= 0 && !corvalis::FormatCheckReport(r).empty());
}

using ExtentRow = std::vector<std::int32_t>;

// The extents found through index seeks equal the grouped query's, row for
// row, on any file whose index agrees with its table (a damaged index may
// rightly give other answers) and where both ways run to the end.
void CompareExtentWays(const fs::path& store) {
    const corvalis::SqliteConnection db =
        testsupport::OpenConnection(store.string(), SQLITE_OPEN_READONLY);
    if (!db) return;
    sqlite3_exec(db.get(), "PRAGMA mmap_size=0;", nullptr, nullptr, nullptr);
    {
        auto check = corvalis::PrepareStatement(db.get(), "PRAGMA integrity_check(1);");
        if (!check || sqlite3_step(check.get()) != SQLITE_ROW) return;
        const auto* verdict = reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0));
        if (verdict == nullptr || std::strcmp(verdict, "ok") != 0) return;
    }
    const corvalis::TileColumns layouts[] = {{"zoom_level", "tile_column", "tile_row"},
                                             {"z", "x", "y"}};
    for (const corvalis::TileColumns& c : layouts) {
        if (!corvalis::InspectTileIndexes(db.get(), c).zoomColumnLeading) continue;
        const std::string sql = std::string("select ") + c.zoom + ", min(" + c.column + "), max(" +
                                c.column + "), min(" + c.row + "), max(" + c.row +
                                ") from tiles group by " + c.zoom;
        auto grouped = corvalis::PrepareStatement(db.get(), sql.c_str());
        if (!grouped) continue;
        std::vector<ExtentRow> expected;
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(grouped.get())) == SQLITE_ROW)
            expected.push_back(
                {sqlite3_column_int(grouped.get(), 0), sqlite3_column_int(grouped.get(), 1),
                 sqlite3_column_int(grouped.get(), 2), sqlite3_column_int(grouped.get(), 3),
                 sqlite3_column_int(grouped.get(), 4)});
        if (step != SQLITE_DONE) continue;
        std::vector<ExtentRow> found;
        std::string error;
        const bool ran = corvalis::SeekZoomExtents(
            db.get(), c, corvalis::StoredZoomFilter{},
            [&](std::int32_t zs, std::int32_t x0, std::int32_t x1, std::int32_t y0,
                std::int32_t y1) {
                found.push_back({zs, x0, x1, y0, y1});
            },
            error);
        if (ran) FUZZ_CHECK(found == expected);
    }
}

void RemoveBeside(const fs::path& store) {
    std::error_code ec;
    for (const char* suffix : {"-wal", "-shm", "-journal"}) fs::remove(store.string() + suffix, ec);
}

void FileMode(const std::uint8_t* data, std::size_t size) {
    const fs::path dir = fuzzsupport::ScratchDir() / "file";
    static const bool made = [&] {
        fs::create_directories(dir);
        std::string omm = "[XY]\n";
        for (int z = 0; z < 32; ++z) {
            const std::int64_t at = (std::int64_t{1} << z) / 3;
            omm += "MinX_" + std::to_string(z) + "=" + std::to_string(at) + "\nMinY_" +
                   std::to_string(z) + "=" + std::to_string(at) + "\n";
        }
        fuzzsupport::WriteBytes(dir / "s.omm", omm.data(), omm.size());
        return true;
    }();
    (void)made;
    const fs::path store = dir / kStoreNames[data[0] % 4];
    fuzzsupport::WriteBytes(store, data + 1, size - 1);
    const auto before = fs::last_write_time(store);

    {
        corvalis::TileDatabase db;
        std::string error;
        if (db.Open(store.string(), error)) {
            FUZZ_CHECK(error.empty());
            CheckOpenStore(db);
            CheckWholeStore(db);
        } else {
            FUZZ_CHECK(KnownError(error));
            FUZZ_CHECK(!db.isOpen() && db.KindName() == "-");
            const std::uint8_t* bytes = nullptr;
            std::int32_t count = 0;
            FUZZ_CHECK(!db.ReadTile(0, 0, 0, bytes, count));
        }
    }

    CompareExtentWays(store);

    // Nothing was written: the same bytes and time, and only SQLite's WAL
    // companions (empty log) beside a file whose header asks for WAL.
    FUZZ_CHECK(fs::last_write_time(store) == before);
    const std::vector<std::uint8_t> after = ReadAll(store);
    FUZZ_CHECK(after.size() == size - 1 &&
               (size == 1 || std::memcmp(after.data(), data + 1, size - 1) == 0));
    const bool walHeader = size - 1 >= 20 && (data[1 + 18] == 2 || data[1 + 19] == 2);
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name == store.filename().string() || name == "s.omm") continue;
        const std::string base = store.filename().string();
        FUZZ_CHECK(walHeader && (name == base + "-wal" || name == base + "-shm"));
        if (name == base + "-wal") FUZZ_CHECK(fs::file_size(entry.path()) == 0);
    }
    RemoveBeside(store);
    fs::remove(store);
}

// --- metadata rows -------------------------------------------------------

const char* const kKeys[] = {"name", "format", "bounds", "scheme", "minzoom", "maxzoom", "other"};

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string LowerAll(std::string s) {
    for (char& c : s) c = Lower(c);
    return s;
}
std::string Trimmed(const std::string& s) {
    std::size_t a = 0, b = s.size();
    while (a < b && static_cast<unsigned char>(s[a]) <= 0x20) ++a;
    while (b > a && static_cast<unsigned char>(s[b - 1]) <= 0x20) --b;
    return s.substr(a, b - a);
}
// The C library's atol on the text up to its first NUL (glibc saturates).
long CAtol(const std::string& s) {
    return std::strtol(s.c_str(), nullptr, 10);
}

struct Row {
    std::string key, value;
    bool keyNull = false, valueNull = false;
};

void MetadataMode(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data + 1, size - 1);
    std::vector<Row> rows;
    while (in.remaining_bytes() > 0 && rows.size() < 64) {
        const auto flags = in.ConsumeIntegral<std::uint8_t>();
        Row row;
        if (flags & 1) {
            row.key = kKeys[(flags >> 1) % 7];
            if (flags & 0x10) row.key[0] = static_cast<char>(row.key[0] - 'a' + 'A');
        } else {
            row.key = in.ConsumeRandomLengthString(24);
        }
        row.value = in.ConsumeRandomLengthString(64);
        row.keyNull = (flags & 0xE0) == 0xE0;
        row.valueNull = (flags & 0xE0) == 0xC0;
        rows.push_back(std::move(row));
    }

    const fs::path path = fuzzsupport::ScratchDir() / "meta.mbtiles";
    {
        testsupport::StoreWriter w(path.string(), testsupport::Layout::MBTiles);
        w.Exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN;");
        // Levels 1, 2 and 4: level 2 holds stored row 0 only, so the row
        // numbering shows in its extent.
        w.Tile(1, 0, 0, testsupport::PngHeader(300, 200));
        w.Tile(1, 1, 1, testsupport::Blob(1, 1, 1));
        w.Tile(2, 0, 0, testsupport::PngHeader(300, 200));
        w.Tile(2, 3, 0, testsupport::Blob(2, 3, 0));
        w.Tile(4, 5, 6, testsupport::Blob(4, 5, 6));
        const auto st = w.Prepare("INSERT INTO metadata (name, value) VALUES (?1, ?2);");
        for (const Row& r : rows) {
            const corvalis::StatementScope scope(st.get());
            if (r.keyNull)
                sqlite3_bind_null(st.get(), 1);
            else
                sqlite3_bind_text(st.get(), 1, r.key.data(), static_cast<int>(r.key.size()),
                                  SQLITE_STATIC);
            if (r.valueNull)
                sqlite3_bind_null(st.get(), 2);
            else
                sqlite3_bind_text(st.get(), 2, r.value.data(), static_cast<int>(r.value.size()),
                                  SQLITE_STATIC);
            sqlite3_step(st.get());
        }
        w.Exec("COMMIT;");
    }

    // What the rules give, row by row, the last accepted row winning.
    std::string name = "meta", format = "jpg";
    bool xyz = false, bounds = false;
    int minZoom = -1, maxZoom = -1;
    for (const Row& r : rows) {
        if (r.keyNull || r.valueNull) continue;
        const std::string key = LowerAll(r.key);
        if (key == "name" && !Trimmed(r.value).empty()) name = r.value;
        if (key == "format") format = LowerAll(r.value);
        if (key == "bounds") bounds = true;
        if (key == "scheme") {
            const std::string s = LowerAll(Trimmed(r.value));
            if (s == "xyz" || s == "slippy") xyz = true;
            if (s == "tms") xyz = false;
        }
        if (key == "minzoom" || key == "maxzoom") {
            const long v = CAtol(r.value);
            if (v >= 0 && v <= 31) (key == "minzoom" ? minZoom : maxZoom) = static_cast<int>(v);
        }
    }
    if (minZoom < 0 || minZoom < 1) minZoom = 1;
    if (maxZoom < 0 || maxZoom > 4) maxZoom = 4;
    while (minZoom <= maxZoom && minZoom == 3) ++minZoom;
    while (maxZoom >= minZoom && maxZoom == 3) --maxZoom;

    corvalis::TileDatabase db;
    std::string error;
    const bool opened = db.Open(path.string(), error);
    if (minZoom > maxZoom) {
        FUZZ_CHECK(!opened && error == "no usable zoom level found.");
        return;
    }
    FUZZ_CHECK(opened);
    FUZZ_CHECK(db.name() == name);
    FUZZ_CHECK(db.format() == format);
    FUZZ_CHECK(db.xyzRows() == xyz);
    FUZZ_CHECK(db.minZoom() == minZoom && db.maxZoom() == maxZoom);
    std::int32_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    FUZZ_CHECK(db.GetZoomExtent(2, x0, x1, y0, y1));
    FUZZ_CHECK(x0 == 0 && x1 == 3 && y0 == (xyz ? 0 : 3) && y1 == y0);
    // The first corner tile that reads decides: a 300 x 200 header at levels 1
    // (XYZ rows only: the TMS corner is not stored) and 2, none at level 4.
    int expectedWidth = 256;
    for (int z = minZoom; z <= maxZoom; ++z) {
        if (z == 1 && !xyz) continue;
        if (z == 1 || z == 2) expectedWidth = 300;
        if (z != 3) break;
    }
    FUZZ_CHECK(db.tileWidth() == expectedWidth);
    double w = 0, s = 0, e = 0, n = 0;
    FUZZ_CHECK(db.GetBounds(w, s, e, n));
    FUZZ_CHECK(w >= -180 && e <= 180 && s >= -90 && n <= 90 && w < e && s < n);
    if (!bounds) FUZZ_CHECK(w == (maxZoom == 4 ? -67.5 : -180.0));  // column 5 of 16 at level 4
    CheckOpenStore(db);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    if (data[0] < 0x80)
        FileMode(data, size);
    else
        MetadataMode(data, size);
    return 0;
}
