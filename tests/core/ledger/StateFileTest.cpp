#include "core/ledger/StateFile.h"

#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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

// A log path that is not text is left out: JSON cannot hold it, and the next run only reads
// that log again.
TEST(StateFileFormat, RoundTripsWithTimesCutToTheWholeSecondAndTextPathsOnly) {
    PersistedState state = snapshot(3, 1);
    state.records[0].timestamp = 1762351407.75;
    const std::string oddPath = "/home/dev/.claude/projects/p\xFF/s.jsonl";
    state.fileMtimes[oddPath] = 1762351407.0;
    const auto decoded = decodeState(encodeState(state));
    state.records[0].timestamp = 1762351407.0;
    state.fileMtimes.erase(oddPath);
    EXPECT_EQ(decoded, state);
}

TEST(StateFileFormat, WritesCompactJsonWithEscapedSlashes) {
    const std::string bytes = encodeState(snapshot(1, 1));
    EXPECT_EQ(bytes.find('\n'), std::string::npos);
    EXPECT_NE(bytes.find(R"("\/home\/dev\/.claude\/projects\/p\/s.jsonl":1762351407.25)"), std::string::npos);
    EXPECT_NE(bytes.find(R"("schemaVersion":3})"), std::string::npos);
    EXPECT_NE(bytes.find(R"("timestamp":"2025-11-05T14:03:27Z")"), std::string::npos);
}

TEST(StateFileFormat, ReadsSlashesEscapedOrNot) {
    const std::string id = Uuid::random().toString();
    const std::string recordJson =
        R"({"id":")" + id +
        R"(","messageId":"m","timestamp":"2025-03-01T14:05:09Z","model":"x","inputTokens":1,"outputTokens":2,)"
        R"("cacheCreationInputTokens":3,"cacheCreation1hTokens":0,"cacheReadInputTokens":4,"projectPath":"a\/b","sessionId":"s"})";
    const auto state =
        decodeState(R"({"schemaVersion":3,"fileMtimes":{"\/x\/y.jsonl":1,"/x/z.jsonl":2.5},"records":[)" +
                    recordJson + "]}");
    ASSERT_TRUE(state);
    EXPECT_EQ(state->records.at(0).projectPath, "a/b");
    EXPECT_EQ(state->fileMtimes.at("/x/y.jsonl"), 1.0);
    EXPECT_EQ(state->fileMtimes.at("/x/z.jsonl"), 2.5);
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

TEST(StateFileFormat, ReadsMembersInAnyOrder) {
    const PersistedState state = snapshot(2, 1);
    const std::string bytes = encodeState(state);
    const std::size_t tail = bytes.find(R"(],"fileMtimes")");
    const std::string records = bytes.substr(std::string_view(R"({"records":)").size(),
                                             tail + 1 - std::string_view(R"({"records":)").size());
    const std::string reordered =
        "{" + bytes.substr(tail + 2, bytes.size() - tail - 3) + ",\"records\":" + records + "}";
    EXPECT_EQ(decodeState(reordered), state);
}

TEST(StateFileFormat, RefusesTheWholeDocumentForAnyFault) {
    const std::string good = encodeState(snapshot(2, 1));
    ASSERT_TRUE(decodeState(good));
    const std::pair<std::string_view, std::string_view> faults[] = {
        {"\"records\":", "\"recs\":"},
        {"\"fileMtimes\":", "\"mtimes\":"},
        {"\"schemaVersion\":3", "\"schemaVersion\":\"3\""},
        {"\"schemaVersion\":3", "\"schemaVersion\":3.0"},
        {"14:03:28Z", "14:03:28.250Z"},
        {"\"cacheCreation1hTokens\":100,", ""},
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
