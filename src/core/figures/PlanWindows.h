#pragma once

#include "core/figures/UsageBlocks.h"
#include "core/ledger/Ledger.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// The plan windows of the agents as the panel and the status line show them: the agent's own
// reading where one still holds, else an estimate from the local logs.
namespace fernhollow::PlanWindows {

struct Estimate {
    double usd = 0.0;
    UsageBlocks::Progress progress;
};

// The 5-hour block of `agent` open at `now`, from the ledger's records of the last day, which
// settle where it began; none when no block is open.
std::optional<Estimate> currentEstimate(Ledger& ledger, UsageSource agent, double now);

// Writes a reset as the user reads it, with the weekday for a weekly one.
using LocalTime = std::function<std::string(double t, bool weekly)>;

// "Claude Code · 5-hour window: 42% used, resets 16:00", and the weekly line, of each agent's
// reading that still holds.
std::vector<std::string> readingLines(const std::vector<RateLimit>& limits, double now,
                                      const LocalTime& localTime);

// The reading lines, after the estimate of Claude Code's 5-hour window when no reading of
// its own holds.
std::vector<std::string> lines(Ledger& ledger, double now, const LocalTime& localTime);

} // namespace fernhollow::PlanWindows
