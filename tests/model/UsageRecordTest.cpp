#include "model/UsageRecord.h"

#include <gtest/gtest.h>
#include <simdjson.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace fernhollow {
// Internal linkage keeps this printer private to this file while ADL still finds it.
static void PrintTo(const UsageRecord& record, std::ostream* os) {
    *os << "{" << record.id.toString() << ", messageId \"" << record.messageId << "\", timestamp "
        << record.timestamp << ", model \"" << record.model << "\", counts " << record.inputTokens << "/"
        << record.outputTokens << "/" << record.cacheCreationInputTokens << "/"
        << record.cacheCreation1hTokens << "/" << record.cacheReadInputTokens << ", projectPath \""
        << record.projectPath << "\", sessionId \"" << record.sessionId << "\"}";
}
} // namespace fernhollow

namespace {

using fernhollow::appendJson;
using fernhollow::UsageRecord;
using fernhollow::usageRecordFromJson;
using fernhollow::Uuid;
using namespace std::string_literals;

// Each member as it appears in a stored file: key and raw JSON value.
using Members = std::vector<std::pair<std::string, std::string>>;

Members sampleMembers() {
    return {
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
}

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
        if (text.size() > 1) {
            text.push_back(',');
        }
        text += "\"" + key + "\":" + value;
    }
    return text + "}";
}

Members with(Members members, const std::string& key, const std::string& value) {
    for (auto& member : members) {
        if (member.first == key) {
            member.second = value;
            return members;
        }
    }
    ADD_FAILURE() << "no member " << key;
    return members;
}

Members without(Members members, const std::string& key) {
    std::erase_if(members, [&](const auto& member) { return member.first == key; });
    return members;
}

std::optional<UsageRecord> decode(const std::string& json) {
    simdjson::dom::parser parser;
    simdjson::dom::element element;
    if (parser.parse(json).get(element) != simdjson::SUCCESS) {
        ADD_FAILURE() << "not JSON: " << json;
        return std::nullopt;
    }
    return usageRecordFromJson(element);
}

std::string encode(const UsageRecord& record) {
    std::string out;
    appendJson(out, record);
    return out;
}

TEST(UsageRecordJson, StoredMembersDecodeToTheRecord) {
    EXPECT_EQ(decode(objectText(sampleMembers())), sampleRecord());
}

TEST(UsageRecordJson, AppendWritesExactlyTheElevenKeys) {
    const std::string json = encode(sampleRecord());
    simdjson::dom::parser parser;
    simdjson::dom::object object;
    ASSERT_EQ(parser.parse(json).get(object), simdjson::SUCCESS) << json;
    std::set<std::string> keys;
    for (const auto member : object) {
        keys.emplace(member.key);
    }
    std::set<std::string> expected;
    for (const auto& [key, value] : sampleMembers()) {
        expected.insert(key);
    }
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(object.size(), 11u);
}

TEST(UsageRecordJson, AppendKeepsEarlierTextInPlace) {
    std::string out = "[";
    appendJson(out, sampleRecord());
    out.push_back(']');
    simdjson::dom::parser parser;
    simdjson::dom::array array;
    ASSERT_EQ(parser.parse(out).get(array), simdjson::SUCCESS) << out;
    ASSERT_EQ(array.size(), 1u);
    EXPECT_EQ(usageRecordFromJson(array.at(0).value()), sampleRecord());
}

TEST(UsageRecordJson, SlashesAreWrittenEscapedInEveryTextMember) {
    UsageRecord record = sampleRecord();
    record.messageId = "msg/1";
    record.model = "vendor/model";
    record.sessionId = "a/b";
    const std::string json = encode(record);
    EXPECT_NE(json.find(R"("projectPath":"\/Users\/dana\/code\/fernhollow")"), std::string::npos) << json;
    for (std::size_t slash = json.find('/'); slash != std::string::npos; slash = json.find('/', slash + 1)) {
        EXPECT_EQ(json[slash - 1], '\\') << "unescaped slash at " << slash << " in " << json;
    }
    EXPECT_EQ(decode(json), record);
}

TEST(UsageRecordJson, RoundTrips) {
    EXPECT_EQ(decode(encode(sampleRecord())), sampleRecord());
}

TEST(UsageRecordJson, RoundTripsAwkwardText) {
    UsageRecord record = sampleRecord();
    record.messageId = "";
    record.model = "vendor/model \"quoted\" \\ back\tslash";
    record.projectPath = "/tmp/a\0b/\x01\x1f\x7f/Caf\xC3\xA9/\xF0\x9F\x98\x80/\r\n"s;
    record.sessionId = "\\/ already escaped? \\u0041";
    EXPECT_EQ(decode(encode(record)), record);
}

