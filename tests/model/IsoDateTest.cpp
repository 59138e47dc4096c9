#include "model/IsoDate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using fernhollow::isodate::appendUtcWholeSeconds;
using fernhollow::isodate::formatUtcWholeSeconds;
using fernhollow::isodate::FractionalSeconds;
using fernhollow::isodate::parseInternetDateTime;
using fernhollow::isodate::parseUtcWholeSeconds;

// 2025-11-05T14:03:27Z
constexpr double sampleSeconds = 1762351407.0;

TEST(ParseInternetDateTime, AcceptsUtcWithAndWithoutFraction) {
    EXPECT_EQ(parseInternetDateTime("2025-11-05T14:03:27Z"), sampleSeconds);
    const auto fractional = parseInternetDateTime("2025-11-05T14:03:27.512Z");
    ASSERT_TRUE(fractional.has_value());
    EXPECT_DOUBLE_EQ(*fractional, 1762351407.512);
}

TEST(ParseInternetDateTime, AcceptsAnyNumberOfFractionDigits) {
    const std::vector<std::pair<std::string, double>> cases = {
        {"2025-11-05T14:03:27.5Z", sampleSeconds + 0.5},
        {"2025-11-05T14:03:27.05Z", sampleSeconds + 0.05},
        {"2025-11-05T14:03:27.000Z", sampleSeconds},
        {"2025-11-05T14:03:27.123456789Z", sampleSeconds + 0.123456789},
        {"2025-11-05T14:03:27.250000000000000000000000000000000000000Z", sampleSeconds + 0.25},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        const auto parsed = parseInternetDateTime(text);
        ASSERT_TRUE(parsed.has_value());
        EXPECT_DOUBLE_EQ(*parsed, expected);
    }
}

TEST(ParseInternetDateTime, OffsetsConvertToUtc) {
    const std::vector<std::string> sameInstant = {
        "2025-11-05T16:03:27+02:00", "2025-11-05T08:33:27-05:30", "2025-11-05T14:03:27+00:00",
        "2025-11-05T14:03:27-00:00", "2025-11-06T01:48:27+11:45", "2025-11-04T14:04:27-23:59",
    };
    for (const auto& text : sameInstant) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parseInternetDateTime(text), sampleSeconds);
    }
    const auto fractional = parseInternetDateTime("2025-11-05T16:03:27.25+02:00");
    ASSERT_TRUE(fractional.has_value());
    EXPECT_DOUBLE_EQ(*fractional, sampleSeconds + 0.25);
}

TEST(ParseInternetDateTime, OffsetsMayCrossYearBoundaries) {
    EXPECT_EQ(parseInternetDateTime("2024-12-31T23:30:00-01:00"),
              parseInternetDateTime("2025-01-01T00:30:00Z"));
    EXPECT_EQ(parseInternetDateTime("1970-01-01T00:30:00+01:00"), -1800.0);
}

TEST(ParseInternetDateTime, ValidatesTheCalendar) {
    EXPECT_EQ(parseInternetDateTime("1970-01-01T00:00:00Z"), 0.0);
    EXPECT_EQ(parseInternetDateTime("1969-12-31T23:59:59Z"), -1.0);
    EXPECT_EQ(parseInternetDateTime("2024-02-29T00:00:00Z"), 1709164800.0);
    EXPECT_EQ(parseInternetDateTime("2000-02-29T00:00:00Z"), 951782400.0);
    EXPECT_EQ(parseInternetDateTime("2025-12-31T23:59:59Z"), 1767225599.0);
    for (const std::string text :
         {"2025-02-29T00:00:00Z", "1900-02-29T00:00:00Z", "2025-02-30T00:00:00Z", "2025-04-31T00:00:00Z",
          "2025-13-01T00:00:00Z", "2025-00-10T00:00:00Z", "2025-11-00T00:00:00Z", "2025-11-32T00:00:00Z"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parseInternetDateTime(text), std::nullopt);
    }
}

TEST(ParseInternetDateTime, RejectsOutOfRangeTimes) {
    for (const std::string text : {"2025-11-05T24:00:00Z", "2025-11-05T23:60:00Z", "2025-11-05T23:59:60Z",
                                   "2025-11-05T14:03:27+24:00", "2025-11-05T14:03:27+02:60"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parseInternetDateTime(text), std::nullopt);
    }
}

TEST(ParseInternetDateTime, RejectsMalformedText) {
    for (const std::string text : {
             "",
             "2025-11-05T14:03:27",
             "2025-11-05T14:03:27.512",
             "2025-11-05T14:03:27+0200",
             "2025-11-05T14:03:27+02",
             "2025-11-05t14:03:27Z",
             "2025-11-05T14:03:27z",
             "2025-11-05 14:03:27Z",
             "2025-11-05T14:03:27Zjunk",
             "2025-11-05T14:03:27Z ",
             " 2025-11-05T14:03:27Z",
             "2025-11-05T14:03:27+02:00Z",
             "2025-11-05T14:03:27.Z",
             "2025-11-05T14:03:27,5Z",
             "2025-11-05T14:03Z",
             "2025-11-05",
             "2025-1-05T14:03:27Z",
             "25-11-05T14:03:27Z",
             "+2025-11-05T14:03:27Z",
             "2025-11-05T14:3:27Z",
             "2025/11/05T14:03:27Z",
         }) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parseInternetDateTime(text), std::nullopt);
    }
}

