// The PMTiles reader on arbitrary bytes. The first byte picks what the rest
// is (modulo 3): 0 a whole archive, opened, scanned and read by address,
// with the scan and the lookups checked against each other and the extents;
// 1 a decompressed directory, parsed and searched; 2 a compressed stream
// (codec from the next byte) for the bounded decompressor.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "decompress.h"
#include "fuzzcheck.h"
#include "pmtiles_archive.h"
#include "pmtiles_directory.h"
#include "pmtiles_hilbert.h"

namespace {

constexpr std::size_t kRunsChecked = 4096;
constexpr std::uint64_t kTilesPerRun = 4;

bool KnownError(const std::string& e) {
    const char* const prefixes[] = {"PMTiles ", "cannot read file.", "not a PMTiles archive."};
    for (const char* p : prefixes)
        if (e.rfind(p, 0) == 0) return e.back() == '.';
    return false;
}

// A tile the scan reports is inside its level's extent and found again,
// with the same bytes, by its world address.
bool CheckScannedTile(corvalis::PmtilesArchive& a, const corvalis::PmtilesTileRun& run,
                      std::uint64_t id) {
    std::int32_t z = 0;
    std::uint32_t x = 0, y = 0;
    if (!corvalis::PmtilesTileOf(id, z, x, y)) return false;
    const corvalis::PmtilesLevel& l = a.levels()[static_cast<std::size_t>(z)];
    const auto ix = static_cast<std::int32_t>(x), iy = static_cast<std::int32_t>(y);
    FUZZ_CHECK(l.present && l.tiles > 0);
    FUZZ_CHECK(ix >= l.minX && ix <= l.maxX && iy >= l.minY && iy <= l.maxY);
    corvalis::PmtilesTileRun found;
    FUZZ_CHECK(a.FindTile(z, ix, iy, found));
    FUZZ_CHECK(found.tileId == run.tileId && found.offset == run.offset &&
               found.length == run.length && found.runLength == run.runLength);
    std::vector<std::uint8_t> bytes;
    const bool read = a.ReadStoredTile(z, ix, iy, bytes);
    FUZZ_CHECK(read == (run.length <= corvalis::PmtilesArchive::kTileLimit &&
                        corvalis::RangeWithin(run.offset, run.length, a.fileSize())));
    FUZZ_CHECK(read ? bytes.size() == run.length : bytes.empty());
    return true;
}

void FuzzArchive(const std::uint8_t* data, std::size_t size) {
    corvalis::PmtilesArchive a;
    std::string error;
    auto source =
        std::make_unique<corvalis::MemoryByteSource>(std::vector<std::uint8_t>(data, data + size));
    if (!a.Open(std::move(source), error)) {
        FUZZ_CHECK(KnownError(error));
        FUZZ_CHECK(!a.isOpen());
        return;
    }
    for (const corvalis::PmtilesLevel& l : a.levels())
        FUZZ_CHECK(!l.present || (l.minX <= l.maxX && l.minY <= l.maxY && l.tiles > 0));
    std::size_t runs = 0;
    std::uint64_t lastId = 0;
    const bool scanned = a.ForEachRun(
        [&](const corvalis::PmtilesTileRun& run) {
            FUZZ_CHECK(run.runLength > 0 && run.length > 0);
            FUZZ_CHECK(runs == 0 || run.tileId != lastId);
            lastId = run.tileId;
            for (std::uint64_t k = 0; k < run.runLength && k < kTilesPerRun; ++k)
                if (!CheckScannedTile(a, run, run.tileId + k)) break;
            return ++runs < kRunsChecked;
        },
        error);
    // The bytes do not change under the reader: a scan stops only when told to.
    FUZZ_CHECK(scanned || (runs == kRunsChecked && error.empty()));
    std::vector<std::uint8_t> bytes;
    for (int z = 0; z < 32; ++z) {
        const corvalis::PmtilesLevel& l = a.levels()[static_cast<std::size_t>(z)];
        if (l.present) a.ReadTile(z, l.maxX, l.maxY, bytes);
    }
}

void FuzzDirectory(const std::uint8_t* data, std::size_t size) {
    corvalis::PmtilesDirectory dir;
    std::string error;
    std::vector<corvalis::PmtilesEntry> seen;
    if (!dir.Parse(std::vector<std::uint8_t>(data, data + size), error,
                   [&](const corvalis::PmtilesEntry& e) {
                       if (seen.size() < 512) seen.push_back(e);
                       return true;
                   })) {
        FUZZ_CHECK(KnownError(error));
        FUZZ_CHECK(dir.size() == 0);
        return;
    }
    FUZZ_CHECK(dir.size() <= size / 4);
    std::size_t visited = 0;
    FUZZ_CHECK(dir.ForEach([&](const corvalis::PmtilesEntry& e) {
        if (visited < seen.size()) {
            const corvalis::PmtilesEntry& s = seen[visited];
            FUZZ_CHECK(e.tileId == s.tileId && e.offset == s.offset && e.length == s.length &&
                       e.runLength == s.runLength);
        }
        ++visited;
        return true;
    }));
    FUZZ_CHECK(visited == dir.size());
    for (const corvalis::PmtilesEntry& s : seen) {
        corvalis::PmtilesEntry e;
        FUZZ_CHECK(dir.Find(s.tileId, e) && e.tileId == s.tileId && e.offset == s.offset);
        if (s.runLength > 1) FUZZ_CHECK(dir.Find(s.tileId + 1, e) && e.tileId == s.tileId);
    }
    corvalis::PmtilesEntry e;
    if (!seen.empty() && seen[0].tileId > 0) FUZZ_CHECK(!dir.Find(seen[0].tileId - 1, e));
}

void FuzzDecompress(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return;
    const auto codec = static_cast<corvalis::Compression>(data[0] % 4);
    constexpr std::size_t kLimit = 1 << 20;
    std::vector<std::uint8_t> whole;
    const corvalis::DecompressStatus status =
        corvalis::Decompress(codec, data + 1, size - 1, kLimit, whole);
    FUZZ_CHECK(whole.size() <= kLimit);
    FUZZ_CHECK(status == corvalis::DecompressStatus::Ok || whole.empty());
    // Fed in pieces of 7 bytes, the stream decodes the same way.
    corvalis::Decompressor d(codec, kLimit);
    corvalis::DecompressStatus pieces = corvalis::DecompressStatus::More;
    for (std::size_t at = 1; at < size && pieces == corvalis::DecompressStatus::More; at += 7)
        pieces = d.Feed(data + at, std::min<std::size_t>(7, size - at), at + 7 >= size);
    if (size == 1) pieces = d.Feed(nullptr, 0, true);
    FUZZ_CHECK(pieces == status);
    if (status == corvalis::DecompressStatus::Ok) FUZZ_CHECK(d.output() == whole);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    switch (data[0] % 3) {
        case 0: FuzzArchive(data + 1, size - 1); break;
        case 1: FuzzDirectory(data + 1, size - 1); break;
        default: FuzzDecompress(data + 1, size - 1); break;
    }
    return 0;
}
