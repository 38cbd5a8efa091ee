#include "unitmain.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QToolButton>

#include <filesystem>

#include "inforeport.h"
#include "logging.h"
#include "selfcheck.h"
#include "textutil.h"

using corvalis::Format;
using corvalis::LogLine;
using corvalis::NormalizeSlashes;

namespace {

const char* const kAppTitle = "Corvalis";
const char* const kNoFileText = "No file opened";

// The busy cursor for the whole application while an object lives.
class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// A file name as the bytes the file system knows it by.
std::string LocalPath(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

std::vector<std::string> LocalPaths(const QStringList& texts) {
    std::vector<std::string> bytes;
    for (const QString& text : texts) bytes.push_back(LocalPath(text));
    return bytes;
}

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
    BuildComponents();
    BindEvents();
    renderer.ResetFrames();
    thumbBox = {};
    FormCreate();
}

TFormMain::~TFormMain() {
    FormDestroy();
}

void TFormMain::FormCreate() {
    tileStore.reset();
    decoder = std::make_unique<corvalis::TileDecoder>();
    viewport = corvalis::MapViewport();
    renderer.ResetFrames();
    overview.Reset();
    storeOpen = dragging = pointerKnown = thumbDragging = false;
    dragLastX = dragLastY = pointerX = pointerY = thumbLastX = thumbLastY = 0;

    const auto argc = static_cast<int>(arguments.size()) - 1;
    LogLine(Format("boot: argc=%d arg1=[%s]", argc,
                   argc >= 1 ? arguments[1].toStdString().c_str() : ""));
    // Qt widgets are double-buffered already.
    renderer.SetMissingTile(corvalis::LoadMissingTile(corvalis::kMissingTileResource));
    setAcceptDrops(true);
    UpdateControls();
    UpdateStatusBar();
    RunDiagnosticMode();
}

void TFormMain::RunDiagnosticMode() {
    if (rawArguments.size() < 3) return;
    const std::string& mode = rawArguments[1];
    const std::string path = NormalizeSlashes(rawArguments[2]);
    if (mode == "--info") {
        corvalis::RunInfoReport(path);
    } else if (mode == "--selftest") {
        LogLine("selftest mode entered");
        RunSelfCheck(*this, path);
        LogLine("selftest finished, terminating");
    } else {
        return;
    }
    terminateRequested = true;
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
    if (std::filesystem::is_regular_file(path, ignored))
        OpenStore(path);
    else
        ShowMessage(true, "File not found:\n" + path);
}

void TFormMain::FormDestroy() {
    setAcceptDrops(false);
    // The widgets outlive this object's members by a moment: cut their links first.
    imgMap->SetPicture(nullptr);
    imgMap->OnMouseDown = imgMap->OnMouseMove = imgMap->OnMouseUp = nullptr;
    PanelThumb->OnPaint = nullptr;
    PanelThumb->OnMouseDown = PanelThumb->OnMouseMove = PanelThumb->OnMouseUp = nullptr;
    PanelThumb->OnDblClick = nullptr;
    sboxMap->OnResize = nullptr;
    decoder.reset();
    tileStore.reset();
    viewport.AttachStore(nullptr);
}

void TFormMain::btnOpenClick() {
    if (OpenDialog1 == nullptr) OpenDialog1 = new QFileDialog(this);
    OpenDialog1->setWindowTitle("Open offline tile store");
    OpenDialog1->setFileMode(QFileDialog::ExistingFile);
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    const QStringList filters = {"Tile stores (*.mbtiles *.sqlitedb *.db)", "MBTiles (*.mbtiles)",
                                 "SQLite (*.sqlitedb *.db)", "All files (*)"};
    OpenDialog1->setNameFilters(filters);
    OpenDialog1->selectNameFilter(filters.first());
    if (OpenDialog1->exec() != QDialog::Accepted) return;
    const QStringList chosen = OpenDialog1->selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty()) return;
    OpenStore(NormalizeSlashes(LocalPath(chosen.first())));
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
    if (urls.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    const QString name = urls.first().toLocalFile();
    if (name.isEmpty()) return;
    const std::string path = NormalizeSlashes(LocalPath(name));
    QMetaObject::invokeMethod(
        this, [this, path] { OpenStore(path); }, Qt::QueuedConnection);
}

void TFormMain::OpenStore(const std::string& path) {
    BusyCursor busy;
    if (!tileStore) tileStore = std::make_unique<corvalis::TileDatabase>();
    std::string errorText;
    if (!tileStore->Open(path, errorText)) {
        LogLine("open failed: " + path + " / " + errorText);
        // The store is closed already; events handled while the box is open
        // must not take the old store for a shown one.
        storeOpen = false;
        ShowMessage(true, "Cannot open this tile store:\n" + errorText);
        ResetToNoStore();
        return;
    }
    storeOpen = false;
    int width = 1;
    int height = 1;
    MapAreaSize(width, height);
    viewport.SetViewSize(width, height);
    viewport.AttachStore(tileStore.get());
    renderer.ResetFrames();
    wheelRemainder = 0;
    BuildOverview();
    storeOpen = true;
    const QString caption =
        Q(std::string(kAppTitle) + "  -  " + std::string(corvalis::FileNamePart(path)));
    setWindowTitle(caption);
    LogLine(Format("opened %s  kind=%s  zoom=%d-%d  tile=%dx%d  format=%s", path.c_str(),
                   tileStore->KindName().c_str(), tileStore->minZoom(), tileStore->maxZoom(),
                   tileStore->tileWidth(), tileStore->tileHeight(), tileStore->format().c_str()));
    // Every tile read scans the whole table: tell the user why panning is slow.
    if (!tileStore->hasTileIndex()) LogLine("slow store: no tile index");
    RenderMap(true);
    UpdateControls();
}

void TFormMain::ResetToNoStore() {
    storeOpen = false;
    renderer.ResetFrames();
    overview.Reset();
    // Nothing is drawn on the overview any more, so no press may map onto it.
    thumbBox = {};
    wheelRemainder = 0;
    if (tileStore) tileStore->Close();
    viewport.AttachStore(nullptr);
    lblZoom->setText("Zoom -");
    setWindowTitle(kAppTitle);
    UpdateControls();
    UpdateStatusBar();
    renderer.ClearView();
    imgMap->update();
    PanelThumb->update();
}

void TFormMain::UpdateControls() {
    btnZoomIn->setEnabled(storeOpen && viewport.CanZoomIn());
    btnZoomOut->setEnabled(storeOpen && viewport.CanZoomOut());
    btnOverview->setEnabled(storeOpen);
    btnOpen->setEnabled(true);
    if (storeOpen && tileStore)
        lblZoom->setText(Q(Format("Zoom %d / %d-%d", viewport.Zoom(), tileStore->minZoom(),
                                  tileStore->maxZoom())));
    else
        lblZoom->setText("Zoom -");
    lblZoom->adjustSize();
}

void TFormMain::UpdateStatusBar() {
    if (!storeOpen || !tileStore) {
        SetStatusText(0, kNoFileText);
        SetStatusText(1, "");
        SetStatusText(2, "");
        return;
    }
    const std::string kind = Format("%s   %dx%d tiles", tileStore->KindName().c_str(),
                                    tileStore->tileWidth(), tileStore->tileHeight());
    if (tileStore->geoUnknown()) {
        SetStatusText(0, "Local tile grid - lon/lat unavailable (missing .omm)");
        SetStatusText(1, kind);
        SetStatusText(2, "m/px -");
        return;
    }
    std::string pointerLine = "Move the mouse over the map to read coordinates";
    if (pointerKnown) {
        int cx = 0;
        int cy = 0;
        viewport.ViewToContent(pointerX, pointerY, cx, cy);
        double lon = 0.0;
        double lat = 0.0;
        int column = 0;
        int row = 0;
        if (viewport.ContentToLonLat(cx, cy, lon, lat) &&
            viewport.ContentToTile(cx, cy, column, row))
            pointerLine = Format("Lon %.5f   Lat %.5f      z=%d  x=%d  y=%d", lon, lat,
                                 viewport.Zoom(), column, row);
    }
    SetStatusText(0, pointerLine);
    SetStatusText(1, kind);
    SetStatusText(2, Format("%.2f m/px", viewport.MetersPerPixel()));
}

void TFormMain::SetStatusText(int index, const std::string& text) {
    if (index < 0 || index >= StatusBar1->PanelCount()) return;
    StatusBar1->SetPanelText(index, Q(text));
}

void TFormMain::ShowMessage(bool error, const std::string& text) {
    QMessageBox box(error ? QMessageBox::Critical : QMessageBox::Warning,
                    error ? "Error" : "Warning", Q(text), QMessageBox::Ok, this);
    box.exec();
}
