// Bounded gzip and zlib decompression of untrusted tile bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvalis {

// The most a compressed tile may inflate to.
inline constexpr std::size_t kMaxInflatedTile = std::size_t{64} << 20;

// True when the bytes start like a gzip member (1F 8B) or a zlib stream (a
// deflate CMF byte with a window of at most 32 KiB, no preset dictionary, and
// a header check that divides by 31).
bool LooksCompressed(const std::uint8_t* bytes, std::size_t count);

// Inflates a gzip (one or more members) or zlib stream into out (replaced;
// its capacity is reused). Fails with a reason in error when the stream is
// corrupt, truncated, followed by other bytes, or would inflate to more than
// limit bytes; the output then grows to no more than limit bytes.
bool InflateGzipOrZlib(const std::uint8_t* bytes, std::size_t count, std::size_t limit,
                       std::vector<std::uint8_t>& out, std::string& error);

}  // namespace corvalis
