// HitTest of vectorpainter.h: the drawing order walked backwards.
#include <algorithm>
#include <cmath>

#include "vectorpainter.h"

namespace corvalis {

namespace {

constexpr std::size_t kMaxLineBytes = 200;

struct Scale {
    double sx, sy;
    QPointF operator()(TilePoint p) const { return {p.x * sx, p.y * sy}; }
};

double SegmentDistanceSquared(QPointF p, QPointF a, QPointF b) {
    const QPointF ab = b - a, ap = p - a;
    const double length = QPointF::dotProduct(ab, ab);
    const double t = length > 0 ? std::clamp(QPointF::dotProduct(ap, ab) / length, 0.0, 1.0) : 0.0;
    const QPointF d = ap - ab * t;
    return QPointF::dotProduct(d, d);
}

bool NearPoint(const VectorLayer& layer, const VectorFeature& f, QPointF p, Scale scale) {
    for (const TilePoint v : layer.Part(f.firstPart)) {
        const QPointF d = scale(v) - p;
        if (QPointF::dotProduct(d, d) <= kPointHitPixels * kPointHitPixels) return true;
    }
    return false;
}

bool NearLine(const VectorLayer& layer, const VectorFeature& f, QPointF p, Scale scale) {
    for (std::uint32_t i = 0; i < f.partCount; ++i) {
        const auto part = layer.Part(f.firstPart + i);
        for (std::size_t k = 1; k < part.size(); ++k)
            if (SegmentDistanceSquared(p, scale(part[k - 1]), scale(part[k])) <=
                kLineHitPixels * kLineHitPixels)
                return true;
    }
    return false;
}

// Even-odd: a ray to the right crosses the rings' edges an odd number of times.
bool Inside(const VectorLayer& layer, const VectorFeature& f, QPointF p, Scale scale) {
    bool inside = false;
    for (std::uint32_t i = 0; i < f.partCount; ++i) {
        const auto ring = layer.Part(f.firstPart + i);
        QPointF a = scale(ring.back());
        for (const TilePoint v : ring) {
            const QPointF b = scale(v);
            if ((a.y() > p.y()) != (b.y() > p.y()) &&
                p.x() < a.x() + (p.y() - a.y()) * (b.x() - a.x()) / (b.y() - a.y()))
                inside = !inside;
            a = b;
        }
    }
    return inside;
}

// Control characters become spaces; the line is cut between UTF-8 characters.
std::string TooltipLine(std::string_view key, std::string_view value) {
    std::string line;
    line.append(key).append(" = ").append(value);
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    if (line.size() > kMaxLineBytes) {
        std::size_t cut = kMaxLineBytes;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
        line.resize(cut);
        line += "\xE2\x80\xA6";  // ellipsis
    }
    return line;
}

VectorHit MakeHit(const VectorLayer& layer, std::size_t layerIndex, std::size_t featureIndex) {
    const VectorFeature& f = layer.features[featureIndex];
    VectorHit hit{layer.name, layerIndex, featureIndex, f.type, {}};
    const std::size_t shown = f.tagCount <= kMaxHitLines ? f.tagCount : kMaxHitLines - 1;
    for (std::uint32_t i = 0; i < shown; ++i)
        hit.lines.push_back(TooltipLine(layer.Key(f, i), layer.Value(f, i)));
    if (shown < f.tagCount) {
        std::string more = "(";
        more += std::to_string(f.tagCount - shown);
        more += " more)";
        hit.lines.push_back(std::move(more));
    }
    return hit;
}

bool Hits(const VectorLayer& layer, const VectorFeature& f, QPointF p, Scale scale) {
    switch (f.type) {
        case GeometryType::Point: return NearPoint(layer, f, p, scale);
        case GeometryType::LineString: return NearLine(layer, f, p, scale);
        case GeometryType::Polygon: return Inside(layer, f, p, scale);
    }
    return false;
}

}  // namespace

std::optional<VectorHit> HitTest(const VectorTile& tile, QPointF point, QSizeF cellSize,
                                 const VectorStyle& style) {
    if (cellSize.isEmpty()) return std::nullopt;
    for (const GeometryType type :
         {GeometryType::Point, GeometryType::LineString, GeometryType::Polygon}) {
        for (std::size_t l = tile.layers.size(); l-- > 0;) {
            const VectorLayer& layer = tile.layers[l];
            if (style.hiddenLayers.contains(layer.name)) continue;
            const Scale scale{cellSize.width() / layer.extent, cellSize.height() / layer.extent};
            for (std::size_t i = layer.features.size(); i-- > 0;) {
                const VectorFeature& f = layer.features[i];
                if (f.type == type && Hits(layer, f, point, scale)) return MakeHit(layer, l, i);
            }
        }
    }
    return std::nullopt;
}

}  // namespace corvalis
