// Draws decoded vector tiles into cells of a 24-bit frame and finds the
// feature under a point of a cell.
//
// A cell shows the tile's extent stretched over the cell, in device pixels.
// On a light background come, in order, the polygons, the lines, then the
// points, each pass in the order of the tile's layers. A layer's colour comes
// from a palette of 12 by a stable hash of its name (the same in every tile and
// every run). Polygons are filled at 35% opacity (even-odd rule) and outlined;
// lines are 1 device pixel wide, or 2 and darker when the layer's name reads
// like roads or waterways; points are round dots of 3 device pixels (wide
// lines and dots scale with the device pixel ratio, hairlines stay 1 device
// pixel). Strokes and dots sit half a pixel up and left of the fills, so that
// the 1-pixel line through a tile coordinate lights the row or column just
// before it: a polygon's outline stays on the pixels its fill covers at its
// right and bottom edges and falls outside the cell at the tile's top and left
// edges.
#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRect>
#include <QSizeF>

#include <cstddef>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "vectortile.h"

namespace corvalis {

inline constexpr QRgb kVectorBackground = qRgb(245, 243, 238);
inline constexpr int kVectorPaletteSize = 12;

// What one tile may cost to draw, past the decoder's budgets: steps of less
// than half a pixel are not drawn; past kMaxWideSegments segments of wide
// (road-like) lines, the rest are drawn as hairlines, and past kMaxDots
// points, the rest as single pixels. Each limit is under 100 ms on one core.
inline constexpr std::size_t kMaxWideSegments = std::size_t{1} << 17;
inline constexpr std::size_t kMaxDots = std::size_t{1} << 16;

struct VectorStyle {
    std::set<std::string, std::less<>> hiddenLayers;  // by name
    double devicePixelRatio = 1.0;  // widens road-like lines and dots, not hairlines
};

// The palette entry for a layer name (FNV-1a of its bytes, modulo 12).
int LayerColourIndex(std::string_view layerName);
QColor LayerColour(std::string_view layerName);
// Names that contain road, highway, transportation or waterway (any case; a
// hyphen or underscore may split "water way").
bool IsRoadLike(std::string_view layerName);

// Draws tile over the whole of cell (clipped to target, which must be
// Format_RGB888; pixels outside the cell are not touched). False when target
// cannot be painted on. Safe on several threads at once when each draws
// through a QImage object of its own into disjoint cells.
bool DrawVectorTile(QImage& target, const QRect& cell, const VectorTile& tile,
                    const VectorStyle& style);

inline constexpr std::size_t kMaxHitLines = 12;
inline constexpr double kPointHitPixels = 4.0;
inline constexpr double kLineHitPixels = 3.0;

struct VectorHit {
    std::string layer;
    std::size_t layerIndex = 0;
    std::size_t featureIndex = 0;  // into the layer's features
    GeometryType type = GeometryType::Point;
    // "key = value" for each property in the tile's order, at most kMaxHitLines:
    // with more, the last line tells how many were left out. Control
    // characters become spaces and each line is cut to 200 bytes (whole UTF-8
    // characters) so that a hostile tile cannot flood a tooltip.
    std::vector<std::string> lines;
};

// The topmost visible feature under point (device pixels from the cell's top
// left, the cell being cellSize device pixels): the last drawn that has a
// point within 4 pixels, a line within 3, or a polygon that holds the point by
// the even-odd rule. Layers hidden by style are passed over.
std::optional<VectorHit> HitTest(const VectorTile& tile, QPointF point, QSizeF cellSize,
                                 const VectorStyle& style);

}  // namespace corvalis
