// Writes PMTiles v3 archives for the tests, the fuzz seeds and the benchmarks:
// tiles sorted by tile id, identical contents stored once (optionally),
// consecutive ids with identical contents as one run, the root directory
// alone or with leaf directories, each internal compression. The tile ids are
// computed here independently of the reader's code.
#pragma once

#include <brotli/encode.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;

// Values of the header's compression fields.
enum PmtCompression : std::uint8_t { kPmtNone = 1, kPmtGzip = 2, kPmtBrotli = 3, kPmtZstd = 4 };

struct PmtilesOptions {
    std::uint8_t internalCompression = kPmtNone;
    std::uint8_t tileCompression = kPmtNone;
    std::uint8_t tileType = 2;       // PNG
    int minZoom = -1, maxZoom = -1;  // header values (0..255); -1: those of the tiles
    std::int32_t boundsE7[4] = {};   // min lon, min lat, max lon, max lat
    std::string metadata = R"({"name":"PMTiles test"})";
    bool dedup = true;          // identical contents stored once
    bool runLengths = true;     // consecutive ids with identical contents as one entry
    std::size_t leafSize = 0;   // 0: every entry in the root; else entries per leaf
    std::size_t rootTiles = 0;  // with leaves: the first entries stay in the root
};

struct PmtDirEntry {
    std::uint64_t tileId = 0, offset = 0, length = 0, runLength = 0;
};

// The curve position of (x, y) on the 2^z grid, plus the ids of all levels before.
inline std::uint64_t PmtTileId(int z, std::uint64_t x, std::uint64_t y) {
    std::uint64_t base = 0;
    for (int k = 0; k < z; ++k) base += std::uint64_t{1} << (2 * k);
    const std::uint64_t n = std::uint64_t{1} << z;
    std::uint64_t d = 0;
    for (std::uint64_t s = n / 2; s > 0; s /= 2) {
        const std::uint64_t rx = (x & s) > 0, ry = (y & s) > 0;
        d += s * s * ((3 * rx) ^ ry);
        if (ry == 0) {
            if (rx == 1) {
                x = n - 1 - x;
                y = n - 1 - y;
            }
            std::swap(x, y);
        }
    }
    return base + d;
}

inline void PutVarint(Bytes& b, std::uint64_t v) {
    while (v >= 0x80) {
        b.push_back(static_cast<std::uint8_t>(v | 0x80));
        v >>= 7;
    }
    b.push_back(static_cast<std::uint8_t>(v));
}

inline void PutLe(Bytes& b, std::size_t at, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline Bytes PmtEncodeDirectory(const std::vector<PmtDirEntry>& entries) {
    Bytes b;
    PutVarint(b, entries.size());
    std::uint64_t last = 0;
    for (const auto& e : entries) {
        PutVarint(b, e.tileId - last);
        last = e.tileId;
    }
    for (const auto& e : entries) PutVarint(b, e.runLength);
    for (const auto& e : entries) PutVarint(b, e.length);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const bool follows =
            i > 0 && entries[i].offset == entries[i - 1].offset + entries[i - 1].length;
        PutVarint(b, follows ? 0 : entries[i].offset + 1);
    }
    return b;
}

