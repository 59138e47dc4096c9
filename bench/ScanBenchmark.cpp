#include "BenchSupport.h"
#include "ClaudeTreeGenerator.h"
#include "core/model/ModelPricing.h"
#include "core/sources/CCUsageParser.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using fernhollow::ScanResult;
using fernhollow::UsageRecord;
using fernhollow::bench::statusKilobytes;
using fernhollow::bench::sumTokens;
using fernhollow::bench::tokenSumsDifference;
using fernhollow::bench::TreeShape;
using fernhollow::bench::TreeStats;

constexpr char peakChildFlag[] = "--fernhollow-peak-rss-child";
constexpr std::size_t costRecordCount = 1'000'000;

struct BenchTree {
    fs::path root;
    TreeStats stats;
    std::string error;
};

std::uint64_t treeBytes() {
    std::uint64_t bytes = 2'000'000'000;
    if (const char* text = std::getenv("FERNHOLLOW_BENCH_BYTES"); text != nullptr && *text != '\0') {
        const std::string_view value(text);
        std::uint64_t parsed = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), parsed);
        if (error == std::errc{} && end == value.data() + value.size() && parsed > 0) {
            bytes = parsed;
        } else {
            std::fprintf(stderr, "ignoring FERNHOLLOW_BENCH_BYTES=%s\n", text);
        }
    }
    return bytes;
}

std::string readWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The stamp records the shape and the ground truth, and is written last: a tree whose
// generation was interrupted has no stamp and is generated again.
BenchTree prepareTree() {
    const TreeShape shape{treeBytes(), 20, 76, 20251120};
    const char* dirVariable = std::getenv("FERNHOLLOW_BENCH_DIR");
    const fs::path base = dirVariable != nullptr && *dirVariable != '\0' ? dirVariable : "build/bench-data";
    const std::string name = "claude-" + std::to_string(shape.totalBytes) + "-" +
                             std::to_string(shape.projects) + "x" + std::to_string(shape.sessionsPerProject) +
                             "-so" + std::to_string(shape.summaryOnlyPercent) + "-seed" +
                             std::to_string(shape.seed);
    const fs::path folder = fs::absolute(base / name);
    const fs::path root = folder / "projects";
    const fs::path stamp = folder / "stamp";
    const std::string shapeLine =
        "format " + std::to_string(fernhollow::bench::treeFormatVersion) + " " + name + "\n";

    const std::string stamped = readWhole(stamp);
    if (stamped.starts_with(shapeLine)) {
        if (auto stats = fernhollow::bench::parseStats(std::string_view(stamped).substr(shapeLine.size()))) {
            return {root, *stats, {}};
        }
    }
    try {
        fs::remove_all(folder);
        std::fprintf(stderr, "generating %s ...\n", root.c_str());
        const auto started = std::chrono::steady_clock::now();
        const TreeStats stats = fernhollow::bench::generateClaudeTree(root, shape);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
        std::fprintf(stderr, "generated %zu files, %llu bytes in %.1f s\n", stats.files,
                     static_cast<unsigned long long>(stats.bytes), took.count());
        const fs::path partial = folder / "stamp.partial";
        {
            std::ofstream out(partial, std::ios::binary | std::ios::trunc);
            out << shapeLine << fernhollow::bench::formatStats(stats);
            if (!out.flush()) {
                return {root, stats, "cannot write " + partial.string()};
            }
        }
        fs::rename(partial, stamp);
        return {root, stats, {}};
    } catch (const std::exception& failure) {
        return {root, {}, failure.what()};
    }
}

const BenchTree& benchTree() {
    static const BenchTree tree = prepareTree();
    return tree;
}

const ScanResult& referenceScan() {
    static const ScanResult scan = fernhollow::CCUsageParser::parseChanged(benchTree().root, {}, {});
    return scan;
}

// Empty when the records are exactly what the generator says a correct scan returns.
std::string mismatch(const std::vector<UsageRecord>& records, const TreeStats& expected) {
    if (records.size() != expected.distinctMessages) {
        return "scan returned " + std::to_string(records.size()) + " records, expected " +
               std::to_string(expected.distinctMessages);
    }
    return tokenSumsDifference(sumTokens(records), expected.tokens);
}

