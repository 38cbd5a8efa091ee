// Ends the test program when a guarded step runs far past any reasonable
// time (a hang), so that a hang fails the test instead of stalling the suite.
#pragma once

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace testsupport {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr int kSanitizerSlowdown = 4;  // instrumented builds run a few times slower
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr int kSanitizerSlowdown = 4;
#else
inline constexpr int kSanitizerSlowdown = 1;
#endif
#else
inline constexpr int kSanitizerSlowdown = 1;
#endif

class Watchdog {
public:
    explicit Watchdog(std::string what, std::chrono::seconds limit = std::chrono::seconds(30))
        : what_(std::move(what)), thread_([this, limit] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!cv_.wait_for(lock, limit * kSanitizerSlowdown, [this] { return done_; })) {
                  std::fprintf(stderr, "HANG: %s did not finish within %lld s\n", what_.c_str(),
                               static_cast<long long>(limit.count()));
                  std::fflush(stderr);
                  _exit(3);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::string what_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace testsupport
