#include "core/sources/OpenAIUsage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
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
           R"(","batch":null,"input_audio_tokens":1.5,"output_audio_tokens":0,"new_count":"lots"})";
}

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) {
        text += (text.empty() ? "" : ",") + part;
    }
    return text;
}

std::string bucket(long long startTime, const std::vector<std::string>& results) {
    return R"({"object":"bucket","start_time":)" + std::to_string(startTime) +
           R"(,"end_time":"whenever","future":[true],"results":[)" + joined(results) + "]}";
}

std::string page(const std::vector<std::string>& buckets) {
    return R"({"object":"page","data":[)" + joined(buckets) +
           R"(],"has_more":true,"next_page":"page_AAA","extra":{"nested":[1,2,{"x":null}]},"last_id":7})";
}

std::vector<UsageRecord> decoded(std::string_view body) {
    auto answer = decodeUsage(body);
    if (const auto* failure = std::get_if<DecodeFailure>(&answer)) {
        ADD_FAILURE() << "unexpected decode failure: " << failure->message;
        return {};
    }
    return std::get<std::vector<UsageRecord>>(std::move(answer));
}

// Everything but the random id, in a form gtest prints readably.
using Fields = std::tuple<std::string, double, std::string, std::int64_t, std::int64_t, std::int64_t,
                          std::int64_t, std::int64_t, std::string, std::string>;
Fields fields(const UsageRecord& r) {
    return {r.messageId,
            r.timestamp,
            r.model,
            r.inputTokens,
            r.outputTokens,
            r.cacheCreationInputTokens,
            r.cacheCreation1hTokens,
            r.cacheReadInputTokens,
            r.projectPath,
            r.sessionId};
}

// Cached tokens are inside input_tokens and pricing takes them apart, so the decoder must not.
// Members the decoder does not read, paging ones included, neither fail nor add records.
TEST(OpenAIUsageDecode, OneRecordPerResultInAnswerOrder) {
    const auto records = decoded(page(
        {bucket(1730419200,
                {result("gpt-4o-2024-08-06"),
                 result("gpt-4o-mini", R"("input_tokens":7,"output_tokens":8,"input_cached_tokens":9)")}),
         bucket(1730505600,
                {result("gpt-4o-2024-08-06", R"("input_tokens":null,"output_tokens":null,)"
                                             R"("num_model_requests":null,"input_cached_tokens":null)"),
                 R"({"model":"m"})"}),
         bucket(1730592000, {})}));
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(fields(records[0]),
              (Fields{"openai:1730419200:gpt-4o-2024-08-06", 1730419200.0, "gpt-4o-2024-08-06", 1000, 500, 0,
                      0, 400, "openai", "openai-gpt-4o-2024-08-06"}));
    EXPECT_EQ(fields(records[1]), (Fields{"openai:1730419200:gpt-4o-mini", 1730419200.0, "gpt-4o-mini", 7, 8,
                                          0, 0, 9, "openai", "openai-gpt-4o-mini"}));
    EXPECT_EQ(fields(records[2]),
              (Fields{"openai:1730505600:gpt-4o-2024-08-06", 1730505600.0, "gpt-4o-2024-08-06", 0, 0, 0, 0, 0,
                      "openai", "openai-gpt-4o-2024-08-06"}));
    EXPECT_EQ(fields(records[3]),
              (Fields{"openai:1730505600:m", 1730505600.0, "m", 0, 0, 0, 0, 0, "openai", "openai-m"}));
    EXPECT_TRUE(decoded(R"({"object":"page","data":[],"has_more":false,"next_page":null})").empty());
}

// The message is shown to the user and must name what was wrong, and where.
TEST(OpenAIUsageDecode, AnswerOfTheWrongShapeFailsNamingTheMember) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "JSON"},
        {R"({"data":[)", "JSON"},
        {"{\"data\":[]} trailing", "JSON"},
        {"[]", "object"},
        {R"({"object":"page","has_more":false})", "data"},
        {R"({"data":{}})", "data"},
        {R"({"data":[{"end_time":1730505600,"results":[]}]})", "start_time"},
        {R"({"data":[{"start_time":"1730419200","results":[]}]})", "start_time"},
        {R"({"data":[{"start_time":1730419200.5,"results":[]}]})", "start_time"},
        {R"({"data":[{"start_time":1730419200}]})", "results"},
        {R"({"data":[{"start_time":1730419200,"results":{}}]})", "results"},
        {page({bucket(1730419200, {R"({"input_tokens":5})"})}), "model"},
        {page({bucket(1730419200, {R"({"model":4})"})}), "model"},
        {page({bucket(1730419200, {result("m", R"("input_tokens":"5")")})}), "input_tokens"},
        {page({bucket(1730419200, {result("m", R"("input_tokens":1.5)")})}), "input_tokens"},
        {page({bucket(1730419200, {result("m", R"("output_tokens":true)")})}), "output_tokens"},
        {page({bucket(1730419200, {result("m", R"("input_cached_tokens":[1])")})}), "input_cached_tokens"},
        {page({bucket(1730419200, {result("m", R"("num_model_requests":"3")")})}), "num_model_requests"},
        // A bad bucket after good ones fails the whole answer rather than giving part of it.
        {page({bucket(1730419200, {result("m")}), R"({"start_time":"x","results":[]})"}),
         "data[1].start_time"},
        {R"({"data":[1730419200]})", "data[0]"},
        {R"({"data":[{"start_time":1730419200,"results":["m"]}]})", "results[0]"},
    };
    for (const auto& [body, member] : cases) {
        const auto answer = decodeUsage(body);
        const auto* failure = std::get_if<DecodeFailure>(&answer);
        ASSERT_NE(failure, nullptr) << body;
        EXPECT_NE(failure->message.find(member), std::string::npos)
            << body << "\nmessage: " << failure->message;
    }
}

} // namespace
} // namespace fernhollow
