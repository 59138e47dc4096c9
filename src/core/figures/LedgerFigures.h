#pragma once

#include "core/figures/LocalCalendar.h"
#include "core/figures/UsageAggregates.h"
#include "core/ledger/Ledger.h"
#include "core/model/Clock.h"

#include <cstdint>
#include <map>

// The panel's figures taken from the ledger: the same rules as UsageAggregates, applied to the
// quarter-hour totals of the last weeks, the records of the sessions live now and the totals
// per model, so that no figure walks the whole history.
namespace fernhollow::LedgerFigures {

UsageAggregates::UsageSnapshot snapshot(Ledger& ledger, const Clock& clock, const LocalCalendar& calendar);
// This calendar month's spend of each machine (0: this one), whatever the ledger's device scope.
std::map<std::int64_t, double> monthSpendByDevice(Ledger& ledger, const Clock& clock,
                                                  const LocalCalendar& calendar);

} // namespace fernhollow::LedgerFigures
