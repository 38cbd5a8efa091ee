#include "pmtiles_header.h"

#include <cstring>

namespace corvalis {

namespace {

constexpr char kMagic[] = "PMTiles";
constexpr std::size_t kMagicSize = 7;

std::uint64_t Le64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

std::int32_t LeInt32(const std::uint8_t* p) {
    const std::uint32_t v = std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) |
                            (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
    return static_cast<std::int32_t>(v);
}

// Version 1 and 2 archives: "PM", then the version as a 16-bit number.
int OldLayoutVersion(const std::uint8_t* bytes, std::size_t count) {
    if (count < 4 || bytes[0] != 'P' || bytes[1] != 'M') return 0;
    const int version = bytes[2] | (bytes[3] << 8);
    return version == 1 || version == 2 ? version : 0;
}

std::string VersionError(int version) {
    return "PMTiles version " + std::to_string(version) + " is not supported; only version 3.";
}

}  // namespace

bool HasPmtilesSignature(const std::uint8_t* bytes, std::size_t count) {
    if (count >= kMagicSize && std::memcmp(bytes, kMagic, kMagicSize) == 0) return true;
    return OldLayoutVersion(bytes, count) != 0;
}

bool ParsePmtilesHeader(const std::uint8_t* bytes, std::size_t count, PmtilesHeader& header,
                        std::string& errorText) {
    header = PmtilesHeader{};
    if (const int old = OldLayoutVersion(bytes, count); old != 0) {
        errorText = VersionError(old);
        return false;
    }
    if (count < kMagicSize + 1 || std::memcmp(bytes, kMagic, kMagicSize) != 0) {
        errorText = "not a PMTiles archive.";
        return false;
    }
    if (bytes[7] != 3) {
        errorText = VersionError(bytes[7]);
        return false;
    }
    if (count < kPmtilesHeaderSize) {
        errorText = "PMTiles header is truncated.";
        return false;
    }
    const std::uint8_t* p = bytes;
    header.rootOffset = Le64(p + 8);
    header.rootLength = Le64(p + 16);
    header.metadataOffset = Le64(p + 24);
    header.metadataLength = Le64(p + 32);
    header.leafOffset = Le64(p + 40);
    header.leafLength = Le64(p + 48);
    header.tileDataOffset = Le64(p + 56);
    header.tileDataLength = Le64(p + 64);
    header.addressedTiles = Le64(p + 72);
    header.tileEntries = Le64(p + 80);
    header.tileContents = Le64(p + 88);
    header.clustered = p[96] == 1;
    header.internalCompression = p[97];
    header.tileCompression = p[98];
    header.tileType = p[99];
    header.minZoom = p[100];
    header.maxZoom = p[101];
    header.minLonE7 = LeInt32(p + 102);
    header.minLatE7 = LeInt32(p + 106);
    header.maxLonE7 = LeInt32(p + 110);
    header.maxLatE7 = LeInt32(p + 114);
    header.centerZoom = p[118];
    header.centerLonE7 = LeInt32(p + 119);
    header.centerLatE7 = LeInt32(p + 123);
    if (!PmtilesCompressionOf(header.internalCompression)) {
        errorText = "PMTiles internal compression " + std::to_string(header.internalCompression) +
                    " is not supported.";
        return false;
    }
    return true;
}

std::optional<Compression> PmtilesCompressionOf(std::uint8_t code) {
    switch (code) {
        case kPmtilesCompressionNone: return Compression::None;
        case kPmtilesCompressionGzip: return Compression::Gzip;
        case kPmtilesCompressionBrotli: return Compression::Brotli;
        case kPmtilesCompressionZstd: return Compression::Zstd;
        default: return std::nullopt;
    }
}

const char* PmtilesFormatName(std::uint8_t tileType) {
    switch (tileType) {
        case kPmtilesTileMvt: return "pbf";
        case kPmtilesTilePng: return "png";
        case kPmtilesTileJpeg: return "jpg";
        case kPmtilesTileWebp: return "webp";
        case kPmtilesTileAvif: return "avif";
        default: return "";
    }
}

}  // namespace corvalis
