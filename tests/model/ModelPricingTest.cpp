#include "model/ModelPricing.h"
#include "model/PricingMode.h"
#include "model/UsageRecord.h"

#include <gtest/gtest.h>
#include <simdjson.h>

#include <atomic>
#include <cstdint>
#include <limits>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fernhollow::ModelPricing {
// Internal linkage keeps this printer private to this file while ADL still finds it.
static void PrintTo(const Rate& rate, std::ostream* os) {
    *os << "{input " << rate.input << ", output " << rate.output << ", cacheWrite " << rate.cacheWrite
        << ", cacheWrite1h " << rate.cacheWrite1h << ", cacheRead " << rate.cacheRead << "}";
}
} // namespace fernhollow::ModelPricing

namespace {

using fernhollow::PricingMode;
using fernhollow::UsageRecord;
using namespace fernhollow::ModelPricing;
using namespace std::string_literals;

constexpr Rate opus45Rate{5.0, 25.0, 6.25, 10.0, 0.5};
constexpr Rate opus4Rate{15.0, 75.0, 18.75, 30.0, 1.5};
constexpr Rate tier5Rate{10.0, 50.0, 12.5, 20.0, 1.0};
constexpr Rate sonnetRate{3.0, 15.0, 3.75, 6.0, 0.3};
constexpr Rate haikuRate{1.0, 5.0, 1.25, 2.0, 0.1};
constexpr Rate gpt4oRate{2.5, 10.0, 2.5, 2.5, 1.25};

// Not equal to any built-in row, so a lookup that lands here proves which table answered.
constexpr Rate markerRate{0.123, 0.456, 0.789, 1.234, 0.0567};
constexpr Rate otherMarkerRate{9.5, 8.5, 7.5, 6.5, 5.5};

UsageRecord recordFor(std::string model, std::int64_t input, std::int64_t output, std::int64_t cacheCreation,
                      std::int64_t cacheCreation1h, std::int64_t cacheRead) {
    UsageRecord record;
    record.model = std::move(model);
    record.inputTokens = input;
    record.outputTokens = output;
    record.cacheCreationInputTokens = cacheCreation;
    record.cacheCreation1hTokens = cacheCreation1h;
    record.cacheReadInputTokens = cacheRead;
    return record;
}

// The replaceable tables are process-wide; every test starts and ends with both empty so
// no test can leak rates into another.
class ReplaceableTablesReset : public ::testing::Test {
protected:
    void SetUp() override { clearTables(); }
    void TearDown() override { clearTables(); }

