#include "formwidgets.h"

#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>

namespace {

void Fire(const MouseHandler& handler, const QMouseEvent* event) {
    if (handler) handler(event->button(), event->position());
}

QPalette BlackPalette(QPalette palette) {
    palette.setColor(QPalette::Window, Qt::black);
    return palette;
}

}  // namespace

TImageBox::TImageBox(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
}

void TImageBox::SetPicture(const QImage* image) {
    picture = image;
    update();
}

void TImageBox::UpdatePictureArea(const QRect& pixels) {
    const double ratio = picture != nullptr ? picture->devicePixelRatio() : 1.0;
    update(QRectF(pixels.x() / ratio, pixels.y() / ratio, pixels.width() / ratio,
                  pixels.height() / ratio)
               .toAlignedRect());
}

void TImageBox::paintEvent(QPaintEvent*) {
    if (picture == nullptr || picture->isNull()) return;
    QPainter painter(this);
    painter.drawImage(QPointF(0.0, 0.0), *picture);
}

void TImageBox::mousePressEvent(QMouseEvent* event) {
    Fire(OnMouseDown, event);
}
void TImageBox::mouseMoveEvent(QMouseEvent* event) {
    Fire(OnMouseMove, event);
}
void TImageBox::mouseReleaseEvent(QMouseEvent* event) {
    Fire(OnMouseUp, event);
}

TPaintBox::TPaintBox(QWidget* parent) : QWidget(parent) {}

void TPaintBox::paintEvent(QPaintEvent*) {
    if (!OnPaint) return;
    QPainter painter(this);
    OnPaint(painter);
}

void TPaintBox::mousePressEvent(QMouseEvent* event) {
    Fire(OnMouseDown, event);
}
void TPaintBox::mouseMoveEvent(QMouseEvent* event) {
    Fire(OnMouseMove, event);
}
void TPaintBox::mouseReleaseEvent(QMouseEvent* event) {
    Fire(OnMouseUp, event);
}

// A double click reports itself (left button only) and then the press that it
// also is (any button).
void TPaintBox::mouseDoubleClickEvent(QMouseEvent* event) {
    if (OnDblClick && event->button() == Qt::LeftButton) OnDblClick();
    Fire(OnMouseDown, event);
}

TMapBox::TMapBox(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    setPalette(BlackPalette(palette()));
}

void TMapBox::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (OnResize) OnResize();
}

TStatusBar::TStatusBar(QWidget* parent, const std::array<int, kPanelCount>& widths)
    : QStatusBar(parent), panelWidths(widths) {
    setSizeGripEnabled(false);
    for (auto& panel : panels) {
        panel = new QLabel(this);
        panel->setFrameShape(QFrame::StyledPanel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setContentsMargins(2, 0, 2, 0);
    }
}

void TStatusBar::resizeEvent(QResizeEvent* event) {
    QStatusBar::resizeEvent(event);
    int left = 0;
    for (std::size_t i = 0; i < panels.size(); ++i) {
        panels[i]->setGeometry(left, 0, panelWidths[i], height());
        left += panelWidths[i];
    }
}

QString TStatusBar::PanelText(int index) const {
    if (index < 0 || index >= kPanelCount) return {};
    return panels[static_cast<std::size_t>(index)]->text();
}

void TStatusBar::SetPanelText(int index, const QString& text) {
    if (index < 0 || index >= kPanelCount) return;
    panels[static_cast<std::size_t>(index)]->setText(text);
}
