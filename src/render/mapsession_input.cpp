// What dragging, keys, the wheel, the zoom steps and the overview do to the map.
#include <Qt>

#include "mapsession.h"

namespace corvalis {

namespace {

constexpr int kKeyStep = 40;
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

bool MapSession::PointerDown(bool leftButton, int x, int y) {
    if (!storeOpen || !leftButton) return false;
    dragging = true;
    dragLastX = x;
    dragLastY = y;
    return true;
}

MapSession::PointerEffect MapSession::PointerMove(int x, int y) {
    pointerKnown = true;
    pointerX = x;
    pointerY = y;
    if (!storeOpen) return PointerEffect::None;
    if (dragging && !viewport.ContentFitsView() && (x != dragLastX || y != dragLastY)) {
        viewport.PanBy(x - dragLastX, y - dragLastY);
        // The anchor follows the pointer even when clamping held the map.
        dragLastX = x;
        dragLastY = y;
        return PointerEffect::Redraw;
    }
    return PointerEffect::StatusBar;
}

MapSession::MapCursor MapSession::PointerUp() {
    dragging = false;
    if (!storeOpen) return MapCursor::Unchanged;
    return viewport.ContentFitsView() ? MapCursor::Default : MapCursor::Hand;
}

bool MapSession::ZoomIn() {
    return storeOpen && viewport.ZoomIn();
}

bool MapSession::ZoomOut() {
    return storeOpen && viewport.ZoomOut();
}

bool MapSession::KeyPan(int qtKey) {
    if (!storeOpen) return false;
    const int direction = KeyDirection(qtKey);
    return direction != 0 && viewport.ScrollBy(direction, kKeyStep);
}

int MapSession::WheelSteps(int angleDelta) {
    if (!storeOpen || angleDelta == 0) return 0;
    if ((angleDelta > 0) != (wheelRemainder > 0)) wheelRemainder = 0;
    wheelRemainder += angleDelta;
    const int steps = wheelRemainder / kWheelStep;
    wheelRemainder -= steps * kWheelStep;
    return steps;
}

bool MapSession::OverviewPress(int x, int y) {
    if (!storeOpen) return false;
    thumbDragging = true;
    thumbLastX = x;
    thumbLastY = y;
    return CenterOnOverviewPoint(x, y);
}

bool MapSession::OverviewDrag(int x, int y) {
    if (!thumbDragging || (x == thumbLastX && y == thumbLastY)) return false;
    thumbLastX = x;
    thumbLastY = y;
    return CenterOnOverviewPoint(x, y);
}

bool MapSession::OverviewDoubleClick() const {
    return storeOpen && !viewport.ContentFitsView();
}

bool MapSession::CenterOnOverviewPoint(int x, int y) {
    if (!storeOpen) return false;
    // The area the overview stands for, also when it shows no picture yet.
    const OverviewSource source =
        ChooseOverviewSource(overview, viewport, renderer.LastFrame(), renderer.LastGrid());
    int cx = 0, cy = 0;
    if (!OverviewPointToContent(thumbBox, source, x, y, cx, cy)) return false;
    return viewport.CenterOnContent(cx, cy);
}

}  // namespace corvalis
