#include "tilesource.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>

#include "storereader.h"
#include "webmercator.h"

namespace corvalis {

namespace {

// "png", "jpg" or "webp" for a tile in one of the formats stores name; "" for
// any other.
std::string ProbedFormatName(const std::vector<std::uint8_t>& tile) {
    const TileFormat format = SniffTileFormat(tile.data(), tile.size());
    if (format == TileFormat::Png || format == TileFormat::Jpeg || format == TileFormat::WebP)
        return TileFormatName(format);
    return {};
}

}  // namespace

TileDatabase::TileDatabase() = default;

TileDatabase::~TileDatabase() {
    Close();
}

bool TileDatabase::Open(const std::string& path, std::string& errorText) {
    Close();
    facts_ = StoreFacts{};
    errorText.clear();
    path_ = path;

    auto fail = [&](std::string text) {
        errorText = std::move(text);
        Close();
        return false;
    };
    // A FIFO or a device would block the open or feed it endless bytes.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return fail("not a regular file.");
    ResumeReads();
    std::string stepError;
    reader_ = OpenStoreReader(path, facts_, stepError);
    if (!reader_) return fail(stepError);
    reader_->WatchInterrupt(&interrupted_);
    if (!SettleZoomRange(stepError)) return fail(stepError);
    if (!reader_->PrepareReads(stepError)) return fail(stepError);
    ProbeTileSize();
    if (!ExtentsDisplayable()) return fail("tile extent too large to display.");
    DeriveBoundsFromExtent();
    return true;
}

void TileDatabase::Close() {
    reader_.reset();
    facts_.kind = KindNone;
    facts_.localGrid = false;
    facts_.geoUnknown = false;
    tileBuffer_.clear();
}

std::string TileDatabase::KindName() const {
    return facts_.kind == KindNone || facts_.kindName.empty() ? "-" : facts_.kindName;
}

// The levels found in the tiles, narrowed (never widened) by the zoom range
// the metadata gives, then cut to levels that hold tiles at both ends.
bool TileDatabase::SettleZoomRange(std::string& errorText) {
    int lowest = kZoomLevels, highest = -1;
    for (int z = 0; z < kZoomLevels; ++z) {
        if (!zoomPresent(z)) continue;
        lowest = std::min(lowest, z);
        highest = std::max(highest, z);
    }
    if (highest < 0) {
        errorText = "the tiles table is empty.";
        return false;
    }
    std::int32_t& minZoom = facts_.minZoom;
    std::int32_t& maxZoom = facts_.maxZoom;
    if (minZoom < 0 || minZoom < lowest) minZoom = lowest;
    if (maxZoom < 0 || maxZoom > highest) maxZoom = highest;
    while (minZoom <= maxZoom && !zoomPresent(minZoom)) ++minZoom;
    while (maxZoom >= minZoom && !zoomPresent(maxZoom)) --maxZoom;
    if (minZoom > maxZoom) {
        errorText = "no usable zoom level found.";
        return false;
    }
    return true;
}

// Every level the viewport can show must have a content size (tiles times
// tile size) that an int holds. An extent whose last column or row comes
// before its first has wrapped past the int range and cannot be shown either.
bool TileDatabase::ExtentsDisplayable() const {
    for (std::int32_t z = facts_.minZoom; z <= facts_.maxZoom; ++z) {
        if (!zoomPresent(z)) continue;
        const ZoomExtent& e = facts_.Extent(z);
        const std::int64_t columns = std::int64_t{e.maxX} - e.minX + 1;
        const std::int64_t rows = std::int64_t{e.maxY} - e.minY + 1;
        if (columns < 1 || rows < 1 || columns * facts_.tileWidth > INT_MAX ||
            rows * facts_.tileHeight > INT_MAX)
            return false;
    }
    return true;
}

void TileDatabase::DeriveBoundsFromExtent() {
    if (facts_.hasBounds || !zoomPresent(facts_.maxZoom)) return;
    const ZoomExtent& e = facts_.Extent(facts_.maxZoom);
    const double n = TilesAcross(facts_.maxZoom);
    facts_.west = TileXToLon(e.minX, n);
    facts_.east = TileXToLon(static_cast<double>(e.maxX) + 1.0, n);
    facts_.north = TileYToLat(e.minY, n, facts_.ellipsoidal);
    facts_.south = TileYToLat(static_cast<double>(e.maxY) + 1.0, n, facts_.ellipsoidal);
    facts_.hasBounds = facts_.west < facts_.east && facts_.south < facts_.north;
}

namespace {
std::atomic<VectorTileRecogniser> gVectorRecogniser{nullptr};
}  // namespace

void SetVectorTileRecogniser(VectorTileRecogniser recogniser) {
    gVectorRecogniser.store(recogniser, std::memory_order_release);
}

// A corner tile without a picture header that the recogniser takes makes the
// store a vector store.
bool TileDatabase::RecogniseVectorCorner() {
    const VectorTileRecogniser recognise = gVectorRecogniser.load(std::memory_order_acquire);
    if (recognise == nullptr || !recognise(tileBuffer_.data(), tileBuffer_.size())) return false;
    facts_.vector = true;
    // A picture format's name (MBTiles says "jpg" when it names none) is
    // plainly wrong for these tiles; any other stored name is kept.
    const std::string& f = facts_.format;
    if (facts_.formatFromProbe || f.empty() || f == "jpg" || f == "jpeg" || f == "png" ||
        f == "webp")
        facts_.format = "pbf";
    return true;
}

// A vector store's tiles are the size it declares, else kVectorTileSize.
// Otherwise: the size of the first corner tile whose header tells one; 256 x 256 when
// the first readable corner tile has no header that does, or announces a
// picture larger than any tile the decoder draws. A layout without a stored
// format name takes that tile's.
void TileDatabase::ProbeTileSize() {
    facts_.vector = facts_.vector || facts_.format == "pbf" || facts_.format == "mvt";
    const std::int32_t vectorSize = facts_.tileSizeHint > 0 ? facts_.tileSizeHint : kVectorTileSize;
    facts_.tileWidth = facts_.tileHeight = facts_.vector ? vectorSize : 256;
    if (facts_.vector) return;
    if (facts_.formatFromProbe) facts_.format.clear();
    for (std::int32_t z = facts_.minZoom; z <= facts_.maxZoom; ++z) {
        if (!zoomPresent(z)) continue;
        const ZoomExtent& e = facts_.Extent(z);
        std::int32_t w = 0, h = 0;
        if (!ProbeCornerTile(z, e.minX, e.minY, w, h)) continue;
        if (w == 0 && RecogniseVectorCorner()) {
            facts_.tileWidth = facts_.tileHeight = vectorSize;
            return;
        }
        if (facts_.formatFromProbe) facts_.format = ProbedFormatName(tileBuffer_);
        if (w > 0 && w <= kMaxTileSide && h > 0 && h <= kMaxTileSide) {
            facts_.tileWidth = w;
            facts_.tileHeight = h;
        }
        return;
    }
}

// Reads the tile's header from its first bytes, and the whole tile only when
// a header (a JPEG's frame header after large segments) lies beyond them.
// False when the tile cannot be read; w and h stay 0 when no header tells.
bool TileDatabase::ProbeCornerTile(std::int32_t z, std::int32_t x, std::int32_t y, std::int32_t& w,
                                   std::int32_t& h) {
    constexpr std::size_t kHeadBytes = 64 << 10;
    std::size_t total = 0;
    if (!reader_->ReadTileHead(z, x, y, kHeadBytes, tileBuffer_, total) || tileBuffer_.empty())
        return false;
    const auto probe = [&] {
        return ProbeImageSize(tileBuffer_.data(), static_cast<std::int64_t>(tileBuffer_.size()), w,
                              h);
    };
    if (probe()) return true;
    if (total > tileBuffer_.size() && ReadTile(z, x, y, tileBuffer_) && probe()) return true;
    w = h = 0;
    return true;
}

bool TileDatabase::GetZoomExtent(std::int32_t z, std::int32_t& minX, std::int32_t& maxX,
                                 std::int32_t& minY, std::int32_t& maxY) const {
    if (!zoomPresent(z)) return false;
    const ZoomExtent& e = facts_.Extent(z);
    minX = e.minX;
    maxX = e.maxX;
    minY = e.minY;
    maxY = e.maxY;
    return true;
}

bool TileDatabase::GetBounds(double& west, double& south, double& east, double& north) const {
    if (!facts_.hasBounds) return false;
    west = facts_.west;
    south = facts_.south;
    east = facts_.east;
    north = facts_.north;
    return true;
}

bool TileDatabase::ReadTile(std::int32_t z, std::int32_t x, std::int32_t y,
                            std::vector<std::uint8_t>& bytes) {
    if (!reader_ || interrupted_.load(std::memory_order_acquire)) return false;
    if (readHook_) readHook_(z, x, y);
    return reader_->ReadTile(z, x, y, bytes) && !bytes.empty();
}

bool TileDatabase::ReadTile(std::int32_t z, std::int32_t x, std::int32_t y,
                            const std::uint8_t*& data, std::int32_t& count) {
    data = nullptr;
    count = 0;
    if (!ReadTile(z, x, y, tileBuffer_)) return false;
    data = tileBuffer_.data();
    count = static_cast<std::int32_t>(tileBuffer_.size());
    return true;
}

bool TileDatabase::ScanTiles(const TileScanVisitor& visit, std::string& errorText) {
    if (!reader_) {
        errorText = "no store is open";
        return false;
    }
    return reader_->ScanTiles(visit, errorText);
}

std::optional<std::int64_t> TileDatabase::CountTiles(const StopRequested& stop) {
    return reader_ ? reader_->CountTiles(stop) : std::nullopt;
}

std::optional<std::string> TileDatabase::IntegrityCheck(const StopRequested& stop) {
    return reader_ ? reader_->IntegrityCheck(stop) : std::nullopt;
}

void TileDatabase::BeginReadBatch() {
    if (readBatchDepth_++ == 0 && reader_) reader_->BeginReadBatch();
}

void TileDatabase::EndReadBatch() {
    if (readBatchDepth_ > 0 && --readBatchDepth_ == 0 && reader_) reader_->EndReadBatch();
}

}  // namespace corvalis
