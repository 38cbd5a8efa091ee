// Navigation on the window: dragging, arrow keys, the wheel, the zoom buttons,
// the overview panel and the frame reuse that pans rely on.
#include <QToolButton>
#include <QtTest>

#include <fstream>

#include "guitest.h"
#include "tilestores.h"
#include "unitmain.h"

using namespace guitest;

namespace {

// A window whose map area is 600 x 400, showing a full-world store of levels 0..3.
class Fixture {
public:
    explicit Fixture(bool open = true) : form(QStringList{"corvalis"}) {
        teststores::WorldStore(path, 0, 3);
        form.resize(600, 400 + 48 + 19);
        form.show();
        if (!QTest::qWaitForWindowExposed(&form)) qFatal("window not exposed");
        if (open) form.OpenStore(path);
    }
    testsupport::TempDir dir;
    std::string path = dir.file("world.mbtiles");
    TFormMain form;
};

}  // namespace

class NavigationTest : public QObject {
    Q_OBJECT

private slots:
    void init() { ClearLog(); }
    void cleanup() { ClearLog(); }

    void dragFollowsThePointerAgainstAnEdgeAndBack() {
        Fixture f;
        auto& form = f.form;
        form.btnZoomInClick();
        form.btnZoomInClick();  // zoom 2: 1024 x 1024 content
        QCOMPARE(form.Viewport().ScrollX(), 212);
        const int grids = GridLines();

        SendMouse(form.imgMap, QEvent::MouseButtonPress, QPoint(100, 200));
        QVERIFY(form.Session().Dragging());
        QCOMPARE(form.imgMap->cursor().shape(), Qt::DragMoveCursor);
        SendMouse(form.imgMap, QEvent::MouseMove, QPoint(500, 200));  // 400 right: clamped at 0
        QCOMPARE(form.Viewport().ScrollX(), 0);
        SendMouse(form.imgMap, QEvent::MouseMove, QPoint(450, 230));  // back 50: moves at once
        QCOMPARE(form.Viewport().ScrollX(), 50);
        QCOMPARE(form.Viewport().ScrollY(), 282);
        SendMouse(form.imgMap, QEvent::MouseMove, QPoint(450, 230));  // no movement
        QCOMPARE(form.Viewport().ScrollX(), 50);
        SendMouse(form.imgMap, QEvent::MouseButtonRelease, QPoint(450, 230));
        QVERIFY(!form.Session().Dragging());
        QCOMPARE(form.imgMap->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(GridLines(), grids);  // pans never force a new grid

        // The right button starts no drag, but its release ends one.
        SendMouse(form.imgMap, QEvent::MouseButtonPress, QPoint(100, 100), Qt::RightButton);
        QVERIFY(!form.Session().Dragging());
        SendMouse(form.imgMap, QEvent::MouseButtonPress, QPoint(100, 100));
        SendMouse(form.imgMap, QEvent::MouseButtonRelease, QPoint(100, 100), Qt::RightButton);
        QVERIFY(!form.Session().Dragging());
    }

    void dragDoesNotPanContentThatFits() {
        Fixture f;
        auto& form = f.form;
        const QImage before = form.MapPicture().copy();
        SendMouse(form.imgMap, QEvent::MouseButtonPress, QPoint(100, 100));
        QCOMPARE(form.imgMap->cursor().shape(), Qt::DragMoveCursor);
        SendMouse(form.imgMap, QEvent::MouseMove, QPoint(300, 250));
        QCOMPARE(form.MapPicture(), before);
        SendMouse(form.imgMap, QEvent::MouseButtonRelease, QPoint(300, 250));
        QCOMPARE(form.imgMap->cursor().shape(), Qt::ArrowCursor);
    }

    void arrowKeysAreConsumedOnlyWhenTheViewMoves() {
        Fixture f;
        auto& form = f.form;
        QVERIFY(!SendKey(&form, Qt::Key_Left));  // zoom 0 fits the view
        form.btnZoomInClick();
        form.btnZoomInClick();
        const QImage before = form.MapPicture().copy();
        const int loaded = form.Session().Renderer().LoadedCount();
        const int grids = GridLines();

        QVERIFY(SendKey(&form, Qt::Key_Left, Qt::ShiftModifier));
        QCOMPARE(form.Viewport().ScrollX(), 252);
        // Served from the composed block: the picture moved 40 px left, nothing logged.
        const QImage& after = form.MapPicture();
        for (int y = 0; y < 400; y += 31)
            for (int x = 0; x < 560; x += 29)
                QCOMPARE(PixelAt(after, x, y), PixelAt(before, x + 40, y));
        QCOMPARE(form.Session().Renderer().LoadedCount(), loaded);
        QCOMPARE(GridLines(), grids);

        QVERIFY(SendKey(&form, Qt::Key_Up));
        QVERIFY(SendKey(&form, Qt::Key_Down));
        QVERIFY(SendKey(&form, Qt::Key_Right));
        QCOMPARE(form.Viewport().ScrollX(), 212);
        while (form.Viewport().ScrollX() < 424) QVERIFY(SendKey(&form, Qt::Key_Left));
        QVERIFY(!SendKey(&form, Qt::Key_Left));  // at the east edge
        QVERIFY(!SendKey(&form, Qt::Key_A));
        QCOMPARE(GridLines(), grids);
    }

    void wheelStepsZoomAndIsHandledOnlyWithAStore() {
        Fixture f(false);
        auto& form = f.form;
        QVERIFY(!SendWheel(&form, 120));
        form.OpenStore(f.path);
        const int grids = GridLines();

        // Over the map, as the window system delivers it: the window finds the
        // widget under the pointer, and the event goes up from the map to the form.
        QVERIFY(form.sboxMap->childAt(100, 300) == form.imgMap);
        SendWheelThroughWindow(form.imgMap, QPoint(100, 300), 120);
        QCOMPARE(form.Viewport().Zoom(), 1);
        QCOMPARE(GridLines(), grids + 1);
        QVERIFY(SendWheel(form.imgMap, -120));
        QCOMPARE(form.Viewport().Zoom(), 0);

        QVERIFY(SendWheel(&form, 120));
        QCOMPARE(form.Viewport().Zoom(), 1);
        QCOMPARE(GridLines(), grids + 3);
        QCOMPARE(LogMessages().back().rfind("grid z=1 ", 0), size_t(0));
        QCOMPARE(form.lblZoom->text(), QString("Zoom 1 / 0-3"));

        // Finer wheels: 40 + 40 does nothing yet, the third makes a step.
        QVERIFY(SendWheel(&form, 40));
        QVERIFY(SendWheel(&form, 40));
        QCOMPARE(form.Viewport().Zoom(), 1);
        QVERIFY(SendWheel(&form, 40));
        QCOMPARE(form.Viewport().Zoom(), 2);
        QVERIFY(SendWheel(&form, 240));  // two notches at once
        QCOMPARE(form.Viewport().Zoom(), 3);
        QVERIFY(!form.btnZoomIn->isEnabled());

        // At the top level the step is handled but nothing is drawn.
        const int top = GridLines();
        QVERIFY(SendWheel(&form, 120));
        QCOMPARE(form.Viewport().Zoom(), 3);
        QCOMPARE(GridLines(), top);

        QVERIFY(SendWheel(&form, -120));
        QCOMPARE(form.Viewport().Zoom(), 2);
    }

    void zoomButtonsKeepTheViewCentre() {
        Fixture f;
        auto& form = f.form;
        QTest::mouseClick(form.btnZoomIn, Qt::LeftButton);
        QCOMPARE(form.Viewport().Zoom(), 1);
        // 512 content in a 600 x 400 view: centred vertically, letterboxed across.
        QCOMPARE(form.Viewport().ScrollY(), 56);
        QTest::mouseClick(form.btnZoomOut, Qt::LeftButton);
        QCOMPARE(form.Viewport().Zoom(), 0);
        QVERIFY(!form.btnZoomOut->isEnabled());
        QCOMPARE(form.lblZoom->text(), QString("Zoom 0 / 0-3"));
    }

    void forcedRenderWithNothingChangedReusesEveryCell() {
        Fixture f;
        auto& form = f.form;
        form.btnZoomInClick();
        form.btnZoomInClick();
        form.btnZoomInClick();
        const corvalis::TileGrid grid = form.Session().Renderer().LastGrid();
        const int cells = (grid.maxX - grid.minX + 1) * (grid.maxY - grid.minY + 1);
        form.RenderMap(true);
        QCOMPARE(form.Session().Renderer().ReusedCount(), cells);
        QCOMPARE(form.Session().Renderer().LoadedCount(), 0);
        QCOMPARE(LogMessages().back(),
                 corvalis::Format("grid z=3 cols=%d rows=%d loaded=0 reused=%d missing=0",
                                  grid.maxX - grid.minX + 1, grid.maxY - grid.minY + 1, cells));
    }

    void overviewShowsTheStoreAndMovesTheMap() {
        Fixture f;
        auto& form = f.form;
        for (int i = 0; i < 3; ++i) form.btnZoomInClick();  // zoom 3: 2048 x 2048
        form.PanelThumb->repaint();
        QCOMPARE(form.Session().OverviewBox(), (corvalis::ThumbBox{0, 0, 200, 200}));
        const QImage panel = form.PanelThumb->grab().toImage();
        QCOMPARE(PixelAt(panel, 5, 5), teststores::TileColour(0, 0, 0) & 0xFFFFFFu);

        SendMouse(form.PanelThumb, QEvent::MouseButtonPress, QPoint(100, 100));
        QCOMPARE(form.Viewport().ScrollX(), 1024 - 300);
        QCOMPARE(form.Viewport().ScrollY(), 1024 - 200);
        SendMouse(form.PanelThumb, QEvent::MouseMove, QPoint(50, 50));
        QCOMPARE(form.Viewport().ScrollX(), 512 - 300);
        QCOMPARE(form.Viewport().ScrollY(), 512 - 200);
        SendMouse(form.PanelThumb, QEvent::MouseButtonRelease, QPoint(50, 50));
        form.PanelThumbMouseMove(150, 150);  // the release ended the drag
        QCOMPARE(form.Viewport().ScrollX(), 512 - 300);
        const int grids = GridLines();
        QTest::mouseDClick(form.PanelThumb, Qt::LeftButton, {}, QPoint(100, 100));
        QTest::mouseRelease(form.PanelThumb, Qt::LeftButton, {}, QPoint(100, 100));
        QCOMPARE(form.Viewport().ScrollX(), 1024 - 300);
        QCOMPARE(GridLines(), grids);
    }

    // The press before a double click has centred the map already; the double
    // click itself only redraws, and only with the left button on content
    // larger than the view. The redraw shows in the refreshed status bar.
    void overviewDoubleClickRedrawsOnlyContentLargerThanTheView() {
        Fixture f;
        auto& form = f.form;
        const QString hint("Move the mouse over the map to read coordinates");
        const QString sentinel("not refreshed");
        const QPoint at(120, 90);
        // Zoom 0 fits the 600 x 400 view, 1 (512 x 512) fits across, 2 and 3 do not fit.
        for (int zoom = 0; zoom <= 3; ++zoom) {
            if (zoom > 0) form.btnZoomInClick();
            QCOMPARE(form.Viewport().Zoom(), zoom);
            QCOMPARE(form.Viewport().ContentFitsView(), zoom < 2);
            form.PanelThumb->repaint();
            QTest::mouseClick(form.PanelThumb, Qt::LeftButton, {}, at);
            const int scrollX = form.Viewport().ScrollX();
            const int scrollY = form.Viewport().ScrollY();
            const int grids = GridLines();

            form.SetStatusText(0, sentinel.toStdString());
            QTest::mouseDClick(form.PanelThumb, Qt::RightButton, {}, at);
            QTest::mouseRelease(form.PanelThumb, Qt::RightButton, {}, at);
            QCOMPARE(form.StatusBar1->PanelText(0), sentinel);

            QTest::mouseDClick(form.PanelThumb, Qt::LeftButton, {}, at);
            QTest::mouseRelease(form.PanelThumb, Qt::LeftButton, {}, at);
            QCOMPARE(form.StatusBar1->PanelText(0), zoom < 2 ? sentinel : hint);
            QCOMPARE(form.Viewport().ScrollX(), scrollX);
            QCOMPARE(form.Viewport().ScrollY(), scrollY);
            QCOMPARE(GridLines(), grids);
        }
    }

    void overviewOfAWideLevelIsCentredOnThePanel() {
        testsupport::TempDir dir;
        const std::string path = dir.file("wide.mbtiles");
        teststores::BlockStore(path, 2, 4, 1);
        TFormMain form(QStringList{"corvalis", QString::fromStdString(path)});
        form.resize(600, 467);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(form.Session().OverviewPicture().Ready());
        form.PanelThumb->repaint();
        QCOMPARE(form.Session().OverviewBox(), (corvalis::ThumbBox{0, 75, 200, 125}));
        // 1024 x 256 content in a 600 x 400 view. A press above the picture acts
        // on its top edge.
        SendMouse(form.PanelThumb, QEvent::MouseButtonPress, QPoint(25, 10));
        QCOMPARE(form.Viewport().ScrollX(), 0);
        SendMouse(form.PanelThumb, QEvent::MouseButtonRelease, QPoint(25, 10));
        SendMouse(form.PanelThumb, QEvent::MouseButtonPress, QPoint(125, 100));
        QCOMPARE(form.Viewport().ScrollX(), 640 - 300);
    }

    void overviewPanelStaysInTheTopRightCornerAndToggles() {
        Fixture f(false);
        auto& form = f.form;
        form.resize(700, 500);
        QTRY_COMPARE(form.PanelEagle->pos(), QPoint(form.sboxMap->width() - 208, 8));
        QCOMPARE(form.sboxMap->width(), 700);
        form.OpenStore(f.path);
        QVERIFY(form.PanelEagle->isVisible());
        QTest::mouseClick(form.btnOverview, Qt::LeftButton);
        QVERIFY(!form.PanelEagle->isVisible());
        QVERIFY(!form.btnOverview->isChecked());
        QCOMPARE(form.btnOverview->text(), QString("Overview"));
        form.OpenStore(f.path);  // hiding survives another open
        QVERIFY(!form.PanelEagle->isVisible());
        form.btnOverviewClick();
        QVERIFY(form.PanelEagle->isVisible());
        QVERIFY(form.btnOverview->isChecked());
    }

    // The self-check works on the window before it is ever shown.
    void overviewTogglesBeforeTheWindowIsShown() {
        testsupport::TempDir dir;
        const std::string path = dir.file("world.mbtiles");
        teststores::WorldStore(path, 0, 1);
        TFormMain form(QStringList{"corvalis"});
        form.OpenStore(path);
        QVERIFY(!form.PanelEagle->isHidden());
        form.btnOverviewClick();
        QVERIFY(form.PanelEagle->isHidden());
        QVERIFY(!form.btnOverview->isChecked());
        form.btnOverviewClick();
        QVERIFY(!form.PanelEagle->isHidden());
        QVERIFY(form.btnOverview->isChecked());
        form.btnOverviewClick();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(!form.PanelEagle->isVisible());
        form.btnOverviewClick();
        QVERIFY(form.PanelEagle->isVisible());
    }

    // 512 x 1024 content in the 600 x 400 view: it fits across, so dragging
    // pans in neither direction, but the arrow keys still scroll it up and down.
    void narrowTallContentIsNotDraggedButScrollsByKeys() {
        testsupport::TempDir dir;
        const std::string path = dir.file("tall.mbtiles");
        teststores::BlockStore(path, 2, 2, 4);
        TFormMain form(QStringList{"corvalis"});
        form.resize(600, 400 + 48 + 19);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.OpenStore(path);
        QCOMPARE(form.Viewport().ContentWidth(), 512);
        QCOMPARE(form.Viewport().ContentHeight(), 1024);
        QVERIFY(form.Viewport().ContentFitsView());
        const int scrollX = form.Viewport().ScrollX();
        const int scrollY = form.Viewport().ScrollY();
        QCOMPARE(scrollY, 312);
        const QImage before = form.MapPicture().copy();
        const int grids = GridLines();

        SendMouse(form.imgMap, QEvent::MouseButtonPress, QPoint(300, 200));
        QVERIFY(form.Session().Dragging());
        QCOMPARE(form.imgMap->cursor().shape(), Qt::DragMoveCursor);
        for (QPoint p : {QPoint(300, 50), QPoint(300, 390), QPoint(20, 200), QPoint(580, 10)}) {
            SendMouse(form.imgMap, QEvent::MouseMove, p);
            QCOMPARE(form.Viewport().ScrollX(), scrollX);
            QCOMPARE(form.Viewport().ScrollY(), scrollY);
        }
        QCOMPARE(form.MapPicture(), before);
        SendMouse(form.imgMap, QEvent::MouseButtonRelease, QPoint(580, 10));
        QVERIFY(!form.Session().Dragging());
        QCOMPARE(form.imgMap->cursor().shape(), Qt::ArrowCursor);

        QVERIFY(!SendKey(&form, Qt::Key_Left));
        QVERIFY(!SendKey(&form, Qt::Key_Right));
        QCOMPARE(form.Viewport().ScrollX(), scrollX);
        QVERIFY(SendKey(&form, Qt::Key_Up));
        QCOMPARE(form.Viewport().ScrollY(), scrollY + 40);
        QVERIFY(SendKey(&form, Qt::Key_Down));
        QVERIFY(SendKey(&form, Qt::Key_Down));
        QCOMPARE(form.Viewport().ScrollY(), scrollY - 40);
        QVERIFY(form.MapPicture() != before);
        QCOMPARE(GridLines(), grids);
    }

    // A fresh window, and one whose store failed to open after another was shown.
    void withoutAStoreInputChangesNothing() {
        Fixture f(false);
        auto& form = f.form;
        const std::string bad = f.dir.file("notastore.mbtiles");
        std::ofstream(bad) << "this is not a database";
        for (int round = 0; round < 2; ++round) {
            if (round == 1) {
                form.OpenStore(f.path);
                for (int i = 0; i < 2; ++i) form.btnZoomInClick();
                MessageBoxCatcher boxes;
                form.OpenStore(bad);
                QCOMPARE(boxes.texts.size(), size_t(1));
            }
            QVERIFY(!form.StoreOpen());
            ClearLog();
            const int zoom = form.Viewport().Zoom();
            const int scrollX = form.Viewport().ScrollX();
            const int scrollY = form.Viewport().ScrollY();
            const QImage picture = form.MapPicture().copy();
            const auto sameView = [&] {
                return form.Viewport().Zoom() == zoom && form.Viewport().ScrollX() == scrollX &&
                       form.Viewport().ScrollY() == scrollY && form.MapPicture() == picture;
            };

            for (int key : {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down})
                QVERIFY(!SendKey(&form, key));
            form.btnZoomInClick();
            form.btnZoomOutClick();
            QVERIFY(sameView());
            QVERIFY(!SendWheel(form.imgMap, 120));
            QVERIFY(!SendWheel(form.imgMap, -120));
            SendWheelThroughWindow(form.imgMap, QPoint(100, 300), 120);
            QVERIFY(sameView());

            SendMouse(form.imgMap, QEvent::MouseButtonPress, QPoint(100, 100));
            QVERIFY(!form.Session().Dragging());
            QCOMPARE(form.imgMap->cursor().shape(), Qt::ArrowCursor);
            SendMouse(form.imgMap, QEvent::MouseMove, QPoint(300, 250));
            SendMouse(form.imgMap, QEvent::MouseButtonRelease, QPoint(300, 250));
            QCOMPARE(form.imgMap->cursor().shape(), Qt::ArrowCursor);
            SendMouse(form.PanelThumb, QEvent::MouseButtonPress, QPoint(20, 20));
            SendMouse(form.PanelThumb, QEvent::MouseButtonRelease, QPoint(20, 20));
            QVERIFY(sameView());
            QCOMPARE(form.StatusBar1->PanelText(0), QString("No file opened"));
            QVERIFY(LogMessages().empty());
        }
    }

    void resizingTheMapAreaKeepsItsCentre() {
        Fixture f;
        auto& form = f.form;
        form.btnZoomInClick();
        form.btnZoomInClick();
        const int grids = GridLines();
        form.resize(700, 467);
        QTRY_COMPARE(form.Viewport().ViewWidth(), 700);
        QCOMPARE(form.Viewport().ScrollX(), 162);  // 212 - 100 / 2
        QCOMPARE(form.MapPicture().width(), 700);
        QCOMPARE(GridLines(), grids);
    }

    // With compositions in the background, a wheel turn of three notches
    // ends, once the window has taken in their progress, with the picture
    // and the one last grid line of composing each step before the next.
    void backgroundCompositionsEndWithTheForegroundsPicture() {
        Fixture foreground;
        QVERIFY(SendWheel(&foreground.form, 360));
        const QImage expected = foreground.form.MapPicture().copy();
        ClearLog();
        Fixture background(false);
        background.form.SetAsyncRendering(true);
        background.form.OpenStore(background.path);
        QVERIFY(SendWheel(&background.form, 360));
        QTRY_VERIFY(!background.form.Session().Composing());
        QCOMPARE(background.form.MapPicture(), expected);
        const std::vector<std::string> messages = LogMessages();
        QVERIFY(!messages.empty());
        QVERIFY(messages.back().rfind("grid z=3 ", 0) == 0);
        QVERIFY(GridLines() <= 4);  // compositions superseded before their end write none
    }
};

QTEST_MAIN(NavigationTest)
#include "test_navigation.moc"
