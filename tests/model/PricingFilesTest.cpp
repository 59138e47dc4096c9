#include "model/PricingFiles.h"
#include "model/ModelPricing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>

namespace fernhollow::ModelPricing {
// Internal linkage keeps this printer private to this file while ADL still finds it.
static void PrintTo(const Rate& rate, std::ostream* os) {
    *os << "{input " << rate.input << ", output " << rate.output << ", cacheWrite " << rate.cacheWrite
        << ", cacheWrite1h " << rate.cacheWrite1h << ", cacheRead " << rate.cacheRead << "}";
}
} // namespace fernhollow::ModelPricing

namespace {

using namespace fernhollow;
using ModelPricing::Rate;
using ModelPricing::RateTable;
using PricingFiles::DecodeError;

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

bool decodes(std::string_view bytes) {
    return std::holds_alternative<RateTable>(PricingFiles::decodeRateTable(bytes));
}

// ---- The example overrides file ----

// Written out independently of the source so an accidental edit of either shows up here.
constexpr std::string_view expectedExample =
    "{\n"
    "  \"_comment\": \"Rename keys to real model ids. USD per 1M tokens. Only input+output required; "
    "cacheWrite (5m), cacheWrite1h, cacheRead default to Anthropic conventions "
    "(1.25x / 2x / 0.1x of input). This file is the EXAMPLE "
    "\xE2\x80\x94"
    " copy entries into pricing_overrides.json to apply.\",\n"
    "  \"some-new-model\": { \"input\": 5.0, \"output\": 25.0, \"cacheWrite\": 6.25, "
    "\"cacheWrite1h\": 10.0, \"cacheRead\": 0.5 },\n"
    "  \"gemini-2.5-pro\": { \"input\": 1.25, \"output\": 10.0, \"cacheRead\": 0.31 }\n"
    "}";

TEST(ExampleOverridesText, IsExactly469Bytes) {
    EXPECT_EQ(PricingFiles::exampleText.size(), 469u);
}

TEST(ExampleOverridesText, MatchesTheExpectedBytesExactly) {
    EXPECT_EQ(PricingFiles::exampleText, expectedExample);
}

TEST(ExampleOverridesText, HasFiveLinesAndNoTrailingNewline) {
    const auto text = PricingFiles::exampleText;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4);
    EXPECT_EQ(text.find('\r'), std::string_view::npos);
    EXPECT_NE(text.back(), '\n');
    EXPECT_EQ(text.front(), '{');
    EXPECT_EQ(text.back(), '}');
}

TEST(ExampleOverridesText, CarriesAnEmDashInUtf8) {
    EXPECT_NE(PricingFiles::exampleText.find("EXAMPLE \xE2\x80\x94 copy"), std::string_view::npos);
}

// Its "_comment" string is not a rate object, so the example can never be used unedited.
TEST(ExampleOverridesText, DoesNotDecodeAsARateTable) {
    const std::string description = decodeFailure(PricingFiles::exampleText);
    EXPECT_FALSE(description.empty());
    EXPECT_NE(description.find("_comment"), std::string::npos) << description;
}

// ---- decodeRateTable ----

TEST(DecodeRateTable, EmptyObjectGivesAnEmptyTable) {
    ASSERT_TRUE(decodes("{}"));
    EXPECT_TRUE(decodedTable("{}").empty());
}

TEST(DecodeRateTable, MissingCachePricesDeriveFromInput) {
    const RateTable rates = decodedTable(R"({"some-model": {"input": 3.0, "output": 15.0}})");
    ASSERT_EQ(rates.size(), 1u);
    const Rate& rate = rates.at("some-model");
    EXPECT_EQ(rate.input, 3.0);
    EXPECT_EQ(rate.output, 15.0);
    EXPECT_EQ(rate.cacheWrite, 3.75);
    EXPECT_EQ(rate.cacheWrite1h, 6.0);
    EXPECT_EQ(rate.cacheRead, 3.0 * 0.1);
}

