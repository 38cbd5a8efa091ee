// Small widgets of the main window whose events are bound by the window to its
// own handler methods. Pointer positions reach the handlers in the widget's
// logical pixels.
#pragma once

#include <QImage>
#include <QLabel>
#include <QStatusBar>
#include <QWidget>

#include <array>
#include <functional>

class QPainter;

using MouseHandler = std::function<void(Qt::MouseButton button, QPointF position)>;

// Shows a picture with its top-left corner at the widget's top-left corner;
// the rest stays transparent.
class TImageBox : public QWidget {
    Q_OBJECT
public:
    explicit TImageBox(QWidget* parent);
    // The picture is owned elsewhere and outlives the widget's use of it.
    void SetPicture(const QImage* image);
    const QImage* Picture() const { return picture; }
    // Repaints the part of the widget that shows pixels (picture pixels) of the picture.
    void UpdatePictureArea(const QRect& pixels);

    MouseHandler OnMouseDown;
    MouseHandler OnMouseMove;
    MouseHandler OnMouseUp;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    const QImage* picture = nullptr;
};

// A surface painted by its owner.
class TPaintBox : public QWidget {
    Q_OBJECT
public:
    explicit TPaintBox(QWidget* parent);

    std::function<void(QPainter&)> OnPaint;
    MouseHandler OnMouseDown;
    MouseHandler OnMouseMove;
    MouseHandler OnMouseUp;
    std::function<void()> OnDblClick;  // left button only

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// A plain black container that reports its own resizes.
class TMapBox : public QWidget {
    Q_OBJECT
public:
    explicit TMapBox(QWidget* parent);
    std::function<void()> OnResize;

protected:
    void resizeEvent(QResizeEvent* event) override;
};

// A status bar of fixed-width text panels laid side by side from the left;
// panels past the right edge are cut, so they never hold the window wide.
class TStatusBar : public QStatusBar {
    Q_OBJECT
public:
    static constexpr int kPanelCount = 3;
    TStatusBar(QWidget* parent, const std::array<int, kPanelCount>& widths);
    int PanelCount() const { return kPanelCount; }
    QString PanelText(int index) const;
    void SetPanelText(int index, const QString& text);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    std::array<QLabel*, kPanelCount> panels{};
    std::array<int, kPanelCount> panelWidths{};
};
