// Stores on media the viewer cannot write: a folder without write permission
// (checked as an unprivileged user, since root writes anywhere) and a
// read-only file system. Rollback-journal and WAL-mode stores both open.
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "storewriter.h"
#include "tilesource.h"

using corvalis::ImmutableFileUri;
using corvalis::TileDatabase;
using testsupport::Layout;
using testsupport::StoreWriter;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;

constexpr int kCannotMount = 77;

struct ChildResult {
    bool ok;
    int status;
    explicit operator bool() const { return ok; }
};

// Runs check in a child process, as an unprivileged user when running as
// root; the child's failures are reported through its exit status.
ChildResult InChild(const std::function<std::string()>& check, bool dropRoot) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (dropRoot && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
            _exit(90);
        const std::string problem = check();
        if (!problem.empty()) std::fprintf(stderr, "in child: %s\n", problem.c_str());
        std::fflush(nullptr);
        _exit(problem.empty() ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) && WEXITSTATUS(status) == 0, status};
}

// Opens the store and reads the tile at level 1, column 1, row 0.
std::string OpensAndReads(const std::string& path) {
    TileDatabase db;
    std::string error;
    if (!db.Open(path, error)) return "open failed: " + error;
    if (db.minZoom() != 0 || db.maxZoom() != 2 || db.KindName() != "MBTiles")
        return "wrong store facts";
    const std::uint8_t* data = nullptr;
    std::int32_t count = 0;
    if (!db.ReadTile(1, 1, 0, data, count)) return "tile missing";
    if (std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count)) !=
        "tile 1/1/0")
        return "wrong tile";
    return {};
}

void WriteStore(const std::string& path, bool wal) {
    StoreWriter w(path, Layout::MBTiles);
    w.FullWorld(0, 2, testsupport::Blob);
    if (wal) w.Exec("PRAGMA journal_mode=WAL;");
}

std::set<std::string> Listing(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

class ReadOnlyFolder : public ::testing::Test {
protected:
    void SetUp() override {
        // The unprivileged user must reach the folder, but not write in it.
        fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_exec |
                                        fs::perms::others_exec | fs::perms::group_read |
                                        fs::perms::others_read);
        folder = dir.path() / "card";
        fs::create_directory(folder);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ec);
    }
    void Lock() {
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec |
                                    fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    }
    TempDir dir;
    fs::path folder;
};

TEST_F(ReadOnlyFolder, RollbackAndWalStoresOpenAndNothingIsCreated) {
    // Characters that a "file:" URI must escape, in the WAL store's name.
    const std::string plain = (folder / "plain.mbtiles").string();
    const std::string wal = (folder / "wal 100%?#x.mbtiles").string();
    WriteStore(plain, false);
    WriteStore(wal, true);
    ASSERT_FALSE(fs::exists(wal + "-wal"));
    Lock();
    const auto before = Listing(folder);
    EXPECT_TRUE(InChild([&] { return OpensAndReads(plain); }, true));
    EXPECT_TRUE(InChild([&] { return OpensAndReads(wal); }, true));
    EXPECT_EQ(Listing(folder), before);
}

TEST_F(ReadOnlyFolder, WalStoreWithCompanionFilesLeftByItsWriterOpens) {
    const std::string wal = (folder / "left.mbtiles").string();
    WriteStore(wal, true);
    // A writer that still has the store open leaves "-wal" and "-shm" beside it.
    const auto writer = testsupport::OpenConnection(wal);
    ASSERT_TRUE(writer);
    ASSERT_EQ(sqlite3_exec(writer.get(), "select count(*) from tiles;", nullptr, nullptr, nullptr),
              SQLITE_OK);
    ASSERT_TRUE(fs::exists(wal + "-shm"));
    Lock();
    EXPECT_TRUE(InChild([&] { return OpensAndReads(wal); }, true));
}

TEST_F(ReadOnlyFolder, OtherFailuresKeepTheirReasons) {
    // A WAL-mode database without tiles is read, and refused for what it holds.
    const std::string notStore = (folder / "other.db").string();
    {
        StoreWriter w(notStore, Layout::None, false);
        w.Exec("PRAGMA journal_mode=WAL; CREATE TABLE things (a);");
    }
    Lock();
    EXPECT_TRUE(InChild(
        [&]() -> std::string {
            TileDatabase db;
            std::string error;
            if (db.Open((folder / "missing.mbtiles").string(), error))
                return "a missing store opened";
            if (error.rfind("cannot open database: ", 0) != 0) return "missing store: " + error;
            if (db.Open(notStore, error)) return "a database without tiles opened";
            if (error != "this file has no 'tiles' table.") return "other database: " + error;
            return {};
        },
        true));
}

