#include "core/figures/LedgerFigures.h"

#include "core/model/ModelPricing.h"

#include <algorithm>
#include <vector>

namespace fernhollow::LedgerFigures {

using namespace UsageAggregates;

UsageSnapshot snapshot(Ledger& ledger, const Clock& clock, const LocalCalendar& calendar) {
    const double now = clock.now();
    const double last30Start = now - 30 * 86'400.0;
    // Every moment at which some figure's window starts or ends.
    std::vector<double> cuts{last30Start};
    for (const auto start :
         {calendar.startOfDay(now), calendar.startOfWeek(now), calendar.startOfMonth(now)}) {
        if (start) {
            cuts.push_back(*start);
        }
    }
    if (const auto today = calendar.startOfDay(now)) {
        for (int back = 0; back <= snapshotDays; ++back) {
            if (const auto day = calendar.addDays(*today, -back)) {
                cuts.push_back(*day);
            }
        }
        if (const auto tomorrow = calendar.addDays(*today, 1)) {
            cuts.push_back(*tomorrow);
        }
    }
    const double from = *std::min_element(cuts.begin(), cuts.end());
    std::vector<UsageRecord> history;
    ledger.visitHistorySince(from, cuts, {}, [&](const UsageRecord& record) { history.push_back(record); });
    UsageSnapshot figures = computeSnapshot({{}, history, {}}, clock, calendar);

    const std::vector<UsageRecord> live =
        ledger.sessionsActiveSince(UsageSource::claudeCode, now - snapshotLiveMinutes * 60.0);
    figures.liveSessions = liveSessions({live, {}, {}}, clock, snapshotLiveMinutes);

    // The unpriced figures cover all of history, which the totals per model hold.
    std::vector<UsageRecord> totals;
    const ModelPricing::Pricer pricer;
    figures.unpricedRecords = 0;
    figures.unpricedUSDAtFallback = 0.0;
    for (ModelTotal& total : ledger.modelTotals()) {
        if (pricer.effectiveRate(total.sums.model) == nullptr) {
            figures.unpricedRecords += total.records;
            figures.unpricedUSDAtFallback += pricer.cost(total.sums);
        }
        totals.push_back(std::move(total.sums));
    }
    figures.unpricedModels = unpricedModels({totals, {}, {}});
    return figures;
}

std::map<std::int64_t, double> monthSpendByDevice(Ledger& ledger, const Clock& clock,
                                                  const LocalCalendar& calendar) {
    std::map<std::int64_t, double> spend;
    const auto start = calendar.startOfMonth(clock.now());
    if (!start) {
        return spend;
    }
    const auto scope = ledger.deviceScope();
    ledger.setDeviceScope(std::nullopt);
    const std::vector<ModelTotal> totals = ledger.modelTotalsSince(*start);
    ledger.setDeviceScope(scope);
    const ModelPricing::Pricer pricer;
    for (const ModelTotal& total : totals) {
        spend[total.device] += pricer.cost(total.sums);
    }
    return spend;
}

} // namespace fernhollow::LedgerFigures
