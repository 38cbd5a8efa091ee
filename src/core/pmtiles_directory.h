// One PMTiles v3 directory, decompressed: a count, then four columns of
// varints (tile id deltas, run lengths, lengths, offsets). It is kept in that
// compact form, with a decoding checkpoint every 64 entries, so that a lookup
// decodes at most 64 entries and a directory costs about as much memory as
// its bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace corvalis {

struct PmtilesEntry {
    std::uint64_t tileId = 0;
    std::uint64_t offset = 0;  // from the start of the tile data or leaf section
    std::uint64_t length = 0;
    std::uint64_t runLength = 0;  // 0: a leaf directory; else that many tiles from tileId
};

class PmtilesDirectory {
public:
    // Called with each entry while parsing, in order; false stops the parse.
    using Visitor = std::function<bool(const PmtilesEntry&)>;

    // Takes the decompressed bytes and checks every entry: ids ascending, runs
    // not overlapping the next entry, lengths above 0, no wrap-around. Errors:
    // "PMTiles directory is truncated.", "PMTiles directory is corrupt.",
    // "PMTiles directory entries are out of order.", "PMTiles directory has
    // an entry of length 0.", or "" when the visitor stopped it.
    bool Parse(std::vector<std::uint8_t> bytes, std::string& errorText,
               const Visitor& visit = nullptr);

    std::size_t size() const { return count_; }
    bool hasLeafEntries() const { return hasLeaves_; }
    // The entry with the largest tile id not above tileId; false when none.
    bool Find(std::uint64_t tileId, PmtilesEntry& entry) const;
    // Every entry in order; false when the visitor stopped.
    bool ForEach(const Visitor& visit) const;
    // Heap memory held.
    std::size_t memoryBytes() const;

    // Decoding state before one entry: where each column goes on, the id and
    // the end of the bytes of the entry before it.
    struct Cursor {
        std::uint32_t pos[4] = {};
        std::uint64_t lastId = 0;
        std::uint64_t nextOffset = 0;
        std::uint64_t firstId = 0;  // the id of the entry this state is before
        std::size_t index = 0;
    };

private:
    enum class Step : std::uint8_t { Entry, Truncated, Corrupt };
    Step Next(Cursor& c, PmtilesEntry& e) const;
    bool Locate(Cursor& start, std::uint64_t& count, std::string& errorText) const;
    bool Fail();

    std::vector<std::uint8_t> bytes_;
    std::vector<Cursor> checkpoints_;  // before entries 0, 64, 128, ...
    std::size_t count_ = 0;
    bool hasLeaves_ = false;
};

}  // namespace corvalis
