// The icons drawn at build time reach the program: every bundled name has its
// sizes as pictures of those sizes, and the theme's icon wins where it has one.
#include <QtTest>

#include "appicons.h"

class AppIconsTest : public QObject {
    Q_OBJECT

private slots:
    void bundledIconsHaveEverySize_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QList<int>>("sizes");
        const QList<int> buttons{16, 22, 24, 32, 48, 64};
        for (const char* name : {"document-open", "zoom-in", "zoom-out", "overview", "layers"})
            QTest::newRow(name) << QString::fromLatin1(name) << buttons;
        QTest::newRow("corvalis") << QStringLiteral("corvalis")
                                  << QList<int>{16, 22, 24, 32, 48, 64, 128, 256};
    }
    void bundledIconsHaveEverySize() {
        QFETCH(QString, name);
        QFETCH(QList<int>, sizes);
        const QIcon icon = corvalis::BundledIcon(name);
        QList<int> found;
        for (const QSize& size : icon.availableSizes()) {
            QCOMPARE(size.width(), size.height());
            found.append(size.width());
        }
        std::sort(found.begin(), found.end());
        QCOMPARE(found, sizes);
        // Drawn, not blank: the middle of the picture is not transparent.
        const QImage picture = icon.pixmap(QSize(48, 48)).toImage();
        QVERIFY(qAlpha(picture.pixel(24, 24)) > 0);
    }

    void unknownNameIsNull() { QVERIFY(corvalis::BundledIcon(QStringLiteral("no-such")).isNull()); }

    void applicationIconFallsBackToBundled() {
        QIcon::setThemeSearchPaths({});
        QVERIFY(!corvalis::ApplicationIcon().isNull());
        QCOMPARE(corvalis::ApplicationIcon().availableSizes().size(), 8);
    }
};

QTEST_MAIN(AppIconsTest)
#include "test_appicons.moc"
