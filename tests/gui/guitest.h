// Helpers for the window tests: the log, message boxes and input events.
#pragma once

#include <QtTest/qtestspontaneevent.h>
#include <QApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>
#include <QWindow>

#include <functional>
#include <vector>

#include "logtail.h"

namespace guitest {

using testsupport::ClearLog;
using testsupport::CountMessages;
using testsupport::GridLines;
using testsupport::LogMessages;

// Closes every message box that opens while it lives and keeps their texts.
class MessageBoxCatcher {
public:
    MessageBoxCatcher() {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            texts.push_back(box->text());
            icons.push_back(box->icon());
            if (onBox) onBox();
            box->done(QMessageBox::Ok);
        });
        timer.start(5);
    }
    std::vector<QString> texts;
    std::vector<QMessageBox::Icon> icons;
    std::function<void()> onBox;  // runs while a box is open

private:
    QTimer timer;
};

// A press or release of button, or a move with button held (Qt::NoButton: hovering).
inline void SendMouse(QWidget* widget, QEvent::Type type, QPoint pos,
                      Qt::MouseButton button = Qt::LeftButton) {
    const bool move = type == QEvent::MouseMove;
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease
                                      ? Qt::MouseButtons(Qt::NoButton)
                                      : Qt::MouseButtons(button);
    QMouseEvent event(type, QPointF(pos), QPointF(widget->mapToGlobal(pos)),
                      move ? Qt::NoButton : button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// Sends one wheel event to a widget, as coming from the window system (only
// such events go on to the parents of a widget that ignores them); true when
// it was accepted.
inline bool SendWheel(QWidget* widget, int deltaY) {
    const QPointF pos(widget->width() / 2.0, widget->height() / 2.0);
    QWheelEvent event(pos, widget->mapToGlobal(pos), QPoint(), QPoint(0, deltaY), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&event);
    qApp->notify(widget, &event);  // sendEvent would take the mark off
    return event.isAccepted();
}

// Sends one wheel event from the window system to the top-level window, at
// the given point of widget: the window passes it to the widget under the
// pointer, from where it goes up to the first one that takes it.
inline void SendWheelThroughWindow(QWidget* widget, QPoint pos, int deltaY) {
    QWindow* window = widget->window()->windowHandle();
    if (window == nullptr) qFatal("the window has no native window");
    const QPointF local(widget->mapTo(widget->window(), pos));
    QWheelEvent event(local, widget->mapToGlobal(QPointF(pos)), QPoint(), QPoint(0, deltaY),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&event);
    qApp->notify(window, &event);
}

// Sends a key press to a widget; true when it was consumed.
inline bool SendKey(QWidget* widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent event(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(widget, &event);
    return event.isAccepted();
}

inline QRgb PixelAt(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xFFFFFFu;
}

}  // namespace guitest
