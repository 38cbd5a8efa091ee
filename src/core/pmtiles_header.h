// The fixed 127-byte header at the start of a PMTiles v3 archive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "decompress.h"

namespace corvalis {

inline constexpr std::size_t kPmtilesHeaderSize = 127;

// Values of the compression fields.
enum PmtilesCompressionCode : std::uint8_t {
    kPmtilesCompressionUnknown = 0,
    kPmtilesCompressionNone = 1,
    kPmtilesCompressionGzip = 2,
    kPmtilesCompressionBrotli = 3,
    kPmtilesCompressionZstd = 4,
};

// Values of the tile type field.
enum PmtilesTileType : std::uint8_t {
    kPmtilesTileUnknown = 0,
    kPmtilesTileMvt = 1,
    kPmtilesTilePng = 2,
    kPmtilesTileJpeg = 3,
    kPmtilesTileWebp = 4,
    kPmtilesTileAvif = 5,
};

struct PmtilesHeader {
    std::uint64_t rootOffset = 0;
    std::uint64_t rootLength = 0;
    std::uint64_t metadataOffset = 0;
    std::uint64_t metadataLength = 0;
    std::uint64_t leafOffset = 0;
    std::uint64_t leafLength = 0;
    std::uint64_t tileDataOffset = 0;
    std::uint64_t tileDataLength = 0;
    std::uint64_t addressedTiles = 0;  // 0: unknown (as are the next two)
    std::uint64_t tileEntries = 0;
    std::uint64_t tileContents = 0;
    bool clustered = false;
    std::uint8_t internalCompression = 0;
    std::uint8_t tileCompression = 0;
    std::uint8_t tileType = 0;
    std::uint8_t minZoom = 0;
    std::uint8_t maxZoom = 0;
    std::int32_t minLonE7 = 0;  // degrees times 10^7
    std::int32_t minLatE7 = 0;
    std::int32_t maxLonE7 = 0;
    std::int32_t maxLatE7 = 0;
    std::uint8_t centerZoom = 0;
    std::int32_t centerLonE7 = 0;
    std::int32_t centerLatE7 = 0;
};

// The file starts like a PMTiles archive of any version: "PMTiles" (v3 and
// later), or "PM" and a 16-bit little-endian version 1 or 2 (the older layout).
bool HasPmtilesSignature(const std::uint8_t* bytes, std::size_t count);

// Reads the header from the first count bytes of the file. Errors: "not a
// PMTiles archive.", "PMTiles version N is not supported; only version 3.",
// "PMTiles header is truncated.", "PMTiles internal compression N is not
// supported."
bool ParsePmtilesHeader(const std::uint8_t* bytes, std::size_t count, PmtilesHeader& header,
                        std::string& errorText);

// The codec of a compression field; nothing for unknown values.
std::optional<Compression> PmtilesCompressionOf(std::uint8_t code);

// The tile format name the viewer uses: "png", "jpg", "webp", "avif", "pbf"
// (MVT), or "" for any other type.
const char* PmtilesFormatName(std::uint8_t tileType);

}  // namespace corvalis
