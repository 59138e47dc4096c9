#include "cli/LedgerReportCommand.h"

#include "cli/HeadlessPass.h"
#include "core/model/Clock.h"

#include <cstdio>
#include <ostream>

namespace fernhollow {

QCoro::Task<int> runLedgerReportCommand(ReportKind kind, std::string_view command,
                                        std::span<const std::string> args, std::ostream& out,
                                        std::ostream& err, QNetworkAccessManager& network) {
    const CommandSyntax syntax{command, true};
    const auto parsed = parseReportOptions(syntax, args, out, err);
    if (const int* code = std::get_if<int>(&parsed)) {
        co_return *code;
    }
    const ReportOptions& options = std::get<ReportOptions>(parsed);
    HeadlessPass pass(options, network);
    co_await pass.run(command, err);
    if (const auto code = pass.countMachines(options.device, command, err)) {
        co_return *code;
    }
    Ledger* ledger = pass.store().ledger();
    if (ledger == nullptr) {
        co_return 1; // the pass told why
    }
    const ReportRange range(options);
    RowsReport report;
    try {
        report = ledgerReport(kind, *ledger, options, range, Clock::system().now());
    } catch (const sqlite::Error& error) {
        err << "fernhollow " << command << ": could not read the usage ledger: " << error.what() << "\n";
        co_return 1;
    }
    if (options.json) {
        out << rowsJson(report, options.breakdown);
    } else if (report.rows.empty()) {
        out << "No usage in this range.\n";
        for (const std::string& note : report.notes) {
            out << note << "\n";
        }
    } else {
        out << rowsTable(report, Terminal::of(stdout), options.breakdown);
    }
    out.flush();
    co_return out.good() && !pass.store().lastPassFailed() ? 0 : 1;
}

} // namespace fernhollow
