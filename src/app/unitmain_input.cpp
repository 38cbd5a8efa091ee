// Navigation input: dragging, arrow keys, wheel and buttons, and the overview.
#include <QKeyEvent>
#include <QWheelEvent>

#include "unitmain.h"

namespace {

constexpr int kKeyStep = 40;
constexpr int kOverviewMargin = 8;
constexpr int kWheelStep = 120;  // angle delta of one wheel notch

// Scroll direction for an arrow key, 0 for any other key.
int KeyDirection(int key) {
    switch (key) {
        case Qt::Key_Left: return 1;
        case Qt::Key_Right: return 2;
        case Qt::Key_Up: return 3;
        case Qt::Key_Down: return 4;
        default: return 0;
    }
}

}  // namespace

void TFormMain::imgMapMouseDown(Qt::MouseButton button, int x, int y) {
    if (!storeOpen || button != Qt::LeftButton) return;
    dragging = true;
    dragLastX = x;
    dragLastY = y;
    imgMap->setCursor(Qt::DragMoveCursor);
}

void TFormMain::imgMapMouseMove(int x, int y) {
    pointerKnown = true;
    pointerX = x;
    pointerY = y;
    if (!storeOpen) return;
    if (dragging && !viewport.ContentFitsView()) {
        const int dx = x - dragLastX;
        const int dy = y - dragLastY;
        if (dx != 0 || dy != 0) {
            viewport.PanBy(dx, dy);
            // The anchor follows the pointer even when clamping held the map.
            dragLastX = x;
            dragLastY = y;
            RenderMap(false);
            return;
        }
    }
    UpdateStatusBar();
}

void TFormMain::imgMapMouseUp(Qt::MouseButton, int, int) {
    dragging = false;
    if (!storeOpen) return;
    if (viewport.ContentFitsView())
        imgMap->unsetCursor();
    else
        imgMap->setCursor(Qt::PointingHandCursor);
}

void TFormMain::sboxMapResize() {
    if (storeOpen) RenderMap(false);
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
    if (storeOpen && viewport.ZoomIn()) {
        RenderMap(true);
        UpdateControls();
    }
}

void TFormMain::btnZoomOutClick() {
    if (storeOpen && viewport.ZoomOut()) {
        RenderMap(true);
        UpdateControls();
    }
}

bool TFormMain::FormMouseWheelUp() {
    if (!storeOpen) return false;
    btnZoomInClick();
    return true;
}

bool TFormMain::FormMouseWheelDown() {
    if (!storeOpen) return false;
    btnZoomOutClick();
    return true;
}

// One notch is 120 units; finer wheels and touchpads send less, which adds up
// until it makes a whole step. A turn the other way starts afresh.
void TFormMain::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (!storeOpen || delta == 0) {
        event->ignore();
        return;
    }
    if ((delta > 0) != (wheelRemainder > 0)) wheelRemainder = 0;
    wheelRemainder += delta;
    while (wheelRemainder >= kWheelStep) {
        wheelRemainder -= kWheelStep;
        FormMouseWheelUp();
    }
    while (wheelRemainder <= -kWheelStep) {
        wheelRemainder += kWheelStep;
        FormMouseWheelDown();
    }
    event->accept();
}

bool TFormMain::FormKeyDown(int key) {
    if (!storeOpen) return false;
    const int direction = KeyDirection(key);
    if (direction == 0 || !viewport.ScrollBy(direction, kKeyStep)) return false;
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
    if (!storeOpen) return;
    thumbDragging = true;
    thumbLastX = x;
    thumbLastY = y;
    CenterOnOverviewPoint(x, y);
}

void TFormMain::PanelThumbMouseMove(int x, int y) {
    if (!thumbDragging || (x == thumbLastX && y == thumbLastY)) return;
    thumbLastX = x;
    thumbLastY = y;
    CenterOnOverviewPoint(x, y);
}

void TFormMain::PanelThumbMouseUp(Qt::MouseButton, int, int) {
    thumbDragging = false;
}

void TFormMain::PanelThumbDblClick() {
    if (storeOpen && !viewport.ContentFitsView()) RenderMap(false);
}

void TFormMain::CenterOnOverviewPoint(int x, int y) {
    if (!storeOpen) return;
    // The area the overview stands for, also when it shows no picture yet.
    const auto source = corvalis::ChooseOverviewSource(overview, viewport, renderer.LastFrame(),
                                                       renderer.LastGrid());
    int cx = 0;
    int cy = 0;
    if (!corvalis::OverviewPointToContent(thumbBox, source, x, y, cx, cy)) return;
    if (viewport.CenterOnContent(cx, cy)) RenderMap(false);
}
