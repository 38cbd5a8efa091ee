// The main window: its look without a store, the ways of opening one, the
// status bar, failures and the letterboxed map.
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMimeData>
#include <QToolButton>
#include <QUrl>
#include <QtTest>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "guitest.h"
#include "tilestores.h"
#include "unitmain.h"

using namespace guitest;

namespace {

QStringList Args(std::initializer_list<std::string> rest) {
    QStringList list{"corvalis"};
    for (const auto& a : rest) list << QString::fromStdString(a);
    return list;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void ExpectNoStoreState(TFormMain& form) {
    QVERIFY(!form.StoreOpen());
    QCOMPARE(form.windowTitle(), QString("Corvalis"));
    QCOMPARE(form.StatusBar1->PanelText(0), QString("No file opened"));
    QCOMPARE(form.StatusBar1->PanelText(1), QString());
    QCOMPARE(form.StatusBar1->PanelText(2), QString());
    QCOMPARE(form.lblZoom->text(), QString("Zoom -"));
    QVERIFY(!form.btnZoomIn->isEnabled());
    QVERIFY(!form.btnZoomOut->isEnabled());
    QVERIFY(!form.btnOverview->isEnabled());
    QVERIFY(form.btnOpen->isEnabled());
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() { ClearLog(); }
    void cleanup() { ClearLog(); }

    void startsWithoutAFile() {
        MessageBoxCatcher boxes;
        TFormMain form(Args({}));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        ExpectNoStoreState(form);
        QCOMPARE(form.size(), QSize(980, 660));
        QCOMPARE(form.PanelTop->height(), 48);
        QCOMPARE(form.StatusBar1->height(), 19);
        QCOMPARE(form.sboxMap->size(), QSize(980, 593));
        QCOMPARE(form.imgMap->size(), QSize(980, 593));
        QCOMPARE(form.PanelEagle->geometry(), QRect(772, 8, 200, 200));
        QCOMPARE(form.btnOpen->geometry(), QRect(10, 9, 92, 30));
        QCOMPARE(form.btnOverview->geometry(), QRect(208, 9, 92, 30));
        QVERIFY(form.btnOverview->isChecked());
        QCOMPARE(form.btnZoomIn->text(), QString("+"));
        QCOMPARE(LogMessages(), std::vector<std::string>{"boot: argc=0 arg1=[]"});
        QTest::qWait(30);
        QVERIFY(boxes.texts.empty());
        QVERIFY(!form.TerminateRequested());
    }

    // The self-check opens and renders before the window is ever shown.
    void rendersAtFullSizeBeforeBeingShown() {
        testsupport::TempDir dir;
        const std::string path = dir.file("one.mbtiles");
        teststores::WorldStore(path, 0, 0);
        TFormMain form(Args({}));
        QCOMPARE(form.sboxMap->size(), QSize(980, 593));
        form.OpenStore(path);
        QVERIFY(form.StoreOpen());
        QCOMPARE(form.MapPicture().size(), QSize(980, 593));
        QCOMPARE(PixelAt(form.MapPicture(), 1, 1), 0u);
        QCOMPARE(PixelAt(form.MapPicture(), 490, 296), teststores::TileColour(0, 0, 0) & 0xFFFFFFu);
    }

    void placeholderIsTheBuiltInPicture() {
        QFile resource(":/missingtile.bmp");
        QVERIFY(resource.open(QIODevice::ReadOnly));
        const QByteArray bmp = resource.readAll();
        QVERIFY(bmp.startsWith("BM"));
        QCOMPARE(int(static_cast<uchar>(bmp[28])), 4);  // bits per pixel
        TFormMain form(Args({}));
        const QImage& tile = form.Session().Renderer().MissingTile();
        QCOMPARE(tile.size(), QSize(256, 256));
        const QRgb grey = qRgb(192, 192, 192) & 0xFFFFFFu;
        const QRgb white = 0xFFFFFFu;
        QCOMPARE(PixelAt(tile, 128, 4), grey);
        QCOMPARE(PixelAt(tile, 128, 5), white);
        QCOMPARE(PixelAt(tile, 2, 128), grey);
        QCOMPARE(PixelAt(tile, 3, 128), white);
        QCOMPARE(PixelAt(tile, 253, 128), grey);
        QCOMPARE(PixelAt(tile, 252, 128), white);
        QCOMPARE(PixelAt(tile, 128, 253), grey);
        QCOMPARE(PixelAt(tile, 128, 252), white);
    }

    void opensTheCommandLineFile() {
        testsupport::TempDir dir;
        const std::string path = dir.file("world.mbtiles");
        teststores::WorldStore(path, 0, 3);
        TFormMain form(Args({path}));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        QVERIFY(form.StoreOpen());
        QCOMPARE(form.windowTitle(), QString("Corvalis  -  world.mbtiles"));
        QCOMPARE(form.lblZoom->text(), QString("Zoom 0 / 0-3"));
        QVERIFY(form.btnZoomIn->isEnabled());
        QVERIFY(!form.btnZoomOut->isEnabled());
        QVERIFY(form.btnOverview->isEnabled());
        QCOMPARE(form.StatusBar1->PanelText(0),
                 QString("Move the mouse over the map to read coordinates"));
        QCOMPARE(form.StatusBar1->PanelText(1), QString("MBTiles   256x256 tiles"));
        QCOMPARE(form.StatusBar1->PanelText(2), QString("156543.03 m/px"));
        const auto log = LogMessages();
        QCOMPARE(log.at(0), "boot: argc=1 arg1=[" + path + "]");
        QCOMPARE(
            CountMessages("opened " + path + "  kind=MBTiles  zoom=0-3  tile=256x256  format=png"),
            1);
        QCOMPARE(CountMessages("grid z=0 cols=1 rows=1 loaded=1 reused=0 missing=0"), 1);
        QVERIFY(form.Session().OverviewPicture().Ready());

        // The pointer over the map's top-left tile corner: 980 x 593 view, 256 content.
        SendMouse(form.imgMap, QEvent::MouseMove, QPoint(362, 168), Qt::NoButton);
        QCOMPARE(form.StatusBar1->PanelText(0),
                 QString("Lon -180.00000   Lat 85.05113      z=0  x=0  y=0"));
    }

    // Reported by a box only: the log holds nothing but the boot line.
    void commandLineMistakesAreReported() {
        {
            MessageBoxCatcher boxes;
            TFormMain form(Args({"/no/such/store.mbtiles"}));
            form.show();
            QTRY_COMPARE(boxes.texts.size(), size_t(1));
            QCOMPARE(boxes.texts[0], QString("File not found:\n/no/such/store.mbtiles"));
            QCOMPARE(boxes.icons[0], QMessageBox::Critical);
            ExpectNoStoreState(form);
            QCOMPARE(LogMessages(),
                     std::vector<std::string>{"boot: argc=1 arg1=[/no/such/store.mbtiles]"});
        }
        ClearLog();
        {
            MessageBoxCatcher boxes;
            TFormMain form(Args({"a.mbtiles", "b.mbtiles"}));
            form.show();
            QTRY_COMPARE(boxes.texts.size(), size_t(1));
            QCOMPARE(boxes.texts[0],
                     QString("Too many command line arguments; only one file is accepted."));
            QCOMPARE(boxes.icons[0], QMessageBox::Warning);
            ExpectNoStoreState(form);
            QCOMPARE(LogMessages(), std::vector<std::string>{"boot: argc=2 arg1=[a.mbtiles]"});
        }
    }

    void dropOpensTheFirstFile() {
        testsupport::TempDir dir;
        std::vector<std::string> paths;
        for (const char* name : {"first.mbtiles", "second.mbtiles", "third.mbtiles"}) {
            paths.push_back(dir.file(name));
            teststores::WorldStore(paths.back(), 0, 0);
        }
        TFormMain form(Args({}));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(paths[0])),
                      QUrl::fromLocalFile(QString::fromStdString(paths[1])),
                      QUrl::fromLocalFile(QString::fromStdString(paths[2]))});
        const QPointF at = form.imgMap->mapTo(&form, QPointF(100, 100));
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &drop);
        QVERIFY(drop.isAccepted());

        QTRY_VERIFY(form.StoreOpen());
        QCOMPARE(form.windowTitle(), QString("Corvalis  -  first.mbtiles"));
        QCOMPARE(CountMessages("opened "), 1);
        QCOMPARE(CountMessages("opened " + paths[0]), 1);
    }

    void openDialogOffersTileStores() {
        testsupport::TempDir dir;
        const std::string path = dir.file("picked.mbtiles");
        teststores::WorldStore(path, 0, 0);
        TFormMain form(Args({}));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QString title;
        QStringList filters;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) return;
            poll.stop();
            title = dialog->windowTitle();
            filters = dialog->nameFilters();
            dialog->selectFile(QString::fromStdString(path));
            static_cast<QDialog*>(dialog)->accept();
        });
        poll.start(10);
        QTest::mouseClick(form.btnOpen, Qt::LeftButton);
        QCOMPARE(title, QString("Open offline tile store"));
        QCOMPARE(filters,
                 QStringList({"Tile stores (*.mbtiles *.sqlitedb *.db *.gpkg *.pmtiles)",
                              "MBTiles (*.mbtiles)", "SQLite (*.sqlitedb *.db)",
                              "GeoPackage (*.gpkg)", "PMTiles (*.pmtiles)", "All files (*)"}));
        QVERIFY(form.StoreOpen());
        QCOMPARE(form.windowTitle(), QString("Corvalis  -  picked.mbtiles"));
    }

    void failedOpenReturnsToTheNoStoreState() {
        testsupport::TempDir dir;
        const std::string good = dir.file("good.mbtiles");
        teststores::WorldStore(good, 0, 1);
        const std::string bad = dir.file("notastore.mbtiles");
        std::ofstream(bad) << "this is not a database";
        TFormMain form(Args({good}));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(form.StoreOpen());
        form.PanelThumb->repaint();
        QCOMPARE(form.Session().OverviewBox(), (corvalis::ThumbBox{0, 0, 200, 200}));

        MessageBoxCatcher boxes;
        bool shownWhileBoxOpen = true;
        boxes.onBox = [&] { shownWhileBoxOpen = form.StoreOpen(); };
        form.OpenStore(bad);
        QVERIFY(!shownWhileBoxOpen);
        QCOMPARE(boxes.texts.size(), size_t(1));
        QVERIFY(boxes.texts[0].startsWith("Cannot open this tile store:\n"));
        QCOMPARE(boxes.icons[0], QMessageBox::Critical);
        ExpectNoStoreState(form);
        QCOMPARE(form.MapPicture().size(), QSize(1, 1));
        QCOMPARE(PixelAt(form.MapPicture(), 0, 0), 0u);
        QVERIFY(!form.Session().OverviewPicture().Ready());
        QCOMPARE(form.Session().OverviewBox(), corvalis::ThumbBox{});
        QCOMPARE(CountMessages("open failed: "), 1);
        QCOMPARE(CountMessages("open failed: " + bad + " / "), 1);
        // The map area shows nothing of the old store.
        const QImage shown = form.sboxMap->grab().toImage();
        QCOMPARE(PixelAt(shown, 300, 300), 0u);
        QCOMPARE(PixelAt(shown, shown.width() / 2, shown.height() / 2), 0u);
    }

    void switchingStoresLeavesNothingOfTheFirst() {
        testsupport::TempDir dir;
        const std::string first = dir.file("first.mbtiles");
        const std::string second = dir.file("second.mbtiles");
        teststores::WorldStore(first, 0, 3);
        teststores::WorldStore(second, 1, 2, 512, 100);
        TFormMain form(Args({first}));
        form.resize(600, 400 + 48 + 19);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.btnZoomInClick();

        ClearLog();
        form.OpenStore(second);
        QCOMPARE(form.windowTitle(), QString("Corvalis  -  second.mbtiles"));
        QCOMPARE(form.lblZoom->text(), QString("Zoom 1 / 1-2"));
        QCOMPARE(form.StatusBar1->PanelText(1), QString("MBTiles   512x512 tiles"));
        QCOMPARE(form.Viewport().Zoom(), 1);
        QCOMPARE(form.Session().Renderer().ReusedCount(), 0);
        QCOMPARE(CountMessages("grid z=1 cols=2 rows=2 loaded=4 reused=0 missing=0"), 1);
        const QImage& view = form.MapPicture();
        for (int y = 0; y < view.height(); y += 13)
            for (int x = 0; x < view.width(); x += 17)
                QVERIFY2(qRed(view.pixel(x, y)) >= 160, "a pixel of the first store is shown");
        form.btnZoomOutClick();  // no level below 1 in the second store
        QCOMPARE(form.Viewport().Zoom(), 1);
        form.btnZoomInClick();
        form.btnZoomInClick();
        QCOMPARE(form.Viewport().Zoom(), 2);
    }

    void localGridWithoutSidecarShowsNoCoordinates() {
        testsupport::TempDir dir;
        const std::string path = dir.file("area.oruxmapsimages.db");
        {
            testsupport::StoreWriter writer(path, testsupport::Layout::Xyz);
            for (int x = 0; x < 2; ++x)
                for (int y = 0; y < 2; ++y)
                    writer.Tile(2, x, y, teststores::SolidPng(256, 256, qRgb(200, 100, 50)));
        }
        TFormMain form(Args({path}));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(form.StoreOpen());
        const QString local("Local tile grid - lon/lat unavailable (missing .omm)");
        QCOMPARE(form.StatusBar1->PanelText(0), local);
        QCOMPARE(form.StatusBar1->PanelText(1), QString("SQLite tiles (XYZ)   256x256 tiles"));
        QCOMPARE(form.StatusBar1->PanelText(2), QString("m/px -"));
        SendMouse(form.imgMap, QEvent::MouseMove, QPoint(500, 300), Qt::NoButton);
        QCOMPARE(form.StatusBar1->PanelText(0), local);
    }

    void oneTileIsLetterboxedInTheView() {
        testsupport::TempDir dir;
        const std::string path = dir.file("one.mbtiles");
        teststores::WorldStore(path, 0, 0);
        TFormMain form(Args({}));
        form.resize(800, 600 + 48 + 19);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.sboxMap->size(), QSize(800, 600));
        form.OpenStore(path);

        const QImage& view = form.MapPicture();
        QCOMPARE(view.size(), QSize(800, 600));
        for (QPoint p : {QPoint(1, 1), QPoint(798, 1), QPoint(1, 598), QPoint(798, 598),
                         QPoint(271, 172), QPoint(528, 427)})
            QCOMPARE(PixelAt(view, p.x(), p.y()), 0u);
        const QRgb tile = teststores::TileColour(0, 0, 0) & 0xFFFFFFu;
        QCOMPARE(PixelAt(view, 272, 172), tile);
        QCOMPARE(PixelAt(view, 527, 427), tile);
        QCOMPARE(LogMessages().back(), "grid z=0 cols=1 rows=1 loaded=1 reused=0 missing=0");
        // What the widget really shows.
        const QImage shown = form.imgMap->grab().toImage();
        QCOMPARE(PixelAt(shown, 400, 300), tile);
        QCOMPARE(PixelAt(shown, 100, 100), 0u);
    }

    void absentTilesShowThePlaceholder() {
        testsupport::TempDir dir;
        const std::string path = dir.file("holes.mbtiles");
        {
            testsupport::StoreWriter writer(path, testsupport::Layout::MBTiles);
            writer.Tile(1, 0, 1, teststores::SolidPng(256, 256, qRgb(200, 10, 10)));
            writer.Tile(1, 1, 1, testsupport::Blob(1, 1, 0));
            writer.Tile(1, 1, 0, teststores::SolidPng(256, 256, qRgb(10, 200, 10)));
        }
        TFormMain form(Args({path}));
        form.resize(512, 512 + 48 + 19);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.Session().Renderer().LoadedCount(), 2);
        QCOMPARE(form.Session().Renderer().MissingCount(), 2);
        const QImage& view = form.MapPicture();
        QCOMPARE(view.copy(256, 0, 256, 256), form.Session().Renderer().MissingTile());
        QCOMPARE(view.copy(0, 256, 256, 256), form.Session().Renderer().MissingTile());
        QCOMPARE(LogMessages().back(), "grid z=1 cols=2 rows=2 loaded=2 reused=0 missing=2");
    }

    // A store whose tiles table has no index opens and shows as usual; the log
    // says once, right after the "opened" line, why reading it is slow.
    void storeWithoutIndexIsLoggedAsSlow() {
        testsupport::TempDir dir;
        const std::string slow = dir.file("slow.sqlitedb.db");
        {
            testsupport::StoreWriter writer(slow, testsupport::Layout::None);
            writer.Exec("CREATE TABLE tiles (x int, y int, z int, s int, image blob);");
            writer.Tile(0, 0, 0, teststores::SolidPng(256, 256, qRgb(30, 60, 90)));
        }
        const std::string indexed = dir.file("indexed.mbtiles");
        teststores::WorldStore(indexed, 0, 1);

        TFormMain form(Args({slow}));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(form.StoreOpen());
        QCOMPARE(form.Session().Renderer().LoadedCount(), 1);
        auto log = LogMessages();
        const auto opened = std::find_if(log.begin(), log.end(), [](const std::string& m) {
            return m.rfind("opened ", 0) == 0;
        });
        QVERIFY(opened != log.end() && opened + 1 != log.end());
        QCOMPARE(*(opened + 1), std::string("slow store: no tile index"));
        QCOMPARE(CountMessages("slow store"), 1);

        form.OpenStore(indexed);
        QVERIFY(form.StoreOpen());
        QCOMPARE(CountMessages("opened "), 2);
        QCOMPARE(CountMessages("slow store"), 1);
    }

    void browsingLeavesTheStoreFileAlone() {
        testsupport::TempDir dir;
        const std::string path = dir.file("keep.mbtiles");
        teststores::WorldStore(path, 0, 3);
        const std::string bytes = ReadAll(path);
        const auto mtime = std::filesystem::last_write_time(path);
        {
            TFormMain form(Args({path}));
            form.resize(600, 467);
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            form.btnZoomInClick();
            form.btnZoomInClick();
            SendKey(&form, Qt::Key_Left);
            SendKey(&form, Qt::Key_Down);
            form.OpenStore(path);  // the same file again
            form.btnZoomInClick();
        }
        QCOMPARE(ReadAll(path), bytes);
        QVERIFY(std::filesystem::last_write_time(path) == mtime);
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            QCOMPARE(entry.path().filename().string(), std::string("keep.mbtiles"));
    }
};

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
