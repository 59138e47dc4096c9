#pragma once

#include "cli/ReportOptions.h"
#include "platform/system/QtLocalCalendar.h"

#include <QTimeZone>

#include <string>

namespace fernhollow {

// The span of time a command reports, [from, to), and the zone its days are read in.
struct ReportRange {
    QTimeZone zone;
    QtLocalCalendar calendar;
    double from = -1e15;
    double to = 1e15;

    explicit ReportRange(const ReportOptions& options);

    bool contains(double t) const { return t >= from && t < to; }
    // `t` in the zone, formatted as QDateTime formats ("yyyy-MM-dd HH:mm").
    std::string local(double t, const char* format) const;
};

} // namespace fernhollow
