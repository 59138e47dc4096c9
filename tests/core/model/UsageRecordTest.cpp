#include "core/model/UsageRecord.h"

#include <gtest/gtest.h>
#include <simdjson.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace fernhollow {
// Internal linkage keeps this printer private to this file while ADL still finds it.
static void PrintTo(const UsageRecord& r, std::ostream* os) {
    *os << "{" << r.id.toString() << ", \"" << r.messageId << "\", " << r.timestamp << ", \"" << r.model
        << "\", " << r.inputTokens << "/" << r.outputTokens << "/" << r.cacheCreationInputTokens << "/"
        << r.cacheCreation1hTokens << "/" << r.cacheReadInputTokens << ", \"" << r.projectPath << "\", \""
        << r.sessionId << "\"}";
}
} // namespace fernhollow

namespace {

using fernhollow::appendJson;
using fernhollow::UsageRecord;
using fernhollow::usageRecordFromJson;
using fernhollow::Uuid;
using namespace std::string_literals;

// Each member as it appears in a stored file, in the order the writer puts them.
using Members = std::vector<std::pair<std::string, std::string>>;
const Members sampleMembers = {
    {"id", R"("6F1D2C3B-4A59-4E87-9C6B-5A4D3E2F1A0B")"},
    {"messageId", R"("msg_01XFDUDYJgAACzvnptvVoYEL")"},
    {"timestamp", R"("2025-11-05T14:03:27Z")"},
    {"model", R"("claude-sonnet-4-5-20250929")"},
    {"inputTokens", "1200"},
    {"outputTokens", "345"},
    {"cacheCreationInputTokens", "5000"},
    {"cacheCreation1hTokens", "2000"},
    {"cacheReadInputTokens", "80000"},
    {"projectPath", R"("\/Users\/dana\/code\/fernhollow")"},
    {"sessionId", R"("4c1b2a3d-0000-4000-8000-000000000001")"},
};

UsageRecord sampleRecord() {
    return UsageRecord{Uuid{0x6F1D2C3B4A594E87, 0x9C6B5A4D3E2F1A0B},
                       "msg_01XFDUDYJgAACzvnptvVoYEL",
                       1762351407.0,
                       "claude-sonnet-4-5-20250929",
                       1200,
                       345,
                       5000,
                       2000,
                       80000,
                       "/Users/dana/code/fernhollow",
                       "4c1b2a3d-0000-4000-8000-000000000001"};
}

std::string objectText(const Members& members) {
    std::string text = "{";
    for (const auto& [key, value] : members) {
        text += (text.size() > 1 ? ",\"" : "\"") + key + "\":" + value;
    }
    return text + "}";
}

// The sample with one member's value replaced, or removed when `value` is empty.
std::string sampleWith(const std::string& key, const std::string& value) {
    Members members;
    for (const auto& member : sampleMembers) {
        if (member.first != key) {
            members.push_back(member);
        } else if (!value.empty()) {
            members.emplace_back(key, value);
        }
    }
    return objectText(members);
}

// Decodes through both overloads, which must agree.
std::optional<UsageRecord> decode(const std::string& json) {
    simdjson::dom::parser parser;
    simdjson::dom::element element;
    if (parser.parse(json).get(element) != simdjson::SUCCESS) {
        ADD_FAILURE() << "not JSON: " << json;
        return std::nullopt;
    }
    auto decoded = usageRecordFromJson(element);
    EXPECT_EQ(usageRecordFromJson(std::string_view(json)), decoded) << json;
    return decoded;
}

std::string encode(const UsageRecord& record) {
    std::string out;
    appendJson(out, record);
    return out;
}

TEST(UsageRecordJson, AppendWritesTheStoredFormAfterEarlierText) {
    std::string out = "[";
    appendJson(out, sampleRecord());
    EXPECT_EQ(out, "[" + objectText(sampleMembers));
}

TEST(UsageRecordJson, StoredFormDecodesWithOrWithoutEscapesAndSkipsUnknownKeys) {
    EXPECT_EQ(decode(objectText(sampleMembers)), sampleRecord());
    EXPECT_EQ(decode(sampleWith("projectPath", R"("/Users/dana/code/fernhollow")")), sampleRecord());
    // Files written by a later version may carry extra members; a differently cased key is one.
    Members extra = sampleMembers;
    extra.insert(extra.begin(), {"Id", R"("not a uuid")"});
    extra.emplace_back("costUSD", "0.42");
    extra.emplace_back("extra", R"({"nested":[1,2,3]})");
    EXPECT_EQ(decode(objectText(extra)), sampleRecord());

    const auto decoded = decode(sampleWith("projectPath", R"("\/home\/dana\/caf\u00e9")"));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->projectPath, "/home/dana/caf\xC3\xA9");
}

// Every '/' is written as "\/", the convention of the files ours must stay interchangeable with.
TEST(UsageRecordJson, AwkwardTextAndExtremeCountsRoundTrip) {
    UsageRecord awkward = sampleRecord();
    awkward.messageId = "msg/1";
    awkward.model = "vendor/model \"quoted\" \\ back\tslash";
    awkward.projectPath = "/tmp/a\0b/\x01\x1f\x7f/Caf\xC3\xA9/\xF0\x9F\x98\x80/\r\n"s;
    awkward.sessionId = "a/b \\/ already escaped? \\u0041";
    UsageRecord extreme = sampleRecord();
    extreme.messageId = "";
    extreme.inputTokens = std::numeric_limits<std::int64_t>::max();
    extreme.outputTokens = std::numeric_limits<std::int64_t>::min();
    extreme.cacheCreationInputTokens = -1;
    extreme.cacheCreation1hTokens = 0;
    for (const UsageRecord& record : {awkward, extreme}) {
        const std::string json = encode(record);
        EXPECT_EQ(json.find("msg/1"), std::string::npos) << json;
        EXPECT_EQ(decode(json), record);
    }
}

