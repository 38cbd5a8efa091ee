// JPEG tiles through TurboJPEG, in its fastest mode.
#include <turbojpeg.h>

#include <climits>
#include <cstring>

#include "decode_codecs.h"

namespace corvalis::detail {

namespace {

// Fastest decode; a warning (truncated or corrupt data) ends the decode and
// fails the tile; a progressive stream with an absurd number of scans is refused.
constexpr int kDecodeFlags =
    TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE | TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS;

constexpr const char* kTruncated = "truncated jpeg: the data ends before the end of the image";
constexpr const char* kCorrupt = "corrupt jpeg: bad marker structure";

// Walks the marker segments from SOI to EOI, skipping entropy-coded data, so a
// truncated or mangled stream is refused before a single row is written.
// Bytes after EOI are allowed. Returns null when the stream is whole.
const char* CheckStructure(const std::uint8_t* bytes, std::size_t count) {
    std::size_t pos = 2;  // past SOI
    bool inScan = false;
    bool sawScan = false;
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
        if (marker == 0xD9) return sawScan ? nullptr : "jpeg holds no image data";
        if (count - pos < 2) return kTruncated;
        const std::size_t length = std::size_t{bytes[pos]} << 8 | bytes[pos + 1];
        if (length < 2) return kCorrupt;
        if (count - pos < length) return kTruncated;
        pos += length;
        inScan = marker == 0xDA;
        sawScan = sawScan || inScan;
    }
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

bool JpegCodec::Open(const std::uint8_t* bytes, std::size_t count, ImageSize& result,
                     std::string& error) {
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
    if (!AcceptSize(static_cast<std::uint32_t>(width < 0 ? 0 : width),
                    static_cast<std::uint32_t>(height < 0 ? 0 : height), size, error))
        return false;
    if (const char* reason = CheckStructure(bytes, count)) {
        error = reason;
        return false;
    }
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
