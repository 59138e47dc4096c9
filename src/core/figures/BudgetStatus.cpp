#include "core/figures/BudgetStatus.h"

namespace fernhollow {

std::string_view rawValue(BudgetStatus status) {
    switch (status) {
    case BudgetStatus::ok:
        return "ok";
    case BudgetStatus::warn:
        return "warn";
    case BudgetStatus::critical:
        return "critical";
    case BudgetStatus::over:
        return "over";
    }
    return "ok";
}

BudgetStatus budgetStatus(double monthUSD, double budgetUSD, double warnThreshold, double criticalThreshold) {
    if (!(budgetUSD > 0.0)) {
        return BudgetStatus::ok;
    }
    const double ratio = monthUSD / budgetUSD;
    if (ratio >= 1.0) {
        return BudgetStatus::over;
    }
    if (ratio >= criticalThreshold) {
        return BudgetStatus::critical;
    }
    if (ratio >= warnThreshold) {
        return BudgetStatus::warn;
    }
    return BudgetStatus::ok;
}

std::optional<ThresholdKind> alertForRise(BudgetStatus before, BudgetStatus after) {
    if (after == BudgetStatus::warn && before == BudgetStatus::ok) {
        return ThresholdKind::warn;
    }
    if (after == BudgetStatus::critical && (before == BudgetStatus::ok || before == BudgetStatus::warn)) {
        return ThresholdKind::critical;
    }
    if (after == BudgetStatus::over && before != BudgetStatus::over) {
        return ThresholdKind::emergency;
    }
    return std::nullopt;
}

} // namespace fernhollow
