#include "BenchSupport.h"

#include <stdlib.h>
#include <time.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
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

std::string readWhole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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

IoCounters ioCounters() {
    std::ifstream io("/proc/self/io");
    IoCounters counters;
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "wchar:") {
            counters.handed = value;
        } else if (key == "write_bytes:") {
            counters.dirtied = value;
        } else if (key == "rchar:") {
            counters.read = value;
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

std::uint64_t bytesFromEnvironment(const char* variable, std::uint64_t fallback) {
    const char* text = std::getenv(variable);
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    const std::string_view value(text);
    std::uint64_t parsed = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), parsed);
    if (error == std::errc{} && end == value.data() + value.size() && parsed > 0) {
        return parsed;
    }
    std::fprintf(stderr, "ignoring %s=%s\n", variable, text);
    return fallback;
}

BenchTree cachedTree(const std::string& name, int formatVersion, std::string_view rootName,
                     const std::function<TreeStats(const std::filesystem::path& root)>& generate) {
    const std::filesystem::path folder = benchDataFolder() / name;
    const std::filesystem::path root = folder / rootName;
    const std::filesystem::path stamp = folder / "stamp";
    const std::string nameLine = "format " + std::to_string(formatVersion) + " " + name + "\n";
    const std::string stamped = readWhole(stamp);
    if (stamped.starts_with(nameLine)) {
        if (auto stats = parseStats(std::string_view(stamped).substr(nameLine.size()))) {
            return {root, *stats, {}};
        }
    }
    try {
        std::filesystem::remove_all(folder);
        std::fprintf(stderr, "generating %s ...\n", root.c_str());
        const auto started = std::chrono::steady_clock::now();
        const TreeStats stats = generate(root);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
        std::fprintf(stderr, "generated %zu files, %llu bytes in %.1f s\n", stats.files,
                     static_cast<unsigned long long>(stats.bytes), took.count());
        const std::filesystem::path partial = folder / "stamp.partial";
        {
            std::ofstream out(partial, std::ios::binary | std::ios::trunc);
            out << nameLine << formatStats(stats);
            if (!out.flush()) {
                return {root, stats, "cannot write " + partial.string()};
            }
        }
        std::filesystem::rename(partial, stamp);
        return {root, stats, {}};
    } catch (const std::exception& failure) {
        return {root, {}, failure.what()};
    }
}

BenchTree preparedClaudeTree(const TreeShape& shape) {
    const std::string name = "claude-" + std::to_string(shape.totalBytes) + "-" +
                             std::to_string(shape.projects) + "x" + std::to_string(shape.sessionsPerProject) +
                             "-so" + std::to_string(shape.summaryOnlyPercent) + "-seed" +
                             std::to_string(shape.seed);
    return cachedTree(name, treeFormatVersion, "projects",
                      [&](const std::filesystem::path& root) { return generateClaudeTree(root, shape); });
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
