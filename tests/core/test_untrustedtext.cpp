// Text from a store on its way to the terminal and the log: control
// characters shown as escapes, lines and the log capped in bytes, a sidecar
// with a byte-order mark read like one without.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "boundedchild.h"
#include "inifile.h"
#include "logging.h"
#include "storewriter.h"
#include "textutil.h"

using testsupport::TempDir;

namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(UntrustedText, ControlCharactersBecomeEscapesAndPrintableTextStays) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain C:\\maps\\a b.mbtiles", "plain C:\\maps\\a b.mbtiles"},
        {"\x1b]0;owned\x07", "\\x1b]0;owned\\x07"},                      // window title
        {"\x1b]52;c;cm0gLXJmIH4=\x07", "\\x1b]52;c;cm0gLXJmIH4=\\x07"},  // clipboard write
        {"png\r\n  kind=forged\tx", "png\\r\\n  kind=forged\\tx"},
        {std::string("nul\0del\x7f", 8), "nul\\x00del\\x7f"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x97\xBA \xE4\xB8\x96",
         "caf\xC3\xA9 \xE2\x82\xAC "
         "\xF0\x9F\x97\xBA \xE4\xB8\x96"},
        {"csi \xC2\x9B"
         "31m nel \xC2\x85",
         "csi \\u009b31m nel \\u0085"},  // C1 controls
        {"ls \xE2\x80\xA8 ps \xE2\x80\xA9", "ls \\u2028 ps \\u2029"},
        {"latin-1 caf\xE9", "latin-1 caf\\xe9"},
        {"overlong \xC0\xAF surrogate \xED\xA0\x80",
         "overlong \\xc0\\xaf surrogate \\xed\\xa0\\x80"},
        {"cut \xE2\x82", "cut \\xe2\\x82"},
        {"beyond \xF4\x90\x80\x80", "beyond \\xf4\\x90\\x80\\x80"},
    };
    for (const auto& [raw, shown] : cases) {
        EXPECT_EQ(corvalis::EscapeControl(raw), shown);
        EXPECT_EQ(corvalis::EscapeControl(shown), shown) << "escaping again changes nothing";
    }
}

TEST(UntrustedText, CutsKeepWholeCharactersWithinTheLimit) {
    const std::string euros = "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC";  // 9 bytes
    const std::tuple<std::string, std::size_t, std::string> cases[] = {
        {"short", 8, "short"},         {"exactly8", 8, "exactly8"},
        {"nine char", 8, "nine ..."},  {euros, 9, euros},
        {euros, 8, "\xE2\x82\xAC..."},  // the second euro sign would not fit whole
        {euros, 6, "\xE2\x82\xAC..."}, {euros, 5, "..."},
    };
    for (const auto& [text, limit, cut] : cases) EXPECT_EQ(corvalis::CutText(text, limit), cut);
}

// A report line reaches standard output and the log as one escaped line.
TEST(UntrustedText, ReportLinesCannotForgeLinesOrReachTheTerminalRaw) {
    TempDir dir;
    const std::string out = dir.file("stdout.txt");
    std::filesystem::remove(corvalis::LogFilePath());
    const auto run = testsupport::RunBounded([&out] {
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        corvalis::ReportLine("  format=png\x1b]0;x\x07\r\n  kind=forged");
        return 0;
    });
    ASSERT_TRUE(run.Exited(0));
    const std::string shown = "  format=png\\x1b]0;x\\x07\\r\\n  kind=forged";
    EXPECT_EQ(Slurp(out), shown + "\n");
    EXPECT_THAT(Slurp(corvalis::LogFilePath()), ::testing::EndsWith("  " + shown + "\r\n"));
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 0);
    std::filesystem::remove(corvalis::LogFilePath());
}

// A 200 MB metadata value logged at every open: each line is cut, the file
// stays small, and every call ends quickly within memory.
TEST(UntrustedText, HugeMessagesAreCutAndTheLogIsCappedInBytes) {
    std::filesystem::remove(corvalis::LogFilePath());
    const auto run = testsupport::RunBounded([] {
        std::string line = "opened a.mbtiles  format=";
        line.resize(200u << 20, 'x');
        for (int open = 0; open < 5; ++open) corvalis::LogLine(line);
        return 0;
    });
    EXPECT_TRUE(run.Exited(0)) << run.seconds << " s, signal " << run.signal;
    EXPECT_LT(run.peakRssKb, testsupport::RssLimitKb(500));
    const std::string log = Slurp(corvalis::LogFilePath());
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 5);
    EXPECT_LE(log.size(), 5 * (corvalis::LogMessageLimit + 23));
    EXPECT_THAT(log, ::testing::EndsWith("xxx...\r\n"));
    std::filesystem::remove(corvalis::LogFilePath());

    // A log over the byte limit is emptied before the next line, its mark kept.
    TempDir dir;
    const std::string path = dir.file("viewer.log");
    for (const std::size_t size : {corvalis::LogByteLimit, corvalis::LogByteLimit + 1}) {
        SCOPED_TRACE(size);
        std::string old = "\xEF\xBB\xBF";
        while (old.size() < size) old += std::string(4000, 'o') + "\r\n";  // 1049 lines
        old.resize(size);
        std::ofstream(path, std::ios::binary) << old;
        corvalis::AppendLogLine(path, "next");
        const std::string text = Slurp(path);
        EXPECT_EQ(text.rfind("\xEF\xBB\xBF", 0), 0u);
        EXPECT_EQ(text.size() > size, size <= corvalis::LogByteLimit) << "kept or emptied";
        EXPECT_THAT(text, ::testing::EndsWith("  next\r\n"));
    }
}

TEST(UntrustedText, SidecarsWithAByteOrderMarkAreRead) {
    TempDir dir;
    const std::string path = dir.file("store.omm");
    for (const std::string mark : {"", "\xEF\xBB\xBF"}) {
        std::ofstream(path, std::ios::binary) << mark << "[XY]\r\nMinX_3=5\r\nMinY_3=6\r\n";
        corvalis::IniFile ini;
        ASSERT_TRUE(ini.Load(path));
        EXPECT_EQ(ini.ReadInteger("XY", "MinX_3", -1), 5);
        EXPECT_EQ(ini.ReadInteger("XY", "MinY_3", -1), 6);
    }
    // A FIFO in place of the sidecar is not waited on.
    std::filesystem::remove(path);
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    const auto run = testsupport::RunBounded([&path] { return corvalis::IniFile().Load(path); });
    EXPECT_TRUE(run.Exited(0));
}

}  // namespace
