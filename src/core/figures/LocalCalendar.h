#pragma once

#include <optional>

namespace fernhollow {

// The user's calendar, time zone and first weekday, as the usage figures need them. The core
// cannot ask Qt, and the standard library of GCC 12 has no time zones, so the platform layer
// supplies this. Moments are seconds since 1970-01-01T00:00:00Z; a result is empty when the
// calendar cannot form that moment (a zone that does not resolve, a day that a zone skipped).
class LocalCalendar {
public:
    virtual ~LocalCalendar() = default;

    // The first moment of the local day that holds `t`: midnight, or the end of a
    // daylight-saving gap that swallowed midnight.
    virtual std::optional<double> startOfDay(double t) const = 0;

    // The first moment of the local day `days` calendar days after the one that holds
    // `dayStart` (before it when negative). A calendar move, not a multiple of 24 hours: the
    // day across a daylight-saving change is 23 or 25 hours long.
    virtual std::optional<double> addDays(double dayStart, int days) const = 0;

    // The first moment of the current week, which begins on the first weekday of the user's
    // region (Monday in Germany, Sunday in the United States).
    virtual std::optional<double> startOfWeek(double t) const = 0;

    virtual std::optional<double> startOfMonth(double t) const = 0;
};

} // namespace fernhollow
