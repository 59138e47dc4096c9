#include "core/model/ModelPricing.h"
#include "core/figures/UsageAggregates.h"
#include "core/sources/CCUsageParser.h"
#include "core/sources/OpenClawParser.h"
#include "support/RatePrinter.h"

#include <gtest/gtest.h>
#include <simdjson.h>

#include <limits>
#include <map>
#include <vector>

namespace {

using fernhollow::PriceClass;
using fernhollow::PricingMode;
using fernhollow::UsageRecord;
using namespace fernhollow::ModelPricing;
namespace priceClass = fernhollow::priceClass;

const std::string routes = std::string(FERNHOLLOW_TEST_DATA_DIR) + "/pricing-routes";
constexpr Rate zero{};
// Equal to no built-in row, so a lookup that lands here proves which table answered.
constexpr Rate markerRate{0.123, 0.456, 0.789, 1.234, 0.0567};
constexpr Rate otherMarkerRate{9.5, 8.5, 7.5, 6.5, 5.5};

UsageRecord recordFor(std::string model, std::int64_t input, std::int64_t output, std::int64_t cacheWrite,
                      std::int64_t cacheWrite1h, std::int64_t cacheRead, PriceClass priceClass = 0) {
    UsageRecord record;
    record.model = model;
    record.inputTokens = input;
    record.outputTokens = output;
    record.cacheCreationInputTokens = cacheWrite;
    record.cacheCreation1hTokens = cacheWrite1h;
    record.cacheReadInputTokens = cacheRead;
    record.priceClass = priceClass;
    return record;
}

// Tokens times published prices, written out rather than taken from the code under test.
double atRate(const UsageRecord& r, const Rate& rate) {
    const double oneHour = static_cast<double>(std::min(r.cacheCreationInputTokens, r.cacheCreation1hTokens));
    return (static_cast<double>(r.inputTokens) * rate.input +
            static_cast<double>(r.outputTokens) * rate.output +
            (static_cast<double>(r.cacheCreationInputTokens) - oneHour) * rate.cacheWrite +
            oneHour * rate.cacheWrite1h + static_cast<double>(r.cacheReadInputTokens) * rate.cacheRead) /
           1e6;
}

void expectRate(const Rate* got, const Rate& want, const std::string& model) {
    ASSERT_NE(got, nullptr) << model;
    const double gotPrices[] = {got->input, got->output, got->cacheWrite, got->cacheWrite1h, got->cacheRead};
    const double wantPrices[] = {want.input, want.output, want.cacheWrite, want.cacheWrite1h, want.cacheRead};
    for (std::size_t i = 0; i < std::size(wantPrices); ++i) {
        EXPECT_NEAR(gotPrices[i], wantPrices[i], 1e-12) << model << ", price " << i;
    }
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

// The spellings logs write, each onto its model's row. Bedrock's regional endpoints cost 10% more
// than its global one, on the models that say so; a router's free tag and local models nothing.
TEST_F(ModelPricingTest, EverySpellingPricesAtItsModelsPublishedRate) {
    const Rate opus{5, 25, 6.25, 10, 0.5};
    const Rate sonnet{3, 15, 3.75, 6, 0.3};
    const std::tuple<const char*, const char*, Rate> rows[] = {
        {"anthropic/claude-opus-4.7", "claude-opus-4-7", opus},
        {"claude-opus-4-0", "claude-opus-4", {15, 75, 18.75, 30, 1.5}},
        {"claude-sonnet-4-5-20250929[1m]", "claude-sonnet-4-5", sonnet},
        {"Claude-Haiku-4-5-20251001", "claude-haiku-4-5", {1, 5, 1.25, 2, 0.1}},
        {"anthropic/claude-3.7-sonnet:thinking", "claude-3-7-sonnet", sonnet},
        {"gpt-5.1-chat-latest", "gpt-5.1-chat", {1.25, 10, 1.25, 1.25, 0.125}},
        {"cli-proxy/gpt-5-codex-high", "gpt-5-codex", {1.25, 10, 1.25, 1.25, 0.125}},
        {"gpt-4o-2024-11-20", "gpt-4o", {2.5, 10, 2.5, 2.5, 1.25}},
        {"google/gemini-3.1-pro-preview", "gemini-3.1-pro", {2, 12, 2, 2, 0.2}},
        {"models/gemini-2.5-flash-lite-preview-06-17", "gemini-2.5-flash-lite", {0.1, 0.4, 0.1, 0.1, 0.01}},
        {"deepseek/deepseek-chat", "deepseek-chat", {0.28, 0.42, 0.28, 0.28, 0.028}},
        {"grok-4-fast-non-reasoning", "grok-4-fast", {0.2, 0.5, 0.2, 0.2, 0.05}},
        {"mistral/devstral-medium-2507", "devstral-medium", {0.4, 2, 0.4, 0.4, 0.4}},
        {"qwen3-coder-plus-2025-09-23", "qwen3-coder-plus", {1, 5, 1, 1, 0.2}},
        {"zai-org/GLM-4.6", "glm-4.6", {0.6, 2.2, 0.6, 0.6, 0.11}},
        {"kimi-k2-thinking", "kimi-k2", {0.6, 2.5, 0.6, 0.6, 0.15}},
        {"amazon-bedrock/us.anthropic.claude-opus-4-6-v1", "claude-opus-4-6", {5.5, 27.5, 6.875, 11, 0.55}},
        {"eu.anthropic.claude-sonnet-4-5-20250929-v1:0", "claude-sonnet-4-5", {3.3, 16.5, 4.125, 6.6, 0.33}},
        {"anthropic.claude-haiku-4-5-20251001-v1:0", "claude-haiku-4-5", {1.1, 5.5, 1.375, 2.2, 0.11}},
        {"global.anthropic.claude-opus-4-6-v1", "claude-opus-4-6", opus},
        {"bedrock/us.anthropic.claude-opus-4-1-20250805-v1:0", "claude-opus-4-1", {15, 75, 18.75, 30, 1.5}},
        {"arn:aws:bedrock:us-east-1:123456789012:inference-profile/global.anthropic.claude-sonnet-4-6",
         "claude-sonnet-4-6", sonnet},
        {"vertex_ai/claude-opus-4-5@20251101", "claude-opus-4-5", opus},
        {"openrouter/anthropic/claude-sonnet-4.5", "claude-sonnet-4-5", sonnet},
        {"openrouter/deepseek/deepseek-chat-v3.1:free", "deepseek-chat-v3.1", zero},
        {"ollama/llama3:latest", "llama3", zero},
        {"http://localhost:8080/v1/claude-opus-4-6", "claude-opus-4-6", zero},
    };
    const Pricer pricer;
    for (const auto& [spelling, name, rate] : rows) {
        expectRate(pricer.effectiveRate(spelling), rate, spelling);
        EXPECT_EQ(pricer.displayName(spelling), name) << spelling;
    }
    expectRate(&fallbackRate(), sonnet, "the fallback");
}

// Overrides by the spelling seen, then by the canonical id; then the built-in rows; then the
// catalogue. The user's own machine is free whatever the tables say.
TEST_F(ModelPricingTest, OverridesThenBuiltInThenCatalogue) {
    setUserOverrides({{"Acme-Coder", markerRate}, {"claude-opus-4-1", markerRate}, {"llama3", markerRate}});
    setRemoteRates({{"acme-coder-2", otherMarkerRate},
                    {"claude-opus-4", otherMarkerRate},
                    {"gemini-9-pro", otherMarkerRate}});
    const std::pair<const char*, std::optional<Rate>> cases[] = {
        {"Acme-Coder", markerRate},
        {"acme-coder", std::nullopt},
        {"anthropic/claude-opus-4-1-20250805", markerRate},
        {"claude-opus-4", Rate{15, 75, 18.75, 30, 1.5}},
        {"gemini/gemini-9-pro-preview", otherMarkerRate},
        {"vertex_ai/acme-coder-2@001", otherMarkerRate},
        {"ollama/llama3:latest", zero},
    };
    for (const auto& [model, expected] : cases) {
        EXPECT_EQ(effectiveRate(model), expected) << model;
    }
}

// Each row: a model, its prompt (input, cache write, cache read, output), the class asked, the class.
TEST_F(ModelPricingTest, APriceClassIsDecidedFromTheRecordsOwnPrompt) {
    const PriceClass fast = priceClass::fast;
    const PriceClass priority = priceClass::priority;
    const std::tuple<const char*, std::int64_t, std::int64_t, std::int64_t, std::int64_t, PriceClass,
                     PriceClass>
        cases[] = {
            {"claude-opus-4-6", 0, 0, 200'000, 0, 0, 0},
            {"claude-opus-4-6", 1, 0, 200'000, 0, fast, fast | 1},
            {"us.anthropic.claude-sonnet-4-5-20250929-v1:0", 150'000, 60'000, 0, 0, 0, 1},
            {"claude-opus-4-6", 10, 0, 0, 300'000, 0, 0},
            {"qwen3-coder-plus", 32'001, 0, 0, 0, 0, 1},
            {"qwen3-coder-plus", 0, 100, 128'000, 0, 0, 2},
            {"qwen3-coder-plus", 0, 0, 900'000, 0, 0, 3},
            {"gpt-5.4", 72'000, 0, 200'000, 0, 0, 0},
            {"gpt-5.4", 72'001, 0, 200'000, 0, priority, priority | 1},
            {"claude-haiku-4-5", 500'000, 0, 0, 0, 0, 0},
            {"mystery-model", 900'000, 0, 0, 0, fast, fast},
            {"claude-haiku-4-5", 0, 0, 0, 0, 3, 0},
            {"claude-opus-4-6", std::numeric_limits<std::int64_t>::max(), 1, 1, 0, 0, 1},
        };
    for (const auto& [model, input, cacheWrite, cacheRead, output, requested, expected] : cases) {
        const UsageRecord record = recordFor(model, input, output, cacheWrite, 0, cacheRead);
        EXPECT_EQ(priceClassOf(record, requested), expected) << model << " " << input;
    }
}

// A class the model has no price for costs as the class below it; a tier beyond the model's
// last (a ledger written under another table) costs as its last.
TEST_F(ModelPricingTest, EachPriceClassCostsItsOwnPrices) {
    const std::tuple<const char*, PriceClass, Rate> cases[] = {
        {"gpt-5", priceClass::priority, {2.5, 20, 2.5, 2.5, 0.25}},
        {"gpt-5-nano", priceClass::priority, {0.05, 0.4, 0.05, 0.05, 0.005}},
        {"claude-sonnet-4-5", priceClass::fast, {3, 15, 3.75, 6, 0.3}},
        {"claude-opus-4-6", priceClass::fast | 3, {60, 225, 75, 120, 6}},
        {"eu.anthropic.claude-opus-4-6-v1", priceClass::fast, {33, 165, 41.25, 66, 3.3}},
        {"qwen3-coder-plus", 3, {6, 60, 6, 6, 1.2}},
        {"gemini-3-pro-preview", 1, {4, 18, 4, 4, 0.4}},
        {"acme-coder", priceClass::fast | 1, {3, 15, 3.75, 6, 0.3}},
        {"ollama/qwen3-coder:30b", priceClass::fast | 1, zero},
        {"gpt-5", 0xF0 | priceClass::priority, {2.5, 20, 2.5, 2.5, 0.25}},
    };
    const Pricer pricer;
    for (const auto& [model, priceClassBits, rate] : cases) {
        const UsageRecord record = recordFor(model, 123'457, 45'679, 67'891, 23'457, 891'235, priceClassBits);
        EXPECT_NEAR(pricer.cost(record), atRate(record, rate), 1e-12) << model << " " << int(priceClassBits);
    }
}

// Real-shaped lines read as a scan reads them: each priced by the built-in table, and those whose
// route, tier or one-hour writes the line decides at what the vendor publishes for them.
TEST_F(ModelPricingTest, FixtureLinesCostTheirPublishedPrices) {
    const std::map<std::string, Rate> published = {
        {"msg_01Opus46Long", {10, 37.5, 12.5, 20, 1}},
        {"msg_01Opus46Fast", {30, 150, 37.5, 60, 3}},
        {"msg_01Opus46FastLong", {60, 225, 75, 120, 6}},
        {"msg_01Sonnet45OneHour", {3, 15, 3.75, 6, 0.3}},
        {"msg_01Sonnet45Long", {6, 22.5, 7.5, 12, 0.6}},
        {"msg_bdrk_01BedrockUs", {3.3, 16.5, 4.125, 6.6, 0.33}},
        {"b1e0a001", {5.5, 27.5, 6.875, 11, 0.55}},
        {"b1e0a005", zero},
        {"b1e0a006", zero},
        {"b1e0a008", zero},
        {"b1e0a015", {1.8, 9, 1.8, 1.8, 0.36}},
        {"b1e0a016", {5, 22.5, 5, 5, 0.5}},
    };
    std::vector<UsageRecord> records = fernhollow::CCUsageParser::parseFile(
        routes + "/claude-projects/-home-dev-shop/5e7a0c11-2222-4333-8444-000000000001.jsonl",
        routes + "/claude-projects");
    for (UsageRecord& record : fernhollow::OpenClawParser::parseFile(
             routes + "/openclaw-agents/main/sessions/77c0ffee-1111-4222-8333-000000000001.jsonl", "main")) {
        // The event id, without the prefix and time that keep it apart from the provider's ids.
        const std::string id = record.messageId;
        record.messageId = id.substr(6, id.find('@') - 6);
        records.push_back(std::move(record));
    }
    ASSERT_EQ(records.size(), 34u);
    const Pricer pricer;
    std::size_t checked = 0;
    for (const UsageRecord& record : records) {
        if (const auto it = published.find(record.messageId); it != published.end()) {
            EXPECT_NEAR(pricer.cost(record), atRate(record, it->second), 1e-9) << record.messageId;
            ++checked;
        }
    }
    EXPECT_EQ(checked, published.size());
    const fernhollow::UsageAggregates::UsageLists lists{records, {}, {}};
    EXPECT_TRUE(fernhollow::UsageAggregates::unpricedModels(lists).empty());
}

TEST(BuiltInRateTableText, RefusesARowItCouldNotPriceBy) {
    const std::pair<const char*, const char*> cases[] = {
        {"acme 1 2 3 4", "five prices"},
        {"acme 1 2 3 4 x", "x is not a price"},
        {"Acme 1 2 3 4 5", "canonical"},
        {"acme 1 2 3 4 5 >100=1,2,3,4", ">TOKENS="},
        {"acme 1 2 3 4 5 >100=1,2,3,4,5 >100=2,3,4,5,6", "ascend"},
        {"acme 1 2 3 4 5 >1=1,2,3,4,5 >2=1,2,3,4,5 >3=1,2,3,4,5 >4=1,2,3,4,5", "at most three"},
        {"acme 1 2 3 4 5 fast*0", "above 0"},
        {"acme 1 2 3 4 5 slow*2", "unknown option"},
        {"acme 1 2 3 4 5 >100=1,2,3,4,5 priority=1,2,3,4,5", "not both"},
        {"acme 1 2 3 4 5\n# a comment\n\nacme 1 2 3 4 5 # again", "second row"},
    };
    for (const auto& [text, message] : cases) {
        const auto parsed = parseRateTable(text);
        const auto* error = std::get_if<TableError>(&parsed);
        ASSERT_NE(error, nullptr) << text;
        EXPECT_NE(error->message.find(message), std::string::npos) << text << ": " << error->message;
        EXPECT_EQ(error->line, std::string_view(text).starts_with("acme 1 2 3 4 5\n") ? 4u : 1u) << text;
    }
}

// Totals are compared and stored bit for bit, so the order of the additions is part of the
// result: the last row gives a different last bit under every other plausible order.
TEST_F(ModelPricingTest, CostClampsTheOneHourCountAndSumsOddCountsInAFixedOrder) {
    constexpr std::int64_t most = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t least = std::numeric_limits<std::int64_t>::min();
    setUserOverrides({{"acme-coder-2", Rate{0.1, 0.7, 0.3, 1.9, 0.03}}});
    const std::pair<UsageRecord, double> cases[] = {
        {recordFor("claude-sonnet-4-5", 0, 0, 1000, 1500, 0), 1000 * 6.0 / 1e6},
        {recordFor("claude-sonnet-4-5", -1000, -200, 0, 0, -5000),
         (-1000 * 3.0 - 200 * 15.0 - 5000 * 0.3) / 1e6},
        {recordFor("claude-sonnet-4-5", 0, 0, 1000, -400, 0), (1400 * 3.75 - 400 * 6.0) / 1e6},
        // The 5-minute part of extreme counts does not fit in 64 bits.
        {recordFor("claude-sonnet-4-5", 0, 0, most, least, 0),
         ((static_cast<double>(most) - static_cast<double>(least)) * 3.75 +
          static_cast<double>(least) * 6.0) /
             1e6},
        {recordFor("acme-coder-2", 49041865, 18669677, 84428161, 9472747, 189375254),
         (49041865.0 * 0.1 + 18669677.0 * 0.7 + (84428161.0 - 9472747.0) * 0.3 + 9472747.0 * 1.9 +
          189375254.0 * 0.03) /
             1e6},
    };
    for (const auto& [record, dollars] : cases) {
        EXPECT_EQ(cost(record, PricingMode::anthropicOfficial), dollars) << record.model.str();
        EXPECT_EQ(cost(record, PricingMode::ccusageCompatible), cost(record, PricingMode::anthropicOfficial));
    }
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
    };
    // Input and output are required numbers; the cache prices numbers or null.
    for (const char* refused : {R"({"input":4.0})", R"({"input":"4.0","output":20.0})",
                                R"({"input":4.0,"output":20.0,"cacheRead":false})", "[4.0,20.0]"}) {
        cases.emplace_back(refused, std::nullopt);
    }
    simdjson::dom::parser parser;
    for (const auto& [json, expected] : cases) {
        simdjson::dom::element element;
        ASSERT_EQ(parser.parse(json).get(element), simdjson::SUCCESS) << json;
        EXPECT_EQ(rateFromJson(element), expected) << json;
    }
}

} // namespace
