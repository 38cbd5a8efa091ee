// Drawing the map and the overview.
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "unitmain.h"

void TFormMain::RenderMap(bool force) {
    if (!session.StoreOpen()) return;
    SyncViewSize();
    if (session.Render(force) != corvalis::RenderOutcome::EmptyGrid) {
        imgMap->update();
        PanelThumb->update();
    }
    // Content that now fits the view cannot be dragged: no hand over it.
    if (!session.Dragging() && session.Viewport().ContentFitsView()) imgMap->unsetCursor();
    UpdateStatusBar();
    RefreshLegend(false);
}

void TFormMain::SetAsyncRendering(bool on) {
    // Called on the composing threads: only a queued call reaches the window.
    session.SetAsync(on, [this] {
        QMetaObject::invokeMethod(
            this, [this] { MapProgress(); }, Qt::QueuedConnection);
    });
}

void TFormMain::MapProgress() {
    const corvalis::RenderProgress progress = session.Update();
    if (progress.redraw) imgMap->UpdatePictureArea(progress.area);
    if (!progress.settled) return;
    PanelThumb->update();
    UpdateStatusBar();
    RefreshLegend(false);
}

void TFormMain::SyncViewSize() {
    session.SetDevicePixelRatio(MapPixelRatio());
    int width = 1, height = 1;
    MapAreaSize(width, height);
    session.SyncViewSize(width, height);
}

void TFormMain::PanelThumbPaint(QPainter& painter) {
    session.PaintOverview(painter, PanelThumb->width(), PanelThumb->height());
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
