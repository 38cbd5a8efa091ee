// The window's components, their layout and the binding of their events.
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtMath>

#include "unitmain.h"

namespace {

const char* const kAppTitle = "Corvalis";

QToolButton* MakeButton(QWidget* parent, const char* name, const char* caption, QRect geometry) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(caption);
    button->setAutoRaise(true);  // flat
    button->setFocusPolicy(Qt::NoFocus);
    button->setGeometry(geometry);
    return button;
}

}  // namespace

void TFormMain::BuildComponents() {
    setObjectName("FormMain");
    setWindowTitle(kAppTitle);
    QFont formFont = font();
    formFont.setPixelSize(12);
    setFont(formFont);
    setFocusPolicy(Qt::StrongFocus);

    auto* client = new QWidget(this);
    auto* column = new QVBoxLayout(client);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    PanelTop = new QWidget(client);
    PanelTop->setObjectName("PanelTop");
    PanelTop->setFixedHeight(48);
    btnOpen = MakeButton(PanelTop, "btnOpen", "Open...", QRect(10, 9, 92, 30));
    btnZoomOut = MakeButton(PanelTop, "btnZoomOut", "-", QRect(112, 9, 40, 30));
    btnZoomIn = MakeButton(PanelTop, "btnZoomIn", "+", QRect(156, 9, 40, 30));
    btnOverview = MakeButton(PanelTop, "btnOverview", "Overview", QRect(208, 9, 92, 30));
    btnOverview->setCheckable(true);
    btnOverview->setChecked(true);
    lblZoom = new QLabel("Zoom -", PanelTop);
    lblZoom->setObjectName("lblZoom");
    QFont bold = formFont;
    bold.setBold(true);
    lblZoom->setFont(bold);
    lblZoom->setGeometry(316, 16, 60, 17);
    lblZoom->setMinimumSize(60, 17);

    sboxMap = new TMapBox(client);
    sboxMap->setObjectName("sboxMap");
    imgMap = new TImageBox(sboxMap);
    imgMap->setObjectName("imgMap");
    imgMap->SetPicture(&renderer.ViewImage());
    PanelEagle = new QWidget(sboxMap);
    PanelEagle->setObjectName("PanelEagle");
    PanelEagle->setAutoFillBackground(true);
    QPalette black = PanelEagle->palette();
    black.setColor(QPalette::Window, Qt::black);
    PanelEagle->setPalette(black);
    PanelEagle->setGeometry(772, 8, 200, 200);
    PanelThumb = new TPaintBox(PanelEagle);
    PanelThumb->setObjectName("PanelThumb");
    PanelThumb->setGeometry(0, 0, 200, 200);

    column->addWidget(PanelTop);
    column->addWidget(sboxMap, 1);
    setCentralWidget(client);

    StatusBar1 = new TStatusBar(this, {420, 380, 160});
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setFixedHeight(19);
    setStatusBar(StatusBar1);

    resize(980, 660);
    // Lay the window out now: the diagnostic modes use the map area before any show.
    layout()->activate();
    column->activate();
    imgMap->setGeometry(sboxMap->rect());
    PlaceOverviewPanel();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TFormMain::BindEvents() {
    connect(btnOpen, &QToolButton::clicked, this, [this] { btnOpenClick(); });
    connect(btnZoomOut, &QToolButton::clicked, this, [this] { btnZoomOutClick(); });
    connect(btnZoomIn, &QToolButton::clicked, this, [this] { btnZoomInClick(); });
    connect(btnOverview, &QToolButton::clicked, this, [this] { btnOverviewClick(); });
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
