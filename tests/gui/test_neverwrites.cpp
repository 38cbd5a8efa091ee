// The self-check, run through the window as "--selftest" runs it, never
// writes a store: the reference store and the Orux store beside it keep their
// bytes and modification times, and nothing is added beside them. (Browsing
// every layout is checked on the map session, in test_mapsession.)
#include <QtTest>

#include "filesnapshot.h"
#include "guitest.h"
#include "selfcheck.h"
#include "storewriter.h"
#include "unitmain.h"

class NeverWritesTest : public QObject {
    Q_OBJECT

private slots:
    void init() { guitest::ClearLog(); }
    void cleanup() { guitest::ClearLog(); }

    void selfCheckLeavesTheStoresAsTheyWere() {
        testsupport::TempDir dir;
        for (const char* name : {"reference.mbtiles", "test_orux.db", "test_orux.omm"})
            testsupport::CopyFixture(name, dir.path());
        testsupport::AgeFiles(dir.path());
        const auto before = testsupport::Snapshot(dir.path());
        {
            TFormMain form(QStringList{"corvalis"});
            QCOMPARE(RunSelfCheck(
                         form.Session(), [&form](const std::string& p) { form.OpenStore(p); },
                         dir.file("reference.mbtiles")),
                     0);
        }
        QVERIFY(testsupport::Snapshot(dir.path()) == before);
    }
};

QTEST_MAIN(NeverWritesTest)
#include "test_neverwrites.moc"
