// The panel's figures over the history of a heavy user: 1,000,000 records of the last 60 days.
#include "FixedTime.h"
#include "core/figures/UsageAggregates.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace fernhollow;
using namespace fernhollow::UsageAggregates;
using fernhollow::bench::day;
using fernhollow::bench::FixedClock;
using fernhollow::bench::FixedOffsetCalendar;

constexpr double benchNow = 1'765'000'000.0; // early on Saturday, 6 December 2025
constexpr int claudeSessions = 5'000;
constexpr int recordsPerClaudeSession = 180;
constexpr int openClawRecords = 80'000;
constexpr int openAIRecords = 20'000;

struct History {
    std::vector<UsageRecord> claudeCode;
    std::vector<UsageRecord> openClaw;
    std::vector<UsageRecord> openAI;
    UsageLists lists() const { return {claudeCode, openClaw, openAI}; }
};

UsageRecord record(std::mt19937_64& random, double timestamp, const InternedString& model,
                   const InternedString& project, const InternedString& session) {
    std::uniform_int_distribution<std::int64_t> small(0, 3'000);
    std::uniform_int_distribution<std::int64_t> cache(0, 150'000);
    const std::int64_t cacheWrite = small(random) * 4;
    return UsageRecord{Uuid::random(), {},         timestamp,      model,         small(random),
                       small(random),  cacheWrite, cacheWrite / 4, cache(random), project,
                       session};
}

void sortByTime(std::vector<UsageRecord>& records) {
    std::sort(records.begin(), records.end(),
              [](const UsageRecord& a, const UsageRecord& b) { return a.timestamp < b.timestamp; });
}

// Sessions of a few hours each, spread over 60 days and 40 projects, one main model per
// session with haiku in between; OpenClaw and OpenAI besides; a few models without a rate.
History heavyUserHistory() {
    std::mt19937_64 random(7);
    std::vector<InternedString> projects;
    for (int i = 0; i < 40; ++i) {
        projects.emplace_back("-home-dev-src-client" + std::to_string(i % 7) + "-project-" +
                              std::to_string(i));
    }
    const InternedString mainModels[] = {"claude-sonnet-4-5-20250929", "claude-sonnet-4-5-20250929",
                                         "claude-opus-4-5-20251101", "claude-opus-4-1", "claude-sonnet-4-6"};
    const InternedString haiku = "claude-haiku-4-5-20251001";
    const InternedString unpricedClaude = "claude-nightly-9-20251130";
    std::uniform_real_distribution<double> moment(benchNow - 60 * day, benchNow - 600.0);
    std::uniform_real_distribution<double> sessionEnd(benchNow - 60 * day + 4 * 3'600.0, benchNow - 600.0);
    std::uniform_real_distribution<double> sessionLength(600.0, 4 * 3'600.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);

    History history;
    history.claudeCode.reserve(static_cast<std::size_t>(claudeSessions) * recordsPerClaudeSession);
    for (int s = 0; s < claudeSessions; ++s) {
        const InternedString session = "0f6c2a9e-5b1d-4c3e-9a7f-" + std::to_string(100'000'000'000 + s);
        const InternedString& project = projects[random() % projects.size()];
        const InternedString& main =
            s % 250 == 0 ? unpricedClaude : mainModels[random() % std::size(mainModels)];
        // Sessions ended at least ten minutes ago, but for the last few: they run until about
        // now, so some of them are live.
        const bool recent = s >= claudeSessions - 8;
        const double end = recent ? benchNow - 90.0 * (s % 8) : sessionEnd(random);
        const double length = recent ? 3'000.0 : sessionLength(random);
        for (int i = 0; i < recordsPerClaudeSession; ++i) {
            const double t = end - length + length * i / (recordsPerClaudeSession - 1);
            history.claudeCode.push_back(
                record(random, t, unit(random) < 0.15 ? haiku : main, project, session));
        }
    }
    const InternedString clawModels[] = {"claude-sonnet-4-5", "deepseek-chat", "local-qwen3-coder",
                                         "local-qwen3-coder-20250722"};
    for (int i = 0; i < openClawRecords; ++i) {
        const InternedString session = "claw-" + std::to_string(i / 400);
        history.openClaw.push_back(record(random, moment(random),
                                          clawModels[random() % std::size(clawModels)], "openclaw", session));
    }
    const InternedString openAIModels[] = {"gpt-4o-2024-11-20", "o3", "gpt-4.1-mini", "gpt-9-preview"};
    const InternedString openAIProject = "openai";
    for (int i = 0; i < openAIRecords; ++i) {
        const InternedString& model = openAIModels[random() % std::size(openAIModels)];
        history.openAI.push_back(
            record(random, moment(random), model, openAIProject, "openai-" + model.str()));
    }
    sortByTime(history.claudeCode);
    sortByTime(history.openClaw);
    sortByTime(history.openAI);
    return history;
}

const History& sharedHistory() {
    static const History history = heavyUserHistory();
    return history;
}

void BM_Snapshot(benchmark::State& state) {
    const UsageLists lists = sharedHistory().lists();
    const FixedClock clock(benchNow);
    const FixedOffsetCalendar calendar;
    UsageSnapshot snapshot;
    for (auto _ : state) {
        snapshot = computeSnapshot(lists, clock, calendar);
        benchmark::DoNotOptimize(snapshot);
    }
    const std::size_t records = lists.claudeCode.size() + lists.openClaw.size() + lists.openAI.size();
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * records));
    state.counters["records"] = static_cast<double>(records);
    state.counters["live_sessions"] = static_cast<double>(snapshot.liveSessions.size());
    state.counters["projects"] = static_cast<double>(snapshot.monthByProject.size());
    state.counters["unpriced"] = static_cast<double>(snapshot.unpricedModels.size());
    state.counters["month_usd"] = snapshot.monthUSD;
}
BENCHMARK(BM_Snapshot)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
