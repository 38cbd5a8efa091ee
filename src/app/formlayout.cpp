// The window's components: their names, captions, sizes and places.
#include "formlayout.h"

#include <QAction>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>

#include <functional>
#include <string>

#include "appicons.h"
#include "layerspanel.h"
#include "unitmain.h"

namespace {

const char* const kAppTitle = "Corvalis";

// A tool bar button: the desktop theme's icon (the bundled one where the
// theme has none) and the caption as its text, beside the icon or, for the
// one-glyph zoom captions, in place of it.
struct ButtonLook {
    const char* name;
    const char* caption;
    QRect geometry;
    const char* themeIcon;
    const char* bundledIcon;
    const char* toolTip;
    const char* description;
};

QToolButton* MakeButton(QWidget* parent, const ButtonLook& look) {
    auto* button = new QToolButton(parent);
    button->setObjectName(look.name);
    button->setText(look.caption);
    button->setIcon(corvalis::ThemeIcon(look.themeIcon, look.bundledIcon));
    button->setIconSize(QSize(16, 16));
    const bool glyph = std::char_traits<char>::length(look.caption) == 1;
    button->setToolButtonStyle(glyph ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextBesideIcon);
    button->setToolTip(look.toolTip);
    button->setAccessibleDescription(look.description);
    button->setAutoRaise(true);  // flat
    button->setFocusPolicy(Qt::NoFocus);
    button->setGeometry(look.geometry);
    return button;
}

QAction* MakeAction(TFormMain& form, const char* name, const QKeySequence& keys,
                    const std::function<void()>& handler) {
    auto* action = new QAction(name, &form);
    action->setObjectName(name);
    action->setShortcut(keys);
    // On the window: the keys work wherever the focus is inside it, and keys
    // that no action takes (the arrows) still reach the map.
    action->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(action, &QAction::triggered, &form, handler);
    form.addAction(action);
    return action;
}

// The tool bar: its buttons and the zoom label.
void BuildTopPanel(TFormMain& form, QWidget* client, const QFont& formFont) {
    form.PanelTop = new QWidget(client);
    form.PanelTop->setObjectName("PanelTop");
    form.PanelTop->setFixedHeight(48);
    form.btnOpen = MakeButton(form.PanelTop,
                              {"btnOpen", "Open...", QRect(10, 9, 92, 30), "document-open",
                               "document-open", "Open a tile store (Ctrl+O)", "Open a tile store"});
    form.btnZoomOut =
        MakeButton(form.PanelTop, {"btnZoomOut", "-", QRect(112, 9, 40, 30), "zoom-out", "zoom-out",
                                   "Zoom out one level (mouse wheel down)", "Zoom out"});
    form.btnZoomIn =
        MakeButton(form.PanelTop, {"btnZoomIn", "+", QRect(156, 9, 40, 30), "zoom-in", "zoom-in",
                                   "Zoom in one level (mouse wheel up)", "Zoom in"});
    form.btnOverview = MakeButton(
        form.PanelTop, {"btnOverview", "Overview", QRect(208, 9, 92, 30), "view-preview",
                        "overview", "Show or hide the overview of the store", "Overview"});
    form.btnOverview->setCheckable(true);
    form.btnOverview->setChecked(true);
    form.btnLayers = MakeButton(
        form.PanelTop, {"btnLayers", "Layers", QRect(306, 9, 84, 30), "layers", "layers",
                        "Show or hide the layers of a vector store", "Layers of the vector tiles"});
    form.btnLayers->setCheckable(true);
    form.lblZoom = new QLabel("Zoom -", form.PanelTop);
    form.lblZoom->setObjectName("lblZoom");
    QFont bold = formFont;
    bold.setBold(true);
    form.lblZoom->setFont(bold);
    form.lblZoom->setGeometry(402, 16, 60, 17);
    form.lblZoom->setMinimumSize(60, 17);
}

// The map area: the map picture, the overview panel and the layers panel.
void BuildMapArea(TFormMain& form, QWidget* client, const QImage* mapPicture) {
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

    form.PanelLayers = new TLayersPanel(form.sboxMap);
    form.PanelLayers->setGeometry(8, 8, 200, 240);
    form.PanelLayers->hide();
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

    BuildTopPanel(form, client, formFont);
    BuildMapArea(form, client, mapPicture);

    column->addWidget(form.PanelTop);
    column->addWidget(form.sboxMap, 1);
    form.setCentralWidget(client);

    form.StatusBar1 = new TStatusBar(&form, {420, 380, 160});
    form.StatusBar1->setObjectName("StatusBar1");
    form.StatusBar1->setFixedHeight(19);
    form.setStatusBar(form.StatusBar1);

    // The top panel's buttons and label and the status bar's three panels
    // (960 pixels) show whole; the map keeps room for the overview panel.
    form.setMinimumSize(kFormMinimumSize);
    form.resize(980, 660);
    // Lay the window out now: the diagnostic modes use the map area before any show.
    form.layout()->activate();
    column->activate();
    form.imgMap->setGeometry(form.sboxMap->rect());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        form.move(screen->availableGeometry().center() - form.rect().center());
}

void BuildFormActions(TFormMain& form) {
    MakeAction(form, "actOpen", QKeySequence(Qt::CTRL | Qt::Key_O),
               [&form] { form.btnOpenClick(); });
    MakeAction(form, "actClose", QKeySequence(Qt::CTRL | Qt::Key_W),
               [&form] { form.ResetToNoStore(); });
    MakeAction(form, "actQuit", QKeySequence(Qt::CTRL | Qt::Key_Q), [&form] { form.close(); });
    MakeAction(form, "actFullScreen", QKeySequence(Qt::Key_F11),
               [&form] { form.setWindowState(form.windowState() ^ Qt::WindowFullScreen); });
}