// A writer that ended without finishing leaves a hot journal (rollback mode)
// or changes in the "-wal" file (WAL mode): a read-only folder keeps both out
// of reach, and the user is told so instead of being shown a wrong store.
TEST_F(ReadOnlyFolder, UnfinishedWritesAreReportedNotHidden) {
    const std::string hot = (folder / "hot.mbtiles").string();
    const std::string wal = (folder / "recent.mbtiles").string();
    WriteStore(hot, false);
    WriteStore(wal, true);
    for (const auto& [path, sql] :
         {std::pair{hot,
                    "PRAGMA cache_size=1; BEGIN; UPDATE tiles SET tile_data = zeroblob(5000);"},
          std::pair{wal, "INSERT INTO tiles VALUES (5, 0, 0, x'00');"}}) {
        const pid_t pid = fork();
        if (pid == 0) {  // writes and ends without committing or checkpointing
            sqlite3* writer = nullptr;
            sqlite3_open(path.c_str(), &writer);
            sqlite3_exec(writer, sql, nullptr, nullptr, nullptr);
            _exit(0);
        }
        waitpid(pid, nullptr, 0);
    }
    // Copied without its "-shm" file (a reader could use that one to read the
    // "-wal" file even in a read-only folder).
    fs::remove(wal + "-shm");
    ASSERT_TRUE(fs::exists(hot + "-journal"));
    ASSERT_GT(fs::file_size(wal + "-wal"), 0u);
    Lock();
    EXPECT_TRUE(InChild(
        [&]() -> std::string {
            TileDatabase db;
            std::string error;
            if (db.Open(hot, error)) return "a store with a hot journal opened";
            if (error != "cannot open database: attempt to write a readonly database")
                return "hot journal: " + error;
            if (!db.Open(wal, error)) return "WAL store: " + error;
            if (db.notice() !=
                "recent changes in the -wal file cannot be read from a read-only folder")
                return "WAL store without notice";
            return {};
        },
        true));
}

TEST(ReadOnlyFileSystem, WalAndRollbackStoresOpen) {
    TempDir dir;
    const fs::path source = dir.path() / "src";
    fs::create_directory(source);
    WriteStore((source / "plain.mbtiles").string(), false);
    WriteStore((source / "wal.mbtiles").string(), true);
    const fs::path mountPoint = dir.path() / "ro";
    fs::create_directory(mountPoint);
    // A private mount namespace: a tmpfs holding copies, then made read-only.
    const auto result = InChild(
        [&]() -> std::string {
            if (unshare(CLONE_NEWNS) != 0 ||
                mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=8m") != 0)
                _exit(kCannotMount);
            for (const char* name : {"plain.mbtiles", "wal.mbtiles"})
                fs::copy_file(source / name, mountPoint / name);
            if (mount(nullptr, mountPoint.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
                _exit(kCannotMount);
            for (const char* name : {"plain.mbtiles", "wal.mbtiles"})
                if (std::string problem = OpensAndReads((mountPoint / name).string());
                    !problem.empty())
                    return std::string(name) + ": " + problem;
            return {};
        },
        false);
    if (result.status == kCannotMount << 8)
        GTEST_SKIP() << "no private mounts here (they need root)";
    EXPECT_TRUE(result.ok) << "child status " << result.status;
}

TEST(ImmutableFileUri, EscapesEverythingButUnreservedCharacters) {
    EXPECT_EQ(ImmutableFileUri("/maps/world.mbtiles"), "file:/maps/world.mbtiles?immutable=1");
    EXPECT_EQ(ImmutableFileUri("a b%?#&=.db"), "file:a%20b%25%3F%23%26%3D.db?immutable=1");
    EXPECT_EQ(ImmutableFileUri("/k\xC3\xB6ln.db"), "file:/k%C3%B6ln.db?immutable=1");
    EXPECT_EQ(ImmutableFileUri("//server/share/x.db"), "file:////server/share/x.db?immutable=1");
}

}  // namespace
