#pragma once

#include "core/figures/LocalCalendar.h"
#include "core/model/Clock.h"

#include <chrono>
#include <cmath>
#include <optional>

// A fixed moment and a fixed zone, so that the figures a benchmark computes, and the work they
// take, are the same on every run and every machine.
namespace fernhollow::bench {

inline constexpr double day = 86'400.0;

class FixedClock final : public Clock {
public:
    explicit FixedClock(double now) : now_(now) {}
    double now() const override { return now_; }

private:
    double now_;
};

// A zone one hour east of UTC without daylight saving, weeks from Monday: the core has no
// time zone database, and the work per figure does not depend on the zone.
class FixedOffsetCalendar final : public LocalCalendar {
public:
    std::optional<double> startOfDay(double t) const override { return startOf(localDay(t)); }
    std::optional<double> addDays(double dayStart, int days) const override {
        return startOf(localDay(dayStart) + std::chrono::days(days));
    }
    std::optional<double> startOfWeek(double t) const override {
        const std::chrono::sys_days date = localDay(t);
        return startOf(date - (std::chrono::weekday(date) - std::chrono::Monday));
    }
    std::optional<double> startOfMonth(double t) const override {
        const std::chrono::year_month_day date(localDay(t));
        return startOf(std::chrono::sys_days(date.year() / date.month() / 1));
    }

private:
    static constexpr double offset = 3'600.0;
    static std::chrono::sys_days localDay(double t) {
        return std::chrono::sys_days(std::chrono::days(static_cast<int>(std::floor((t + offset) / day))));
    }
    static double startOf(std::chrono::sys_days date) {
        return static_cast<double>(date.time_since_epoch().count()) * day - offset;
    }
};

} // namespace fernhollow::bench
