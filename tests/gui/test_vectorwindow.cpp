// The window on the generator's vector store: the kind panel, the Layers
// button and its legend (hiding a layer redraws the map), the tooltip under
// the pointer, and a raster store taking the legend away.
#include <QToolButton>
#include <QToolTip>
#include <QtTest>

#include "guitest.h"
#include "layerspanel.h"
#include "storewriter.h"
#include "unitmain.h"

using namespace guitest;

namespace {

const std::string kFixtures = CORVALIS_FIXTURE_DIR;

}  // namespace

class VectorWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() { ClearLog(); }
    void cleanup() { ClearLog(); }

    void legendListsTheLayersAndHidesOne() {
        TFormMain form(QStringList{"corvalis"});
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.OpenStore(kFixtures + "/vector.mbtiles");
        QVERIFY(form.StoreOpen());
        QCOMPARE(form.StatusBar1->PanelText(1), QString("MBTiles   vector tiles"));
        QVERIFY(form.btnLayers->isEnabled());
        QVERIFY(form.PanelLayers->isHidden());
        form.btnLayers->click();
        QVERIFY(form.btnLayers->isChecked());
        QVERIFY(!form.PanelLayers->isHidden());
        QStringList rows;
        for (int i = 0; i < form.PanelLayers->count(); ++i)
            rows << form.PanelLayers->item(i)->text();
        QCOMPARE(rows, QStringList({"land", "coastline", "graticule", "roads", "places"}));
        const QImage before = form.MapPicture().copy();
        const int grids = GridLines();
        QListWidgetItem* graticule = form.PanelLayers->item(2);
        QTest::mouseClick(form.PanelLayers->viewport(), Qt::LeftButton, {},
                          form.PanelLayers->visualItemRect(graticule).center());
        QCOMPARE(form.PanelLayers->item(2)->checkState(), Qt::Unchecked);
        QCOMPARE(GridLines(), grids + 1);  // a forced redraw
        QVERIFY(form.MapPicture() != before);
        form.btnLayers->click();
        QVERIFY(form.PanelLayers->isHidden());
    }

    void tooltipShowsTheFeatureUnderThePointer() {
        TFormMain form(QStringList{"corvalis"});
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.OpenStore(kFixtures + "/vector.pmtiles");
        QVERIFY(form.StoreOpen());
        // A point of the map over some feature, found through the session.
        QPoint at(-1, -1);
        std::string expected;
        for (int y = 4; y < form.imgMap->height() && expected.empty(); y += 7)
            for (int x = 4; x < form.imgMap->width() && expected.empty(); x += 7)
                if (!(expected = form.Session().HoverText(x, y)).empty()) at = QPoint(x, y);
        QVERIFY(!expected.empty());
        QCOMPARE(expected.find('\n') != std::string::npos, true);
        SendMouse(form.imgMap, QEvent::MouseMove, at, Qt::NoButton);
        QTRY_COMPARE(QToolTip::text(), QString::fromStdString(expected));
    }

    void aRasterStoreTakesTheLegendAway() {
        TFormMain form(QStringList{"corvalis"});
        form.OpenStore(kFixtures + "/vector.mbtiles");
        form.btnLayers->click();
        QVERIFY(!form.PanelLayers->isHidden());
        form.OpenStore(kFixtures + "/reference.mbtiles");
        QVERIFY(!form.btnLayers->isEnabled());
        QVERIFY(form.PanelLayers->isHidden());
        QVERIFY(!form.btnLayers->isChecked());
    }
};

QTEST_MAIN(VectorWindowTest)
#include "test_vectorwindow.moc"
