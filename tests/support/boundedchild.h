// Runs a hostile case in a child process under a wall clock and an address
// space limit, and reports how it ended, how long it took and its peak
// resident size, so that a test can assert "ended in time, within memory,
// with the expected status" without timing the normal suite.
//
// RunBounded forks: the child has only the calling thread. Run in it only
// code whose state no other thread of the test holds (a lock, Qt's global
// thread pool); when in doubt, run a program with RunBoundedProgram.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "watchdog.h"

namespace testsupport {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

// A resident-size bound of mb for a child, in kB: sanitizer builds add their
// quarantine of freed blocks (256 MB by default) and redzones on top.
inline constexpr std::int64_t RssLimitKb(std::int64_t mb) {
    return (mb + (kSanitized ? 256 : 0)) * 1024;
}

struct ChildLimits {
    // Wall-clock time before the child is killed (times the sanitizer slowdown).
    std::chrono::milliseconds wall{5000};
    // Address space the child may add: to what the test process maps at the
    // fork (RunBounded), or in all (RunBoundedProgram). Not applied in
    // sanitizer builds, whose shadow memory needs terabytes of address space.
    std::uint64_t addressSpaceBytes = std::uint64_t{500} << 20;
};

struct ChildResult {
    bool finished = false;  // ended by itself before the wall clock ran out
    int exitCode = -1;      // its exit code when it exited, else -1
    int signal = 0;         // the signal that ended it, else 0
    double seconds = 0;
    std::int64_t peakRssKb = 0;  // the child's own peak resident size
    bool addressLimited = false;

    bool Exited(int code) const { return finished && signal == 0 && exitCode == code; }
};

namespace detail {

inline std::uint64_t MappedBytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmSize:", 0) == 0) return std::stoull(line.substr(7)) * 1024;
    return 0;
}

inline void LimitAddressSpace(std::uint64_t bytes) {
    if (kSanitized) return;
    const rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
    setrlimit(RLIMIT_AS, &limit);
}

inline ChildResult Await(pid_t pid, const ChildLimits& limits) {
    ChildResult result;
    result.addressLimited = !kSanitized;
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + limits.wall * kSanitizerSlowdown;
    int status = 0;
    rusage usage{};
    pid_t done = 0;
    while ((done = wait4(pid, &status, WNOHANG, &usage)) == 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    result.finished = done == pid;
    if (done == 0) {
        kill(pid, SIGKILL);
        wait4(pid, &status, 0, &usage);
    }
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.peakRssKb = usage.ru_maxrss;
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

}  // namespace detail

// Runs body in a forked child; its return value is the child's exit code (an
// escaping exception exits with 125).
template <typename Body>
ChildResult RunBounded(Body body, ChildLimits limits = {}) {
    const std::uint64_t mapped = detail::MappedBytes();
    const pid_t pid = fork();
    if (pid == 0) {
        detail::LimitAddressSpace(mapped + limits.addressSpaceBytes);
        int code = 125;
        try {
            code = body();
        } catch (...) {
        }
        _exit(code);
    }
    if (pid < 0) return {};
    return detail::Await(pid, limits);
}

// Runs a program (argv[0] is its path) with standard output and error sent to
// outputPath (or discarded when it is empty).
inline ChildResult RunBoundedProgram(const std::vector<std::string>& argv,
                                     const std::string& outputPath = {}, ChildLimits limits = {}) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        const int out = open(outputPath.empty() ? "/dev/null" : outputPath.c_str(),
                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0) dup2(out, 1), dup2(out, 2);
        detail::LimitAddressSpace(limits.addressSpaceBytes);
        execv(args[0], args.data());
        _exit(127);
    }
    if (pid < 0) return {};
    return detail::Await(pid, limits);
}

}  // namespace testsupport
