#include "core/figures/SystemCalendar.h"

#include <cmath>
#include <ctime>
#include <tuple>

namespace fernhollow::SystemCalendar {
namespace {

// Far beyond any date a record holds, and within what the C library converts.
constexpr double largestMoment = 1e12;
// Longer than any daylight-saving or zone change moves the clock.
constexpr std::time_t widestGap = 6 * 3600;

std::optional<std::tm> localTime(std::time_t moment) {
    std::tm local{};
    return ::localtime_r(&moment, &local) != nullptr ? std::optional(local) : std::nullopt;
}

auto dateOf(const std::tm& local) {
    return std::tuple(local.tm_year, local.tm_mon, local.tm_mday);
}

std::optional<double> firstMomentOf(double t, bool wholeMonth) {
    if (!(std::abs(t) < largestMoment)) {
        return std::nullopt;
    }
    // The zone is read again on each call, as mktime does: localtime_r alone keeps the first.
    ::tzset();
    const auto local = localTime(static_cast<std::time_t>(std::floor(t)));
    if (!local) {
        return std::nullopt;
    }
    std::tm midnight{};
    midnight.tm_year = local->tm_year;
    midnight.tm_mon = local->tm_mon;
    midnight.tm_mday = wholeMonth ? 1 : local->tm_mday;
    midnight.tm_isdst = -1;
    const auto day = dateOf(midnight);
    const std::time_t guess = std::mktime(&midnight);
    const auto found = guess != -1 ? localTime(guess) : std::nullopt;
    if (!found) {
        return std::nullopt;
    }
    if (dateOf(*found) == day && found->tm_hour == 0 && found->tm_min == 0 && found->tm_sec == 0) {
        return static_cast<double>(guess);
    }
    // Midnight fell in a gap, and the C library placed it on either side: the day begins at
    // the first moment near it whose date is the day's.
    std::time_t before = guess - widestGap;
    std::time_t after = guess + widestGap;
    while (after - before > 1) {
        const std::time_t middle = before + (after - before) / 2;
        const auto at = localTime(middle);
        if (!at) {
            return std::nullopt;
        }
        (dateOf(*at) < day ? before : after) = middle;
    }
    return static_cast<double>(after);
}

} // namespace

std::optional<double> startOfDay(double t) {
    return firstMomentOf(t, false);
}

std::optional<double> startOfMonth(double t) {
    return firstMomentOf(t, true);
}

} // namespace fernhollow::SystemCalendar
