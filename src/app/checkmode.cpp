#include "checkmode.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>

#include "logging.h"
#include "maprenderer_pool.h"
#include "storecheck.h"
#include "storecheck_decode.h"
#include "storecheck_output.h"
#include "textutil.h"
#include "tilesource.h"

namespace {

std::atomic<bool> gStopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
    gStopRequested.store(true);
}

// Ctrl+C asks the pass to stop while this object lives.
class InterruptGuard {
public:
    InterruptGuard() {
        gStopRequested.store(false);
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previous_);
    }
    ~InterruptGuard() { sigaction(SIGINT, &previous_, nullptr); }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    struct sigaction previous_ {};
};

struct CheckArguments {
    std::string store;
    std::string json;
    std::string map;
    std::optional<bool> decode;
};

bool ParseArguments(const std::vector<std::string>& arguments, CheckArguments& parsed,
                    std::string& error) {
    if (arguments.size() < 3) {
        error = "--check needs a store";
        return false;
    }
    parsed.store = corvalis::NormalizeSlashes(arguments[2]);
    for (std::size_t i = 3; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if ((a == "--json" || a == "--map") && i + 1 < arguments.size()) {
            (a == "--json" ? parsed.json : parsed.map) = arguments[++i];
        } else if (a == "--decode" || a == "--no-decode") {
            parsed.decode = a == "--decode";
        } else {
            error = "unknown or incomplete option for --check: " + a;
            return false;
        }
    }
    return true;
}

void PrintError(const std::string& text) {
    std::fprintf(stderr, "%s\n", corvalis::EscapeControl(text).c_str());
}

// One line on standard error, rewritten in place, when it is a terminal.
class ProgressLine {
public:
    ProgressLine() : shown_(::isatty(STDERR_FILENO) == 1) {}
    ~ProgressLine() { Clear(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void Show(const corvalis::CheckProgress& p);
    void Clear() {
        if (!drawn_) return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        drawn_ = false;
    }

private:
    using Clock = std::chrono::steady_clock;
    bool shown_;
    bool drawn_ = false;
    std::string phase_;
    Clock::time_point phaseStart_ = Clock::now();
    Clock::time_point lastDrawn_{};
};

void ProgressLine::Show(const corvalis::CheckProgress& p) {
    if (!shown_) return;
    const Clock::time_point now = Clock::now();
    if (phase_ != p.phase) {
        phase_ = p.phase;
        phaseStart_ = now;
    } else if (now - lastDrawn_ < std::chrono::milliseconds(200)) {
        return;
    }
    lastDrawn_ = now;
    const double seconds = std::chrono::duration<double>(now - phaseStart_).count();
    std::string line = phase_;
    if (p.done > 0) {
        const double rate = seconds > 0 ? static_cast<double>(p.done) / seconds : 0.0;
        if (p.total > 0)
            line += corvalis::Format(
                " %3.0f%%", 100.0 * static_cast<double>(p.done) / static_cast<double>(p.total));
        line += corvalis::Format(", %.0f tiles/s", rate);
        if (p.total > p.done && rate > 0) {
            const auto left = static_cast<long long>(static_cast<double>(p.total - p.done) / rate);
            line += corvalis::Format(", %lld:%02lld left", left / 60, left % 60);
        }
    }
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

bool WriteOutputs(const CheckArguments& args, const corvalis::CheckReport& report) {
    bool written = true;
    std::string error;
    if (!args.json.empty() && !corvalis::WriteCheckJson(report, args.json, error)) {
        PrintError("cannot write " + args.json + ": " + error);
        written = false;
    }
    if (!args.map.empty() && !corvalis::WriteCoveragePng(report, args.map, error)) {
        PrintError("cannot write " + args.map + ": " + error);
        written = false;
    }
    return written;
}

void PrintReport(const corvalis::CheckReport& report) {
    for (const std::string& line : corvalis::FormatCheckReport(report)) {
        std::fputs(corvalis::EscapeControl(line).c_str(), stdout);
        std::fputc('\n', stdout);
    }
    std::fflush(stdout);
}

corvalis::CheckReport Check(corvalis::TileDatabase& store, const CheckArguments& args) {
    ProgressLine progress;
    corvalis::CheckOptions options;
    options.stop = [] { return gStopRequested.load(); };
    options.progress = [&progress](const corvalis::CheckProgress& p) { progress.Show(p); };
    options.coverage = !args.map.empty();
    progress.Show({"counting tiles", 0, 0});
    options.expectedTiles = store.CountTiles(options.stop);
    options.decode = args.decode.value_or(corvalis::DecodeByDefault(options.expectedTiles));
    std::unique_ptr<corvalis::ParallelCheckDecoder> decoder;
    if (options.decode) {
        decoder =
            std::make_unique<corvalis::ParallelCheckDecoder>(corvalis::DefaultDecodeThreads());
        options.decoder = decoder.get();
    }
    corvalis::CheckReport report = corvalis::RunStoreCheck(store, options);
    if (gStopRequested.load()) report.interrupted = true;
    return report;
}

}  // namespace

int RunCheckMode(const std::vector<std::string>& arguments) {
    const InterruptGuard interrupts;
    CheckArguments args;
    std::string error;
    if (!ParseArguments(arguments, args, error)) {
        PrintError(error);
        PrintError(
            "usage: corvalis --check STORE [--json FILE] [--map FILE.png] [--decode|--no-decode]");
        return kCheckFailed;
    }
    corvalis::TileDatabase store;
    if (!store.Open(args.store, error)) {
        const std::string line = "open failed: " + args.store + " / " + error;
        PrintError(line);
        corvalis::LogLine(line);
        return kCheckFailed;
    }
    const corvalis::CheckReport report = Check(store, args);
    PrintReport(report);
    const bool written = WriteOutputs(args, report);
    const std::int64_t problems = report.ProblemCount();
    corvalis::LogLine(corvalis::Format("check %s: %lld problems%s", args.store.c_str(),
                                       static_cast<long long>(problems),
                                       report.interrupted ? " (interrupted)" : ""));
    if (report.interrupted) return kCheckInterrupted;
    if (!written) return kCheckFailed;
    return problems > 0 ? kCheckProblems : kCheckClean;
}
