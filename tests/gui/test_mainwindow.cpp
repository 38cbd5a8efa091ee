// The main window: its look without a store, the ways of opening one, what it
// shows of the session, failures and the map area's picture.
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMimeData>
#include <QToolButton>
#include <QUrl>
#include <QtTest>

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
        const QRgb tile = teststores::TileColour(0, 0, 0) & 0xFFFFFFu;
        QCOMPARE(PixelAt(form.MapPicture(), 490, 296), tile);
        // Shown, the widget draws that picture.
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QImage shown = form.imgMap->grab().toImage();
        QCOMPARE(PixelAt(shown, 490, 296), tile);
        QCOMPARE(PixelAt(shown, 100, 100), 0u);
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
        // The status bar and the zoom label show the session's texts.
        const auto texts = form.Session().StatusTexts();
        for (int i = 0; i < 3; ++i)
            QCOMPARE(form.StatusBar1->PanelText(i), QString::fromStdString(texts[i]));
        QCOMPARE(LogMessages().at(0), "boot: argc=1 arg1=[" + path + "]");

        const std::string second = dir.file("second.mbtiles");
        teststores::WorldStore(second, 1, 2);
        form.OpenStore(second);
        QCOMPARE(form.windowTitle(), QString("Corvalis  -  second.mbtiles"));
        QCOMPARE(form.lblZoom->text(), QString("Zoom 1 / 1-2"));

        // A name's control characters are shown as escapes, never sent raw.
        const std::string hostile = dir.file("t\x1b]0;x\x07.mbtiles");
        teststores::WorldStore(hostile, 0, 1);
        form.OpenStore(hostile);
        QCOMPARE(form.windowTitle(), QString("Corvalis  -  t\\x1b]0;x\\x07.mbtiles"));
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
            QWidget* modal = QApplication::activeModalWidget();
            // Tried again on the next tick while the dialog stays open: under
            // load its file list may not be read yet when it is first accepted,
            // and it says so in a box of its own.
            if (auto* box = qobject_cast<QMessageBox*>(modal)) return box->done(QMessageBox::Ok);
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            if (dialog == nullptr) return;
            title = dialog->windowTitle();
            filters = dialog->nameFilters();
            // The dialog leaves a name field that has the focus as it is.
            if (QWidget* focused = dialog->focusWidget()) focused->clearFocus();
            dialog->selectFile(QString::fromStdString(path));
            static_cast<QDialog*>(dialog)->accept();
        });
        poll.start(10);
        QTest::mouseClick(form.btnOpen, Qt::LeftButton);
        poll.stop();
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

        MessageBoxCatcher boxes;
        bool shownWhileBoxOpen = true;
        boxes.onBox = [&] { shownWhileBoxOpen = form.StoreOpen(); };
        form.OpenStore(bad);
        QVERIFY(!shownWhileBoxOpen);
        QCOMPARE(boxes.texts.size(), size_t(1));
        QVERIFY(boxes.texts[0].startsWith("Cannot open this tile store:\n"));
        QCOMPARE(boxes.icons[0], QMessageBox::Critical);
        ExpectNoStoreState(form);
        // The map area shows nothing of the old store.
        const QImage shown = form.sboxMap->grab().toImage();
        QCOMPARE(PixelAt(shown, 300, 300), 0u);
        QCOMPARE(PixelAt(shown, shown.width() / 2, shown.height() / 2), 0u);
    }
};

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