TEST(DecodeRateTable, NullCachePricesDeriveFromInput) {
    const RateTable rates = decodedTable(
        R"({"m": {"input": 2.0, "output": 8.0, "cacheWrite": null, "cacheWrite1h": null, "cacheRead": null}})");
    ASSERT_EQ(rates.size(), 1u);
    EXPECT_EQ(rates.at("m"), (Rate{2.0, 8.0, 2.5, 4.0, 2.0 * 0.1}));
}

TEST(DecodeRateTable, ExplicitCachePricesAreKept) {
    const RateTable rates = decodedTable(
        R"({"m": {"input": 5.0, "output": 25.0, "cacheWrite": 6.5, "cacheWrite1h": 11.0, "cacheRead": 0.7}})");
    EXPECT_EQ(rates.at("m"), (Rate{5.0, 25.0, 6.5, 11.0, 0.7}));
}

TEST(DecodeRateTable, IntegerPricesAreNumbersToo) {
    const RateTable rates = decodedTable(R"({"m": {"input": 4, "output": 20, "cacheRead": 0}})");
    EXPECT_EQ(rates.at("m"), (Rate{4.0, 20.0, 5.0, 8.0, 0.0}));
}

TEST(DecodeRateTable, KeysAreTakenExactlyAsWritten) {
    const RateTable rates = decodedTable(R"({"claude-opus-4-1-20250805": {"input": 15, "output": 75},)"
                                         R"( "Vendor/Model X": {"input": 1, "output": 2}})");
    EXPECT_EQ(rates.size(), 2u);
    EXPECT_TRUE(rates.contains("claude-opus-4-1-20250805"));
    EXPECT_FALSE(rates.contains("claude-opus-4-1"));
    EXPECT_TRUE(rates.contains("Vendor/Model X"));
}

TEST(DecodeRateTable, NonObjectValueFailsAndNamesTheKey) {
    for (const std::string_view value : {"42", "\"cheap\"", "[1, 2]", "null", "true"}) {
        const std::string document =
            R"({"good-model": {"input": 1, "output": 2}, "odd-model": )" + std::string(value) + "}";
        const std::string description = decodeFailure(document);
        EXPECT_FALSE(description.empty()) << document;
        EXPECT_NE(description.find("odd-model"), std::string::npos) << description;
    }
}

TEST(DecodeRateTable, MissingInputOrOutputFailsAndNamesTheKey) {
    for (const std::string_view document : {R"({"half-priced": {"output": 15}})",
                                            R"({"half-priced": {"input": 3}})", R"({"half-priced": {}})"}) {
        const std::string description = decodeFailure(document);
        EXPECT_FALSE(description.empty()) << document;
        EXPECT_NE(description.find("half-priced"), std::string::npos) << description;
    }
}

TEST(DecodeRateTable, StringPriceFailsAndNamesTheKey) {
    for (const std::string_view document : {
             R"({"text-priced": {"input": "3", "output": 15}})",
             R"({"text-priced": {"input": 3, "output": "15"}})",
             R"({"text-priced": {"input": 3, "output": 15, "cacheWrite": "3.75"}})",
             R"({"text-priced": {"input": 3, "output": 15, "cacheWrite1h": "6"}})",
             R"({"text-priced": {"input": 3, "output": 15, "cacheRead": "0.3"}})",
         }) {
        const std::string description = decodeFailure(document);
        EXPECT_FALSE(description.empty()) << document;
        EXPECT_NE(description.find("text-priced"), std::string::npos) << description;
    }
}

TEST(DecodeRateTable, NullInputOrOutputFails) {
    EXPECT_FALSE(decodes(R"({"m": {"input": null, "output": 15}})"));
    EXPECT_FALSE(decodes(R"({"m": {"input": 3, "output": null}})"));
}

TEST(DecodeRateTable, OneBadEntryFailsTheWholeDocument) {
    EXPECT_FALSE(
        decodes(R"({"a": {"input": 1, "output": 2}, "b": {"input": 1}, "c": {"input": 1, "output": 2}})"));
}

