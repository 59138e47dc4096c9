#include "cli/StatusLineCommand.h"

#include "core/common/Folders.h"
#include "core/common/PaddedFile.h"
#include "core/figures/BudgetPreferences.h"
#include "core/figures/PlanWindows.h"
#include "core/figures/SystemCalendar.h"
#include "core/ledger/Ledger.h"
#include "core/model/Clock.h"
#include "core/model/ModelPricing.h"
#include "core/model/PricingFolder.h"
#include "core/sources/CCUsageParser.h"
#include "core/sources/JsonlRecordReader.h"
#include "core/sources/LogFileWalker.h"
#include "core/statusline/ClaudeSettings.h"
#include "core/statusline/StatusLineInput.h"
#include "core/statusline/StatusLineText.h"

#include <algorithm>
#include <cstdlib>
#include <istream>
#include <ostream>

namespace fernhollow {
namespace {

// Claude Code sends a few kilobytes; more is not its status line input.
constexpr std::size_t largestInput = 1024 * 1024;
// A transcript the ledger never read is summed from its newest lines only: the path is timed.
constexpr std::uint64_t largestTail = 8 * 1024 * 1024;
// The status line is redrawn every few hundred milliseconds: a write that waits longer is
// dropped, and the next message brings the reading again.
constexpr int lockWaitMs = 5;
constexpr double readingRefreshSeconds = 60.0;

std::string readInput(std::istream& in) {
    std::string input(largestInput + 1, '\0');
    in.read(input.data(), static_cast<std::streamsize>(input.size()));
    input.resize(static_cast<std::size_t>(in.gcount()));
    return input.size() > largestInput ? std::string() : input;
}

std::string ownCommand() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? "fernhollow statusline" : ClaudeSettings::commandFor(self);
}

bool terminalTakesColour() {
    const char* noColour = std::getenv("NO_COLOR");
    const char* term = std::getenv("TERM");
    return (noColour == nullptr || *noColour == '\0') &&
           (term == nullptr || std::string_view(term) != "dumb");
}

// The session's records that the ledger has not counted yet: those past where its last pass
// stopped reading the transcript.
std::vector<UsageRecord> unledgeredRecords(Ledger& ledger, const std::string& transcript) {
    std::error_code error;
    if (!transcript.ends_with(".jsonl") || !std::filesystem::is_regular_file(transcript, error)) {
        return {};
    }
    const std::uint64_t size = std::filesystem::file_size(transcript, error);
    const auto known = ledger.fileState(UsageSource::claudeCode, transcript);
    std::uint64_t offset = known ? known->readEnd : 0;
    const bool cut = !error && size > offset + largestTail;
    offset = cut ? size - largestTail : offset;
    const auto tail = PaddedFile::read(transcript, offset);
    if (!tail) {
        return {};
    }
    std::string_view text = tail->bytes();
    if (cut) {
        // Starts inside a line; the line is whole from its next start.
        const std::size_t lineStart = text.find('\n');
        text.remove_prefix(lineStart == std::string_view::npos ? text.size() : lineStart + 1);
    }
    const LogFile file{transcript, 0.0, size, {}, sessionIdOf(transcript)};
    simdjson::dom::parser parser;
    return ledger.uncounted(UsageSource::claudeCode,
                            readJsonlText(text, file, parser, CCUsageParser::readLine).records);
}

void addLedgerFigures(StatusLineFigures& figures, const StatusLineInput& input, double now) {
    Ledger ledger(Folders::data() / Ledger::fileName);
    ledger.setLockWait(lockWaitMs);
    // Claude Code asks every few hundred milliseconds: a reading is written when it changed, or
    // to keep it fresh, not on every call.
    const std::vector<RateLimit> kept = ledger.rateLimits();
    std::vector<RateLimit> news;
    for (const RateLimit& limit : input.rateLimits) {
        const auto same = std::find_if(kept.begin(), kept.end(), [&](const RateLimit& other) {
            return other.agent == limit.agent && other.window == limit.window &&
                   other.usedPercent == limit.usedPercent && other.resetsAt == limit.resetsAt &&
                   limit.observedAt - other.observedAt < readingRefreshSeconds;
        });
        if (same == kept.end()) {
            news.push_back(limit);
        }
    }
    try {
        ledger.recordRateLimits(news);
    } catch (const sqlite::Error&) {
        // The tray app is writing a pass; the line matters more than this one reading.
    }
    PricingFolder::loadUserOverrides();
    PricingFolder::loadRemoteCache();
    const ModelPricing::Pricer pricer;

    const std::vector<UsageRecord> unledgered = unledgeredRecords(ledger, input.transcriptPath);
    if (!input.sessionId.empty()) {
        double session = 0.0;
        for (const SessionTotal& total :
             ledger.sessionTotals({.sources = {UsageSource::claudeCode}, .session = input.sessionId})) {
            session += pricer.cost(total.sums);
        }
        for (const UsageRecord& record : unledgered) {
            session += pricer.cost(record);
        }
        figures.sessionUSD = session;
    }

    const auto dayStart = SystemCalendar::startOfDay(now);
    const auto monthStart = SystemCalendar::startOfMonth(now);
    if (dayStart && monthStart) {
        // Cost is linear in the counts of one model and price class: their sums price exactly.
        const auto spentSince = [&](double from) {
            double usd = 0.0;
            for (const ModelTotal& total : ledger.modelTotalsSince(from)) {
                usd += pricer.cost(total.sums);
            }
            for (const UsageRecord& record : unledgered) {
                usd += record.timestamp >= from ? pricer.cost(record) : 0.0;
            }
            return usd;
        };
        figures.todayUSD = spentSince(*dayStart);
        const auto budget = BudgetPreferences::read(Folders::preferencesFile());
        figures.status = budgetStatus(spentSince(*monthStart), budget.monthlyBudgetUSD,
                                      budget.warnThresholdPct, budget.criticalThresholdPct);
    }

    if (!figures.fiveHour) {
        figures.fiveHour =
            UsageBlocks::freshLimit(ledger.rateLimits(), UsageSource::claudeCode, RateWindow::fiveHour, now);
    }
    if (!figures.fiveHour) {
        if (const auto estimate = PlanWindows::currentEstimate(ledger, UsageSource::claudeCode, now)) {
            figures.estimateUSD = estimate->usd;
            figures.estimateSecondsLeft = estimate->progress.secondsLeft;
        }
    }
}

} // namespace

