// The ordinary log: line limit, line endings, byte-order marks, location.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "logging.h"
#include "storewriter.h"
#include "textcodec.h"

using testsupport::TempDir;

namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int CountCrLf(const std::string& s) {
    int n = 0;
    for (std::size_t i = 0; i + 1 < s.size(); ++i)
        if (s[i] == '\r' && s[i + 1] == '\n') ++n;
    return n;
}

class LogTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string log = dir.file("viewer.log");
};

TEST_F(LogTest, LineFormatAndEndings) {
    corvalis::AppendLogLine(log, "first");
    corvalis::AppendLogLine(log, "second");
    const std::string text = Slurp(log);
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  first\r\n)"
                                                  R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  second\r\n)")))
        << text;
}

TEST_F(LogTest, EmptiedAfterMoreThanTheLimit) {
    {
        std::ofstream out(log, std::ios::binary);
        for (int i = 0; i < corvalis::LogLineLimit; ++i) out << "old " << i << "\n";
    }
    corvalis::AppendLogLine(log, "line 2001");
    std::string text = Slurp(log);
    EXPECT_EQ(CountCrLf(text), 2001);
    EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1) << "old LF endings are rewritten as CR LF";

    corvalis::AppendLogLine(log, "fresh");
    text = Slurp(log);
    EXPECT_EQ(CountCrLf(text), 1);
    EXPECT_THAT(text, ::testing::EndsWith("  fresh\r\n"));
}

TEST_F(LogTest, MessageWithLineBreakCountsAsTwoLinesLater) {
    {
        std::ofstream out(log, std::ios::binary);
        for (int i = 0; i < corvalis::LogLineLimit - 1; ++i) out << "old\r\n";
    }
    corvalis::AppendLogLine(log, "two\nlines");  // 1999 + 2 = 2001 physical lines
    EXPECT_NE(Slurp(log).find("  two\nlines\r\n"), std::string::npos) << "written unchanged";
    corvalis::AppendLogLine(log, "next");
    EXPECT_EQ(CountCrLf(Slurp(log)), 1);
}

TEST_F(LogTest, KeepsByteOrderMarks) {
    std::ofstream(log, std::ios::binary) << "\xEF\xBB\xBF"
                                         << "alt\r\n";
    corvalis::AppendLogLine(log, "Gr\xC3\xBC\xC3\x9F");
    std::string text = Slurp(log);
    EXPECT_EQ(text.rfind("\xEF\xBB\xBF"
                         "alt\r\n",
                         0),
              0u);
    EXPECT_THAT(text, ::testing::EndsWith("  Gr\xC3\xBC\xC3\x9F\r\n"));

    const std::string utf16 = dir.file("utf16.log");
    std::ofstream(utf16, std::ios::binary) << std::string(
        "\xFF\xFE"
        "a\0\r\0\n\0",
        8);
    corvalis::AppendLogLine(utf16, "\xC3\xBC");
    text = Slurp(utf16);
    ASSERT_GE(text.size(), 8u);
    EXPECT_EQ(text.substr(0, 8), std::string("\xFF\xFE"
                                             "a\0\r\0\n\0",
                                             8));
    EXPECT_EQ(text.substr(text.size() - 6), std::string("\xFC\0\r\0\n\0", 6));
    corvalis::LogEncoding enc{};
    EXPECT_THAT(corvalis::DecodeLogFile(text, enc), ::testing::EndsWith("  \xC3\xBC\r\n"));
    EXPECT_EQ(enc, corvalis::LogEncoding::Utf16LeBom);
}

TEST_F(LogTest, WithoutMarkUsesLocaleNarrowEncoding) {
    // The test runs in the C locale, whose narrow encoding is ASCII.
    ASSERT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C");
    corvalis::AppendLogLine(log, "caf\xC3\xA9 \xE2\x82\xAC!");
    EXPECT_THAT(Slurp(log), ::testing::EndsWith("  caf? ?!\r\n"));
    EXPECT_EQ(Slurp(log).rfind("\xEF\xBB\xBF", 0), std::string::npos);
}

TEST_F(LogTest, UnwritableLocationDropsTheLineSilently) {
    const std::string missing = dir.file("no/such/folder/viewer.log");
    corvalis::AppendLogLine(missing, "lost");
    EXPECT_FALSE(std::filesystem::exists(missing));
    std::filesystem::create_directory(dir.file("adir"));
    corvalis::AppendLogLine(dir.file("adir"), "a folder, not a file");
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("adir")));
}

TEST_F(LogTest, LocationBesideExecutableOrInStateFolder) {
    EXPECT_EQ(corvalis::ChooseLogFilePath("/opt/corvalis/", true), "/opt/corvalis/viewer.log");
    const char* old = std::getenv("XDG_STATE_HOME");
    const std::string saved = old ? old : "";
    setenv("XDG_STATE_HOME", dir.path().c_str(), 1);
    EXPECT_EQ(corvalis::ChooseLogFilePath("/usr/bin/", false), dir.file("Corvalis/viewer.log"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("Corvalis")));
    if (old)
        setenv("XDG_STATE_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_STATE_HOME");

    EXPECT_EQ(corvalis::LogFilePath(), corvalis::ExecutableDir() + "viewer.log");
    EXPECT_THAT(corvalis::ExecutableDir(), ::testing::EndsWith("/tests/"));
}

TEST(Text, NormalizeSlashesAndFormat) {
    EXPECT_EQ(corvalis::NormalizeSlashes("C:/maps/world.mbtiles", '\\'), "C:\\maps\\world.mbtiles");
    EXPECT_EQ(corvalis::NormalizeSlashes("//server/share/a.db", '\\'), "\\\\server\\share\\a.db");
    EXPECT_EQ(corvalis::NormalizeSlashes("plain", '\\'), "plain");
    EXPECT_EQ(corvalis::NormalizeSlashes("", '\\'), "");
    EXPECT_EQ(corvalis::NormalizeSlashes("/maps/a b/world.mbtiles"), "/maps/a b/world.mbtiles");

    EXPECT_EQ(corvalis::Format("z%-2d|%.5f|%s", 3, -85.0511287798066, "x"), "z3 |-85.05113|x");
    const std::string longText(3000, 'a');
    EXPECT_EQ(corvalis::Format("%s!", longText.c_str()), longText + "!");
    // A locale with a decimal comma must not leak into formatted numbers.
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "fr_FR.UTF-8")) {
        EXPECT_EQ(corvalis::Format("%.2f", 1.5), "1.50");
        std::setlocale(LC_NUMERIC, "C");
    }
}

}  // namespace