TEST(DecodeRateTable, NotJsonFails) {
    for (const std::string_view document : {"", "   ", "not json", "{\"m\": {\"input\": 1, \"output\": 2}",
                                            "{\"m\": {\"input\": 1, \"output\": 2}} trailing"}) {
        EXPECT_FALSE(decodeFailure(document).empty()) << '"' << document << '"';
    }
}

TEST(DecodeRateTable, TopLevelOtherThanObjectFails) {
    for (const std::string_view document : {R"([{"input": 1, "output": 2}])", "[]", "42", "\"m\"", "null"}) {
        EXPECT_FALSE(decodeFailure(document).empty()) << document;
    }
}

// ---- encodeRateTable ----

TEST(EncodeRateTable, EmptyTableIsAnEmptyObject) {
    EXPECT_EQ(PricingFiles::encodeRateTable({}), "{}");
}

TEST(EncodeRateTable, WritesAllFivePricesCompactly) {
    const RateTable rates{{"m", Rate{3.0, 15.0, 3.75, 6.0, 0.5}}};
    EXPECT_EQ(PricingFiles::encodeRateTable(rates),
              R"({"m":{"input":3,"output":15,"cacheWrite":3.75,"cacheWrite1h":6,"cacheRead":0.5}})");
}

// The files this table is stored in escape '/' as "\/".
TEST(EncodeRateTable, EscapesSlashesInModelIds) {
    const RateTable rates{{"vendor/model", Rate{1.0, 2.0, 3.0, 4.0, 5.0}}};
    EXPECT_NE(PricingFiles::encodeRateTable(rates).find(R"("vendor\/model")"), std::string::npos);
}

TEST(EncodeRateTable, RoundTripsThroughDecodeExactly) {
    const RateTable rates{
        {"claude-sonnet-4", Rate{3.0, 15.0, 3.75, 6.0, 3.0 * 0.1}},
        {"awkward", Rate{0.1 + 0.2, 5.0 / 3.0, 1e-300, 123456.789, 2.0 / 7.0}},
        {"zero-cache", Rate{1.0, 2.0, 0.0, 0.0, 0.0}},
        {"vendor/model \"quoted\" \xC3\xBC", Rate{0.000003 * 1e6, 0.000015 * 1e6, 4.1, 6.2, 0.31}},
    };
    EXPECT_EQ(decodedTable(PricingFiles::encodeRateTable(rates)), rates);
}

// ---- parseLiteLLM ----

TEST(ParseLiteLLM, ConvertsPerTokenPricesAndDerivesMissingCachePrices) {
    const RateTable rates = PricingFiles::parseLiteLLM(
        R"({"anthropic/claude-sonnet-4": {"input_cost_per_token": 0.000003, "output_cost_per_token": 0.000015,)"
        R"( "litellm_provider": "anthropic", "max_tokens": 64000}})");
    ASSERT_EQ(rates.size(), 1u);
    ASSERT_TRUE(rates.contains("claude-sonnet-4"));
    const Rate& rate = rates.at("claude-sonnet-4");
    const double input = 0.000003 * 1e6;
    EXPECT_EQ(rate.input, input);
    EXPECT_EQ(rate.output, 0.000015 * 1e6);
    EXPECT_DOUBLE_EQ(rate.input, 3.0);
    EXPECT_DOUBLE_EQ(rate.output, 15.0);
    EXPECT_EQ(rate.cacheWrite, input * 1.25);
    EXPECT_EQ(rate.cacheWrite1h, input * 2);
    EXPECT_EQ(rate.cacheRead, input * 0.1);
}

TEST(ParseLiteLLM, ExplicitCachePricesAreConverted) {
    const RateTable rates = PricingFiles::parseLiteLLM(
        R"({"gpt-4o": {"input_cost_per_token": 2.5e-6, "output_cost_per_token": 1e-5,)"
        R"( "cache_creation_input_token_cost": 3e-6, "cache_read_input_token_cost": 1.25e-6}})");
    const Rate& rate = rates.at("gpt-4o");
    EXPECT_EQ(rate.input, 2.5e-6 * 1e6);
    EXPECT_EQ(rate.output, 1e-5 * 1e6);
    EXPECT_EQ(rate.cacheWrite, 3e-6 * 1e6);
    EXPECT_EQ(rate.cacheWrite1h, 3e-6 * 1e6);
    EXPECT_EQ(rate.cacheRead, 1.25e-6 * 1e6);
}

