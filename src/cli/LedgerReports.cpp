#include "cli/LedgerReports.h"

#include "core/figures/PlanWindows.h"
#include "core/figures/UsageAggregates.h"
#include "core/model/IsoDate.h"
#include "core/model/JsonWriter.h"
#include "core/model/ModelPricing.h"
#include "core/texts/PanelTexts.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace fernhollow {
namespace {

constexpr double quarterSeconds = 900.0;

struct PeriodRule {
    const char* key;
    const char* title;
    const char* format;
    std::optional<double> (*start)(const LocalCalendar&, double);
    std::optional<double> (*next)(const LocalCalendar&, double);
};

constexpr PeriodRule dailyRule{"date", "Date", "yyyy-MM-dd",
                               [](const LocalCalendar& c, double t) { return c.startOfDay(t); },
                               [](const LocalCalendar& c, double start) { return c.addDays(start, 1); }};
constexpr PeriodRule weeklyRule{"week", "Week of", "yyyy-MM-dd",
                                [](const LocalCalendar& c, double t) { return c.startOfWeek(t); },
                                [](const LocalCalendar& c, double start) { return c.addDays(start, 7); }};
constexpr PeriodRule monthlyRule{
    "month", "Month", "yyyy-MM", [](const LocalCalendar& c, double t) { return c.startOfMonth(t); },
    // The 32nd day after a month's first lies in the next month, whatever its length.
    [](const LocalCalendar& c, double start) {
        const auto later = c.addDays(start, 32);
        return later ? c.startOfMonth(*later) : std::nullopt;
    }};

bool onQuarter(double t) {
    return std::fmod(t, quarterSeconds) == 0.0;
}

template <typename Key>
std::vector<RowsReport::Row> orderedRows(std::map<Key, RowsReport::Row>&& rows, bool descending) {
    std::vector<RowsReport::Row> ordered;
    for (auto& [key, row] : rows) {
        ordered.push_back(std::move(row));
    }
    if (descending) {
        std::reverse(ordered.begin(), ordered.end());
    }
    return ordered;
}

RowsReport periodReport(const PeriodRule& rule, std::string name, Ledger& ledger,
                        const ReportOptions& options, const ReportRange& range) {
    const ModelPricing::Pricer pricer;
    // Quarter-hour totals are exact for every period that starts and ends on a quarter, as
    // periods do in every zone of today; a zone whose midnight falls inside one (a historic
    // offset of odd minutes) is read again with its boundaries as cuts.
    std::vector<double> cuts{range.from, range.to};
    std::map<double, RowsReport::Row> rows;
    for (bool exact = false; !exact;) {
        exact = true;
        rows.clear();
        const std::size_t knownCuts = cuts.size();
        // The cuts are read before the first record comes: those found on the way are for the next read.
        ledger.visitHistorySince(
            range.from, std::vector<double>(cuts), options.sources, [&](const UsageRecord& record) {
                const auto start = range.contains(record.timestamp)
                                       ? rule.start(range.calendar, record.timestamp)
                                       : std::nullopt;
                if (!start) {
                    return;
                }
                auto [it, added] = rows.try_emplace(*start);
                if (added) {
                    it->second.labels = {range.local(*start, rule.format)};
                    const auto end = rule.next(range.calendar, *start);
                    for (const double boundary : {*start, end.value_or(*start)}) {
                        if (!onQuarter(boundary) && knownCuts == 2) {
                            cuts.push_back(boundary);
                            exact = false;
                        }
                    }
                }
                it->second.add(record, pricer.displayName(record.model), pricer.cost(record));
            });
    }
    RowsReport report;
    report.name = std::move(name);
    report.labels = {{rule.key, rule.title, TextTable::every, false}};
    report.rows = orderedRows(std::move(rows), options.descending);
    return report;
}

RowsReport sessionReport(Ledger& ledger, const ReportOptions& options, const ReportRange& range) {
    const ModelPricing::Pricer pricer;
    struct Session {
        RowsReport::Row row;
        double first = 1e300;
        double last = -1e300;
    };
    std::map<std::pair<UsageSource, std::string>, Session> sessions;
    for (const SessionTotal& total : ledger.sessionTotals({range.from, range.to, options.sources, {}})) {
        Session& session = sessions[{total.source, std::string(total.sums.sessionId)}];
        if (session.row.labels.empty()) {
            session.row.labels = {UsageAggregates::shortenProjectName(total.sums.projectPath),
                                  std::string(total.sums.sessionId), std::string(sourceKey(total.source))};
        }
        session.first = std::min(session.first, total.sums.timestamp);
        session.last = std::max(session.last, total.last);
        session.row.add(total.sums, pricer.displayName(total.sums.model), pricer.cost(total.sums));
    }
    std::multimap<double, RowsReport::Row> byLast;
    for (auto& [key, session] : sessions) {
        session.row.jsonLabels = session.row.labels;
        session.row.labels.push_back(range.local(session.first, "yyyy-MM-dd HH:mm"));
        session.row.labels.push_back(range.local(session.last, "yyyy-MM-dd HH:mm"));
        session.row.jsonLabels.push_back(isodate::formatUtcWholeSeconds(session.first));
        session.row.jsonLabels.push_back(isodate::formatUtcWholeSeconds(session.last));
        byLast.emplace(session.last, std::move(session.row));
    }
    std::vector<RowsReport::Row> rows;
    for (auto& [last, row] : byLast) {
        rows.push_back(std::move(row));
    }
    if (options.descending) {
        std::reverse(rows.begin(), rows.end());
    }
    constexpr unsigned wide = TextTable::full | TextTable::standard;
    RowsReport report;
    report.name = "sessions";
    report.labels = {{"project", "Project"},
                     {"session", "Session", TextTable::full},
                     {"source", "Source", TextTable::full},
                     {"firstActivity", "First", TextTable::full, false},
                     {"lastActivity", "Last", TextTable::every, false}};
    report.modelsLayouts = wide;
    report.countLayouts = TextTable::full;
    report.totalTokensLayouts = TextTable::every;
    report.rows = std::move(rows);
    return report;
}

void appendRateLimitsJson(std::string& out, const std::vector<RateLimit>& limits, double now) {
    out += ",\"rateLimits\":[";
    bool first = true;
    for (const RateLimit& limit : limits) {
        if (!UsageBlocks::freshLimit(limits, limit.agent, limit.window, now)) {
            continue;
        }
        out += first ? "{\"agent\":" : ",{\"agent\":";
        first = false;
        json::appendString(out, sourceKey(limit.agent));
        out += ",\"window\":";
        json::appendString(out, limit.window == RateWindow::fiveHour ? "fiveHour" : "weekly");
        out += ",\"usedPercent\":";
        json::appendNumber(out, limit.usedPercent);
        out += ",\"resetsAt\":";
        if (limit.resetsAt) {
            json::appendString(out, isodate::formatUtcWholeSeconds(*limit.resetsAt));
        } else {
            out += "null";
        }
        out += ",\"observedAt\":";
        json::appendString(out, isodate::formatUtcWholeSeconds(limit.observedAt));
        out += "}";
    }
    out += "]";
}

RowsReport blocksReport(Ledger& ledger, const ReportOptions& options, const ReportRange& range, double now) {
    const ModelPricing::Pricer pricer;
    const std::vector<UsageRecord> records = ledger.records({range.from, range.to, options.sources, {}});
    RowsReport report;
    report.name = "blocks";
    report.labels = {{"start", "Block start", TextTable::every, false},
                     {"end", "End", TextTable::full | TextTable::standard, false},
                     {"status", "Status"}};
    report.countLayouts = TextTable::full;
    report.totalTokensLayouts = TextTable::every;
    std::string current = ",\"current\":null";
    for (const UsageBlocks::Block& block : UsageBlocks::blocksOf(records)) {
        RowsReport::Row row;
        for (std::size_t i = block.first; i < block.first + block.count; ++i) {
            row.add(records[i], pricer.displayName(records[i].model), pricer.cost(records[i]));
        }
        const auto progress = UsageBlocks::progressOf(block, row.totals.usd, now);
        row.labels = {range.local(block.start, "yyyy-MM-dd HH:mm"), range.local(block.end(), "HH:mm"),
                      progress ? "active, " + PanelTexts::duration(progress->secondsLeft) + " left" : ""};
        row.jsonLabels = {isodate::formatUtcWholeSeconds(block.start),
                          isodate::formatUtcWholeSeconds(block.end()), progress ? "active" : "ended"};
        if (progress) {
            report.notes.push_back(PanelTexts::windowEstimateLine(
                row.totals.usd, progress->burnRatePerHour, progress->projectedUSD, progress->secondsLeft));
            report.notes.push_back("  Estimated from this machine's logs: use on other machines and the web "
                                   "does not reach them.");
            current = ",\"current\":{\"start\":";
            json::appendString(current, isodate::formatUtcWholeSeconds(block.start));
            current += ",\"usd\":";
            json::appendNumber(current, row.totals.usd);
            current += ",\"burnRateUSDPerHour\":";
            json::appendNumber(current, progress->burnRatePerHour);
            current += ",\"projectedUSD\":";
            json::appendNumber(current, progress->projectedUSD);
            current += ",\"secondsLeft\":";
            json::appendNumber(current, progress->secondsLeft);
            current += ",\"estimate\":true}";
        }
        report.rows.push_back(std::move(row));
    }
    if (options.descending) {
        std::reverse(report.rows.begin(), report.rows.end());
    }
    const std::vector<RateLimit> limits = ledger.rateLimits();
    for (std::string& line : PlanWindows::readingLines(limits, now, [&](double t, bool weekly) {
             return range.local(t, weekly ? "ddd HH:mm" : "HH:mm");
         })) {
        report.notes.push_back(std::move(line));
    }
    report.extraJson = current;
    appendRateLimitsJson(report.extraJson, limits, now);
    return report;
}

} // namespace

std::optional<ReportKind> reportKindOf(std::string_view command) {
    const std::pair<std::string_view, ReportKind> kinds[] = {{"daily", ReportKind::daily},
                                                             {"weekly", ReportKind::weekly},
                                                             {"monthly", ReportKind::monthly},
                                                             {"session", ReportKind::session},
                                                             {"blocks", ReportKind::blocks}};
    for (const auto& [name, kind] : kinds) {
        if (name == command) {
            return kind;
        }
    }
    return std::nullopt;
}

RowsReport ledgerReport(ReportKind kind, Ledger& ledger, const ReportOptions& options,
                        const ReportRange& range, double now) {
    switch (kind) {
    case ReportKind::daily:
        return periodReport(dailyRule, "daily", ledger, options, range);
    case ReportKind::weekly:
        return periodReport(weeklyRule, "weekly", ledger, options, range);
    case ReportKind::monthly:
        return periodReport(monthlyRule, "monthly", ledger, options, range);
    case ReportKind::session:
        return sessionReport(ledger, options, range);
    case ReportKind::blocks:
        break;
    }
    return blocksReport(ledger, options, range, now);
}

} // namespace fernhollow
