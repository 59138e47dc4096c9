#include "core/model/IsoDate.h"

#include <chrono>
#include <cmath>

namespace fernhollow::isodate {
namespace {

class Cursor {
public:
    explicit Cursor(std::string_view text) : text_(text) {}

    bool atEnd() const { return pos_ == text_.size(); }
    char peek() const { return atEnd() ? '\0' : text_[pos_]; }

    bool literal(char c) {
        if (peek() != c) {
            return false;
        }
        ++pos_;
        return true;
    }

    // Exactly `count` decimal digits.
    std::optional<int> digits(int count) {
        int value = 0;
        for (int i = 0; i < count; ++i) {
            const char c = peek();
            if (c < '0' || c > '9') {
                return std::nullopt;
            }
            value = value * 10 + (c - '0');
            ++pos_;
        }
        return value;
    }

    // One or more digits after a decimal point, as a fraction of one.
    std::optional<double> fraction() {
        double value = 0.0;
        double scale = 0.1;
        const std::size_t start = pos_;
        while (peek() >= '0' && peek() <= '9') {
            value += (peek() - '0') * scale;
            scale /= 10.0;
            ++pos_;
        }
        if (pos_ == start) {
            return std::nullopt;
        }
        return value;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

struct WholeSeconds {
    long long secondsSinceEpoch;
};

// Reads "YYYY-MM-DDTHH:MM:SS" and validates every field against the calendar.
std::optional<WholeSeconds> dateAndTime(Cursor& cursor) {
    const auto year = cursor.digits(4);
    if (!year || !cursor.literal('-')) {
        return std::nullopt;
    }
    const auto month = cursor.digits(2);
    if (!month || !cursor.literal('-')) {
        return std::nullopt;
    }
    const auto day = cursor.digits(2);
    if (!day || !cursor.literal('T')) {
        return std::nullopt;
    }
    const auto hour = cursor.digits(2);
    if (!hour || !cursor.literal(':')) {
        return std::nullopt;
    }
    const auto minute = cursor.digits(2);
    if (!minute || !cursor.literal(':')) {
        return std::nullopt;
    }
    const auto second = cursor.digits(2);
    if (!second) {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{std::chrono::year{*year},
                                           std::chrono::month{static_cast<unsigned>(*month)},
                                           std::chrono::day{static_cast<unsigned>(*day)}};
    if (!date.ok() || *hour > 23 || *minute > 59 || *second > 59) {
        return std::nullopt;
    }
    const long long days = std::chrono::sys_days{date}.time_since_epoch().count();
    return WholeSeconds{days * 86400 + *hour * 3600 + *minute * 60 + *second};
}

// "Z", or "+hh:mm" / "-hh:mm", as seconds to subtract from the local reading.
std::optional<int> zoneOffset(Cursor& cursor) {
    if (cursor.literal('Z')) {
        return 0;
    }
    int sign = 0;
    if (cursor.literal('+')) {
        sign = 1;
    } else if (cursor.literal('-')) {
        sign = -1;
    } else {
        return std::nullopt;
    }
    const auto hours = cursor.digits(2);
    if (!hours || !cursor.literal(':')) {
        return std::nullopt;
    }
    const auto minutes = cursor.digits(2);
    if (!minutes || *hours > 23 || *minutes > 59) {
        return std::nullopt;
    }
    return sign * (*hours * 3600 + *minutes * 60);
}

} // namespace

std::optional<double> parseInternetDateTime(std::string_view text, FractionalSeconds fractionRule) {
    Cursor cursor(text);
    const auto whole = dateAndTime(cursor);
    if (!whole) {
        return std::nullopt;
    }
    double fraction = 0.0;
    if (fractionRule == FractionalSeconds::allowed && cursor.literal('.')) {
        const auto parsed = cursor.fraction();
        if (!parsed) {
            return std::nullopt;
        }
        fraction = *parsed;
    }
    const auto offset = zoneOffset(cursor);
    if (!offset || !cursor.atEnd()) {
        return std::nullopt;
    }
    return static_cast<double>(whole->secondsSinceEpoch - *offset) + fraction;
}

std::optional<double> parseUtcWholeSeconds(std::string_view text) {
    Cursor cursor(text);
    const auto whole = dateAndTime(cursor);
    if (!whole || !cursor.literal('Z') || !cursor.atEnd()) {
        return std::nullopt;
    }
    return static_cast<double>(whole->secondsSinceEpoch);
}

std::string formatUtcWholeSeconds(double secondsSinceEpoch) {
    std::string text;
    appendUtcWholeSeconds(text, secondsSinceEpoch);
    return text;
}

void appendUtcWholeSeconds(std::string& out, double secondsSinceEpoch) {
    using namespace std::chrono;
    // Years 0000 to 9999 are what the format can say; anything else (NaN included) is a
    // corrupt clock, written as the format's first moment rather than cast undefinedly.
    constexpr double firstSecond = -62167219200.0;
    constexpr double lastSecond = 253402300799.0;
    if (!(secondsSinceEpoch >= firstSecond && secondsSinceEpoch <= lastSecond)) {
        out += "0000-01-01T00:00:00Z";
        return;
    }
    const auto total = static_cast<long long>(std::floor(secondsSinceEpoch));
    const sys_seconds instant{seconds{total}};
    const auto dayStart = floor<days>(instant);
    const year_month_day date{dayStart};
    const long long secondOfDay = (instant - dayStart).count();
    const int year = static_cast<int>(date.year());
    char text[] = "0000-00-00T00:00:00Z";
    const auto two = [&text](std::size_t at, long long value) {
        text[at] = static_cast<char>('0' + value / 10);
        text[at + 1] = static_cast<char>('0' + value % 10);
    };
    two(0, year / 100);
    two(2, year % 100);
    two(5, static_cast<unsigned>(date.month()));
    two(8, static_cast<unsigned>(date.day()));
    two(11, secondOfDay / 3600);
    two(14, secondOfDay / 60 % 60);
    two(17, secondOfDay % 60);
    out.append(text, sizeof text - 1);
}

} // namespace fernhollow::isodate
