#pragma once

#include "store/LocalCalendar.h"

#include <QDate>
#include <QLocale>
#include <QTimeZone>

namespace fernhollow {

// The local calendar of a Qt time zone with the first weekday of a locale, by default the
// system's. Both are fixed at construction: build one per computation to follow the user's
// current settings.
class QtLocalCalendar final : public LocalCalendar {
public:
    explicit QtLocalCalendar(QTimeZone zone = QTimeZone::systemTimeZone(),
                             const QLocale& locale = QLocale::system());

    std::optional<double> startOfDay(double t) const override;
    std::optional<double> addDays(double dayStart, int days) const override;
    std::optional<double> startOfWeek(double t) const override;
    std::optional<double> startOfMonth(double t) const override;

private:
    std::optional<QDate> localDate(double t) const;
    std::optional<double> start(QDate date) const;

    QTimeZone zone_;
    Qt::DayOfWeek firstDayOfWeek_;
};

} // namespace fernhollow
