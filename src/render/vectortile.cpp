#include "vectortile.h"

#include <protozero/exception.hpp>
#include <protozero/pbf_reader.hpp>

#include <charconv>
#include <new>
#include <stdexcept>

#include "vectorgeometry.h"

namespace corvalis {

namespace {

using protozero::data_view;
using protozero::pbf_reader;
using protozero::pbf_wire_type;

constexpr pbf_wire_type kVarint = pbf_wire_type::varint;
constexpr pbf_wire_type kBytes = pbf_wire_type::length_delimited;

template <class Number>
std::string NumberText(Number n) {
    char text[40];
    const auto result = std::to_chars(text, text + sizeof text, n);
    return std::string(text, result.ptr);
}

// Reads the messages of one tile, spending the work budgets as it goes.
class MessageReader {
public:
    MessageReader(VectorTile& tile, std::string& error) : out(tile), message(error) {}

    bool Tile(const std::uint8_t* bytes, std::size_t count) {
        pbf_reader tile(reinterpret_cast<const char*>(bytes), count);
        while (tile.next()) {
            if (tile.tag() != 3) {
                tile.skip();
                continue;
            }
            if (tile.wire_type() != kBytes) return Fail("layer field is not a message");
            if (out.layers.size() == VectorTileLimits::kMaxLayers) return Fail("too many layers");
            out.layers.emplace_back();
            if (!Layer(tile.get_view(), out.layers.back())) return false;
        }
        return true;
    }

private:
    bool Fail(const std::string& reason) {
        message = reason;
        return false;
    }

    bool LayerFail(const VectorLayer& layer, const std::string& reason) {
        const std::string name =
            layer.name.size() > 40 ? layer.name.substr(0, 40) + "..." : layer.name;
        return Fail("layer " + std::to_string(out.layers.size() - 1) + " (" + name +
                    "): " + reason);
    }

    bool Layer(data_view bytes, VectorLayer& layer) {
        if (!LayerHeader(bytes, layer)) return false;
        pbf_reader features(bytes);
        while (features.next(2, kBytes))
            if (!Feature(features.get_view(), layer)) return false;
        return true;
    }

    // Everything but the features, which may come first but need the dictionary.
    bool LayerHeader(data_view bytes, VectorLayer& layer);
    bool Feature(data_view bytes, VectorLayer& layer);
    bool Value(data_view bytes, std::string& text);
    bool Integers(pbf_reader& field, std::vector<std::uint32_t>& to, std::size_t limit);

