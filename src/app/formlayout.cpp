// The window's components: their names, captions, sizes and places.
#include "formlayout.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>

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

void BuildFormComponents(TFormMain& form, const QImage* mapPicture) {
    form.setObjectName("FormMain");
    form.setWindowTitle(kAppTitle);
    QFont formFont = form.font();
    formFont.setPixelSize(12);
    form.setFont(formFont);
    form.setFocusPolicy(Qt::StrongFocus);

    auto* client = new QWidget(&form);
    auto* column = new QVBoxLayout(client);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    form.PanelTop = new QWidget(client);
    form.PanelTop->setObjectName("PanelTop");
    form.PanelTop->setFixedHeight(48);
    form.btnOpen = MakeButton(form.PanelTop, "btnOpen", "Open...", QRect(10, 9, 92, 30));
    form.btnZoomOut = MakeButton(form.PanelTop, "btnZoomOut", "-", QRect(112, 9, 40, 30));
    form.btnZoomIn = MakeButton(form.PanelTop, "btnZoomIn", "+", QRect(156, 9, 40, 30));
    form.btnOverview = MakeButton(form.PanelTop, "btnOverview", "Overview", QRect(208, 9, 92, 30));
    form.btnOverview->setCheckable(true);
    form.btnOverview->setChecked(true);
    form.lblZoom = new QLabel("Zoom -", form.PanelTop);
    form.lblZoom->setObjectName("lblZoom");
    QFont bold = formFont;
    bold.setBold(true);
    form.lblZoom->setFont(bold);
    form.lblZoom->setGeometry(316, 16, 60, 17);
    form.lblZoom->setMinimumSize(60, 17);

    form.sboxMap = new TMapBox(client);
    form.sboxMap->setObjectName("sboxMap");
    form.imgMap = new TImageBox(form.sboxMap);
    form.imgMap->setObjectName("imgMap");
    form.imgMap->SetPicture(mapPicture);
    form.PanelEagle = new QWidget(form.sboxMap);
    form.PanelEagle->setObjectName("PanelEagle");
    form.PanelEagle->setAutoFillBackground(true);
    QPalette black = form.PanelEagle->palette();
    black.setColor(QPalette::Window, Qt::black);
    form.PanelEagle->setPalette(black);
    form.PanelEagle->setGeometry(772, 8, 200, 200);
    form.PanelThumb = new TPaintBox(form.PanelEagle);
    form.PanelThumb->setObjectName("PanelThumb");
    form.PanelThumb->setGeometry(0, 0, 200, 200);

    column->addWidget(form.PanelTop);
    column->addWidget(form.sboxMap, 1);
    form.setCentralWidget(client);

    form.StatusBar1 = new TStatusBar(&form, {420, 380, 160});
    form.StatusBar1->setObjectName("StatusBar1");
    form.StatusBar1->setFixedHeight(19);
    form.setStatusBar(form.StatusBar1);

    form.resize(980, 660);
    // Lay the window out now: the diagnostic modes use the map area before any show.
    form.layout()->activate();
    column->activate();
    form.imgMap->setGeometry(form.sboxMap->rect());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        form.move(screen->availableGeometry().center() - form.rect().center());
}
