#include "cli/LedgerReports.h"
#include "core/model/IsoDate.h"
#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>
#include <vector>

namespace fernhollow {
namespace {

// One record per moment, its input count telling which it is, so a row's sum names its records.
void addRecords(Ledger& ledger, UsageSource source,
                const std::vector<std::pair<const char*, std::int64_t>>& records) {
    LedgerBatch batch{source, RecordRule::keepLarger, {}, {}, {}};
    for (const auto& [stamp, input] : records) {
        UsageRecord& record = batch.records.emplace_back();
        record.timestamp = *isodate::parseInternetDateTime(stamp);
        record.messageId = stamp;
        record.model = "claude-sonnet-4-5";
        record.sessionId = source == UsageSource::codex ? "codex-session" : "claude-session";
        record.inputTokens = input;
    }
    ledger.apply(batch);
}

TEST(LedgerReports, GroupByTheDaysAndMonthsOfTheZoneAskedFor) {
    test::TempTree home;
    Ledger ledger(home / "ledger.sqlite3");
    addRecords(ledger, UsageSource::claudeCode,
               {{"2025-03-29T23:30:00Z", 1}, {"2025-03-30T00:30:00Z", 10}, {"2025-04-01T12:00:00Z", 1000}});
    addRecords(ledger, UsageSource::codex, {{"2025-03-31T22:30:00Z", 100}});
    // Monrovia kept 44 minutes 30 seconds behind UTC until 1972: its midnight cut a quarter-hour.
    addRecords(ledger, UsageSource::gemini,
               {{"1971-06-01T00:44:00Z", 10000}, {"1971-06-01T00:44:50Z", 100000}});
    // Each row: the report, zone, since and until (2025's MMDD, 0 for none), the only source,
    // descending order, and the rows as "label=input".
    using enum ReportKind;
    const std::tuple<ReportKind, const char*, int, int, std::optional<UsageSource>, bool, std::string>
        cases[] = {
            {daily, "UTC", 301, 0, {}, false, "2025-03-29=1 2025-03-30=10 2025-03-31=100 2025-04-01=1000"},
            // Berlin moves to summer time on the 30th: 22:30Z on the 31st is already April there.
            {daily, "Europe/Berlin", 301, 0, {}, false, "2025-03-30=11 2025-04-01=1100"},
            {daily, "America/Los_Angeles", 301, 0, {}, true, "2025-04-01=1000 2025-03-31=100 2025-03-29=11"},
            {daily, "UTC", 330, 331, {}, false, "2025-03-30=10 2025-03-31=100"},
            {daily, "Asia/Tokyo", 330, 330, {}, false, "2025-03-30=11"},
            {daily, "UTC", 0, 0, UsageSource::codex, false, "2025-03-31=100"},
            {monthly, "UTC", 101, 0, {}, false, "2025-03=111 2025-04=1000"},
            {monthly, "Europe/Berlin", 101, 0, {}, false, "2025-03=11 2025-04=1100"},
            {daily, "Africa/Monrovia", 0, 101, {}, false, "1971-05-31=10000 1971-06-01=100000"},
            // Sessions by their last record; only the records in the range count.
            {session, "UTC", 330, 0, {}, false, "=100 =1010"},
            {daily, "UTC", 501, 0, {}, false, ""},
        };
    const auto day = [](int monthAndDay) {
        return monthAndDay == 0 ? std::nullopt
                                : std::optional(QDate(2025, monthAndDay / 100, monthAndDay % 100));
    };
    for (const auto& [kind, zone, since, until, source, descending, expected] : cases) {
        ReportOptions options;
        options.timeZone = zone;
        options.since = day(since);
        options.until = day(until);
        options.sources = source ? std::vector{*source} : std::vector<UsageSource>{};
        options.descending = descending;
        const RowsReport report = ledgerReport(kind, ledger, options, ReportRange(options), 0.0);
        std::string rows;
        for (const RowsReport::Row& row : report.rows) {
            rows +=
                (rows.empty() ? "" : " ") + row.labels.at(0) + "=" + std::to_string(row.totals.inputTokens);
        }
        EXPECT_EQ(rows, expected) << zone << " " << static_cast<int>(kind);
    }
}

} // namespace
} // namespace fernhollow
