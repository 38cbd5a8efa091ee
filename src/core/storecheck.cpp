// The check's pass over the tiles, and what it settles afterwards.
#include "storecheck.h"

#include <algorithm>
#include <thread>

#include "imageformat.h"
#include "logging.h"
#include "storecheck_coverage.h"
#include "storecheck_ledger.h"
#include "storecheck_rules.h"
#include "tilesource.h"

namespace corvalis {

namespace {

constexpr std::size_t kReasonKinds = 16;
constexpr std::int32_t kLargestScratchSide = 1024;
constexpr std::int64_t kProgressEvery = 1024;

std::size_t Index(CheckFormat format) {
    return static_cast<std::size_t>(format);
}

void CountBytes(LevelFacts& level, std::int64_t bytes) {
    level.minBytes = level.tiles == 0 ? bytes : std::min(level.minBytes, bytes);
    level.maxBytes = std::max(level.maxBytes, bytes);
    level.bytes += bytes;
    ++level.tiles;
}

void CountSize(LevelFacts& level, std::int32_t width, std::int32_t height) {
    for (SizeCount& s : level.sizes)
        if (s.width == width && s.height == height) {
            ++s.tiles;
            return;
        }
    if (level.sizes.size() < kSizeKinds)
        level.sizes.push_back({width, height, 1});
    else
        ++level.otherSizes;
}

void Widen(LevelFacts& level, std::int64_t x, std::int64_t y) {
    if (!level.hasExtent) {
        level.hasExtent = true;
        level.minX = level.maxX = x;
        level.minY = level.maxY = y;
        return;
    }
    level.minX = std::min(level.minX, x);
    level.maxX = std::max(level.maxX, x);
    level.minY = std::min(level.minY, y);
    level.maxY = std::max(level.maxY, y);
}

// A picture larger than the scratch limit is decoded into a cell halved until
// it fits (JPEG then decodes at a reduced scale), like an overview would.
void FitScratch(std::int32_t& width, std::int32_t& height) {
    while (width > kLargestScratchSide || height > kLargestScratchSide) {
        width = std::max(1, width / 2);
        height = std::max(1, height / 2);
    }
}

class CheckPass {
public:
    CheckPass(TileDatabase& store, const CheckOptions& options, CheckReport& report)
        : store_(store), options_(options), report_(report), rules_(store.stated().format) {
        ledger_.Reserve(options.expectedTiles.value_or(0));
    }

    void Scan();
    // integrityAlongside: the integrity check runs on a thread of its own.
    void Settle(bool integrityAlongside);

private:
    bool Visit(const ScannedTile& tile);
    void Place(const ScannedTile& tile, const TileSample& at, std::uint32_t& entry);
    bool JudgeContent(const ScannedTile& tile, CheckFormat format, const TileSample& at,
                      DecodeJob& job);
    void AddUndecodable(TileSample sample, std::uint32_t entry);
    void TakeResults(bool wait);
    void Report(const char* phase, std::int64_t done, std::int64_t total) const;

