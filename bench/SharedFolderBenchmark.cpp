// A shared folder of 5 machines' files of 300,000 records each, as machines that shared their
// usage for years leave it. What a machine pays for it: merging every file into a new ledger at
// its first start, a pass after one machine's file grew by a block of 100 records, and an idle
// pass. The folder is made once and kept beside the other benchmark data; passes that change it
// work on a copy.
#include "BenchSupport.h"
#include "Measure.h"
#include "SyntheticLogs.h"
#include "core/sync/SharedFolder.h"
#include "core/sync/SharedUsageFile.h"

#include <benchmark/benchmark.h>

#include <fstream>

namespace {

using namespace fernhollow;
namespace fs = std::filesystem;
using bench::CpuClock;
using bench::Tally;
using bench::TokenSums;
using bench::TreeStats;

constexpr int machineCount = 5;
constexpr int recordsPerMachine = 300'000;
constexpr int grownRecords = 100;
// Raised whenever the generated files change, so that a folder kept from an earlier run is
// made again.
constexpr int folderFormat = 2;

constexpr double mergeGoalMs = 2'000.0;
constexpr double grownGoalMs = 50.0;
constexpr double now = 1'790'000'000.0;

const DeviceIdentity reader{"0B5E2A7C-0000-4000-8000-0000000000FF", "reader"};

DeviceIdentity machine(int index) {
    char id[40];
    std::snprintf(id, sizeof id, "0B5E2A7C-0000-4000-8000-%012d", index);
    return {id, "machine-" + std::to_string(index)};
}

// `count` records of a machine over the year before `now`, in sessions of a hundred records, each
// of one agent, model and project: six models, forty projects.
SharedBlock block(bench::Random& random, int machineIndex, int first, int count, TokenSums& sums) {
    SharedBlock made{now,
                     {"claude-sonnet-4-5", "claude-opus-4-1", "claude-haiku-4-5", "gpt-5", "gpt-5-codex",
                      "gemini-2.5-pro"},
                     {}};
    for (int project = 0; project < 40; ++project) {
        made.names.push_back("project-" + std::to_string(project));
    }
    const auto sessions = static_cast<std::int64_t>(made.names.size());
    for (int i = first; i < first + count; i += 100) {
        made.names.push_back("session-" + std::to_string(machineIndex) + "-" + std::to_string(i / 100));
    }
    StoredRecord record;
    for (int i = 0; i < count; ++i) {
        if (i % 100 == 0) {
            record.source = static_cast<std::int64_t>(random.below(5));
            record.model = static_cast<std::int64_t>(random.below(6));
            record.project = 6 + static_cast<std::int64_t>(random.below(40));
            record.session = sessions + i / 100;
        }
        record.identity = static_cast<std::int64_t>(random.next());
        record.at = static_cast<std::int64_t>((now - 365 * 86'400.0) * 1000.0) +
                    static_cast<std::int64_t>(first + i) * (365LL * 86'400'000 / recordsPerMachine);
        record.counts = {random.between(1, 40), random.between(50, 3'000), random.between(0, 4'000), 0,
                         random.between(10'000, 120'000)};
        sums += {record.counts[0], record.counts[1], record.counts[2], 0, record.counts[4]};
        made.records.push_back(record);
    }
    return made;
}

TreeStats generateFolder(const fs::path& folder) {
    fs::create_directories(folder);
    TreeStats stats;
    for (int m = 0; m < machineCount; ++m) {
        bench::Random random(static_cast<std::uint64_t>(m) + 1);
        std::ofstream file(folder / sharedfile::fileName(machine(m)), std::ios::binary);
        file << sharedfile::header(machine(m));
        for (int first = 0; first < recordsPerMachine; first += 65'536) {
            file << sharedfile::encodeBlock(
                block(random, m, first, std::min(65'536, recordsPerMachine - first), stats.tokens));
        }
        stats.bytes += static_cast<std::uint64_t>(file.tellp());
    }
    stats.files = machineCount;
    stats.distinctMessages = static_cast<std::size_t>(machineCount) * recordsPerMachine;
    return stats;
}

const bench::BenchTree& benchFolder() {
    static const bench::BenchTree folder = bench::cachedTree("shared-folder-" + std::to_string(machineCount) +
                                                                 "x" + std::to_string(recordsPerMachine),
                                                             folderFormat, "Sync", generateFolder);
    return folder;
}

std::string accountDifference(Ledger& ledger, std::size_t records, const TokenSums& tokens) {
    const bench::LedgerAccount account = bench::ledgerAccount(ledger);
    if (account.records != static_cast<std::int64_t>(records)) {
        return "the ledger holds " + std::to_string(account.records) + " records, not " +
               std::to_string(records);
    }
    return bench::tokenSumsDifference(account.tokens, tokens);
}

// (a) A machine's first start with sharing on: every other machine's file merged into a new ledger.
void BM_MergeAllAtStart(benchmark::State& state) {
    const auto& folder = benchFolder();
    if (!folder.error.empty()) {
        state.SkipWithError(folder.error.c_str());
        return;
    }
    const fs::path scratch = bench::makeScratchFolder("shared-merge");
    Tally tally;
    std::string difference;
    for (auto _ : state) {
        fs::remove_all(scratch / "ledger");
        fs::create_directories(scratch / "ledger");
        Ledger ledger(scratch / "ledger" / "ledger.sqlite3");
        bench::measure(state, tally, CpuClock::process,
                       [&] { passSharedFolder(ledger, folder.root, reader, now, OwnFileWrite::none); });
        difference = accountDifference(ledger, folder.stats.distinctMessages, folder.stats.tokens);
    }
    fs::remove_all(scratch);
    if (!difference.empty()) {
        state.SkipWithError(difference.c_str());
        return;
    }
    state.counters["cpu_ms"] = Tally::mean(tally.cpuMs);
    state.counters["MB_read"] = Tally::mean(tally.readKB) / 1024.0;
    bench::noteGoal("a1", "(a) merging 5 machines x 300,000 records into a new ledger",
                    Tally::mean(tally.wallMs), 0, "ms", mergeGoalMs);
}
BENCHMARK(BM_MergeAllAtStart)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// (b) One machine's file grew by a block of 100 records since the last pass; (c) nothing changed.
void BM_LaterPass(benchmark::State& state) {
    const auto& folder = benchFolder();
    if (!folder.error.empty()) {
        state.SkipWithError(folder.error.c_str());
        return;
    }
    const bool idle = state.range(0) != 0;
    const fs::path scratch = bench::makeScratchFolder(idle ? "shared-idle" : "shared-grown");
    fs::copy(folder.root, scratch / "Sync");
    Ledger ledger(scratch / "ledger.sqlite3");
    passSharedFolder(ledger, scratch / "Sync", reader, now, OwnFileWrite::none);
    const fs::path grown = scratch / "Sync" / sharedfile::fileName(machine(0));
    bench::Random random(99);
    TokenSums added;
    Tally tally;
    std::size_t filesRead = 0;
    for (auto _ : state) {
        if (!idle) {
            const std::size_t first = recordsPerMachine + tally.wallMs.size() * grownRecords;
            std::ofstream(grown, std::ios::binary | std::ios::app)
                << sharedfile::encodeBlock(block(random, 0, static_cast<int>(first), grownRecords, added));
        }
        bench::measure(state, tally, CpuClock::process, [&] {
            filesRead +=
                passSharedFolder(ledger, scratch / "Sync", reader, now, OwnFileWrite::none).filesRead;
        });
    }
    TokenSums expected = folder.stats.tokens;
    expected += added;
    const std::string difference = accountDifference(
        ledger, folder.stats.distinctMessages + (idle ? 0 : tally.wallMs.size() * grownRecords), expected);
    fs::remove_all(scratch);
    if (!difference.empty()) {
        state.SkipWithError(difference.c_str());
        return;
    }
    state.counters["cpu_ms"] = Tally::mean(tally.cpuMs);
    state.counters["files_read"] = static_cast<double>(filesRead);
    state.counters["KB_read"] = Tally::mean(tally.readKB);
    if (idle) {
        // The bytes read count the ledger's pages and /proc/self/io itself; the files tell the folder.
        bench::noteGoal("c1", "(c) an idle pass: shared files read", static_cast<double>(filesRead), 0,
                        "files", 0.0);
    } else {
        bench::noteGoal("b1", "(b) a pass after one file grew by 100 records, mean",
                        Tally::mean(tally.wallMs), 2, "ms", grownGoalMs);
        bench::noteGoal("b2", "(b) a pass after one file grew by 100 records, slowest",
                        Tally::largest(tally.wallMs), 2, "ms", grownGoalMs);
    }
}
BENCHMARK(BM_LaterPass)
    ->ArgName("idle")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(50);

} // namespace

int main(int argc, char** argv) {
    return bench::runBenchmarksAndGoals(argc, argv);
}
