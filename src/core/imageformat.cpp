#include "imageformat.h"

#include <cstring>

namespace corvalis {

namespace {

bool HasAscii(const std::uint8_t* p, const char* text) {
    return std::memcmp(p, text, std::strlen(text)) == 0;
}

bool IsPngStart(const std::uint8_t* b) {
    return b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G';
}

bool InSide(std::uint32_t v) {
    return v >= 1 && v <= 8191;
}

// The first start-of-frame header after FF D8: every byte that is not FF is
// passed over one at a time, markers without a length are stepped over, and
// an end of image before any frame header ends the search.
bool ProbeJpegSize(const std::uint8_t* b, std::int64_t count, std::int32_t& width,
                   std::int32_t& height) {
    std::int64_t i = 2;
    while (i + 9 < count) {
        if (b[i] != 0xFF) {
            ++i;
            continue;
        }
        const std::uint8_t m = b[i + 1];
        if (m == 0xD8 || m == 0x01 || (m >= 0xD0 && m <= 0xD7)) {
            i += 2;
            continue;
        }
        if (m == 0xD9) return false;
        const std::uint32_t len = ReadBe16(b + i + 2);
        if (len < 2) return false;
        if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
            const std::uint32_t h = ReadBe16(b + i + 5), w = ReadBe16(b + i + 7);
            height = static_cast<std::int32_t>(h);
            width = static_cast<std::int32_t>(w);
            return InSide(w) && InSide(h);
        }
        i += len + 2;
    }
    return false;
}

bool ProbeWebPSize(const std::uint8_t* b, std::int32_t& width, std::int32_t& height) {
    if (HasAscii(b + 12, "VP8 ")) {  // lossy
        width = static_cast<std::int32_t>(ReadLe16(b + 26) & 0x3FFF);
        height = static_cast<std::int32_t>(ReadLe16(b + 28) & 0x3FFF);
        return width > 0 && height > 0;
    }
    if (HasAscii(b + 12, "VP8L")) {  // lossless
        const std::uint32_t v = ReadLe32(b + 21);
        width = static_cast<std::int32_t>((v & 0x3FFF) + 1);
        height = static_cast<std::int32_t>(((v >> 14) & 0x3FFF) + 1);
        return true;
    }
    if (HasAscii(b + 12, "VP8X")) {
        // Extended header (used by tiles with transparency or metadata).
        width = static_cast<std::int32_t>(ReadLe24(b + 24) + 1);
        height = static_cast<std::int32_t>(ReadLe24(b + 27) + 1);
        return width <= 8191 && height <= 8191;
    }
    return false;
}

}  // namespace

bool HasPngSignature(const std::uint8_t* bytes, std::size_t count) {
    return bytes != nullptr && count >= 8 && IsPngStart(bytes);
}

bool HasJpegSignature(const std::uint8_t* bytes, std::size_t count) {
    return bytes != nullptr && count >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 &&
           bytes[2] == 0xFF;
}

TileFormat SniffTileFormat(const std::uint8_t* b, std::size_t count) {
    if (HasPngSignature(b, count)) return TileFormat::Png;
    if (HasJpegSignature(b, count)) return TileFormat::Jpeg;
    if (b == nullptr) return TileFormat::Other;
    if (count >= 12 && HasAscii(b, "RIFF") && HasAscii(b + 8, "WEBP")) return TileFormat::WebP;
    if (count >= 6 && (HasAscii(b, "GIF87a") || HasAscii(b, "GIF89a"))) return TileFormat::Gif;
    if (count >= 2 && b[0] == 0x1F && b[1] == 0x8B) return TileFormat::Gzip;
    // A zlib header: deflate with a window of at most 32 KiB, and a check sum
    // that makes the first two bytes a multiple of 31.
    if (count >= 2 && (b[0] & 0x0F) == 8 && (b[0] >> 4) <= 7 && ((b[0] << 8) | b[1]) % 31 == 0)
        return TileFormat::Zlib;
    return TileFormat::Other;
}

const char* TileFormatName(TileFormat format) {
    switch (format) {
        case TileFormat::Png: return "png";
        case TileFormat::Jpeg: return "jpg";
        case TileFormat::WebP: return "webp";
        case TileFormat::Gif: return "gif";
        case TileFormat::Gzip: return "gzip";
        case TileFormat::Zlib: return "zlib";
        case TileFormat::Other: break;
    }
    return "other";
}

bool ProbeImageSize(const std::uint8_t* bytes, std::int64_t count, std::int32_t& width,
                    std::int32_t& height) {
    width = 0;
    height = 0;
    if (!bytes || count < 8) return false;
    const std::uint8_t* b = bytes;
    if (IsPngStart(b)) {
        if (count < 24) return false;
        const std::uint32_t w = ReadBe32(b + 16), h = ReadBe32(b + 20);
        width = Wrap32(w);
        height = Wrap32(h);
        return InSide(w) && InSide(h);
    }
    if (b[0] == 0xFF && b[1] == 0xD8) return ProbeJpegSize(b, count, width, height);
    if (count >= 30 && HasAscii(b, "RIFF") && HasAscii(b + 8, "WEBP"))
        return ProbeWebPSize(b, width, height);
    return false;
}

}  // namespace corvalis
