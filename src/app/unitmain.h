// The viewer's one window: a tool bar, the map with its overview panel, and a
// status bar. Every way of choosing a store file ends in OpenStore.
#pragma once

#include <QMainWindow>
#include <QStringList>

#include <memory>
#include <string>
#include <vector>

#include "formwidgets.h"
#include "maprenderer.h"
#include "mapviewport.h"
#include "overview.h"
#include "tiledecoder.h"
#include "tilesource.h"

class QFileDialog;
class QLabel;
class QToolButton;

class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    // Reads the command line from QCoreApplication::arguments(), which lacks
    // the toolkit's own options; the program passes the command line as typed.
    explicit TFormMain(QWidget* parent = nullptr);
    // The command line as typed; arguments[0] is the program. Paths are taken
    // as the local 8-bit encoding of these texts (QFile::encodeName).
    explicit TFormMain(const QStringList& arguments, QWidget* parent = nullptr);
    // The same with the command line's bytes, from which the paths are taken
    // unchanged (a file name need not be valid UTF-8); one string per argument.
    TFormMain(const QStringList& arguments, std::vector<std::string> rawArguments,
              QWidget* parent = nullptr);
    ~TFormMain() override;

    // A diagnostic mode ran during creation; the window is not to be shown.
    bool TerminateRequested() const { return terminateRequested; }

    // Opening and drawing (also used by the self-check).
    void OpenStore(const std::string& path);
    void ResetToNoStore();
    void RenderMap(bool force);
    void SyncViewSize();
    void PresentFrame();
    void BuildOverview();
    void UpdateControls();
    void UpdateStatusBar();
    void SetStatusText(int index, const std::string& text);

    // Toolkit events.
    void FormCreate();
    void FormShow();
    void FormDestroy();
    void FormResize();
    void btnOpenClick();
    void btnOverviewClick();
    void btnZoomInClick();
    void btnZoomOutClick();
    void sboxMapResize();
    // Positions in view (device) pixels.
    void imgMapMouseDown(Qt::MouseButton button, int x, int y);
    void imgMapMouseMove(int x, int y);
    void imgMapMouseUp(Qt::MouseButton button, int x, int y);
    // True when the event is handled.
    bool FormMouseWheelUp();
    bool FormMouseWheelDown();
    // True when the key moved the view and is consumed.
    bool FormKeyDown(int key);
    // Positions in the panel's own pixels.
    void PanelThumbPaint(QPainter& painter);
    void PanelThumbMouseDown(Qt::MouseButton button, int x, int y);
    void PanelThumbMouseMove(int x, int y);
    void PanelThumbMouseUp(Qt::MouseButton button, int x, int y);
    void PanelThumbDblClick();
    void CenterOnOverviewPoint(int x, int y);

    // State read by the self-check and the tests.
    bool StoreOpen() const { return storeOpen; }
    corvalis::MapViewport& Viewport() { return viewport; }
    const corvalis::MapViewport& Viewport() const { return viewport; }
    const corvalis::TileGrid& LastGrid() const { return renderer.LastGrid(); }
    int LoadedCount() const { return renderer.LoadedCount(); }
    int ReusedCount() const { return renderer.ReusedCount(); }
    int MissingCount() const { return renderer.MissingCount(); }
    // The picture imgMap shows, in view pixels.
    const QImage& MapPicture() const { return renderer.ViewImage(); }
    const QImage& MissingTilePicture() const { return renderer.MissingTile(); }
    bool OverviewReady() const { return overview.Ready(); }
    const corvalis::ThumbBox& ThumbBox() const { return thumbBox; }
    bool Dragging() const { return dragging; }

    // Components.
    QWidget* PanelTop = nullptr;
    QToolButton* btnOpen = nullptr;
    QToolButton* btnZoomOut = nullptr;
    QToolButton* btnZoomIn = nullptr;
    QToolButton* btnOverview = nullptr;
    QLabel* lblZoom = nullptr;
    TStatusBar* StatusBar1 = nullptr;
    TMapBox* sboxMap = nullptr;
    TImageBox* imgMap = nullptr;
    QWidget* PanelEagle = nullptr;
    TPaintBox* PanelThumb = nullptr;
    QFileDialog* OpenDialog1 = nullptr;  // made on first use

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildComponents();
    void BindEvents();
    void RunDiagnosticMode();
    void ShowMessage(bool error, const std::string& text);
    double MapPixelRatio() const;
    int ToViewPixel(double logical) const;
    void MapAreaSize(int& width, int& height) const;
    void PlaceOverviewPanel();

    QStringList arguments;
    std::vector<std::string> rawArguments;  // the same, as bytes

    // Window state.
    std::unique_ptr<corvalis::TileDatabase> tileStore;
    corvalis::MapViewport viewport;
    std::unique_ptr<corvalis::TileDecoder> decoder;
    // Frames, the last composition, the placeholder and the tallies.
    corvalis::MapRenderer renderer;
    // The overview picture and whether it shows the open store.
    corvalis::Overview overview;
    bool storeOpen = false;
    bool dragging = false;
    int dragLastX = 0;
    int dragLastY = 0;
    bool pointerKnown = false;
    int pointerX = 0;
    int pointerY = 0;
    bool thumbDragging = false;
    int thumbLastX = 0;
    int thumbLastY = 0;
    corvalis::ThumbBox thumbBox;

    bool terminateRequested = false;
    bool shownOnce = false;
    int wheelRemainder = 0;  // angle delta not yet turned into a zoom step
};