    static void clearTables() {
        setUserOverrides({});
        setRemoteRates({});
    }
};

class BuiltInTable : public ReplaceableTablesReset {};
class EffectiveRate : public ReplaceableTablesReset {};
class Cost : public ReplaceableTablesReset {};
class TableSwap : public ReplaceableTablesReset {};

TEST_F(BuiltInTable, HoldsExactlyTheCuratedRows) {
    const std::vector<std::pair<std::string, Rate>> expected = {
        {"claude-opus-4-8", opus45Rate},
        {"claude-opus-4-7", opus45Rate},
        {"claude-opus-4-6", opus45Rate},
        {"claude-opus-4-5", opus45Rate},
        {"claude-opus-4-1", opus4Rate},
        {"claude-opus-4", opus4Rate},
        {"claude-fable-5", tier5Rate},
        {"claude-mythos-5", tier5Rate},
        {"claude-sonnet-4-6", sonnetRate},
        {"claude-sonnet-4-5", sonnetRate},
        {"claude-sonnet-4", sonnetRate},
        {"claude-haiku-4-5", haikuRate},
        {"claude-haiku-4-5-20251001", haikuRate},
        {"gpt-4o", gpt4oRate},
        {"gpt-4o-2024-11-20", gpt4oRate},
        {"gpt-4o-mini", {0.15, 0.6, 0.15, 0.15, 0.075}},
        {"gpt-4.1", {2.0, 8.0, 2.0, 2.0, 0.5}},
        {"gpt-4.1-mini", {0.4, 1.6, 0.4, 0.4, 0.1}},
        {"gpt-4.1-nano", {0.1, 0.4, 0.1, 0.1, 0.025}},
        {"o1", {15.0, 60.0, 15.0, 15.0, 7.5}},
        {"o1-mini", {3.0, 12.0, 3.0, 3.0, 1.5}},
        {"o3", {10.0, 40.0, 10.0, 10.0, 2.5}},
        {"o3-mini", {1.1, 4.4, 1.1, 1.1, 0.55}},
        {"o4-mini", {1.1, 4.4, 1.1, 1.1, 0.275}},
        {"deepseek-chat", {0.27, 1.1, 0.27, 0.27, 0.07}},
        {"deepseek-reasoner", {0.55, 2.19, 0.55, 0.55, 0.14}},
    };
    ASSERT_EQ(expected.size(), 26u);
    EXPECT_EQ(table().size(), expected.size());
    for (const auto& [model, rate] : expected) {
        SCOPED_TRACE(model);
        const auto row = table().find(model);
        ASSERT_NE(row, table().end());
        EXPECT_EQ(row->second, rate);
        // Every row must also be what a lookup of its own id answers.
        EXPECT_EQ(effectiveRate(model), rate);
    }
}

TEST_F(BuiltInTable, FallbackIsTheSonnet46Row) {
    EXPECT_EQ(fallbackModel, "claude-sonnet-4-6");
    EXPECT_EQ(fallbackRate(), sonnetRate);
    EXPECT_EQ(&fallbackRate(), &table().find(fallbackModel)->second);
}

struct CanonicalCase {
    std::string input;
    std::string expected;
};

TEST(Canonicalize, StripsOnlyAnEightCharacterTrailingDatePiece) {
    const std::vector<CanonicalCase> cases = {
        {"claude-haiku-4-5-20251001", "claude-haiku-4-5"},
        {"claude-opus-4-1-20250805", "claude-opus-4-1"},
        {"a-20250101", "a"},
        {"model-+1234567", "model"},
        {"claude-x-20250101-20250102", "claude-x-20250101"},
        {"gpt-4o-2024-11-20", "gpt-4o-2024-11-20"},
        {"gpt-4o-2024-08-06", "gpt-4o-2024-08-06"},
        {"20251001", "20251001"},
        {"claude-x-2025100", "claude-x-2025100"},
        {"claude-x-202510011", "claude-x-202510011"},
        {"claude-x-2025100a", "claude-x-2025100a"},
        {"claude-x-++234567", "claude-x-++234567"},
        {"claude-x-1234+567", "claude-x-1234+567"},
        {"claude-sonnet-4-5", "claude-sonnet-4-5"},
        {"o3", "o3"},
    };
    for (const auto& [input, expected] : cases) {
        SCOPED_TRACE(input);
        EXPECT_EQ(canonicalize(input), expected);
    }
}

TEST(Canonicalize, EmptyPiecesVanishOnlyWhenADateIsStripped) {
    const std::vector<CanonicalCase> cases = {
        {"claude--opus-4-1-20250805", "claude-opus-4-1"}, {"-claude-x-20250101-", "claude-x"},
        {"--claude---x--20250101--", "claude-x"},         {"a--20250101", "a"},
        {"claude--opus-4-1", "claude--opus-4-1"},         {"-claude-x-", "-claude-x-"},
    };
    for (const auto& [input, expected] : cases) {
        SCOPED_TRACE(input);
        EXPECT_EQ(canonicalize(input), expected);
    }
}

TEST(Canonicalize, FewerThanTwoPiecesStayUnchanged) {
    for (const std::string input : {"", "-", "--", "20251001", "-20251001", "20251001-", "--20251001--"}) {
        SCOPED_TRACE(input);
        EXPECT_EQ(canonicalize(input), input);
    }
}

TEST(Canonicalize, ScratchOverloadAgreesWithTheOwningOne) {
    const std::vector<std::string> inputs = {
        "claude-haiku-4-5-20251001",
        "claude--opus-4-1-20250805",
        "-claude-x-20250101-",
        "model-+1234567",
        "gpt-4o-2024-11-20",
        "claude--opus-4-1",
        "",
        "-",
        "--",
        "20251001",
        "a-20250101",
        "x--y---z-20250101",
    };
    for (const auto& input : inputs) {
        SCOPED_TRACE(input);
        std::string scratch = "stale text from an earlier call";
        EXPECT_EQ(canonicalize(input, scratch), canonicalize(input));
    }
}

TEST(Canonicalize, ScratchIsReusableAcrossCalls) {
    std::string scratch;
    const std::string first = std::string(canonicalize("-alpha-beta-20250101", scratch));
    const std::string second = std::string(canonicalize("x--y-20250101", scratch));
    EXPECT_EQ(first, "alpha-beta");
    EXPECT_EQ(second, "x-y");
}

TEST(Canonicalize, ResultWithoutEmptyPiecesIsASliceOfTheInput) {
    const std::string input = "claude-haiku-4-5-20251001";
    std::string scratch;
    const std::string_view result = canonicalize(input, scratch);
    EXPECT_EQ(result, "claude-haiku-4-5");
    EXPECT_EQ(result.data(), input.data());
}

TEST_F(EffectiveRate, UserOverrideBeatsTheBuiltInTable) {
    setUserOverrides({{"claude-opus-4-1", markerRate}});
    EXPECT_EQ(effectiveRate("claude-opus-4-1"), markerRate);
    EXPECT_EQ(effectiveRate("claude-opus-4-1-20250805"), markerRate);
    EXPECT_EQ(effectiveRate("claude-opus-4"), opus4Rate);
}

TEST_F(EffectiveRate, UserOverrideBeatsRemoteRates) {
    setRemoteRates({{"acme-coder-2", otherMarkerRate}});
    setUserOverrides({{"acme-coder-2", markerRate}});
    EXPECT_EQ(effectiveRate("acme-coder-2"), markerRate);
}

TEST_F(EffectiveRate, BuiltInTableBeatsRemoteRates) {
    setRemoteRates({{"claude-opus-4-1", markerRate}});
    EXPECT_EQ(effectiveRate("claude-opus-4-1"), opus4Rate);
    EXPECT_EQ(effectiveRate("claude-opus-4-1-20250805"), opus4Rate);
}

TEST_F(EffectiveRate, RemoteRatePricesAModelTheTableLacks) {
    EXPECT_EQ(effectiveRate("acme-coder-2"), std::nullopt);
    setRemoteRates({{"acme-coder-2", markerRate}});
    EXPECT_EQ(effectiveRate("acme-coder-2"), markerRate);
    EXPECT_EQ(effectiveRate("acme-coder-2-20260115"), markerRate);
}

TEST_F(EffectiveRate, LookupIsExactOnTheCanonicalKey) {
    for (const std::string model :
         {"CLAUDE-SONNET-4-5", "anthropic/claude-sonnet-4-5", "Claude-Sonnet-4-5", " claude-sonnet-4-5",
          "claude-sonnet-4-5 ", "claude-sonnet-4.5", "claude-sonnet-4-5-latest", "claude-sonnet"}) {
        SCOPED_TRACE(model);
        EXPECT_EQ(effectiveRate(model), std::nullopt);
    }
}

TEST_F(EffectiveRate, ReplaceableTablesAreAlsoMatchedExactly) {
    setUserOverrides({{"Acme-Coder", markerRate}});
    setRemoteRates({{"vendor/acme-coder", otherMarkerRate}});
    EXPECT_EQ(effectiveRate("acme-coder"), std::nullopt);
    EXPECT_EQ(effectiveRate("Acme-Coder"), markerRate);
    EXPECT_EQ(effectiveRate("vendor/acme-coder"), otherMarkerRate);
}

TEST_F(EffectiveRate, DatedIdsPriceAtTheUndatedRowWhenOneExists) {
    EXPECT_EQ(effectiveRate("claude-sonnet-4-5-20250929"), sonnetRate);
    EXPECT_EQ(effectiveRate("claude-opus-4-8-20260101"), opus45Rate);
    EXPECT_EQ(effectiveRate("claude--opus-4-1-20250805"), opus4Rate);
    EXPECT_EQ(effectiveRate("claude-unknown-9-20250101"), std::nullopt);
    // Only an eight-character final piece counts as a date.
    EXPECT_EQ(effectiveRate("gpt-4o-2024-08-06"), std::nullopt);
}

TEST_F(EffectiveRate, AKeyThatIsItselfDatedIsNeverReached) {
    setUserOverrides({{"claude-opus-4-1-20250805", markerRate}});
    setRemoteRates({{"acme-coder-2-20260115", markerRate}});
    EXPECT_EQ(effectiveRate("claude-opus-4-1-20250805"), opus4Rate);
    EXPECT_EQ(effectiveRate("acme-coder-2-20260115"), std::nullopt);
}

TEST_F(EffectiveRate, PricerKeepsTheTablesItWasBuiltWith) {
    const Pricer before;
    setUserOverrides({{"claude-opus-4-1", markerRate}});
    setRemoteRates({{"acme-coder-2", markerRate}});
    const Pricer after;

    ASSERT_NE(before.effectiveRate("claude-opus-4-1"), nullptr);
    EXPECT_EQ(*before.effectiveRate("claude-opus-4-1"), opus4Rate);
    EXPECT_EQ(before.effectiveRate("acme-coder-2"), nullptr);
    ASSERT_NE(after.effectiveRate("claude-opus-4-1"), nullptr);
    EXPECT_EQ(*after.effectiveRate("claude-opus-4-1"), markerRate);
    ASSERT_NE(after.effectiveRate("acme-coder-2"), nullptr);
    EXPECT_EQ(*after.effectiveRate("acme-coder-2"), markerRate);
}

TEST_F(EffectiveRate, PricerAnswersEveryModelOfAMixedRun) {
    setRemoteRates({{"acme-coder-2", markerRate}});
    const std::vector<std::string> models = {
        "claude-opus-4-1-20250805",
        "claude-opus-4-1-20250805",
        "claude--sonnet-4-5-20250929",
        "unknown-model",
        "unknown-model",
        "claude-opus-4-1-20250805",
        "-acme-coder-2-20260115",
        "",
        "claude-haiku-4-5-20251001",
        "claude--sonnet-4-5-20250929",
        "unknown-model",
        "acme-coder-2",
    };
    const Pricer pricer;
    for (const auto& model : models) {
        SCOPED_TRACE(model);
        const Rate* rate = pricer.effectiveRate(model);
        const std::optional<Rate> expected = effectiveRate(model);
        ASSERT_EQ(rate != nullptr, expected.has_value());
        if (rate != nullptr) {
            EXPECT_EQ(*rate, *expected);
        }
    }
}

TEST_F(EffectiveRate, UnpricedModelsCostAsSonnet46) {
    const UsageRecord reference = recordFor("claude-sonnet-4-6", 1000, 2000, 3000, 1000, 4000);
    const double referenceCost = cost(reference, PricingMode::anthropicOfficial);
    for (const std::string model : {"CLAUDE-SONNET-4-5", "anthropic/claude-sonnet-4-5", "", "acme-coder-2",
                                    "claude-unknown-9-20250101"}) {
        SCOPED_TRACE(model);
        UsageRecord record = reference;
        record.model = model;
        EXPECT_EQ(effectiveRate(model), std::nullopt);
        EXPECT_EQ(cost(record, PricingMode::anthropicOfficial), referenceCost);
    }
}

TEST_F(Cost, OneMillionInputAndOutputOfOpus48) {
    EXPECT_EQ(
        cost(recordFor("claude-opus-4-8", 1'000'000, 1'000'000, 0, 0, 0), PricingMode::anthropicOfficial),
        30.0);
}

TEST_F(Cost, EachCountUsesItsOwnPrice) {
    EXPECT_EQ(cost(recordFor("claude-opus-4-1", 1'000'000, 0, 0, 0, 0), PricingMode::anthropicOfficial),
              15.0);
    EXPECT_EQ(cost(recordFor("claude-opus-4-1", 0, 1'000'000, 0, 0, 0), PricingMode::anthropicOfficial),
              75.0);
    EXPECT_EQ(cost(recordFor("claude-opus-4-1", 0, 0, 1'000'000, 0, 0), PricingMode::anthropicOfficial),
              18.75);
    EXPECT_EQ(
        cost(recordFor("claude-opus-4-1", 0, 0, 1'000'000, 1'000'000, 0), PricingMode::anthropicOfficial),
        30.0);
    EXPECT_EQ(cost(recordFor("claude-opus-4-1", 0, 0, 0, 0, 1'000'000), PricingMode::anthropicOfficial), 1.5);
}

TEST_F(Cost, OneHourCacheWritesArePartOfTheCacheWriteTotal) {
    const UsageRecord record = recordFor("claude-sonnet-4-5", 0, 0, 1000, 400, 0);
    EXPECT_DOUBLE_EQ(cost(record, PricingMode::anthropicOfficial), (600 * 3.75 + 400 * 6.0) / 1e6);
}

TEST_F(Cost, OneHourCountAboveTheTotalIsClampedToIt) {
    const UsageRecord record = recordFor("claude-sonnet-4-5", 0, 0, 1000, 1500, 0);
    EXPECT_DOUBLE_EQ(cost(record, PricingMode::anthropicOfficial), 1000 * 6.0 / 1e6);
}

TEST_F(Cost, PricingModeDoesNotChangeTheAmount) {
    const std::vector<UsageRecord> records = {
        recordFor("claude-opus-4-8", 1234, 5678, 9012, 3456, 7890),
        recordFor("claude-haiku-4-5-20251001", 1, 2, 3, 4, 5),
        recordFor("unknown-model", 100, 0, 0, 0, 1'000'000),
        recordFor("gpt-4o", 999'999, 1, 0, 0, 12'345),
    };
    for (const auto& record : records) {
        SCOPED_TRACE(record.model);
        EXPECT_EQ(cost(record, PricingMode::anthropicOfficial), cost(record, PricingMode::ccusageCompatible));
    }
}

TEST_F(Cost, AllZeroRecordCostsNothing) {
    EXPECT_EQ(cost(recordFor("claude-opus-4-8", 0, 0, 0, 0, 0), PricingMode::anthropicOfficial), 0.0);
    EXPECT_EQ(cost(recordFor("unknown-model", 0, 0, 0, 0, 0), PricingMode::ccusageCompatible), 0.0);
}

TEST_F(Cost, NegativeCountsArePricedAsTheyStand) {
    EXPECT_DOUBLE_EQ(
        cost(recordFor("claude-sonnet-4-5", -1000, -200, 0, 0, -5000), PricingMode::anthropicOfficial),
        (-1000 * 3.0 - 200 * 15.0 - 5000 * 0.3) / 1e6);
    EXPECT_DOUBLE_EQ(
        cost(recordFor("claude-sonnet-4-5", 0, 0, 1000, -400, 0), PricingMode::anthropicOfficial),
        (1400 * 3.75 - 400 * 6.0) / 1e6);
}

TEST_F(Cost, ExtremeCountsDoNotOverflow) {
    constexpr std::int64_t most = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t least = std::numeric_limits<std::int64_t>::min();
    const UsageRecord record = recordFor("claude-sonnet-4-5", 0, 0, most, least, 0);
    const double expected =
        ((static_cast<double>(most) - static_cast<double>(least)) * 3.75 + static_cast<double>(least) * 6.0) /
        1e6;
    EXPECT_DOUBLE_EQ(cost(record, PricingMode::anthropicOfficial), expected);
}

// Totals are compared and stored bit for bit, so the order of the additions is part of the
// result; these values give a different last bit under every other plausible order.
TEST_F(Cost, SumsInAFixedOrder) {
    const Rate rate{0.1, 0.7, 0.3, 1.9, 0.03};
    setUserOverrides({{"acme-coder-2", rate}});
    const std::int64_t input = 49041865;
    const std::int64_t output = 18669677;
    const std::int64_t cacheCreation = 84428161;
    const std::int64_t cacheCreation1h = 9472747;
    const std::int64_t cacheRead = 189375254;

    double expected = static_cast<double>(input) * rate.input + static_cast<double>(output) * rate.output;
    expected += static_cast<double>(cacheCreation - cacheCreation1h) * rate.cacheWrite;
    expected += static_cast<double>(cacheCreation1h) * rate.cacheWrite1h;
    expected += static_cast<double>(cacheRead) * rate.cacheRead;
    expected /= 1'000'000.0;

    const UsageRecord record =
        recordFor("acme-coder-2", input, output, cacheCreation, cacheCreation1h, cacheRead);
    EXPECT_EQ(cost(record, PricingMode::anthropicOfficial), expected);
    EXPECT_EQ(Pricer{}.cost(record), expected);
}

std::optional<Rate> parseRate(const std::string& json) {
    simdjson::dom::parser parser;
    simdjson::dom::element element;
    if (parser.parse(json).get(element) != simdjson::SUCCESS) {
        ADD_FAILURE() << "not JSON: " << json;
        return std::nullopt;
    }
    return rateFromJson(element);
}

TEST(RateJson, MissingCachePricesDeriveFromTheInputPrice) {
    const auto rate = parseRate(R"({"input":4.0,"output":20.0})");
    ASSERT_TRUE(rate.has_value());
    EXPECT_EQ(*rate, (Rate{4.0, 20.0, 5.0, 8.0, 0.4}));
}

TEST(RateJson, NullCachePricesDeriveFromTheInputPrice) {
    const auto rate =
        parseRate(R"({"input":4.0,"output":20.0,"cacheWrite":null,"cacheWrite1h":null,"cacheRead":null})");
    ASSERT_TRUE(rate.has_value());
    EXPECT_EQ(*rate, (Rate{4.0, 20.0, 5.0, 8.0, 0.4}));
}

TEST(RateJson, EachPresentCachePriceWinsEvenWhenZero) {
    EXPECT_EQ(parseRate(R"({"input":4,"output":20,"cacheWrite":0})"), (Rate{4.0, 20.0, 0.0, 8.0, 0.4}));
    EXPECT_EQ(parseRate(R"({"input":4,"output":20,"cacheWrite1h":0})"), (Rate{4.0, 20.0, 5.0, 0.0, 0.4}));
    EXPECT_EQ(parseRate(R"({"input":4,"output":20,"cacheRead":0})"), (Rate{4.0, 20.0, 5.0, 8.0, 0.0}));
    EXPECT_EQ(parseRate(R"({"input":4,"output":20,"cacheWrite":1.5,"cacheWrite1h":2.5,"cacheRead":0.25})"),
              (Rate{4.0, 20.0, 1.5, 2.5, 0.25}));
}

TEST(RateJson, InputAndOutputAreRequired) {
    for (const std::string json : {R"({"output":20.0})", R"({"input":4.0})", R"({})",
                                   R"({"input":null,"output":20.0})", R"({"input":4.0,"output":null})"}) {
        SCOPED_TRACE(json);
        EXPECT_EQ(parseRate(json), std::nullopt);
    }
}

TEST(RateJson, NonNumericPricesAreRefused) {
    for (const std::string json : {
             R"({"input":"4.0","output":20.0})",
             R"({"input":4.0,"output":true})",
             R"({"input":[4.0],"output":20.0})",
             R"({"input":4.0,"output":20.0,"cacheWrite":"5"})",
             R"({"input":4.0,"output":20.0,"cacheWrite1h":{}})",
             R"({"input":4.0,"output":20.0,"cacheRead":false})",
         }) {
        SCOPED_TRACE(json);
        EXPECT_EQ(parseRate(json), std::nullopt);
    }
}

TEST(RateJson, NonObjectsAreRefused) {
    for (const std::string json : {"[4.0,20.0]", "4.0", R"("input")", "null"}) {
        SCOPED_TRACE(json);
        EXPECT_EQ(parseRate(json), std::nullopt);
    }
}

TEST(RateJson, UnknownKeysAreIgnored) {
    EXPECT_EQ(parseRate(R"({"currency":"USD","input":4.0,"note":null,"output":20.0,"Input":99})"),
              (Rate{4.0, 20.0, 5.0, 8.0, 0.4}));
}

TEST(RateJson, IntegersAreAcceptedAsNumbers) {
    EXPECT_EQ(parseRate(R"({"input":3,"output":15,"cacheWrite":4,"cacheWrite1h":6,"cacheRead":1})"),
              (Rate{3.0, 15.0, 4.0, 6.0, 1.0}));
    EXPECT_EQ(parseRate(R"({"input":18446744073709551615,"output":0})"),
              (Rate{18446744073709551615.0, 0.0, 18446744073709551615.0 * 1.25, 2 * 18446744073709551615.0,
                    18446744073709551615.0 * 0.1}));
}

TEST(RateJson, AppendJsonWritesAllFiveKeys) {
    std::string out;
    appendJson(out, Rate{1.0, 2.0, 3.0, 4.0, 5.0});
    simdjson::dom::parser parser;
    simdjson::dom::object object;
    ASSERT_EQ(parser.parse(out).get(object), simdjson::SUCCESS) << out;
    std::set<std::string> keys;
    for (const auto field : object) {
        keys.emplace(field.key);
    }
    EXPECT_EQ(keys, (std::set<std::string>{"input", "output", "cacheWrite", "cacheWrite1h", "cacheRead"}));
    EXPECT_EQ(object.size(), 5u);
}

TEST(RateJson, AppendJsonReadsBackEqual) {
    const std::vector<Rate> rates = {
        {4.0, 20.0, 5.0, 8.0, 0.4},
        {0.1 + 0.2, 1.0 / 3.0, 2.0 / 3.0, 1e-300, 5e-324},
        {0.0, 0.0, 0.0, 0.0, 0.0},
        {123456.789, 1e21, 9007199254740993.0, 0.07, 0.275},
    };
    for (const auto& rate : rates) {
        std::string out;
        appendJson(out, rate);
        SCOPED_TRACE(out);
        EXPECT_EQ(parseRate(out), rate);
    }
}

TEST(RateJson, AppendJsonLeavesEarlierTextInPlace) {
    std::string out = "[";
    appendJson(out, markerRate);
    out.push_back(',');
    appendJson(out, otherMarkerRate);
    out.push_back(']');
    simdjson::dom::parser parser;
    simdjson::dom::array array;
    ASSERT_EQ(parser.parse(out).get(array), simdjson::SUCCESS) << out;
    ASSERT_EQ(array.size(), 2u);
    EXPECT_EQ(rateFromJson(array.at(0).value()), markerRate);
    EXPECT_EQ(rateFromJson(array.at(1).value()), otherMarkerRate);
}

constexpr int swapKeyCount = 16;
constexpr int swapCount = 20'000;

RateTable uniformTable(double price) {
    RateTable rates;
    for (int i = 0; i < swapKeyCount; ++i) {
        rates.emplace("swap-model-" + std::to_string(i), Rate{price, price, price, price, price});
    }
    return rates;
}

bool isWholeUniformTable(const RateTable& rates) {
    if (rates.size() != static_cast<std::size_t>(swapKeyCount)) {
        return false;
    }
    const double price = rates.begin()->second.input;
    for (const auto& [model, rate] : rates) {
        if (rate != Rate{price, price, price, price, price}) {
            return false;
        }
    }
    return true;
}

bool pricerSeesOneTable(const Pricer& pricer) {
    const Rate* first = pricer.effectiveRate("swap-model-0");
    if (first == nullptr) {
        return false;
    }
    for (int i = 1; i < swapKeyCount; ++i) {
        const Rate* rate = pricer.effectiveRate("swap-model-" + std::to_string(i));
        if (rate == nullptr || *rate != *first) {
            return false;
        }
    }
    return true;
}

// Readers race a writer that flips the table between two internally consistent versions;
// any snapshot mixing the two would hold rates of both prices.
void expectReadersNeverSeeAMixture(void (*set)(RateTable), std::shared_ptr<const RateTable> (*get)()) {
    const RateTable ones = uniformTable(1.0);
    const RateTable twos = uniformTable(2.0);
    set(ones);
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};

