#include "cli/ReportCommand.h"

#include "cli/HeadlessPass.h"
#include "cli/MachineBreakdown.h"
#include "cli/TextTable.h"
#include "cli/UsageReport.h"
#include "core/common/FixedDecimal.h"
#include "core/common/Folders.h"
#include "core/model/IsoDate.h"
#include "core/model/JsonWriter.h"
#include "core/model/ModelPricing.h"
#include "core/texts/PanelTexts.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <ostream>

namespace fernhollow {
namespace {

constexpr CommandSyntax syntax{"report", false};

std::string localDate(double t) {
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(std::floor(t)))
        .toString(QStringLiteral("yyyy-MM-dd"))
        .toStdString();
}

// What each source's records hold and cost over all of history, in the order of the sources.
std::vector<std::pair<UsageSource, TokenTotals>> sourceTotals(Ledger* ledger) {
    std::vector<std::pair<UsageSource, TokenTotals>> totals;
    for (const UsageSource source : allUsageSources) {
        totals.emplace_back(source, TokenTotals{});
    }
    if (ledger != nullptr) {
        const ModelPricing::Pricer pricer;
        for (const ModelTotal& model : ledger->modelTotals()) {
            const auto kept = std::find_if(totals.begin(), totals.end(),
                                           [&](const auto& entry) { return entry.first == model.source; });
            if (kept != totals.end()) {
                kept->second.add(model.sums, pricer.cost(model.sums));
            }
        }
    }
    return totals;
}

// The names the JSON gives the sources' totals.
std::string_view totalsKey(UsageSource source) {
    switch (source) {
    case UsageSource::claudeCode:
        return "claudeCode";
    case UsageSource::openClaw:
        return "openClaw";
    case UsageSource::openAI:
        return "openAI";
    case UsageSource::codex:
        return "codex";
    case UsageSource::gemini:
        break;
    }
    return "gemini";
}

// Everything the panel shows, after the report's own earlier keys.
void appendStoreFigures(std::string& out, UsageStore& store, double budgetUSD) {
    const auto& figures = store.snapshot();
    const auto money = [&out](std::string_view key, double value) {
        out += ",\"";
        out += key;
        out += "\":";
        json::appendNumber(out, value);
    };
    money("todayUSD", figures.todayUSD);
    money("weekUSD", figures.weekUSD);
    money("monthUSD", figures.monthUSD);
    money("last30DaysUSD", figures.last30DaysUSD);
    money("avg7dPriorDaily", figures.avg7dPriorDaily);
    out += ",\"todayDelta\":";
    json::appendString(out, PanelTexts::todayDelta(figures.todayUSD, figures.avg7dPriorDaily));
    out += ",\"status\":";
    json::appendString(out, rawValue(store.status()));
    money("monthlyBudgetUSD", budgetUSD);
    out += ",\"dailySeries\":[";
    for (const auto& day : figures.dailySeries) {
        out += &day == &figures.dailySeries.front() ? "{\"date\":" : ",{\"date\":";
        json::appendString(out, localDate(day.date));
        out += ",\"usd\":";
        json::appendNumber(out, day.usd);
        out += "}";
    }
    out += "],\"liveSessions\":[";
    for (const auto& session : figures.liveSessions) {
        out += &session == &figures.liveSessions.front() ? "{\"id\":" : ",{\"id\":";
        json::appendString(out, session.id);
        out += ",\"projectShortName\":";
        json::appendString(out, session.projectShortName);
        money("totalUSD", session.totalUSD);
        out += ",\"totalTokens\":";
        json::appendInteger(out, session.totalTokens);
        out += ",\"lastActivity\":";
        json::appendString(out, isodate::formatUtcWholeSeconds(session.lastActivity));
        out += ",\"model\":";
        json::appendString(out, session.model);
        out += ",\"messageCount\":";
        json::appendInteger(out, session.messageCount);
        out += "}";
    }
    out += "],\"monthByModel\":[";
    for (const auto& row : figures.monthByModel) {
        out += &row == &figures.monthByModel.front() ? "{\"model\":" : ",{\"model\":";
        json::appendString(out, row.model);
        money("usd", row.usd);
        out += "}";
    }
    out += "],\"monthByProject\":[";
    for (const auto& row : figures.monthByProject) {
        out += &row == &figures.monthByProject.front() ? "{\"project\":" : ",{\"project\":";
        json::appendString(out, row.project);
        money("usd", row.usd);
        out += "}";
    }
    out += "],\"bySource\":{";
    for (const auto& [source, totals] : sourceTotals(store.ledger())) {
        out += source == allUsageSources[0] ? "" : ",";
        json::appendString(out, totalsKey(source));
        std::string sums;
        appendTotalsJson(sums, totals);
        out += ":{" + sums.substr(1) + ",\"totalTokens\":";
        json::appendInteger(out, totals.allTokens());
        out += "}";
    }
    out += "},\"unpricedModels\":[";
    for (const auto& model : figures.unpricedModels) {
        if (&model != &figures.unpricedModels.front()) {
            out += ",";
        }
        json::appendString(out, model);
    }
    out += "],\"unpricedRecords\":";
    json::appendInteger(out, figures.unpricedRecords);
    money("unpricedUSDAtFallback", figures.unpricedUSDAtFallback);
    out += ",\"openaiError\":";
    if (store.openaiError()) {
        json::appendString(out, *store.openaiError());
    } else {
        out += "null";
    }
    out += ",\"sources\":{";
    for (const UsageSource source : allUsageSources) {
        if (source != allUsageSources[0]) {
            out += ",";
        }
        json::appendString(out, sourceKey(source));
        out += ":";
        json::appendInteger(out, store.recordCount(source));
    }
    // Where the log sources were read: every Claude Code folder with its own count, and
    // OpenClaw's agents folder with what could not be read there.
    const auto appendFolder = [&out](const UsageStore::FolderRecords& row) {
        out += "{\"folder\":";
        json::appendString(out, row.folder.string());
        out += row.found ? ",\"found\":true,\"records\":" : ",\"found\":false,\"records\":";
        json::appendInteger(out, row.records);
    };
    out += "},\"sourceFolders\":{";
    json::appendString(out, sourceKey(UsageSource::claudeCode));
    out += ":[";
    for (const auto& row : store.claudeFolderRecords()) {
        out += &row == &store.claudeFolderRecords().front() ? "" : ",";
        appendFolder(row);
        out += "}";
    }
    out += "],";
    json::appendString(out, sourceKey(UsageSource::openClaw));
    out += ":[";
    std::error_code ignored;
    appendFolder({store.openClawAgentsRoot(),
                  std::filesystem::is_directory(store.openClawAgentsRoot(), ignored),
                  store.recordCount(UsageSource::openClaw)});
    out += ",\"problems\":[";
    for (const std::string& problem : store.sourceProblems(UsageSource::openClaw)) {
        out += &problem == &store.sourceProblems(UsageSource::openClaw).front() ? "" : ",";
        json::appendString(out, problem);
    }
    out += "]}]}";
}

std::string storeFiguresTable(UsageStore& store, double budgetUSD) {
    const auto& figures = store.snapshot();
    const auto dollars = [](double value) { return "$" + fixedDecimal(value, 2); };
    std::string out;
    out += "Today " + dollars(figures.todayUSD);
    if (const std::string delta = PanelTexts::todayDelta(figures.todayUSD, figures.avg7dPriorDaily);
        !delta.empty()) {
        out += " (" + delta + ")";
    }
    out += "   This week " + dollars(figures.weekUSD) + "   This month " + dollars(figures.monthUSD) +
           "   Last 30d " + dollars(figures.last30DaysUSD) + "\n";
    out += "Monthly budget " + PanelTexts::budgetLine(figures.monthUSD, budgetUSD) + "   status " +
           std::string(rawValue(store.status())) + "\n";
    out += "Last 14 days:";
    for (const auto& day : figures.dailySeries) {
        out += " " + localDate(day.date).substr(5) + " " + dollars(day.usd);
    }
    out += "\n";
    for (const auto& session : figures.liveSessions) {
        out += "Live: " + session.projectShortName + " " + dollars(session.totalUSD) + " " +
               session.model.str() + " (" + std::to_string(session.messageCount) + " messages)\n";
    }
    out += "By source:";
    for (const auto& [source, totals] : sourceTotals(store.ledger())) {
        if (totals.allTokens() > 0) {
            out += "   " + PanelTexts::agentName(source) + " " + groupedDigits(totals.allTokens()) +
                   " tokens " + groupedDollars(totals.usd);
        }
    }
    out += "\n";
    for (const auto& [folder, found, records] : store.claudeFolderRecords()) {
        out += "Claude Code " + Folders::homeRelative(folder) + ": " +
               (found ? groupedDigits(records) + " records" : std::string("not found")) + "\n";
    }
    for (const std::string& problem : store.sourceProblems(UsageSource::openClaw)) {
        out += "OpenClaw " + Folders::homeRelative(store.openClawAgentsRoot()) + ": " + problem + "\n";
    }
    if (!figures.unpricedModels.empty()) {
        out += "Unpriced (billed as Sonnet):";
        for (const auto& model : figures.unpricedModels) {
            out += " " + model;
        }
        out += "\n";
    }
    return out + "\n";
}

} // namespace

