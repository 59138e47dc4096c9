#include "core/model/ModelPricing.h"
#include "core/model/PricingMode.h"
#include "core/model/UsageRecord.h"
#include "support/RatePrinter.h"

#include <gtest/gtest.h>
#include <simdjson.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using fernhollow::PricingMode;
using fernhollow::UsageRecord;
using namespace fernhollow::ModelPricing;
using namespace std::string_literals;

constexpr Rate opus45Rate{5.0, 25.0, 6.25, 10.0, 0.5};
constexpr Rate opus4Rate{15.0, 75.0, 18.75, 30.0, 1.5};
constexpr Rate sonnetRate{3.0, 15.0, 3.75, 6.0, 0.3};
// Equal to no built-in row, so a lookup that lands here proves which table answered.
constexpr Rate markerRate{0.123, 0.456, 0.789, 1.234, 0.0567};
constexpr Rate otherMarkerRate{9.5, 8.5, 7.5, 6.5, 5.5};

UsageRecord recordFor(std::string model, std::int64_t input, std::int64_t output, std::int64_t cacheWrite,
                      std::int64_t cacheWrite1h, std::int64_t cacheRead) {
    return {{}, {}, 0.0, model, input, output, cacheWrite, cacheWrite1h, cacheRead, {}, {}};
}

// The replaceable tables are process-wide; every test starts and ends with both empty.
class ModelPricingTest : public ::testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override {
        setUserOverrides({});
        setRemoteRates({});
    }
};

// Every price a user is charged without a catalogue, row by row: a slip in one digit
// would misprice that model silently.
TEST_F(ModelPricingTest, BuiltInTableHoldsExactlyTheCuratedRows) {
    const std::vector<std::pair<Rate, std::vector<std::string>>> rows = {
        {opus45Rate, {"claude-opus-4-8", "claude-opus-4-7", "claude-opus-4-6", "claude-opus-4-5"}},
        {opus4Rate, {"claude-opus-4-1", "claude-opus-4"}},
        {{10.0, 50.0, 12.5, 20.0, 1.0}, {"claude-fable-5", "claude-mythos-5"}},
        {sonnetRate, {"claude-sonnet-4-6", "claude-sonnet-4-5", "claude-sonnet-4"}},
        {{1.0, 5.0, 1.25, 2.0, 0.1}, {"claude-haiku-4-5", "claude-haiku-4-5-20251001"}},
        {{2.5, 10.0, 2.5, 2.5, 1.25}, {"gpt-4o", "gpt-4o-2024-11-20"}},
        {{0.15, 0.6, 0.15, 0.15, 0.075}, {"gpt-4o-mini"}},
        {{2.0, 8.0, 2.0, 2.0, 0.5}, {"gpt-4.1"}},
        {{0.4, 1.6, 0.4, 0.4, 0.1}, {"gpt-4.1-mini"}},
        {{0.1, 0.4, 0.1, 0.1, 0.025}, {"gpt-4.1-nano"}},
        {{15.0, 60.0, 15.0, 15.0, 7.5}, {"o1"}},
        {{3.0, 12.0, 3.0, 3.0, 1.5}, {"o1-mini"}},
        {{10.0, 40.0, 10.0, 10.0, 2.5}, {"o3"}},
        {{1.1, 4.4, 1.1, 1.1, 0.55}, {"o3-mini"}},
        {{1.1, 4.4, 1.1, 1.1, 0.275}, {"o4-mini"}},
        {{0.27, 1.1, 0.27, 0.27, 0.07}, {"deepseek-chat"}},
        {{0.55, 2.19, 0.55, 0.55, 0.14}, {"deepseek-reasoner"}},
    };
    std::size_t count = 0;
    for (const auto& [rate, models] : rows) {
        for (const std::string& model : models) {
            const auto row = table().find(model);
            ASSERT_NE(row, table().end()) << model;
            EXPECT_EQ(row->second, rate) << model;
            EXPECT_EQ(effectiveRate(model), rate) << model;
            ++count;
        }
    }
    EXPECT_EQ(count, 26u);
    EXPECT_EQ(table().size(), count);
    EXPECT_EQ(fallbackModel, "claude-sonnet-4-6");
    EXPECT_EQ(fallbackRate(), sonnetRate);
}

