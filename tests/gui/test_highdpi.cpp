// On a screen with two device pixels per logical pixel the map is drawn in
// device pixels: one tile pixel per screen pixel, and pointer positions are
// converted to that grid.
#include <QtTest>

#include "guitest.h"
#include "tilestores.h"
#include "unitmain.h"

using namespace guitest;

namespace {

// Set before QTEST_MAIN creates the application.
const bool kScaled = qputenv("QT_SCALE_FACTOR", "2");

}  // namespace

class HighDpiTest : public QObject {
    Q_OBJECT

private slots:
    void init() { ClearLog(); }
    void cleanup() { ClearLog(); }

    void mapIsDrawnInDevicePixels() {
        QVERIFY(kScaled);
        testsupport::TempDir dir;
        const std::string path = dir.file("world.mbtiles");
        teststores::WorldStore(path, 0, 2);
        TFormMain form(QStringList{"corvalis"});
        form.setMinimumSize(0, 0);  // a map area smaller than the window allows
        form.resize(300, 200 + 48 + 19);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.sboxMap->devicePixelRatioF(), 2.0);
        QCOMPARE(form.sboxMap->size(), QSize(300, 200));
        form.OpenStore(path);

        // 600 x 400 device pixels; the 256-pixel tile is letterboxed at (172, 72).
        QCOMPARE(form.Viewport().ViewWidth(), 600);
        QCOMPARE(form.Viewport().ViewHeight(), 400);
        QCOMPARE(form.MapPicture().size(), QSize(600, 400));
        QCOMPARE(LogMessages().back(), "grid z=0 cols=1 rows=1 loaded=1 reused=0 missing=0");
        const QRgb tile = teststores::TileColour(0, 0, 0) & 0xFFFFFFu;
        const QImage shown = form.imgMap->grab().toImage();
        QCOMPARE(shown.size(), QSize(600, 400));
        QCOMPARE(PixelAt(shown, 172, 72), tile);
        QCOMPARE(PixelAt(shown, 427, 327), tile);
        QCOMPARE(PixelAt(shown, 171, 72), 0u);
        QCOMPARE(PixelAt(shown, 428, 327), 0u);

        // Logical (86, 36) is device (172, 72): the tile's top-left corner.
        SendMouse(form.imgMap, QEvent::MouseMove, QPoint(86, 36), Qt::NoButton);
        QCOMPARE(form.StatusBar1->PanelText(0),
                 QString("Lon -180.00000   Lat 85.05113      z=0  x=0  y=0"));

        // A drag of 10 logical pixels pans 20 view pixels.
        form.btnZoomInClick();
        form.btnZoomInClick();  // 1024 x 1024 content
        const int before = form.Viewport().ScrollY();
        SendMouse(form.imgMap, QEvent::MouseButtonPress, QPoint(150, 100));
        SendMouse(form.imgMap, QEvent::MouseMove, QPoint(150, 90));
        SendMouse(form.imgMap, QEvent::MouseButtonRelease, QPoint(150, 90));
        QCOMPARE(form.Viewport().ScrollY(), before + 20);
    }
};

QTEST_MAIN(HighDpiTest)
#include "test_highdpi.moc"
