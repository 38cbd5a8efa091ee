#include "tilesource.h"

#include <sys/stat.h>
#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>

#include "inifile.h"
#include "textutil.h"
#include "tileindex.h"
#include "webmercator.h"

namespace corvalis {

namespace {

constexpr int kReversedZBase = 17;

// Reads a 32-bit integer column the way the store's numbers are read
// everywhere: NULL reads as 0.
std::int32_t ColumnInt(sqlite3_stmt* st, int col) {
    return sqlite3_column_int(st, col);
}

std::string ColumnText(sqlite3_stmt* st, int col, bool& isNull) {
    const unsigned char* t = sqlite3_column_text(st, col);
    isNull = t == nullptr;
    if (!t) return {};
    return std::string(reinterpret_cast<const char*>(t),
                       static_cast<std::size_t>(sqlite3_column_bytes(st, col)));
}

// 32-bit two's complement wrap, as the file's 32-bit row and zoom arithmetic has.
std::int32_t Wrap32(std::int64_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}

// The world's last row index (2^z - 1) in 32-bit arithmetic; the shift count is
// taken modulo 32 for levels outside 0..31.
std::int64_t LastRowIndex(std::int64_t z) {
    return Wrap32((std::int64_t{1} << (z & 31)) - 1);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::uint32_t Be16(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 8) | p[1];
}
std::uint32_t Be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}
std::uint32_t Le16(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8);
}
std::uint32_t Le24(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16);
}
std::uint32_t Le32(const std::uint8_t* p) {
    return Le24(p) | (std::uint32_t{p[3]} << 24);
}
bool HasAscii(const std::uint8_t* p, const char* text) {
    return std::memcmp(p, text, std::strlen(text)) == 0;
}

// The file's header announces WAL mode (file format read and write versions 2).
bool IsWalModeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char header[20] = {};
    return in.read(header, sizeof header) && header[18] == 2 && header[19] == 2;
}

constexpr int kBusyTimeoutMs = 2000;

}  // namespace

std::string ImmutableFileUri(const std::string& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri = "file:";
    // A path that starts with "//" would otherwise read as an authority.
    if (path.size() >= 2 && path[0] == '/' && path[1] == '/') uri += "//";
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                           c == '/';
        if (plain) {
            uri += ch;
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 15];
        }
    }
    return uri + "?immutable=1";
}

bool ProbeImageSize(const std::uint8_t* bytes, std::int64_t count, std::int32_t& width,
                    std::int32_t& height) {
    width = 0;
    height = 0;
    if (!bytes || count < 8) return false;
    const std::uint8_t* b = bytes;

    if (b[0] == 0x89 && b[1] == 0x50 && b[2] == 0x4E && b[3] == 0x47) {
        if (count < 24) return false;
        const std::uint32_t w = Be32(b + 16), h = Be32(b + 20);
        width = Wrap32(w);
        height = Wrap32(h);
        return w >= 1 && w <= 8191 && h >= 1 && h <= 8191;
    }

    if (b[0] == 0xFF && b[1] == 0xD8) {
        std::int64_t i = 2;
        while (i + 9 < count) {
            if (b[i] != 0xFF) {
                ++i;
                continue;
            }
            const std::uint8_t m = b[i + 1];
            if (m == 0xD8 || m == 0x01 || (m >= 0xD0 && m <= 0xD7)) {
                i += 2;
                continue;
            }
            if (m == 0xD9) return false;
            const std::uint32_t len = Be16(b + i + 2);
            if (len < 2) return false;
            if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
                const std::uint32_t h = Be16(b + i + 5), w = Be16(b + i + 7);
                height = static_cast<std::int32_t>(h);
                width = static_cast<std::int32_t>(w);
                return w >= 1 && w <= 8191 && h >= 1 && h <= 8191;
            }
            i += len + 2;
        }
        return false;
    }

    if (count >= 30 && HasAscii(b, "RIFF") && HasAscii(b + 8, "WEBP")) {
        if (HasAscii(b + 12, "VP8 ")) {
            width = static_cast<std::int32_t>(Le16(b + 26) & 0x3FFF);
            height = static_cast<std::int32_t>(Le16(b + 28) & 0x3FFF);
            return width > 0 && height > 0;
        }
        if (HasAscii(b + 12, "VP8L")) {
            const std::uint32_t v = Le32(b + 21);
            width = static_cast<std::int32_t>((v & 0x3FFF) + 1);
            height = static_cast<std::int32_t>(((v >> 14) & 0x3FFF) + 1);
            return true;
        }
        if (HasAscii(b + 12, "VP8X")) {
            // Extended header (used by tiles with transparency or metadata).
            width = static_cast<std::int32_t>(Le24(b + 24) + 1);
            height = static_cast<std::int32_t>(Le24(b + 27) + 1);
            return width <= 8191 && height <= 8191;
        }
        return false;
    }
    return false;
}

