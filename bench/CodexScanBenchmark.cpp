// Reading a 500 MB Codex CLI home against reading a Claude Code tree of the same size, byte for
// byte; the Codex home read into a new ledger; and a pass over it with nothing changed.
#include "BenchSupport.h"
#include "CodexTreeGenerator.h"
#include "Measure.h"
#include "core/ledger/Ledger.h"
#include "core/sources/CCUsageParser.h"
#include "core/sources/CodexParser.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace fernhollow;
using bench::BenchTree;
using bench::CpuClock;
using bench::Tally;

constexpr double perByteRatioGoal = 2.0;

std::uint64_t homeBytes() {
    return bench::bytesFromEnvironment("FERNHOLLOW_BENCH_CODEX_BYTES", 500'000'000);
}

const BenchTree& codexHome() {
    static const BenchTree home = [] {
        const bench::CodexShape shape{homeBytes(), 600, 20261206};
        const std::string name = "codex-" + std::to_string(shape.totalBytes) + "-" +
                                 std::to_string(shape.sessions) + "-seed" + std::to_string(shape.seed);
        return bench::cachedTree(name, bench::codexHomeFormatVersion, "codex-home",
                                 [&](const fs::path& root) { return bench::generateCodexHome(root, shape); });
    }();
    return home;
}

const BenchTree& claudeTree() {
    static const BenchTree tree = bench::preparedClaudeTree({homeBytes(), 20, 30, 20251120});
    return tree;
}

bool skipIfMissing(benchmark::State& state, const BenchTree& tree) {
    if (tree.error.empty()) {
        return false;
    }
    state.SkipWithError(tree.error.c_str());
    return true;
}

// Nanoseconds per byte of a whole read of each tree; the Codex read, which runs second, notes
// their ratio.
double claudeNsPerByte = 0.0;
double codexNsPerByte = 0.0;

// `expectedRecords` when the read must find exactly so many: a Claude Code read keeps every
// streamed copy, which only the ledger merges, while a Codex read finds each turn once.
template <typename Scan>
void readWhole(benchmark::State& state, const BenchTree& tree, Scan scan,
               std::optional<std::size_t> expectedRecords, double& nsPerByte) {
    if (skipIfMissing(state, tree)) {
        return;
    }
    Tally tally;
    std::size_t records = 0;
    for (auto _ : state) {
        bench::measure(state, tally, CpuClock::process, [&] { records = scan(tree.root).records.size(); });
    }
    if (expectedRecords && records != *expectedRecords) {
        const std::string problem =
            "read " + std::to_string(records) + " turns, expected " + std::to_string(*expectedRecords);
        state.SkipWithError(problem.c_str());
        return;
    }
    nsPerByte = Tally::mean(tally.wallMs) * 1e6 / static_cast<double>(tree.stats.bytes);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * tree.stats.bytes));
    state.counters["ns_per_byte"] = nsPerByte;
    state.counters["records"] = static_cast<double>(records);
    state.counters["files"] = static_cast<double>(tree.stats.files);
}

void BM_ClaudeCodeRead(benchmark::State& state) {
    readWhole(
        state, claudeTree(),
        [](const fs::path& root) { return CCUsageParser::parseChanged(root, {}, false); }, std::nullopt,
        claudeNsPerByte);
}
BENCHMARK(BM_ClaudeCodeRead)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

void BM_CodexRead(benchmark::State& state) {
    readWhole(
        state, codexHome(), [](const fs::path& home) { return CodexParser::parseChanged(home, {}, false); },
        codexHome().stats.distinctMessages, codexNsPerByte);
    if (claudeNsPerByte > 0.0 && codexNsPerByte > 0.0) {
        bench::noteGoal("1", "Codex read time per byte, as a multiple of Claude Code's",
                        codexNsPerByte / claudeNsPerByte, 2, "x", perByteRatioGoal);
    }
}
BENCHMARK(BM_CodexRead)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

struct CodexLedger {
    fs::path folder = bench::makeScratchFolder("codex-ledger");
    fs::path path = folder / Ledger::fileName;
    ~CodexLedger() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
};

CodexLedger& codexLedger() {
    static CodexLedger ledger;
    return ledger;
}

ScanResult passIntoLedger(const fs::path& home, const fs::path& ledgerPath) {
    Ledger ledger(ledgerPath);
    ScanResult scan = CodexParser::parseChanged(home, ledger.fileStates(UsageSource::codex), false);
    if (!scan.changesNothing()) {
        ledger.apply({UsageSource::codex, RecordRule::keepLarger, scan.records, scan.files, scan.goneFiles});
    }
    return scan;
}

// The first pass of the app over the home: every rollout read, its turns written to a new ledger.
void BM_CodexIntoNewLedger(benchmark::State& state) {
    const BenchTree& home = codexHome();
    if (skipIfMissing(state, home)) {
        return;
    }
    Tally tally;
    for (auto _ : state) {
        bench::measure(state, tally, CpuClock::process,
                       [&] { passIntoLedger(home.root, codexLedger().path); });
    }
    Ledger ledger(codexLedger().path);
    const auto account = bench::ledgerAccount(ledger, UsageSource::codex);
    std::string problem = bench::tokenSumsDifference(account.tokens, home.stats.tokens);
    if (account.records != static_cast<std::int64_t>(home.stats.distinctMessages)) {
        problem = "the ledger holds " + std::to_string(account.records) + " turns, expected " +
                  std::to_string(home.stats.distinctMessages);
    }
    if (!problem.empty()) {
        state.SkipWithError(problem.c_str());
        return;
    }
    state.counters["cpu_s"] = Tally::mean(tally.cpuMs) / 1e3;
    state.counters["written_MB"] = Tally::mean(tally.writtenKB) / 1024.0;
}
BENCHMARK(BM_CodexIntoNewLedger)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

// The next passes: every rollout's size and time as the ledger knows them, so none is opened.
void BM_CodexIdlePass(benchmark::State& state) {
    const BenchTree& home = codexHome();
    if (skipIfMissing(state, home)) {
        return;
    }
    Tally tally;
    std::size_t logsRead = 0;
    std::size_t bytesRead = 0;
    for (auto _ : state) {
        bench::measure(state, tally, CpuClock::process, [&] {
            const ScanResult scan = passIntoLedger(home.root, codexLedger().path);
            logsRead += scan.files.size();
            bytesRead += scan.bytesRead;
        });
    }
    state.counters["logs_read"] = static_cast<double>(logsRead);
    state.counters["bytes_read"] = static_cast<double>(bytesRead);
    state.counters["written_KB"] = Tally::mean(tally.writtenKB);
    bench::noteGoal("2", "Codex pass with nothing changed, logs read", static_cast<double>(logsRead), 0, "",
                    0);
}
BENCHMARK(BM_CodexIdlePass)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(20);

} // namespace

int main(int argc, char** argv) {
    return bench::runBenchmarksAndGoals(argc, argv);
}
