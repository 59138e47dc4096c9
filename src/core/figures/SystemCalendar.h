#pragma once

#include <optional>

// The start of the local day and of the local month that hold a moment, in the time zone the
// system names now (TZ, else /etc/localtime), through the C library. The status line program
// needs only these and must start without Qt; the panel and the reports use the platform's
// LocalCalendar, which also knows the region's first weekday. Moments are seconds since
// 1970-01-01T00:00:00Z; empty for a moment no calendar holds.
namespace fernhollow::SystemCalendar {

// Midnight, or the end of a daylight-saving gap that swallowed midnight.
std::optional<double> startOfDay(double t);

std::optional<double> startOfMonth(double t);

} // namespace fernhollow::SystemCalendar
