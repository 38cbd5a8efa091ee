// The window's shortcuts, button looks, smallest size and map cursor.
#include <QFileDialog>
#include <QLabel>
#include <QToolButton>
#include <QtTest>

#include "formlayout.h"
#include "guitest.h"
#include "tilestores.h"
#include "unitmain.h"

using namespace guitest;

class FormActionsTest : public QObject {
    Q_OBJECT

private slots:
    void init() { ClearLog(); }
    void cleanup() { ClearLog(); }

    void ctrlOOpensTheFileDialog() {
        TFormMain form(QStringList{"corvalis"});
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));

        bool dialogSeen = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                dialogSeen = true;
                dialog->reject();
            }
        });
        poll.start(10);
        QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
        poll.stop();
        QVERIFY(dialogSeen);
    }

    void shortcutsCloseQuitAndGoFullScreenArrowsStillPan() {
        testsupport::TempDir dir;
        const std::string path = dir.file("w.mbtiles");
        teststores::WorldStore(path, 0, 2);
        TFormMain form(QStringList{"corvalis"});
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.OpenStore(path);
        QVERIFY(form.StoreOpen());
        form.btnZoomInClick();
        form.btnZoomInClick();
        QVERIFY2(SendKey(&form, Qt::Key_Left), "the arrows still pan");
        QTest::keyClick(&form, Qt::Key_W, Qt::ControlModifier);
        QVERIFY(!form.StoreOpen());
        QCOMPARE(form.StatusBar1->PanelText(0), QString("No file opened"));
        QCOMPARE(form.windowTitle(), QString("Corvalis"));

        QTest::keyClick(&form, Qt::Key_F11);
        QVERIFY(form.windowState() & Qt::WindowFullScreen);
        QTest::keyClick(&form, Qt::Key_F11);
        QVERIFY(!(form.windowState() & Qt::WindowFullScreen));
        QTest::keyClick(&form, Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!form.isVisible());
    }

    void buttonsCarryIconsCaptionsAndToolTips() {
        TFormMain form(QStringList{"corvalis"});
        const std::pair<QToolButton*, QString> buttons[] = {{form.btnOpen, "Open..."},
                                                            {form.btnZoomOut, "-"},
                                                            {form.btnZoomIn, "+"},
                                                            {form.btnOverview, "Overview"},
                                                            {form.btnLayers, "Layers"}};
        for (const auto& [button, caption] : buttons) {
            QCOMPARE(button->text(), caption);
            QVERIFY(!button->icon().isNull());
            QVERIFY(!button->toolTip().isEmpty());
        }
        QVERIFY(form.btnOpen->toolTip().contains("Ctrl+O"));
    }

    void smallestWindowShowsTheTopPanelAndTheStatusBarWhole() {
        TFormMain form(QStringList{"corvalis"});
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.resize(150, 80);
        QTRY_COMPARE(form.size(), kFormMinimumSize);
        form.lblZoom->setText("Zoom 31 / 0-31");
        form.lblZoom->adjustSize();
        QVERIFY(form.lblZoom->geometry().right() < form.PanelTop->width());
        QVERIFY(form.StatusBar1->width() >= 420 + 380 + 160);
    }

    // The hand shows over content that can be dragged; zooming out until the
    // content fits takes it away at once, not at the next click.
    void handCursorGoesOnceTheContentFits() {
        testsupport::TempDir dir;
        const std::string path = dir.file("w.mbtiles");
        teststores::WorldStore(path, 0, 3);
        TFormMain form(QStringList{"corvalis"});
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.OpenStore(path);
        while (form.btnZoomIn->isEnabled()) form.btnZoomInClick();
        SendMouse(form.imgMap, QEvent::MouseButtonPress, QPoint(50, 50));
        SendMouse(form.imgMap, QEvent::MouseButtonRelease, QPoint(50, 50));
        QCOMPARE(form.imgMap->cursor().shape(), Qt::PointingHandCursor);
        while (form.btnZoomOut->isEnabled()) form.btnZoomOutClick();
        QVERIFY(form.Viewport().ContentFitsView());
        QCOMPARE(form.imgMap->cursor().shape(), Qt::ArrowCursor);
    }
};

QTEST_MAIN(FormActionsTest)
#include "test_formactions.moc"