std::string OruxSidecarPath(const std::string& storePath) {
    static constexpr std::string_view kOruxSuffix = ".oruxmapsimages.db";
    const std::string_view dir = DirPart(storePath);
    const std::string_view name = FileNamePart(storePath);
    if (AsciiIEndsWith(name, kOruxSuffix)) {
        const std::string_view stem = name.substr(0, name.size() - kOruxSuffix.size());
        std::string result(dir);
        result += stem;
        if (!AsciiIEndsWith(stem, ".omm")) result += ".omm";
        return result;
    }
    const std::string_view ext = ExtensionPart(storePath);
    return storePath.substr(0, storePath.size() - ext.size()) + ".omm";
}

TileDatabase::TileDatabase() = default;

TileDatabase::~TileDatabase() {
    Close();
}

void TileDatabase::ResetStoreFields() {
    kind_ = KindNone;
    xyzRows_ = reversedZ_ = localGrid_ = geoUnknown_ = false;
    path_.clear();
    format_.clear();
    name_.clear();
    minZoom_ = maxZoom_ = 0;
    tileWidth_ = tileHeight_ = 256;
    hasBounds_ = false;
    west_ = south_ = east_ = north_ = 0.0;
    gridOffsetX_.fill(0);
    gridOffsetY_.fill(0);
    gridOffsetKnown_.fill(false);
    extents_.fill(ZoomExtent{});
    indexes_ = TableIndexes{};
}

std::string TileDatabase::ErrorMessage() const {
    return sqlite3_errmsg(db_.get());
}

bool TileDatabase::Open(const std::string& path, std::string& errorText) {
    Close();
    ResetStoreFields();
    errorText.clear();
    path_ = path;

    auto fail = [&](std::string text) {
        errorText = std::move(text);
        Close();
        return false;
    };

    if (!Connect(path, SQLITE_OPEN_READONLY))
        return fail("cannot open database: " + ErrorMessage());
    // A store locked by another process past the busy wait is reported as
    // such, not as a file without tiles. A WAL-mode store needs its "-shm"
    // file; in a folder that cannot be written, where none can be made,
    // SQLite refuses every statement. Nothing can write such a store while it
    // is open, so it is read as immutable.
    const int schemaState = ProbeSchema();
    if ((schemaState & 0xFF) == SQLITE_BUSY) return fail("cannot open database: " + ErrorMessage());
    if (((schemaState & 0xFF) == SQLITE_READONLY || (schemaState & 0xFF) == SQLITE_CANTOPEN) &&
        IsWalModeFile(path)) {
        if (!Connect(ImmutableFileUri(path), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI))
            return fail("cannot open database: " + ErrorMessage());
    }

    std::string stepError;
    if (!DetectKind(stepError)) return fail(stepError);
    ReadMetadata();
    if (kind_ == KindSqliteXyz) {
        if (LoadOruxSidecar())
            localGrid_ = true;
        else if (AsciiIEndsWith(FileNamePart(path_), ".oruxmapsimages.db"))
            geoUnknown_ = true;
    }
    if (!ReadZoomExtents(stepError)) return fail(stepError);
    if (!PrepareTileQuery(stepError)) return fail(stepError);
    ProbeTileSize();
    if (!ExtentsDisplayable()) return fail("tile extent too large to display.");
    DeriveBoundsFromExtent();
    return true;
}