TEST(UsageRecordJsonStrict, EveryKeyIsRequiredWithItsExactKind) {
    for (const auto& [key, value] : sampleMembers) {
        EXPECT_EQ(decode(sampleWith(key, "")), std::nullopt) << key;
    }
    std::vector<std::pair<std::string, std::string>> refused;
    for (const char* value : {R"("6f1d2c3b-4a59-4e87-9c6b-5a4d3e2f1a0b")", "42"}) {
        refused.emplace_back("id", value);
    }
    for (const char* value :
         {R"("2025-11-05T14:03:27.000Z")", R"("2025-11-05T14:03:27+00:00")", "1762351407"}) {
        refused.emplace_back("timestamp", value);
    }
    for (const char* key : {"messageId", "model", "projectPath", "sessionId"}) {
        for (const char* value : {"5", "null"}) {
            refused.emplace_back(key, value);
        }
    }
    // Only an int64 literal is a count.
    for (const char* key : {"inputTokens", "outputTokens", "cacheCreationInputTokens",
                            "cacheCreation1hTokens", "cacheReadInputTokens"}) {
        for (const char* value : {R"("1200")", "1.0", "1e3", "9223372036854775808", "null"}) {
            refused.emplace_back(key, value);
        }
    }
    for (const auto& [key, value] : refused) {
        EXPECT_EQ(decode(sampleWith(key, value)), std::nullopt) << key << ": " << value;
    }
}

// A member that appears twice must not let a bad value hide behind a good one.
TEST(UsageRecordJsonStrict, ABadDuplicateMemberFailsTheRecord) {
    for (const auto& [key, bad] : std::vector<std::pair<std::string, std::string>>{
             {"inputTokens", R"("1200")"}, {"timestamp", R"("2025-11-05T14:03:27.5Z")"}}) {
        Members badFirst = sampleMembers;
        badFirst.insert(badFirst.begin(), {key, bad});
        EXPECT_EQ(decode(objectText(badFirst)), std::nullopt) << key;
        Members badLast = sampleMembers;
        badLast.emplace_back(key, bad);
        EXPECT_EQ(decode(objectText(badLast)), std::nullopt) << key;
    }
}

TEST(UsageRecordJsonStrict, AnythingButOneObjectIsRefused) {
    const std::string json = objectText(sampleMembers);
    for (const std::string& text : {"[]"s, "null"s, "42"s, R"("record")"s, "[" + json + "]"}) {
        EXPECT_EQ(decode(text), std::nullopt) << text;
    }
    for (const std::string& text : {json.substr(0, json.size() - 1), json + "}", json + json, ""s, "  "s}) {
        EXPECT_EQ(usageRecordFromJson(std::string_view(text)), std::nullopt) << text;
    }
}

TEST(UsageRecordHash, EqualRecordsHashEqualAndEveryFieldContributes) {
    const std::hash<UsageRecord> hash;
    const std::size_t original = hash(sampleRecord());
    const auto decoded = decode(encode(sampleRecord()));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(hash(*decoded), original);

    const std::vector<std::pair<std::string, std::function<void(UsageRecord&)>>> changes = {
        {"id.high", [](UsageRecord& r) { r.id.high ^= 1; }},
        {"id.low", [](UsageRecord& r) { r.id.low ^= std::uint64_t{1} << 63; }},
        {"messageId", [](UsageRecord& r) { r.messageId += "x"; }},
        {"timestamp", [](UsageRecord& r) { r.timestamp += 1.0; }},
        {"model", [](UsageRecord& r) { r.model = "claude-sonnet-4-5"; }},
        {"inputTokens", [](UsageRecord& r) { ++r.inputTokens; }},
        {"outputTokens", [](UsageRecord& r) { ++r.outputTokens; }},
        {"cacheCreationInputTokens", [](UsageRecord& r) { ++r.cacheCreationInputTokens; }},
        {"cacheCreation1hTokens", [](UsageRecord& r) { ++r.cacheCreation1hTokens; }},
        {"cacheReadInputTokens", [](UsageRecord& r) { ++r.cacheReadInputTokens; }},
        {"projectPath", [](UsageRecord& r) { r.projectPath = r.projectPath.str() + "/sub"; }},
        {"sessionId", [](UsageRecord& r) { r.sessionId = ""; }},
        {"input and output swapped", [](UsageRecord& r) { std::swap(r.inputTokens, r.outputTokens); }},
        {"projectPath and sessionId swapped", [](UsageRecord& r) { std::swap(r.projectPath, r.sessionId); }},
    };
    for (const auto& [name, change] : changes) {
        UsageRecord changed = sampleRecord();
        change(changed);
        ASSERT_NE(changed, sampleRecord()) << name;
        EXPECT_NE(hash(changed), original) << name;
    }
}

// 0.0 and -0.0 compare equal, so they must hash alike or a set would hold the record twice.
TEST(UsageRecordHash, SignedZeroTimestampsHashEqual) {
    UsageRecord positive = sampleRecord();
    positive.timestamp = 0.0;
    UsageRecord negative = sampleRecord();
    negative.timestamp = -0.0;
    ASSERT_EQ(positive, negative);
    EXPECT_EQ(std::hash<UsageRecord>{}(positive), std::hash<UsageRecord>{}(negative));
}

} // namespace