TEST(ParseLiteLLM, WithoutClaudeTheOneHourPriceFollowsTheFiveMinutePrice) {
    const RateTable rates = PricingFiles::parseLiteLLM(
        R"({"mistral/mistral-large": {"input_cost_per_token": 2e-6, "output_cost_per_token": 6e-6}})");
    const Rate& rate = rates.at("mistral-large");
    EXPECT_EQ(rate.cacheWrite, (2e-6 * 1e6) * 1.25);
    EXPECT_EQ(rate.cacheWrite1h, rate.cacheWrite);
    EXPECT_EQ(rate.cacheRead, (2e-6 * 1e6) * 0.1);
}

TEST(ParseLiteLLM, ClaudeOneHourPriceIsTwiceInputEvenWithAnExplicitCacheWrite) {
    const RateTable rates = PricingFiles::parseLiteLLM(
        R"({"claude-opus-4-5": {"input_cost_per_token": 5e-6, "output_cost_per_token": 2.5e-5,)"
        R"( "cache_creation_input_token_cost": 6.25e-6}})");
    const Rate& rate = rates.at("claude-opus-4-5");
    EXPECT_EQ(rate.cacheWrite, 6.25e-6 * 1e6);
    EXPECT_EQ(rate.cacheWrite1h, (5e-6 * 1e6) * 2);
}

// "claude" is looked for in the whole catalogue key, provider prefix included.
TEST(ParseLiteLLM, ClaudeInTheProviderPrefixCounts) {
    const RateTable rates = PricingFiles::parseLiteLLM(
        R"({"claude-proxy/gpt-4o": {"input_cost_per_token": 2.5e-6, "output_cost_per_token": 1e-5,)"
        R"( "cache_creation_input_token_cost": 3e-6}})");
    ASSERT_TRUE(rates.contains("gpt-4o"));
    const Rate& rate = rates.at("gpt-4o");
    EXPECT_EQ(rate.cacheWrite, 3e-6 * 1e6);
    EXPECT_EQ(rate.cacheWrite1h, (2.5e-6 * 1e6) * 2);
}

TEST(ParseLiteLLM, DatedKeysAreStoredUnderTheCanonicalId) {
    const RateTable rates = PricingFiles::parseLiteLLM(
        R"({"claude-haiku-4-5-20251001": {"input_cost_per_token": 1e-6, "output_cost_per_token": 5e-6}})");
    EXPECT_EQ(rates.size(), 1u);
    EXPECT_TRUE(rates.contains("claude-haiku-4-5"));
    EXPECT_FALSE(rates.contains("claude-haiku-4-5-20251001"));
}

TEST(ParseLiteLLM, EveryProviderPrefixIsDropped) {
    const RateTable rates = PricingFiles::parseLiteLLM(
        R"({"a/b/claude-x": {"input_cost_per_token": 1e-6, "output_cost_per_token": 2e-6},)"
        R"( "openrouter/anthropic/claude-y/": {"input_cost_per_token": 1e-6, "output_cost_per_token": 2e-6}})");
    EXPECT_EQ(rates.size(), 2u);
    EXPECT_TRUE(rates.contains("claude-x"));
    EXPECT_TRUE(rates.contains("claude-y"));
}

TEST(ParseLiteLLM, KeysOfOnlySlashesAreSkipped) {
    const RateTable rates = PricingFiles::parseLiteLLM(
        R"({"/": {"input_cost_per_token": 1e-6, "output_cost_per_token": 2e-6},)"
        R"( "//": {"input_cost_per_token": 1e-6, "output_cost_per_token": 2e-6},)"
        R"( "": {"input_cost_per_token": 1e-6, "output_cost_per_token": 2e-6},)"
        R"( "kept": {"input_cost_per_token": 1e-6, "output_cost_per_token": 2e-6}})");
    EXPECT_EQ(rates.size(), 1u);
    EXPECT_TRUE(rates.contains("kept"));
}

