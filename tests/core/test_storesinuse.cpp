// Stores that another process holds, writes, truncates or deletes while the
// viewer reads them: reads give missing tiles at worst, never a crash or hang.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "storewriter.h"
#include "tilesource.h"
#include "watchdog.h"

using corvalis::TileDatabase;
using testsupport::Blob;
using testsupport::Layout;
using testsupport::StoreWriter;
using testsupport::TempDir;
using testsupport::Watchdog;

namespace {

// Full world at levels 0..z1, tagged tiles, MBTiles layout.
std::string WriteWorld(const TempDir& dir, const std::string& name, int z1,
                       const char* journal = "DELETE") {
    const std::string path = dir.file(name);
    StoreWriter w(path, Layout::MBTiles);
    w.Exec(std::string("PRAGMA journal_mode=") + journal + ";");
    w.FullWorld(0, z1, [](int z, std::int64_t x, std::int64_t y) {
        // Large enough to spread the tiles over many pages.
        testsupport::Bytes b = Blob(z, x, y);
        b.resize(3000, static_cast<std::uint8_t>(x + y));
        return b;
    });
    return path;
}

std::string Read(TileDatabase& db, int z, int x, int y) {
    const std::uint8_t* data = nullptr;
    std::int32_t count = 0;
    if (!db.ReadTile(z, x, y, data, count)) return "<none>";
    return std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count));
}

// Reads every tile of levels 0..z1; counts those found.
int ReadAll(TileDatabase& db, int z1) {
    int found = 0;
    for (int z = 0; z <= z1; ++z)
        for (int y = 0; y < (1 << z); ++y)
            for (int x = 0; x < (1 << z); ++x) found += Read(db, z, x, y) != "<none>";
    return found;
}

// The sqlite3 shell in a process of its own, fed commands through a pipe.
class OtherProcess {
public:
    explicit OtherProcess(const std::string& path) {
        int fds[2];
        if (pipe(fds) != 0) throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[0], 0);
            close(fds[0]);
            if (FILE* quiet = std::freopen("/dev/null", "w", stdout)) (void)quiet;
            close(fds[1]);
            execlp("sqlite3", "sqlite3", "-batch", path.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[0]);
        in_ = fdopen(fds[1], "w");
    }
    ~OtherProcess() { Finish(); }
    OtherProcess(const OtherProcess&) = delete;
    OtherProcess& operator=(const OtherProcess&) = delete;

    void Send(const std::string& sql) {
        std::fputs(sql.c_str(), in_);
        std::fflush(in_);
    }
    // Closes its input and waits for it; its exit status.
    int Finish() {
        if (in_ != nullptr) std::fclose(in_);
        in_ = nullptr;
        int status = 0;
        if (pid_ > 0) waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }
    bool Running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

private:
    pid_t pid_ = -1;
    FILE* in_ = nullptr;
};

// True once a reader that does not wait meets a lock on the file.
bool LockedByOther(const std::string& path) {
    const auto probe = testsupport::OpenConnection(path, SQLITE_OPEN_READONLY);
    return probe && sqlite3_exec(probe.get(), "select count(*) from tiles;", nullptr, nullptr,
                                 nullptr) == SQLITE_BUSY;
}

