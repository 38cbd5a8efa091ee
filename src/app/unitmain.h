// The viewer's one window: a tool bar, the map with its overview panel, and a
// status bar. The map itself is a MapSession; the window's handlers forward
// its events to it. Every way of choosing a store file ends in OpenStore.
#pragma once

#include <QMainWindow>
#include <QStringList>

#include <string>
#include <vector>

#include "formwidgets.h"
#include "mapsession.h"

class QFileDialog;
class QLabel;
class QToolButton;
class TLayersPanel;

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
    // The status the program ends with after a diagnostic mode.
    int ExitStatus() const { return exitStatus; }
    corvalis::MapSession& Session() { return session; }
    const corvalis::MapSession& Session() const { return session; }

    // Compositions in the background (the program turns this on; off, every
    // render composes before it returns, as the self-check and tests expect).
    void SetAsyncRendering(bool on);

    // Opening and drawing (also used by the self-check). Unless chooseTable
    // is false, a GeoPackage with several tile tables asks which one to open.
    void OpenStore(const std::string& path, bool chooseTable = true);
    void ResetToNoStore();
    void RenderMap(bool force);
    void SyncViewSize();
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
    // The legend of a vector store (unitmain_vector.cpp).
    void btnLayersClick();
    void RefreshLegend(bool always);
    void LayerToggled(std::size_t index);
    void ShowHoverTip(int x, int y);
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
    bool StoreOpen() const { return session.StoreOpen(); }
    corvalis::MapViewport& Viewport() { return session.Viewport(); }
    // The picture imgMap shows, in view pixels.
    const QImage& MapPicture() const { return session.Renderer().ViewImage(); }
    // A position in the map area's logical pixels as a view (device) pixel.
    int ToViewPixel(double logical) const;

    // Components.
    QWidget* PanelTop = nullptr;
    QToolButton* btnOpen = nullptr;
    QToolButton* btnZoomOut = nullptr;
    QToolButton* btnZoomIn = nullptr;
    QToolButton* btnOverview = nullptr;
    QToolButton* btnLayers = nullptr;
    QLabel* lblZoom = nullptr;
    TStatusBar* StatusBar1 = nullptr;
    TMapBox* sboxMap = nullptr;
    TImageBox* imgMap = nullptr;
    QWidget* PanelEagle = nullptr;
    TPaintBox* PanelThumb = nullptr;
    TLayersPanel* PanelLayers = nullptr;  // hidden until btnLayers is checked
    QFileDialog* OpenDialog1 = nullptr;   // made on first use

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void ShowMessage(bool error, const std::string& text);
    double MapPixelRatio() const;
    void MapAreaSize(int& width, int& height) const;
    void PlaceOverviewPanel();
    // Takes in what a background composition drew, on the window's thread.
    void MapProgress();

    QStringList arguments;
    std::vector<std::string> rawArguments;  // the same, as bytes
    corvalis::MapSession session;
    bool terminateRequested = false;
    int exitStatus = 0;
    bool shownOnce = false;
};