TEST(UsageRecordJson, RoundTripsExtremeCounts) {
    UsageRecord record = sampleRecord();
    record.inputTokens = std::numeric_limits<std::int64_t>::max();
    record.outputTokens = std::numeric_limits<std::int64_t>::min();
    record.cacheCreationInputTokens = -1;
    record.cacheCreation1hTokens = 0;
    record.cacheReadInputTokens = 1;
    EXPECT_EQ(decode(encode(record)), record);
}

TEST(UsageRecordJson, RoundTripsTimestampsAcrossTheEpoch) {
    for (const double timestamp : {0.0, -1.0, -86400.0 * 365, 951782400.0, 4102444799.0}) {
        SCOPED_TRACE(timestamp);
        UsageRecord record = sampleRecord();
        record.timestamp = timestamp;
        EXPECT_EQ(decode(encode(record)), record);
    }
}

TEST(UsageRecordJson, TimestampIsTruncatedToWholeSeconds) {
    UsageRecord record = sampleRecord();
    record.timestamp = 1762351407.9;
    const auto decoded = decode(encode(record));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_NE(*decoded, record);
    EXPECT_EQ(decoded->timestamp, 1762351407.0);
    record.timestamp = 1762351407.0;
    EXPECT_EQ(*decoded, record);
}

TEST(UsageRecordJson, FractionalTimestampBeforeTheEpochRoundsDown) {
    UsageRecord record = sampleRecord();
    record.timestamp = -1.5;
    const auto decoded = decode(encode(record));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->timestamp, -2.0);
}

TEST(UsageRecordJson, EmptyMessageIdIsValid) {
    const auto decoded = decode(objectText(with(sampleMembers(), "messageId", R"("")")));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->messageId, "");
}

TEST(UsageRecordJson, SlashEscapesAndUnicodeEscapesDecode) {
    Members members = sampleMembers();
    members = with(members, "projectPath", R"("\/home\/dana\/caf\u00e9")");
    members = with(members, "model", R"("vendor\/model")");
    const auto decoded = decode(objectText(members));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->projectPath, "/home/dana/caf\xC3\xA9");
    EXPECT_EQ(decoded->model, "vendor/model");
}

TEST(UsageRecordJson, UnescapedSlashesDecodeToo) {
    const auto decoded =
        decode(objectText(with(sampleMembers(), "projectPath", R"("/Users/dana/code/fernhollow")")));
    EXPECT_EQ(decoded, sampleRecord());
}

// Files written by a later version may carry extra members; they are skipped, not refused.
TEST(UsageRecordJson, UnknownKeysAreIgnored) {
    Members members = sampleMembers();
    members.emplace_back("costUSD", "0.42");
    members.insert(members.begin(), {"Id", R"("not a uuid")"});
    members.emplace_back("extra", R"({"nested":[1,2,3]})");
    EXPECT_EQ(decode(objectText(members)), sampleRecord());
}

TEST(UsageRecordJson, TextOverloadAgreesWithTheElementOne) {
    const std::string json = objectText(sampleMembers());
    EXPECT_EQ(usageRecordFromJson(std::string_view(json)), sampleRecord());
    EXPECT_EQ(usageRecordFromJson(std::string_view(encode(sampleRecord()))), sampleRecord());
    EXPECT_EQ(usageRecordFromJson(std::string_view(objectText(without(sampleMembers(), "sessionId")))),
              std::nullopt);
}

TEST(UsageRecordJson, TextOverloadRefusesTextThatIsNotOneJsonValue) {
    const std::string json = objectText(sampleMembers());
    for (const std::string& text : {json.substr(0, json.size() - 1), json + "}", json + json, ""s, "  "s}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(usageRecordFromJson(std::string_view(text)), std::nullopt);
    }
}

// A member that appears twice must not let a bad value hide behind a good one.
TEST(UsageRecordJsonStrict, ABadDuplicateMemberFailsTheRecord) {
    for (const auto& [key, bad] : std::vector<std::pair<std::string, std::string>>{
             {"inputTokens", R"("1200")"},
             {"id", R"("6f1d2c3b-4a59-4e87-9c6b-5a4d3e2f1a0b")"},
             {"timestamp", R"("2025-11-05T14:03:27.5Z")"},
             {"model", "null"},
         }) {
        SCOPED_TRACE(key);
        Members badFirst = sampleMembers();
        badFirst.insert(badFirst.begin(), {key, bad});
        EXPECT_EQ(decode(objectText(badFirst)), std::nullopt);
        Members badLast = sampleMembers();
        badLast.emplace_back(key, bad);
        EXPECT_EQ(decode(objectText(badLast)), std::nullopt);
    }
}

TEST(UsageRecordJsonStrict, EveryKeyIsRequired) {
    for (const auto& [key, value] : sampleMembers()) {
        SCOPED_TRACE(key);
        EXPECT_EQ(decode(objectText(without(sampleMembers(), key))), std::nullopt);
    }
}

