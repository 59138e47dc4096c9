#pragma once

#include "ClaudeTreeGenerator.h"
#include "core/ledger/Ledger.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// What the benchmark programs share when they check a store or a scan against a ground truth,
// and when they count what a piece of work cost.
namespace fernhollow::bench {

// "token sums differ (got/expected): input a/b, ..."; empty when the sums are equal.
std::string tokenSumsDifference(const TokenSums& got, const TokenSums& want);

// The records a ledger holds and their token sums, from its totals per model; of one source,
// or of all when none is named.
struct LedgerAccount {
    std::int64_t records = 0;
    TokenSums tokens;
};
LedgerAccount ledgerAccount(Ledger& ledger, std::optional<UsageSource> source = std::nullopt);

// A kilobyte field of /proc/self/status ("VmRSS", "VmHWM"), or -1 when it cannot be read.
long statusKilobytes(std::string_view field);

// What this process has written so far, from /proc/self/io: `handed` counts the bytes of every
// write call, `dirtied` the page-cache bytes those calls dirtied. A page written twice before
// the kernel flushes it is dirtied once, so a loop that rewrites the same pages within seconds
// shows less in `dirtied` than an app that does so once a minute.
struct WriteCounters {
    std::uint64_t handed = 0;
    std::uint64_t dirtied = 0;
};
WriteCounters writeCounters();

double processCpuSeconds();
double threadCpuSeconds();

// FERNHOLLOW_BENCH_DIR, or build/bench-data below the working folder; absolute. On the disk
// the data will live on in use, unlike a /tmp that may be held in memory.
std::filesystem::path benchDataFolder();

// A new, empty folder below benchDataFolder(), named after `purpose`; throws when it cannot.
std::filesystem::path makeScratchFolder(std::string_view purpose);

// A figure of a benchmark program against its goal (at most `goal`), kept under `key` to be
// printed, in the order of the keys, after the benchmarks ran.
void noteGoal(const std::string& key, std::string_view what, double value, int decimals,
              std::string_view unit, double goal);
// Prints the figures noted, each with its goal and whether it was met; nothing if none was.
void printGoals();

} // namespace fernhollow::bench