bool TileDatabase::Connect(const std::string& name, int flags) {
    tileQuery_.reset();
    readBatch_.reset();
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(name.c_str(), &raw, flags, nullptr);
    db_.reset(raw);
    if (rc != SQLITE_OK) return false;
    busyWaitOn_ = true;
    sqlite3_busy_timeout(db_.get(), kBusyTimeoutMs);
    // A page cache of 32000 KiB for reads at random by tile address.
    sqlite3_exec(db_.get(), "PRAGMA cache_size=-32000;", nullptr, nullptr, nullptr);
    // No memory-mapped reads: a store that another program truncates (or a
    // card that is pulled) would end the viewer with SIGBUS on the next read
    // of a mapped page, where read() merely fails and the tile is missing.
    sqlite3_exec(db_.get(), "PRAGMA mmap_size=0;", nullptr, nullptr, nullptr);
    sqlite3_exec(db_.get(), "PRAGMA temp_store=MEMORY;", nullptr, nullptr, nullptr);
    return true;
}

// The result of a first read of the schema: SQLITE_ROW when it can be read.
// SQLITE_READONLY or SQLITE_CANTOPEN come from a WAL store whose "-shm" file
// cannot be made; SQLITE_BUSY from another process's lock outlasting the wait.
int TileDatabase::ProbeSchema() const {
    auto st = PrepareStatement(db_.get(), "select count(*) from sqlite_master;");
    return st ? sqlite3_step(st.get()) : sqlite3_errcode(db_.get());
}

// Every level the viewport can show must have a content size (tiles times
// tile size) that an int holds. An extent whose last column or row comes
// before its first has wrapped past the int range and cannot be shown either.
bool TileDatabase::ExtentsDisplayable() const {
    for (std::int32_t z = minZoom_; z <= maxZoom_; ++z) {
        if (!zoomPresent(z)) continue;
        const ZoomExtent& e = extents_[static_cast<std::size_t>(z)];
        const std::int64_t columns = std::int64_t{e.maxX} - e.minX + 1;
        const std::int64_t rows = std::int64_t{e.maxY} - e.minY + 1;
        if (columns < 1 || rows < 1 || columns * tileWidth_ > INT_MAX ||
            rows * tileHeight_ > INT_MAX)
            return false;
    }
    return true;
}

void TileDatabase::BeginReadBatch() {
    if (readBatchDepth_++ == 0 && db_) readBatch_.emplace(db_.get());
}

void TileDatabase::EndReadBatch() {
    if (readBatchDepth_ > 0 && --readBatchDepth_ == 0) readBatch_.reset();
}

void TileDatabase::Close() {
    tileQuery_.reset();
    readBatch_.reset();
    db_.reset();
    kind_ = KindNone;
    localGrid_ = false;
    geoUnknown_ = false;
    tileBuffer_.clear();
}

std::string TileDatabase::KindName() const {
    switch (kind_) {
        case KindMBTiles: return "MBTiles";
        case KindSqliteXyz: return localGrid_ ? "Orux (local grid)" : "SQLite tiles (XYZ)";
        case KindSqliteReversedZ: return "SQLite tiles (reversed z)";
        default: return "-";
    }
}

bool TileDatabase::DetectKind(std::string& errorText) {
    bool hasTable = false;
    // A view named tiles is accepted like a table: common MBTiles writers keep
    // their tiles in a view over deduplicated image tables.
    if (auto st = PrepareStatement(db_.get(),
                                   "select count(*) from sqlite_master where type in "
                                   "('table','view') and name='tiles';")) {
        if (sqlite3_step(st.get()) == SQLITE_ROW) hasTable = ColumnInt(st.get(), 0) > 0;
    }
    if (!hasTable) {
        errorText = "this file has no 'tiles' table.";
        return false;
    }

    bool hasTileData = false, hasImage = false;
    if (auto st = PrepareStatement(db_.get(), "PRAGMA table_info(tiles);")) {
        while (sqlite3_step(st.get()) == SQLITE_ROW) {
            bool isNull = false;
            const std::string column = ColumnText(st.get(), 1, isNull);
            if (AsciiIEquals(column, "tile_data")) hasTileData = true;
            if (AsciiIEquals(column, "image")) hasImage = true;
        }
    }

    if (hasTileData) {
        kind_ = KindMBTiles;
        xyzRows_ = false;
        reversedZ_ = false;
    } else if (hasImage) {
        const bool reversed = AsciiLower(ExtensionPart(path_)) == ".sqlitedb";
        kind_ = reversed ? KindSqliteReversedZ : KindSqliteXyz;
        xyzRows_ = true;
        reversedZ_ = reversed;
    } else {
        errorText = "'tiles' table has neither 'tile_data' nor 'image' column.";
        return false;
    }
    return true;
}

