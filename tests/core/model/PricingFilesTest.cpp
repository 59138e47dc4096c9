#include "core/model/PricingFiles.h"
#include "core/model/ModelPricing.h"
#include "support/RatePrinter.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace {

using namespace fernhollow;
using ModelPricing::Rate;
using ModelPricing::RateTable;
using PricingFiles::DecodeError;

// The decoded table, or a failed expectation.
RateTable decodedTable(std::string_view bytes) {
    auto decoded = PricingFiles::decodeRateTable(bytes);
    if (const auto* error = std::get_if<DecodeError>(&decoded)) {
        ADD_FAILURE() << "unexpected decode error: " << error->description;
        return {};
    }
    return std::get<RateTable>(std::move(decoded));
}

// The description of the failure, or nothing when the document decoded.
std::string decodeFailure(std::string_view bytes) {
    const auto decoded = PricingFiles::decodeRateTable(bytes);
    const auto* error = std::get_if<DecodeError>(&decoded);
    return error != nullptr ? error->description : std::string();
}

// Keys are taken as written; a bad entry fails the whole document naming its key, which the
// user must learn to fix it.
TEST(DecodeRateTable, KeysAreTakenAsWrittenAndABadEntryFailsTheWholeDocument) {
    EXPECT_TRUE(decodedTable("{}").empty());
    const RateTable rates = decodedTable(R"({"claude-opus-4-1-20250805": {"input": 15, "output": 75},)"
                                         R"( "Vendor/Model X": {"input": 3, "output": 15, "cacheRead": 0}})");
    EXPECT_EQ(rates, (RateTable{{"claude-opus-4-1-20250805", Rate{15.0, 75.0, 18.75, 30.0, 1.5}},
                                {"Vendor/Model X", Rate{3.0, 15.0, 3.75, 6.0, 0.0}}}));
    for (const char* value :
         {"42", "null", R"({"input": 3})", R"({"input": 3, "output": 15, "cacheRead": "0.3"})"}) {
        const std::string document = R"({"good-model": {"input": 1, "output": 2}, "odd-model": )" +
                                     std::string(value) + R"(, "later-model": {"input": 1, "output": 2}})";
        EXPECT_NE(decodeFailure(document).find("odd-model"), std::string::npos) << document;
    }
    for (const std::string_view document :
         {"", "not json", "{\"m\": {\"input\": 1, \"output\": 2}",
          "{\"m\": {\"input\": 1, \"output\": 2}} trailing", R"([{"input": 1, "output": 2}])", "null"}) {
        EXPECT_FALSE(decodeFailure(document).empty()) << '"' << document << '"';
    }
}

TEST(ParseLiteLLM, ConvertsUsableEntriesToRatesPerMillionUnderTheCanonicalId) {
    const RateTable rates =
        PricingFiles::parseLiteLLM(test::dataText("litellm/usable-and-unusable-entries.json"));
    const double sonnet = 0.000003 * 1e6;
    const double mistral = 2e-6 * 1e6;
    const double gpt41 = 2e-6 * 1e6;
    const double one = 1e-6 * 1e6;
    // Without a 1-hour price in the catalogue, a key naming "claude" anywhere gets twice the
    // input price, any other the 5-minute price.
    const RateTable expected{
        {"claude-sonnet-4", Rate{sonnet, 0.000015 * 1e6, sonnet * 1.25, sonnet * 2, sonnet * 0.1}},
        {"gpt-4o", Rate{2.5e-6 * 1e6, 1e-5 * 1e6, 3e-6 * 1e6, 3e-6 * 1e6, 1.25e-6 * 1e6}},
        {"mistral-large", Rate{mistral, 6e-6 * 1e6, mistral * 1.25, mistral * 1.25, mistral * 0.1}},
        {"claude-opus-4-5", Rate{5e-6 * 1e6, 2.5e-5 * 1e6, 6.25e-6 * 1e6, 5e-6 * 1e6 * 2, 5e-6 * 1e6 * 0.1}},
        {"gpt-4.1", Rate{gpt41, 8e-6 * 1e6, 3e-6 * 1e6, gpt41 * 2, gpt41 * 0.1}},
        {"claude-haiku-4-5", Rate{one, 5e-6 * 1e6, one * 1.25, one * 2, one * 0.1}},
        {"claude-x", Rate{one, 2e-6 * 1e6, one * 1.25, one * 2, one * 0.1}},
        {"claude-y", Rate{one, 2e-6 * 1e6, one * 1.25, one * 2, one * 0.1}},
    };
    EXPECT_EQ(rates, expected);
    EXPECT_DOUBLE_EQ(rates.at("claude-sonnet-4").input, 3.0);
    // A sync stores its table through encodeRateTable: an infinite price would be written as
    // null and make the whole cache unreadable.
    EXPECT_EQ(decodedTable(PricingFiles::encodeRateTable(rates)), rates);
}

} // namespace