bool skipIfTreeMissing(benchmark::State& state) {
    const BenchTree& tree = benchTree();
    if (tree.error.empty()) {
        return false;
    }
    state.SkipWithError(tree.error.c_str());
    return true;
}

int runPeakChild(const char* root, const char* fdText) {
    const long baseline = statusKilobytes("VmRSS");
    const auto result = fernhollow::CCUsageParser::parseChanged(root, {}, {});
    const long peak = statusKilobytes("VmHWM");
    char reply[96];
    const int length =
        std::snprintf(reply, sizeof reply, "%ld %ld %zu\n", baseline, peak, result.records.size());
    const int fd = std::atoi(fdText);
    return ::write(fd, reply, static_cast<std::size_t>(length)) == length ? 0 : 1;
}

struct PeakSample {
    double baselineMB = 0.0;
    double peakMB = 0.0;
    std::size_t records = 0;
};

// A forked child counts the parent's resident pages as its own from the start, so the scan
// runs in a freshly executed copy of this program instead: its high-water mark is then the
// program's baseline plus what the scan itself needed.
std::optional<PeakSample> measurePeakInFreshProcess(const fs::path& root) {
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
    const std::string fdText = std::to_string(childFd);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(self.c_str(), self.c_str(), peakChildFlag, rootText.c_str(), fdText.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(childFd);
    std::string reply;
    if (pid > 0) {
        char buffer[128];
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
    PeakSample sample;
    if (!(fields >> baselineKb >> peakKb >> sample.records) || peakKb <= 0) {
        return std::nullopt;
    }
    sample.baselineMB = static_cast<double>(baselineKb) / 1024.0;
    sample.peakMB = static_cast<double>(peakKb) / 1024.0;
    return sample;
}

void BM_FullScan(benchmark::State& state) {
    if (skipIfTreeMissing(state)) {
        return;
    }
    const BenchTree& tree = benchTree();
    // Also warms the page cache, so the first timed scan reads from memory like the rest.
    const auto peak = measurePeakInFreshProcess(tree.root);
    if (!peak) {
        state.SkipWithError("the peak memory measurement in a child process failed");
        return;
    }
    std::size_t records = 0;
    for (auto _ : state) {
        auto result = fernhollow::CCUsageParser::parseChanged(tree.root, {}, {});
        state.PauseTiming();
        records = result.records.size();
        const std::string problem = mismatch(result.records, tree.stats);
        result = {};
        if (!problem.empty()) {
            state.SkipWithError(problem.c_str());
            break;
        }
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * tree.stats.bytes));
    state.counters["records"] = static_cast<double>(records);
    state.counters["expected"] = static_cast<double>(tree.stats.distinctMessages);
    state.counters["child_records"] = static_cast<double>(peak->records);
    state.counters["files"] = static_cast<double>(tree.stats.files);
    state.counters["lines"] = static_cast<double>(tree.stats.lines);
    state.counters["peak_rss_MB"] = peak->peakMB;
    state.counters["baseline_rss_MB"] = peak->baselineMB;
}

void BM_NoChangeScan(benchmark::State& state) {
    if (skipIfTreeMissing(state)) {
        return;
    }
    const BenchTree& tree = benchTree();
    const ScanResult& reference = referenceScan();
    std::vector<UsageRecord> records = reference.records;
    for (auto _ : state) {
        auto result =
            fernhollow::CCUsageParser::parseChanged(tree.root, reference.updatedMtimes, std::move(records));
        records = std::move(result.records);
    }
    if (const std::string problem = mismatch(records, tree.stats); !problem.empty()) {
        state.SkipWithError(problem.c_str());
    }
    state.counters["files"] = static_cast<double>(tree.stats.files);
    state.counters["records"] = static_cast<double>(records.size());
}

// The tree's records cycled to a million and put in time order, as a history view sees them.
const std::vector<UsageRecord>& costRecords() {
    static const std::vector<UsageRecord> records = [] {
        const std::vector<UsageRecord>& source = referenceScan().records;
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

BENCHMARK(BM_FullScan)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_NoChangeScan)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Cost)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string_view(argv[1]) == peakChildFlag) {
        return runPeakChild(argv[2], argv[3]);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
