// The binding of the components' events to the window's handlers.
#include <QToolButton>
#include <QtMath>

#include "layerspanel.h"
#include "unitmain.h"

void TFormMain::BindEvents() {
    connect(btnOpen, &QToolButton::clicked, this, [this] { btnOpenClick(); });
    connect(btnZoomOut, &QToolButton::clicked, this, [this] { btnZoomOutClick(); });
    connect(btnZoomIn, &QToolButton::clicked, this, [this] { btnZoomInClick(); });
    connect(btnOverview, &QToolButton::clicked, this, [this] { btnOverviewClick(); });
    connect(btnLayers, &QToolButton::clicked, this, [this] { btnLayersClick(); });
    PanelLayers->OnToggle = [this](std::size_t index) { LayerToggled(index); };
    sboxMap->OnResize = [this] {
        imgMap->setGeometry(sboxMap->rect());
        // The map area gets its size after the window, so the panel follows here too.
        FormResize();
        sboxMapResize();
    };
    imgMap->OnMouseDown = [this](Qt::MouseButton button, QPointF p) {
        imgMapMouseDown(button, ToViewPixel(p.x()), ToViewPixel(p.y()));
    };
    imgMap->OnMouseMove = [this](Qt::MouseButton, QPointF p) {
        imgMapMouseMove(ToViewPixel(p.x()), ToViewPixel(p.y()));
    };
    imgMap->OnMouseUp = [this](Qt::MouseButton button, QPointF p) {
        imgMapMouseUp(button, ToViewPixel(p.x()), ToViewPixel(p.y()));
    };
    PanelThumb->OnPaint = [this](QPainter& painter) { PanelThumbPaint(painter); };
    PanelThumb->OnMouseDown = [this](Qt::MouseButton button, QPointF p) {
        PanelThumbMouseDown(button, qFloor(p.x()), qFloor(p.y()));
    };
    PanelThumb->OnMouseMove = [this](Qt::MouseButton, QPointF p) {
        PanelThumbMouseMove(qFloor(p.x()), qFloor(p.y()));
    };
    PanelThumb->OnMouseUp = [this](Qt::MouseButton button, QPointF p) {
        PanelThumbMouseUp(button, qFloor(p.x()), qFloor(p.y()));
    };
    PanelThumb->OnDblClick = [this] { PanelThumbDblClick(); };
}