TEST(ParseLiteLLM, TheSampleEntryIsSkipped) {
    const RateTable rates = PricingFiles::parseLiteLLM(
        R"({"sample_spec": {"input_cost_per_token": 1e-6, "output_cost_per_token": 2e-6},)"
        R"( "kept": {"input_cost_per_token": 1e-6, "output_cost_per_token": 2e-6}})");
    EXPECT_EQ(rates.size(), 1u);
    EXPECT_TRUE(rates.contains("kept"));
}

TEST(ParseLiteLLM, EntriesWithoutTwoPositiveNumericPricesAreSkipped) {
    const RateTable rates = PricingFiles::parseLiteLLM(R"({
        "zero-input": {"input_cost_per_token": 0, "output_cost_per_token": 2e-6},
        "zero-output": {"input_cost_per_token": 1e-6, "output_cost_per_token": 0.0},
        "negative-input": {"input_cost_per_token": -1e-6, "output_cost_per_token": 2e-6},
        "negative-output": {"input_cost_per_token": 1e-6, "output_cost_per_token": -2e-6},
        "missing-input": {"output_cost_per_token": 2e-6},
        "missing-output": {"input_cost_per_token": 1e-6},
        "string-input": {"input_cost_per_token": "1e-6", "output_cost_per_token": 2e-6},
        "string-output": {"input_cost_per_token": 1e-6, "output_cost_per_token": "2e-6"},
        "null-input": {"input_cost_per_token": null, "output_cost_per_token": 2e-6},
        "bool-output": {"input_cost_per_token": 1e-6, "output_cost_per_token": true},
        "kept": {"input_cost_per_token": 1e-6, "output_cost_per_token": 2e-6}
    })");
    EXPECT_EQ(rates.size(), 1u);
    EXPECT_TRUE(rates.contains("kept"));
}

TEST(ParseLiteLLM, NonObjectEntriesAreSkipped) {
    const RateTable rates = PricingFiles::parseLiteLLM(
        R"({"a-number": 3, "a-string": "x", "an-array": [1e-6, 2e-6], "a-null": null, "a-bool": false,)"
        R"( "kept": {"input_cost_per_token": 1e-6, "output_cost_per_token": 2e-6}})");
    EXPECT_EQ(rates.size(), 1u);
    EXPECT_TRUE(rates.contains("kept"));
}

// A successful sync stores its table through encodeRateTable; a price that overflows to
// infinity on conversion would be written as null and make the whole cache unreadable.
TEST(ParseLiteLLM, EveryParsedTableSurvivesTheCacheRoundTrip) {
    const RateTable rates = PricingFiles::parseLiteLLM(
        R"({"ordinary": {"input_cost_per_token": 1e-6, "output_cost_per_token": 2e-6},)"
        R"( "absurd": {"input_cost_per_token": 1e303, "output_cost_per_token": 2e-6}})");
    ASSERT_TRUE(rates.contains("ordinary"));
    const std::string cache = PricingFiles::encodeRateTable(rates);
    const std::string failure = decodeFailure(cache);
    EXPECT_TRUE(failure.empty()) << failure << "\n" << cache;
    if (failure.empty()) {
        EXPECT_EQ(decodedTable(cache), rates);
    }
}

TEST(ParseLiteLLM, UnreadableDocumentsGiveAnEmptyTable) {
    for (const std::string_view document :
         {"", "not json", "{\"kept\": {\"input_cost_per_token\": 1e-6",
          R"([{"input_cost_per_token": 1e-6, "output_cost_per_token": 2e-6}])", "42", "null", "{}"}) {
        EXPECT_TRUE(PricingFiles::parseLiteLLM(document).empty()) << document;
    }
}

} // namespace