int runStatusLineCommand(std::span<const std::string> args, std::istream& in, std::ostream& out,
                         std::ostream& err, const Clock& clock) {
    if (args.size() == 1 && (args[0] == "--install" || args[0] == "--uninstall")) {
        const auto outcome = args[0] == "--install"
                                 ? ClaudeSettings::install(ClaudeSettings::defaultPath(), ownCommand())
                                 : ClaudeSettings::uninstall(ClaudeSettings::defaultPath());
        (outcome.ok ? out : err) << outcome.message << "\n";
        return outcome.ok ? 0 : 1;
    }
    if (!args.empty()) {
        err << "fernhollow statusline: unknown argument '" << args[0]
            << "' (usage: fernhollow statusline [--install | --uninstall])\n";
        return 2;
    }
    const double now = clock.now();
    const StatusLineInput input = parseStatusLineInput(readInput(in), now);
    StatusLineFigures figures;
    figures.model = input.model;
    for (const RateLimit& limit : input.rateLimits) {
        if (limit.window == RateWindow::fiveHour) {
            figures.fiveHour = limit;
        }
    }
    try {
        addLedgerFigures(figures, input, now);
    } catch (const std::exception&) {
        // Whatever was found before the failure is shown: a status line never shows an error.
    }
    out << statusLineText(figures, now, terminalTakesColour()) << "\n";
    out.flush();
    return 0;
}

} // namespace fernhollow
