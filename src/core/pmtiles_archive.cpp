#include "pmtiles_archive.h"

#include <algorithm>

#include "jsonscan.h"
#include "pmtiles_hilbert.h"
#include "storefacts.h"

namespace corvalis {

namespace {

constexpr std::size_t kChunkSize = 256 * 1024;
// Leaf entries of the root gathered before their leaves are read, in file
// order; a root with more is read batch by batch.
constexpr std::size_t kLeafBatch = 64 * 1024;
constexpr char kOutside[] = "PMTiles directory points outside the file.";
// What reading one directory costs beyond its bytes, for the walk's budget.
constexpr std::uint64_t kSectionCharge = 4096;

}  // namespace

PmtilesArchive::PmtilesArchive() : leaves_(kLeafCacheBudget) {}

PmtilesArchive::~PmtilesArchive() = default;

void PmtilesArchive::Close() {
    source_.reset();
    header_ = PmtilesHeader{};
    internal_ = Compression::None;
    root_ = PmtilesDirectory{};
    leaves_.Clear();
    levels_ = PmtilesLevels{};
    name_.clear();
    chunk_ = {};
    budget_ = UINT64_MAX;
}

bool PmtilesArchive::Open(const std::string& path, std::string& errorText) {
    Close();
    auto source = FileByteSource::Open(path, errorText);
    if (!source) return false;
    return Open(std::move(source), errorText);
}

bool PmtilesArchive::Open(std::unique_ptr<ByteSource> source, std::string& errorText) {
    Close();
    errorText.clear();
    auto fail = [&](std::string text) {
        Close();
        errorText = std::move(text);
        return false;
    };
    if (!source) return fail("cannot read file.");
    source_ = std::move(source);
    budget_ = WalkBudget();
    std::uint8_t head[kPmtilesHeaderSize] = {};
    const auto headSize =
        static_cast<std::size_t>(std::min<std::uint64_t>(source_->size(), kPmtilesHeaderSize));
    if (!source_->ReadAt(0, headSize, head)) return fail("cannot read file.");
    std::string text;
    if (!ParsePmtilesHeader(head, headSize, header_, text)) return fail(text);
    internal_ = *PmtilesCompressionOf(header_.internalCompression);

    std::vector<std::uint8_t> bytes;
    if (!ReadSection(header_.rootOffset, header_.rootLength, kDirectoryLimit, bytes, text) ||
        !root_.Parse(std::move(bytes), text))
        return fail(text);
    PmtilesExtentsBuilder extents;
    const bool walked = Walk(
        [&](const PmtilesEntry& e) {
            extents.AddRun(e.tileId, e.runLength);
            return true;
        },
        true, text);
    budget_ = UINT64_MAX;
    if (!walked) return fail(text);
    extents.Finish();
    levels_ = extents.levels();
    ReadName();
    return true;
}

// Reads and decompresses a directory or the metadata, holding the output to
// limit; the input is read in chunks, never whole.
bool PmtilesArchive::ReadSection(std::uint64_t offset, std::uint64_t length, std::size_t limit,
                                 std::vector<std::uint8_t>& out, std::string& errorText) {
    out.clear();
    if (!RangeWithin(offset, length, source_->size())) {
        errorText = kOutside;
        return false;
    }
    // The bytes read and a fixed cost for the read are counted first, the
    // output once it is known.
    if (!Charge(std::min(length, UINT64_MAX - kSectionCharge) + kSectionCharge, errorText))
        return false;
    if (internal_ == Compression::None && length > limit) {
        errorText = "PMTiles directory decompresses to more than 64 MiB.";
        return false;
    }
    Decompressor d(internal_, limit);
    if (internal_ == Compression::None) d.output().reserve(static_cast<std::size_t>(length));
    if (chunk_.size() < kChunkSize) chunk_.resize(kChunkSize);
    DecompressStatus status = DecompressStatus::More;
    for (std::uint64_t done = 0; status == DecompressStatus::More;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, kChunkSize));
        if (!source_->ReadAt(offset + done, n, chunk_.data())) {
            errorText = "PMTiles directory cannot be read.";
            return false;
        }
        done += n;
        status = d.Feed(chunk_.data(), n, done == length);
    }
    if (status == DecompressStatus::Ok) {
        out = std::move(d.output());
        return Charge(out.size(), errorText);
    }
    errorText = status == DecompressStatus::TooLarge
                    ? "PMTiles directory decompresses to more than 64 MiB."
                    : "PMTiles directory cannot be decompressed.";
    return false;
}

