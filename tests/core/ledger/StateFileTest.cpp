#include "core/ledger/StateFile.h"

#include "support/TempTree.h"

#include <gtest/gtest.h>

namespace fernhollow {
namespace {

using test::TempTree;

UsageRecord record(std::string messageId, double timestamp, std::int64_t output = 20) {
    return UsageRecord{
        Uuid::random(), std::move(messageId), timestamp,      "claude-sonnet-4-5", 10, output, 300, 100,
        4000,           "-home-dev-alpha",    "0a1b2c3d-1111"};
}

PersistedState snapshot(int records, std::int64_t marker) {
    PersistedState state;
    for (int i = 0; i < records; ++i) {
        state.records.push_back(record("msg_" + std::to_string(i), 1762351407.0 + i, marker));
    }
    state.fileMtimes["/home/dev/.claude/projects/p/s.jsonl"] = 1762351407.25;
    state.fileMtimes["/home/dev/.claude/projects/p/t.jsonl"] = static_cast<double>(marker);
    return state;
}

std::string readFile(const std::filesystem::path& path) {
    return test::readFile(path).value_or("");
}

// Files of earlier versions may escape slashes or not, order the members as they please, and
// hold members this one does not know (a differently cased key is one).
TEST(StateFileFormat, ReadsFilesOfEarlierVersions) {
    const std::string recordJson =
        R"({"sessionId":"s","Id":"x","id":"6F1D2C3B-4A59-4E87-9C6B-5A4D3E2F1A0B","messageId":"m","costUSD":0.4,)"
        R"("timestamp":"2025-03-01T14:05:09Z","model":"x","inputTokens":1,"outputTokens":2,)"
        R"("cacheCreationInputTokens":3,"cacheCreation1hTokens":0,"cacheReadInputTokens":4,"projectPath":"a\/b"})";
    const auto state =
        decodeState(R"({"schemaVersion":3,"fileMtimes":{"\/x\/y.jsonl":1,"/x/z.jsonl":2.5},"records":[)" +
                    recordJson + "," + recordJson + "]}");
    ASSERT_TRUE(state);
    EXPECT_EQ(state->records.size(), 2u);
    EXPECT_EQ(state->records.at(0).projectPath, "a/b");
    EXPECT_EQ(state->fileMtimes, (FileTimes{{"/x/y.jsonl", 1.0}, {"/x/z.jsonl", 2.5}}));
}

TEST(StateFileFormat, LargeCachesRoundTripWhateverTheirStringsHold) {
    // Large enough to be read in several chunks; some strings look like record seams.
    PersistedState state = snapshot(30'000, 7);
    state.records[100].messageId = R"(},{"id":"x)";
    state.records[20'000].projectPath = "},{\"id\":\"";
    state.records[29'999].sessionId = "tail ],\"fileMtimes\":{";
    const std::string bytes = encodeState(state);
    ASSERT_GT(bytes.size(), 8u << 20);
    EXPECT_EQ(decodeState(bytes), state);
}

TEST(StateFileFormat, RefusesTheWholeDocumentForAnyFault) {
    const std::string good = encodeState(snapshot(2, 1));
    ASSERT_TRUE(decodeState(good));
    const std::pair<std::string_view, std::string_view> faults[] = {
        {"\"records\":", "\"recs\":"},
        {"\"fileMtimes\":", "\"mtimes\":"},
        {"\"schemaVersion\":3", "\"schemaVersion\":\"3\""},
        {"14:03:28Z", "14:03:28.250Z"},
        {"\"cacheCreation1hTokens\":100,", ""},
        {"\"inputTokens\":10,", "\"inputTokens\":1.0,"},
        {"\"inputTokens\":10,", "\"inputTokens\":10,\"inputTokens\":\"10\","},
        {"\"model\":\"claude-sonnet-4-5\"", "\"model\":null"},
        {"\"id\":\"", "\"id\":\"+"},
        {":1762351407.25", ":\"1762351407.25\""},
        {R"(},{"id":")", R"(},,{"id":")"},
        {"}", ""},
    };
    for (const auto& [from, to] : faults) {
        std::string bytes = good;
        bytes.replace(bytes.rfind(from), from.size(), to);
        EXPECT_FALSE(decodeState(bytes)) << from << " -> " << to;
    }
    EXPECT_FALSE(decodeState(good + "x"));
    EXPECT_FALSE(decodeState(""));
}

TEST(StateFileLoading, IgnoresOtherSchemaVersionsAndDamagedFilesWithoutTouchingThem) {
    TempTree tree;
    const auto path = tree / "state.json";
    EXPECT_FALSE(loadStateFile(path));
    PersistedState old = snapshot(1, 1);
    old.schemaVersion = 2;
    tree.write("state.json", encodeState(old));
    EXPECT_FALSE(loadStateFile(path));
    tree.write("state.json", "{not json");
    EXPECT_FALSE(loadStateFile(path));
    EXPECT_EQ(readFile(path), "{not json");
    tree.write("state.json", encodeState(snapshot(2, 1)));
    EXPECT_EQ(loadStateFile(path)->records.size(), 2u);
}

} // namespace
} // namespace fernhollow
