// The window on the newer stores: a GeoPackage's tile table chosen in a
// dialog (or not at all), "file#table" on the command line, and the log line
// of a ".sqlitedb" store whose declared tile size its tiles do not have.
#include <QDialog>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QtTest>

#include "geopackagewriter.h"
#include "guitest.h"
#include "sqlitedbwriter.h"
#include "tilestores.h"
#include "unitmain.h"

using namespace guitest;

namespace {

// Two pyramids of decodable tiles: "roads" at world zoom 1, "aerial" at 0.
std::string TwoTableGeoPackage(const testsupport::TempDir& dir) {
    const std::string path = dir.file("two.gpkg");
    testsupport::GeoPackageWriter w(path);
    for (const auto& [table, z] : {std::pair<std::string, int>{"roads", 1}, {"aerial", 0}}) {
        w.AddPyramid({table, table == "roads" ? "Road map" : ""});
        w.AddWorldMatrix(table, z, z);
        for (int y = 0; y < (1 << z); ++y)
            for (int x = 0; x < (1 << z); ++x)
                w.Tile(table, z, x, y,
                       teststores::SolidPng(256, 256, teststores::TileColour(z, x, y)));
    }
    return path;
}

// Answers the next table dialog: picks row (or cancels when row < 0) and
// keeps the rows it showed.
class TableDialogAnswer {
public:
    explicit TableDialogAnswer(int row) {
        QObject::connect(&poll, &QTimer::timeout, [this, row] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            auto* list = dialog ? dialog->findChild<QListWidget*>() : nullptr;
            if (list == nullptr) return;
            poll.stop();
            for (int i = 0; i < list->count(); ++i) rows << list->item(i)->text();
            if (row < 0) return dialog->reject();
            list->setCurrentRow(row);
            dialog->accept();
        });
        poll.start(10);
    }
    QStringList rows;

private:
    QTimer poll;
};

QStringList Args(const std::string& path) {
    return {"corvalis", QString::fromStdString(path)};
}

}  // namespace

class GeoPackageWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() { ClearLog(); }
    void cleanup() { ClearLog(); }

    void opensTheTableChosenInTheDialog() {
        testsupport::TempDir dir;
        const std::string path = TwoTableGeoPackage(dir);
        TFormMain form(Args(""));
        TableDialogAnswer answer(1);
        form.OpenStore(path);
        QCOMPARE(answer.rows, QStringList({"aerial", "roads    Road map"}));
        QVERIFY(form.StoreOpen());
        QCOMPARE(form.StatusBar1->PanelText(1), QString("GeoPackage tiles   256x256 tiles"));
        QCOMPARE(form.lblZoom->text(), QString("Zoom 1 / 1-1"));
        QCOMPARE(CountMessages("opened " + path +
                               "#roads  kind=GeoPackage tiles  zoom=1-1  tile=256x256  format=png"),
                 1);
        QCOMPARE(form.Session().Renderer().MissingCount(), 0);
    }

    void cancellingTheDialogOpensNothing() {
        testsupport::TempDir dir;
        const std::string first = dir.file("first.mbtiles");
        teststores::WorldStore(first, 0, 0);
        const std::string path = TwoTableGeoPackage(dir);
        TFormMain form(Args(""));
        form.OpenStore(first);
        TableDialogAnswer answer(-1);
        form.OpenStore(path);
        QCOMPARE(answer.rows.size(), 2);
        QVERIFY(form.StoreOpen());
        QCOMPARE(form.windowTitle(), QString("Corvalis  -  first.mbtiles"));
        QCOMPARE(CountMessages("opened "), 1);
    }

    void namedTableFromTheCommandLine() {
        testsupport::TempDir dir;
        const std::string path = TwoTableGeoPackage(dir) + "#aerial";
        MessageBoxCatcher boxes;
        TFormMain form(Args(path));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(boxes.texts.empty());
        QVERIFY(form.StoreOpen());
        QCOMPARE(form.windowTitle(), QString("Corvalis  -  two.gpkg#aerial"));
        QCOMPARE(form.lblZoom->text(), QString("Zoom 0 / 0-0"));
    }

    void logsATileSizeHintTheTilesDoNotHave() {
        testsupport::TempDir dir;
        const std::string path = dir.file("hint.sqlitedb");
        {
            testsupport::StoreWriter w(path, testsupport::Layout::Xyz, false);
            testsupport::WriteInfoTable(w, {{"tilenumbering", "''"}, {"tilesize", "512"}});
            w.Tile(0, 0, 0, teststores::SolidPng(256, 256, qRgb(10, 20, 30)));
        }
        TFormMain form(Args(""));
        form.OpenStore(path);
        QVERIFY(form.StoreOpen());
        QCOMPARE(CountMessages("tile size hint 512 differs from the tiles"), 1);
        QCOMPARE(form.StatusBar1->PanelText(1), QString("SQLite tiles (XYZ)   256x256 tiles"));
    }
};

QTEST_MAIN(GeoPackageWindowTest)
#include "test_geopackagewindow.moc"