    VectorTile& out;
    std::string& message;
    std::size_t featureCount = 0;
    std::size_t dictionary = 0;
    std::size_t verticesLeft = VectorTileLimits::kMaxVertices;
    std::size_t tagIntsLeft = 2 * VectorTileLimits::kMaxTags;  // over all layers
    std::vector<std::uint32_t> geometry;  // the current feature's command stream
};

bool MessageReader::LayerHeader(data_view bytes, VectorLayer& layer) {
    pbf_reader r(bytes);
    bool named = false;
    std::uint64_t version = 1, extent = 4096;
    while (r.next()) {
        const std::uint32_t tag = r.tag();
        const bool known = tag == 1 || tag == 2 || tag == 3 || tag == 4 || tag == 5 || tag == 15;
        if (!known) {
            r.skip();
            continue;
        }
        const pbf_wire_type wanted = tag == 5 || tag == 15 ? kVarint : kBytes;
        if (r.wire_type() != wanted)
            return LayerFail(layer, "field " + std::to_string(tag) + " has the wrong wire type");
        if ((tag == 3 || tag == 4) && ++dictionary > VectorTileLimits::kMaxDictionary)
            return LayerFail(layer, "too many keys and values");
        switch (tag) {
            case 1: layer.name = r.get_string(), named = true; break;
            case 2: r.skip(); break;
            case 3: layer.keys.push_back(r.get_string()); break;
            case 4:
                layer.values.emplace_back();
                if (!Value(r.get_view(), layer.values.back())) return LayerFail(layer, message);
                break;
            case 5: extent = r.get_uint64(); break;
            default: version = r.get_uint64(); break;
        }
    }
    if (!named) return LayerFail(layer, "no name");
    if (version != 1 && version != 2)
        return LayerFail(layer, "unsupported version " + std::to_string(version));
    if (extent == 0 || extent > VectorTileLimits::kMaxExtent)
        return LayerFail(layer, "extent " + std::to_string(extent) + " out of range");
    layer.version = static_cast<std::uint32_t>(version);
    layer.extent = static_cast<std::uint32_t>(extent);
    return true;
}

// A packed field (or a single unpacked integer) appended to to, up to limit integers.
bool MessageReader::Integers(pbf_reader& field, std::vector<std::uint32_t>& to, std::size_t limit) {
    if (field.wire_type() == kVarint) {
        if (to.size() >= limit) return false;
        to.push_back(field.get_uint32());
        return true;
    }
    for (const std::uint32_t v : field.get_packed_uint32()) {
        if (to.size() >= limit) return false;
        to.push_back(v);
    }
    return true;
}

bool MessageReader::Feature(data_view bytes, VectorLayer& layer) {
    if (++featureCount > VectorTileLimits::kMaxFeatures)
        return LayerFail(layer, "too many features");
    const std::string where = "feature " + std::to_string(layer.features.size()) + ": ";
    VectorFeature feature;
    std::uint64_t type = 0;
    const std::size_t tagStart = layer.tags.size();
    // A vertex takes two integers; a valid stream needs at most two commands a vertex.
    const std::size_t geometryLimit = 4 * verticesLeft + 1;
    geometry.clear();
    pbf_reader r(bytes);
    while (r.next()) {
        const std::uint32_t tag = r.tag();
        const bool integers = tag == 2 || tag == 4;
        if (tag < 1 || tag > 4) {
            r.skip();
        } else if (r.wire_type() != kVarint && !(integers && r.wire_type() == kBytes)) {
            return LayerFail(layer,
                             where + "field " + std::to_string(tag) + " has the wrong wire type");
        } else if (tag == 1) {
            feature.id = r.get_uint64(), feature.hasId = true;
        } else if (tag == 3) {
            type = r.get_uint64();
        } else if (tag == 2 && !Integers(r, layer.tags, tagStart + tagIntsLeft)) {
            return LayerFail(layer, where + "too many properties for one tile");
        } else if (tag == 4 && !Integers(r, geometry, geometryLimit)) {
            return LayerFail(layer, where + "too many vertices for one tile");
        }
    }
    if (type > 3) return LayerFail(layer, where + "unknown geometry type " + std::to_string(type));
    if (type == 0) {  // UNKNOWN: left out, as the format allows
        layer.tags.resize(tagStart);
        return true;
    }
    const std::size_t tagInts = layer.tags.size() - tagStart;
    if (tagInts % 2 != 0) return LayerFail(layer, where + "odd number of tags");
    tagIntsLeft -= tagInts;
    for (std::size_t i = tagStart; i < layer.tags.size(); i += 2)
        if (layer.tags[i] >= layer.keys.size() || layer.tags[i + 1] >= layer.values.size())
            return LayerFail(layer, where + "tag out of the key or value range");
    feature.firstTag = static_cast<std::uint32_t>(tagStart / 2);
    feature.tagCount = static_cast<std::uint32_t>(tagInts / 2);
    feature.type = static_cast<GeometryType>(type);
    if (!detail::DecodeGeometry(geometry, layer, feature, verticesLeft, message))
        return LayerFail(layer, where + message);
    layer.features.push_back(feature);
    return true;
}

bool MessageReader::Value(data_view bytes, std::string& text) {
    pbf_reader r(bytes);
    int fields = 0;
    while (r.next()) {
        const std::uint32_t tag = r.tag();
        if (tag < 1 || tag > 7) {
            r.skip();
            continue;
        }
        const pbf_wire_type wanted = tag == 1   ? kBytes
                                     : tag == 2 ? pbf_wire_type::fixed32
                                     : tag == 3 ? pbf_wire_type::fixed64
                                                : kVarint;
        if (r.wire_type() != wanted) return Fail("value field of the wrong wire type");
        ++fields;
        switch (tag) {
            case 1: text = r.get_string(); break;
            case 2: text = NumberText(r.get_float()); break;
            case 3: text = NumberText(r.get_double()); break;
            case 4: text = NumberText(r.get_int64()); break;
            case 5: text = NumberText(r.get_uint64()); break;
            case 6: text = NumberText(r.get_sint64()); break;
            // Not get_bool(), which reads a byte before checking that one is there.
            default: text = r.get_uint64() != 0 ? "true" : "false"; break;
        }
    }
    if (fields != 1) return Fail("value without exactly one field");
    return true;
}

}  // namespace

std::size_t VectorTile::FeatureCount() const {
    std::size_t n = 0;
    for (const VectorLayer& layer : layers) n += layer.features.size();
    return n;
}

std::size_t VectorTile::VertexCount() const {
    std::size_t n = 0;
    for (const VectorLayer& layer : layers) n += layer.vertices.size();
    return n;
}

std::size_t VectorTile::MemoryBytes() const {
    auto strings = [](const std::vector<std::string>& list) {
        std::size_t n = list.capacity() * sizeof(std::string);
        for (const std::string& s : list) n += s.capacity() + 1;
        return n;
    };
    std::size_t n = layers.capacity() * sizeof(VectorLayer);
    for (const VectorLayer& l : layers)
        n += l.name.capacity() + strings(l.keys) + strings(l.values) +
             l.features.capacity() * sizeof(VectorFeature) +
             l.vertices.capacity() * sizeof(TilePoint) +
             (l.partEnds.capacity() + l.tags.capacity()) * sizeof(std::uint32_t);
    return n;
}

bool DecodeVectorTile(const std::uint8_t* bytes, std::size_t count, VectorTile& out,
                      std::string& error) {
    out.layers.clear();
    error.clear();
    if (count > VectorTileLimits::kMaxMessageBytes) {
        error = "vector tile larger than 64 MiB";
        return false;
    }
    if (bytes == nullptr && count > 0) {
        error = "no bytes";
        return false;
    }
    try {
        MessageReader reader(out, error);
        if (reader.Tile(bytes, count)) return true;
    } catch (const protozero::exception& e) {
        error = std::string("malformed protobuf: ") + e.what();
    } catch (const std::bad_alloc&) {
        error = "out of memory";
    } catch (const std::length_error&) {
        error = "out of memory";
    }
    out.layers.clear();
    return false;
}

}  // namespace corvalis