TEST(Canonicalize, StripsOnlyAnEightCharacterTrailingDatePiece) {
    std::vector<std::pair<std::string, std::string>> stripped = {
        {"claude-haiku-4-5-20251001", "claude-haiku-4-5"},
        {"a-20250101", "a"},
        {"model-+1234567", "model"},
        {"claude-x-20250101-20250102", "claude-x-20250101"},
        // Empty pieces vanish, but only when a date is stripped.
        {"claude--opus-4-1-20250805", "claude-opus-4-1"},
        {"-claude-x-20250101-", "claude-x"},
        {"--claude---x--20250101--", "claude-x"},
        {"x--y---z-20250101", "x-y-z"},
        {"a--20250101", "a"},
    };
    // Not a date piece (wrong length, a sign out of place, a letter), or fewer than two pieces.
    for (const char* kept :
         {"gpt-4o-2024-11-20", "claude-x-2025100", "claude-x-202510011", "claude-x-2025100a",
          "claude-x-++234567", "claude-x-1234+567", "o3", "claude--opus-4-1", "-claude-x-", "", "-", "--",
          "20251001", "-20251001", "20251001-", "--20251001--"}) {
        stripped.emplace_back(kept, kept);
    }
    for (const auto& [input, expected] : stripped) {
        EXPECT_EQ(canonicalize(input), expected) << input;
        std::string scratch = "stale text from an earlier call";
        const std::string_view view = canonicalize(input, scratch);
        EXPECT_EQ(view, expected) << input;
        // A result that is a slice of the input must not be copied.
        if (input.starts_with(expected)) {
            EXPECT_EQ(view.data(), input.data()) << input;
        }
    }
}

TEST_F(ModelPricingTest, DatedIdsPriceAtTheUndatedRowAndOverridesThenBuiltInThenRemote) {
    EXPECT_EQ(effectiveRate("claude-sonnet-4-5-20250929"), sonnetRate);
    EXPECT_EQ(effectiveRate("claude-opus-4-8-20260101"), opus45Rate);
    EXPECT_EQ(effectiveRate("claude--opus-4-1-20250805"), opus4Rate);
    EXPECT_EQ(effectiveRate("acme-coder-2"), std::nullopt);
    setRemoteRates(
        {{"acme-coder-2", otherMarkerRate}, {"claude-opus-4", markerRate}, {"acme-3", markerRate}});
    setUserOverrides({{"acme-coder-2", markerRate}, {"claude-opus-4-1", markerRate}});
    EXPECT_EQ(effectiveRate("claude-opus-4-1"), markerRate);
    EXPECT_EQ(effectiveRate("claude-opus-4-1-20250805"), markerRate);
    EXPECT_EQ(effectiveRate("acme-coder-2"), markerRate);
    EXPECT_EQ(effectiveRate("claude-opus-4"), opus4Rate);
    EXPECT_EQ(effectiveRate("acme-3-20260115"), markerRate);
}

TEST_F(ModelPricingTest, ReplaceableTablesAreMatchedExactlyAndNeverByADatedKey) {
    setUserOverrides({{"Acme-Coder", markerRate}, {"claude-opus-4-1-20250805", markerRate}});
    setRemoteRates({{"vendor/acme-coder", otherMarkerRate}, {"acme-coder-2-20260115", markerRate}});
    EXPECT_EQ(effectiveRate("acme-coder"), std::nullopt);
    EXPECT_EQ(effectiveRate("Acme-Coder"), markerRate);
    EXPECT_EQ(effectiveRate("vendor/acme-coder"), otherMarkerRate);
    EXPECT_EQ(effectiveRate("claude-opus-4-1-20250805"), opus4Rate);
    EXPECT_EQ(effectiveRate("acme-coder-2-20260115"), std::nullopt);
}

