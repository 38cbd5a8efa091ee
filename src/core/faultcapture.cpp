#include "faultcapture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstring>
#include <exception>

#include "logging.h"

namespace corvalis {

namespace {

// Filled before main runs (and again at installation), so that the handlers
// never allocate.
char gCrashPath[4096] = "crash.log";
alignas(16) char gAltStack[1 << 16];

void RememberCrashLogPath() {
    const std::string path = CrashLogPath();
    if (path.size() < sizeof gCrashPath) std::memcpy(gCrashPath, path.c_str(), path.size() + 1);
}

const bool gCrashPathReady = (RememberCrashLogPath(), true);

std::size_t AppendText(char* buf, std::size_t size, std::size_t pos, const char* text) {
    while (*text && pos + 1 < size) buf[pos++] = *text++;
    buf[pos < size ? pos : size - 1] = '\0';
    return pos;
}

std::size_t AppendHex(char* buf, std::size_t size, std::size_t pos, std::uint64_t v,
                      int minDigits) {
    char digits[17];
    int n = 0;
    do {
        digits[n++] = "0123456789ABCDEF"[v & 0xF];
        v >>= 4;
    } while (v != 0);
    while (n < minDigits) digits[n++] = '0';
    while (n > 0 && pos + 1 < size) buf[pos++] = digits[--n];
    buf[pos < size ? pos : size - 1] = '\0';
    return pos;
}

std::uintptr_t FaultAddress(const siginfo_t* info, const void* context) {
    const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    if (uc) return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
    if (uc) return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
    if (uc) return static_cast<std::uintptr_t>(uc->uc_mcontext.pc);
#else
    (void)uc;
#endif
    return reinterpret_cast<std::uintptr_t>(info ? info->si_addr : nullptr);
}

void FatalSignalHandler(int sig, siginfo_t* info, void* context) {
    char line[96];
    FormatFatalLine(line, sizeof line, ExceptionCodeForSignal(sig), FaultAddress(info, context));
    WriteCrashLine(line);
    // The handler was reset to the default on entry: let the system end the process.
    ::raise(sig);
}

}  // namespace

std::string CrashLogPath() {
    return ExecutableDir() + "crash.log";
}

void WriteCrashLine(const char* text) {
    // Never through a symbolic link, and never into a FIFO or a device (which
    // O_NONBLOCK keeps from blocking the open).
    const int fd = ::open(
        gCrashPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY,
        0644);
    if (fd < 0) return;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return;
    }
    char buf[1024];
    std::size_t n = AppendText(buf, sizeof buf - 2, 0, text);
    buf[n++] = '\r';
    buf[n++] = '\n';
    ssize_t written = ::write(fd, buf, n);
    (void)written;
    ::close(fd);
}

std::uint32_t ExceptionCodeForSignal(int sig) {
    switch (sig) {
        case SIGSEGV:
        case SIGBUS: return 0xC0000005u;
        case SIGFPE: return 0xC0000094u;
        case SIGILL: return 0xC000001Du;
        default: return 0;
    }
}

std::size_t FormatFatalLine(char* buf, std::size_t size, std::uint32_t code,
                            std::uintptr_t address) {
    std::size_t pos = AppendText(buf, size, 0, "fatal: SEH 0x");
    pos = AppendHex(buf, size, pos, code, 8);
    pos = AppendText(buf, size, pos, " at 0x");
    return AppendHex(buf, size, pos, address, 8);
}

void TerminateHandler() {
    WriteCrashLine("terminate: C++ exception escaped / abort() called");
    ::_exit(kTerminateExitCode);
}

void InstallFaultHandlers() {
    RememberCrashLogPath();

    std::set_terminate(TerminateHandler);

    // An alternate stack lets a stack overflow reach the handler too.
    stack_t ss{};
    ss.ss_sp = gAltStack;
    ss.ss_size = sizeof gAltStack;
    ::sigaltstack(&ss, nullptr);

    struct sigaction sa {};
    sa.sa_sigaction = FatalSignalHandler;
    sa.sa_flags = SA_SIGINFO | SA_RESETHAND | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) ::sigaction(sig, &sa, nullptr);
}

}  // namespace corvalis
