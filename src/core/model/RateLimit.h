#pragma once

#include "core/model/UsageSource.h"

#include <cstdint>
#include <optional>

namespace fernhollow {

// The plan windows that subscriptions meter. The numbers are stored in the ledger: never renumber.
enum class RateWindow : std::int64_t { fiveHour = 1, weekly = 2 };

// How much of one plan window an agent said was used, and when it said so.
struct RateLimit {
    UsageSource agent = UsageSource::claudeCode;
    RateWindow window = RateWindow::fiveHour;
    double usedPercent = 0.0;
    std::optional<double> resetsAt; // seconds since 1970
    std::optional<std::int64_t> windowMinutes;
    double observedAt = 0.0; // seconds since 1970

    friend bool operator==(const RateLimit&, const RateLimit&) = default;
};

} // namespace fernhollow
