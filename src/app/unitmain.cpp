#include "unitmain.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QToolButton>

#include <filesystem>

#include "diagnosticmodes.h"
#include "formdialogs.h"
#include "formlayout.h"
#include "formtext.h"
#include "layerspanel.h"
#include "logging.h"
#include "textutil.h"

using corvalis::LogLine;
using corvalis::NormalizeSlashes;
using formtext::BusyCursor;
using formtext::LocalPath;
using formtext::LocalPaths;
using formtext::Q;

namespace {

const char* const kAppTitle = "Corvalis";

}  // namespace

TFormMain::TFormMain(QWidget* parent) : TFormMain(QCoreApplication::arguments(), parent) {}

TFormMain::TFormMain(const QStringList& commandLine, QWidget* parent)
    : TFormMain(commandLine, LocalPaths(commandLine), parent) {}

TFormMain::TFormMain(const QStringList& commandLine, std::vector<std::string> commandBytes,
                     QWidget* parent)
    : QMainWindow(parent), arguments(commandLine), rawArguments(std::move(commandBytes)) {
    if (arguments.isEmpty()) arguments.append(QString());
    if (rawArguments.size() != static_cast<std::size_t>(arguments.size()))
        rawArguments = LocalPaths(arguments);
    BuildFormComponents(*this, &session.Renderer().ViewImage());
    PlaceOverviewPanel();
    BuildFormActions(*this);
    BindFormEvents(*this);
    FormCreate();
}

TFormMain::~TFormMain() {
    FormDestroy();
}

void TFormMain::FormCreate() {
    const auto argc = static_cast<int>(arguments.size()) - 1;
    // The argument's bytes as typed (escaped in the log), whatever their encoding.
    const std::string first = rawArguments.size() >= 2 ? rawArguments[1] : std::string();
    LogLine(corvalis::Format("boot: argc=%d arg1=[%s]", argc, first.c_str()));
    // Qt widgets are double-buffered already.
    setAcceptDrops(true);
    UpdateControls();
    UpdateStatusBar();
    terminateRequested = RunDiagnosticMode(
        rawArguments, session, [this](const std::string& path) { OpenStore(path, false); },
        exitStatus);  // a GeoPackage's first table
}

void TFormMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shownOnce) return;
    shownOnce = true;
    FormShow();
}

void TFormMain::FormShow() {
    UpdateControls();
    UpdateStatusBar();
    setFocus();
    if (terminateRequested) return;
    const auto argc = arguments.size() - 1;
    if (argc == 0) return;
    if (argc > 1) {
        ShowMessage(false, "Too many command line arguments; only one file is accepted.");
        return;
    }
    const std::string path = NormalizeSlashes(rawArguments[1]);
    std::error_code ignored;
    if (std::filesystem::is_regular_file(path, ignored) || corvalis::SplitTablePath(path))
        OpenStore(path);
    else
        ShowMessage(true, "File not found:\n" + corvalis::EscapeControl(path));
}

void TFormMain::FormDestroy() {
    setAcceptDrops(false);
    session.CancelComposition();
    session.SetAsync(false);
    UnbindFormEvents(*this);
}

void TFormMain::btnOpenClick() {
    const std::string chosen = ChooseStoreFile(this, OpenDialog1);
    if (!chosen.empty()) OpenStore(NormalizeSlashes(chosen));
}

// isHidden, not isVisible: the panel's own state counts, also while the window
// itself is not shown (the self-check runs before it ever is).
void TFormMain::btnOverviewClick() {
    PanelEagle->setVisible(PanelEagle->isHidden());
    btnOverview->setChecked(!PanelEagle->isHidden());
}

void TFormMain::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
    else
        event->ignore();
}

// The first file of a drop is opened once the drop itself has finished, so
// that a message box never runs inside the drop.
void TFormMain::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty()) return event->ignore();
    event->acceptProposedAction();
    const QString name = urls.first().toLocalFile();
    if (name.isEmpty()) return;
    const std::string path = NormalizeSlashes(LocalPath(name));
    QMetaObject::invokeMethod(
        this, [this, path] { OpenStore(path); }, Qt::QueuedConnection);
}

void TFormMain::OpenStore(const std::string& path, bool chooseTable) {
    // A GeoPackage with several tile tables: the user picks one.
    const auto tables = chooseTable ? corvalis::ListGeoPackageTileTables(path)
                                    : std::vector<corvalis::GeoPackageTable>{};
    const auto table = tables.size() > 1 ? ChooseGeoPackageTable(this, tables) : std::nullopt;
    if (tables.size() > 1 && !table) return;
    BusyCursor busy;
    int width = 1, height = 1;
    MapAreaSize(width, height);
    std::string errorText;
    if (!session.Open(table ? path + "#" + *table : path, width, height, errorText)) {
        ShowMessage(true, "Cannot open this tile store:\n" + corvalis::EscapeControl(errorText));
        ResetToNoStore();
        return;
    }
    // Names are shown with their control characters as escapes.
    setWindowTitle(Q(std::string(kAppTitle) + "  -  " +
                     corvalis::EscapeControl(std::string(corvalis::FileNamePart(path)))));
    RenderMap(true);
    UpdateControls();
}

void TFormMain::ResetToNoStore() {
    session.Close();
    imgMap->unsetCursor();
    setWindowTitle(kAppTitle);
    UpdateControls();
    UpdateStatusBar();
    imgMap->update();
    PanelThumb->update();
}

void TFormMain::UpdateControls() {
    btnZoomIn->setEnabled(session.CanZoomIn());
    btnZoomOut->setEnabled(session.CanZoomOut());
    btnOverview->setEnabled(session.StoreOpen());
    btnLayers->setEnabled(session.VectorStore());
    if (!session.VectorStore()) {
        PanelLayers->hide();
        btnLayers->setChecked(false);
    }
    RefreshLegend(true);
    btnOpen->setEnabled(true);
    lblZoom->setText(Q(session.ZoomLabel()));
    lblZoom->adjustSize();
}

void TFormMain::UpdateStatusBar() {
    const auto texts = session.StatusTexts();
    for (int i = 0; i < static_cast<int>(texts.size()); ++i)
        SetStatusText(i, texts[static_cast<std::size_t>(i)]);
}

void TFormMain::SetStatusText(int index, const std::string& text) {
    if (index < 0 || index >= StatusBar1->PanelCount()) return;
    StatusBar1->SetPanelText(index, Q(text));
}

void TFormMain::ShowMessage(bool error, const std::string& text) {
    ShowMessageBox(this, error, text);
}