TEST_F(ModelPricingTest, UnpricedModelsCostAsSonnet46) {
    const UsageRecord reference = recordFor("claude-sonnet-4-6", 1000, 2000, 3000, 1000, 4000);
    const double referenceCost = cost(reference, PricingMode::anthropicOfficial);
    for (const std::string model :
         {"CLAUDE-SONNET-4-5", "anthropic/claude-sonnet-4-5", "Claude-Sonnet-4-5", " claude-sonnet-4-5",
          "claude-sonnet-4-5 ", "claude-sonnet-4.5", "claude-sonnet-4-5-latest", "claude-sonnet", "",
          "claude-unknown-9-20250101", "gpt-4o-2024-08-06"}) {
        UsageRecord record = reference;
        record.model = model;
        EXPECT_EQ(effectiveRate(model), std::nullopt) << model;
        EXPECT_EQ(cost(record, PricingMode::anthropicOfficial), referenceCost) << model;
    }
}

// Prices are read from a snapshot taken when the Pricer is built, which outlives its replacement.
TEST_F(ModelPricingTest, PricerAndSnapshotKeepTheTablesTheyWereTaken) {
    const Pricer before;
    setUserOverrides({{"claude-opus-4-1", markerRate}});
    setRemoteRates({{"acme-coder-2", markerRate}});
    const Pricer after;
    const auto snapshot = userOverrides();
    setUserOverrides({});
    setRemoteRates({});
    ASSERT_NE(before.effectiveRate("claude-opus-4-1"), nullptr);
    EXPECT_EQ(*before.effectiveRate("claude-opus-4-1"), opus4Rate);
    EXPECT_EQ(before.effectiveRate("acme-coder-2"), nullptr);
    ASSERT_NE(after.effectiveRate("claude-opus-4-1"), nullptr);
    EXPECT_EQ(*after.effectiveRate("claude-opus-4-1"), markerRate);
    ASSERT_NE(after.effectiveRate("acme-coder-2"), nullptr);
    EXPECT_EQ(*after.effectiveRate("acme-coder-2"), markerRate);
    EXPECT_EQ(*snapshot, (RateTable{{"claude-opus-4-1", markerRate}}));
}

// One Pricer remembers its last answer and reuses one scratch buffer; neither may leak
// into the next record of a run.
TEST_F(ModelPricingTest, PricerAnswersEveryModelOfAMixedRun) {
    setRemoteRates({{"acme-coder-2", markerRate}});
    const Pricer pricer;
    for (const std::string model :
         {"claude-opus-4-1-20250805", "claude-opus-4-1-20250805", "claude--sonnet-4-5-20250929",
          "unknown-model", "unknown-model", "claude-opus-4-1-20250805", "-acme-coder-2-20260115", "",
          "claude-haiku-4-5-20251001", "claude--sonnet-4-5-20250929", "unknown-model", "acme-coder-2"}) {
        const Rate* rate = pricer.effectiveRate(model);
        const std::optional<Rate> expected = effectiveRate(model);
        ASSERT_EQ(rate != nullptr, expected.has_value()) << model;
        if (rate != nullptr) {
            EXPECT_EQ(*rate, *expected) << model;
        }
        const UsageRecord record = recordFor(model, 1000, 2000, 3000, 1000, 4000);
        EXPECT_EQ(pricer.cost(record), cost(record, PricingMode::anthropicOfficial)) << model;
    }
}

