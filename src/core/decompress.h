// Bounded decompression of untrusted streams (gzip, zstd, brotli, or bytes
// stored as they are), for archive directories and compressed tiles alike.
// Output never grows past the limit the caller gives: a stream that would
// decompress to more stops with TooLarge, whatever its headers claim.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace corvalis {

enum class Compression : std::uint8_t { None, Gzip, Brotli, Zstd };

enum class DecompressStatus : std::uint8_t {
    Ok,        // the stream ended; its output is complete
    More,      // fed so far without error; the stream has not ended yet
    TooLarge,  // the output would pass the limit
    Corrupt,   // not a valid stream, or it ended early
};

// Decompresses a stream fed in pieces, in order. Gzip streams may also carry
// a zlib header. Bytes after the end of the first stream are ignored.
class Decompressor {
public:
    Decompressor(Compression compression, std::size_t limit);
    ~Decompressor();
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    // Feeds the next piece; last is true for the final one (a stream that has
    // not ended by then is Corrupt). Once a status other than More has been
    // returned, further pieces change nothing.
    DecompressStatus Feed(const std::uint8_t* data, std::size_t size, bool last);
    // The output so far (all of it once Feed returned Ok).
    std::vector<std::uint8_t>& output() { return out_; }

    struct Engine;

private:
    DecompressStatus Run(const std::uint8_t* data, std::size_t size);

    Compression compression_;
    std::size_t limit_;
    std::vector<std::uint8_t> out_;
    std::size_t produced_ = 0;
    DecompressStatus status_ = DecompressStatus::More;
    std::unique_ptr<Engine> engine_;
};

// The whole stream at once; out holds the result on Ok and is cleared otherwise.
DecompressStatus Decompress(Compression compression, const std::uint8_t* data, std::size_t size,
                            std::size_t limit, std::vector<std::uint8_t>& out);

}  // namespace corvalis
