#include "inflate.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace corvalis {

namespace {

// Output grows from a few times the input, doubling up to the limit, so that
// a small tile never reserves the whole limit.
constexpr std::size_t kFirstGrowth = std::size_t{64} << 10;
// zlib counts in 32-bit units: input and output are fed in pieces no larger.
constexpr std::size_t kPiece = std::numeric_limits<uInt>::max();

class Inflater {
public:
    Inflater() { ok = inflateInit2(&stream, 15 + 32) == Z_OK; }  // 32: gzip or zlib header
    ~Inflater() {
        if (ok) inflateEnd(&stream);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    bool ok = false;
    z_stream stream{};
};

bool IsGzipStart(const std::uint8_t* bytes, std::size_t count) {
    return count >= 2 && bytes[0] == 0x1F && bytes[1] == 0x8B;
}

bool Fail(std::string& error, const std::string& reason, std::vector<std::uint8_t>& out) {
    error = reason;
    out.clear();
    return false;
}

// Runs one inflate step with at most one piece of input and of output.
int Step(z_stream& s, const std::uint8_t*& in, std::size_t& inLeft, std::uint8_t* outAt,
         std::size_t outRoom, std::size_t& produced) {
    const uInt inPiece = static_cast<uInt>(std::min(inLeft, kPiece));
    const uInt outPiece = static_cast<uInt>(std::min(outRoom, kPiece));
    s.next_in = const_cast<Bytef*>(in);
    s.avail_in = inPiece;
    s.next_out = outAt;
    s.avail_out = outPiece;
    const int rc = inflate(&s, Z_NO_FLUSH);
    in += inPiece - s.avail_in;
    inLeft -= inPiece - s.avail_in;
    produced = outPiece - s.avail_out;
    return rc;
}

}  // namespace

bool LooksCompressed(const std::uint8_t* bytes, std::size_t count) {
    if (bytes == nullptr || count < 2) return false;
    if (IsGzipStart(bytes, count)) return true;
    const unsigned cmf = bytes[0], flg = bytes[1];
    const bool deflate = (cmf & 0x0F) == 8 && (cmf >> 4) <= 7;
    return deflate && (flg & 0x20) == 0 && (cmf * 256 + flg) % 31 == 0;
}

bool InflateGzipOrZlib(const std::uint8_t* bytes, std::size_t count, std::size_t limit,
                       std::vector<std::uint8_t>& out, std::string& error) {
    out.clear();
    if (bytes == nullptr || count == 0) return Fail(error, "empty compressed stream", out);
    Inflater inflater;
    if (!inflater.ok) return Fail(error, "cannot start zlib", out);
    z_stream& s = inflater.stream;
    const std::uint8_t* in = bytes;
    std::size_t inLeft = count;
    std::size_t size = 0;
    std::uint8_t probe = 0;
    for (;;) {
        if (size == out.size() && size < limit) {
            const std::size_t grown = std::max(kFirstGrowth, std::max(size * 2, count * 4));
            out.reserve(std::min(grown, limit));  // exactly: never past the limit
            out.resize(std::min(out.capacity(), limit));
        }
        // Once full, the stream may still end, but must not give one byte more.
        const bool full = size == out.size();
        std::size_t produced = 0;
        const int rc = full ? Step(s, in, inLeft, &probe, 1, produced)
                            : Step(s, in, inLeft, out.data() + size, out.size() - size, produced);
        if (full && produced > 0)
            return Fail(error, "inflates to more than " + std::to_string(limit) + " bytes", out);
        size += produced;
        if (rc == Z_STREAM_END) {
            if (inLeft == 0) break;
            // Another gzip member follows (as gzip itself writes appended files).
            if (IsGzipStart(in, inLeft) && inflateReset(&s) == Z_OK) continue;
            return Fail(error, "bytes after the compressed stream", out);
        }
        if (rc == Z_BUF_ERROR && inLeft == 0)
            return Fail(error, "truncated compressed stream", out);
        if (rc != Z_OK) {
            const std::string why = s.msg != nullptr ? s.msg : "zlib error " + std::to_string(rc);
            return Fail(error, "corrupt compressed stream: " + why, out);
        }
    }
    out.resize(size);
    return true;
}

}  // namespace corvalis
