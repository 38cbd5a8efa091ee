// Output files in folders others can write to: the log, the crash log and
// files written atomically (the self-check's picture) never write through a
// symbolic link, never into a FIFO or a folder, never block, and leave no
// temporary file behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "boundedchild.h"
#include "faultcapture.h"
#include "logging.h"
#include "safefile.h"
#include "storewriter.h"

namespace fs = std::filesystem;
using testsupport::TempDir;

namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

enum class Kind { Missing, Regular, LinkToFile, DanglingLink, Folder, Fifo };

// Puts a thing of the given kind at path; links point at target.
void Make(Kind kind, const std::string& path, const std::string& target) {
    switch (kind) {
        case Kind::Missing: break;
        case Kind::Regular:
            std::ofstream(path, std::ios::binary) << "old";
            fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
            break;
        case Kind::LinkToFile: fs::create_symlink(target, path); break;
        case Kind::DanglingLink: fs::create_symlink(target + ".absent", path); break;
        case Kind::Folder: fs::create_directory(path); break;
        case Kind::Fifo: ASSERT_EQ(mkfifo(path.c_str(), 0644), 0); break;
    }
}

struct Writer {
    const char* name;
    bool atFixedPath;                        // writes beside the executable (the crash log)
    bool (*write)(const std::string& path);  // false on a result that contradicts itself
    bool replaces;                           // the old content goes (else it is appended to)
    const char* suffix;                      // what the file ends with after the write
};

const Writer kWriters[] = {
    {"atomic write", false,
     [](const std::string& path) {
         std::string error;
         return corvalis::WriteFileAtomically(path, "new", error) == error.empty();
     },
     true, "new"},
    {"log", false,
     [](const std::string& path) {
         corvalis::AppendLogLine(path, "new");
         return true;
     },
     false, "  new\r\n"},
    {"crash log", true,
     [](const std::string&) {
         corvalis::WriteCrashLine("new");
         return true;
     },
     false, "new\r\n"},
};

TEST(OutputFiles, OnlyRegularFilesAreWrittenAndNothingBehindALink) {
    const Kind kinds[] = {Kind::Missing,      Kind::Regular, Kind::LinkToFile,
                          Kind::DanglingLink, Kind::Folder,  Kind::Fifo};
    for (const Writer& writer : kWriters) {
        for (const Kind kind : kinds) {
            SCOPED_TRACE(std::string(writer.name) + ", kind " + std::to_string(int(kind)));
            TempDir dir;
            const std::string target = dir.file("precious");
            std::ofstream(target, std::ios::binary) << "keep";
            const std::string path =
                writer.atFixedPath ? corvalis::CrashLogPath() : dir.file("out");
            fs::remove(path);
            Make(kind, path, target);
            const fs::file_status before = fs::symlink_status(path);

            const auto run = testsupport::RunBounded([&] { return writer.write(path) ? 0 : 1; });
            EXPECT_TRUE(run.Exited(0)) << "blocked or failed: signal " << run.signal;
            EXPECT_EQ(Slurp(target), "keep");
            const bool writable = kind == Kind::Missing || kind == Kind::Regular;
            if (writable) {
                EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path)));
                const std::string text = Slurp(path);
                EXPECT_THAT(text, ::testing::EndsWith(writer.suffix));
                EXPECT_EQ(text.rfind("old", 0) == 0, kind == Kind::Regular && !writer.replaces);
            } else {
                EXPECT_EQ(fs::symlink_status(path).type(), before.type()) << "left as it was";
            }
            if (kind == Kind::Regular) {
                EXPECT_EQ(fs::status(path).permissions(),
                          fs::perms::owner_read | fs::perms::owner_write);
            }
            const auto entries = std::distance(fs::directory_iterator(dir.path()), {});
            EXPECT_EQ(entries, writer.atFixedPath ? 1 : 2) << "no temporary file is left";
            fs::remove_all(path);
        }
    }
}

}  // namespace