TEST_F(ModelPricingTest, CostPricesEachCountAtItsOwnRate) {
    constexpr std::int64_t most = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t least = std::numeric_limits<std::int64_t>::min();
    struct Case {
        UsageRecord record;
        double dollars;
    };
    const Case cases[] = {
        {recordFor("claude-opus-4-8", 1'000'000, 1'000'000, 0, 0, 0), 30.0},
        {recordFor("claude-opus-4-1", 1'000'000, 0, 0, 0, 0), 15.0},
        {recordFor("claude-opus-4-1", 0, 1'000'000, 0, 0, 0), 75.0},
        {recordFor("claude-opus-4-1", 0, 0, 1'000'000, 0, 0), 18.75},
        {recordFor("claude-opus-4-1", 0, 0, 1'000'000, 1'000'000, 0), 30.0},
        {recordFor("claude-opus-4-1", 0, 0, 0, 0, 1'000'000), 1.5},
        {recordFor("claude-opus-4-8", 0, 0, 0, 0, 0), 0.0},
        // The 1-hour count is part of the cache-write total, and clamped to it.
        {recordFor("claude-sonnet-4-5", 0, 0, 1000, 400, 0), (600 * 3.75 + 400 * 6.0) / 1e6},
        {recordFor("claude-sonnet-4-5", 0, 0, 1000, 1500, 0), 1000 * 6.0 / 1e6},
        // Negative counts are priced as they stand.
        {recordFor("claude-sonnet-4-5", -1000, -200, 0, 0, -5000),
         (-1000 * 3.0 - 200 * 15.0 - 5000 * 0.3) / 1e6},
        {recordFor("claude-sonnet-4-5", 0, 0, 1000, -400, 0), (1400 * 3.75 - 400 * 6.0) / 1e6},
        // The 5-minute part of extreme counts does not fit in 64 bits.
        {recordFor("claude-sonnet-4-5", 0, 0, most, least, 0),
         ((static_cast<double>(most) - static_cast<double>(least)) * 3.75 +
          static_cast<double>(least) * 6.0) /
             1e6},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const double official = cost(cases[i].record, PricingMode::anthropicOfficial);
        EXPECT_DOUBLE_EQ(official, cases[i].dollars) << "case " << i;
        EXPECT_EQ(cost(cases[i].record, PricingMode::ccusageCompatible), official) << "case " << i;
    }
}

// Totals are compared and stored bit for bit, so the order of the additions is part of the
// result; these values give a different last bit under every other plausible order.
TEST_F(ModelPricingTest, CostSumsInAFixedOrder) {
    setUserOverrides({{"acme-coder-2", Rate{0.1, 0.7, 0.3, 1.9, 0.03}}});
    const UsageRecord record = recordFor("acme-coder-2", 49041865, 18669677, 84428161, 9472747, 189375254);
    const double expected = (49041865.0 * 0.1 + 18669677.0 * 0.7 + (84428161.0 - 9472747.0) * 0.3 +
                             9472747.0 * 1.9 + 189375254.0 * 0.03) /
                            1e6;
    EXPECT_EQ(cost(record, PricingMode::anthropicOfficial), expected);
    EXPECT_EQ(Pricer{}.cost(record), expected);
}