void TileDatabase::ReadMetadata() {
    format_ = "jpg";
    const std::string_view fileName = FileNamePart(path_);
    const std::size_t dot = fileName.rfind('.');
    name_ = std::string(dot == std::string_view::npos ? fileName : fileName.substr(0, dot));
    minZoom_ = -1;
    maxZoom_ = -1;

    auto st = PrepareStatement(db_.get(), "select name, value from metadata;");
    if (!st) return;
    while (sqlite3_step(st.get()) == SQLITE_ROW) {
        bool keyNull = false, valueNull = false;
        const std::string key = ColumnText(st.get(), 0, keyNull);
        const std::string value = ColumnText(st.get(), 1, valueNull);
        if (keyNull || valueNull) continue;

        if (AsciiIEquals(key, "name")) {
            if (!Trim(value).empty()) name_ = value;
        } else if (AsciiIEquals(key, "format")) {
            format_ = AsciiLower(value);
        } else if (AsciiIEquals(key, "bounds")) {
            double b[4];
            if (ScanFourDoubles(value, b) && b[0] >= -180 && b[2] <= 180 && b[1] >= -90 &&
                b[3] <= 90 && b[0] < b[2] && b[1] < b[3]) {
                west_ = b[0];
                south_ = b[1];
                east_ = b[2];
                north_ = b[3];
                hasBounds_ = true;
            }
        } else if (AsciiIEquals(key, "scheme")) {
            const std::string scheme = AsciiLower(Trim(value));
            if (scheme == "xyz" || scheme == "slippy") xyzRows_ = true;
            if (scheme == "tms") xyzRows_ = false;
        } else if (AsciiIEquals(key, "minzoom") || AsciiIEquals(key, "maxzoom")) {
            const std::int64_t v = AtolLike(value);
            if (v >= 0 && v <= 31) (AsciiIEquals(key, "minzoom") ? minZoom_ : maxZoom_) = Wrap32(v);
        }
    }
}

bool TileDatabase::LoadOruxSidecar() {
    const std::string sidecar = OruxSidecarPath(path_);
    if (!FileExists(sidecar)) return false;
    IniFile ini;
    if (!ini.Load(sidecar)) return false;
    int usable = 0;
    for (int z = 0; z < kZoomLevels; ++z) {
        const std::int64_t x = ini.ReadInteger("XY", "MinX_" + std::to_string(z), -1);
        const std::int64_t y = ini.ReadInteger("XY", "MinY_" + std::to_string(z), -1);
        const std::int64_t limit = std::int64_t{1} << z;
        if (x >= 0 && x < limit && y >= 0 && y < limit) {
            const auto i = static_cast<std::size_t>(z);
            gridOffsetX_[i] = static_cast<std::int32_t>(x);
            gridOffsetY_[i] = static_cast<std::int32_t>(y);
            gridOffsetKnown_[i] = true;
            ++usable;
        }
    }
    return usable > 0;
}

