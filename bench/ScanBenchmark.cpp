// Scanning a 2 GB Claude Code tree into the usage ledger: the first scan into a new ledger (its
// time, and its peak memory in a process of its own), a pass with nothing changed, a pass after
// the agent appended one line to one log; pricing 1,000,000 records; and a log whose last line
// is 100 MB.
#include "BenchSupport.h"
#include "ClaudeTreeGenerator.h"
#include "Measure.h"
#include "core/ledger/Ledger.h"
#include "core/model/ModelPricing.h"
#include "core/sources/CCUsageParser.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using fernhollow::Ledger;
using fernhollow::RecordRule;
using fernhollow::ScanResult;
using fernhollow::UsageRecord;
using fernhollow::UsageSource;
using fernhollow::bench::BenchTree;
using fernhollow::bench::CpuClock;
using fernhollow::bench::statusKilobytes;
using fernhollow::bench::Tally;
using fernhollow::bench::tokenSumsDifference;
using fernhollow::bench::TreeStats;
using Stopwatch = std::chrono::steady_clock;

constexpr char peakChildFlag[] = "--fernhollow-peak-rss-child";
constexpr std::size_t costRecordCount = 1'000'000;

// The goals of `fernhollow report`, whose first and second runs are mostly these passes.
constexpr double firstScanGoalSeconds = 1.2;
constexpr double firstScanGoalMB = 150.0;
constexpr double unchangedPassGoalMs = 150.0;
// The goals of a pass after one appended line.
constexpr double linePassCpuGoalMs = 10.0;
constexpr double linePassWrittenGoalKB = 256.0;

std::uint64_t treeBytes() {
    return fernhollow::bench::bytesFromEnvironment("FERNHOLLOW_BENCH_BYTES", 2'000'000'000);
}

const BenchTree& benchTree() {
    static const BenchTree tree = fernhollow::bench::preparedClaudeTree({treeBytes(), 20, 76, 20251120});
    return tree;
}

bool skipIfTreeMissing(benchmark::State& state) {
    const BenchTree& tree = benchTree();
    if (tree.error.empty()) {
        return false;
    }
    state.SkipWithError(tree.error.c_str());
    return true;
}

void removeLedger(const fs::path& path) {
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::error_code ignored;
        fs::remove(path.string() + suffix, ignored);
    }
}

// One pass of the Claude Code source as the store makes it: a connection of its own, the log
// states the last pass left, the logs read from them and written as they are read, in one transaction.
struct Pass {
    std::size_t records = 0;
    std::size_t logsRead = 0; // read, or found retimed
    std::size_t bytesRead = 0;
    bool changedNothing = false;
    double scanSeconds = 0.0;  // to the last log read, the writing of the others' records within it
    double applySeconds = 0.0; // the writing after it
};

Pass passIntoLedger(const fs::path& root, const fs::path& ledgerPath) {
    Ledger ledger(ledgerPath);
    const auto started = Stopwatch::now();
    const fernhollow::LogFileStates known = ledger.fileStates(UsageSource::claudeCode);
    Pass pass;
    auto scanned = started;
    ledger.applyAsRead({UsageSource::claudeCode, RecordRule::keepLarger, {}, {}, {}},
                       [&](const fernhollow::RecordSink& sink, fernhollow::LedgerBatch& batch) {
                           const fernhollow::RecordSink counted = [&](std::vector<UsageRecord> records) {
                               pass.records += records.size();
                               sink(std::move(records));
                           };
                           ScanResult scan = fernhollow::CCUsageParser::parseChanged(
                               std::span(&root, 1), known, false, nullptr, counted);
                           scanned = Stopwatch::now();
                           pass.logsRead = scan.files.size();
                           pass.bytesRead = scan.bytesRead;
                           pass.changedNothing = scan.changesNothing();
                           batch.files = std::move(scan.files);
                           batch.goneFiles = std::move(scan.goneFiles);
                       });
    pass.scanSeconds = std::chrono::duration<double>(scanned - started).count();
    pass.applySeconds = std::chrono::duration<double>(Stopwatch::now() - scanned).count();
    return pass;
}

