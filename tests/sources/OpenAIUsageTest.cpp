#include "sources/OpenAIUsage.h"

#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace fernhollow {
namespace {

using OpenAIUsage::DecodeFailure;
using OpenAIUsage::decodeUsage;

// One result as the API writes it, every member present; `counts` replaces the token counts.
std::string result(std::string_view model,
                   std::string_view counts = R"("input_tokens":1000,"output_tokens":500,)"
                                             R"("num_model_requests":3,"input_cached_tokens":400)") {
    return R"({"object":"organization.usage.completions.result",)" + std::string(counts) +
           R"(,"project_id":null,"user_id":null,"api_key_id":null,"model":")" + std::string(model) +
           R"(","batch":null,"input_audio_tokens":0,"output_audio_tokens":0})";
}

std::string bucket(long long startTime, const std::vector<std::string>& results) {
    std::string joined;
    for (const std::string& one : results) {
        joined += (joined.empty() ? "" : ",") + one;
    }
    return R"({"object":"bucket","start_time":)" + std::to_string(startTime) + R"(,"end_time":)" +
           std::to_string(startTime + 86400) + R"(,"results":[)" + joined + "]}";
}

std::string page(const std::vector<std::string>& buckets) {
    std::string joined;
    for (const std::string& one : buckets) {
        joined += (joined.empty() ? "" : ",") + one;
    }
    return R"({"object":"page","data":[)" + joined + R"(],"has_more":true,"next_page":"page_AAA"})";
}

std::vector<UsageRecord> decoded(std::string_view body) {
    auto answer = decodeUsage(body);
    if (const auto* failure = std::get_if<DecodeFailure>(&answer)) {
        ADD_FAILURE() << "unexpected decode failure: " << failure->message;
        return {};
    }
    return std::get<std::vector<UsageRecord>>(std::move(answer));
}

// The failure's message, or a failed expectation when the body decoded.
std::string failure(std::string_view body) {
    const auto answer = decodeUsage(body);
    if (const auto* failed = std::get_if<DecodeFailure>(&answer)) {
        return failed->message;
    }
    ADD_FAILURE() << "decoded " << std::get<std::vector<UsageRecord>>(answer).size()
                  << " records from a body that should fail: " << body;
    return {};
}

// ---- Records from a well-formed answer ----

TEST(OpenAIUsageDecode, OneRecordPerResultInAnswerOrder) {
    const auto records =
        decoded(page({bucket(1730419200, {result("gpt-4o-2024-08-06"),
                                          result("gpt-4o-mini", R"("input_tokens":7,)"
                                                                R"("output_tokens":8,)"
                                                                R"("input_cached_tokens":9)")}),
                      bucket(1730505600, {result("o3-mini")}), bucket(1730592000, {})}));
    ASSERT_EQ(records.size(), 3u);

    EXPECT_EQ(records[0].messageId, "openai:1730419200:gpt-4o-2024-08-06");
    EXPECT_DOUBLE_EQ(records[0].timestamp, 1730419200.0);
    EXPECT_EQ(records[0].model, "gpt-4o-2024-08-06");
    EXPECT_EQ(records[0].inputTokens, 1000);
    EXPECT_EQ(records[0].outputTokens, 500);
    EXPECT_EQ(records[0].cacheReadInputTokens, 400);
    EXPECT_EQ(records[0].cacheCreationInputTokens, 0);
    EXPECT_EQ(records[0].cacheCreation1hTokens, 0);
    EXPECT_EQ(records[0].projectPath, "openai");
    EXPECT_EQ(records[0].sessionId, "openai-gpt-4o-2024-08-06");

    EXPECT_EQ(records[1].messageId, "openai:1730419200:gpt-4o-mini");
    EXPECT_EQ(records[1].model, "gpt-4o-mini");
    EXPECT_EQ(records[1].inputTokens, 7);
    EXPECT_EQ(records[1].outputTokens, 8);
    EXPECT_EQ(records[1].cacheReadInputTokens, 9);
    EXPECT_EQ(records[1].sessionId, "openai-gpt-4o-mini");

    EXPECT_EQ(records[2].messageId, "openai:1730505600:o3-mini");
    EXPECT_DOUBLE_EQ(records[2].timestamp, 1730505600.0);
}

// The API counts cached tokens inside input_tokens; pricing takes them apart later, so the
// decoder must not subtract them a second time.
TEST(OpenAIUsageDecode, CachedTokensStayInsideTheInputCount) {
    const auto records = decoded(
        page({bucket(1730419200, {result("m", R"("input_tokens":1000,"input_cached_tokens":1000)")})}));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].inputTokens, 1000);
    EXPECT_EQ(records[0].cacheReadInputTokens, 1000);
}

TEST(OpenAIUsageDecode, SameModelOnTwoDaysDiffersOnlyInTheStartTime) {
    const auto records =
        decoded(page({bucket(1730419200, {result("gpt-4o")}), bucket(1730505600, {result("gpt-4o")})}));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].messageId, "openai:1730419200:gpt-4o");
    EXPECT_EQ(records[1].messageId, "openai:1730505600:gpt-4o");
    EXPECT_EQ(records[0].sessionId, records[1].sessionId);
}

TEST(OpenAIUsageDecode, EveryRecordGetsAFreshId) {
    const std::string body =
        page({bucket(1730419200, {result("a"), result("b")}), bucket(1730505600, {result("a")})});
    std::set<std::string> ids;
    for (int round = 0; round < 2; ++round) {
        for (const UsageRecord& record : decoded(body)) {
            ids.insert(record.id.toString());
        }
    }
    EXPECT_EQ(ids.size(), 6u);
}

