// An OpenClaw agent database of 1,000,000 transcript events (2,000 sessions of 500 events, two
// in five of them replies that carry usage, one in five kept compressed only), as OpenClaw
// 2026.8.1 and later keeps its live sessions. What a pass pays for it: the first read of the
// whole database, a pass after the gateway wrote 10 new events, and an idle pass. The database
// is built once and kept beside the other benchmark data; the passes that write work on a copy.
#include "BenchSupport.h"
#include "Measure.h"
#include "core/ledger/Sqlite.h"
#include "core/sources/OpenClawParser.h"

#include <benchmark/benchmark.h>
#include <zstd.h>

#include <cstdio>
#include <string>

namespace {

using namespace fernhollow;
namespace fs = std::filesystem;
using bench::CpuClock;
using bench::Tally;
using bench::TokenSums;
using bench::TreeStats;

constexpr int sessionCount = 2'000;
constexpr int eventsPerSession = 500;
constexpr int newEventsPerPass = 10;
// Raised whenever the generated database changes, so that one kept from an earlier run is
// built again.
constexpr int databaseFormat = 1;

constexpr double firstReadGoalMs = 3'000.0;
constexpr double newEventsGoalMs = 20.0;
constexpr double idleGoalMs = 1.0;

std::string sessionId(int session) {
    char id[40];
    std::snprintf(id, sizeof id, "5e55%04x-7b1d-4c55-9a0e-5d2c8f4b%04x", session, session);
    return id;
}

// One event as the gateway writes it: a user turn, a reply with its usage, or a tool's result,
// each with the text such events carry.
std::string eventJson(int session, int seq, TokenSums& sums) {
    const std::string id = std::to_string(session) + "-" + std::to_string(seq);
    char timestamp[32];
    std::snprintf(timestamp, sizeof timestamp, "2026-09-%02dT%02d:%02d:%02d.%03dZ", 1 + session % 28,
                  seq / 60 % 24, seq % 60, session % 60, seq % 1000);
    const std::string head = R"({"type":"message","id":")" + id + R"(","timestamp":")" + timestamp + R"(",)";
    const std::string text(180 + seq % 7 * 40, "lorem ipsum dolor sit amet "[seq % 27]);
    switch (seq % 5) {
    case 0:
        return head + R"("message":{"role":"user","content":[{"type":"text","text":")" + text + R"("}]}})";
    case 1:
    case 3: {
        const std::int64_t input = 3 + seq % 11;
        const std::int64_t output = 200 + seq % 500;
        const std::int64_t cacheRead = 20'000 + seq * 17;
        const std::int64_t cacheWrite = seq % 13 == 0 ? 1'500 : 0;
        sums += TokenSums{input, output, cacheWrite, 0, cacheRead};
        return head + R"("message":{"role":"assistant","content":[{"type":"text","text":")" + text +
               R"("}],"api":"anthropic-messages","provider":"anthropic","model":"claude-sonnet-4-5",)"
               R"("usage":{"input":)" +
               std::to_string(input) + R"(,"output":)" + std::to_string(output) + R"(,"cacheRead":)" +
               std::to_string(cacheRead) + R"(,"cacheWrite":)" + std::to_string(cacheWrite) +
               R"(,"totalTokens":)" + std::to_string(input + output + cacheRead + cacheWrite) +
               R"(,"cost":{"total":0.01}},"stopReason":"toolUse"}})";
    }
    default:
        return head +
               R"("message":{"role":"toolResult","toolName":"exec","content":[{"type":"text","text":")" +
               text + text + R"("}]}})";
    }
}

// Inserts events of `session` from `firstSeq` on, one in five compressed only.
void insertEvents(sqlite::Database& db, int session, int firstSeq, int count, TokenSums& sums) {
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db.handle(),
                       "INSERT INTO transcript_events(session_id, seq, event_json, event_zstd, created_at) "
                       "VALUES(?1, ?2, ?3, ?4, ?2)",
                       -1, &insert, nullptr);
    const std::string id = sessionId(session);
    std::string compressed;
    for (int seq = firstSeq; seq < firstSeq + count; ++seq) {
        const std::string event = eventJson(session, seq, sums);
        sqlite3_bind_text(insert, 1, id.data(), static_cast<int>(id.size()), SQLITE_STATIC);
        sqlite3_bind_int(insert, 2, seq);
        if (seq % 5 == 4) {
            compressed.resize(ZSTD_compressBound(event.size()));
            compressed.resize(
                ZSTD_compress(compressed.data(), compressed.size(), event.data(), event.size(), 3));
            sqlite3_bind_null(insert, 3);
            sqlite3_bind_blob(insert, 4, compressed.data(), static_cast<int>(compressed.size()),
                              SQLITE_STATIC);
        } else {
            sqlite3_bind_text(insert, 3, event.data(), static_cast<int>(event.size()), SQLITE_STATIC);
            sqlite3_bind_null(insert, 4);
        }
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
}

