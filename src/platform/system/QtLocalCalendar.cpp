#include "platform/system/QtLocalCalendar.h"

#include <QDateTime>

#include <cmath>
#include <utility>

namespace fernhollow {

QtLocalCalendar::QtLocalCalendar(QTimeZone zone, const QLocale& locale)
    : zone_(std::move(zone)), firstDayOfWeek_(locale.firstDayOfWeek()) {}

QTimeZone QtLocalCalendar::zone() const {
    return zone_ ? *zone_ : QTimeZone::systemTimeZone();
}

std::optional<QDate> QtLocalCalendar::localDate(double t) const {
    // Far beyond any record yet well inside what QDateTime spans; also turns away NaN.
    if (!(std::abs(t) < 1e15)) {
        return std::nullopt;
    }
    // Rounding down keeps a moment a fraction of a millisecond before midnight in its own day.
    const auto ms = static_cast<qint64>(std::floor(t * 1000.0));
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms, zone());
    if (!local.isValid()) {
        return std::nullopt;
    }
    return local.date();
}

std::optional<double> QtLocalCalendar::start(QDate date) const {
    // Qt moves a midnight that a daylight-saving gap skips to the gap's end, and gives an
    // invalid result for a day that the zone left out altogether.
    const QDateTime first = date.startOfDay(zone());
    if (!first.isValid()) {
        return std::nullopt;
    }
    return static_cast<double>(first.toMSecsSinceEpoch()) / 1000.0;
}

std::optional<double> QtLocalCalendar::startOfDay(double t) const {
    const auto date = localDate(t);
    return date ? start(*date) : std::nullopt;
}

std::optional<double> QtLocalCalendar::addDays(double dayStart, int days) const {
    const auto date = localDate(dayStart);
    return date ? start(date->addDays(days)) : std::nullopt;
}

std::optional<double> QtLocalCalendar::startOfWeek(double t) const {
    const auto date = localDate(t);
    if (!date) {
        return std::nullopt;
    }
    const int firstDay = firstDayOfWeek_.value_or(QLocale::system().firstDayOfWeek());
    const int daysIntoWeek = (date->dayOfWeek() - firstDay + 7) % 7;
    return start(date->addDays(-daysIntoWeek));
}

std::optional<double> QtLocalCalendar::startOfMonth(double t) const {
    const auto date = localDate(t);
    return date ? start(QDate(date->year(), date->month(), 1)) : std::nullopt;
}

} // namespace fernhollow