// Empty when the ledger holds exactly what the generator says a correct scan finds.
std::string mismatch(Ledger& ledger, const TreeStats& expected) {
    const auto account = fernhollow::bench::ledgerAccount(ledger, UsageSource::claudeCode);
    if (account.records != static_cast<std::int64_t>(expected.distinctMessages)) {
        return "the ledger holds " + std::to_string(account.records) + " records, expected " +
               std::to_string(expected.distinctMessages);
    }
    return tokenSumsDifference(account.tokens, expected.tokens);
}

int runPeakChild(const char* root, const char* ledgerPath, const char* fdText) {
    const long baseline = statusKilobytes("VmRSS");
    passIntoLedger(root, ledgerPath);
    const long peak = statusKilobytes("VmHWM");
    const auto written = fernhollow::bench::ioCounters();
    Ledger ledger(ledgerPath);
    const auto account = fernhollow::bench::ledgerAccount(ledger, UsageSource::claudeCode);
    char reply[160];
    const int length = std::snprintf(reply, sizeof reply, "%ld %ld %lld %llu %llu\n", baseline, peak,
                                     static_cast<long long>(account.records),
                                     static_cast<unsigned long long>(written.handed),
                                     static_cast<unsigned long long>(written.dirtied));
    const int fd = std::atoi(fdText);
    return ::write(fd, reply, static_cast<std::size_t>(length)) == length ? 0 : 1;
}

struct PeakSample {
    double baselineMB = 0.0;
    double peakMB = 0.0;
    std::int64_t records = 0;
    double writtenMB = 0.0;
    double dirtiedMB = 0.0;
};

