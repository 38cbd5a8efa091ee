// Drawing the map and the overview.
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "unitmain.h"

void TFormMain::RenderMap(bool force) {
    if (!storeOpen || !tileStore) return;
    SyncViewSize();
    const auto outcome = renderer.Render(*tileStore, *decoder, viewport, force);
    if (outcome != corvalis::RenderOutcome::EmptyGrid) {
        imgMap->update();
        PanelThumb->update();
    }
    UpdateStatusBar();
}

void TFormMain::SyncViewSize() {
    renderer.SetDevicePixelRatio(MapPixelRatio());
    int width = 1;
    int height = 1;
    MapAreaSize(width, height);
    if (width != viewport.ViewWidth() || height != viewport.ViewHeight())
        viewport.SetViewSize(width, height);
}

void TFormMain::PresentFrame() {
    renderer.PresentFrame(viewport);
    imgMap->update();
}

void TFormMain::BuildOverview() {
    if (tileStore && decoder)
        overview.Build(*tileStore, *decoder);
    else
        overview.Reset();
}

void TFormMain::PanelThumbPaint(QPainter& painter) {
    painter.fillRect(PanelThumb->rect(), Qt::black);
    if (!storeOpen) return;
    const auto source = corvalis::ChooseOverviewSource(overview, viewport, renderer.LastFrame(),
                                                       renderer.LastGrid());
    corvalis::PaintOverview(painter, PanelThumb->width(), PanelThumb->height(), source, viewport,
                            thumbBox);
}

double TFormMain::MapPixelRatio() const {
    return sboxMap->devicePixelRatioF();
}

// The map is drawn in device pixels: one tile pixel per screen pixel.
int TFormMain::ToViewPixel(double logical) const {
    return static_cast<int>(std::floor(logical * MapPixelRatio()));
}

void TFormMain::MapAreaSize(int& width, int& height) const {
    const double ratio = MapPixelRatio();
    width = std::max(1, static_cast<int>(sboxMap->width() * ratio));
    height = std::max(1, static_cast<int>(sboxMap->height() * ratio));
}