bool TileDatabase::ReadZoomExtents(std::string& errorText) {
    const TileColumns columns = kind_ == KindMBTiles
                                    ? TileColumns{"zoom_level", "tile_column", "tile_row"}
                                    : TileColumns{"z", "x", "y"};
    indexes_ = InspectTileIndexes(db_.get(), columns);

    int lowest = kZoomLevels, highest = -1;
    auto levelOf = [this](std::int64_t zs) { return reversedZ_ ? kReversedZBase - zs : zs; };
    // Stored zoom values outside this range name no level 0..31.
    const std::int32_t firstStored = reversedZ_ ? kReversedZBase - (kZoomLevels - 1) : 0;
    const std::int32_t lastStored = reversedZ_ ? kReversedZBase : kZoomLevels - 1;
    const StoredZoomFilter wanted(firstStored, lastStored, [&](std::int32_t zs) {
        const std::int64_t z = levelOf(zs);
        return z >= 0 && z < kZoomLevels &&
               (!localGrid_ || gridOffsetKnown_[static_cast<std::size_t>(z)]);
    });
    auto visit = [&](std::int32_t zsRead, std::int32_t x0Read, std::int32_t x1Read,
                     std::int32_t y0Read, std::int32_t y1Read) {
        const std::int64_t z = levelOf(zsRead);
        if (z < 0 || z >= kZoomLevels) return;
        const auto i = static_cast<std::size_t>(z);
        std::int64_t x0 = x0Read, x1 = x1Read, y0 = y0Read, y1 = y1Read;
        if (!xyzRows_) {
            const std::int64_t m = LastRowIndex(z);
            y0 = m - y1Read;
            y1 = m - y0Read;
        }
        if (localGrid_) {
            if (!gridOffsetKnown_[i]) return;
            x0 += gridOffsetX_[i];
            x1 += gridOffsetX_[i];
            y0 += gridOffsetY_[i];
            y1 += gridOffsetY_[i];
        }
        extents_[i] = ZoomExtent{Wrap32(x0), Wrap32(x1), Wrap32(y0), Wrap32(y1), true};
        lowest = std::min(lowest, static_cast<int>(z));
        highest = std::max(highest, static_cast<int>(z));
    };

    // An index that leads with (zoom, column) answers through seeks what the
    // grouped query would find by reading every row of the table.
    bool done = false;
    if (indexes_.zoomColumnLeading) {
        std::string ignored;
        done = SeekZoomExtents(db_.get(), columns, wanted, visit, ignored);
        if (!done) {
            extents_.fill(ZoomExtent{});
            lowest = kZoomLevels;
            highest = -1;
        }
    }
    if (!done) {
        const char* sql =
            kind_ == KindMBTiles
                ? "select zoom_level, min(tile_column), max(tile_column), min(tile_row), "
                  "max(tile_row) from tiles group by zoom_level;"
                : "select z, min(x), max(x), min(y), max(y) from tiles group by z;";
        auto st = PrepareStatement(db_.get(), sql);
        if (!st) {
            errorText = "cannot query tile extents: " + ErrorMessage();
            return false;
        }
        while (sqlite3_step(st.get()) == SQLITE_ROW)
            visit(ColumnInt(st.get(), 0), ColumnInt(st.get(), 1), ColumnInt(st.get(), 2),
                  ColumnInt(st.get(), 3), ColumnInt(st.get(), 4));
    }

    if (highest < 0) {
        errorText = "the tiles table is empty.";
        return false;
    }
    if (minZoom_ < 0 || minZoom_ < lowest) minZoom_ = lowest;
    if (maxZoom_ < 0 || maxZoom_ > highest) maxZoom_ = highest;
    while (minZoom_ <= maxZoom_ && !zoomPresent(minZoom_)) ++minZoom_;
    while (maxZoom_ >= minZoom_ && !zoomPresent(maxZoom_)) --maxZoom_;
    if (minZoom_ > maxZoom_) {
        errorText = "no usable zoom level found.";
        return false;
    }
    return true;
}

void TileDatabase::DeriveBoundsFromExtent() {
    if (hasBounds_ || !zoomPresent(maxZoom_)) return;
    const ZoomExtent& e = extents_[static_cast<std::size_t>(maxZoom_)];
    const double n = TilesAcross(maxZoom_);
    west_ = TileXToLon(e.minX, n);
    east_ = TileXToLon(static_cast<double>(e.maxX) + 1.0, n);
    north_ = TileYToLat(e.minY, n);
    south_ = TileYToLat(static_cast<double>(e.maxY) + 1.0, n);
    hasBounds_ = west_ < east_ && south_ < north_;
}

