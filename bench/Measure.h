#pragma once

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <numeric>
#include <vector>

// What each iteration of a benchmark cost, by the wall clock, the CPU clock and the bytes it
// wrote and read, for benchmarks that judge the mean and the worst iteration against a goal.
namespace fernhollow::bench {

struct Tally {
    std::vector<double> wallMs;
    std::vector<double> cpuMs;
    std::vector<double> writtenKB; // handed to write calls
    std::vector<double> dirtiedKB; // of the page cache
    std::vector<double> readKB;    // taken by read calls

    static double mean(const std::vector<double>& values) {
        return values.empty()
                   ? 0.0
                   : std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
    }
    static double largest(const std::vector<double>& values) {
        return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
    }
};

enum class CpuClock { thread, process };

// Runs `work`, adds its costs to `tally` and reports its wall time as the iteration's time
// (for benchmarks registered with UseManualTime). `process` counts the CPU time of helper
// threads as well.
template <typename Work> void measure(benchmark::State& state, Tally& tally, CpuClock clock, Work&& work) {
    const auto cpuSeconds = clock == CpuClock::thread ? threadCpuSeconds : processCpuSeconds;
    const IoCounters ioBefore = ioCounters();
    const double cpuBefore = cpuSeconds();
    const auto started = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    const double cpuMs = (cpuSeconds() - cpuBefore) * 1e3;
    const IoCounters ioAfter = ioCounters();
    state.SetIterationTime(took.count());
    tally.wallMs.push_back(took.count() * 1e3);
    tally.cpuMs.push_back(cpuMs);
    tally.writtenKB.push_back(static_cast<double>(ioAfter.handed - ioBefore.handed) / 1024.0);
    tally.dirtiedKB.push_back(static_cast<double>(ioAfter.dirtied - ioBefore.dirtied) / 1024.0);
    tally.readKB.push_back(static_cast<double>(ioAfter.read - ioBefore.read) / 1024.0);
}

// The main of a benchmark program: runs the benchmarks the arguments select, then prints the
// figures they noted against their goals.
inline int runBenchmarksAndGoals(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printGoals();
    return 0;
}

} // namespace fernhollow::bench
