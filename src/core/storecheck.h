// The store check: one pass over every tile of an open store, in storage
// order, that counts what each level holds and finds what is wrong with it.
// Decoding, the JSON and the coverage picture are done elsewhere (src/render);
// this layer reads, counts and judges.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "storefacts.h"
#include "tilescan.h"

namespace corvalis {

class TileDatabase;

// The formats the check tells tiles apart by, from their leading bytes.
enum class CheckFormat : std::uint8_t { Png, Jpg, Webp, Gif, GzipVector, Other };
inline constexpr std::size_t kCheckFormats = 6;
// "png", "jpg", "webp", "gif", "gzip-vector" or "other".
const char* CheckFormatName(CheckFormat format);
CheckFormat CheckFormatOf(const std::uint8_t* bytes, std::size_t count);

// Each kind of finding lists this many tiles, the first ones of the scan.
inline constexpr std::size_t kSampleLimit = 20;

// One tile named by a finding: world numbers, or for a tile whose stored
// numbers name no level (stored), the numbers as the file holds them.
struct TileSample {
    std::uint64_t order = 0;  // its place in the scan (or in key order)
    std::int64_t z = 0;
    std::int64_t x = 0;
    std::int64_t y = 0;
    bool stored = false;
    std::string note;  // the reason or what was found; may come from the store
};

// A kind of finding: how many there are and the first kSampleLimit by order.
struct Finding {
    std::int64_t count = 0;
    std::vector<TileSample> samples;

    void Add(TileSample sample);
};

// Tiles of one pixel size, as their headers tell it.
struct SizeCount {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int64_t tiles = 0;
};
inline constexpr std::size_t kSizeKinds = 8;

struct LevelFacts {
    std::int64_t tiles = 0;  // rows, duplicate rows and tiles outside the grid included
    std::int64_t bytes = 0;
    std::int64_t minBytes = 0;
    std::int64_t maxBytes = 0;
    std::array<std::int64_t, kCheckFormats> formats{};
    std::vector<SizeCount> sizes;  // the first kSizeKinds sizes met
    std::int64_t otherSizes = 0;   // tiles of further sizes
    std::int64_t unsized = 0;      // tiles whose header tells no size
    // The rectangle of the tiles within the grid, and the cells in it without one.
    bool hasExtent = false;
    std::int64_t minX = 0;
    std::int64_t maxX = 0;
    std::int64_t minY = 0;
    std::int64_t maxY = 0;
    std::int64_t holes = 0;
    std::int64_t outside = 0;  // tiles outside 0..2^z-1
};

// Tiles of identical content: by a 64-bit hash with the length, confirmed
// byte for byte against the first tile of each group.
struct DuplicateContents {
    std::int64_t tiles = 0;  // confirmed copies beyond the first of each group
    std::int64_t bytes = 0;  // their bytes
    std::int64_t groups = 0;
    std::int64_t candidates = 0;  // copies by hash alone
    bool confirmed = true;        // false when the confirmation was stopped
};

// One level of the coverage picture: a grid of cells, each covering step x
// step tiles of the level's extent from (minX, minY).
enum CoverageCell : std::uint8_t { kCoverageHole = 0, kCoveragePresent = 1, kCoverageProblem = 2 };
struct CoverageLevel {
    std::int32_t z = 0;
    std::int64_t minX = 0;
    std::int64_t minY = 0;
    std::int64_t step = 1;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> cells;  // CoverageCell, row by row
};

struct CheckReport {
    std::string store;
    std::string kind;
    std::string statedFormat;  // the metadata's format; empty when it names none
    std::int32_t tileWidth = 0;
    std::int32_t tileHeight = 0;
    std::int64_t tiles = 0;
    std::int64_t bytes = 0;
    std::array<LevelFacts, kZoomLevels> levels{};
    std::int64_t unplaced = 0;  // tiles whose stored zoom names no level
    bool decoded = false;
    int decodeThreads = 0;
    bool interrupted = false;
    std::string scanError;  // the scan could not read the store to its end

    // Problems.
    Finding undecodable;
    Finding formatMismatch;
    Finding sizeMismatch;
    Finding outsideGrid;
    Finding duplicateRows;
    std::vector<std::string> metadata;  // one text per disagreement
    bool noIndex = false;
    std::optional<std::string> integrity;  // quick_check's verdict; none when not run
    std::vector<std::pair<std::string, std::int64_t>> undecodableReasons;

    // Reported, not problems.
    DuplicateContents duplicates;
    Finding singleColour;  // decoded tiles of one colour (note: "#rrggbb")
    std::vector<CoverageLevel> coverage;

    std::int64_t Holes() const;
    bool IntegrityFailed() const { return !scanError.empty() || (integrity && *integrity != "ok"); }
    // Every problem counted once: each tile finding, each metadata text, the
    // missing index and a failed integrity check.
    std::int64_t ProblemCount() const;
};

// What a decoder is given for one tile, and what it tells back.
struct DecodeJob {
    std::uint64_t order = 0;
    std::int64_t z = 0;
    std::int64_t x = 0;
    std::int64_t y = 0;
    bool stored = false;
    std::uint32_t entry = 0;  // the tile's entry in the ledger, or kNoEntry
    std::int32_t width = 0;   // the picture's size from its header, else the store's
    std::int32_t height = 0;
};
struct DecodeResult {
    DecodeJob job;
    bool decoded = false;
    bool singleColour = false;
    std::uint32_t colour = 0;  // 0xRRGGBB of a single-colour tile
    std::string error;
};

// Decodes tiles for the check, on threads of its own (src/render).
class CheckDecoder {
public:
    virtual ~CheckDecoder() = default;
    virtual int Threads() const = 0;
    // Queues a copy of the tile's bytes; waits while every slot is taken.
    virtual void Submit(const DecodeJob& job, const std::uint8_t* data, std::size_t size) = 0;
    // Appends the results ready so far to out; with wait, once every queued
    // tile is done.
    virtual void Collect(std::vector<DecodeResult>& out, bool wait) = 0;
};

struct CheckProgress {
    const char* phase = "";
    std::int64_t done = 0;
    std::int64_t total = 0;  // 0 when unknown
};

struct CheckOptions {
    bool decode = false;
    CheckDecoder* decoder = nullptr;            // used when decode is set
    bool coverage = false;                      // fill CheckReport::coverage
    std::optional<std::int64_t> expectedTiles;  // from CountTiles: sizes memory and progress
    StopRequested stop;                         // polled; the report tells what was read
    std::function<void(const CheckProgress&)> progress;  // called often: keep it cheap
};

// Stores under this many tiles are decoded unless told otherwise.
inline constexpr std::int64_t kDecodeByDefaultBelow = 1'000'000;
bool DecodeByDefault(std::optional<std::int64_t> tileCount);

// Checks the open store. With a stop, the pass ends early and the report
// holds what was read (interrupted set). Without decoding, the integrity
// check runs alongside the scan on a thread of its own.
CheckReport RunStoreCheck(TileDatabase& store, const CheckOptions& options);

// The report as plain-text lines (no line ends), for a terminal of 80
// columns. Texts from the store are shown as they are: escape when printing.
std::vector<std::string> FormatCheckReport(const CheckReport& report);

}  // namespace corvalis
