#pragma once

#include <QCoroTask>

#include <iosfwd>
#include <span>
#include <string>

class QNetworkAccessManager;

namespace fernhollow {

// `fernhollow report [--json] [--device NAME|ID|this|all] [--<source>-dir DIR]... [--no-<source>]...`:
// scans the logs (and fetches OpenAI usage when a key is stored) into the ledger and prints what
// the machines it counts have spent. Gives the process exit code: 0, or 2 for arguments it cannot use.
QCoro::Task<int> runReportCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err,
                                  QNetworkAccessManager& network);

} // namespace fernhollow