TEST(RateJson, DecodesPricesAndDerivesMissingCachePricesFromInput) {
    const Rate derived{4.0, 20.0, 5.0, 8.0, 0.4};
    std::vector<std::pair<std::string, std::optional<Rate>>> cases = {
        {R"({"input":4.0,"output":20.0})", derived},
        {R"({"input":4,"output":20,"cacheWrite":null,"cacheWrite1h":null,"cacheRead":null})", derived},
        {R"({"currency":"USD","input":4,"note":null,"output":20,"Input":99})", derived},
        // A present cache price wins, even zero.
        {R"({"input":4,"output":20,"cacheWrite":0})", Rate{4.0, 20.0, 0.0, 8.0, 0.4}},
        {R"({"input":4,"output":20,"cacheWrite1h":0})", Rate{4.0, 20.0, 5.0, 0.0, 0.4}},
        {R"({"input":4,"output":20,"cacheRead":0})", Rate{4.0, 20.0, 5.0, 8.0, 0.0}},
        {R"({"input":4,"output":20,"cacheWrite":1.5,"cacheWrite1h":2.5,"cacheRead":0.25})",
         Rate{4.0, 20.0, 1.5, 2.5, 0.25}},
        {R"({"input":18446744073709551615,"output":0})",
         Rate{18446744073709551615.0, 0.0, 18446744073709551615.0 * 1.25, 2 * 18446744073709551615.0,
              18446744073709551615.0 * 0.1}},
    };
    // Input and output are required numbers; the cache prices numbers or null.
    for (const char* refused :
         {R"({"output":20.0})", R"({"input":4.0})", R"({"input":null,"output":20.0})",
          R"({"input":4.0,"output":null})", R"({"input":"4.0","output":20.0})",
          R"({"input":4.0,"output":true})", R"({"input":[4.0],"output":20.0})",
          R"({"input":4.0,"output":20.0,"cacheWrite":"5"})",
          R"({"input":4.0,"output":20.0,"cacheWrite1h":{}})",
          R"({"input":4.0,"output":20.0,"cacheRead":false})", "[4.0,20.0]", "4.0", "null"}) {
        cases.emplace_back(refused, std::nullopt);
    }
    simdjson::dom::parser parser;
    for (const auto& [json, expected] : cases) {
        simdjson::dom::element element;
        ASSERT_EQ(parser.parse(json).get(element), simdjson::SUCCESS) << json;
        EXPECT_EQ(rateFromJson(element), expected) << json;
    }
}

// Readers race a writer that flips a table between two internally consistent versions; a
// snapshot mixing the two would hold rates of both prices.
TEST_F(ModelPricingTest, TableSwapsAreNeverSeenHalfDone) {
    constexpr int keyCount = 16;
    const auto uniform = [](double price) {
        RateTable rates;
        for (int i = 0; i < keyCount; ++i) {
            rates.emplace("swap-model-" + std::to_string(i), Rate{price, price, price, price, price});
        }
        return rates;
    };
    const auto isWhole = [](const RateTable& rates) {
        return rates.size() == keyCount && std::all_of(rates.begin(), rates.end(), [&](const auto& row) {
                   return row.second == rates.begin()->second;
               });
    };
    using Setter = void (*)(RateTable);
    using Getter = std::shared_ptr<const RateTable> (*)();
    for (const auto& [set, get] : {std::pair<Setter, Getter>{&setUserOverrides, &userOverrides},
                                   std::pair<Setter, Getter>{&setRemoteRates, &remoteRates}}) {
        const RateTable ones = uniform(1.0);
        const RateTable twos = uniform(2.0);
        set(ones);
        std::atomic<bool> done{false};
        std::atomic<int> torn{0};
        std::thread reader([&, get = get] {
            do {
                torn += isWhole(*get()) ? 0 : 1;
            } while (!done.load());
        });
        for (int i = 0; i < 20'000; ++i) {
            set(i % 2 == 0 ? twos : ones);
        }
        done = true;
        reader.join();
        EXPECT_EQ(torn.load(), 0);
        EXPECT_EQ(get()->begin()->second.input, 1.0);
        setUserOverrides({});
        setRemoteRates({});
    }
}

TEST(PricingModeRaw, KnownValuesRoundTripAndOthersAreRefused) {
    EXPECT_EQ(fernhollow::rawValue(PricingMode::anthropicOfficial), "anthropic");
    EXPECT_EQ(fernhollow::rawValue(PricingMode::ccusageCompatible), "ccusage");
    for (const PricingMode mode : {PricingMode::anthropicOfficial, PricingMode::ccusageCompatible}) {
        EXPECT_EQ(fernhollow::pricingModeFromRawValue(fernhollow::rawValue(mode)), mode);
    }
    for (const std::string& raw : {""s, "Anthropic"s, "CCUSAGE"s, "ccusage "s, "anthropicOfficial"s,
                                   "ccusageCompatible"s, "0"s, "anthropic\0"s}) {
        EXPECT_EQ(fernhollow::pricingModeFromRawValue(raw), std::nullopt) << raw;
    }
}

} // namespace
