#include "pmtiles_directory.h"

#include <algorithm>

namespace corvalis {

namespace {

constexpr std::size_t kCheckpointEvery = 64;
constexpr std::uint64_t kMax = UINT64_MAX;

bool ReadLongVarint(const std::uint8_t* b, std::size_t size, std::size_t& pos,
                    std::uint64_t& value) {
    std::uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (pos >= size) return false;
        const std::uint8_t byte = b[pos++];
        if (shift == 63 && byte > 1) return false;
        v |= std::uint64_t{byte & 0x7Fu} << shift;
        if (byte < 0x80) {
            value = v;
            return true;
        }
    }
    return false;
}

// A little-endian base-128 varint of at most 64 bits at pos; most are one byte.
inline bool ReadVarint(const std::uint8_t* b, std::size_t size, std::size_t& pos,
                       std::uint64_t& value) {
    if (pos < size && b[pos] < 0x80) {
        value = b[pos++];
        return true;
    }
    return ReadLongVarint(b, size, pos, value);
}

// Moves pos past n varints: each ends at a byte below 0x80. Their values are
// checked when the entries are decoded.
bool SkipVarints(const std::uint8_t* b, std::size_t size, std::size_t& pos, std::uint64_t n) {
    while (n > 0) {
        if (pos >= size) return false;
        n -= b[pos++] < 0x80 ? 1 : 0;
    }
    return true;
}

}  // namespace

// Reads the count and finds where each column starts, checking that all four
// columns are there, before anything is sized by the count.
bool PmtilesDirectory::Locate(Cursor& start, std::uint64_t& n, std::string& errorText) const {
    std::size_t pos = 0;
    // Every entry takes at least one byte in each column.
    if (!ReadVarint(bytes_.data(), bytes_.size(), pos, n) || n > (bytes_.size() - pos) / 4) {
        errorText = "PMTiles directory is truncated.";
        return false;
    }
    start = Cursor{};
    for (int column = 0; column < 4; ++column) {
        start.pos[column] = static_cast<std::uint32_t>(pos);
        if (!SkipVarints(bytes_.data(), bytes_.size(), pos, n)) {
            errorText = "PMTiles directory is truncated.";
            return false;
        }
    }
    return true;
}

PmtilesDirectory::Step PmtilesDirectory::Next(Cursor& c, PmtilesEntry& e) const {
    std::uint64_t v[4];
    const std::uint8_t* b = bytes_.data();
    const std::size_t size = bytes_.size();
    for (int column = 0; column < 4; ++column) {
        std::size_t pos = c.pos[column];
        if (!ReadVarint(b, size, pos, v[column])) return Step::Truncated;
        c.pos[column] = static_cast<std::uint32_t>(pos);
    }
    if (v[0] > kMax - c.lastId) return Step::Corrupt;
    e.tileId = c.lastId + v[0];
    e.runLength = v[1];
    e.length = v[2];
    // Offset 0 means "right after the entry before"; the first has none before it.
    if (v[3] == 0 && c.index == 0) return Step::Corrupt;
    e.offset = v[3] == 0 ? c.nextOffset : v[3] - 1;
    if (e.length > kMax - e.offset || e.runLength > kMax - e.tileId) return Step::Corrupt;
    c.lastId = e.tileId;
    c.nextOffset = e.offset + e.length;
    ++c.index;
    return Step::Entry;
}

bool PmtilesDirectory::Parse(std::vector<std::uint8_t> bytes, std::string& errorText,
                             const Visitor& visit) {
    bytes_ = std::move(bytes);
    checkpoints_.clear();
    count_ = 0;
    hasLeaves_ = false;
    errorText.clear();
    Cursor c;
    std::uint64_t count = 0;
    if (bytes_.size() > UINT32_MAX) {
        errorText = "PMTiles directory is corrupt.";
        return Fail();
    }
    if (!Locate(c, count, errorText)) return Fail();
    checkpoints_.reserve(static_cast<std::size_t>(count / kCheckpointEvery + 1));
    PmtilesEntry prev, e;
    for (std::uint64_t i = 0; i < count; ++i) {
        const bool mark = i % kCheckpointEvery == 0;
        if (mark) checkpoints_.push_back(c);
        const Step step = Next(c, e);
        if (step != Step::Entry) {
            errorText = step == Step::Truncated ? "PMTiles directory is truncated."
                                                : "PMTiles directory is corrupt.";
            return Fail();
        }
        // Ids ascend; a run of tiles ends before the next entry starts.
        const bool ordered =
            i == 0 || (e.tileId > prev.tileId && e.tileId - prev.tileId >= prev.runLength);
        if (!ordered || e.length == 0) {
            errorText = !ordered ? "PMTiles directory entries are out of order."
                                 : "PMTiles directory has an entry of length 0.";
            return Fail();
        }
        if (mark) checkpoints_.back().firstId = e.tileId;
        hasLeaves_ = hasLeaves_ || e.runLength == 0;
        if (visit && !visit(e)) return Fail();
        prev = e;
    }
    count_ = static_cast<std::size_t>(count);
    if (bytes_.capacity() > bytes_.size() + bytes_.size() / 4) bytes_.shrink_to_fit();
    return true;
}

bool PmtilesDirectory::Fail() {
    bytes_ = {};
    checkpoints_ = {};
    count_ = 0;
    hasLeaves_ = false;
    return false;
}

bool PmtilesDirectory::Find(std::uint64_t tileId, PmtilesEntry& entry) const {
    auto it = std::upper_bound(checkpoints_.begin(), checkpoints_.end(), tileId,
                               [](std::uint64_t id, const Cursor& c) { return id < c.firstId; });
    if (it == checkpoints_.begin()) return false;
    Cursor c = *(it - 1);
    PmtilesEntry e;
    bool found = false;
    for (std::size_t k = 0; k < kCheckpointEvery && c.index < count_; ++k) {
        if (Next(c, e) != Step::Entry || e.tileId > tileId) break;
        entry = e;
        found = true;
    }
    return found;
}

bool PmtilesDirectory::ForEach(const Visitor& visit) const {
    if (checkpoints_.empty()) return true;
    Cursor c = checkpoints_.front();
    PmtilesEntry e;
    while (c.index < count_) {
        if (Next(c, e) != Step::Entry) return true;
        if (!visit(e)) return false;
    }
    return true;
}

std::size_t PmtilesDirectory::memoryBytes() const {
    return bytes_.capacity() + checkpoints_.capacity() * sizeof(Cursor);
}

}  // namespace corvalis
