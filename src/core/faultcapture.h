// Fault capture: the crash log "crash.log" beside the executable and the
// process-wide handlers that write to it when a fault ends the program.
#pragma once

#include <cstdint>
#include <string>

namespace corvalis {

inline constexpr int kTerminateExitCode = 3;

std::string CrashLogPath();

// Appends text + CR LF (UTF-8) to the crash log in one write. Never raises;
// does nothing when the file cannot be opened, is a symbolic link or is not a
// regular file. Async-signal-safe.
void WriteCrashLine(const char* text);
inline void WriteCrashLine(const std::string& text) {
    WriteCrashLine(text.c_str());
}

// Installs TerminateHandler with std::set_terminate and the fatal-signal
// handlers (SIGSEGV, SIGBUS, SIGFPE, SIGILL). Safe to call more than once.
void InstallFaultHandlers();

[[noreturn]] void TerminateHandler();

// "fatal: SEH 0x%08X at 0x%08X" with the address printed whole: at least
// eight upper-case hex digits, more where the address needs them. Writes into
// buf (NUL-terminated) without allocating; returns the length.
std::size_t FormatFatalLine(char* buf, std::size_t size, std::uint32_t code,
                            std::uintptr_t address);

// Exception code reported for a fatal signal (0 for other signals).
std::uint32_t ExceptionCodeForSignal(int sig);

}  // namespace corvalis
