#include "cli/StatusLineCommand.h"

#include "core/common/Folders.h"
#include "core/common/RegularFile.h"
#include "core/figures/BudgetPreferences.h"
#include "core/figures/PlanWindows.h"
#include "core/figures/SystemCalendar.h"
#include "core/ledger/Ledger.h"
#include "core/ledger/PersistenceStore.h"
#include "core/model/Clock.h"
#include "core/model/ModelPricing.h"
#include "core/model/PricingFolder.h"
#include "core/sources/CCUsageParser.h"
#include "core/sources/JsonlRecordReader.h"
#include "core/sources/LogFileWalker.h"
#include "core/statusline/ClaudeSettings.h"
#include "core/statusline/StatusLineInput.h"
#include "core/statusline/StatusLineText.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <memory>
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

// A piece at a time: this program starts anew on every message, and each fresh page of memory
// it touches costs more than the bytes it holds.
std::string readInput(std::istream& in) {
    std::string input;
    char piece[16 * 1024];
    while (input.size() <= largestInput && in.read(piece, sizeof piece).gcount() > 0) {
        input.append(piece, static_cast<std::size_t>(in.gcount()));
    }
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

// The records of a transcript from `offset` to its end, read a piece at a time for the same
// reason as the input. `midLine`: the offset may fall inside a line, which is then passed over.
std::vector<UsageRecord> transcriptRecords(const LogFile& file, std::uint64_t offset, bool midLine) {
    const auto opened = RegularFile::open(file.path);
    if (!opened) {
        return {};
    }
    LineParsers parsers;
    std::vector<UsageRecord> records;
    // Lines of a transcript run to some kilobytes; a longer one makes the buffer grow. Left
    // uninitialized: only the pages a read fills are touched.
    std::size_t capacity = 64 * 1024;
    auto buffer = std::make_unique_for_overwrite<char[]>(capacity + simdjson::SIMDJSON_PADDING);
    std::size_t held = 0;
    bool skipping = midLine;
    for (bool atEnd = false; !atEnd;) {
        const ssize_t got =
            ::pread(opened->descriptor, buffer.get() + held, capacity - held, static_cast<off_t>(offset));
        atEnd = got <= 0;
        offset += atEnd ? 0 : static_cast<std::uint64_t>(got);
        held += atEnd ? 0 : static_cast<std::size_t>(got);
        const std::string_view text(buffer.get(), held);
        const std::size_t lastBreak = text.rfind('\n');
        // Whole lines only, but for the last line of the file, which may lack its line break.
        std::size_t start = 0;
        std::size_t end = atEnd ? held : lastBreak == std::string_view::npos ? 0 : lastBreak + 1;
        if (skipping && end > 0) {
            start = std::min(text.find('\n'), end - 1) + 1;
            skipping = false;
        }
        std::fill_n(buffer.get() + held, simdjson::SIMDJSON_PADDING, '\0');
        auto read = readJsonlText(text.substr(start, end - start), file, parsers, CCUsageParser::lineReader);
        std::move(read.records.begin(), read.records.end(), std::back_inserter(records));
        std::memmove(buffer.get(), buffer.get() + end, held - end);
        held -= end;
        if (held == capacity) {
            capacity *= 2;
            auto larger = std::make_unique_for_overwrite<char[]>(capacity + simdjson::SIMDJSON_PADDING);
            std::memcpy(larger.get(), buffer.get(), held);
            buffer = std::move(larger);
        }
    }
    ::close(opened->descriptor);
    collapseStreamedCopies(records);
    return records;
}

// The session's records that the ledger has not counted yet: those past where its last pass
// stopped reading the transcript, at most the newest part of it: the path is timed.
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
    const LogFile file{transcript, 0.0, size, {}, sessionIdOf(transcript)};
    return ledger.uncounted(UsageSource::claudeCode, transcriptRecords(file, offset, cut));
}

void addLedgerFigures(StatusLineFigures& figures, const StatusLineInput& input, double now) {
    Ledger ledger(PersistenceStore::ledgerURL());
    ledger.setLockWait(lockWaitMs);
    ledger.readThroughMemoryMap();
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
