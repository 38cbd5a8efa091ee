// Writes Mapbox Vector Tiles (MVT 2.1) with protozero for tests, fuzz seeds
// and benchmarks, gzip or zlib compressed on demand. Geometry is given as a
// raw command stream, so that broken streams can be written too; the helpers
// below encode well-formed ones from absolute tile coordinates.
#pragma once

#include <zlib.h>
#include <protozero/pbf_writer.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace testsupport::mvt {

using Bytes = std::vector<std::uint8_t>;
using Geometry = std::vector<std::uint32_t>;

enum : std::uint32_t { kUnknown = 0, kPoint = 1, kLine = 2, kPolygon = 3 };
enum : std::uint32_t { kMoveTo = 1, kLineTo = 2, kClosePath = 7 };

struct Vertex {
    std::int32_t x = 0, y = 0;
};

inline std::uint32_t Command(std::uint32_t id, std::uint32_t count) {
    return (id & 7u) | (count << 3);
}
inline std::uint32_t Zigzag(std::int32_t v) {
    return (static_cast<std::uint32_t>(v) << 1) ^ static_cast<std::uint32_t>(v >> 31);
}

// Appends MoveTo or LineTo with the steps from cursor to each vertex.
inline void AppendSteps(Geometry& g, std::uint32_t id, const std::vector<Vertex>& to,
                        Vertex& cursor) {
    g.push_back(Command(id, static_cast<std::uint32_t>(to.size())));
    for (const Vertex v : to) {
        g.push_back(Zigzag(v.x - cursor.x));
        g.push_back(Zigzag(v.y - cursor.y));
        cursor = v;
    }
}

inline Geometry Points(const std::vector<Vertex>& points) {
    Geometry g;
    Vertex cursor;
    AppendSteps(g, kMoveTo, points, cursor);
    return g;
}

inline Geometry Lines(const std::vector<std::vector<Vertex>>& lines) {
    Geometry g;
    Vertex cursor;
    for (const auto& line : lines) {
        AppendSteps(g, kMoveTo, {line.front()}, cursor);
        AppendSteps(g, kLineTo, std::vector<Vertex>(line.begin() + 1, line.end()), cursor);
    }
    return g;
}

// Rings without their closing vertex (clockwise on screen for exteriors).
inline Geometry Polygon(const std::vector<std::vector<Vertex>>& rings) {
    Geometry g;
    Vertex cursor;
    for (const auto& ring : rings) {
        AppendSteps(g, kMoveTo, {ring.front()}, cursor);
        AppendSteps(g, kLineTo, std::vector<Vertex>(ring.begin() + 1, ring.end()), cursor);
        g.push_back(Command(kClosePath, 1));
    }
    return g;
}

struct Sint {
    std::int64_t value;
};
using Value = std::variant<std::string, float, double, std::int64_t, std::uint64_t, Sint, bool>;

using Properties = std::vector<std::pair<std::string, Value>>;

struct Feature {
    Feature(std::uint32_t t = kPoint, Geometry g = {}, Properties p = {},
            std::optional<std::uint64_t> i = {}, std::optional<std::vector<std::uint32_t>> raw = {})
        : type(t),
          geometry(std::move(g)),
          properties(std::move(p)),
          id(i),
          rawTags(std::move(raw)) {}

    std::uint32_t type;
    Geometry geometry;
    Properties properties;
    std::optional<std::uint64_t> id;
    std::optional<std::vector<std::uint32_t>> rawTags;  // written instead of the properties' tags
};

struct Layer {
    Layer(std::string n, std::vector<Feature> f = {}, std::optional<std::uint32_t> e = 4096,
          std::optional<std::uint32_t> v = 2)
        : name(std::move(n)), features(std::move(f)), extent(e), version(v) {}

    std::string name;
    std::vector<Feature> features;
    std::optional<std::uint32_t> extent;
    std::optional<std::uint32_t> version;
    bool named = true;
};

namespace detail {

inline void WriteValue(protozero::pbf_writer& layer, const Value& value) {
    protozero::pbf_writer v(layer, 4);
    std::visit(
        [&](const auto& x) {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, std::string>) v.add_string(1, x);
            if constexpr (std::is_same_v<T, float>) v.add_float(2, x);
            if constexpr (std::is_same_v<T, double>) v.add_double(3, x);
            if constexpr (std::is_same_v<T, std::int64_t>) v.add_int64(4, x);
            if constexpr (std::is_same_v<T, std::uint64_t>) v.add_uint64(5, x);
            if constexpr (std::is_same_v<T, Sint>) v.add_sint64(6, x.value);
            if constexpr (std::is_same_v<T, bool>) v.add_bool(7, x);
        },
        value);
}

