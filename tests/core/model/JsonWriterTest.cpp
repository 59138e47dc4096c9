#include "core/model/JsonWriter.h"

#include <gtest/gtest.h>
#include <simdjson.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace {

using fernhollow::json::appendInteger;
using fernhollow::json::appendNumber;
using fernhollow::json::appendString;
using fernhollow::json::Slash;

TEST(JsonAppendString, EveryCharacterReadsBackAndNoControlCharacterIsWrittenRaw) {
    std::string text;
    for (int c = 0; c < 0x80; ++c) {
        text.push_back(static_cast<char>(c));
    }
    text += "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80";
    for (const Slash slash : {Slash::plain, Slash::escaped}) {
        std::string out;
        appendString(out, text, slash);
        simdjson::dom::parser parser;
        std::string_view value;
        ASSERT_EQ(parser.parse(out).get_string().get(value), simdjson::SUCCESS) << out;
        EXPECT_EQ(value, text) << out;
        for (const char c : out) {
            EXPECT_GE(static_cast<unsigned char>(c), 0x20) << out;
        }
    }
}

// Integral values are written without a fraction or exponent; past 64 bits such text is
// refused by the JSON reader, and the whole document with it. What JSON cannot hold is null.
TEST(JsonAppendNumber, ReadsBackAsTheSameNumber) {
    simdjson::dom::parser parser;
    for (const std::int64_t value :
         {std::int64_t{0}, std::int64_t{-1}, std::numeric_limits<std::int64_t>::max(),
          std::numeric_limits<std::int64_t>::min()}) {
        std::string out;
        appendInteger(out, value);
        std::int64_t read = 0;
        EXPECT_EQ(parser.parse(out).get_int64().get(read), simdjson::SUCCESS) << out;
        EXPECT_EQ(read, value) << out;
    }
    for (const double value : {0.0, -2.5, 0.1, 0.1 + 0.2, 1.0 / 3.0, 0.275, 5e-324, DBL_MIN, DBL_MAX, 1e21,
                               9007199254740993.0, 9223372036854775808.0, 18446744073709549568.0,
                               18446744073709551616.0, 123456789012345683968.0, -9223372036854777856.0}) {
        std::string out;
        appendNumber(out, value);
        double read = std::nan("");
        EXPECT_EQ(parser.parse(out).get_double().get(read), simdjson::SUCCESS) << out;
        EXPECT_EQ(read, value) << out;
    }
    for (const double value :
         {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
        std::string out = "[";
        appendNumber(out, value);
        EXPECT_EQ(out, "[null");
    }
}

} // namespace
