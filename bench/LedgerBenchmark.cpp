// The usage ledger of a heavy user: 1,000,000 records over a year, in some 5,000 sessions of 50
// projects, a tenth of them OpenClaw's. What the app pays for it: from its start to the first
// figures, a pass that found one new line, every figure of the panel, and the room on disk
// against the state.json that the ledger replaced. The ledger is built once through
// Ledger::apply and kept beside the benchmark trees; each benchmark works on a copy.
#include "BenchSupport.h"
#include "FixedTime.h"
#include "Measure.h"
#include "SyntheticLogs.h"
#include "cli/StatusLineCommand.h"
#include "core/figures/LedgerFigures.h"
#include "core/ledger/Ledger.h"
#include "core/ledger/RecordIdentity.h"
#include "core/ledger/StateFile.h"
#include "core/model/IsoDate.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace fernhollow;
namespace fs = std::filesystem;
using bench::CpuClock;
using bench::day;
using bench::Tally;
using Stopwatch = std::chrono::steady_clock;

constexpr std::size_t recordCount = 1'000'000;
constexpr double benchNow = 1'765'000'000.0; // early on Saturday, 6 December 2025
constexpr double historySpan = 365 * day;
constexpr int projectCount = 50;
// A first scan writes a source's records in one batch; the ledger is built in smaller ones,
// as passes over a growing tree would write it.
constexpr std::size_t sessionsPerBatch = 25;
// Raised whenever the generated history changes, so that a ledger kept from an earlier run is
// built again.
constexpr int historyFormat = 2;

constexpr double firstFiguresGoalMs = 300.0;
constexpr double passCpuGoalMs = 10.0;
constexpr double passWrittenGoalKB = 256.0;
constexpr double panelGoalMs = 30.0;
constexpr double sizeGoalRatio = 0.5;

// ---------------------------------------------------------------------------------------
// The history

struct Session {
    UsageSource source = UsageSource::claudeCode;
    std::vector<UsageRecord> records; // in time order
    std::vector<std::pair<std::string, LogFileState>> files;
};

using bench::Random;

// `length` characters drawn from `alphabet`.
std::string randomText(Random& random, std::string_view alphabet, int length) {
    std::string out;
    for (int i = 0; i < length; ++i) {
        out.push_back(alphabet[random.below(alphabet.size())]);
    }
    return out;
}

constexpr std::string_view base62 = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr std::string_view hex = "0123456789abcdef";

std::string uuidText(Random& random) {
    return std::string(bench::randomUuid(random).view());
}

