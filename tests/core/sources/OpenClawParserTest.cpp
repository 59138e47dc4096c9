#include "core/sources/OpenClawParser.h"

#include "support/TempTree.h"
#include "support/WithEnv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>

namespace fernhollow {
namespace {

using test::TempTree;
using namespace std::chrono_literals;

const std::filesystem::path fixtureRoot = std::filesystem::path(FERNHOLLOW_TEST_DATA_DIR) / "openclaw-agents";

std::string assistant(std::string_view eventId, std::string_view usage, std::string_view extra = "",
                      std::string_view timestamp = "2026-01-05T10:00:00.000Z") {
    return R"({"type":"message","id":")" + std::string(eventId) + R"(","timestamp":")" +
           std::string(timestamp) + R"(","message":{"role":"assistant","model":"m")" + std::string(extra) +
           R"(,"usage":)" + std::string(usage) + "}}\n";
}

std::vector<UsageRecord> parseOne(const TempTree& tree, std::string_view content) {
    return OpenClawParser::parseFile(tree.write("agents/main/sessions/s.jsonl", content), "main");
}

TEST(OpenClawLine, ReadsAnAssistantMessageWithEitherCountNames) {
    TempTree tree;
    const auto records = parseOne(
        tree,
        assistant("e1", R"({"input":10,"input_tokens":99,"output":2,"cacheWrite":3,"cacheRead":4})") +
            assistant("e2",
                      R"({"input_tokens":99,"output_tokens":5,"cache_creation_input_tokens":6,)"
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
    TempTree tree;
    const auto records = parseOne(
        tree,
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
    TempTree tree;
    const auto records = parseOne(
        tree,
        R"({"modelId":"line-model","responseId":"resp_1","message":{"role":"assistant","timestamp":"2026-01-05T10:00:00Z","usage":{"input":1}}})"
        "\n"
        R"({"modelId":"line-model","responseId":"resp_2","message":{"role":"assistant","model":"own","id":"msg_2","usage":{"input":1}},"timestamp":"2026-01-05T11:00:00+01:00"})"
        "\n" +
            assistant("e1", R"({"input":1})") +
            assistant("e1", R"({"input":1})", "", "2026-01-05T10:05:00Z") +
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

TEST(OpenClawScan, CountsACheckpointCopyOnceUnderItsSession) {
    const auto result = OpenClawParser::parseChanged(fixtureRoot, {}, {});
    std::map<std::string, std::int64_t> inputBySession;
    for (const auto& record : result.records) {
        inputBySession[record.projectPath.str() + " " + record.sessionId.str()] += record.inputTokens;
    }
    EXPECT_EQ(inputBySession, (std::map<std::string, std::int64_t>{
                                  {"openclaw/coder old-session", 1000000},
                                  {"openclaw/main 3f2a9c1e-7b1d-4c55-9a0e-5d2c8f4b6a10", 1250},
                              }));
    EXPECT_EQ(result.records.size(), 3u);
    // Both session copies and the archived file are timed; hidden files, stray files and an
    // agent without sessions are not.
    EXPECT_EQ(result.updatedMtimes.size(), 3u);
}

TEST(OpenClawScan, RereadsOnlyChangedFilesAndReleasesTheirIds) {
    TempTree tree;
    const auto log =
        tree.write("agents/main/sessions/s.jsonl", assistant("e1", R"({"input":1})", R"(,"id":"m1")"));
    tree.write("agents/main/sessions/t.jsonl", assistant("e2", R"({"input":2})"));
    const auto first = OpenClawParser::parseChanged(tree / "agents", {}, {});
    ASSERT_EQ(first.records.size(), 2u);

    tree.append("agents/main/sessions/s.jsonl",
                assistant("e3", R"({"input":3})", R"(,"id":"m1")") + assistant("e4", R"({"input":4})"));
    TempTree::shiftMtime(log, 5s);
    const auto second = OpenClawParser::parseChanged(tree / "agents", first.updatedMtimes, first.records);
    std::map<std::string, std::int64_t> inputs;
    for (const auto& record : second.records) {
        inputs[record.messageId] = record.inputTokens;
    }
    // The re-read file's own message m1 is not a duplicate of itself: its larger copy counts.
    EXPECT_EQ(inputs.at("m1"), 3);
    EXPECT_EQ(second.records.size(), 3u);

    std::filesystem::remove(log);
    const auto third = OpenClawParser::parseChanged(tree / "agents", second.updatedMtimes, second.records);
    EXPECT_EQ(third.records.size(), 3u);
    EXPECT_EQ(third.updatedMtimes.size(), 1u);
}

TEST(OpenClawScan, KeepsSameNamedFilesOfOneAgentApart) {
    TempTree tree;
    tree.write("agents/main/sessions/a/s.jsonl", assistant("e1", R"({"input":1})", R"(,"id":"x")"));
    tree.write("agents/main/sessions/b/s.jsonl", assistant("e1", R"({"input":2})", R"(,"id":"y")"));
    const auto result = OpenClawParser::parseChanged(tree / "agents", {}, {});
    EXPECT_EQ(result.records.size(), 2u);
}

TEST(OpenClawScan, WithoutAnAgentsFolderReturnsTheInputs) {
    TempTree tree;
    const std::vector<UsageRecord> prior = {
        UsageRecord{Uuid::random(), "m", 1.0, "x", 1, 0, 0, 0, 0, "openclaw/main", "s"}};
    const FileTimes known = {{"/somewhere/s.jsonl", 4.0}};
    const auto missing = OpenClawParser::parseChanged(tree / "nothing", known, prior);
    EXPECT_EQ(missing.records, prior);
    EXPECT_EQ(missing.updatedMtimes, known);

    const test::WithEnv home("HOME", tree.root().string());
    EXPECT_FALSE(OpenClawParser::isInstalled());
    EXPECT_EQ(OpenClawParser::parseChanged(known, prior).records, prior);
    tree.write(".openclaw/agents/main/sessions/s.jsonl", assistant("e1", R"({"input":1})"));
    EXPECT_TRUE(OpenClawParser::isInstalled());
    EXPECT_EQ(OpenClawParser::parseChanged({}, {}).records.size(), 1u);
}

} // namespace
} // namespace fernhollow
