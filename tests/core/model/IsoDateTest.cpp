#include "core/model/IsoDate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace {

using fernhollow::isodate::appendUtcWholeSeconds;
using fernhollow::isodate::formatUtcWholeSeconds;
using fernhollow::isodate::FractionalSeconds;
using fernhollow::isodate::parseInternetDateTime;
using fernhollow::isodate::parseUtcWholeSeconds;

// 2025-11-05T14:03:27Z
constexpr double sample = 1762351407.0;

TEST(ParseInternetDateTime, AcceptsFractionsAndOffsets) {
    const std::vector<std::pair<std::string, double>> cases = {
        {"2025-11-05T14:03:27Z", sample},
        {"2025-11-05T14:03:27.512Z", sample + 0.512},
        {"2025-11-05T14:03:27.123456789Z", sample + 0.123456789},
        {"2025-11-05T14:03:27.250000000000000000000000000000000000000Z", sample + 0.25},
        {"2025-11-05T16:03:27+02:00", sample},
        {"2025-11-05T08:33:27-05:30", sample},
        {"2025-11-06T01:48:27+11:45", sample},
        {"2025-11-05T16:03:27.25+02:00", sample + 0.25},
        {"1969-12-31T23:59:59Z", -1.0},
        {"2024-02-29T00:00:00Z", 1709164800.0},
        {"2000-02-29T00:00:00Z", 951782400.0},
    };
    for (const auto& [text, expected] : cases) {
        const auto parsed = parseInternetDateTime(text);
        ASSERT_TRUE(parsed.has_value()) << text;
        EXPECT_DOUBLE_EQ(*parsed, expected) << text;
    }
}

TEST(ParseInternetDateTime, RejectsImpossibleDatesAndMalformedText) {
    for (const std::string text :
         {"2025-02-29T00:00:00Z", "1900-02-29T00:00:00Z", "2025-02-30T00:00:00Z", "2025-04-31T00:00:00Z",
          "2025-13-01T00:00:00Z", "2025-00-10T00:00:00Z", "2025-11-00T00:00:00Z", "2025-11-32T00:00:00Z",
          "2025-11-05T24:00:00Z", "2025-11-05T23:60:00Z", "2025-11-05T23:59:60Z", "2025-11-05T14:03:27+24:00",
          "2025-11-05T14:03:27+02:60"}) {
        EXPECT_EQ(parseInternetDateTime(text), std::nullopt) << text;
    }
    for (const std::string text :
         {"2025-11-05T14:03:27", "2025-11-05T14:03:27+0200", "2025-11-05T14:03:27+02", "2025-11-05t14:03:27Z",
          "2025-11-05T14:03:27z", "2025-11-05 14:03:27Z", "2025-11-05T14:03:27Zjunk", " 2025-11-05T14:03:27Z",
          "2025-11-05T14:03:27+02:00Z", "2025-11-05T14:03:27.Z", "2025-11-05T14:03:27,5Z",
          "2025-11-05T14:03Z", "2025-1-05T14:03:27Z", "+2025-11-05T14:03:27Z", "2025/11/05T14:03:27Z",
          "2025-11-05", ""}) {
        EXPECT_EQ(parseInternetDateTime(text), std::nullopt) << text;
    }
}

// Forbidden fractions fail the whole text; the strict form allows nothing but itself.
TEST(ParseInternetDateTime, ForbiddenFractionsAndTheStrictFormRefuseTheRest) {
    EXPECT_EQ(parseInternetDateTime("2025-11-05T16:03:27+02:00", FractionalSeconds::forbidden), sample);
    for (const std::string text : {"2025-11-05T14:03:27.5Z", "2025-11-05T14:03:27.000Z",
                                   "2025-11-05T16:03:27.25+02:00", "2025-11-05T14:03:27.Z"}) {
        EXPECT_EQ(parseInternetDateTime(text, FractionalSeconds::forbidden), std::nullopt) << text;
    }
    for (const std::string text :
         {"2025-11-05T14:03:27.000Z", "2025-11-05T14:03:27+00:00", "2025-11-05T14:03:27",
          "2025-11-05t14:03:27Z", "2025-11-05T14:03:27Z ", "2025-02-29T00:00:00Z", ""}) {
        EXPECT_EQ(parseUtcWholeSeconds(text), std::nullopt) << text;
    }
}

// Each instant formats to its text, which the strict parser reads back; fractions drop to the past.
TEST(FormatUtcWholeSeconds, WritesWhatTheStrictParserReadsBack) {
    const std::vector<std::pair<double, std::string>> cases = {
        {1762351407.9, "2025-11-05T14:03:27Z"},   {sample, "2025-11-05T14:03:27Z"},
        {0.999, "1970-01-01T00:00:00Z"},          {-0.5, "1969-12-31T23:59:59Z"},
        {-1.5, "1969-12-31T23:59:58Z"},           {-86400.0, "1969-12-31T00:00:00Z"},
        {1709164800.0, "2024-02-29T00:00:00Z"},   {951782399.0, "2000-02-28T23:59:59Z"},
        {1767225599.0, "2025-12-31T23:59:59Z"},   {-2208988800.0, "1900-01-01T00:00:00Z"},
        {-62135596800.0, "0001-01-01T00:00:00Z"}, {253402300799.0, "9999-12-31T23:59:59Z"},
        {-62167219200.0, "0000-01-01T00:00:00Z"},
    };
    for (const auto& [seconds, text] : cases) {
        std::string appended = "[";
        appendUtcWholeSeconds(appended, seconds);
        EXPECT_EQ(appended, "[" + text) << seconds;
        EXPECT_EQ(parseUtcWholeSeconds(text), std::floor(seconds)) << text;
    }
}

// Whatever the clock said, what is written must read back, or the whole file is lost.
TEST(FormatUtcWholeSeconds, TimesBeyondFourDigitYearsStillWriteParseableText) {
    for (const double seconds :
         {253402300800.0, -62167219201.0, 1e12, -1e12, std::numeric_limits<double>::quiet_NaN(),
          std::numeric_limits<double>::infinity()}) {
        EXPECT_TRUE(parseUtcWholeSeconds(formatUtcWholeSeconds(seconds)).has_value()) << seconds;
    }
}

} // namespace
