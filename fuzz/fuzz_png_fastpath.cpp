// The PNG codec as DrawTile uses it (fast path first) against libspng alone,
// on arbitrary bytes. The first byte holds flags: bit 0 recomputes the CRC of
// every chunk, bit 1 the Adler-32 of the image data's zlib stream (from what
// libdeflate inflates it to), so that changes inside the image data reach the
// decoders instead of failing their checks. The rest is the tile; the PNG
// signature is put in front when it lacks it.
//
// Both codecs write into the same noise, rows of a wider pitch. Their success
// and every byte of the destination must be the same, failures included:
// the fast path writes nothing unless it succeeds, and what it refuses (CRC
// or Adler-32 errors libspng does not see, streams that do not end exactly at
// the picture's end, split image data) goes through libspng.
//
// One difference is allowed, and confirmed here each time it shows: image
// data that libdeflate inflates to exactly the picture but zlib (libspng's
// inflater) refuses as malformed deflate data. libdeflate takes a few
// malformed Huffman code descriptions that zlib does not (a repeat code with
// nothing to repeat or running past the code lengths, 287 and 288 length or
// 31 and 32 distance codes, incomplete codes). No encoder writes them; telling
// them apart would take a second inflate of every tile. Such a tile is drawn
// where libspng reports "IDAT stream error".
#include <libdeflate.h>
#include <spng.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "decode_codecs.h"
#include "fuzzcheck.h"
#include "pngwriter.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using corvalis::detail::PngCodec;
using testsupport::GetBig32;
using testsupport::PutBig32;

// Pictures larger than this are opened but not decoded (the destination alone
// would take most of the run's time).
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 22;

// Rows and filter bytes of a non-interlaced picture, or 0 when the header is
// not one the fast path would inflate.
std::size_t InflatedSize(const Bytes& png) {
    if (png.size() < 33 || std::memcmp(png.data() + 12, "IHDR", 4) != 0) return 0;
    const std::uint64_t width = GetBig32(png.data() + 16), height = GetBig32(png.data() + 20);
    const unsigned depth = png[24], type = png[25];
    const unsigned channels = type == 2 ? 3 : type == 4 ? 2 : type == 6 ? 4 : 1;
    if (width > 8192 || height > 8192 || depth > 8) return 0;
    return static_cast<std::size_t>(height * ((width * channels * depth + 7) / 8 + 1));
}

// The first run of IDAT chunks: the offset in png of each byte of their data.
std::vector<std::size_t> ImageDataOffsets(const Bytes& png) {
    std::vector<std::size_t> where;
    for (const auto& c : testsupport::PngChunks(png)) {
        if (c.type != "IDAT") {
            if (!where.empty()) break;
            continue;
        }
        for (std::size_t i = 0; i < c.length; ++i) where.push_back(c.offset + 8 + i);
    }
    return where;
}

Bytes ImageData(const Bytes& png, const std::vector<std::size_t>& where) {
    Bytes stream;
    for (std::size_t at : where) stream.push_back(png[at]);
    return stream;
}

// Writes the Adler-32 of what the first run of IDAT data inflates to after
// its deflate data, where the stream ends.
void FixAdler(Bytes& png, libdeflate_decompressor* inflater) {
    const std::vector<std::size_t> where = ImageDataOffsets(png);
    const std::size_t size = InflatedSize(png);
    if (where.size() < 6 || size == 0 || size > (std::size_t{64} << 20)) return;
    const Bytes stream = ImageData(png, where);
    Bytes out(size);
    std::size_t in = 0, produced = 0;
    if (libdeflate_deflate_decompress_ex(inflater, stream.data() + 2, stream.size() - 2, out.data(),
                                         out.size(), &in, &produced) != LIBDEFLATE_SUCCESS ||
        2 + in + 4 > stream.size())
        return;
    std::uint8_t adler[4];
    PutBig32(adler, libdeflate_adler32(1, out.data(), produced));
    for (int i = 0; i < 4; ++i) png[where[2 + in + static_cast<std::size_t>(i)]] = adler[i];
}

// True when zlib finds the deflate data of the image data malformed.
bool ZlibRefuses(const Bytes& png) {
    Bytes stream = ImageData(png, ImageDataOffsets(png));
    Bytes out(InflatedSize(png) + 1);
    if (stream.size() < 2) return false;
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    z.next_in = stream.data() + 2;
    z.avail_in = static_cast<uInt>(stream.size() - 2);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&z, Z_FINISH);
    inflateEnd(&z);
    return rc == Z_DATA_ERROR;
}

void FixCrcs(Bytes& png) {
    for (const auto& c : testsupport::PngChunks(png))
        PutBig32(png.data() + c.offset + 8 + c.length,
                 testsupport::PngCrc(png.data() + c.offset + 4, std::size_t{c.length} + 4));
}

struct Outcome {
    bool opened = false;
    bool ok = false;
    std::string error;
    Bytes pixels;
};

Outcome Decode(PngCodec& codec, const Bytes& png) {
    Outcome o;
    corvalis::detail::ImageSize size;
    o.opened = codec.Open(png.data(), png.size(), size, o.error);
    if (!o.opened || std::uint64_t(size.width) * std::uint64_t(size.height) > kMaxPixels) return o;
    const std::ptrdiff_t pitch = size.width * 3 + 5;
    o.pixels.resize(static_cast<std::size_t>(pitch) * static_cast<std::size_t>(size.height));
    for (std::size_t i = 0; i < o.pixels.size(); ++i)
        o.pixels[i] = static_cast<std::uint8_t>(i * 2654435761u >> 13);
    o.ok = codec.Decode({o.pixels.data(), pitch, size.width, size.height}, o.error);
    return o;
}

PngCodec* fast = nullptr;
PngCodec* reference = nullptr;
libdeflate_decompressor* inflater = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fast = new PngCodec(true);
    reference = new PngCodec(false);
    inflater = libdeflate_alloc_decompressor();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static const std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes png(data + 1, data + size);
    if (png.size() < 8 || std::memcmp(png.data(), kSignature, 8) != 0)
        png.insert(png.begin(), std::begin(kSignature), std::end(kSignature));
    if (data[0] & 2) FixAdler(png, inflater);
    if (data[0] & 1) FixCrcs(png);

    const Outcome got = Decode(*fast, png);
    const Outcome want = Decode(*reference, png);
    if (got.ok && !want.ok && want.error == spng_strerror(SPNG_EIDAT_STREAM) && ZlibRefuses(png))
        return 0;  // the one difference allowed (see the top of the file)
    if (got.ok != want.ok || got.error != want.error || got.pixels != want.pixels) {
        std::fprintf(stderr, "with the fast path: %s (%s); libspng alone: %s (%s)\n",
                     got.ok ? "decoded" : "failed", got.error.c_str(),
                     want.ok ? "decoded" : "failed", want.error.c_str());
        fuzzsupport::WriteBytes("png-fastpath-difference.png", png.data(), png.size());
    }
    FUZZ_CHECK(got.opened == want.opened);
    FUZZ_CHECK(got.ok == want.ok);
    FUZZ_CHECK(got.error == want.error);
    FUZZ_CHECK(got.pixels == want.pixels);
    FUZZ_CHECK(got.ok || !got.error.empty());
    return 0;
}
