// Mapbox Vector Tiles (MVT 2.1) decoded into a compact, validated model.
//
// Every tile is untrusted. A tile is refused as a whole (DecodeVectorTile
// returns false) when its protobuf is malformed, when a layer breaks the rules
// below, or when it asks for more work than the limits allow:
// - layers: a name, version 1 or 2 (absent means 1), extent 1 to 2^24;
// - features: type UNKNOWN is skipped, a type above POLYGON refused; tags come
//   in pairs that index the layer's keys and values (which may follow the
//   features in the message);
// - values: exactly one of the seven value fields, shown as text (strings as
//   they are, numbers as their shortest round-trip decimal, true or false);
// - geometry: command ids 1, 2 and 7 only, every count within the integers
//   that remain, ClosePath with a count of 1. POINT is one MoveTo of one or
//   more points. LINESTRING is MoveTo(1) then LineTo commands of two or more
//   vertices in all. POLYGON rings are MoveTo(1), LineTo commands of at least
//   two vertices in all (three or more before closing), then ClosePath; ring
//   winding is not checked, since drawing and hit tests use the even-odd rule.
//   Zero-length steps and a last vertex repeating the first are tolerated.
//   Vertices may lie outside the tile (buffers) but no more than four extents
//   beyond any edge.
// - work: see VectorTileLimits. Duplicate layer names and repeated keys in one
//   feature are tolerated (they share a colour, a hidden state and a tooltip).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvalis {

struct VectorTileLimits {
    static constexpr std::size_t kMaxMessageBytes = std::size_t{64} << 20;
    static constexpr std::size_t kMaxLayers = 1000;
    // Features of any type (UNKNOWN ones too): tippecanoe's default ceiling.
    static constexpr std::size_t kMaxFeatures = 200'000;
    // Vertices over all layers: about 100 ms of drawing on one core.
    static constexpr std::size_t kMaxVertices = std::size_t{1} << 20;
    // Keys and values over all layers.
    static constexpr std::size_t kMaxDictionary = std::size_t{1} << 18;
    // Key/value pairs over all features.
    static constexpr std::size_t kMaxTags = std::size_t{1} << 20;
    static constexpr std::uint32_t kMaxExtent = std::uint32_t{1} << 24;
    static constexpr std::int64_t kCoordinateMarginExtents = 4;
};

enum class GeometryType : std::uint8_t { Point = 1, LineString = 2, Polygon = 3 };

struct TilePoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
    bool operator==(const TilePoint&) const = default;
};

// A feature's geometry is a run of parts of its layer: one part holding every
// point (POINT), one part per line (LINESTRING), or one per ring, without the
// closing vertex (POLYGON).
struct VectorFeature {
    std::uint64_t id = 0;
    bool hasId = false;
    GeometryType type = GeometryType::Point;
    std::uint32_t firstPart = 0;  // into VectorLayer::partEnds
    std::uint32_t partCount = 0;
    std::uint32_t firstTag = 0;  // pair number into VectorLayer::tags
    std::uint32_t tagCount = 0;  // pairs
};

struct VectorLayer {
    std::string name;
    std::uint32_t version = 1;
    std::uint32_t extent = 4096;
    std::vector<std::string> keys;
    std::vector<std::string> values;      // as text
    std::vector<VectorFeature> features;  // in the tile's order
    std::vector<TilePoint> vertices;      // tile coordinates, y down
    std::vector<std::uint32_t> partEnds;  // one past each part's last vertex
    std::vector<std::uint32_t> tags;      // key index, value index, ...

    std::span<const TilePoint> Part(std::uint32_t part) const {
        const std::uint32_t begin = part == 0 ? 0 : partEnds[part - 1];
        return {vertices.data() + begin, partEnds[part] - begin};
    }
    std::string_view Key(const VectorFeature& f, std::uint32_t pair) const {
        return keys[tags[2 * (f.firstTag + pair)]];
    }
    std::string_view Value(const VectorFeature& f, std::uint32_t pair) const {
        return values[tags[2 * (f.firstTag + pair) + 1]];
    }
};

struct VectorTile {
    std::vector<VectorLayer> layers;

    std::size_t FeatureCount() const;
    std::size_t VertexCount() const;
    // The heap the model holds, roughly: for budgets of kept tiles.
    std::size_t MemoryBytes() const;
};

// Decodes an uncompressed MVT message into out (replaced). On false, out is
// empty and error says why.
bool DecodeVectorTile(const std::uint8_t* bytes, std::size_t count, VectorTile& out,
                      std::string& error);

}  // namespace corvalis
