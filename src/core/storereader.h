// A store layout says how to recognise a file as its own and opens a reader
// for it: the object that reads the tiles of that one open store.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "storefacts.h"
#include "tilescan.h"

namespace corvalis {

class StoreOpening;

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

    // While a batch is open, tile reads may share work (one read transaction).
    virtual void BeginReadBatch() {}
    virtual void EndReadBatch() {}

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
