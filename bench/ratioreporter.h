// A console reporter that also prints, after the run, each benchmark's time as
// a ratio to its baseline measured in the same run. With repetitions, the
// fastest run of each benchmark counts: the least disturbed by the machine.
// Benchmarks that time both ways themselves report a "ratio" counter; the
// median of its runs is printed too.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace benchsupport {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    // Each pair: (measured, baseline) run names, as Google Benchmark prints them
    // but without "/repeats:N" or "/min_time:S".
    explicit RatioReporter(std::vector<std::pair<std::string, std::string>> pairs)
        : pairs_(std::move(pairs)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && r.iterations > 0 && !r.error_occurred) {
                if (auto c = r.counters.find("ratio"); c != r.counters.end())
                    paired_[WithoutRepeats(r.benchmark_name())].push_back(c->second.value);
                const double t = r.GetAdjustedRealTime();
                auto [it, fresh] = times_.emplace(WithoutRepeats(r.benchmark_name()), t);
                if (!fresh) it->second = std::min(it->second, t);
            }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nratios to baselines measured in this run:\n");
        for (const auto& [measured, baseline] : pairs_) {
            auto m = times_.find(measured), b = times_.find(baseline);
            if (m == times_.end() || b == times_.end() || b->second <= 0) continue;
            const double ratio = m->second / b->second;
            std::printf("  %-48s / %-40s = %.3f", measured.c_str(), baseline.c_str(), ratio);
            if (ratio < 1.0) std::printf("  (%.2fx faster)", 1.0 / ratio);
            std::printf("\n");
        }
        if (paired_.empty()) return;
        std::printf("\npaired ratios (both ways timed in every iteration; median of the runs):\n");
        for (auto& [name, ratios] : paired_) {
            std::sort(ratios.begin(), ratios.end());
            const double ratio = ratios[ratios.size() / 2];
            std::printf("  %-64s = %.3f", name.c_str(), ratio);
            if (ratio > 0 && ratio < 1.0) std::printf("  (%.2fx faster)", 1.0 / ratio);
            std::printf("\n");
        }
    }

private:
    // The name without the "/repeats:N" and "/min_time:S" parts that settings in code add.
    static std::string WithoutRepeats(std::string name) {
        for (const char* part : {"/repeats:", "/min_time:"}) {
            const auto pos = name.find(part);
            if (pos == std::string::npos) continue;
            const auto end = name.find('/', pos + 1);
            name.erase(pos, end == std::string::npos ? std::string::npos : end - pos);
        }
        return name;
    }

    std::vector<std::pair<std::string, std::string>> pairs_;
    std::map<std::string, double> times_;
    std::map<std::string, std::vector<double>> paired_;  // "ratio" counters of paired benchmarks
};

// Runs the registered benchmarks with the ratio reporter.
inline int RunWithRatios(int argc, char** argv,
                         std::vector<std::pair<std::string, std::string>> pairs) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter(std::move(pairs));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

}  // namespace benchsupport