TEST(StoreInUse, WriteLockCostsOneBusyWaitThenMissingTilesUntilReleased) {
    TempDir dir;
    const std::string path = WriteWorld(dir, "locked.mbtiles", 3);
    TileDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(path, error)) << error;
    ASSERT_EQ(Read(db, 1, 1, 1).substr(0, 10), "tile 1/1/1");

    OtherProcess writer(path);
    writer.Send("BEGIN EXCLUSIVE;\nUPDATE tiles SET tile_data = x'00' WHERE zoom_level = 0;\n");
    for (int i = 0; i < 500 && !LockedByOther(path); ++i) usleep(10000);
    ASSERT_TRUE(LockedByOther(path)) << "the other process never took its lock";
    {
        // Waiting 2 s for each of these would take 40 s.
        Watchdog watchdog("twenty reads of a locked store", std::chrono::seconds(30));
        for (int i = 0; i < 20; ++i) EXPECT_EQ(Read(db, 2, i % 4, i / 4 % 4), "<none>");
        // So do the reads of a frame, which share one read transaction.
        const TileDatabase::ReadBatch batch(db);
        for (int i = 0; i < 20; ++i) EXPECT_EQ(Read(db, 3, i % 8, i / 8), "<none>");
        // Opening it meanwhile names the lock, not a missing table.
        TileDatabase second;
        EXPECT_FALSE(second.Open(path, error));
        EXPECT_EQ(error, "cannot open database: database is locked");
    }
    writer.Send("ROLLBACK;\n");
    EXPECT_EQ(writer.Finish(), 0);
    EXPECT_EQ(Read(db, 1, 1, 1).substr(0, 10), "tile 1/1/1");
    EXPECT_EQ(ReadAll(db, 3), 85);
}

// Runs sql on a connection of its own that does not wait for locks.
int ExecElsewhere(const std::string& path, const std::string& sql) {
    const auto other = testsupport::OpenConnection(path);
    return other ? sqlite3_exec(other.get(), sql.c_str(), nullptr, nullptr, nullptr)
                 : SQLITE_CANTOPEN;
}

TEST(StoreInUse, ReadBatchReadsOneSnapshotAndReleasesItsLock) {
    TempDir dir;
    const std::string wal = WriteWorld(dir, "batch.db", 2, "WAL");
    TileDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(wal, error)) << error;
    {
        const TileDatabase::ReadBatch batch(db);
        EXPECT_EQ(Read(db, 1, 1, 1).substr(0, 10), "tile 1/1/1");
        ASSERT_EQ(ExecElsewhere(wal, "UPDATE tiles SET tile_data = CAST('changed' AS BLOB);"),
                  SQLITE_OK);
        EXPECT_EQ(Read(db, 2, 3, 0).substr(0, 10), "tile 2/3/0")
            << "a frame's tiles come from one snapshot";
    }
    EXPECT_EQ(Read(db, 2, 3, 0), "changed");

    // With a rollback journal the batch's shared lock keeps writers out until it ends.
    const std::string plain = WriteWorld(dir, "plain.mbtiles", 2);
    ASSERT_TRUE(db.Open(plain, error)) << error;
    {
        const TileDatabase::ReadBatch batch(db);
        EXPECT_EQ(Read(db, 1, 0, 0).substr(0, 10), "tile 1/0/0");
        EXPECT_EQ(ExecElsewhere(plain, "BEGIN EXCLUSIVE; COMMIT;"), SQLITE_BUSY);
    }
    EXPECT_EQ(ExecElsewhere(plain, "BEGIN EXCLUSIVE; COMMIT;"), SQLITE_OK)
        << "no lock is left behind";
    EXPECT_EQ(ReadAll(db, 2), 21);

    // Closing or reopening the store inside a batch ends its transaction there.
    {
        const TileDatabase::ReadBatch outer(db);
        const TileDatabase::ReadBatch inner(db);
        EXPECT_EQ(Read(db, 1, 0, 0).substr(0, 10), "tile 1/0/0");
        ASSERT_TRUE(db.Open(wal, error)) << error;
        EXPECT_EQ(ExecElsewhere(plain, "BEGIN EXCLUSIVE; COMMIT;"), SQLITE_OK);
        db.Close();
    }
    ASSERT_TRUE(db.Open(plain, error)) << error;
    EXPECT_EQ(ReadAll(db, 2), 21);
}

// Tile (z, x, y) as version v writes it: its address, the version, then a
// run of one letter whose length depends on the version.
std::string Versioned(int z, int x, int y, int v) {
    return "tile " + std::to_string(z) + "/" + std::to_string(x) + "/" + std::to_string(y) +
           " v=" + std::to_string(v) + "|" +
           std::string(static_cast<std::size_t>(100 + v * 37 % 3000),
                       static_cast<char>('a' + v % 26));
}

