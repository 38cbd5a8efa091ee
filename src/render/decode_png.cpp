// PNG tiles: the fast path where it applies, libspng for the rest.
#include <spng.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "decode_codecs.h"
#include "decode_png_fast.h"

namespace corvalis::detail {

namespace {

// Memory libspng may keep for ancillary chunks.
constexpr std::size_t kChunkCacheLimit = std::size_t{4} << 20;

constexpr const char* kTruncated = "truncated png: the data ends before the end of the image";

std::uint32_t ReadBig32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
           std::uint32_t{p[3]};
}

// Text and colour-profile chunks that libspng would inflate although nothing
// here reads them: a few kilobytes of them can inflate to gigabytes.
bool IsCompressedExtra(const std::uint8_t* type) {
    return std::memcmp(type, "zTXt", 4) == 0 || std::memcmp(type, "iTXt", 4) == 0 ||
           std::memcmp(type, "iCCP", 4) == 0;
}

// Walks the chunk list up to IEND without decoding, so a truncated stream is
// refused before a single row is written. Bytes after IEND are allowed.
// imageData receives the size of every IDAT chunk's data together. When keep
// is given, it receives the stream without compressed extra chunks.
const char* WalkChunks(const std::uint8_t* bytes, std::size_t count, bool& compressedExtras,
                       std::uint64_t& imageData, std::vector<std::uint8_t>* keep) {
    std::size_t pos = 8;  // past the signature
    bool sawData = false;
    imageData = 0;
    if (keep != nullptr) keep->assign(bytes, bytes + pos);
    for (;;) {
        if (count - pos < 12) return kTruncated;  // length, type and CRC
        const std::uint32_t length = ReadBig32(bytes + pos);
        if (length > 0x7FFFFFFFu) return "corrupt png: bad chunk length";
        if (count - pos - 12 < length) return kTruncated;
        const std::uint8_t* type = bytes + pos + 4;
        const std::size_t end = pos + 12 + std::size_t{length};
        if (IsCompressedExtra(type))
            compressedExtras = true;
        else if (keep != nullptr)
            keep->insert(keep->end(), bytes + pos, bytes + end);
        if (std::memcmp(type, "IDAT", 4) == 0) {
            sawData = true;
            imageData += length;
        }
        if (std::memcmp(type, "IEND", 4) == 0) return sawData ? nullptr : "png holds no image data";
        pos = end;
    }
}

// True when no zlib stream of imageData bytes can hold the picture's samples
// (a lower bound of what it must inflate to, interlaced or not).
bool TooLittleData(const spng_ihdr& header, std::uint64_t imageData) {
    const unsigned channels = header.color_type == SPNG_COLOR_TYPE_TRUECOLOR         ? 3
                              : header.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ? 2
                              : header.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA ? 4
                                                                                     : 1;
    const std::uint64_t bits =
        std::uint64_t{header.width} * header.height * channels * header.bit_depth;
    return bits / 8 > imageData * kMaxInflateRatio;
}

void ReleaseIfLarge(std::vector<std::uint8_t>& buffer) {
    if (buffer.capacity() > kKeptScratch) std::vector<std::uint8_t>().swap(buffer);
}

bool Fail(int code, std::string& error) {
    const char* text = spng_strerror(code);
    error = text != nullptr && *text != '\0' ? text : "unknown decode error";
    return false;
}

}  // namespace

void PngCodec::ContextFree::operator()(spng_ctx* ctx) const {
    spng_ctx_free(ctx);
}

PngCodec::PngCodec(bool fastPath) : fast(fastPath ? std::make_unique<PngFastPath>() : nullptr) {}

PngCodec::~PngCodec() = default;

std::size_t PngCodec::ScratchSize() const {
    return rgbaPixels.capacity() + stripped.capacity() + (fast ? fast->ScratchSize() : 0);
}

bool PngCodec::Open(const std::uint8_t* bytes, std::size_t count, ImageSize& result,
                    std::string& error) {
    fastReady = false;
    route = Route::None;
    bool compressedExtras = false;
    std::uint64_t imageData = 0;
    if (const char* reason = WalkChunks(bytes, count, compressedExtras, imageData, nullptr)) {
        error = reason;
        return false;
    }
    if (compressedExtras) {
        WalkChunks(bytes, count, compressedExtras, imageData, &stripped);
        bytes = stripped.data();
        count = stripped.size();
    }
    context.reset(spng_ctx_new(0));
    if (!context) {
        error = "cannot start the png decoder";
        return false;
    }
    spng_ctx* ctx = context.get();
    // No chunk can be longer than the tile itself.
    int rc = spng_set_chunk_limits(ctx, std::min<std::size_t>(count, 0x7FFFFFFF), kChunkCacheLimit);
    if (rc == 0) rc = spng_set_png_buffer(ctx, bytes, count);
    spng_ihdr header{};
    if (rc == 0) rc = spng_get_ihdr(ctx, &header);
    if (rc != 0) return Fail(rc, error);
    if (!AcceptSize(header.width, header.height, size, error)) return false;
    // Refused before anything is allocated for the picture.
    if (TooLittleData(header, imageData)) {
        error = "corrupt png: too little image data for the picture's size";
        return false;
    }
    spng_trns trns{};
    rc = spng_get_trns(ctx, &trns);
    if (rc != 0 && rc != SPNG_ECHUNKAVAIL) return Fail(rc, error);
    transparent = rc == 0 || header.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                  header.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    if (fast) fastReady = PrepareFastPath(bytes, count, header, rc == 0 ? &trns : nullptr);
    result = size;
    return true;
}

