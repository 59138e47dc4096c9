#include "cli/ReportCommand.h"

#include "cli/UsageReport.h"
#include "core/common/FixedDecimal.h"
#include "core/model/IsoDate.h"
#include "core/model/JsonWriter.h"
#include "core/texts/PanelTexts.h"
#include "platform/settings/AppSettings.h"
#include "platform/settings/JsonPreferencesFile.h"
#include "platform/store/UsageStore.h"
#include "platform/system/QtLocalCalendar.h"

#include <QDateTime>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>

namespace fernhollow {
namespace {

constexpr std::string_view usage =
    "usage: fernhollow report [--json] [--claude-dir DIR] [--openclaw-dir DIR] [--codex-dir DIR] "
    "[--gemini-dir DIR] [--no-codex] [--no-gemini] [--no-openai]";

struct ReportOptions {
    bool json = false;
    bool openAI = true;
    bool codex = true;
    bool gemini = true;
    std::optional<std::filesystem::path> claudeDir;
    std::optional<std::filesystem::path> openClawDir;
    std::optional<std::filesystem::path> codexDir;
    std::optional<std::filesystem::path> geminiDir;
};

// Reads the folder that follows `name`, as "--name DIR" or "--name=DIR".
bool folderOption(std::span<const std::string> args, std::size_t& i, std::string_view name,
                  std::optional<std::filesystem::path>& folder, std::ostream& err) {
    const std::string& arg = args[i];
    std::string value;
    if (arg == name) {
        value = i + 1 < args.size() ? args[++i] : std::string();
    } else {
        value = arg.substr(name.size() + 1);
    }
    if (value.empty()) {
        err << "fernhollow report: " << name << " needs a folder\n";
        return false;
    }
    folder = value;
    return true;
}

// Parses the arguments after "report"; on failure writes one line to `err`.
std::optional<ReportOptions> parseOptions(std::span<const std::string> args, std::ostream& err) {
    ReportOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        bool ok = true;
        if (arg == "--json") {
            options.json = true;
        } else if (arg == "--no-openai") {
            options.openAI = false;
        } else if (arg == "--no-codex") {
            options.codex = false;
        } else if (arg == "--no-gemini") {
            options.gemini = false;
        } else if (arg == "--codex-dir" || arg.starts_with("--codex-dir=")) {
            ok = folderOption(args, i, "--codex-dir", options.codexDir, err);
        } else if (arg == "--gemini-dir" || arg.starts_with("--gemini-dir=")) {
            ok = folderOption(args, i, "--gemini-dir", options.geminiDir, err);
        } else if (arg == "--claude-dir" || arg.starts_with("--claude-dir=")) {
            ok = folderOption(args, i, "--claude-dir", options.claudeDir, err);
        } else if (arg == "--openclaw-dir" || arg.starts_with("--openclaw-dir=")) {
            ok = folderOption(args, i, "--openclaw-dir", options.openClawDir, err);
        } else {
            err << "fernhollow report: unknown argument '" << arg << "' (" << usage << ")\n";
            return std::nullopt;
        }
        if (!ok) {
            return std::nullopt;
        }
    }
    return options;
}

std::string localDate(double t) {
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(std::floor(t)))
        .toString(QStringLiteral("yyyy-MM-dd"))
        .toStdString();
}

// Everything the panel shows, after the report's own earlier keys.
void appendStoreFigures(std::string& out, const UsageStore& store, double budgetUSD) {
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
    out += "],\"unpricedModels\":[";
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
    out += "}";
}

std::string storeFiguresTable(const UsageStore& store, double budgetUSD) {
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
    if (!figures.unpricedModels.empty()) {
        out += "Unpriced (billed as Sonnet):";
        for (const auto& model : figures.unpricedModels) {
            out += " " + model;
        }
        out += "\n";
    }
    return out + "\n";
}

// While a long scan runs, one line on a terminal's stderr, rewritten in place.
void showProgressOnTerminal(const UsageStore& store, std::ostream& err) {
    if (::isatty(STDERR_FILENO) == 0) {
        return;
    }
    QObject::connect(&store, &UsageStore::scanProgressChanged, &store, [&store, &err] {
        if (store.scanFilesToRead() > 0) {
            err << "\rReading logs: " << store.scanFilesRead() << " of " << store.scanFilesToRead()
                << " files" << std::flush;
        } else {
            err << "\r\033[K" << std::flush;
        }
    });
}

} // namespace

QCoro::Task<int> runReportCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err,
                                  QNetworkAccessManager& network) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << usage << "\n";
        co_return 0;
    }
    const auto options = parseOptions(args, err);
    if (!options) {
        co_return 2;
    }
    // The app's own store, run once without a timer and without alerts: the same prices,
    // cache, scans and figures the panel shows. The user's preferences are read, never written.
    JsonPreferencesFile preferences(JsonPreferencesFile::defaultPath());
    AppSettings settings(preferences);
    const QtLocalCalendar calendar;
    UsageStore::Options storeOptions;
    if (options->claudeDir) {
        storeOptions.claudeProjectsRoot = *options->claudeDir;
    }
    storeOptions.openClawAgentsRoot = options->openClawDir;
    storeOptions.codexHome = options->codexDir;
    storeOptions.geminiRoot = options->geminiDir;
    storeOptions.readCodex = options->codex;
    storeOptions.readGemini = options->gemini;
    storeOptions.interactive = false;
    storeOptions.fetchOpenAI = options->openAI;
    UsageStore store(settings, network, calendar, storeOptions);
    showProgressOnTerminal(store, err);
    co_await store.refresh();
    if (store.openaiError()) {
        err << "fernhollow report: " << *store.openaiError() << "\n";
    }
    if (store.ledgerError()) {
        err << "fernhollow report: " << *store.ledgerError() << "\n";
    }

    const std::int64_t recordCount = store.recordCount();
    // The whole history, as quarter-hour totals: no local day splits one.
    constexpr double beforeAnyRecord = -1e12;
    const UsageReport report =
        buildUsageReport(store.ledger() != nullptr ? store.ledger()->historySince(beforeAnyRecord, {})
                                                   : std::vector<UsageRecord>{},
                         static_cast<std::size_t>(recordCount));
    if (options->json) {
        std::string json = formatReportJson(report);
        json.resize(json.size() - 2); // reopen the object: "}\n"
        appendStoreFigures(json, store, settings.monthlyBudgetUSD());
        out << json << "}\n";
    } else {
        out << storeFiguresTable(store, settings.monthlyBudgetUSD()) << formatReportTable(report);
    }
    out.flush();
    co_return out.good() && !store.lastPassFailed() ? 0 : 1;
}

} // namespace fernhollow