TEST(StoreInUse, WalStoreWrittenByAnotherProcessReadsConsistentTiles) {
    TempDir dir;
    const std::string path = dir.file("busy.db");
    {
        StoreWriter w(path, Layout::Xyz);
        w.Exec("PRAGMA journal_mode=WAL;");
        w.Exec("BEGIN;");
        for (int z = 0; z <= 3; ++z)
            for (int y = 0; y < (1 << z); ++y)
                for (int x = 0; x < (1 << z); ++x) {
                    const std::string t = Versioned(z, x, y, 0);
                    w.Tile(z, x, y, testsupport::Bytes(t.begin(), t.end()));
                }
        w.Exec("COMMIT;");
    }
    TileDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(path, error)) << error;

    // Versions 1..400, each rewriting every tile in one transaction; the log
    // is checkpointed into the file along the way.
    OtherProcess writer(path);
    writer.Send("PRAGMA wal_autocheckpoint=50;\n");
    for (int v = 1; v <= 400; ++v)
        writer.Send("BEGIN; UPDATE tiles SET image = CAST(printf('tile %d/%d/%d v=%d|', z, x, y, " +
                    std::to_string(v) + ") || substr(replace(hex(zeroblob(" +
                    std::to_string(100 + v * 37 % 3000) + ")), '0', '" +
                    std::string(1, static_cast<char>('a' + v % 26)) + "'), 1, " +
                    std::to_string(100 + v * 37 % 3000) + ") AS BLOB); COMMIT;\n");
    Watchdog watchdog("reading while another process writes", std::chrono::seconds(60));
    std::set<int> versions;
    int reads = 0;
    auto check = [&] {
        for (int z = 0; z <= 3; ++z)
            for (int y = 0; y < (1 << z); ++y)
                for (int x = 0; x < (1 << z); ++x) {
                    const std::string t = Read(db, z, x, y);
                    ASSERT_NE(t, "<none>") << z << "/" << x << "/" << y;
                    const auto eq = t.find("v=");
                    const auto bar = t.find('|');
                    ASSERT_TRUE(eq != std::string::npos && bar != std::string::npos)
                        << t.substr(0, 40);
                    const int v = std::stoi(t.substr(eq + 2, bar - eq - 2));
                    ASSERT_EQ(t, Versioned(z, x, y, v));
                    versions.insert(v);
                    ++reads;
                }
    };
    writer.Send(".quit\n");
    while (writer.Running() && !::testing::Test::HasFatalFailure()) check();
    EXPECT_EQ(writer.Finish(), 0);
    check();
    EXPECT_TRUE(versions.count(400)) << "the last version was never seen";
    EXPECT_GT(versions.size(), 2u) << "no reads happened while the other process wrote";
    std::printf("%d tile reads saw %zu versions\n", reads, versions.size());
}

TEST(StoreChangedUnderneath, TruncatedOrDeletedWhileOpenGivesMissingTiles) {
    TempDir dir;
    const std::string path = WriteWorld(dir, "cut.mbtiles", 5);
    TileDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(path, error)) << error;
    const int all = ReadAll(db, 5);
    ASSERT_EQ(all, 1365);
    Watchdog watchdog("reading a truncated store");
    const auto size = std::filesystem::file_size(path);
    for (auto cut : {size / 2, std::uintmax_t{4096}, std::uintmax_t{0}}) {
        SCOPED_TRACE(cut);
        std::filesystem::resize_file(path, cut);
        EXPECT_LE(ReadAll(db, 5), all);
    }
    std::filesystem::remove(path);
    EXPECT_EQ(ReadAll(db, 5), 0);
    db.Close();
    EXPECT_FALSE(db.Open(path, error));
}

}  // namespace