TEST(UsageRecordJsonStrict, KeysAreMatchedCaseSensitively) {
    Members members = sampleMembers();
    for (auto& member : members) {
        if (member.first == "cacheCreation1hTokens") {
            member.first = "cacheCreation1HTokens";
        }
    }
    EXPECT_EQ(decode(objectText(members)), std::nullopt);
}

TEST(UsageRecordJsonStrict, CountsMustBeInt64Literals) {
    const std::vector<std::string> countKeys = {"inputTokens", "outputTokens", "cacheCreationInputTokens",
                                                "cacheCreation1hTokens", "cacheReadInputTokens"};
    const std::vector<std::string> badValues = {
        R"("1200")", "1.5",  "1.0", "1e3", "9223372036854775808", "18446744073709551615",
        "null",      "true", "[1]",
    };
    for (const auto& key : countKeys) {
        for (const auto& value : badValues) {
            SCOPED_TRACE(key + ": " + value);
            EXPECT_EQ(decode(objectText(with(sampleMembers(), key, value))), std::nullopt);
        }
    }
}

TEST(UsageRecordJsonStrict, Int64BoundsAreAccepted) {
    Members members = sampleMembers();
    members = with(members, "inputTokens", "9223372036854775807");
    members = with(members, "outputTokens", "-9223372036854775808");
    const auto decoded = decode(objectText(members));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->inputTokens, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(decoded->outputTokens, std::numeric_limits<std::int64_t>::min());
}

TEST(UsageRecordJsonStrict, IdMustBeCanonicalUuidText) {
    for (const std::string value : {
             R"("6f1d2c3b-4a59-4e87-9c6b-5a4d3e2f1a0b")",
             R"("6F1D2C3B-4A59-4E87-9C6B-5A4D3E2F1A0b")",
             R"("6F1D2C3B4A594E879C6B5A4D3E2F1A0B")",
             R"("{6F1D2C3B-4A59-4E87-9C6B-5A4D3E2F1A0B}")",
             R"(" 6F1D2C3B-4A59-4E87-9C6B-5A4D3E2F1A0B")",
             R"("")",
             "null",
             "42",
         }) {
        SCOPED_TRACE(value);
        EXPECT_EQ(decode(objectText(with(sampleMembers(), "id", value))), std::nullopt);
    }
}

TEST(UsageRecordJsonStrict, TimestampMustBeUtcWholeSeconds) {
    for (const std::string value : {
             R"("2025-11-05T14:03:27.000Z")",
             R"("2025-11-05T14:03:27.5Z")",
             R"("2025-11-05T14:03:27+00:00")",
             R"("2025-11-05T14:03:27")",
             R"("2025-11-05T14:03:27z")",
             R"("2025-11-05 14:03:27Z")",
             R"("2025-02-30T14:03:27Z")",
             "1762351407",
             "null",
         }) {
        SCOPED_TRACE(value);
        EXPECT_EQ(decode(objectText(with(sampleMembers(), "timestamp", value))), std::nullopt);
    }
}

TEST(UsageRecordJsonStrict, TextMembersMustBeStrings) {
    for (const std::string key : {"messageId", "model", "projectPath", "sessionId"}) {
        for (const std::string value : {"5", "null", "[]", "{}", "false"}) {
            SCOPED_TRACE(key + ": " + value);
            EXPECT_EQ(decode(objectText(with(sampleMembers(), key, value))), std::nullopt);
        }
    }
}

TEST(UsageRecordJsonStrict, NonObjectsAreRefused) {
    for (const std::string& json :
         {"[]"s, "null"s, "42"s, R"("record")"s, "[" + objectText(sampleMembers()) + "]"}) {
        SCOPED_TRACE(json);
        EXPECT_EQ(decode(json), std::nullopt);
    }
}

TEST(UsageRecordEquality, RecordsDifferingOnlyInIdAreUnequal) {
    UsageRecord other = sampleRecord();
    other.id = Uuid{other.id.high, other.id.low ^ 1};
    EXPECT_NE(other, sampleRecord());
}

TEST(UsageRecordHash, EqualRecordsHashEqual) {
    const std::hash<UsageRecord> hash;
    EXPECT_EQ(hash(sampleRecord()), hash(sampleRecord()));
    const auto decoded = decode(encode(sampleRecord()));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(hash(*decoded), hash(sampleRecord()));
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

TEST(UsageRecordHash, EveryFieldContributes) {
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
    const std::hash<UsageRecord> hash;
    const std::size_t original = hash(sampleRecord());
    for (const auto& [name, change] : changes) {
        SCOPED_TRACE(name);
        UsageRecord changed = sampleRecord();
        change(changed);
        ASSERT_NE(changed, sampleRecord());
        EXPECT_NE(hash(changed), original);
    }
}

} // namespace