// Keys and values are numbered in order of first use and written after the
// features, as most encoders do.
inline void WriteLayer(protozero::pbf_writer& tile, const Layer& in) {
    protozero::pbf_writer layer(tile, 3);
    if (in.version) layer.add_uint32(15, *in.version);
    if (in.named) layer.add_string(1, in.name);
    std::map<std::string, std::uint32_t> keys;
    std::vector<std::string> keyList;
    std::vector<Value> valueList;
    for (const Feature& f : in.features) {
        protozero::pbf_writer feature(layer, 2);
        if (f.id) feature.add_uint64(1, *f.id);
        std::vector<std::uint32_t> tags;
        for (const auto& [key, value] : f.properties) {
            auto [it, fresh] = keys.emplace(key, static_cast<std::uint32_t>(keyList.size()));
            if (fresh) keyList.push_back(key);
            tags.push_back(it->second);
            tags.push_back(static_cast<std::uint32_t>(valueList.size()));
            valueList.push_back(value);
        }
        const auto& written = f.rawTags ? *f.rawTags : tags;
        feature.add_packed_uint32(2, written.begin(), written.end());
        feature.add_enum(3, static_cast<std::int32_t>(f.type));
        feature.add_packed_uint32(4, f.geometry.begin(), f.geometry.end());
    }
    for (const std::string& k : keyList) layer.add_string(3, k);
    for (const Value& v : valueList) WriteValue(layer, v);
    if (in.extent) layer.add_uint32(5, *in.extent);
}

}  // namespace detail

inline Bytes Write(const std::vector<Layer>& layers) {
    std::string data;
    {
        protozero::pbf_writer tile(data);
        for (const Layer& layer : layers) detail::WriteLayer(tile, layer);
    }
    return Bytes(data.begin(), data.end());
}

// Compresses with zlib: windowBits 31 writes gzip, 15 a zlib stream. The
// input is given as chunkCount repetitions of chunk.
inline Bytes Deflate(const Bytes& chunk, std::size_t chunkCount, int windowBits, int level = 6) {
    z_stream s{};
    if (deflateInit2(&s, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    Bytes out;
    std::vector<std::uint8_t> buffer(std::size_t{1} << 16);
    for (std::size_t i = 0; i <= chunkCount; ++i) {
        const bool last = i == chunkCount;
        s.next_in = const_cast<Bytef*>(chunk.data());
        s.avail_in = last ? 0 : static_cast<uInt>(chunk.size());
        int rc = Z_OK;
        do {
            s.next_out = buffer.data();
            s.avail_out = static_cast<uInt>(buffer.size());
            rc = deflate(&s, last ? Z_FINISH : Z_NO_FLUSH);
            out.insert(out.end(), buffer.data(), s.next_out);
        } while (s.avail_out == 0 || (last && rc != Z_STREAM_END));
    }
    deflateEnd(&s);
    return out;
}

inline Bytes Gzip(const Bytes& raw) {
    return Deflate(raw, 1, 15 + 16);
}
inline Bytes Zlib(const Bytes& raw) {
    return Deflate(raw, 1, 15);
}

// A gzip member of zeroBytes zeros (a multiple of 1 MiB), made in
// milliseconds: after a full flush deflate writes the same bytes for the same
// megabyte, so one compressed megabyte is repeated; the trailer is exact.
inline Bytes GzipOfZeros(std::uint64_t zeroBytes) {
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    const Bytes zeros(kChunk);
    z_stream s{};
    if (deflateInit2(&s, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::vector<std::uint8_t> buffer(kChunk);
    auto chunk = [&](std::size_t inCount, int flush) {
        s.next_in = const_cast<Bytef*>(zeros.data());
        s.avail_in = static_cast<uInt>(inCount);
        s.next_out = buffer.data();
        s.avail_out = static_cast<uInt>(buffer.size());
        deflate(&s, flush);
        return Bytes(buffer.data(), s.next_out);
    };
    Bytes out = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3};
    const Bytes first = chunk(kChunk, Z_FULL_FLUSH), steady = chunk(kChunk, Z_FULL_FLUSH);
    if (chunk(kChunk, Z_FULL_FLUSH) != steady) throw std::runtime_error("deflate output varies");
    const Bytes end = chunk(0, Z_FINISH);
    deflateEnd(&s);
    const std::uint64_t chunks = zeroBytes / kChunk;
    out.insert(out.end(), first.begin(), first.end());
    for (std::uint64_t i = 1; i < chunks; ++i) out.insert(out.end(), steady.begin(), steady.end());
    out.insert(out.end(), end.begin(), end.end());
    uLong crc = crc32(0, zeros.data(), static_cast<uInt>(kChunk));
    const uLong chunkCrc = crc;
    for (std::uint64_t i = 1; i < chunks; ++i) crc = crc32_combine(crc, chunkCrc, kChunk);
    for (const std::uint64_t v : {std::uint64_t{crc}, zeroBytes})
        for (int b = 0; b < 4; ++b) out.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
    return out;
}

}  // namespace testsupport::mvt
