// Crash log entries from child processes that fault or call terminate.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <stdexcept>

#include "faultcapture.h"

namespace {

std::string CrashLog() {
    std::ifstream in(corvalis::CrashLogPath(), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Runs body in a child process with the handlers installed; returns its wait status.
template <typename Body>
int RunChild(Body body) {
    const pid_t pid = fork();
    if (pid == 0) {
        corvalis::InstallFaultHandlers();
        body();
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

volatile int gZero = 0;

// A write to a page that may not be touched: a real access violation, which
// the sanitizers leave to the process's own handler.
void TouchForbiddenPage() {
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *static_cast<volatile int*>(page) = 1;
}

__attribute__((no_sanitize("undefined"))) void DivideByZero() {
    gZero = 10 / gZero;
}

void Thrower() {
    throw std::runtime_error("escaped");
}
void (*volatile gThrower)() = Thrower;

// An exception that no handler catches ends in the terminate handler.
void ThrowThroughNoexcept() noexcept {
    gThrower();
}

class CrashLogTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::remove(corvalis::CrashLogPath()); }
    void TearDown() override { std::filesystem::remove(corvalis::CrashLogPath()); }
};

TEST_F(CrashLogTest, AccessViolationAndDivisionGiveOneLineEachOldestFirst) {
    const int segv = RunChild([] { TouchForbiddenPage(); });
    ASSERT_TRUE(WIFSIGNALED(segv));
    EXPECT_EQ(WTERMSIG(segv), SIGSEGV) << "the system still ends the process";
    const int fpe = RunChild([] { DivideByZero(); });
    ASSERT_TRUE(WIFSIGNALED(fpe));
    EXPECT_EQ(WTERMSIG(fpe), SIGFPE);

    const std::string log = CrashLog();
    EXPECT_TRUE(std::regex_match(log, std::regex("fatal: SEH 0xC0000005 at 0x[0-9A-F]{8,16}\r\n"
                                                 "fatal: SEH 0xC0000094 at 0x[0-9A-F]{8,16}\r\n")))
        << log;
}

TEST_F(CrashLogTest, TerminateWritesItsLineAndExitsWithCode3) {
    const int status = RunChild([] { ThrowThroughNoexcept(); });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), corvalis::kTerminateExitCode);
    EXPECT_EQ(CrashLog(), "terminate: C++ exception escaped / abort() called\r\n");
}

TEST_F(CrashLogTest, WriteCrashLineAppendsUtf8) {
    corvalis::WriteCrashLine("exception in WinMain: caf\xC3\xA9");
    corvalis::WriteCrashLine(std::string("unknown exception in WinMain"));
    EXPECT_EQ(CrashLog(), "exception in WinMain: caf\xC3\xA9\r\nunknown exception in WinMain\r\n");
}

TEST(FatalLine, AddressesArePrintedWhole) {
    char buf[96];
    corvalis::FormatFatalLine(buf, sizeof buf, 0xC0000005u, 0x1234);
    EXPECT_STREQ(buf, "fatal: SEH 0xC0000005 at 0x00001234");
    corvalis::FormatFatalLine(buf, sizeof buf, 0xC000001Du, 0x7FFFDEADBEEF);
    EXPECT_STREQ(buf, "fatal: SEH 0xC000001D at 0x7FFFDEADBEEF");
    corvalis::FormatFatalLine(buf, 12, 0xC0000005u, 0x1234);
    EXPECT_STREQ(buf, "fatal: SEH ") << "never writes past the buffer";
    EXPECT_EQ(corvalis::ExceptionCodeForSignal(SIGBUS), 0xC0000005u);
    EXPECT_EQ(corvalis::ExceptionCodeForSignal(SIGILL), 0xC000001Du);
}

}  // namespace
