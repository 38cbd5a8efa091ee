#include "vectorgeometry.h"

namespace corvalis::detail {

namespace {

constexpr std::uint32_t kMoveTo = 1;
constexpr std::uint32_t kLineTo = 2;
constexpr std::uint32_t kClosePath = 7;

// Walks a command stream, keeping the cursor and the part being built.
class CommandReader {
public:
    CommandReader(std::span<const std::uint32_t> commands, VectorLayer& layer,
                  std::size_t& verticesLeft, std::string& error)
        : ints(commands), target(layer), budget(verticesLeft), message(error) {
        const std::int64_t extent = layer.extent;
        low = -VectorTileLimits::kCoordinateMarginExtents * extent;
        high = extent + VectorTileLimits::kCoordinateMarginExtents * extent;
        partStart = layer.vertices.size();
    }

    bool AtEnd() const { return next == ints.size(); }
    bool NextIs(std::uint32_t id) const { return !AtEnd() && (ints[next] & 7u) == id; }

    // Reads a command integer; false at the end of the stream.
    bool Command(std::uint32_t& id, std::uint32_t& count) {
        if (AtEnd()) return false;
        id = ints[next] & 7u;
        count = ints[next] >> 3;
        ++next;
        return true;
    }

    // Reads count (dX, dY) pairs, appending each vertex they reach.
    bool Vertices(std::uint32_t count) {
        if (count > (ints.size() - next) / 2) return Fail("command count exceeds the geometry");
        if (count > budget) return Fail("too many vertices for one tile");
        budget -= count;
        for (std::uint32_t i = 0; i < count; ++i) {
            x += Zigzag(ints[next++]);
            y += Zigzag(ints[next++]);
            if (x < low || x > high || y < low || y > high)
                return Fail("vertex more than four extents outside the tile");
            target.vertices.push_back({static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)});
        }
        return true;
    }

    // Reads LineTo commands (at least one) with a count of one or more each.
    bool LineTos(const char* what) {
        if (!NextIs(kLineTo)) return Fail(std::string(what) + " MoveTo is not followed by LineTo");
        std::uint32_t id = 0, count = 0;
        while (NextIs(kLineTo)) {
            Command(id, count);
            if (count == 0) return Fail("LineTo with a count of 0");
            if (!Vertices(count)) return false;
        }
        return true;
    }

    // Ends the part begun after the previous one; it needs minimum vertices.
    bool EndPart(std::size_t minimum, const char* what) {
        const std::size_t end = target.vertices.size();
        if (end - partStart < minimum) return Fail(what);
        target.partEnds.push_back(static_cast<std::uint32_t>(end));
        partStart = end;
        ++parts;
        return true;
    }

    bool Fail(const std::string& reason) {
        message = reason;
        return false;
    }

    std::uint32_t parts = 0;

private:
    static std::int64_t Zigzag(std::uint32_t v) {
        return static_cast<std::int32_t>((v >> 1) ^ (0u - (v & 1u)));
    }

    std::span<const std::uint32_t> ints;
    VectorLayer& target;
    std::size_t& budget;
    std::string& message;
    std::size_t next = 0;
    std::size_t partStart = 0;
    std::int64_t x = 0, y = 0;  // the cursor
    std::int64_t low = 0, high = 0;
};

bool Points(CommandReader& r) {
    std::uint32_t id = 0, count = 0;
    if (!r.Command(id, count) || id != kMoveTo || count == 0)
        return r.Fail("POINT geometry is not a MoveTo of one or more points");
    if (!r.Vertices(count)) return false;
    if (!r.AtEnd()) return r.Fail("POINT geometry goes on after its MoveTo");
    return r.EndPart(1, "POINT geometry without points");
}

bool Lines(CommandReader& r) {
    if (r.AtEnd()) return r.Fail("LINESTRING geometry is empty");
    while (!r.AtEnd()) {
        std::uint32_t id = 0, count = 0;
        r.Command(id, count);
        if (id != kMoveTo || count != 1)
            return r.Fail("LINESTRING part does not start with MoveTo(1)");
        if (!r.Vertices(1) || !r.LineTos("LINESTRING")) return false;
        if (!r.EndPart(2, "LINESTRING part with fewer than two vertices")) return false;
    }
    return true;
}

bool Rings(CommandReader& r) {
    if (r.AtEnd()) return r.Fail("POLYGON geometry is empty");
    while (!r.AtEnd()) {
        std::uint32_t id = 0, count = 0;
        r.Command(id, count);
        if (id != kMoveTo || count != 1)
            return r.Fail("POLYGON ring does not start with MoveTo(1)");
        if (!r.Vertices(1) || !r.LineTos("POLYGON")) return false;
        if (!r.Command(id, count) || id != kClosePath || count != 1)
            return r.Fail("POLYGON ring does not end with ClosePath(1)");
        if (!r.EndPart(3, "POLYGON ring with fewer than three vertices")) return false;
    }
    return true;
}

}  // namespace

bool DecodeGeometry(std::span<const std::uint32_t> commands, VectorLayer& layer,
                    VectorFeature& feature, std::size_t& verticesLeft, std::string& error) {
    CommandReader reader(commands, layer, verticesLeft, error);
    feature.firstPart = static_cast<std::uint32_t>(layer.partEnds.size());
    bool ok = false;
    switch (feature.type) {
        case GeometryType::Point: ok = Points(reader); break;
        case GeometryType::LineString: ok = Lines(reader); break;
        case GeometryType::Polygon: ok = Rings(reader); break;
    }
    feature.partCount = reader.parts;
    return ok;
}

}  // namespace corvalis::detail
