#include "vectorpainter.h"

#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>

namespace corvalis {

namespace {

// Twelve colours that stay apart from each other and from the background.
constexpr QRgb kPalette[kVectorPaletteSize] = {
    qRgb(31, 119, 180),  qRgb(255, 127, 14), qRgb(44, 160, 44),   qRgb(214, 39, 40),
    qRgb(148, 103, 189), qRgb(140, 86, 75),  qRgb(227, 119, 194), qRgb(127, 127, 127),
    qRgb(188, 189, 34),  qRgb(23, 190, 207), qRgb(57, 59, 121),   qRgb(140, 0, 70)};

constexpr int kFillAlpha = 89;  // 35%
constexpr int kRoadDarker = 150;

double Ratio(const VectorStyle& style) {
    return std::clamp(style.devicePixelRatio, 1.0, 4.0);
}

// Tile coordinates to device pixels for one layer.
struct Mapping {
    Mapping(const QRectF& cell, std::uint32_t extent)
        : ox(cell.x()), oy(cell.y()), sx(cell.width() / extent), sy(cell.height() / extent) {}
    QPointF operator()(TilePoint p, double shift) const {
        return {ox + p.x * sx + shift, oy + p.y * sy + shift};
    }
    double ox, oy, sx, sy;
};

class TilePainter {
public:
    TilePainter(QPainter& p, const QRect& c, const VectorStyle& s)
        : painter(p), cell(c), style(s) {}

    void Polygons(const VectorLayer& layer);
    void Lines(const VectorLayer& layer);
    void Points(const VectorLayer& layer);

private:
    // The part's vertices in device pixels, into points.
    void Map(const VectorLayer& layer, std::uint32_t part, double shift) {
        const Mapping map(cell, layer.extent);
        points.clear();
        for (const TilePoint p : layer.Part(part)) points.push_back(map(p, shift));
    }
    int Count() const { return static_cast<int>(points.size()); }

    QPainter& painter;
    QRectF cell;
    const VectorStyle& style;
    std::vector<QPointF> points;  // grow-only scratch
};

void TilePainter::Polygons(const VectorLayer& layer) {
    const QColor colour = LayerColour(layer.name);
    QColor fill = colour;
    fill.setAlpha(kFillAlpha);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    for (const VectorFeature& f : layer.features) {
        if (f.type != GeometryType::Polygon) continue;
        if (f.partCount == 1) {
            Map(layer, f.firstPart, 0.0);
            painter.drawPolygon(points.data(), Count(), Qt::OddEvenFill);
            continue;
        }
        QPainterPath path;
        path.setFillRule(Qt::OddEvenFill);
        for (std::uint32_t i = 0; i < f.partCount; ++i) {
            Map(layer, f.firstPart + i, 0.0);
            path.moveTo(points.front());
            for (std::size_t k = 1; k < points.size(); ++k) path.lineTo(points[k]);
            path.closeSubpath();
        }
        painter.drawPath(path);
    }
    QPen outline(colour, 1.0);
    outline.setCosmetic(true);
    painter.setPen(outline);
    painter.setBrush(Qt::NoBrush);
    for (const VectorFeature& f : layer.features) {
        if (f.type != GeometryType::Polygon) continue;
        for (std::uint32_t i = 0; i < f.partCount; ++i) {
            Map(layer, f.firstPart + i, -0.5);
            painter.drawPolygon(points.data(), Count());
        }
    }
}

void TilePainter::Lines(const VectorLayer& layer) {
    QPen pen(LayerColour(layer.name), 1.0);
    pen.setCosmetic(true);
    if (IsRoadLike(layer.name)) {
        pen = QPen(LayerColour(layer.name).darker(kRoadDarker), 2.0 * Ratio(style), Qt::SolidLine,
                   Qt::RoundCap, Qt::RoundJoin);
    }
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    for (const VectorFeature& f : layer.features) {
        if (f.type != GeometryType::LineString) continue;
        for (std::uint32_t i = 0; i < f.partCount; ++i) {
            Map(layer, f.firstPart + i, -0.5);
            painter.drawPolyline(points.data(), Count());
        }
    }
}

void TilePainter::Points(const VectorLayer& layer) {
    const Mapping map(cell, layer.extent);
    points.clear();
    for (const VectorFeature& f : layer.features) {
        if (f.type != GeometryType::Point) continue;
        for (const TilePoint p : layer.Part(f.firstPart)) points.push_back(map(p, -0.5));
    }
    if (points.empty()) return;
    painter.setPen(QPen(LayerColour(layer.name), 3.0 * Ratio(style), Qt::SolidLine, Qt::RoundCap));
    painter.drawPoints(points.data(), Count());
}

}  // namespace

int LayerColourIndex(std::string_view layerName) {
    std::uint32_t hash = 2166136261u;
    for (const char c : layerName) {
        hash ^= static_cast<std::uint8_t>(c);
        hash *= 16777619u;
    }
    return static_cast<int>(hash % kVectorPaletteSize);
}

QColor LayerColour(std::string_view layerName) {
    return QColor(kPalette[LayerColourIndex(layerName)]);
}

bool IsRoadLike(std::string_view layerName) {
    std::string folded;
    for (const char c : layerName)
        if (c != '-' && c != '_')
            folded += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    for (const char* word : {"road", "highway", "transportation", "waterway"})
        if (folded.find(word) != std::string::npos) return true;
    return false;
}

bool DrawVectorTile(QImage& target, const QRect& cell, const VectorTile& tile,
                    const VectorStyle& style) {
    if (target.format() != QImage::Format_RGB888) return false;
    const QRect visible = cell & target.rect();
    if (visible.isEmpty()) return true;
    QPainter painter(&target);
    if (!painter.isActive()) return false;
    painter.setClipRect(visible);
    painter.fillRect(visible, QColor(kVectorBackground));
    painter.setRenderHint(QPainter::Antialiasing);
    TilePainter draw(painter, cell, style);
    auto shown = [&](const VectorLayer& l) { return !style.hiddenLayers.contains(l.name); };
    for (const VectorLayer& layer : tile.layers)
        if (shown(layer)) draw.Polygons(layer);
    for (const VectorLayer& layer : tile.layers)
        if (shown(layer)) draw.Lines(layer);
    for (const VectorLayer& layer : tile.layers)
        if (shown(layer)) draw.Points(layer);
    return true;
}

}  // namespace corvalis