TEST(ParseInternetDateTime, ForbiddenFractionsFailTheWholeText) {
    EXPECT_EQ(parseInternetDateTime("2025-11-05T14:03:27Z", FractionalSeconds::forbidden), sampleSeconds);
    EXPECT_EQ(parseInternetDateTime("2025-11-05T16:03:27+02:00", FractionalSeconds::forbidden),
              sampleSeconds);
    for (const std::string text : {"2025-11-05T14:03:27.5Z", "2025-11-05T14:03:27.000Z",
                                   "2025-11-05T16:03:27.25+02:00", "2025-11-05T14:03:27.Z"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parseInternetDateTime(text, FractionalSeconds::forbidden), std::nullopt);
    }
}

TEST(ParseUtcWholeSeconds, AcceptsOnlyTheStrictForm) {
    EXPECT_EQ(parseUtcWholeSeconds("2025-11-05T14:03:27Z"), sampleSeconds);
    EXPECT_EQ(parseUtcWholeSeconds("1969-12-31T23:59:58Z"), -2.0);
    EXPECT_EQ(parseUtcWholeSeconds("2024-02-29T00:00:00Z"), 1709164800.0);
    for (const std::string text :
         {"2025-11-05T14:03:27.000Z", "2025-11-05T14:03:27.5Z", "2025-11-05T14:03:27+00:00",
          "2025-11-05T14:03:27-00:00", "2025-11-05T14:03:27", "2025-11-05T14:03:27z", "2025-11-05t14:03:27Z",
          "2025-11-05T14:03:27Z ", "2025-02-29T00:00:00Z", "2025-11-05T24:00:00Z", ""}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parseUtcWholeSeconds(text), std::nullopt);
    }
}

TEST(FormatUtcWholeSeconds, DropsTheFractionTowardsThePast) {
    EXPECT_EQ(formatUtcWholeSeconds(1762351407.9), "2025-11-05T14:03:27Z");
    EXPECT_EQ(formatUtcWholeSeconds(1762351407.0), "2025-11-05T14:03:27Z");
    EXPECT_EQ(formatUtcWholeSeconds(0.0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(formatUtcWholeSeconds(0.999), "1970-01-01T00:00:00Z");
    EXPECT_EQ(formatUtcWholeSeconds(-0.5), "1969-12-31T23:59:59Z");
    EXPECT_EQ(formatUtcWholeSeconds(-1.5), "1969-12-31T23:59:58Z");
    EXPECT_EQ(formatUtcWholeSeconds(-86400.0), "1969-12-31T00:00:00Z");
}

TEST(FormatUtcWholeSeconds, WritesCalendarDatesCorrectly) {
    EXPECT_EQ(formatUtcWholeSeconds(1709164800.0), "2024-02-29T00:00:00Z");
    EXPECT_EQ(formatUtcWholeSeconds(951782400.0 - 1.0), "2000-02-28T23:59:59Z");
    EXPECT_EQ(formatUtcWholeSeconds(1767225599.0), "2025-12-31T23:59:59Z");
    EXPECT_EQ(formatUtcWholeSeconds(-2208988800.0), "1900-01-01T00:00:00Z");
}

TEST(FormatUtcWholeSeconds, RoundTripsThroughTheStrictParser) {
    // A stride coprime with a day visits every time of day and many dates between 1900 and 2100.
    for (double seconds = -2208988800.0; seconds < 4102444800.0; seconds += 7919777.25) {
        SCOPED_TRACE(seconds);
        const std::string text = formatUtcWholeSeconds(seconds);
        EXPECT_EQ(parseUtcWholeSeconds(text), std::floor(seconds));
        EXPECT_EQ(parseInternetDateTime(text), std::floor(seconds));
    }
}

TEST(FormatUtcWholeSeconds, ParsedTextFormatsBackUnchanged) {
    for (const std::string text :
         {"2025-11-05T14:03:27Z", "2024-02-29T23:59:59Z", "1970-01-01T00:00:00Z", "1969-12-31T23:59:59Z",
          "2000-01-01T00:00:00Z", "0001-01-01T00:00:00Z", "9999-12-31T23:59:59Z"}) {
        SCOPED_TRACE(text);
        const auto parsed = parseUtcWholeSeconds(text);
        ASSERT_TRUE(parsed.has_value());
        EXPECT_EQ(formatUtcWholeSeconds(*parsed), text);
    }
}

TEST(FormatUtcWholeSeconds, AppendKeepsEarlierText) {
    std::string out = "[";
    appendUtcWholeSeconds(out, 1762351407.9);
    out += ",";
    appendUtcWholeSeconds(out, -1.5);
    EXPECT_EQ(out, "[2025-11-05T14:03:27Z,1969-12-31T23:59:58Z");
}

// Whatever the clock said, what is written must read back, or the whole file is lost.
TEST(FormatUtcWholeSeconds, TimesBeyondFourDigitYearsStillWriteParseableText) {
    EXPECT_EQ(formatUtcWholeSeconds(253402300799.0), "9999-12-31T23:59:59Z");
    EXPECT_EQ(formatUtcWholeSeconds(-62167219200.0), "0000-01-01T00:00:00Z");
    for (const double seconds : {253402300800.0, -62167219201.0, 1e12, -1e12}) {
        SCOPED_TRACE(seconds);
        EXPECT_TRUE(parseUtcWholeSeconds(formatUtcWholeSeconds(seconds)).has_value());
    }
}

} // namespace