TreeStats generateDatabase(const fs::path& agentsRoot) {
    const fs::path path = agentsRoot / "main/agent/openclaw-agent.sqlite";
    fs::create_directories(path.parent_path());
    sqlite::Database db(path, sqlite::Database::Mode::readWriteCreate);
    db.execute("PRAGMA journal_mode = WAL");
    db.execute(
        "CREATE TABLE transcript_events(session_id TEXT NOT NULL, seq INTEGER NOT NULL, event_json TEXT, "
        "event_zstd BLOB, created_at INTEGER NOT NULL, PRIMARY KEY(session_id, seq))");
    TreeStats stats;
    db.execute("BEGIN");
    for (int session = 0; session < sessionCount; ++session) {
        insertEvents(db, session, 0, eventsPerSession, stats.tokens);
    }
    db.execute("COMMIT");
    stats.files = 1;
    stats.lines = static_cast<std::size_t>(sessionCount) * eventsPerSession;
    stats.usageLines = stats.lines * 2 / 5;
    stats.distinctMessages = stats.usageLines;
    stats.bytes = fs::file_size(path);
    return stats;
}

const bench::BenchTree& benchDatabase() {
    static const bench::BenchTree tree =
        bench::cachedTree("openclaw-db-" + std::to_string(sessionCount * eventsPerSession), databaseFormat,
                          "agents", generateDatabase);
    return tree;
}

LogFileStates statesAfter(const ScanResult& result, LogFileStates states = {}) {
    for (const auto& [key, state] : result.files) {
        states[key] = state;
    }
    return states;
}

// (a) The first pass over the database: every event read and its records counted.
void BM_FirstRead(benchmark::State& state) {
    const auto& tree = benchDatabase();
    if (!tree.error.empty()) {
        state.SkipWithError(tree.error.c_str());
        return;
    }
    Tally tally;
    ScanResult result;
    for (auto _ : state) {
        bench::measure(state, tally, CpuClock::process,
                       [&] { result = OpenClawParser::parseChanged(tree.root, {}, false); });
    }
    TokenSums sums;
    for (const UsageRecord& record : result.records) {
        sums += TokenSums{record.inputTokens, record.outputTokens, record.cacheCreationInputTokens, 0,
                          record.cacheReadInputTokens};
    }
    if (result.records.size() != tree.stats.distinctMessages) {
        state.SkipWithError("the first read did not find every reply");
        return;
    }
    if (const std::string difference = bench::tokenSumsDifference(sums, tree.stats.tokens);
        !difference.empty()) {
        state.SkipWithError(difference.c_str());
        return;
    }
    state.counters["cpu_ms"] = Tally::mean(tally.cpuMs);
    state.counters["records"] = static_cast<double>(result.records.size());
    state.counters["MB_read"] = static_cast<double>(result.bytesRead) / 1e6;
    bench::noteGoal("a1", "(a) first read of a 1,000,000-event database", Tally::mean(tally.wallMs), 0, "ms",
                    firstReadGoalMs);
}
BENCHMARK(BM_FirstRead)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// (b) The gateway wrote 10 events to one session since the last pass; (c) it wrote nothing.
void BM_LaterPass(benchmark::State& state) {
    const auto& tree = benchDatabase();
    if (!tree.error.empty()) {
        state.SkipWithError(tree.error.c_str());
        return;
    }
    const bool idle = state.range(0) != 0;
    const fs::path copy = bench::makeScratchFolder(idle ? "openclaw-idle" : "openclaw-new");
    fs::copy(tree.root, copy / "agents", fs::copy_options::recursive);
    LogFileStates known = statesAfter(OpenClawParser::parseChanged(copy / "agents", {}, false));
    sqlite::Database gateway(copy / "agents/main/agent/openclaw-agent.sqlite",
                             sqlite::Database::Mode::readWriteCreate);
    Tally tally;
    TokenSums written;
    TokenSums found;
    int nextSeq = eventsPerSession;
    for (auto _ : state) {
        if (!idle) {
            insertEvents(gateway, nextSeq % sessionCount, nextSeq, newEventsPerPass, written);
            nextSeq += newEventsPerPass;
        }
        ScanResult result;
        bench::measure(state, tally, CpuClock::process,
                       [&] { result = OpenClawParser::parseChanged(copy / "agents", known, false); });
        for (const UsageRecord& record : result.records) {
            found += TokenSums{record.inputTokens, record.outputTokens, record.cacheCreationInputTokens, 0,
                               record.cacheReadInputTokens};
        }
        known = statesAfter(result, std::move(known));
    }
    fs::remove_all(copy);
    if (const std::string difference = bench::tokenSumsDifference(found, written); !difference.empty()) {
        state.SkipWithError(difference.c_str());
        return;
    }
    state.counters["cpu_ms"] = Tally::mean(tally.cpuMs);
    bench::noteGoal(idle ? "c1" : "b1",
                    idle ? "(c) an idle pass over the database" : "(b) a pass after 10 new events, mean",
                    Tally::mean(tally.wallMs), 2, "ms", idle ? idleGoalMs : newEventsGoalMs);
    if (!idle) {
        bench::noteGoal("b2", "(b) a pass after 10 new events, slowest", Tally::largest(tally.wallMs), 2,
                        "ms", newEventsGoalMs);
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
