#pragma once

#include "cli/LedgerReports.h"

#include <QCoroTask>

#include <iosfwd>
#include <span>
#include <string>

class QNetworkAccessManager;

namespace fernhollow {

// `fernhollow daily|weekly|monthly|session|blocks [options]`: reads what the logs gained into
// the ledger, then prints the report's table, or its JSON with `--json`. Gives the process
// exit code: 0, 1 when the ledger could not be updated or read, 2 for arguments it cannot use.
QCoro::Task<int> runLedgerReportCommand(ReportKind kind, std::string_view command,
                                        std::span<const std::string> args, std::ostream& out,
                                        std::ostream& err, QNetworkAccessManager& network);

} // namespace fernhollow
