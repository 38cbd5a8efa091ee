// Bounded gzip/zlib inflation of untrusted bytes: every good stream comes back
// whole, every broken one fails with a reason, nothing grows past the limit.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "inflate.h"
#include "mvtwriter.h"
#include "watchdog.h"

using corvalis::InflateGzipOrZlib;
using corvalis::LooksCompressed;
using testsupport::mvt::Bytes;
using testsupport::mvt::Gzip;
using testsupport::mvt::GzipOfZeros;
using testsupport::mvt::Zlib;

namespace {

Bytes Sample(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((i * 7) ^ (i >> 5));
    return b;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(Inflate, StreamsTable) {
    const Bytes raw = Sample(300'000);
    const Bytes gz = Gzip(raw);
    Bytes corrupt = gz;
    corrupt[gz.size() / 2] ^= 0x55;
    Bytes badCrc = gz;
    badCrc[gz.size() - 6] ^= 1;
    struct Case {
        const char* name;
        Bytes in;
        std::size_t limit;
        bool ok;
        Bytes expected;
    };
    const Case cases[] = {
        {"gzip", gz, raw.size(), true, raw},
        {"zlib", Zlib(raw), raw.size(), true, raw},
        {"empty gzip", Gzip({}), 10, true, {}},
        {"the bomb writer's zeros", GzipOfZeros(4 << 20), 4 << 20, true, Bytes(4 << 20)},
        {"two gzip members", Concat(Gzip({1, 2}), Gzip({3})), 10, true, {1, 2, 3}},
        {"one byte over the limit", gz, raw.size() - 1, false, {}},
        {"truncated", Bytes(gz.begin(), gz.end() - 9), raw.size(), false, {}},
        {"header only", Bytes(gz.begin(), gz.begin() + 10), raw.size(), false, {}},
        {"corrupt", corrupt, raw.size(), false, {}},
        {"bad checksum", badCrc, raw.size(), false, {}},
        {"trailing garbage", Concat(Zlib(raw), {0, 1, 2}), raw.size(), false, {}},
        {"not compressed", raw, raw.size(), false, {}},
        {"empty input", {}, 10, false, {}},
    };
    for (const Case& c : cases) {
        Bytes out = {9, 9};
        std::string error;
        EXPECT_EQ(InflateGzipOrZlib(c.in.data(), c.in.size(), c.limit, out, error), c.ok) << c.name;
        EXPECT_EQ(out, c.expected) << c.name;
        EXPECT_EQ(error.empty(), c.ok) << c.name << ": " << error;
    }
}

TEST(Inflate, BombStopsAtTheLimit) {
    testsupport::Watchdog watchdog("inflating a gzip bomb");
    const Bytes bomb = GzipOfZeros(std::uint64_t{1} << 30);  // 1 GiB of zeros
    Bytes out;
    std::string error;
    EXPECT_FALSE(
        InflateGzipOrZlib(bomb.data(), bomb.size(), corvalis::kMaxInflatedTile, out, error));
    EXPECT_NE(error.find("more than"), std::string::npos) << error;
    EXPECT_LE(out.capacity(), corvalis::kMaxInflatedTile);
}

TEST(Inflate, LooksCompressedTable) {
    struct Case {
        Bytes head;
        bool compressed;
    };
    const Case cases[] = {
        {{0x1F, 0x8B}, true},  {{0x78, 0x9C}, true}, {{0x78, 0x01}, true},
        {{0x78, 0xDA}, true},  {{0x58, 0x85}, true}, {{0x78, 0x9D}, false},  // check fails
        {{0x78, 0xBB}, false},                                               // preset dictionary
        {{0x1A, 0x10}, false},                                               // an MVT layer field
        {{0x89, 'P'}, false},  {{0x1F}, false},      {{}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LooksCompressed(c.head.data(), c.head.size()), c.compressed)
            << int(c.head.empty() ? -1 : c.head[0]);
}

}  // namespace
