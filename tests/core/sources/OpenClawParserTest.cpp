#include "core/sources/OpenClawParser.h"

#include "support/TempTree.h"
#include "support/WithEnv.h"

#include <gtest/gtest.h>

#include <map>

namespace fernhollow {
namespace {

using test::TempTree;

const std::filesystem::path fixtureRoot = std::filesystem::path(FERNHOLLOW_TEST_DATA_DIR) / "openclaw-agents";

std::string assistant(std::string_view eventId, std::string_view usage, std::string_view extra = "",
                      std::string_view timestamp = "2026-01-05T10:00:00.000Z") {
    return R"({"type":"message","id":")" + std::string(eventId) + R"(","timestamp":")" +
           std::string(timestamp) + R"(","message":{"role":"assistant","model":"m")" + std::string(extra) +
           R"(,"usage":)" + std::string(usage) + "}}\n";
}

std::vector<UsageRecord> parseOne(std::string_view content) {
    const TempTree tree;
    return OpenClawParser::parseFile(tree.write("agents/main/sessions/s.jsonl", content), "main");
}

TEST(OpenClawLine, ReadsAnAssistantMessageWithEitherCountNames) {
    const auto records = parseOne(
        assistant("e1", R"({"input":10,"input_tokens":99,"output":2,"cacheWrite":3,"cacheRead":4})") +
        assistant("e2", R"({"input_tokens":99,"output_tokens":5,"cache_creation_input_tokens":6,)"
                        R"("cache_read_input_tokens":7,"cache_creation":{"ephemeral_1h_input_tokens":6}})") +
        assistant("e3", R"({"input":"ten","input_tokens":11})"));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].inputTokens, 10);
    EXPECT_EQ(records[0].outputTokens, 2);
    EXPECT_EQ(records[0].cacheCreationInputTokens, 3);
    EXPECT_EQ(records[0].cacheReadInputTokens, 4);
    EXPECT_EQ(records[1].inputTokens, 99);
    EXPECT_EQ(records[1].cacheCreation1hTokens, 6);
    EXPECT_EQ(records[2].inputTokens, 11);
    EXPECT_EQ(records[0].projectPath, "openclaw/main");
    EXPECT_EQ(records[0].sessionId, "s");
    EXPECT_DOUBLE_EQ(records[0].timestamp, 1767607200.0);
}

TEST(OpenClawLine, CountsOnlyAssistantMessagesWithUsage) {
    const auto records = parseOne(
        R"({"type":"assistant","message":{"usage":{"input":1}}})"
        "\n"
        R"({"type":"assistant","message":{"role":"user","usage":{"input":1}}})"
        "\n"
        R"({"type":"message","message":{"role":"assistant"}})"
        "\n"
        R"({"type":"assistant","usage":{"input":1}})"
        "\n"
        R"({"type":"message","message":{"role":"assistant","usage":{"cache_creation":{"ephemeral_1h_input_tokens":9}}}})"
        "\n"
        R"({"type":"message","message":{"role":"assistant","usage":{"input":9223372036854775807,"output":1}}})"
        "\n");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].model, "unknown");
    EXPECT_EQ(records[0].messageId, "");
}

// Without an id of its own a message takes the line's response id, else its event's.
TEST(OpenClawLine, FallsBackForModelIdAndTime) {
    const auto records = parseOne(
        R"({"modelId":"line-model","responseId":"resp_1","message":{"role":"assistant","timestamp":"2026-01-05T10:00:00Z","usage":{"input":1}}})"
        "\n"
        R"({"modelId":"line-model","responseId":"resp_2","message":{"role":"assistant","model":"own","id":"msg_2","usage":{"input":1}},"timestamp":"2026-01-05T11:00:00+01:00"})"
        "\n" +
        assistant("e1", R"({"input":1})") + assistant("e1", R"({"input":1})", "", "2026-01-05T10:05:00Z") +
        R"({"type":"message","message":{"role":"assistant","usage":{"input":1}}})"
        "\n");
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0].model, "line-model");
    EXPECT_EQ(records[0].messageId, "resp_1");
    EXPECT_DOUBLE_EQ(records[0].timestamp, 1767607200.0);
    EXPECT_EQ(records[1].model, "own");
    EXPECT_EQ(records[1].messageId, "msg_2");
    EXPECT_DOUBLE_EQ(records[1].timestamp, 1767607200.0);
    EXPECT_EQ(records[2].messageId, "event:e1@2026-01-05T10:00:00.000Z");
    EXPECT_EQ(records[3].messageId, "event:e1@2026-01-05T10:05:00Z");
    EXPECT_EQ(records[4].messageId, "");
}

// A checkpoint file repeats its session's lines: the scan gives them again under the same
// message ids, which the ledger keeps once.
TEST(OpenClawScan, ACheckpointCopyRepeatsItsSessionsMessageIds) {
    const auto result = OpenClawParser::parseChanged(fixtureRoot, {}, false);
    std::map<std::string, std::int64_t> inputById;
    for (const auto& record : result.records) {
        inputById[record.projectPath.str() + " " + record.messageId] += record.inputTokens;
    }
    EXPECT_EQ(inputById, (std::map<std::string, std::int64_t>{
                             {"openclaw/coder event:aa11bb22@2025-12-30T18:00:00Z", 1000000},
                             {"openclaw/main event:f4d5e6a7@2026-01-05T10:00:04.250Z", 2 * 1200},
                             {"openclaw/main msg_01OpenClawA", 2 * 50},
                         }));
    EXPECT_EQ(result.records.size(), 5u);
    // Both session copies and the archived file are read; hidden files, stray files and an
    // agent without sessions are not.
    EXPECT_EQ(result.files.size(), 3u);
}

TEST(OpenClawScan, WithoutAnAgentsFolderChangesNothing) {
    TempTree tree;
    const LogFileStates known = {{"/somewhere/s.jsonl", LogFileState{10, 4.0, 10, 1}}};
    EXPECT_TRUE(OpenClawParser::parseChanged(tree / "nothing", known, true).changesNothing());

    const test::WithEnv home("HOME", tree.root().string());
    EXPECT_FALSE(OpenClawParser::isInstalled());
    tree.write(".openclaw/agents/main/sessions/s.jsonl", assistant("e1", R"({"input":1})"));
    EXPECT_TRUE(OpenClawParser::isInstalled());
    EXPECT_EQ(OpenClawParser::defaultAgentsRoot(), tree / ".openclaw/agents");
}

} // namespace
} // namespace fernhollow
