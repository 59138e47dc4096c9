#include "BenchSupport.h"

#include <stdlib.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <system_error>

namespace fernhollow::bench {
namespace {

std::map<std::string, std::string>& goalLines() {
    static std::map<std::string, std::string> lines;
    return lines;
}

double cpuSeconds(clockid_t clock) {
    timespec spent{};
    ::clock_gettime(clock, &spent);
    return static_cast<double>(spent.tv_sec) + static_cast<double>(spent.tv_nsec) / 1e9;
}

} // namespace

std::string tokenSumsDifference(const TokenSums& got, const TokenSums& want) {
    if (got == want) {
        return {};
    }
    return "token sums differ (got/expected): input " + std::to_string(got.input) + "/" +
           std::to_string(want.input) + ", output " + std::to_string(got.output) + "/" +
           std::to_string(want.output) + ", cache write " + std::to_string(got.cacheCreation) + "/" +
           std::to_string(want.cacheCreation) + ", cache write 1h " + std::to_string(got.cacheCreation1h) +
           "/" + std::to_string(want.cacheCreation1h) + ", cache read " + std::to_string(got.cacheRead) +
           "/" + std::to_string(want.cacheRead);
}

LedgerAccount ledgerAccount(Ledger& ledger, std::optional<UsageSource> source) {
    LedgerAccount account;
    for (const ModelTotal& total : ledger.modelTotals()) {
        if (source && total.source != *source) {
            continue;
        }
        const UsageRecord& sums = total.sums;
        account.records += total.records;
        account.tokens += {sums.inputTokens, sums.outputTokens, sums.cacheCreationInputTokens,
                           sums.cacheCreation1hTokens, sums.cacheReadInputTokens};
    }
    return account;
}

long statusKilobytes(std::string_view field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with(field) && line.size() > field.size() && line[field.size()] == ':') {
            return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
        }
    }
    return -1;
}

WriteCounters writeCounters() {
    std::ifstream io("/proc/self/io");
    WriteCounters counters;
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "wchar:") {
            counters.handed = value;
        } else if (key == "write_bytes:") {
            counters.dirtied = value;
        }
    }
    return counters;
}

double processCpuSeconds() {
    return cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
}

double threadCpuSeconds() {
    return cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
}

std::filesystem::path benchDataFolder() {
    const char* variable = std::getenv("FERNHOLLOW_BENCH_DIR");
    return std::filesystem::absolute(variable != nullptr && *variable != '\0' ? variable
                                                                              : "build/bench-data");
}

std::filesystem::path makeScratchFolder(std::string_view purpose) {
    const std::filesystem::path base = benchDataFolder();
    std::filesystem::create_directories(base);
    std::string pattern = (base / ("scratch-" + std::string(purpose) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "cannot create a folder in " + base.string());
    }
    return pattern;
}

void noteGoal(const std::string& key, std::string_view what, double value, int decimals,
              std::string_view unit, double goal) {
    const std::string suffix = unit.empty() ? std::string() : " " + std::string(unit);
    char figures[96];
    std::snprintf(figures, sizeof figures, "%10.*f%-4s (goal <= %g%s)", decimals, value, suffix.c_str(), goal,
                  suffix.c_str());
    goalLines()[key] = std::string(what) + std::string(what.size() < 72 ? 72 - what.size() : 0, ' ') +
                       figures + (value <= goal ? "  met" : "  NOT MET");
}

void printGoals() {
    if (goalLines().empty()) {
        return;
    }
    std::printf("\nAgainst the goals:\n");
    for (const auto& [key, line] : goalLines()) {
        std::printf("  %s\n", line.c_str());
    }
}

} // namespace fernhollow::bench
