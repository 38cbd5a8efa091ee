// The binding of the components' events to the window's handlers, and its undoing.
#include <QToolButton>
#include <QtMath>

#include "formlayout.h"
#include "layerspanel.h"
#include "unitmain.h"

void BindFormEvents(TFormMain& form) {
    QObject::connect(form.btnOpen, &QToolButton::clicked, &form, [&form] { form.btnOpenClick(); });
    QObject::connect(form.btnZoomOut, &QToolButton::clicked, &form,
                     [&form] { form.btnZoomOutClick(); });
    QObject::connect(form.btnZoomIn, &QToolButton::clicked, &form,
                     [&form] { form.btnZoomInClick(); });
    QObject::connect(form.btnOverview, &QToolButton::clicked, &form,
                     [&form] { form.btnOverviewClick(); });
    QObject::connect(form.btnLayers, &QToolButton::clicked, &form,
                     [&form] { form.btnLayersClick(); });
    form.PanelLayers->OnToggle = [&form](std::size_t index) { form.LayerToggled(index); };
    form.sboxMap->OnResize = [&form] {
        form.imgMap->setGeometry(form.sboxMap->rect());
        // The map area gets its size after the window, so the panel follows here too.
        form.FormResize();
        form.sboxMapResize();
    };
    form.imgMap->OnMouseDown = [&form](Qt::MouseButton button, QPointF p) {
        form.imgMapMouseDown(button, form.ToViewPixel(p.x()), form.ToViewPixel(p.y()));
    };
    form.imgMap->OnMouseMove = [&form](Qt::MouseButton, QPointF p) {
        form.imgMapMouseMove(form.ToViewPixel(p.x()), form.ToViewPixel(p.y()));
    };
    form.imgMap->OnMouseUp = [&form](Qt::MouseButton button, QPointF p) {
        form.imgMapMouseUp(button, form.ToViewPixel(p.x()), form.ToViewPixel(p.y()));
    };
    form.PanelThumb->OnPaint = [&form](QPainter& painter) { form.PanelThumbPaint(painter); };
    form.PanelThumb->OnMouseDown = [&form](Qt::MouseButton button, QPointF p) {
        form.PanelThumbMouseDown(button, qFloor(p.x()), qFloor(p.y()));
    };
    form.PanelThumb->OnMouseMove = [&form](Qt::MouseButton, QPointF p) {
        form.PanelThumbMouseMove(qFloor(p.x()), qFloor(p.y()));
    };
    form.PanelThumb->OnMouseUp = [&form](Qt::MouseButton button, QPointF p) {
        form.PanelThumbMouseUp(button, qFloor(p.x()), qFloor(p.y()));
    };
    form.PanelThumb->OnDblClick = [&form] { form.PanelThumbDblClick(); };
}

void UnbindFormEvents(TFormMain& form) {
    // The widgets outlive the window's members by a moment: cut their links first.
    form.imgMap->SetPicture(nullptr);
    form.imgMap->OnMouseDown = form.imgMap->OnMouseMove = form.imgMap->OnMouseUp = nullptr;
    form.PanelThumb->OnPaint = nullptr;
    form.PanelThumb->OnMouseDown = form.PanelThumb->OnMouseMove = form.PanelThumb->OnMouseUp =
        nullptr;
    form.PanelThumb->OnDblClick = nullptr;
    form.PanelLayers->OnToggle = nullptr;
    form.sboxMap->OnResize = nullptr;
}