    TileDatabase& store_;
    const CheckOptions& options_;
    CheckReport& report_;
    FormatRules rules_;
    TileLedger ledger_;
    std::vector<DecodeResult> results_;
    std::uint64_t order_ = 0;
};

void CheckPass::Report(const char* phase, std::int64_t done, std::int64_t total) const {
    if (options_.progress) options_.progress({phase, done, total});
}

void CheckPass::Scan() {
    std::string error;
    const bool read = store_.ScanTiles([this](const ScannedTile& t) { return Visit(t); }, error);
    if (!read) report_.scanError = error;
    TakeResults(true);
}

bool CheckPass::Visit(const ScannedTile& tile) {
    ++report_.tiles;
    report_.bytes += tile.storedSize;
    const bool placed = tile.placement != TilePlacement::Unplaced;
    const TileSample at{order_++, tile.z, tile.x, tile.y, !placed, {}};
    const CheckFormat format = CheckFormatOf(tile.data, tile.size);
    if (placed) {
        LevelFacts& level = report_.levels[static_cast<std::size_t>(tile.z)];
        CountBytes(level, tile.storedSize);
        ++level.formats[Index(format)];
    } else {
        ++report_.unplaced;
    }
    std::uint32_t entry = kNoEntry;
    Place(tile, at, entry);
    DecodeJob job{at.order, at.z, at.x, at.y, at.stored, entry, 0, 0};
    if (JudgeContent(tile, format, at, job)) ledger_.MarkProblem(entry);
    if (job.width > 0) options_.decoder->Submit(job, tile.data, tile.size);
    if (static_cast<std::int64_t>(at.order) % kProgressEvery == kProgressEvery - 1) {
        if (options_.decode) TakeResults(false);
        Report("reading tiles", static_cast<std::int64_t>(at.order + 1),
               options_.expectedTiles.value_or(0));
        if (options_.stop && options_.stop()) {
            report_.interrupted = true;
            return false;
        }
    }
    return true;
}

void CheckPass::Place(const ScannedTile& tile, const TileSample& at, std::uint32_t& entry) {
    if (tile.placement == TilePlacement::InGrid) {
        Widen(report_.levels[static_cast<std::size_t>(tile.z)], tile.x, tile.y);
        const std::uint64_t hash = tile.data != nullptr ? ContentHash(tile.data, tile.size) : 0;
        entry = ledger_.AddInGrid(static_cast<std::int32_t>(tile.z), tile.x, tile.y, hash);
        return;
    }
    TileSample sample = at;
    if (tile.placement == TilePlacement::OutsideGrid)
        ++report_.levels[static_cast<std::size_t>(tile.z)].outside;
    else
        sample.note = "stored numbers; no level";
    report_.outsideGrid.Add(std::move(sample));
    ledger_.AddOther(tile.z, tile.x, tile.y, at.stored);
}

// Format, pixel size and bytes; true when they make the tile a problem. Sets
// the job's size when the tile is to be decoded.
bool CheckPass::JudgeContent(const ScannedTile& tile, CheckFormat format, const TileSample& at,
                             DecodeJob& job) {
    if (tile.data == nullptr) {
        TileSample sample = at;
        sample.note = tile.storedSize == 0 ? "no data" : "larger than 64 MiB, not read";
        AddUndecodable(std::move(sample), kNoEntry);
        return true;
    }
    bool problem = false;
    if (!rules_.Matches(format)) {
        TileSample sample = at;
        sample.note = CheckFormatName(format);
        report_.formatMismatch.Add(std::move(sample));
        problem = true;
    }
    if (!rules_.Raster(format)) return problem;
    std::int32_t w = 0, h = 0;
    const bool sized = ProbeImageSize(tile.data, static_cast<std::int64_t>(tile.size), w, h);
    if (tile.placement != TilePlacement::Unplaced) {
        LevelFacts& level = report_.levels[static_cast<std::size_t>(tile.z)];
        if (sized)
            CountSize(level, w, h);
        else
            ++level.unsized;
    }
    if (sized && (w != report_.tileWidth || h != report_.tileHeight)) {
        TileSample sample = at;
        sample.note = std::to_string(w) + "x" + std::to_string(h);
        report_.sizeMismatch.Add(std::move(sample));
        problem = true;
    }
    if (options_.decode) {
        job.width = sized ? w : report_.tileWidth;
        job.height = sized ? h : report_.tileHeight;
        FitScratch(job.width, job.height);
    }
    return problem;
}

void CheckPass::AddUndecodable(TileSample sample, std::uint32_t entry) {
    auto& reasons = report_.undecodableReasons;
    auto it = std::find_if(reasons.begin(), reasons.end(),
                           [&](const auto& r) { return r.first == sample.note; });
    if (it != reasons.end())
        ++it->second;
    else if (reasons.size() < kReasonKinds)
        reasons.emplace_back(sample.note, 1);
    else if (reasons.back().first == "other reasons")
        ++reasons.back().second;
    else
        reasons.emplace_back("other reasons", 1);
    report_.undecodable.Add(std::move(sample));
    ledger_.MarkProblem(entry);
}

void CheckPass::TakeResults(bool wait) {
    if (!options_.decode) return;
    results_.clear();
    options_.decoder->Collect(results_, wait);
    for (DecodeResult& r : results_) {
        TileSample sample{r.job.order, r.job.z, r.job.x, r.job.y, r.job.stored, {}};
        if (!r.decoded) {
            sample.note = r.error.empty() ? "cannot be decoded" : std::move(r.error);
            AddUndecodable(std::move(sample), r.job.entry);
        } else if (r.singleColour) {
            sample.note = Format("#%06x", r.colour & 0xFFFFFFu);
            report_.singleColour.Add(std::move(sample));
        }
    }
}

// What the ledger tells once every tile has been met.
void CheckPass::Settle(bool integrityAlongside) {
    std::array<std::int64_t, kZoomLevels> distinct{};
    ledger_.FindDuplicateRows(report_.duplicateRows, distinct);
    for (std::size_t z = 0; z < report_.levels.size(); ++z) {
        LevelFacts& level = report_.levels[z];
        if (!level.hasExtent) continue;
        const std::int64_t area = (level.maxX - level.minX + 1) * (level.maxY - level.minY + 1);
        level.holes = area - distinct[z];
    }
    if (options_.coverage) report_.coverage = BuildCoverage(ledger_.SortedEntries(), report_);
    CheckMetadata(store_.stated(), report_);
    const StopRequested& stop = options_.stop;
    report_.duplicates = ledger_.FindDuplicateContents(store_, report_.tiles, options_);
    if (!integrityAlongside && !(stop && stop())) {
        Report("checking the file's structure", 0, 0);
        report_.integrity = store_.IntegrityCheck(stop);
    }
    if (stop && stop()) report_.interrupted = true;
}

}  // namespace

bool DecodeByDefault(std::optional<std::int64_t> tileCount) {
    return tileCount && *tileCount < kDecodeByDefaultBelow;
}

CheckReport RunStoreCheck(TileDatabase& store, const CheckOptions& options) {
    CheckReport report;
    report.store = store.path();
    report.kind = store.KindName();
    report.statedFormat = store.stated().format.value_or("");
    report.tileWidth = store.tileWidth();
    report.tileHeight = store.tileHeight();
    report.noIndex = !store.hasTileIndex();
    CheckOptions used = options;
    used.decode = options.decode && options.decoder != nullptr;
    report.decoded = used.decode;
    report.decodeThreads = used.decode ? options.decoder->Threads() : 0;
    CheckPass pass(store, used, report);
    // Without decoding the pass keeps one core busy: the file's structure is
    // checked meanwhile on another, through a connection of its own.
    std::optional<std::string> verdict;
    std::jthread integrity;
    if (!used.decode) integrity = std::jthread([&] { verdict = store.IntegrityCheck(used.stop); });
    pass.Scan();
    pass.Settle(integrity.joinable());
    if (integrity.joinable()) {
        integrity.join();
        report.integrity = verdict;
        if (used.stop && used.stop()) report.interrupted = true;
    }
    return report;
}

}  // namespace corvalis
