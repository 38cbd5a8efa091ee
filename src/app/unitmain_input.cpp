// Navigation input: each handler hands the event to the map session and
// redraws what it asks for.
#include <QKeyEvent>
#include <QWheelEvent>

#include "unitmain.h"

using corvalis::MapSession;

namespace {

constexpr int kOverviewMargin = 8;

}  // namespace

void TFormMain::imgMapMouseDown(Qt::MouseButton button, int x, int y) {
    if (session.PointerDown(button == Qt::LeftButton, x, y)) imgMap->setCursor(Qt::DragMoveCursor);
}

void TFormMain::imgMapMouseMove(int x, int y) {
    switch (session.PointerMove(x, y)) {
        case MapSession::PointerEffect::Redraw: RenderMap(false); break;
        case MapSession::PointerEffect::StatusBar: UpdateStatusBar(); break;
        case MapSession::PointerEffect::None: break;
    }
    ShowHoverTip(x, y);
}

void TFormMain::imgMapMouseUp(Qt::MouseButton, int, int) {
    switch (session.PointerUp()) {
        case MapSession::MapCursor::Default: imgMap->unsetCursor(); break;
        case MapSession::MapCursor::Hand: imgMap->setCursor(Qt::PointingHandCursor); break;
        case MapSession::MapCursor::Unchanged: break;
    }
}

void TFormMain::sboxMapResize() {
    if (session.StoreOpen()) RenderMap(false);
}

void TFormMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TFormMain::FormResize() {
    PlaceOverviewPanel();
}

void TFormMain::PlaceOverviewPanel() {
    if (PanelEagle->parentWidget() != sboxMap) return;
    PanelEagle->move(sboxMap->width() - PanelEagle->width() - kOverviewMargin, kOverviewMargin);
}

void TFormMain::btnZoomInClick() {
    if (!session.ZoomIn()) return;
    RenderMap(true);
    UpdateControls();
}

void TFormMain::btnZoomOutClick() {
    if (!session.ZoomOut()) return;
    RenderMap(true);
    UpdateControls();
}

bool TFormMain::FormMouseWheelUp() {
    if (!session.StoreOpen()) return false;
    btnZoomInClick();
    return true;
}

bool TFormMain::FormMouseWheelDown() {
    if (!session.StoreOpen()) return false;
    btnZoomOutClick();
    return true;
}

void TFormMain::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (!session.StoreOpen() || delta == 0) return event->ignore();
    for (int steps = session.WheelSteps(delta); steps != 0; steps += steps > 0 ? -1 : 1)
        steps > 0 ? FormMouseWheelUp() : FormMouseWheelDown();
    event->accept();
}

bool TFormMain::FormKeyDown(int key) {
    if (!session.KeyPan(key)) return false;
    RenderMap(false);
    return true;
}

void TFormMain::keyPressEvent(QKeyEvent* event) {
    if (FormKeyDown(event->key()))
        event->accept();
    else
        QMainWindow::keyPressEvent(event);
}

void TFormMain::PanelThumbMouseDown(Qt::MouseButton, int x, int y) {
    if (session.OverviewPress(x, y)) RenderMap(false);
}

void TFormMain::PanelThumbMouseMove(int x, int y) {
    if (session.OverviewDrag(x, y)) RenderMap(false);
}

void TFormMain::PanelThumbMouseUp(Qt::MouseButton, int, int) {
    session.OverviewRelease();
}

void TFormMain::PanelThumbDblClick() {
    if (session.OverviewDoubleClick()) RenderMap(false);
}

void TFormMain::CenterOnOverviewPoint(int x, int y) {
    if (session.CenterOnOverviewPoint(x, y)) RenderMap(false);
}