inline Bytes PmtCompress(std::uint8_t compression, const Bytes& in) {
    Bytes out;
    if (compression == kPmtGzip) {
        z_stream zs{};
        deflateInit2(&zs, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
        out.resize(deflateBound(&zs, static_cast<uLong>(in.size())));
        zs.next_in = const_cast<Bytef*>(in.data());
        zs.avail_in = static_cast<uInt>(in.size());
        zs.next_out = out.data();
        zs.avail_out = static_cast<uInt>(out.size());
        const int rc = deflate(&zs, Z_FINISH);
        out.resize(zs.total_out);
        deflateEnd(&zs);
        if (rc != Z_STREAM_END) throw std::runtime_error("deflate failed");
    } else if (compression == kPmtBrotli) {
        std::size_t size = BrotliEncoderMaxCompressedSize(in.size()) + 16;
        out.resize(size);
        if (!BrotliEncoderCompress(5, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_GENERIC, in.size(),
                                   in.data(), &size, out.data()))
            throw std::runtime_error("brotli failed");
        out.resize(size);
    } else if (compression == kPmtZstd) {
        out.resize(ZSTD_compressBound(in.size()));
        const std::size_t size = ZSTD_compress(out.data(), out.size(), in.data(), in.size(), 3);
        if (ZSTD_isError(size)) throw std::runtime_error("zstd failed");
        out.resize(size);
    } else {
        out = in;
    }
    return out;
}

struct PmtSections {
    Bytes root, metadata, leaves, tileData;
    std::uint64_t addressed = 0, entries = 0, contents = 0;
    int minZoom = 0, maxZoom = 0;
};

// The header, then root, metadata, leaves and tile data in that order.
inline Bytes PmtAssemble(const PmtilesOptions& o, const PmtSections& s) {
    Bytes b(127, 0);
    const char magic[] = "PMTiles";
    std::copy(magic, magic + 7, b.begin());
    b[7] = 3;
    std::uint64_t at = 127;
    std::size_t field = 8;
    for (const Bytes* part : {&s.root, &s.metadata, &s.leaves, &s.tileData}) {
        PutLe(b, field, at, 8);
        PutLe(b, field + 8, part->size(), 8);
        at += part->size();
        field += 16;
    }
    PutLe(b, 72, s.addressed, 8);
    PutLe(b, 80, s.entries, 8);
    PutLe(b, 88, s.contents, 8);
    const int bytes[] = {1,
                         o.internalCompression,
                         o.tileCompression,
                         o.tileType,
                         o.minZoom < 0 ? s.minZoom : o.minZoom,
                         o.maxZoom < 0 ? s.maxZoom : o.maxZoom};
    for (int i = 0; i < 6; ++i)
        b[96 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bytes[i]);
    for (int i = 0; i < 4; ++i)
        PutLe(b, 102 + 4 * static_cast<std::size_t>(i), static_cast<std::uint32_t>(o.boundsE7[i]),
              4);
    for (const Bytes* part : {&s.root, &s.metadata, &s.leaves, &s.tileData})
        b.insert(b.end(), part->begin(), part->end());
    return b;
}

class PmtilesWriter {
public:
    // Adds a blob; its index names it in Tile.
    std::uint32_t Content(Bytes bytes) {
        contents_.push_back(std::move(bytes));
        return static_cast<std::uint32_t>(contents_.size() - 1);
    }
    void Tile(int z, std::uint64_t x, std::uint64_t y, std::uint32_t content) {
        tiles_.emplace_back(PmtTileId(z, x, y), content);
        minZoom_ = std::min(minZoom_, z);
        maxZoom_ = std::max(maxZoom_, z);
    }
    void Tile(int z, std::uint64_t x, std::uint64_t y, const Bytes& bytes) {
        Tile(z, x, y, Content(bytes));
    }

    Bytes Build(const PmtilesOptions& o) const {
        PmtSections s;
        std::vector<PmtDirEntry> entries = Entries(o, s);
        s.minZoom = tiles_.empty() ? 0 : minZoom_;
        s.maxZoom = tiles_.empty() ? 0 : maxZoom_;
        s.entries = entries.size();
        s.metadata =
            PmtCompress(o.internalCompression, Bytes(o.metadata.begin(), o.metadata.end()));
        if (o.leafSize == 0) {
            s.root = PmtCompress(o.internalCompression, PmtEncodeDirectory(entries));
            return PmtAssemble(o, s);
        }
        const std::size_t kept = std::min(o.rootTiles, entries.size());
        std::vector<PmtDirEntry> root(entries.begin(),
                                      entries.begin() + static_cast<std::ptrdiff_t>(kept));
        for (std::size_t i = kept; i < entries.size(); i += o.leafSize) {
            const auto first = entries.begin() + static_cast<std::ptrdiff_t>(i);
            const auto last = entries.begin() +
                              static_cast<std::ptrdiff_t>(std::min(entries.size(), i + o.leafSize));
            const Bytes leaf =
                PmtCompress(o.internalCompression, PmtEncodeDirectory({first, last}));
            root.push_back({first->tileId, s.leaves.size(), leaf.size(), 0});
            s.leaves.insert(s.leaves.end(), leaf.begin(), leaf.end());
        }
        s.root = PmtCompress(o.internalCompression, PmtEncodeDirectory(root));
        return PmtAssemble(o, s);
    }

    void Write(const std::string& path, const PmtilesOptions& o) const {
        const Bytes b = Build(o);
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }

private:
    // Tile entries in id order (a tile added twice keeps its last content),
    // with their bytes laid out in s.tileData.
    std::vector<PmtDirEntry> Entries(const PmtilesOptions& o, PmtSections& s) const {
        std::vector<std::pair<std::uint64_t, std::uint32_t>> tiles = tiles_;
        std::stable_sort(tiles.begin(), tiles.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<std::uint32_t> canon(contents_.size());
        std::map<std::string, std::uint32_t> firstOf;  // contents as text: keys compare simply
        for (std::uint32_t i = 0; i < canon.size(); ++i) {
            const std::string key(contents_[i].begin(), contents_[i].end());
            canon[i] = o.dedup ? firstOf.emplace(key, i).first->second : i;
        }
        std::vector<PmtDirEntry> entries;
        std::vector<std::uint32_t> contentOf;
        for (std::size_t i = 0; i < tiles.size(); ++i) {
            if (i + 1 < tiles.size() && tiles[i + 1].first == tiles[i].first) continue;
            const std::uint32_t c = canon[tiles[i].second];
            ++s.addressed;
            if (o.runLengths && !entries.empty() && contentOf.back() == c &&
                entries.back().tileId + entries.back().runLength == tiles[i].first) {
                ++entries.back().runLength;
                continue;
            }
            entries.push_back({tiles[i].first, 0, 0, 1});
            contentOf.push_back(c);
        }
        std::map<std::uint32_t, std::pair<std::uint64_t, std::uint64_t>> placed;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            auto [it, fresh] =
                placed.emplace(contentOf[i], std::pair<std::uint64_t, std::uint64_t>{});
            if (fresh || !o.dedup) {
                const Bytes& bytes = contents_[contentOf[i]];
                it->second = {s.tileData.size(), bytes.size()};
                s.tileData.insert(s.tileData.end(), bytes.begin(), bytes.end());
                ++s.contents;
            }
            entries[i].offset = it->second.first;
            entries[i].length = it->second.second;
        }
        return entries;
    }

    std::vector<Bytes> contents_;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> tiles_;
    int minZoom_ = 99, maxZoom_ = -1;
};

}  // namespace testsupport
