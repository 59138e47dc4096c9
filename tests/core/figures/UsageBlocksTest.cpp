#include "core/figures/UsageBlocks.h"
#include "core/figures/PlanWindows.h"
#include "core/ledger/Ledger.h"
#include "core/sources/CodexParser.h"
#include "support/TempTree.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace fernhollow {
namespace {

using UsageBlocks::Block;

constexpr double hour = 3600.0;
// 2025-03-30T00:00:00Z.
constexpr double day = 1'743'292'800.0;

std::vector<UsageRecord> recordsAt(const std::vector<double>& times) {
    std::vector<UsageRecord> records;
    for (const double t : times) {
        records.emplace_back().timestamp = t;
    }
    return records;
}

using Blocks = std::vector<std::pair<double, std::size_t>>; // start, record count

// Each row: what it shows, the records' times, and the blocks they make.
TEST(UsageBlocks, StartAtTheFloorOfTheHourAndBreakAfterFiveHours) {
    const std::tuple<const char*, std::vector<double>, Blocks> cases[] = {
        {"none", {}, {}},
        {"the floor of the first record's hour", {day + 0.75 * hour, day + 4.9 * hour}, {{day, 2}}},
        {"a record past the block's five hours",
         {day + 0.5 * hour, day + 5.01 * hour},
         {{day, 1}, {day + 5 * hour, 1}}},
        {"exactly five hours after the start stays", {day, day + 5 * hour}, {{day, 2}}},
        {"a gap of more than five hours",
         {day + 3 * hour, day + 8.5 * hour},
         {{day + 3 * hour, 1}, {day + 8 * hour, 1}}},
        {"before 1970 floors downwards", {-1.5 * hour}, {{-2 * hour, 1}}},
    };
    for (const auto& [name, times, blocks] : cases) {
        const auto records = recordsAt(times);
        Blocks found;
        std::size_t next = 0;
        for (const Block& block : UsageBlocks::blocksOf(records)) {
            EXPECT_EQ(block.first, next) << name;
            next += block.count;
            found.emplace_back(block.start, block.count);
        }
        EXPECT_EQ(found, blocks) << name;
    }
}

TEST(UsageBlocks, TakeAnAgentsReadingOnlyWhileItHolds) {
    const std::vector<RateLimit> limits{
        {UsageSource::claudeCode, RateWindow::fiveHour, 42.0, day + 4 * hour, 300, day},
        {UsageSource::codex, RateWindow::weekly, 10.0, std::nullopt, std::nullopt, day},
    };
    // Each row: the agent and window asked for, the time, and whether a reading holds then.
    const std::tuple<UsageSource, RateWindow, double, bool> cases[] = {
        {UsageSource::claudeCode, RateWindow::fiveHour, day + hour, true},
        {UsageSource::claudeCode, RateWindow::fiveHour, day + 4 * hour, false}, // past its reset
        {UsageSource::claudeCode, RateWindow::weekly, day + hour, false},
        {UsageSource::codex, RateWindow::weekly, day + 6 * 24 * hour, true},
        {UsageSource::codex, RateWindow::weekly, day + 7 * 24 * hour, false}, // older than its window
    };
    for (const auto& [agent, window, now, fresh] : cases) {
        EXPECT_EQ(UsageBlocks::freshLimit(limits, agent, window, now).has_value(), fresh) << now - day;
    }
}

// Codex's plan-window readings, in fields that changed over versions; the ledger keeps the latest.
TEST(UsageBlocks, CodexRateLimitsReachTheLedgerLatestFirst) {
    simdjson::dom::parser parser;
    std::vector<RateLimit> limits;
    CodexParser::readRollout(simdjson::padded_string(test::dataText("codex-rate-limit-readings.jsonl")),
                             parser, &limits);
    const double tenOhThree = 1748772180.0;
    const std::vector<RateLimit> expected{
        {UsageSource::codex, RateWindow::fiveHour, 21.0, std::nullopt, 300, tenOhThree},
        {UsageSource::codex, RateWindow::weekly, 3.5, 1749000000.0, 10080, tenOhThree},
    };
    EXPECT_EQ(limits, expected);

    test::TempTree home;
    Ledger ledger(home / "ledger.sqlite3");
    ledger.recordRateLimits(limits);
    RateLimit older = limits[0];
    older.usedPercent = 99.0;
    older.observedAt -= 60.0;
    ledger.recordRateLimits({&older, 1});
    EXPECT_EQ(ledger.rateLimits(), expected);
    ledger.forget();
    EXPECT_TRUE(ledger.rateLimits().empty());
}

// The panel's lines: the agent's own reading wins; without one, the estimate from the logs.
TEST(UsageBlocks, ThePanelShowsReadingsElseTheEstimate) {
    test::TempTree home;
    Ledger ledger(home / "ledger.sqlite3");
    const double now = day + 2.5 * hour;
    std::vector<UsageRecord> records = recordsAt({day + 0.5 * hour, day + 2 * hour});
    for (UsageRecord& record : records) {
        record.model = "claude-sonnet-4-5";
        record.messageId = std::to_string(record.timestamp);
        record.inputTokens = 1'000'000; // $3 at Sonnet's rate
    }
    ledger.apply({UsageSource::claudeCode, RecordRule::keepLarger, records, {}, {}});
    const auto clock = [](double t, bool weekly) {
        return std::string(weekly ? "Mon " : "") + std::to_string(static_cast<long>(t - day));
    };
    EXPECT_EQ(
        PlanWindows::lines(ledger, now, clock),
        std::vector<std::string>{"5-hour window (estimate): $6.00, $2.40/h, $12.00 by the end, 2h 30m left"});
    const RateLimit readings[] = {
        {UsageSource::claudeCode, RateWindow::fiveHour, 42.0, day + 5 * hour, 300, now},
        {UsageSource::codex, RateWindow::weekly, 7.0, std::nullopt, std::nullopt, now}};
    ledger.recordRateLimits(readings);
    EXPECT_EQ(PlanWindows::lines(ledger, now, clock),
              (std::vector<std::string>{"Claude Code \u00b7 5-hour window: 42% used, resets 18000",
                                        "Codex \u00b7 Weekly window: 7% used"}));
}

} // namespace
} // namespace fernhollow
