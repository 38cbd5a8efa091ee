// Vector stores in the session: the legend, hidden layers and the feature
// under the pointer.
#include <QPointF>
#include <QSizeF>

#include "mapsession.h"

namespace corvalis {

void MapSession::StartVectorLegend() {
    legend.Reset(store->vectorLayers());
    renderer.SetVectorStyle(legend.Apply({}), store->vectorTiles());
}

bool MapSession::GatherLegend() {
    return VectorStore() && legend.Merge(renderer.KeptVectorTiles().LayerNames());
}

bool MapSession::ToggleLayer(std::size_t index) {
    if (!VectorStore() || !legend.Toggle(index)) return false;
    renderer.SetVectorStyle(legend.Apply({}), true);
    renderer.ResetFrames();
    return true;
}

std::string MapSession::HoverText(int x, int y) const {
    if (!VectorStore()) return {};
    const std::int64_t cx = std::int64_t{x} + viewport.ScrollX() - viewport.LetterboxOffsetX();
    const std::int64_t cy = std::int64_t{y} + viewport.ScrollY() - viewport.LetterboxOffsetY();
    const int tw = store->tileWidth(), th = store->tileHeight();
    if (cx < 0 || cy < 0 || cx >= viewport.ContentWidth() || cy >= viewport.ContentHeight())
        return {};
    std::int32_t minX = 0, maxX = 0, minY = 0, maxY = 0;
    if (!store->GetZoomExtent(viewport.Zoom(), minX, maxX, minY, maxY)) return {};
    const auto column = static_cast<int>(cx / tw + minX);
    const auto row = static_cast<int>(cy / th + minY);
    const auto tile = renderer.KeptVectorTiles().Find(viewport.Zoom(), column, row);
    if (!tile) return {};
    const QPointF inCell(static_cast<double>(cx % tw) + 0.5, static_cast<double>(cy % th) + 0.5);
    const auto hit = HitTest(*tile, inCell, QSizeF(tw, th), renderer.CurrentVectorStyle());
    if (!hit) return {};
    std::string text = hit->layer;
    for (const std::string& line : hit->lines) {
        text += '\n';
        text += line;
    }
    return text;
}

}  // namespace corvalis
