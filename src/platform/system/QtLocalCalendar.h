#pragma once

#include "core/figures/LocalCalendar.h"

#include <QDate>
#include <QLocale>
#include <QTimeZone>

#include <optional>

namespace fernhollow {

// The local calendar over Qt's time zones, weeks beginning on a locale's first weekday.
class QtLocalCalendar final : public LocalCalendar {
public:
    // Follows the system's time zone and locale as they are at each call: a tray app runs for
    // weeks, and a laptop travels.
    QtLocalCalendar() = default;
    explicit QtLocalCalendar(QTimeZone zone, const QLocale& locale = QLocale::system());

    std::optional<double> startOfDay(double t) const override;
    std::optional<double> addDays(double dayStart, int days) const override;
    std::optional<double> startOfWeek(double t) const override;
    std::optional<double> startOfMonth(double t) const override;

private:
    QTimeZone zone() const;
    std::optional<QDate> localDate(double t) const;
    std::optional<double> start(QDate date) const;

    std::optional<QTimeZone> zone_;
    std::optional<Qt::DayOfWeek> firstDayOfWeek_;
};

} // namespace fernhollow
