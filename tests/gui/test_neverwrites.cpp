// The viewer never writes a store: after opening each layout, browsing every
// zoom level, the information report and the self-check, every store file has
// its bytes and modification time, and nothing was added beside it (but
// SQLite's shared-memory and empty log files beside a WAL-mode store, which
// every reader of such a store makes in a folder it can write).
#include <QtTest>

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "guitest.h"
#include "inforeport.h"
#include "selfcheck.h"
#include "tilestores.h"
#include "unitmain.h"

using namespace guitest;
namespace fs = std::filesystem;

namespace {

struct FileState {
    std::string bytes;
    fs::file_time_type time;
    bool operator==(const FileState&) const = default;
};

std::map<std::string, FileState> Snapshot(const fs::path& dir) {
    std::map<std::string, FileState> files;
    for (const auto& e : fs::directory_iterator(dir)) {
        std::ifstream in(e.path(), std::ios::binary);
        files[e.path().filename().string()] = {
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
            fs::last_write_time(e.path())};
    }
    return files;
}

void Copy(const std::string& name, const fs::path& to) {
    fs::copy_file(fs::path(CORVALIS_FIXTURE_DIR) / name, to / name);
}

// An XYZ-layout store (stored zoom 17 - z when reversed) over levels 0..2.
void XyzStore(const std::string& path, bool reversed) {
    testsupport::StoreWriter w(path, testsupport::Layout::Xyz);
    w.Exec("BEGIN;");
    for (int z = 0; z <= 2; ++z)
        for (int y = 0; y < (1 << z); ++y)
            for (int x = 0; x < (1 << z); ++x)
                w.Tile(reversed ? 17 - z : z, x, y,
                       teststores::SolidPng(256, 256, teststores::TileColour(z, x, y)));
    w.Exec("COMMIT;");
}

void SwitchToWal(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

}  // namespace

class NeverWritesTest : public QObject {
    Q_OBJECT

private slots:
    void init() { ClearLog(); }
    void cleanup() { ClearLog(); }

    void storesOfEveryLayoutAreLeftAsTheyWere() {
        testsupport::TempDir dir;
        const fs::path folder = dir.path();
        Copy("reference.mbtiles", folder);
        Copy("test_orux.db", folder);
        Copy("test_orux.omm", folder);
        XyzStore((folder / "xyz.db").string(), false);
        XyzStore((folder / "reversed.sqlitedb").string(), true);
        Copy("sample.mbtiles", folder);
        fs::rename(folder / "sample.mbtiles", folder / "wal.mbtiles");
        SwitchToWal((folder / "wal.mbtiles").string());
        QVERIFY(!fs::exists(folder / "wal.mbtiles-wal"));
        for (const auto& e : fs::directory_iterator(folder))
            fs::last_write_time(e.path(),
                                fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
        const auto before = Snapshot(folder);

        {
            TFormMain form(QStringList{"corvalis"});
            form.resize(700, 500);
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            for (const char* name : {"reference.mbtiles", "test_orux.db", "xyz.db",
                                     "reversed.sqlitedb", "wal.mbtiles"}) {
                const std::string path = (folder / name).string();
                form.OpenStore(path);
                QVERIFY2(form.StoreOpen(), name);
                // Every level, panning about at each.
                do {
                    for (int key :
                         {Qt::Key_Left, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down, Qt::Key_Right})
                        for (int i = 0; i < 5; ++i) form.FormKeyDown(key);
                    form.CenterOnOverviewPoint(10, 10);
                } while (form.Viewport().ZoomIn() && (form.RenderMap(true), true));
                QVERIFY2(form.Session().Renderer().LoadedCount() > 0, name);
                corvalis::RunInfoReport(path);
            }
            QCOMPARE(RunSelfCheck(
                         form.Session(), [&form](const std::string& p) { form.OpenStore(p); },
                         (folder / "reference.mbtiles").string()),
                     0);
        }

        const auto after = Snapshot(folder);
        for (const auto& [name, state] : before) {
            QVERIFY2(after.count(name) == 1, name.c_str());
            QVERIFY2(after.at(name).bytes == state.bytes, (name + ": bytes changed").c_str());
            QVERIFY2(after.at(name).time == state.time,
                     (name + ": modification time changed").c_str());
        }
        for (const auto& [name, state] : after) {
            if (before.count(name)) continue;
            QVERIFY2(
                name == "wal.mbtiles-shm" || (name == "wal.mbtiles-wal" && state.bytes.empty()),
                ("added beside the stores: " + name).c_str());
        }
    }
};

QTEST_MAIN(NeverWritesTest)
#include "test_neverwrites.moc"
