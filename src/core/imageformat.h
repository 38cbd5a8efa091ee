// What the leading bytes of a tile say about its picture: the byte readers the
// image headers need, the signatures that pick a decoder, and the pixel size a
// header announces. Shared by the store's tile-size probe and the decoder.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvalis {

inline std::uint32_t ReadBe16(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 8) | p[1];
}
inline std::uint32_t ReadBe32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}
inline std::uint32_t ReadLe16(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8);
}
inline std::uint32_t ReadLe24(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16);
}
inline std::uint32_t ReadLe32(const std::uint8_t* p) {
    return ReadLe24(p) | (std::uint32_t{p[3]} << 24);
}

// 32-bit two's complement wrap, as a file's 32-bit numbers have.
inline std::int32_t Wrap32(std::int64_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}

// The formats a tile is told apart by, from its leading bytes alone.
enum class TileFormat : std::uint8_t { Other, Png, Jpeg, WebP, Gif, Gzip, Zlib };

// A PNG starts with 89 'P' 'N' 'G' and holds at least its 8-byte signature.
bool HasPngSignature(const std::uint8_t* bytes, std::size_t count);
// A JPEG starts with its start-of-image marker and the first byte of the next
// marker: FF D8 FF.
bool HasJpegSignature(const std::uint8_t* bytes, std::size_t count);
TileFormat SniffTileFormat(const std::uint8_t* bytes, std::size_t count);
// "png", "jpg", "webp", "gif", "gzip", "zlib" or "other".
const char* TileFormatName(TileFormat format);

// Pictures larger than this on either side are never decoded.
inline constexpr std::int32_t kMaxTileSide = 8192;

// Reads the pixel size from a PNG, JPEG or WebP header. Width and height are
// set to 0 first; true when a header was recognised and its size is usable.
// The JPEG header is looked for after FF D8 alone, a looser test than the
// decoder's signature: stores whose first tile has some other third byte have
// always had their tile size read this way.
bool ProbeImageSize(const std::uint8_t* bytes, std::int64_t count, std::int32_t& width,
                    std::int32_t& height);

}  // namespace corvalis