TEST(OpenAIUsageDecode, EmptyDataGivesNoRecords) {
    EXPECT_TRUE(decoded(R"({"object":"page","data":[],"has_more":false,"next_page":null})").empty());
}

TEST(OpenAIUsageDecode, AResultWithOnlyAModelCountsZero) {
    const auto records = decoded(R"({"data":[{"start_time":1730419200,"results":[{"model":"m"}]}]})");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].inputTokens, 0);
    EXPECT_EQ(records[0].outputTokens, 0);
    EXPECT_EQ(records[0].cacheReadInputTokens, 0);
    EXPECT_EQ(records[0].messageId, "openai:1730419200:m");
}

TEST(OpenAIUsageDecode, NullCountsCountZero) {
    const auto records = decoded(page({bucket(
        1730419200, {result("m", R"("input_tokens":null,"output_tokens":null,"num_model_requests":null,)"
                                 R"("input_cached_tokens":null)")})}));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].inputTokens, 0);
    EXPECT_EQ(records[0].outputTokens, 0);
    EXPECT_EQ(records[0].cacheReadInputTokens, 0);
}

// The client asks for one page only; the paging members must neither fail nor add records.
TEST(OpenAIUsageDecode, UnknownAndPagingMembersAreIgnored) {
    const auto records = decoded(
        R"({"object":"page","has_more":true,"next_page":"page_AAA","extra":{"nested":[1,2,{"x":null}]},)"
        R"("data":[{"object":"bucket","start_time":1730419200,"end_time":"whenever","future":[true],)"
        R"("results":[{"model":"m","input_tokens":3,"project_id":"proj_1","batch":false,)"
        R"("new_count":"lots","input_audio_tokens":1.5}]}],"last_id":7})");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].model, "m");
    EXPECT_EQ(records[0].inputTokens, 3);
}

// ---- Answers that are not the expected JSON ----

TEST(OpenAIUsageDecodeFailure, BodyThatIsNotJson) {
    for (const std::string_view body :
         {"", "<html>Bad Gateway</html>", R"({"data":[)", "{\"data\":[]} trailing"}) {
        EXPECT_FALSE(failure(body).empty()) << body;
    }
}

TEST(OpenAIUsageDecodeFailure, AnswerThatIsNotAnObject) {
    EXPECT_NE(failure("[]").find("object"), std::string::npos);
}

struct BadAnswer {
    const char* name;
    std::string body;
    const char* member;
};

void PrintTo(const BadAnswer& answer, std::ostream* os) {
    *os << answer.name;
}

class OpenAIUsageBadAnswer : public ::testing::TestWithParam<BadAnswer> {};

TEST_P(OpenAIUsageBadAnswer, FailsNamingTheMember) {
    const BadAnswer& answer = GetParam();
    EXPECT_NE(failure(answer.body).find(answer.member), std::string::npos)
        << "message: " << failure(answer.body);
}

INSTANTIATE_TEST_SUITE_P(
    RequiredMembersAndKinds, OpenAIUsageBadAnswer,
    ::testing::Values(
        BadAnswer{"MissingData", R"({"object":"page","has_more":false})", "data"},
        BadAnswer{"DataIsAnObject", R"({"data":{}})", "data"},
        BadAnswer{"DataIsNull", R"({"data":null})", "data"},
        BadAnswer{"MissingStartTime", R"({"data":[{"end_time":1730505600,"results":[]}]})", "start_time"},
        BadAnswer{"StartTimeIsAString", R"({"data":[{"start_time":"1730419200","results":[]}]})",
                  "start_time"},
        BadAnswer{"StartTimeHasAFraction", R"({"data":[{"start_time":1730419200.5,"results":[]}]})",
                  "start_time"},
        BadAnswer{"MissingResults", R"({"data":[{"start_time":1730419200}]})", "results"},
        BadAnswer{"ResultsIsAnObject", R"({"data":[{"start_time":1730419200,"results":{}}]})", "results"},
        BadAnswer{"MissingModel", page({bucket(1730419200, {R"({"input_tokens":5})"})}), "model"},
        BadAnswer{"ModelIsNull", page({bucket(1730419200, {R"({"model":null})"})}), "model"},
        BadAnswer{"ModelIsANumber", page({bucket(1730419200, {R"({"model":4})"})}), "model"},
        BadAnswer{"InputTokensIsAString", page({bucket(1730419200, {result("m", R"("input_tokens":"5")")})}),
                  "input_tokens"},
        BadAnswer{"InputTokensHasAFraction",
                  page({bucket(1730419200, {result("m", R"("input_tokens":1.5)")})}), "input_tokens"},
        BadAnswer{"OutputTokensIsABoolean",
                  page({bucket(1730419200, {result("m", R"("output_tokens":true)")})}), "output_tokens"},
        BadAnswer{"CachedTokensIsAnArray",
                  page({bucket(1730419200, {result("m", R"("input_cached_tokens":[1])")})}),
                  "input_cached_tokens"},
        BadAnswer{"RequestCountIsAString",
                  page({bucket(1730419200, {result("m", R"("num_model_requests":"3")")})}),
                  "num_model_requests"},
        // A bad result after good ones fails the whole answer rather than giving part of it.
        BadAnswer{"LaterBucketIsBroken",
                  page({bucket(1730419200, {result("m")}), R"({"start_time":"x","results":[]})"}),
                  "data[1].start_time"},
        BadAnswer{"BucketIsNotAnObject", R"({"data":[1730419200]})", "data[0]"},
        BadAnswer{"ResultIsNotAnObject", R"({"data":[{"start_time":1730419200,"results":["m"]}]})",
                  "results[0]"}),
    [](const ::testing::TestParamInfo<BadAnswer>& info) { return std::string(info.param.name); });

} // namespace
} // namespace fernhollow
