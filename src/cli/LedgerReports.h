#pragma once

#include "cli/ReportOptions.h"
#include "cli/ReportRange.h"
#include "cli/RowsReport.h"
#include "core/ledger/Ledger.h"

#include <optional>
#include <string_view>

namespace fernhollow {

enum class ReportKind { daily, weekly, monthly, session, blocks };

std::optional<ReportKind> reportKindOf(std::string_view command);

// The rows of a report over the ledger, priced with the current rates, in the range and time
// zone the options name. `now` places the 5-hour window that is still open.
RowsReport ledgerReport(ReportKind kind, Ledger& ledger, const ReportOptions& options,
                        const ReportRange& range, double now);

} // namespace fernhollow