// A walk over all directories reads and decompresses at most this much
// (each read also counted as kSectionCharge bytes): far more than any archive's
// directories take next to its tiles, yet it keeps a small hostile file
// from making its leaves, or one leaf many times over, cost hours to read.
std::uint64_t PmtilesArchive::WalkBudget() const {
    const std::uint64_t size = source_->size();
    const std::uint64_t scaled = size > UINT64_MAX / 16 ? UINT64_MAX : 16 * size;
    return std::max<std::uint64_t>(4 * std::uint64_t{kDirectoryLimit}, scaled);
}

bool PmtilesArchive::Charge(std::uint64_t bytes, std::string& errorText) {
    if (budget_ == UINT64_MAX) return true;
    if (bytes > budget_) {
        errorText = "PMTiles directories are too large for the file.";
        return false;
    }
    budget_ -= bytes;
    return true;
}

// Reads one leaf directory, checking while it is parsed that it holds tiles
// only, all within the ids its root entry gives it.
bool PmtilesArchive::LoadLeaf(const LeafRef& ref, PmtilesDirectory& dir,
                              const PmtilesDirectory::Visitor& visit, std::string& errorText) {
    const PmtilesEntry& leaf = ref.entry;
    if (leaf.offset > UINT64_MAX - header_.leafOffset) {
        errorText = kOutside;
        return false;
    }
    std::vector<std::uint8_t> bytes;
    if (!ReadSection(header_.leafOffset + leaf.offset, leaf.length, kDirectoryLimit, bytes,
                     errorText))
        return false;
    std::string stop;
    const bool parsed = dir.Parse(std::move(bytes), errorText, [&](const PmtilesEntry& e) {
        if (e.runLength == 0) {
            stop = "PMTiles leaf directories nest deeper than one level.";
            return false;
        }
        if (e.tileId < leaf.tileId || e.tileId >= ref.endId || e.runLength > ref.endId - e.tileId) {
            stop = "PMTiles directory entries are out of order.";
            return false;
        }
        return !visit || visit(e);
    });
    if (!parsed && errorText.empty()) errorText = stop;
    return parsed;
}

// The root's tile entries as they come; its leaves in batches, each read in
// file order.
bool PmtilesArchive::Walk(const PmtilesDirectory::Visitor& visitTile, bool keepLeaves,
                          std::string& errorText) {
    errorText.clear();
    std::vector<LeafRef> batch;
    batch.reserve(std::min(root_.size(), kLeafBatch));
    PmtilesEntry pending;
    bool hasPending = false;
    // A stop by the visitor leaves errorText empty; a directory that fails sets it.
    const bool completed = root_.ForEach([&](const PmtilesEntry& e) {
        if (hasPending) {
            batch.push_back({pending, e.tileId});
            hasPending = false;
            if (batch.size() == kLeafBatch && !WalkLeaves(batch, visitTile, keepLeaves, errorText))
                return false;
        }
        if (e.runLength == 0) {
            pending = e;
            hasPending = true;
            return true;
        }
        return visitTile(e);
    });
    if (!completed) return false;
    if (hasPending) batch.push_back({pending, UINT64_MAX});
    return WalkLeaves(batch, visitTile, keepLeaves, errorText);
}

bool PmtilesArchive::WalkLeaves(std::vector<LeafRef>& batch,
                                const PmtilesDirectory::Visitor& visitTile, bool keepLeaves,
                                std::string& errorText) {
    std::sort(batch.begin(), batch.end(),
              [](const LeafRef& a, const LeafRef& b) { return a.entry.offset < b.entry.offset; });
    for (const LeafRef& ref : batch) {
        PmtilesDirectory dir;
        if (!LoadLeaf(ref, dir, visitTile, errorText)) return false;
        if (keepLeaves) leaves_.Insert({ref.entry.offset, ref.entry.length}, std::move(dir));
    }
    batch.clear();
    return true;
}

