// A store layout says how to recognise a file as its own and opens a reader
// for it: the object that reads the tiles of that one open store.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "storefacts.h"
#include "tilescan.h"

namespace corvalis {

class StoreOpening;

// No tile is larger than this: the bytes of a larger one are never copied
// and it counts as missing.
inline constexpr std::size_t kMaxTileBytes = std::size_t{64} << 20;

class StoreReader {
public:
    virtual ~StoreReader() = default;

    // Called once the zoom range is settled, before the first tile read.
    virtual bool PrepareReads(std::string& errorText) = 0;

    // Replaces bytes with the encoded picture of world tile (z, x, y). False,
    // with bytes in any state, when the store has no such tile or it cannot
    // be read.
    virtual bool ReadTile(std::int32_t z, std::int32_t x, std::int32_t y,
                          std::vector<std::uint8_t>& bytes) = 0;

    // The first bytes (at most limit) of world tile (z, x, y) and the size of
    // the whole tile, for reading its header without its picture.
    virtual bool ReadTileHead(std::int32_t z, std::int32_t x, std::int32_t y, std::size_t limit,
                              std::vector<std::uint8_t>& bytes, std::size_t& totalBytes) {
        if (!ReadTile(z, x, y, bytes)) return false;
        totalBytes = bytes.size();
        if (bytes.size() > limit) bytes.resize(limit);
        return true;
    }

    // While a batch is open, tile reads may share work (one read transaction).
    virtual void BeginReadBatch() {}
    virtual void EndReadBatch() {}

    // Once *flag is set (by any thread), a ReadTile under way should give up
    // soon and fail; the flag outlives the reader.
    virtual void WatchInterrupt(const std::atomic<bool>* /*flag*/) {}
    // Visits every stored tile once, in the order the file holds them: one
    // pass over the tile table (or directories), never a read per key. True
    // when the scan ran to its end or the visitor ended it; false with
    // errorText when the store could not be read to its end (the tiles
    // visited so far stay visited). A reader that cannot scan says so.
    virtual bool ScanTiles(const TileScanVisitor& visit, std::string& errorText) {
        (void)visit;
        errorText = "this kind of store cannot be scanned";
        return false;
    }

    // The number of stored tiles when the reader can tell it without a scan
    // of the tiles' bytes; nothing otherwise (or when stopped).
    virtual std::optional<std::int64_t> CountTiles(const StopRequested& stop) {
        (void)stop;
        return std::nullopt;
    }

    // The file's own structure check ("ok" when sound, else what it found);
    // nothing for readers that have none, or when stopped. It may run on
    // another thread while the reader scans (stop is then asked there), so
    // it reads through a handle of its own.
    virtual std::optional<std::string> IntegrityCheck(const StopRequested& stop) {
        (void)stop;
        return std::nullopt;
    }
};

class StoreLayout {
public:
    virtual ~StoreLayout() = default;

    // Whether the file being opened holds this layout.
    virtual bool Recognise(StoreOpening& opening) const = 0;

    // Opens the store as this layout: settles its kind and flags, metadata
    // and per-level extents in facts (the zoom range, tile size and derived
    // bounds are settled afterwards, the same way for every layout). Null,
    // with errorText, when the store cannot be opened.
    virtual std::unique_ptr<StoreReader> Open(StoreOpening& opening, StoreFacts& facts,
                                              std::string& errorText) const = 0;
};

// Tries the layouts in their order and opens the store as the first that
// recognises it; null with errorText when none does or the open fails.
std::unique_ptr<StoreReader> OpenStoreReader(const std::string& path, StoreFacts& facts,
                                             std::string& errorText);

}  // namespace corvalis