QCoro::Task<int> runReportCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err,
                                  QNetworkAccessManager& network) {
    const auto parsed = parseReportOptions(syntax, args, out, err);
    if (const int* code = std::get_if<int>(&parsed)) {
        co_return *code;
    }
    const ReportOptions& options = std::get<ReportOptions>(parsed);
    HeadlessPass pass(options, network);
    co_await pass.run(syntax.command, err);
    if (const auto code = pass.countMachines(options.device, syntax.command, err)) {
        co_return *code;
    }
    UsageStore& store = pass.store();
    const AppSettings& settings = pass.settings();

    const std::int64_t recordCount = store.recordCount();
    // The whole history, as quarter-hour totals: no local day splits one.
    constexpr double beforeAnyRecord = -1e12;
    UsageReportBuilder builder;
    if (store.ledger() != nullptr) {
        store.ledger()->visitHistorySince(beforeAnyRecord, {}, {},
                                          [&](const UsageRecord& record) { builder.add(record); });
    }
    UsageReport report = builder.build(static_cast<std::size_t>(recordCount));
    const std::vector<MachineTotals> machines =
        store.ledger() != nullptr
            ? machineTotals(*store.ledger(), pass.thisMachine(), store.lastRefresh().value_or(0.0))
            : std::vector<MachineTotals>{};
    report.byMachine = machineRows(machines);
    if (options.json) {
        std::string json = formatReportJson(report);
        json.resize(json.size() - 2); // reopen the object: "}\n"
        appendStoreFigures(json, store, settings.monthlyBudgetUSD());
        appendMachinesJson(json, machines);
        out << json << "}\n";
    } else {
        out << storeFiguresTable(store, settings.monthlyBudgetUSD()) << formatReportTable(report);
    }
    out.flush();
    co_return out.good() && !store.lastPassFailed() ? 0 : 1;
}

} // namespace fernhollow