// The picture as libspng reads it: palette entries and the colour key
// exactly as its RGB8 and RGBA8 (with SPNG_DECODE_TRNS) output uses them.
bool PngCodec::PrepareFastPath(const std::uint8_t* bytes, std::size_t count,
                               const spng_ihdr& header, const spng_trns* trns) {
    if (header.interlace_method != SPNG_INTERLACE_NONE || header.bit_depth > 8) return false;
    PngPicture picture;
    picture.width = header.width;
    picture.height = header.height;
    picture.bitDepth = header.bit_depth;
    picture.colourType = header.color_type;
    picture.transparent = transparent;
    if (header.color_type == SPNG_COLOR_TYPE_INDEXED) {
        spng_plte plte{};
        if (spng_get_plte(context.get(), &plte) != 0) return false;
        for (std::uint32_t i = 0; i < 256; ++i) {
            const spng_plte_entry& entry = plte.entries[i];
            const bool seeThrough = trns != nullptr && i < trns->n_type3_entries;
            std::uint8_t* rgba = &picture.palette[i * 4];
            rgba[0] = entry.red;
            rgba[1] = entry.green;
            rgba[2] = entry.blue;
            rgba[3] = seeThrough ? trns->type3_alpha[i] : 255;
        }
    }
    if (trns != nullptr && (header.color_type == SPNG_COLOR_TYPE_GRAYSCALE ||
                            header.color_type == SPNG_COLOR_TYPE_TRUECOLOR)) {
        picture.colourKey = true;
        picture.keyGrey = trns->gray;
        picture.keyRgb = {static_cast<std::uint8_t>(trns->red),
                          static_cast<std::uint8_t>(trns->green),
                          static_cast<std::uint8_t>(trns->blue)};
    }
    return fast->Prepare(bytes, count, picture);
}

bool PngCodec::Decode(const PixelRows& rows, std::string& error) {
    bool ok = false;
    if (fastReady) {
        fastReady = false;
        try {
            ok = fast->Decode(rows);
        } catch (const std::bad_alloc&) {
            ok = false;  // nothing written yet: libspng needs less
        }
    }
    route = ok ? Route::Fast : Route::Libspng;
    if (!ok) ok = transparent ? DecodeTransparent(rows, error) : DecodeOpaque(rows, error);
    context.reset();
    ReleaseIfLarge(rgbaPixels);
    ReleaseIfLarge(stripped);
    return ok;
}

// Row by row straight into the destination; interlaced passes land in place.
bool PngCodec::DecodeOpaque(const PixelRows& rows, std::string& error) {
    spng_ctx* ctx = context.get();
    const std::size_t rowBytes = static_cast<std::size_t>(size.width) * 3;
    int rc = spng_decode_image(ctx, nullptr, 0, SPNG_FMT_RGB8, SPNG_DECODE_PROGRESSIVE);
    while (rc == 0) {
        spng_row_info info{};
        rc = spng_get_row_info(ctx, &info);
        if (rc != 0) break;
        if (info.row_num >= static_cast<std::uint32_t>(size.height))
            return Fail(SPNG_EINTERNAL, error);
        rc = spng_decode_row(ctx, rows.Row(static_cast<int>(info.row_num)), rowBytes);
    }
    return rc == SPNG_EOI ? true : Fail(rc, error);
}

// Transparent pictures are decoded whole, then composited over white.
bool PngCodec::DecodeTransparent(const PixelRows& rows, std::string& error) {
    spng_ctx* ctx = context.get();
    std::size_t needed = 0;
    int rc = spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &needed);
    if (rc == 0) {
        if (rgbaPixels.size() < needed) rgbaPixels.resize(needed);
        rc = spng_decode_image(ctx, rgbaPixels.data(), needed, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS);
    }
    if (rc != 0) return Fail(rc, error);
    const std::size_t pitch = static_cast<std::size_t>(size.width) * 4;
    for (int row = 0; row < size.height; ++row)
        CompositeOverWhite(rgbaPixels.data() + static_cast<std::size_t>(row) * pitch, size.width,
                           rows.Row(row));
    return true;
}

}  // namespace corvalis::detail