    std::vector<std::thread> readers;
    readers.emplace_back([&] {
        do {
            const auto snapshot = get();
            if (!isWholeUniformTable(*snapshot)) {
                ++torn;
            }
        } while (!done.load());
    });
    readers.emplace_back([&] {
        do {
            if (!pricerSeesOneTable(Pricer{})) {
                ++torn;
            }
        } while (!done.load());
    });
    for (int i = 0; i < swapCount; ++i) {
        set(i % 2 == 0 ? twos : ones);
    }
    done = true;
    for (auto& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(torn.load(), 0);
    EXPECT_TRUE(isWholeUniformTable(*get()));
    EXPECT_EQ(get()->begin()->second.input, 1.0);
}

TEST_F(TableSwap, UserOverrideReadersNeverSeeAMixture) {
    expectReadersNeverSeeAMixture(&setUserOverrides, &userOverrides);
}

TEST_F(TableSwap, RemoteRateReadersNeverSeeAMixture) {
    expectReadersNeverSeeAMixture(&setRemoteRates, &remoteRates);
}

TEST_F(TableSwap, ASnapshotOutlivesItsReplacement) {
    setUserOverrides({{"acme-coder-2", markerRate}});
    const auto snapshot = userOverrides();
    setUserOverrides({});
    ASSERT_EQ(snapshot->size(), 1u);
    EXPECT_EQ(snapshot->at("acme-coder-2"), markerRate);
    EXPECT_TRUE(userOverrides()->empty());
}

TEST(PricingModeRaw, RawValuesRoundTrip) {
    EXPECT_EQ(fernhollow::rawValue(PricingMode::anthropicOfficial), "anthropic");
    EXPECT_EQ(fernhollow::rawValue(PricingMode::ccusageCompatible), "ccusage");
    for (const PricingMode mode : {PricingMode::anthropicOfficial, PricingMode::ccusageCompatible}) {
        EXPECT_EQ(fernhollow::pricingModeFromRawValue(fernhollow::rawValue(mode)), mode);
    }
}

TEST(PricingModeRaw, UnknownRawValuesAreRefused) {
    const std::vector<std::string> raws = {
        "", "Anthropic", "CCUSAGE", "ccusage ", "anthropicOfficial", "ccusageCompatible", "0", "anthropic\0"s,
    };
    for (const auto& raw : raws) {
        SCOPED_TRACE(raw);
        EXPECT_EQ(fernhollow::pricingModeFromRawValue(raw), std::nullopt);
    }
}

} // namespace
