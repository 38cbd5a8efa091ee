// JPEG tiles through TurboJPEG, in its fastest mode.
#include <turbojpeg.h>

#include <climits>
#include <cstring>
#include <string>

#include "decode_codecs.h"

namespace corvalis::detail {

namespace {

// Fastest decode; a warning (truncated or corrupt data) ends the decode and
// fails the tile; a progressive stream with an absurd number of scans is refused.
constexpr int kDecodeFlags =
    TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE | TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS;

constexpr const char* kTruncated = "truncated jpeg: the data ends before the end of the image";
constexpr const char* kCorrupt = "corrupt jpeg: bad marker structure";

// Decoding costs about (pixels x scans): a progressive or multi-scan stream
// (Huffman or arithmetic coded alike) passes over the whole picture once per
// scan, and a few kilobytes can hold hundreds of scans of an 8192-pixel
// square. Streams beyond 2^27 pixel-scans are refused: 8192 x 8192 in two
// scans, 4096 x 4096 in eight, 512 x 512 in 512 (TurboJPEG itself stops at 500).
constexpr std::uint64_t kScanWorkBudget = std::uint64_t{1} << 27;

// Walks the marker segments from SOI to EOI, skipping entropy-coded data, so a
// truncated or mangled stream is refused before a single row is written, and
// counts the scans. Bytes after EOI are allowed. Returns null when the stream
// is whole.
const char* CheckStructure(const std::uint8_t* bytes, std::size_t count, std::uint64_t& scans) {
    std::size_t pos = 2;  // past SOI
    bool inScan = false;
    scans = 0;
    for (;;) {
        if (inScan) {
            const void* mark = std::memchr(bytes + pos, 0xFF, count - pos);
            if (mark == nullptr) return kTruncated;
            pos = static_cast<std::size_t>(static_cast<const std::uint8_t*>(mark) - bytes);
        }
        if (pos >= count) return kTruncated;
        if (bytes[pos] != 0xFF) return kCorrupt;
        while (pos < count && bytes[pos] == 0xFF) ++pos;  // fill bytes
        if (pos >= count) return kTruncated;
        const std::uint8_t marker = bytes[pos++];
        if (marker == 0x00) {  // a stuffed 0xFF data byte
            if (!inScan) return kCorrupt;
            continue;
        }
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) continue;  // no length field
        if (marker == 0xD9) return scans > 0 ? nullptr : "jpeg holds no image data";
        if (count - pos < 2) return kTruncated;
        const std::size_t length = std::size_t{bytes[pos]} << 8 | bytes[pos + 1];
        if (length < 2) return kCorrupt;
        if (count - pos < length) return kTruncated;
        pos += length;
        inScan = marker == 0xDA;
        scans += inScan ? 1 : 0;
    }
}

// The smallest of TurboJPEG's 1/2, 1/4 and 1/8 scalings that still covers the
// cell, so that a picture at least twice the cell's size is decoded at a
// fraction of the work and memory, then stretched; 1/1 otherwise.
ImageSize ScaledSize(ImageSize full, ImageSize cell) {
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    ImageSize best = full;
    for (int i = 0; factors != nullptr && i < count; ++i) {
        const tjscalingfactor f = factors[i];
        if (f.num != 1 || (f.denom != 2 && f.denom != 4 && f.denom != 8)) continue;
        const ImageSize scaled{TJSCALED(full.width, f), TJSCALED(full.height, f)};
        if (scaled.width >= cell.width && scaled.height >= cell.height && scaled.width < best.width)
            best = scaled;
    }
    return best;
}

bool Fail(void* handle, std::string& error) {
    const char* text = tjGetErrorStr2(handle);
    error = text != nullptr && *text != '\0' ? text : "unknown decode error";
    return false;
}

}  // namespace

void JpegCodec::HandleDestroy::operator()(void* h) const {
    tjDestroy(h);
}

JpegCodec::JpegCodec() : handle(tjInitDecompress()) {}

bool JpegCodec::Open(const std::uint8_t* bytes, std::size_t count, ImageSize cell,
                     ImageSize& result, std::string& error) {
    if (!handle) {
        error = "cannot start the jpeg decoder";
        return false;
    }
    dataSize = count;
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colorspace = 0;
    if (tjDecompressHeader3(handle.get(), bytes, dataSize, &width, &height, &subsampling,
                            &colorspace) != 0)
        return Fail(handle.get(), error);
    // A stream cut short in its header reads as tables only: no size, one warning.
    if ((width < 1 || height < 1) && tjGetErrorCode(handle.get()) == TJERR_WARNING)
        return Fail(handle.get(), error);
    ImageSize full;
    if (!AcceptSize(static_cast<std::uint32_t>(width < 0 ? 0 : width),
                    static_cast<std::uint32_t>(height < 0 ? 0 : height), full, error))
        return false;
    std::uint64_t scans = 0;
    if (const char* reason = CheckStructure(bytes, count, scans)) {
        error = reason;
        return false;
    }
    const std::uint64_t work = std::uint64_t(full.width) * std::uint64_t(full.height) * scans;
    if (work > kScanWorkBudget) {
        error = "jpeg too costly to decode: " + std::to_string(full.width) + "x" +
                std::to_string(full.height) + " in " + std::to_string(scans) + " scans (limit " +
                std::to_string(kScanWorkBudget) + " pixel-scans)";
        return false;
    }
    size = ScaledSize(full, cell);
    data = bytes;
    cmyk = colorspace == TJCS_CMYK || colorspace == TJCS_YCCK;
    result = size;
    return true;
}

bool JpegCodec::Decode(const PixelRows& rows, std::string& error) {
    if (!cmyk) {
        if (rows.pitch > INT_MAX) {
            error = "row pitch too large";
            return false;
        }
        if (tjDecompress2(handle.get(), data, dataSize, rows.first, size.width,
                          static_cast<int>(rows.pitch), size.height, TJPF_RGB, kDecodeFlags) != 0)
            return Fail(handle.get(), error);
        return true;
    }
    // libjpeg does not turn inks into RGB. Decode the inks, then convert them
    // the way Adobe writes them (inverted: 255 is no ink), as other viewers do.
    const std::size_t pitch = static_cast<std::size_t>(size.width) * 4;
    const std::size_t needed = pitch * static_cast<std::size_t>(size.height);
    if (cmykPixels.size() < needed) cmykPixels.resize(needed);
    // Scratch of an oversized picture is not kept for the next one.
    struct Release {
        std::vector<std::uint8_t>& pixels;
        ~Release() {
            if (pixels.capacity() > kScratchKeepBytes) std::vector<std::uint8_t>().swap(pixels);
        }
    } release{cmykPixels};
    if (tjDecompress2(handle.get(), data, dataSize, cmykPixels.data(), size.width,
                      static_cast<int>(pitch), size.height, TJPF_CMYK, kDecodeFlags) != 0)
        return Fail(handle.get(), error);
    for (int row = 0; row < size.height; ++row) {
        const std::uint8_t* in = cmykPixels.data() + static_cast<std::size_t>(row) * pitch;
        std::uint8_t* out = rows.Row(row);
        for (int i = 0; i < size.width; ++i, in += 4, out += 3) {
            const unsigned black = in[3];
            out[0] = static_cast<std::uint8_t>((in[0] * black + 127u) / 255u);
            out[1] = static_cast<std::uint8_t>((in[1] * black + 127u) / 255u);
            out[2] = static_cast<std::uint8_t>((in[2] * black + 127u) / 255u);
        }
    }
    return true;
}

}  // namespace corvalis::detail