// A forked child counts the parent's resident pages as its own from the start, so the first
// scan runs in a freshly executed copy of this program instead: its high-water mark is then
// the program's baseline plus what the scan and the ledger's transaction needed.
std::optional<PeakSample> measurePeakInFreshProcess(const fs::path& root, const fs::path& ledgerPath) {
    std::error_code error;
    const std::string self = fs::read_symlink("/proc/self/exe", error).string();
    int fds[2];
    if (error || ::pipe2(fds, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    // Only the write end survives the exec, on a descriptor number the child is told.
    const int childFd = ::fcntl(fds[1], F_DUPFD, 3);
    ::close(fds[1]);
    if (childFd < 0) {
        ::close(fds[0]);
        return std::nullopt;
    }
    const std::string rootText = root.string();
    const std::string ledgerText = ledgerPath.string();
    const std::string fdText = std::to_string(childFd);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(self.c_str(), self.c_str(), peakChildFlag, rootText.c_str(), ledgerText.c_str(),
                fdText.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(childFd);
    std::string reply;
    if (pid > 0) {
        char buffer[160];
        for (;;) {
            const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
            if (got > 0) {
                reply.append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                break;
            }
        }
    }
    ::close(fds[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    std::istringstream fields(reply);
    long baselineKb = 0;
    long peakKb = 0;
    unsigned long long written = 0;
    unsigned long long dirtied = 0;
    PeakSample sample;
    if (!(fields >> baselineKb >> peakKb >> sample.records >> written >> dirtied) || peakKb <= 0) {
        return std::nullopt;
    }
    sample.baselineMB = static_cast<double>(baselineKb) / 1024.0;
    sample.peakMB = static_cast<double>(peakKb) / 1024.0;
    sample.writtenMB = static_cast<double>(written) / 1e6;
    sample.dirtiedMB = static_cast<double>(dirtied) / 1e6;
    return sample;
}

// The first scan: every log of the tree read whole into a new ledger.
void BM_FirstScanIntoLedger(benchmark::State& state) {
    if (skipIfTreeMissing(state)) {
        return;
    }
    const BenchTree& tree = benchTree();
    const fs::path scratch = fernhollow::bench::makeScratchFolder("first-scan");
    const fs::path ledgerPath = scratch / Ledger::fileName;
    // Also warms the page cache, so the first timed scan reads from memory like the rest.
    const auto peak = measurePeakInFreshProcess(tree.root, ledgerPath);
    if (!peak) {
        state.SkipWithError("the peak memory measurement in a child process failed");
        return;
    }
    Tally tally;
    double scanSeconds = 0.0;
    double applySeconds = 0.0;
    std::string problem;
    for (auto _ : state) {
        removeLedger(ledgerPath);
        Pass pass;
        fernhollow::bench::measure(state, tally, CpuClock::process,
                                   [&] { pass = passIntoLedger(tree.root, ledgerPath); });
        scanSeconds += pass.scanSeconds;
        applySeconds += pass.applySeconds;
        Ledger ledger(ledgerPath);
        problem = mismatch(ledger, tree.stats);
        if (!problem.empty()) {
            break;
        }
    }
    const double ledgerMB = static_cast<double>(fs::file_size(ledgerPath)) / 1e6;
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    if (!problem.empty()) {
        state.SkipWithError(problem.c_str());
        return;
    }
    if (peak->records != static_cast<std::int64_t>(tree.stats.distinctMessages)) {
        state.SkipWithError("the child's ledger does not hold the tree's records");
        return;
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * tree.stats.bytes));
    state.counters["scan_s"] = scanSeconds / iterations;
    state.counters["apply_s"] = applySeconds / iterations;
    state.counters["cpu_s"] = Tally::mean(tally.cpuMs) / 1e3;
    state.counters["records"] = static_cast<double>(tree.stats.distinctMessages);
    state.counters["files"] = static_cast<double>(tree.stats.files);
    state.counters["ledger_MB"] = ledgerMB;
    state.counters["peak_rss_MB"] = peak->peakMB;
    state.counters["baseline_rss_MB"] = peak->baselineMB;
    state.counters["written_MB"] = peak->writtenMB;
    state.counters["dirtied_MB"] = peak->dirtiedMB;
    fernhollow::bench::noteGoal("1", "first scan into a new ledger, wall (report's first-run goal)",
                                Tally::mean(tally.wallMs) / 1e3, 2, "s", firstScanGoalSeconds);
    fernhollow::bench::noteGoal("2", "first scan into a new ledger, peak RSS in a fresh process",
                                peak->peakMB, 1, "MB", firstScanGoalMB);
}
BENCHMARK(BM_FirstScanIntoLedger)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// The tree as the app sees it while an agent works: the tree's project folders linked, never
// written, and one real project folder whose log, a copy of the tree's largest, grows.
class LiveTree {
public:
    LiveTree() : folder_(fernhollow::bench::makeScratchFolder("live-tree")), root_(folder_ / "projects") {
        const fs::path& tree = benchTree().root;
        fs::create_directories(root_);
        fs::path largest;
        std::uintmax_t largestSize = 0;
        for (const auto& project : fs::directory_iterator(tree)) {
            fs::create_directory_symlink(project.path(), root_ / project.path().filename());
            for (const auto& log : fs::directory_iterator(project.path())) {
                if (log.is_regular_file() && log.file_size() > largestSize) {
                    largest = log.path();
                    largestSize = log.file_size();
                }
            }
        }
        const fs::path live = root_ / "-home-user-src-live";
        fs::create_directories(live);
        log_ = live / largest.filename();
        fs::copy_file(largest, log_);
        ledger_ = folder_ / Ledger::fileName;
        passIntoLedger(root_, ledger_);
    }
    ~LiveTree() {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    LiveTree(const LiveTree&) = delete;
    LiveTree& operator=(const LiveTree&) = delete;

    const fs::path& root() const { return root_; }
    const fs::path& ledger() const { return ledger_; }

    // One more reply of the session, as the agent writes it: a whole line, a new message id.
    void appendReply() {
        ++replies_;
        char ids[64];
        std::snprintf(ids, sizeof ids, "%012llu", static_cast<unsigned long long>(replies_));
        const std::time_t now = std::time(nullptr);
        std::tm utc{};
        ::gmtime_r(&now, &utc);
        char timestamp[32];
        std::strftime(timestamp, sizeof timestamp, "%Y-%m-%dT%H:%M:%S.000Z", &utc);
        const std::string session = log_.stem().string();
        const std::string line =
            R"({"parentUuid":"5b0c8e1a-4d2f-4c3b-9e8a-)" + std::string(ids) +
            R"(","isSidechain":false,"userType":"external","cwd":"/home/user/src/live","sessionId":")" +
            session +
            R"(","version":"2.0.42","gitBranch":"main","message":{"model":"claude-sonnet-4-5-20250929","id":"msg_01BenchLive)" +
            ids +
            R"(","type":"message","role":"assistant","content":[{"type":"text","text":"Done: the reader now keeps each streamed copy's message id, and the tests pass."}],"stop_reason":"end_turn","stop_sequence":null,"usage":{"input_tokens":4,"cache_creation_input_tokens":1843,"cache_read_input_tokens":96512,"cache_creation":{"ephemeral_5m_input_tokens":0,"ephemeral_1h_input_tokens":1843},"output_tokens":412,"service_tier":"standard"}},"requestId":"req_011CBenchLive)" +
            ids + R"(","type":"assistant","uuid":"7c1d9f2b-3e4a-4b5c-8d6e-)" + ids + R"(","timestamp":")" +
            timestamp + "\"}\n";
        std::ofstream(log_, std::ios::binary | std::ios::app) << line;
    }

private:
    fs::path folder_;
    fs::path root_;
    fs::path log_;
    fs::path ledger_;
    std::uint64_t replies_ = 0;
};

LiveTree& liveTree() {
    static LiveTree tree;
    return tree;
}

// A pass with nothing changed: every log's size and time as the ledger knows them, so no log
// is opened.
void BM_UnchangedPass(benchmark::State& state) {
    if (skipIfTreeMissing(state)) {
        return;
    }
    LiveTree& tree = liveTree();
    Tally tally;
    std::size_t logsRead = 0;
    for (auto _ : state) {
        Pass pass;
        fernhollow::bench::measure(state, tally, CpuClock::process,
                                   [&] { pass = passIntoLedger(tree.root(), tree.ledger()); });
        logsRead += pass.logsRead;
        if (!pass.changedNothing || pass.bytesRead != 0) {
            state.SkipWithError("a pass over an unchanged tree read or changed something");
            return;
        }
    }
    state.counters["cpu_ms"] = Tally::mean(tally.cpuMs);
    state.counters["logs_read"] = static_cast<double>(logsRead);
    state.counters["written_KB"] = Tally::mean(tally.writtenKB);
    state.counters["files"] = static_cast<double>(benchTree().stats.files + 1);
    fernhollow::bench::noteGoal("3", "pass with nothing changed, wall (report's second-run goal)",
                                Tally::mean(tally.wallMs), 1, "ms", unchangedPassGoalMs);
}
BENCHMARK(BM_UnchangedPass)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(20);

// A pass after the agent appended one line to one log: the log read from where the last read
// ended, one record and the log's new state written.
void BM_PassAfterOneLine(benchmark::State& state) {
    if (skipIfTreeMissing(state)) {
        return;
    }
    LiveTree& tree = liveTree();
    Tally tally;
    std::size_t bytesRead = 0;
    for (auto _ : state) {
        tree.appendReply();
        Pass pass;
        fernhollow::bench::measure(state, tally, CpuClock::process,
                                   [&] { pass = passIntoLedger(tree.root(), tree.ledger()); });
        bytesRead += pass.bytesRead;
        if (pass.records != 1 || pass.logsRead != 1) {
            state.SkipWithError("a pass after one appended line did not read exactly that line's record");
            return;
        }
    }
    state.counters["cpu_ms"] = Tally::mean(tally.cpuMs);
    state.counters["read_KB"] =
        static_cast<double>(bytesRead) / 1024.0 / static_cast<double>(state.iterations());
    state.counters["written_KB"] = Tally::mean(tally.writtenKB);
    state.counters["written_max_KB"] = Tally::largest(tally.writtenKB);
    state.counters["dirtied_KB"] = Tally::mean(tally.dirtiedKB);
    fernhollow::bench::noteGoal("4", "pass after one appended line, CPU", Tally::mean(tally.cpuMs), 2, "ms",
                                linePassCpuGoalMs);
    fernhollow::bench::noteGoal("5", "pass after one appended line, written (mean)",
                                Tally::mean(tally.writtenKB), 1, "KB", linePassWrittenGoalKB);
}
BENCHMARK(BM_PassAfterOneLine)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(50);

// The tree's records cycled to a million and put in time order, as a history view sees them.
const std::vector<UsageRecord>& costRecords() {
    static const std::vector<UsageRecord> records = [] {
        const std::vector<UsageRecord> source =
            fernhollow::CCUsageParser::parseChanged(benchTree().root, {}, false).records;
        std::vector<UsageRecord> cycled;
        if (source.empty()) {
            return cycled;
        }
        cycled.reserve(costRecordCount);
        for (std::size_t i = 0; i < costRecordCount; ++i) {
            cycled.push_back(source[i % source.size()]);
        }
        std::stable_sort(cycled.begin(), cycled.end(), [](const UsageRecord& a, const UsageRecord& b) {
            return a.timestamp < b.timestamp;
        });
        return cycled;
    }();
    return records;
}

void BM_Cost(benchmark::State& state) {
    if (skipIfTreeMissing(state)) {
        return;
    }
    const std::vector<UsageRecord>& records = costRecords();
    if (records.empty()) {
        state.SkipWithError("the scan found no records to price");
        return;
    }
    for (auto _ : state) {
        const fernhollow::ModelPricing::Pricer pricer;
        double total = 0.0;
        for (const UsageRecord& record : records) {
            total += pricer.cost(record);
        }
        benchmark::DoNotOptimize(total);
    }
    std::size_t modelChanges = 0;
    for (std::size_t i = 1; i < records.size(); ++i) {
        modelChanges += records[i].model != records[i - 1].model ? 1 : 0;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * records.size()));
    state.counters["records"] = static_cast<double>(records.size());
    state.counters["model_changes"] = static_cast<double>(modelChanges);
}
BENCHMARK(BM_Cost)->Unit(benchmark::kMillisecond)->UseRealTime();

// A log whose last line is 100 MB (a pasted file, a huge tool result), whole or still being
// written: read in memory of a few times the line, and counted only once complete.
void BM_HundredMegabyteLine(benchmark::State& state) {
    constexpr std::size_t megabyte = 1 << 20;
    constexpr std::size_t lineSize = 100 * megabyte;
    const bool complete = state.range(0) == 1;
    const fs::path root = fs::temp_directory_path() / ("fernhollow-bench-line-" + std::to_string(::getpid()));
    fs::create_directories(root / "p");
    {
        std::ofstream log(root / "p/s.jsonl");
        log << R"({"type":"assistant","message":{"id":"small","usage":{"input_tokens":1}}})" << '\n'
            << R"({"type":"assistant","message":{"id":"big","usage":{"input_tokens":1},"content":")";
        const std::string megabyteOfText(megabyte, 'x');
        for (std::size_t size = 0; size < lineSize; size += megabyte) {
            log << megabyteOfText;
        }
        log << (complete ? "\"}}" : "");
    }
    double growthMB = 0.0;
    for (auto _ : state) {
        std::ofstream("/proc/self/clear_refs") << "5"; // the peak restarts from the resident size now
        const long before = statusKilobytes("VmRSS");
        const ScanResult scan = fernhollow::CCUsageParser::parseChanged(root, {}, false);
        growthMB = static_cast<double>(statusKilobytes("VmHWM") - before) / 1024.0;
        if (scan.records.size() != (complete ? 2u : 1u)) {
            state.SkipWithError("the long line was counted before it was complete, or not once it was");
        }
    }
    fs::remove_all(root);
    state.counters["peak_growth_MB"] = growthMB;
    // The file's bytes and the parser's copy of the one string in them, and little more.
    fernhollow::bench::noteGoal(complete ? "6" : "7",
                                complete ? "a complete 100 MB line, peak memory growth"
                                         : "a 100 MB line still being written, peak memory growth",
                                growthMB, 0, "MB", 3.0 * lineSize / megabyte);
}
BENCHMARK(BM_HundredMegabyteLine)->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string_view(argv[1]) == peakChildFlag) {
        return runPeakChild(argv[2], argv[3], argv[4]);
    }
    return fernhollow::bench::runBenchmarksAndGoals(argc, argv);
}
