#pragma once

#include "core/figures/ThresholdKind.h"

#include <optional>
#include <string_view>

namespace fernhollow {

// The month's spend against the budget, in order of severity.
enum class BudgetStatus { ok, warn, critical, over };

std::string_view rawValue(BudgetStatus status);

// Thresholds are fractions of the budget and count at their own value. Without a budget
// (zero, negative or not a number) all is ok. "over" is tested first and "critical" before
// "warn", so a threshold above the next level's never wins.
BudgetStatus budgetStatus(double monthUSD, double budgetUSD, double warnThreshold, double criticalThreshold);

// The alert a move from `before` to `after` calls for: only a rise into a level alerts, and
// a jump over levels alerts only for the level reached.
std::optional<ThresholdKind> alertForRise(BudgetStatus before, BudgetStatus after);

} // namespace fernhollow