// A reply's counts as Claude Code logs them: a few fresh input tokens, the conversation read
// from the cache, what it added written to it, mostly for an hour.
void fillCounts(Random& random, UsageRecord& record) {
    record.inputTokens = random.chance(0.05) ? random.between(100, 6'000) : random.between(1, 12);
    record.outputTokens = random.between(1, 4'000);
    record.cacheCreationInputTokens = random.between(0, 20'000);
    record.cacheCreation1hTokens = random.chance(0.7) ? record.cacheCreationInputTokens
                                                      : random.between(0, record.cacheCreationInputTokens);
    record.cacheReadInputTokens = random.chance(0.1) ? 0 : random.between(10'000, 150'000);
}

LogFileState logState(Random& random, const Session& session, std::size_t records) {
    const auto size =
        static_cast<std::uint64_t>(records) * 2'600 + static_cast<std::uint64_t>(random.between(0, 999));
    return {size, session.records.back().timestamp, size, random.next()};
}

Session claudeSession(Random& random, double start, std::size_t count, bool live) {
    constexpr std::string_view haiku = "claude-haiku-4-5-20251001";
    const std::uint64_t roll = random.next() % 100;
    const InternedString main = roll < 68   ? "claude-sonnet-4-5-20250929"
                                : roll < 80 ? "claude-opus-4-5-20251101"
                                : roll < 90 ? "claude-opus-4-1-20250805"
                                            : haiku;
    const InternedString subagentModel = haiku;
    // Some projects are worked on far more than others.
    const auto project = std::min(random.between(0, projectCount - 1), random.between(0, projectCount - 1));
    const InternedString projectName =
        "-home-user-work-client" + std::to_string(project % 7) + "-service-" + std::to_string(project);
    const InternedString sessionId = uuidText(random);

    Session session;
    double t = start;
    for (std::size_t i = 0; i < count; ++i) {
        UsageRecord& record = session.records.emplace_back();
        record.id = Uuid::random();
        record.messageId = "msg_01" + randomText(random, base62, 22);
        record.timestamp = t;
        record.model = random.chance(0.15) ? subagentModel : main;
        fillCounts(random, record);
        record.projectPath = projectName;
        record.sessionId = sessionId;
        t += live ? 30.0 : static_cast<double>(random.between(10, 60)) + random.unit();
    }
    const std::string folder = "/home/user/.claude/projects/" + projectName.str() + "/";
    session.files.emplace_back(folder + sessionId.str() + ".jsonl", logState(random, session, count));
    if (random.chance(0.3)) {
        session.files.emplace_back(folder + sessionId.str() + "/subagents/agent-" +
                                       randomText(random, hex, 8) + ".jsonl",
                                   logState(random, session, count / 5));
    }
    return session;
}

// OpenClaw's providers: Anthropic's replies carry a message id, the others only an event id.
Session openClawSession(Random& random, double start, std::size_t count) {
    static constexpr std::string_view models[] = {"claude-sonnet-4-5", "deepseek-chat", "gpt-5-mini"};
    const std::string agent = random.chance(0.3) ? "coder" : "main";
    const InternedString project = "openclaw/" + agent;
    const InternedString sessionId = uuidText(random);
    const InternedString model = models[random.next() % std::size(models)];
    Session session;
    session.source = UsageSource::openClaw;
    double t = start;
    for (std::size_t i = 0; i < count; ++i) {
        UsageRecord& record = session.records.emplace_back();
        record.id = Uuid::random();
        record.messageId = model.str().starts_with("claude") ? "msg_01" + randomText(random, base62, 22)
                                                             : "event:" + randomText(random, hex, 8) + "@" +
                                                                   isodate::formatUtcWholeSeconds(t);
        record.timestamp = t;
        record.model = model;
        fillCounts(random, record);
        record.projectPath = project;
        record.sessionId = sessionId;
        t += static_cast<double>(random.between(5, 90)) + random.unit();
    }
    session.files.emplace_back("/home/user/.openclaw/agents/" + agent + "/sessions/" + sessionId.str() +
                                   ".jsonl",
                               logState(random, session, count));
    return session;
}

// Sessions of 50 to 350 records, begun at random over the last year, oldest first; the last
// one is still running, its newest record 20 seconds old.
std::vector<Session> heavyUserHistory() {
    Random random(20'251'206);
    std::vector<std::size_t> counts;
    for (std::size_t total = 0; total < recordCount;) {
        counts.push_back(
            std::min<std::size_t>(static_cast<std::size_t>(random.between(50, 350)), recordCount - total));
        total += counts.back();
    }
    std::vector<double> starts;
    for (std::size_t s = 0; s + 1 < counts.size(); ++s) {
        starts.push_back(benchNow - historySpan + random.unit() * (historySpan - day));
    }
    std::sort(starts.begin(), starts.end());
    starts.push_back(benchNow - 20.0 - 30.0 * static_cast<double>(counts.back() - 1));

    std::vector<Session> sessions;
    sessions.reserve(counts.size());
    for (std::size_t s = 0; s < counts.size(); ++s) {
        const bool live = s + 1 == counts.size();
        sessions.push_back(s % 10 == 9 && !live ? openClawSession(random, starts[s], counts[s])
                                                : claudeSession(random, starts[s], counts[s], live));
    }
    return sessions;
}

const std::vector<Session>& sharedHistory() {
    static const std::vector<Session> sessions = heavyUserHistory();
    return sessions;
}

std::vector<LedgerBatch> batchesOf(const std::vector<Session>& sessions) {
    std::vector<LedgerBatch> batches;
    for (std::size_t first = 0; first < sessions.size(); first += sessionsPerBatch) {
        LedgerBatch claude{UsageSource::claudeCode, RecordRule::keepLarger, {}, {}, {}};
        LedgerBatch openClaw{UsageSource::openClaw, RecordRule::keepLarger, {}, {}, {}};
        for (std::size_t s = first; s < std::min(first + sessionsPerBatch, sessions.size()); ++s) {
            LedgerBatch& batch = sessions[s].source == UsageSource::claudeCode ? claude : openClaw;
            batch.records.insert(batch.records.end(), sessions[s].records.begin(), sessions[s].records.end());
            batch.files.insert(batch.files.end(), sessions[s].files.begin(), sessions[s].files.end());
        }
        batches.push_back(std::move(claude));
        batches.push_back(std::move(openClaw));
    }
    return batches;
}

// ---------------------------------------------------------------------------------------
// The ledger file, built once

struct BuiltLedger {
    fs::path path;
    std::string note; // how it was built, or why it could not be
    bool ok = false;
};

// The tables, indexes and triggers of a new ledger, hashed: a ledger kept from an earlier run
// is used only if the schema it was made with is today's, whatever its version number says.
std::string schemaFingerprint() {
    const fs::path scratch = bench::makeScratchFolder("schema");
    const fs::path path = scratch / Ledger::fileName;
    Ledger{path};
    std::string schema;
    {
        sqlite::Database db(path, sqlite::Database::Mode::readOnly);
        auto select =
            db.prepare("SELECT group_concat(sql, ';') FROM (SELECT sql FROM sqlite_schema ORDER BY name)");
        if (select.step()) {
            schema = select.text(0);
        }
        select.run();
    }
    fs::remove_all(scratch);
    char fingerprint[24];
    std::snprintf(fingerprint, sizeof fingerprint, "%016llx",
                  static_cast<unsigned long long>(bytesHash(schema)));
    return fingerprint;
}

BuiltLedger buildOrReuseLedger() {
    try {
        const fs::path folder =
            bench::benchDataFolder() / ("ledger-" + std::to_string(recordCount) + "-schema-" +
                                        schemaFingerprint() + "-history" + std::to_string(historyFormat));
        const fs::path path = folder / Ledger::fileName;
        const fs::path stamp = folder / "stamp";
        if (std::ifstream in(stamp); in) {
            std::string note;
            std::getline(in, note);
            return {path, note + " (kept from an earlier run)", true};
        }
        fs::remove_all(folder);
        fs::create_directories(folder);
        const fs::path building = folder / "building.sqlite3";
        std::fprintf(stderr, "building %s ...\n", path.c_str());
        const std::vector<LedgerBatch> batches = batchesOf(sharedHistory());
        const auto started = Stopwatch::now();
        {
            Ledger ledger(building);
            for (const LedgerBatch& batch : batches) {
                ledger.apply(batch);
            }
        }
        const std::chrono::duration<double> took = Stopwatch::now() - started;
        fs::rename(building, path);
        char note[160];
        std::snprintf(note, sizeof note, "built through Ledger::apply in %zu batches in %.1f s",
                      batches.size(), took.count());
        std::ofstream(stamp) << note << "\n";
        return {path, note, true};
    } catch (const std::exception& error) {
        return {{}, std::string("cannot build the ledger: ") + error.what(), false};
    }
}

const BuiltLedger& builtLedger() {
    static const BuiltLedger built = [] {
        BuiltLedger ledger = buildOrReuseLedger();
        std::fprintf(stderr, "%s: %s\n", ledger.path.c_str(), ledger.note.c_str());
        return ledger;
    }();
    return built;
}

// A copy of the built ledger in a scratch folder of its own, removed at exit; the copy is on
// the disk, not only in the page cache, so that its pages can be dropped from the cache.
class LedgerCopy {
public:
    explicit LedgerCopy(std::string_view purpose)
        : folder_(bench::makeScratchFolder(purpose)), path_(folder_ / Ledger::fileName) {
        fs::copy_file(builtLedger().path, path_);
        const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
    }
    ~LedgerCopy() {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    LedgerCopy(const LedgerCopy&) = delete;
    LedgerCopy& operator=(const LedgerCopy&) = delete;

    const fs::path& path() const { return path_; }

    // As after a reboot: the next read of the ledger comes from the disk.
    void dropFromPageCache() const {
        for (const char* suffix : {"", "-wal"}) {
            const int fd = ::open((path_.string() + suffix).c_str(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0) {
                ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
                ::close(fd);
            }
        }
    }

private:
    fs::path folder_;
    fs::path path_;
};

bool skipIfNoLedger(benchmark::State& state) {
    if (builtLedger().ok) {
        return false;
    }
    state.SkipWithError(builtLedger().note.c_str());
    return true;
}

// ---------------------------------------------------------------------------------------
// The benchmarks

const bench::FixedClock benchClock(benchNow);
const bench::FixedOffsetCalendar benchCalendar;

std::int64_t recordTotal(Ledger& ledger) {
    std::int64_t records = 0;
    for (const auto& [source, count] : ledger.recordCounts()) {
        records += count;
    }
    return records;
}

// What the store does once it has a ledger, and after each pass: the panel's figures and the
// record counts the settings window shows.
std::int64_t publishFigures(Ledger& ledger) {
    benchmark::DoNotOptimize(LedgerFigures::snapshot(ledger, benchClock, benchCalendar));
    return recordTotal(ledger);
}

// Whether every pass's record landed in the ledger.
bool holdsEveryPass(Ledger& ledger, const benchmark::State& state) {
    return recordTotal(ledger) == static_cast<std::int64_t>(recordCount) + state.iterations();
}

// (a) From the app's start to its first figures: a new connection, the schema checked, the
// figures and counts; with the ledger in the page cache, and read from the disk as after a
// reboot.
void BM_FirstFigures(benchmark::State& state) {
    if (skipIfNoLedger(state)) {
        return;
    }
    const bool cold = state.range(0) != 0;
    const LedgerCopy copy(cold ? "first-figures-cold" : "first-figures-warm");
    Tally tally;
    std::int64_t records = 0;
    for (auto _ : state) {
        if (cold) {
            copy.dropFromPageCache();
        }
        std::unique_ptr<Ledger> ledger;
        bench::measure(state, tally, CpuClock::thread, [&] {
            ledger = std::make_unique<Ledger>(copy.path());
            records = publishFigures(*ledger);
        });
    }
    if (records != static_cast<std::int64_t>(recordCount)) {
        state.SkipWithError("the ledger does not hold the records it was built with");
        return;
    }
    state.counters["cpu_ms"] = Tally::mean(tally.cpuMs);
    state.counters["records"] = static_cast<double>(records);
    bench::noteGoal(cold ? "a2" : "a1",
                    cold ? "(a) app start to the first figures, ledger read from the disk"
                         : "(a) app start to the first figures, ledger in the page cache",
                    Tally::mean(tally.wallMs), 1, "ms", firstFiguresGoalMs);
}
BENCHMARK(BM_FirstFigures)
    ->ArgName("cold")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);

// The live session's next reply and its log grown by one line, as a pass writes them.
class LiveSessionAppender {
public:
    explicit LiveSessionAppender(Ledger& ledger) {
        const auto live = ledger.sessionsActiveSince(UsageSource::claudeCode, benchNow - 300.0);
        if (live.empty()) {
            return;
        }
        reply_ = live.back();
        const std::string path = "/home/user/.claude/projects/" + reply_.projectPath.str() + "/" +
                                 reply_.sessionId.str() + ".jsonl";
        const LogFileStates states = ledger.fileStates(UsageSource::claudeCode);
        if (const auto it = states.find(path); it != states.end()) {
            log_ = {path, it->second};
        }
    }

    bool found() const { return !log_.first.empty(); }

    LedgerBatch next() {
        ++appended_;
        UsageRecord reply = reply_;
        reply.messageId = "msg_01benchLiveReply" + std::to_string(appended_);
        reply.timestamp = benchNow - 15.0 + 0.001 * static_cast<double>(appended_);
        auto& [path, state] = log_;
        state.size += 2'600;
        state.readEnd = state.size;
        state.mtime = reply.timestamp;
        state.windowHash = appended_;
        return {UsageSource::claudeCode, RecordRule::keepLarger, {reply}, {log_}, {}};
    }

private:
    UsageRecord reply_;
    std::pair<std::string, LogFileState> log_;
    std::uint64_t appended_ = 0;
};

constexpr std::int64_t appendPasses = 2'000;

void notePass(const std::string& key, const std::string& what, const Tally& tally) {
    bench::noteGoal(key + "1", what + ": CPU", Tally::mean(tally.cpuMs), 2, "ms", passCpuGoalMs);
    bench::noteGoal(key + "2", what + ": written, mean", Tally::mean(tally.writtenKB), 1, "KB",
                    passWrittenGoalKB);
    bench::noteGoal(key + "3", what + ": written, largest (checkpoint)", Tally::largest(tally.writtenKB), 1,
                    "KB", passWrittenGoalKB);
}

void passCounters(benchmark::State& state, const Tally& tally, const fs::path& path) {
    state.counters["cpu_ms"] = Tally::mean(tally.cpuMs);
    state.counters["written_KB"] = Tally::mean(tally.writtenKB);
    state.counters["written_max_KB"] = Tally::largest(tally.writtenKB);
    state.counters["dirtied_KB"] = Tally::mean(tally.dirtiedKB);
    std::error_code ignored;
    const auto walBytes = fs::file_size(path.string() + "-wal", ignored);
    state.counters["wal_KB"] = ignored ? 0.0 : static_cast<double>(walBytes) / 1024.0;
}

// (b) A pass after the agent appended one line: the one new record and its log's new state
// written in one transaction, on a connection kept open.
void BM_PassAfterOneLine(benchmark::State& state) {
    if (skipIfNoLedger(state)) {
        return;
    }
    const LedgerCopy copy("pass-apply");
    Ledger ledger(copy.path());
    LiveSessionAppender appender(ledger);
    if (!appender.found()) {
        state.SkipWithError("the ledger has no live session with a log");
        return;
    }
    Tally tally;
    for (auto _ : state) {
        const LedgerBatch batch = appender.next();
        bench::measure(state, tally, CpuClock::thread, [&] { ledger.apply(batch); });
    }
    if (!holdsEveryPass(ledger, state)) {
        state.SkipWithError("a pass's record is missing from the ledger");
        return;
    }
    passCounters(state, tally, copy.path());
    notePass("b1", "(b) one-line batch applied", tally);
}
BENCHMARK(BM_PassAfterOneLine)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(appendPasses);

// The same pass as the store makes it: a connection of its own opened on the scanning thread,
// the log states read, the batch applied, the connection closed; then the figures taken
// again on the store's connection, which stays open meanwhile.
void BM_PassAfterOneLineAsTheStoreDoes(benchmark::State& state) {
    if (skipIfNoLedger(state)) {
        return;
    }
    const LedgerCopy copy("pass-store");
    Ledger main(copy.path());
    publishFigures(main);
    LiveSessionAppender appender(main);
    if (!appender.found()) {
        state.SkipWithError("the ledger has no live session with a log");
        return;
    }
    Tally tally;
    for (auto _ : state) {
        const LedgerBatch batch = appender.next();
        bench::measure(state, tally, CpuClock::thread, [&] {
            {
                Ledger pass(copy.path());
                benchmark::DoNotOptimize(pass.fileStates(UsageSource::claudeCode));
                pass.apply(batch);
            }
            publishFigures(main);
        });
    }
    if (!holdsEveryPass(main, state)) {
        state.SkipWithError("a pass's record is missing from the ledger");
        return;
    }
    passCounters(state, tally, copy.path());
    notePass("b2", "(b) one-line pass as the store makes it", tally);
}
BENCHMARK(BM_PassAfterOneLineAsTheStoreDoes)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(appendPasses / 10);

bool near(double a, double b) {
    return std::abs(a - b) <= 1e-9 * std::max(std::abs(a), std::abs(b)) + 1e-9;
}

// What differs between the figures taken from the ledger and those computed from the records
// themselves; empty when they agree up to the rounding of sums taken in another order.
std::string figuresDifference(const UsageAggregates::UsageSnapshot& got,
                              const UsageAggregates::UsageSnapshot& want) {
    std::string differences;
    const auto check = [&](bool same, const char* what) {
        if (!same) {
            differences += differences.empty() ? what : std::string(", ") + what;
        }
    };
    check(near(got.todayUSD, want.todayUSD), "today");
    check(near(got.weekUSD, want.weekUSD), "week");
    check(near(got.monthUSD, want.monthUSD), "month");
    check(near(got.last30DaysUSD, want.last30DaysUSD), "last 30 days");
    check(near(got.avg7dPriorDaily, want.avg7dPriorDaily), "prior week's daily mean");
    check(std::equal(got.dailySeries.begin(), got.dailySeries.end(), want.dailySeries.begin(),
                     want.dailySeries.end(),
                     [](const auto& a, const auto& b) { return a.date == b.date && near(a.usd, b.usd); }),
          "daily series");
    check(std::equal(got.monthByModel.begin(), got.monthByModel.end(), want.monthByModel.begin(),
                     want.monthByModel.end(),
                     [](const auto& a, const auto& b) { return a.model == b.model && near(a.usd, b.usd); }),
          "month by model");
    check(
        std::equal(got.monthByProject.begin(), got.monthByProject.end(), want.monthByProject.begin(),
                   want.monthByProject.end(),
                   [](const auto& a, const auto& b) { return a.project == b.project && near(a.usd, b.usd); }),
        "month by project");
    check(std::equal(got.liveSessions.begin(), got.liveSessions.end(), want.liveSessions.begin(),
                     want.liveSessions.end(),
                     [](const auto& a, const auto& b) {
                         return a.id == b.id && near(a.totalUSD, b.totalUSD) &&
                                a.totalTokens == b.totalTokens && a.messageCount == b.messageCount &&
                                a.model == b.model && std::abs(a.lastActivity - b.lastActivity) < 1e-3;
                     }),
          "live sessions");
    check(got.unpricedModels == want.unpricedModels, "unpriced models");
    check(got.unpricedRecords == want.unpricedRecords, "unpriced records");
    check(near(got.unpricedUSDAtFallback, want.unpricedUSDAtFallback), "unpriced spend at the fallback rate");
    return differences;
}

// The figures of the generated records themselves, as the store computed them before the ledger.
UsageAggregates::UsageSnapshot figuresOfRecords() {
    std::vector<UsageRecord> claude;
    std::vector<UsageRecord> openClaw;
    for (const Session& session : sharedHistory()) {
        auto& list = session.source == UsageSource::claudeCode ? claude : openClaw;
        list.insert(list.end(), session.records.begin(), session.records.end());
    }
    const auto byTime = [](const UsageRecord& a, const UsageRecord& b) { return a.timestamp < b.timestamp; };
    std::stable_sort(claude.begin(), claude.end(), byTime);
    std::stable_sort(openClaw.begin(), openClaw.end(), byTime);
    return UsageAggregates::computeSnapshot({claude, openClaw, {}}, benchClock, benchCalendar);
}

// (c) Every figure of the panel, on the store's open connection.
void BM_PanelFigures(benchmark::State& state) {
    if (skipIfNoLedger(state)) {
        return;
    }
    const LedgerCopy copy("panel");
    Ledger ledger(copy.path());
    UsageAggregates::UsageSnapshot figures = LedgerFigures::snapshot(ledger, benchClock, benchCalendar);
    Tally tally;
    for (auto _ : state) {
        bench::measure(state, tally, CpuClock::thread,
                       [&] { figures = LedgerFigures::snapshot(ledger, benchClock, benchCalendar); });
    }
    if (const std::string difference = figuresDifference(figures, figuresOfRecords()); !difference.empty()) {
        state.SkipWithError(("the ledger's figures differ from the records' in: " + difference).c_str());
        return;
    }
    state.counters["cpu_ms"] = Tally::mean(tally.cpuMs);
    state.counters["month_usd"] = figures.monthUSD;
    state.counters["live_sessions"] = static_cast<double>(figures.liveSessions.size());
    state.counters["projects"] = static_cast<double>(figures.monthByProject.size());
    bench::noteGoal("c1", "(c) every panel figure on an open ledger", Tally::mean(tally.wallMs), 1, "ms",
                    panelGoalMs);
}
BENCHMARK(BM_PanelFigures)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(50);

std::int64_t pragma(sqlite::Database& db, const std::string& name) {
    auto statement = db.prepare("PRAGMA " + name);
    std::int64_t value = 0;
    if (statement.step()) {
        value = statement.integer(0);
    }
    statement.run();
    return value;
}

// (d) The ledger on disk against state.json for the same records and logs.
void BM_SizeOnDisk(benchmark::State& state) {
    if (skipIfNoLedger(state)) {
        return;
    }
    const fs::path& path = builtLedger().path;
    PersistedState cache;
    for (const Session& session : sharedHistory()) {
        cache.records.insert(cache.records.end(), session.records.begin(), session.records.end());
        for (const auto& [log, logState] : session.files) {
            cache.fileMtimes[log] = logState.mtime;
        }
    }
    const fs::path scratch = bench::makeScratchFolder("size");
    const fs::path vacuumed = scratch / "vacuumed.sqlite3";
    std::size_t stateBytes = 0;
    std::int64_t freePages = 0;
    for (auto _ : state) {
        stateBytes = 0;
        for (const std::string& piece : encodeStatePieces(cache)) {
            stateBytes += piece.size();
        }
        sqlite::Database db(path, sqlite::Database::Mode::readOnly);
        freePages = pragma(db, "freelist_count") * pragma(db, "page_size");
        db.execute("VACUUM INTO '" + vacuumed.string() + "'");
    }
    const auto ledgerBytes = static_cast<double>(fs::file_size(path));
    const auto vacuumedBytes = static_cast<double>(fs::file_size(vacuumed));
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    state.counters["ledger_MB"] = ledgerBytes / 1e6;
    state.counters["ledger_free_MB"] = static_cast<double>(freePages) / 1e6;
    state.counters["vacuumed_MB"] = vacuumedBytes / 1e6;
    state.counters["state_json_MB"] = static_cast<double>(stateBytes) / 1e6;
    state.counters["ledger_B_per_record"] = ledgerBytes / static_cast<double>(recordCount);
    char what[120];
    std::snprintf(what, sizeof what, "(d) ledger on disk / state.json (%.1f MB / %.1f MB)", ledgerBytes / 1e6,
                  static_cast<double>(stateBytes) / 1e6);
    bench::noteGoal("d1", what, ledgerBytes / static_cast<double>(stateBytes), 2, "", sizeGoalRatio);
}
BENCHMARK(BM_SizeOnDisk)->Unit(benchmark::kMillisecond)->Iterations(1);

// (e) Claude Code's status line as the statusline command computes it once started: its input
// read, the plan reading recorded, the session's spend from the ledger and the newest part of a
// transcript the ledger never read, today's and the month's spend, the budget, the 5-hour window.
// Arg 0: the tray app idle; arg 1: a pass writing a new record every 50 ms meanwhile. The
// process's own start is measured by (f).
constexpr double statusLineGoalMs = 20.0;

double percentile99(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(values.size())));
    return values.empty() ? 0.0 : values[rank - 1];
}

// A data and configuration folder of its own holding a copy of the built ledger, named by the
// XDG variables, as the status line finds the app's.
class StatusLineHome {
public:
    StatusLineHome() : folder_(bench::makeScratchFolder("statusline")) {
        fs::create_directories(folder_ / "data/Fernhollow");
        fs::copy_file(builtLedger().path, ledgerPath());
        ::setenv("XDG_DATA_HOME", (folder_ / "data").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (folder_ / "config").c_str(), 1);
        ::setenv("NO_COLOR", "1", 1);
    }
    ~StatusLineHome() {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    StatusLineHome(const StatusLineHome&) = delete;
    StatusLineHome& operator=(const StatusLineHome&) = delete;

    fs::path ledgerPath() const { return folder_ / "data/Fernhollow" / Ledger::fileName; }

    // What Claude Code pipes in for the live session, with a transcript of 2 MB that the ledger
    // has not read: a session begun since the app's last pass.
    std::string input(Ledger& ledger) const {
        const auto live = ledger.sessionsActiveSince(UsageSource::claudeCode, benchNow - 300.0);
        const std::string session = live.empty() ? "none" : live.back().sessionId.str();
        const fs::path transcript = folder_ / (session + ".jsonl");
        std::ofstream out(transcript);
        for (int i = 0; out.tellp() < 2'000'000; ++i) {
            out << R"({"type":"assistant","timestamp":")"
                << isodate::formatUtcWholeSeconds(benchNow - 600.0 + i) << R"(","message":{"id":"msg_tail)"
                << i
                << R"(","model":"claude-sonnet-4-5","role":"assistant","content":[{"type":"text","text":")"
                << std::string(2'000, 'x')
                << R"("}],"usage":{"input_tokens":3,"output_tokens":200,"cache_read_input_tokens":40000}}})"
                << "\n";
        }
        return R"({"session_id":")" + session + R"(","transcript_path":")" + transcript.string() +
               R"(","model":{"id":"claude-sonnet-4-5","display_name":"Sonnet 4.5"},"rate_limits":{"five_hour":{"used_percentage":42,"resets_at":)" +
               std::to_string(static_cast<long long>(benchNow) + 3600) + "}}}";
    }

private:
    fs::path folder_;
};

void BM_StatusLine(benchmark::State& state) {
    if (skipIfNoLedger(state)) {
        return;
    }
    const StatusLineHome home;
    Ledger app(home.ledgerPath());
    const std::string input = home.input(app);
    std::atomic<bool> stop{false};
    std::thread passes;
    if (state.range(0) == 1) {
        passes = std::thread([&] {
            LiveSessionAppender appender(app);
            while (!stop && appender.found()) {
                app.apply(appender.next());
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
    }
    Tally tally;
    std::string line;
    for (auto _ : state) {
        bench::measure(state, tally, CpuClock::thread, [&] {
            std::istringstream in(input);
            std::ostringstream out;
            std::ostringstream err;
            runStatusLineCommand({}, in, out, err, benchClock);
            line = out.str();
        });
    }
    stop = true;
    if (passes.joinable()) {
        passes.join();
    }
    if (line.find("today $") == std::string::npos || line.find("session $") == std::string::npos) {
        state.SkipWithError(("the status line lacks a figure: " + line).c_str());
        return;
    }
    state.counters["p99_ms"] = percentile99(tally.wallMs);
    state.counters["cpu_ms"] = Tally::mean(tally.cpuMs);
    bench::noteGoal(state.range(0) == 1 ? "e2" : "e1",
                    state.range(0) == 1 ? "(e) status line, p99, a pass every 50 ms"
                                        : "(e) status line, p99, app idle",
                    percentile99(tally.wallMs), 1, "ms", statusLineGoalMs);
}
BENCHMARK(BM_StatusLine)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(300);

// Starts `program` with `input` on its standard input and waits for its exit.
void runToExit(const char* path, const fs::path& input) {
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input.c_str(), O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::string program(path);
    char* arguments[] = {program.data(), nullptr};
    pid_t child = 0;
    if (::posix_spawn(&child, program.c_str(), &actions, nullptr, arguments, environ) == 0) {
        int status = 0;
        ::waitpid(child, &status, 0);
    }
    ::posix_spawn_file_actions_destroy(&actions);
}

// (f) The status line program from its start to its exit, with the same ledger and input, as
// Claude Code runs it: what the dynamic loader and the libraries cost on top of (e). The clock
// is the system's here, so the day's figures are of a day without records. `true_p99_ms`: the
// same for /bin/true, what any program costs this machine to start and end.
void BM_StatusLineProcess(benchmark::State& state) {
    if (skipIfNoLedger(state)) {
        return;
    }
    const StatusLineHome home;
    const fs::path inputFile = bench::makeScratchFolder("statusline-input") / "input.json";
    {
        Ledger app(home.ledgerPath());
        std::ofstream(inputFile) << home.input(app);
    }
    Tally tally;
    std::vector<double> floorMs;
    for (auto _ : state) {
        bench::measure(state, tally, CpuClock::process,
                       [&] { runToExit(FERNHOLLOW_STATUSLINE_BINARY, inputFile); });
        const auto started = std::chrono::steady_clock::now();
        runToExit("/bin/true", inputFile);
        floorMs.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
    }
    std::error_code ignored;
    fs::remove_all(inputFile.parent_path(), ignored);
    state.counters["p99_ms"] = percentile99(tally.wallMs);
    state.counters["true_p99_ms"] = percentile99(floorMs);
    bench::noteGoal("f1", "(f) status line program, start to exit, p99", percentile99(tally.wallMs), 1, "ms",
                    statusLineGoalMs);
}
BENCHMARK(BM_StatusLineProcess)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(200);

} // namespace

int main(int argc, char** argv) {
    return bench::runBenchmarksAndGoals(argc, argv);
}
