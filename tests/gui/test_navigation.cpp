// How the window hands its input to the map session, each route once: the
// mouse on the map and on the overview panel, the arrow keys, the wheel, the
// zoom buttons and resizing; and the overview panel's place. What the input
// does to the map is tested on the session (tests/render/test_mapsession.cpp).
#include <QToolButton>
#include <QtTest>

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
        form.setMinimumSize(0, 0);  // a map area smaller than the window allows
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

    // Only the left button starts a drag, any button's release ends it; the
    // cursor shows what a drag would do.
    void mapMouseDragsThroughTheSessionAndSetsTheCursor() {
        Fixture f;
        auto& form = f.form;
        SendMouse(form.imgMap, QEvent::MouseButtonPress, QPoint(100, 100));
        QCOMPARE(form.imgMap->cursor().shape(), Qt::DragMoveCursor);
        SendMouse(form.imgMap, QEvent::MouseButtonRelease, QPoint(100, 100));
        QCOMPARE(form.imgMap->cursor().shape(), Qt::ArrowCursor);  // zoom 0 fits the view

        form.btnZoomInClick();
        form.btnZoomInClick();  // zoom 2: 1024 x 1024 content
        const QImage before = form.MapPicture().copy();
        SendMouse(form.imgMap, QEvent::MouseButtonPress, QPoint(100, 200));
        QVERIFY(form.Session().Dragging());
        SendMouse(form.imgMap, QEvent::MouseMove, QPoint(500, 200));
        QCOMPARE(form.Viewport().ScrollX(), 0);
        QVERIFY(form.MapPicture() != before);
        SendMouse(form.imgMap, QEvent::MouseButtonRelease, QPoint(500, 200), Qt::RightButton);
        QVERIFY(!form.Session().Dragging());
        QCOMPARE(form.imgMap->cursor().shape(), Qt::PointingHandCursor);
        SendMouse(form.imgMap, QEvent::MouseButtonPress, QPoint(100, 100), Qt::RightButton);
        QVERIFY(!form.Session().Dragging());
    }

    // Consumed when the view moved, whatever the modifiers; else passed on.
    void arrowKeysReachTheSession() {
        Fixture f;
        auto& form = f.form;
        QVERIFY(!SendKey(&form, Qt::Key_Left));  // zoom 0 fits the view
        form.btnZoomInClick();
        form.btnZoomInClick();
        const QImage before = form.MapPicture().copy();
        QVERIFY(SendKey(&form, Qt::Key_Left, Qt::ShiftModifier));
        QCOMPARE(form.Viewport().ScrollX(), 252);
        QVERIFY(form.MapPicture() != before);
    }

    // The wheel zooms only with a store; so do the buttons.
    void wheelAndZoomButtonsReachTheSession() {
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
        QCOMPARE(form.lblZoom->text(), QString("Zoom 1 / 0-3"));
        QVERIFY(SendWheel(form.imgMap, -120));
        QCOMPARE(form.Viewport().Zoom(), 0);
        QVERIFY(SendWheel(&form, 40));  // part of a notch is taken too
        QCOMPARE(form.Viewport().Zoom(), 0);
        QVERIFY(SendWheel(&form, 440));  // with the 40: four notches, one beyond the top
        QCOMPARE(form.Viewport().Zoom(), 3);
        QVERIFY(!form.btnZoomIn->isEnabled());

        // At the top level the step is handled but nothing is drawn.
        const int top = GridLines();
        QVERIFY(SendWheel(&form, 120));
        QCOMPARE(form.Viewport().Zoom(), 3);
        QCOMPARE(GridLines(), top);

        // The buttons step the same way.
        for (int i = 0; i < 3; ++i) QTest::mouseClick(form.btnZoomOut, Qt::LeftButton);
        QCOMPARE(form.Viewport().Zoom(), 0);
        QVERIFY(!form.btnZoomOut->isEnabled());
        QCOMPARE(form.lblZoom->text(), QString("Zoom 0 / 0-3"));
        QTest::mouseClick(form.btnZoomIn, Qt::LeftButton);
        QCOMPARE(form.Viewport().Zoom(), 1);
    }

    // The panel shows the session's overview; a press centres the map, a drag
    // follows until the release, and a double click with the left button only
    // redraws (which shows in the refreshed status bar).
    void overviewPanelMouseReachesTheSession() {
        Fixture f;
        auto& form = f.form;
        for (int i = 0; i < 3; ++i) form.btnZoomInClick();  // zoom 3: 2048 x 2048
        form.PanelThumb->repaint();
        const QImage panel = form.PanelThumb->grab().toImage();
        QCOMPARE(PixelAt(panel, 5, 5), teststores::TileColour(0, 0, 0) & 0xFFFFFFu);

        SendMouse(form.PanelThumb, QEvent::MouseButtonPress, QPoint(100, 100));
        QCOMPARE(form.Viewport().ScrollX(), 1024 - 300);
        SendMouse(form.PanelThumb, QEvent::MouseMove, QPoint(50, 50));
        QCOMPARE(form.Viewport().ScrollX(), 512 - 300);
        SendMouse(form.PanelThumb, QEvent::MouseButtonRelease, QPoint(50, 50));
        form.PanelThumbMouseMove(150, 150);  // the release ended the drag
        QCOMPARE(form.Viewport().ScrollX(), 512 - 300);

        const QPoint at(100, 100);
        QTest::mouseClick(form.PanelThumb, Qt::LeftButton, {}, at);
        QCOMPARE(form.Viewport().ScrollX(), 1024 - 300);
        const QString sentinel("not refreshed");
        form.SetStatusText(0, sentinel.toStdString());
        QTest::mouseDClick(form.PanelThumb, Qt::RightButton, {}, at);
        QTest::mouseRelease(form.PanelThumb, Qt::RightButton, {}, at);
        QCOMPARE(form.StatusBar1->PanelText(0), sentinel);
        QTest::mouseDClick(form.PanelThumb, Qt::LeftButton, {}, at);
        QTest::mouseRelease(form.PanelThumb, Qt::LeftButton, {}, at);
        QCOMPARE(form.StatusBar1->PanelText(0),
                 QString("Move the mouse over the map to read coordinates"));
        QCOMPARE(form.Viewport().ScrollX(), 1024 - 300);
    }

    void overviewPanelStaysInTheTopRightCornerAndToggles() {
        Fixture f(false);
        auto& form = f.form;
        form.setMinimumSize(0, 0);  // a map area smaller than the window allows
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

    void resizingTheWindowResizesTheView() {
        Fixture f;
        auto& form = f.form;
        form.setMinimumSize(0, 0);  // a map area smaller than the window allows
        form.resize(700, 467);
        QTRY_COMPARE(form.Viewport().ViewWidth(), 700);
        QCOMPARE(form.sboxMap->size(), QSize(700, 400));
        QCOMPARE(form.MapPicture().width(), 700);
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
