#include "vectorpainter.h"

#include <QLineF>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>
#include <cmath>

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
    // The part's vertices in device pixels, into points. Steps of less than
    // half a pixel are dropped (the part's last vertex is kept): they change
    // nothing that shows, and a hostile tile made of them costs no more than
    // its visible length.
    void Map(const VectorLayer& layer, std::uint32_t part, double shift) {
        const Mapping map(cell, layer.extent);
        const auto vertices = layer.Part(part);
        points.clear();
        for (std::size_t i = 0; i < vertices.size(); ++i) {
            const QPointF p = map(vertices[i], shift);
            const bool last = i + 1 == vertices.size();
            if (!points.empty() && !last && std::abs(p.x() - points.back().x()) < 0.5 &&
                std::abs(p.y() - points.back().y()) < 0.5)
                continue;
            points.push_back(p);
        }
    }
    int Count() const { return static_cast<int>(points.size()); }

    QPainter& painter;
    QRectF cell;
    const VectorStyle& style;
    std::vector<QPointF> points;   // grow-only scratch
    std::vector<QLineF> segments;  // grow-only scratch
    std::size_t wideLeft = kMaxWideSegments;
    std::size_t dotsLeft = kMaxDots;
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
            if (points.size() < 3) continue;  // smaller than a pixel
            painter.drawPolygon(points.data(), Count(), Qt::OddEvenFill);
            continue;
        }
        QPainterPath path;
        path.setFillRule(Qt::OddEvenFill);
        for (std::uint32_t i = 0; i < f.partCount; ++i) {
            Map(layer, f.firstPart + i, 0.0);
            if (points.size() < 3) continue;
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
            if (points.size() >= 3) painter.drawPolygon(points.data(), Count());
        }
    }
}

// Wide lines go to the rasteriser as separate segments with square caps,
// which meet at the joins: three times as fast as stroking polylines with
// round joins, and the same to the eye at these widths.
void TilePainter::Lines(const VectorLayer& layer) {
    QPen hairline(LayerColour(layer.name), 1.0);
    hairline.setCosmetic(true);
    const bool roads = IsRoadLike(layer.name);
    if (roads) hairline.setColor(hairline.color().darker(kRoadDarker));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(hairline);
    segments.clear();
    for (const VectorFeature& f : layer.features) {
        if (f.type != GeometryType::LineString) continue;
        for (std::uint32_t i = 0; i < f.partCount; ++i) {
            Map(layer, f.firstPart + i, -0.5);
            if (!roads || segments.size() + points.size() > wideLeft) {
                painter.drawPolyline(points.data(), Count());
                continue;
            }
            for (std::size_t k = 1; k < points.size(); ++k)
                segments.emplace_back(points[k - 1], points[k]);
        }
    }
    if (segments.empty()) return;
    wideLeft -= segments.size();
    painter.setPen(QPen(hairline.color(), 2.0 * Ratio(style), Qt::SolidLine, Qt::SquareCap));
    painter.drawLines(segments.data(), static_cast<int>(segments.size()));
}

void TilePainter::Points(const VectorLayer& layer) {
    const Mapping map(cell, layer.extent);
    const QColor colour = LayerColour(layer.name);
    const double radius = 1.5 * Ratio(style);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    points.clear();  // dots past the budget, drawn as single pixels
    for (const VectorFeature& f : layer.features) {
        if (f.type != GeometryType::Point) continue;
        for (const TilePoint p : layer.Part(f.firstPart)) {
            if (dotsLeft == 0) {
                points.push_back(map(p, -0.5));
                continue;
            }
            --dotsLeft;
            painter.drawEllipse(map(p, -0.5), radius, radius);
        }
    }
    if (points.empty()) return;
    QPen pixel(colour, 1.0);
    pixel.setCosmetic(true);
    painter.setPen(pixel);
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

namespace {

// Painting on premultiplied ARGB is about twice as fast as on 24-bit rows:
// each thread draws the visible part of a cell on a scratch picture of its
// own, then copies it into the frame.
class Scratch {
public:
    QImage Picture(int width, int height) {
        const std::size_t pitch = static_cast<std::size_t>(width) * 4;
        const std::size_t needed = pitch * static_cast<std::size_t>(height);
        if (bytes.size() < needed) bytes.resize(needed);
        return QImage(bytes.data(), width, height, static_cast<qsizetype>(pitch),
                      QImage::Format_ARGB32_Premultiplied);
    }
    // A frame's worth is not kept after an outsized cell.
    void Trim() {
        if (bytes.size() > (std::size_t{16} << 20)) std::vector<uchar>().swap(bytes);
    }

private:
    std::vector<uchar> bytes;
};

void CopyOpaque(const QImage& from, QImage& to, QPoint at) {
    for (int y = 0; y < from.height(); ++y) {
        const auto* src = reinterpret_cast<const QRgb*>(from.constScanLine(y));
        uchar* dst = to.scanLine(at.y() + y) + at.x() * 3;
        for (int x = 0; x < from.width(); ++x, dst += 3) {
            dst[0] = static_cast<uchar>(qRed(src[x]));
            dst[1] = static_cast<uchar>(qGreen(src[x]));
            dst[2] = static_cast<uchar>(qBlue(src[x]));
        }
    }
}

void Paint(QImage& picture, const QRect& cell, const VectorTile& tile, const VectorStyle& style) {
    picture.fill(QColor(kVectorBackground));
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    TilePainter draw(painter, cell, style);
    auto shown = [&](const VectorLayer& l) { return !style.hiddenLayers.contains(l.name); };
    for (const VectorLayer& layer : tile.layers)
        if (shown(layer)) draw.Polygons(layer);
    for (const VectorLayer& layer : tile.layers)
        if (shown(layer)) draw.Lines(layer);
    for (const VectorLayer& layer : tile.layers)
        if (shown(layer)) draw.Points(layer);
}

}  // namespace

bool DrawVectorTile(QImage& target, const QRect& cell, const VectorTile& tile,
                    const VectorStyle& style) {
    if (target.format() != QImage::Format_RGB888) return false;
    const QRect visible = cell & target.rect();
    if (visible.isEmpty()) return true;
    thread_local Scratch scratch;
    QImage picture = scratch.Picture(visible.width(), visible.height());
    if (picture.isNull()) return false;
    // The cell as seen from the scratch picture's top left.
    Paint(picture, cell.translated(-visible.topLeft()), tile, style);
    CopyOpaque(picture, target, visible.topLeft());
    scratch.Trim();
    return true;
}

}  // namespace corvalis
