#pragma once

#include "core/figures/BudgetStatus.h"
#include "core/model/RateLimit.h"

#include <optional>
#include <string>

namespace fernhollow {

// What the status line knows; a missing figure is left out of the line.
struct StatusLineFigures {
    std::string model;
    std::optional<double> sessionUSD;
    std::optional<double> todayUSD;
    std::optional<RateLimit> fiveHour; // the agent's own reading
    // Else the 5-hour window as the local logs show it.
    std::optional<double> estimateUSD;
    std::optional<double> estimateSecondsLeft;
    std::optional<BudgetStatus> status;
};

// "Opus 4.1 · session $1.23 · today $45.67 · 5h 42% used, resets in 2h 13m · ●", in colour
// when `colour`.
std::string statusLineText(const StatusLineFigures& figures, double now, bool colour);

} // namespace fernhollow
