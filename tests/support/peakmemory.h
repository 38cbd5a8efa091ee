// The process's peak resident size, which the kernel lets a test reset.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

namespace testsupport {

// Starts a new peak from the current resident size; false where the kernel
// does not allow it, and in sanitizer builds, whose allocator keeps freed
// memory in quarantine so that peaks say nothing about the program.
inline bool ResetPeakMemory() {
#if defined(__SANITIZE_ADDRESS__)
    return false;
#else
    return static_cast<bool>(std::ofstream("/proc/self/clear_refs") << "5");
#endif
}

inline std::int64_t PeakMemoryKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6));
    return -1;
}

inline std::int64_t ResidentMemoryKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stoll(line.substr(6));
    return -1;
}

}  // namespace testsupport
