#include "cli/ReportRange.h"

#include <QDateTime>

#include <cmath>

namespace fernhollow {
namespace {

QTimeZone zoneOf(const ReportOptions& options) {
    return options.timeZone ? QTimeZone(QByteArray::fromStdString(*options.timeZone))
                            : QTimeZone::systemTimeZone();
}

} // namespace

ReportRange::ReportRange(const ReportOptions& options) : zone(zoneOf(options)), calendar(zone) {
    if (options.since) {
        from = static_cast<double>(options.since->startOfDay(zone).toMSecsSinceEpoch()) / 1000.0;
    }
    if (options.until) {
        to = static_cast<double>(options.until->addDays(1).startOfDay(zone).toMSecsSinceEpoch()) / 1000.0;
    }
}

std::string ReportRange::local(double t, const char* format) const {
    if (!(std::abs(t) < 1e15)) {
        return "unknown";
    }
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(t * 1000.0)), zone)
        .toString(QString::fromLatin1(format))
        .toStdString();
}

} // namespace fernhollow