bool TileDatabase::GetZoomExtent(std::int32_t z, std::int32_t& minX, std::int32_t& maxX,
                                 std::int32_t& minY, std::int32_t& maxY) const {
    if (!zoomPresent(z)) return false;
    const ZoomExtent& e = extents_[static_cast<std::size_t>(z)];
    minX = e.minX;
    maxX = e.maxX;
    minY = e.minY;
    maxY = e.maxY;
    return true;
}

bool TileDatabase::GetBounds(double& west, double& south, double& east, double& north) const {
    if (!hasBounds_) return false;
    west = west_;
    south = south_;
    east = east_;
    north = north_;
    return true;
}

bool TileDatabase::PrepareTileQuery(std::string& errorText) {
    const char* sql = kind_ == KindMBTiles
                          ? "select tile_data from tiles where zoom_level=?1 and tile_column=?2 "
                            "and tile_row=?3;"
                          : "select image from tiles where z=?1 and x=?2 and y=?3;";
    tileQuery_ = PrepareStatement(db_.get(), sql);
    if (!tileQuery_) {
        errorText = "cannot prepare tile query: " + ErrorMessage();
        return false;
    }
    return true;
}

bool TileDatabase::ReadTile(std::int32_t z, std::int32_t x, std::int32_t y,
                            const std::uint8_t*& data, std::int32_t& count) {
    data = nullptr;
    count = 0;
    if (!db_ || !tileQuery_) return false;

    const std::int64_t zs = reversedZ_ ? kReversedZBase - std::int64_t{z} : z;
    std::int64_t ys = xyzRows_ ? std::int64_t{y} : LastRowIndex(z) - y;
    std::int64_t xs = x;
    if (localGrid_) {
        if (z < 0 || z >= kZoomLevels) return false;
        const auto i = static_cast<std::size_t>(z);
        if (!gridOffsetKnown_[i]) return false;
        xs -= gridOffsetX_[i];
        ys -= gridOffsetY_[i];
    }

    sqlite3_stmt* st = tileQuery_.get();
    sqlite3_bind_int(st, 1, Wrap32(zs));
    sqlite3_bind_int(st, 2, Wrap32(xs));
    sqlite3_bind_int(st, 3, Wrap32(ys));
    bool found = false;
    const int rc = sqlite3_step(st);
    // Another process holding a write lock costs one busy wait, not one per
    // tile: later reads fail at once until a read gets through again.
    if (rc == SQLITE_BUSY && busyWaitOn_) {
        busyWaitOn_ = false;
        sqlite3_busy_timeout(db_.get(), 0);
    } else if ((rc == SQLITE_ROW || rc == SQLITE_DONE) && !busyWaitOn_) {
        busyWaitOn_ = true;
        sqlite3_busy_timeout(db_.get(), kBusyTimeoutMs);
    }
    if (rc == SQLITE_ROW) {
        const void* p = sqlite3_column_blob(st, 0);
        const int n = sqlite3_column_bytes(st, 0);
        if (p && n > 0) {
            const auto* bytes = static_cast<const std::uint8_t*>(p);
            tileBuffer_.assign(bytes, bytes + n);
            data = tileBuffer_.data();
            count = n;
            found = true;
        }
    }
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    return found;
}

bool TileDatabase::ProbeTileSize() {
    for (std::int32_t z = minZoom_; z <= maxZoom_; ++z) {
        if (!zoomPresent(z)) continue;
        const ZoomExtent& e = extents_[static_cast<std::size_t>(z)];
        const std::uint8_t* data = nullptr;
        std::int32_t count = 0;
        if (!ReadTile(z, e.minX, e.minY, data, count)) continue;
        std::int32_t w = 0, h = 0;
        if (ProbeImageSize(data, count, w, h)) {
            tileWidth_ = w;
            tileHeight_ = h;
            return true;
        }
        break;
    }
    tileWidth_ = 256;
    tileHeight_ = 256;
    return true;
}

}  // namespace corvalis