void PmtilesArchive::ReadName() {
    std::vector<std::uint8_t> bytes;
    std::string ignored;
    if (header_.metadataLength == 0 || !ReadSection(header_.metadataOffset, header_.metadataLength,
                                                    kMetadataLimit, bytes, ignored))
        return;
    const std::string_view json(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    name_ = JsonTopLevelString(json, "name").value_or("");
    vectorLayers_ = JsonVectorLayerIds(json, kMaxVectorLayerIds);
}

bool PmtilesArchive::HeaderBounds(double& west, double& south, double& east, double& north) const {
    if (header_.minLonE7 == 0 && header_.minLatE7 == 0 && header_.maxLonE7 == 0 &&
        header_.maxLatE7 == 0)
        return false;
    west = header_.minLonE7 / 1e7;
    south = header_.minLatE7 / 1e7;
    east = header_.maxLonE7 / 1e7;
    north = header_.maxLatE7 / 1e7;
    return true;
}

PmtilesTileRun PmtilesArchive::RunOf(const PmtilesEntry& e) const {
    return {e.tileId, e.runLength, header_.tileDataOffset + e.offset, e.length};
}

// The leaf of a root entry, from the cache or read into scratch (and cached
// when it fits); null when it cannot be read.
const PmtilesDirectory* PmtilesArchive::Leaf(const PmtilesEntry& entry, PmtilesDirectory& scratch) {
    const PmtilesLeafCache::Key key{entry.offset, entry.length};
    if (const PmtilesDirectory* cached = leaves_.Find(key)) return cached;
    std::string ignored;
    if (!LoadLeaf({entry, UINT64_MAX}, scratch, nullptr, ignored)) return nullptr;
    const PmtilesDirectory* kept = leaves_.Insert(key, std::move(scratch));
    return kept ? kept : &scratch;
}

bool PmtilesArchive::FindTile(std::int32_t z, std::int32_t x, std::int32_t y, PmtilesTileRun& run) {
    std::uint64_t id = 0;
    PmtilesEntry e;
    if (!source_ || !PmtilesTileId(z, x, y, id) || !root_.Find(id, e)) return false;
    if (e.runLength == 0) {
        PmtilesDirectory scratch;
        const PmtilesDirectory* leaf = Leaf(e, scratch);
        if (!leaf || !leaf->Find(id, e) || e.runLength == 0) return false;
    }
    if (id - e.tileId >= e.runLength || e.offset > UINT64_MAX - header_.tileDataOffset)
        return false;
    run = RunOf(e);
    return true;
}

bool PmtilesArchive::ReadBytes(std::uint64_t offset, std::uint64_t length,
                               std::vector<std::uint8_t>& out) {
    out.clear();
    if (!source_ || length == 0 || length > kTileLimit ||
        !RangeWithin(offset, length, source_->size()))
        return false;
    out.resize(static_cast<std::size_t>(length));
    if (source_->ReadAt(offset, out.size(), out.data())) return true;
    out.clear();
    return false;
}

bool PmtilesArchive::ReadStoredTile(std::int32_t z, std::int32_t x, std::int32_t y,
                                    std::vector<std::uint8_t>& out) {
    PmtilesTileRun run;
    if (!FindTile(z, x, y, run)) {
        out.clear();
        return false;
    }
    return ReadBytes(run.offset, run.length, out);
}

bool PmtilesArchive::ReadTile(std::int32_t z, std::int32_t x, std::int32_t y,
                              std::vector<std::uint8_t>& out) {
    if (header_.tileCompression != kPmtilesCompressionNone) {
        out.clear();
        return false;
    }
    return ReadStoredTile(z, x, y, out);
}

bool PmtilesArchive::ForEachRun(const RunVisitor& visit, std::string& errorText) {
    errorText.clear();
    if (!source_) return true;
    budget_ = WalkBudget();
    const bool walked = Walk(
        [&](const PmtilesEntry& e) {
            // An entry whose bytes would wrap past 2^64 names no place in the file.
            return e.offset > UINT64_MAX - header_.tileDataOffset || visit(RunOf(e));
        },
        false, errorText);
    budget_ = UINT64_MAX;
    return walked;
}

bool PmtilesArchive::ForEachTile(const TileVisitor& visit, std::string& errorText) {
    return ForEachRun(
        [&](const PmtilesTileRun& run) {
            PmtilesTile tile{0, 0, 0, run.offset, run.length};
            for (std::uint64_t k = 0; k < run.runLength; ++k) {
                if (!PmtilesTileOf(run.tileId + k, tile.z, tile.x, tile.y)) return true;
                if (!visit(tile)) return false;
            }
            return true;
        },
        errorText);
}

}  // namespace corvalis
