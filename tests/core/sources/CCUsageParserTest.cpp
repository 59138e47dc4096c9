#include "core/sources/CCUsageParser.h"

#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>

namespace fernhollow {
namespace {

using test::TempTree;
using namespace std::chrono_literals;

struct Line {
    std::string id = "msg_1";
    std::string model = "claude-sonnet-4-5-20250929";
    std::int64_t input = 10;
    std::int64_t output = 20;
    std::int64_t cacheWrite = 0;
    std::int64_t cacheRead = 0;
    std::int64_t oneHour = 0;
    std::string timestamp = "2025-11-05T10:00:00.000Z";

    std::string json() const {
        return R"({"type":"assistant","requestId":"req_1","message":{"model":")" + model + R"(","id":")" +
               id +
               R"(","role":"assistant","content":[{"type":"text","text":"ok"}],"usage":{"input_tokens":)" +
               std::to_string(input) + R"(,"cache_creation_input_tokens":)" + std::to_string(cacheWrite) +
               R"(,"cache_read_input_tokens":)" + std::to_string(cacheRead) +
               R"(,"cache_creation":{"ephemeral_5m_input_tokens":0,"ephemeral_1h_input_tokens":)" +
               std::to_string(oneHour) + R"(},"output_tokens":)" + std::to_string(output) +
               R"(}},"timestamp":")" + timestamp + "\"}\n";
    }
};

std::string userLine() {
    return R"({"type":"user","message":{"role":"user","content":"hello"},"timestamp":"2025-11-05T09:00:00Z"})"
           "\n";
}

double now() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::vector<UsageRecord> parseOne(const TempTree& tree, std::string_view content) {
    return CCUsageParser::parseFile(tree.write("proj/session.jsonl", content), tree.root());
}

std::map<std::string, std::int64_t> outputByMessage(const std::vector<UsageRecord>& records) {
    std::map<std::string, std::int64_t> byId;
    for (const auto& record : records) {
        byId[record.messageId] += record.outputTokens;
    }
    return byId;
}

const UsageRecord* findMessage(const std::vector<UsageRecord>& records, std::string_view id) {
    const auto it =
        std::find_if(records.begin(), records.end(), [&](const auto& r) { return r.messageId == id; });
    return it == records.end() ? nullptr : &*it;
}

TEST(ClaudeLogLine, ReadsEveryFieldOfAnAssistantLine) {
    TempTree tree;
    const auto records = parseOne(
        tree,
        userLine() + Line{"msg_A", "claude-opus-4-1", 1, 2, 300, 40, 100, "2025-11-05T14:03:27.512Z"}.json());
    ASSERT_EQ(records.size(), 1u);
    const UsageRecord& r = records[0];
    EXPECT_EQ(r.messageId, "msg_A");
    EXPECT_EQ(r.model, "claude-opus-4-1");
    EXPECT_EQ(r.inputTokens, 1);
    EXPECT_EQ(r.outputTokens, 2);
    EXPECT_EQ(r.cacheCreationInputTokens, 300);
    EXPECT_EQ(r.cacheReadInputTokens, 40);
    EXPECT_EQ(r.cacheCreation1hTokens, 100);
    EXPECT_DOUBLE_EQ(r.timestamp, 1762351407.512);
    EXPECT_EQ(r.projectPath, "proj");
    EXPECT_EQ(r.sessionId, "session");
}

TEST(ClaudeLogLine, PrefersTheMessageUsageAndFallsBackToTheTopLevelOne) {
    TempTree tree;
    const auto records =
        parseOne(tree, R"({"message":{"id":"both","usage":{"input_tokens":7}},"usage":{"input_tokens":99}})"
                       "\n"
                       R"({"message":{"id":"top-only","model":"m"},"usage":{"input_tokens":5}})"
                       "\n"
                       R"({"message":"not an object","usage":{"output_tokens":6}})"
                       "\n"
                       R"({"message":{"usage":"not an object"},"usage":{"cache_read_input_tokens":8}})"
                       "\n"
                       R"({"message":{"id":"none"}})"
                       "\n");
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].inputTokens, 7);
    EXPECT_EQ(records[1].inputTokens, 5);
    EXPECT_EQ(records[2].outputTokens, 6);
    EXPECT_EQ(records[2].messageId, "");
    EXPECT_EQ(records[3].cacheReadInputTokens, 8);
}

TEST(ClaudeLogLine, SkipsLinesThatCountNothingButKeepsCacheOnlyOnes) {
    TempTree tree;
    const auto records =
        parseOne(tree, Line{.id = "zero", .input = 0, .output = 0}.json() +
                           Line{.id = "hour-only", .input = 0, .output = 0, .oneHour = 500}.json() +
                           Line{.id = "read-only", .input = 0, .output = 0, .cacheRead = 3}.json() +
                           R"({"message":{"id":"cancels","usage":{"input_tokens":5,"output_tokens":-5}}})"
                           "\n");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].messageId, "read-only");
}

TEST(ClaudeLogLine, TakesZeroForCountsThatAreNotIntegers) {
    TempTree tree;
    const auto records = parseOne(
        tree,
        R"({"message":{"usage":{"input_tokens":"12","output_tokens":1.5,"cache_read_input_tokens":null,"cache_creation_input_tokens":4.0,"cache_creation":{"ephemeral_1h_input_tokens":"2"}}}})"
        "\n"
        R"({"message":{"usage":{"input_tokens":18446744073709551615,"output_tokens":1}}})"
        "\n");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].inputTokens, 0);
    EXPECT_EQ(records[0].outputTokens, 0);
    EXPECT_EQ(records[0].cacheReadInputTokens, 0);
    EXPECT_EQ(records[0].cacheCreationInputTokens, 4); // an integral float is still a count
    EXPECT_EQ(records[0].cacheCreation1hTokens, 0);
    EXPECT_EQ(records[1].inputTokens, 0); // beyond 64 signed bits
    EXPECT_EQ(records[1].outputTokens, 1);
}

TEST(ClaudeLogLine, SkipsALineWhoseCountsOverflowWhenSummed) {
    TempTree tree;
    const auto records = parseOne(
        tree,
        R"({"message":{"id":"huge","usage":{"input_tokens":9223372036854775807,"output_tokens":9223372036854775807}}})"
        "\n" +
            Line{.id = "fine"}.json());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].messageId, "fine");
}

TEST(ClaudeLogLine, FallsBackForModelAndHasNoTopLevelMessageId) {
    TempTree tree;
    const auto records =
        parseOne(tree, R"({"model":"top-model","id":"top-id","message":{"usage":{"input_tokens":1}}})"
                       "\n"
                       R"({"message":{"model":42,"usage":{"input_tokens":1}}})"
                       "\n"
                       R"({"message":{"model":"inner","id":7,"usage":{"input_tokens":1}},"model":"top"})"
                       "\n");
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].model, "top-model");
    EXPECT_EQ(records[0].messageId, "");
    EXPECT_EQ(records[1].model, "unknown");
    EXPECT_EQ(records[2].model, "inner");
    EXPECT_EQ(records[2].messageId, "");
}

TEST(ClaudeLogLine, ParsesTimestampsWithAndWithoutFractionsAndStampsTheRestWithNow) {
    TempTree tree;
    const double before = now();
    const auto records =
        parseOne(tree, Line{.id = "a", .timestamp = "2025-11-05T14:03:27Z"}.json() +
                           Line{.id = "b", .timestamp = "2025-11-05T14:03:27.5+01:00"}.json() +
                           Line{.id = "c", .timestamp = "2025-11-05T14:03:27"}.json() +
                           Line{.id = "d", .timestamp = "yesterday"}.json() +
                           R"({"message":{"id":"e","usage":{"input_tokens":1}}})"
                           "\n");
    const double after = now();
    ASSERT_EQ(records.size(), 5u);
    EXPECT_DOUBLE_EQ(records[0].timestamp, 1762351407.0);
    EXPECT_DOUBLE_EQ(records[1].timestamp, 1762351407.5 - 3600);
    for (std::size_t i = 2; i < 5; ++i) {
        EXPECT_GE(records[i].timestamp, before) << records[i].messageId;
        EXPECT_LE(records[i].timestamp, after) << records[i].messageId;
    }
}

TEST(ClaudeLogLine, DrawsAFreshIdForEveryRecordAndEveryRead) {
    TempTree tree;
    const auto first = parseOne(tree, Line{.id = "a"}.json() + Line{.id = "b"}.json());
    const auto second = CCUsageParser::parseFile(tree / "proj/session.jsonl", tree.root());
    ASSERT_EQ(first.size(), 2u);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_NE(first[0].id, first[1].id);
    EXPECT_NE(first[0].id, second[0].id);
    EXPECT_NE(first[0], second[0]);
}

TEST(ClaudeLogFile, CollapsesStreamedCopiesToTheLargestAtTheFirstPosition) {
    TempTree tree;
    const auto records =
        parseOne(tree, Line{.id = "reply", .input = 4, .output = 10, .cacheWrite = 2000}.json() +
                           Line{.id = "other", .output = 1}.json() +
                           Line{.id = "reply", .input = 4, .output = 299, .cacheWrite = 2000}.json() +
                           Line{.id = "reply",
                                .input = 4,
                                .output = 850,
                                .cacheWrite = 2000,
                                .timestamp = "2025-11-05T10:00:09Z"}
                               .json() +
                           Line{.id = "reply", .input = 4, .output = 5, .cacheWrite = 2000}.json());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].messageId, "reply");
    EXPECT_EQ(records[0].outputTokens, 850);
    EXPECT_DOUBLE_EQ(records[0].timestamp, 1762336809.0);
    EXPECT_EQ(records[1].messageId, "other");

    // Copies that tie: the later one wins.
    const auto tied =
        parseOne(tree, Line{.id = "reply", .model = "first", .input = 5, .output = 5}.json() +
                           Line{.id = "reply", .model = "second", .input = 8, .output = 2}.json());
    ASSERT_EQ(tied.size(), 1u);
    EXPECT_EQ(tied[0].model, "second");

    // Without a message id nothing is a copy.
    const std::string line = R"({"message":{"usage":{"input_tokens":3}}})"
                             "\n";
    EXPECT_EQ(parseOne(tree, line + line + line).size(), 3u);
}

TEST(ClaudeLogFile, YieldsNothingWhenAnyByteIsNotUtf8) {
    TempTree tree;
    EXPECT_TRUE(
        parseOne(tree, Line{.id = "a"}.json() + "{\"type\":\"user\",\"text\":\"caf\xE9\"}\n").empty());
    EXPECT_TRUE(parseOne(tree, Line{.id = "a"}.json() + "\xFF\n").empty());
    EXPECT_TRUE(parseOne(tree, Line{.id = "a", .model = "bad\xC3"}.json()).empty());
    EXPECT_EQ(parseOne(tree, Line{.id = "a", .model = "caf\xC3\xA9"}.json()).size(), 1u);
}

TEST(ClaudeLogFile, IgnoresAHalfWrittenLastLineUntilItIsComplete) {
    TempTree tree;
    const std::string complete = Line{.id = "last", .output = 777}.json();
    const std::string truncated = complete.substr(0, complete.find("777") + 2); // a valid-looking prefix
    const auto partial = parseOne(tree, Line{.id = "a"}.json() + truncated);
    ASSERT_EQ(partial.size(), 1u);
    EXPECT_EQ(partial[0].messageId, "a");
    const auto whole = parseOne(tree, Line{.id = "a"}.json() + complete);
    ASSERT_EQ(whole.size(), 2u);
    EXPECT_EQ(whole[1].outputTokens, 777);
}

TEST(ClaudeLogFile, AHalfWrittenLastLineMayEndInsideACharacter) {
    TempTree tree;
    for (const std::string character : {"\xC3\xA9", "\xE2\x86\x92", "\xF0\x9F\x93\x9D"}) {
        const std::string complete = Line{.id = "last", .model = "caf" + character}.json();
        for (std::size_t cut = 1; cut < character.size(); ++cut) {
            const std::string truncated = complete.substr(0, complete.find(character) + cut);
            const auto partial = parseOne(tree, Line{.id = "a"}.json() + truncated);
            ASSERT_EQ(partial.size(), 1u) << character.size() << "-byte character cut after " << cut;
            EXPECT_EQ(partial[0].messageId, "a");
        }
        EXPECT_EQ(parseOne(tree, Line{.id = "a"}.json() + complete).size(), 2u);
    }
    // Only a character still being written is excused, not bytes that can never begin one.
    for (const std::string bad : {"\xFF", "\xE0\x80"}) {
        EXPECT_TRUE(parseOne(tree, Line{.id = "a"}.json() + R"({"type":"user","text":"caf)" + bad).empty());
    }
}

TEST(ClaudeLogFile, SplitsLinesAtLfCrAndCrLfOnly) {
    TempTree tree;
    auto unterminated = [](const Line& line) {
        std::string text = line.json();
        text.pop_back();
        return text;
    };
    const auto records =
        parseOne(tree, unterminated(Line{.id = "a"}) + "\r\n" + unterminated(Line{.id = "b"}) + "\r" +
                           unterminated(Line{.id = "c"}) + "\n\n\r\n" + unterminated(Line{.id = "d"}));
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[3].messageId, "d");
    // Raw U+2028 and U+2029 are legal inside JSON strings; a split there would lose the line.
    const auto separators = parseOne(tree, Line{.id = "sep",
                                                .model = "a\xE2\x80\xA8"
                                                         "b\xE2\x80\xA9"
                                                         "c"}
                                               .json());
    ASSERT_EQ(separators.size(), 1u);
    EXPECT_EQ(separators[0].model, "a\xE2\x80\xA8"
                                   "b\xE2\x80\xA9"
                                   "c");
}

TEST(ClaudeLogFile, SkipsLinesThatAreNotJsonObjectsAndReadsNothingFromAMissingFile) {
    TempTree tree;
    const auto records =
        parseOne(tree, "[1,2]\n42\nnot json\n{\"message\":{\"usage\":{\"input_tokens\":1}}} trailing\n" +
                           Line{.id = "ok"}.json());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].messageId, "ok");
    EXPECT_TRUE(CCUsageParser::parseFile(tree / "proj/missing.jsonl", tree.root()).empty());
}

// Each log is named by where it lies; hidden files and folders and other extensions are not read.
TEST(ClaudeLogWalk, NamesProjectsAndSessionsFromTheLocationAndReadsOnlyVisibleLogs) {
    struct Case {
        const char* file;
        const char* project; // null: not read
        const char* session;
    };
    const Case cases[] = {
        {"-home-dev-alpha/s1.jsonl", "-home-dev-alpha", "s1"},
        {"-home-dev-alpha/s1/subagents/agent-7.jsonl", "-home-dev-alpha", "agent-7"},
        {"top.jsonl", "top.jsonl", "top"},
        {"-home-dev-beta/x.y.jsonl", "-home-dev-beta", "x.y"},
        {"p/visible.jsonl", "p", "visible"},
        {"p/.hidden.jsonl", nullptr, nullptr},
        {"p/.cache/in-hidden.jsonl", nullptr, nullptr},
        {".hidden-project/s.jsonl", nullptr, nullptr},
        {"p/upper.JSONL", nullptr, nullptr},
        {"p/plain.json", nullptr, nullptr},
        {"p/s.jsonl.bak", nullptr, nullptr},
    };
    TempTree tree;
    for (const Case& log : cases) {
        tree.write(log.file, Line{.id = log.file}.json());
    }
    const auto result = CCUsageParser::parseChanged(tree.root(), {}, {});
    std::size_t read = 0;
    for (const auto& [file, project, session] : cases) {
        const UsageRecord* record = findMessage(result.records, file);
        EXPECT_EQ(result.updatedMtimes.contains((tree / file).string()), project != nullptr) << file;
        if (project == nullptr) {
            EXPECT_EQ(record, nullptr) << file;
            continue;
        }
        ++read;
        ASSERT_NE(record, nullptr) << file;
        EXPECT_EQ(record->projectPath, project) << file;
        EXPECT_EQ(record->sessionId, session) << file;
    }
    EXPECT_EQ(result.records.size(), read);
    EXPECT_EQ(result.updatedMtimes.size(), read);
}

TEST(ClaudeLogWalk, FollowsLinkedFoldersButEndsALinkLoop) {
    TempTree tree;
    tree.write("p/s.jsonl", Line{.id = "a"}.json());
    tree.write("elsewhere/linked.jsonl", Line{.id = "b"}.json());
    std::filesystem::create_directory_symlink(tree.root(), tree / "p/loop");
    std::filesystem::create_directory_symlink(tree / "elsewhere", tree / "q");
    const auto result = CCUsageParser::parseChanged(tree.root(), {}, {});
    EXPECT_EQ(result.records.size(), 2u);
    EXPECT_EQ(outputByMessage(result.records), (std::map<std::string, std::int64_t>{{"a", 20}, {"b", 20}}));
}

TEST(ClaudeLogWalk, ARootThatCannotBeListedReturnsTheInputsUnchanged) {
    TempTree tree;
    const auto prior = CCUsageParser::parseChanged(
        tree.write("p/s.jsonl", Line{}.json()).parent_path().parent_path(), {}, {});
    ASSERT_EQ(prior.records.size(), 1u);
    for (const auto& root : {tree / "missing", tree.write("a-file", "x")}) {
        const auto result = CCUsageParser::parseChanged(root, prior.updatedMtimes, prior.records);
        EXPECT_EQ(result.records, prior.records);
        EXPECT_EQ(result.updatedMtimes, prior.updatedMtimes);
    }
}

TEST(ClaudeScan, CountsAMessageOnceAcrossFilesTheFirstInWalkOrderWinning) {
    TempTree tree;
    tree.write("p/a.jsonl", Line{.id = "shared", .model = "from-a"}.json() + Line{.id = "only-a"}.json());
    tree.write("p/b.jsonl", Line{.id = "shared", .model = "from-b"}.json());
    const std::string noId = R"({"message":{"usage":{"input_tokens":3}}})"
                             "\n";
    tree.write("q/c.jsonl", noId);
    tree.write("q/d.jsonl", noId);
    const auto result = CCUsageParser::parseChanged(tree.root(), {}, {});
    EXPECT_EQ(result.records.size(), 4u);
    EXPECT_EQ(findMessage(result.records, "shared")->model, "from-a");
    EXPECT_EQ(std::count_if(result.records.begin(), result.records.end(),
                            [](const auto& r) { return r.messageId.empty(); }),
              2);
}

TEST(ClaudeScan, AResumedSessionRepeatingEarlierRepliesAddsOnlyItsNewOnes) {
    TempTree tree;
    tree.write("p/1-first.jsonl", Line{.id = "r1", .output = 10}.json() +
                                      Line{.id = "r1", .output = 400}.json() +
                                      Line{.id = "r2", .output = 50}.json());
    tree.write("p/2-resumed.jsonl", Line{.id = "r1", .output = 400}.json() +
                                        Line{.id = "r2", .output = 50}.json() +
                                        Line{.id = "r3", .output = 70}.json());
    const auto result = CCUsageParser::parseChanged(tree.root(), {}, {});
    EXPECT_EQ(outputByMessage(result.records),
              (std::map<std::string, std::int64_t>{{"r1", 400}, {"r2", 50}, {"r3", 70}}));
    EXPECT_EQ(findMessage(result.records, "r3")->sessionId, "2-resumed");
    EXPECT_EQ(findMessage(result.records, "r1")->sessionId, "1-first");
}

// Different content behind the same modification time: only a read would show it, also in a
// file that gave no records.
TEST(ClaudeScan, ASecondScanOfAnUnchangedTreeReadsNothing) {
    TempTree tree;
    const auto counted = tree.write("p/s.jsonl", Line{.id = "a"}.json() + Line{.id = "b"}.json());
    const auto empty = tree.write("p/t.jsonl", userLine());
    for (const auto& file : {counted, empty}) {
        TempTree::shiftMtime(file, -60s); // settled: a file written moments before a scan is read again
    }
    const auto first = CCUsageParser::parseChanged(tree.root(), {}, {});
    ASSERT_EQ(first.records.size(), 2u);
    for (const char* relative : {"p/s.jsonl", "p/t.jsonl"}) {
        const auto mtime = std::filesystem::last_write_time(tree / relative);
        std::filesystem::last_write_time(tree.write(relative, Line{.id = "hidden"}.json()), mtime);
    }
    const auto second = CCUsageParser::parseChanged(tree.root(), first.updatedMtimes, first.records);
    EXPECT_EQ(second.records, first.records);
    EXPECT_EQ(second.updatedMtimes, first.updatedMtimes);
}

TEST(ClaudeScan, RereadsOnlyTheChangedFileAndKeepsIdsHeldElsewhere) {
    TempTree tree;
    TempTree::shiftMtime(tree.write("p/a.jsonl", Line{.id = "shared", .model = "from-a"}.json()), -60s);
    const auto b =
        tree.write("p/b.jsonl", Line{.id = "shared", .model = "from-b"}.json() + Line{.id = "b1"}.json());
    const auto first = CCUsageParser::parseChanged(tree.root(), {}, {});
    ASSERT_EQ(first.records.size(), 2u);

    tree.append("p/b.jsonl", Line{.id = "b2"}.json());
    TempTree::shiftMtime(b, 5s);
    const auto second = CCUsageParser::parseChanged(tree.root(), first.updatedMtimes, first.records);
    ASSERT_EQ(second.records.size(), 3u);
    EXPECT_EQ(findMessage(second.records, "shared")->id, findMessage(first.records, "shared")->id);
    EXPECT_EQ(findMessage(second.records, "shared")->model, "from-a");
    EXPECT_NE(findMessage(second.records, "b1")->id, findMessage(first.records, "b1")->id);
    EXPECT_NE(findMessage(second.records, "b2"), nullptr);
    EXPECT_GT(second.updatedMtimes.at(b.string()), first.updatedMtimes.at(b.string()));
}

TEST(ClaudeScan, AChangedFileReleasesItsOwnIdsBeforeItIsRead) {
    TempTree tree;
    const auto file = tree.write("p/s.jsonl", Line{.id = "a", .output = 10}.json());
    const auto first = CCUsageParser::parseChanged(tree.root(), {}, {});
    tree.append("p/s.jsonl", Line{.id = "a", .output = 900}.json());
    TempTree::shiftMtime(file, 5s);
    const auto second = CCUsageParser::parseChanged(tree.root(), first.updatedMtimes, first.records);
    ASSERT_EQ(second.records.size(), 1u);
    EXPECT_EQ(second.records[0].outputTokens, 900);
}

TEST(ClaudeScan, ADeletedFileKeepsItsRecordsButLeavesTheTimes) {
    TempTree tree;
    const auto gone = tree.write("p/gone.jsonl", Line{.id = "g"}.json());
    tree.write("p/stays.jsonl", Line{.id = "s"}.json());
    const auto first = CCUsageParser::parseChanged(tree.root(), {}, {});
    std::filesystem::remove(gone);
    const auto second = CCUsageParser::parseChanged(tree.root(), first.updatedMtimes, first.records);
    EXPECT_EQ(second.records.size(), 2u);
    EXPECT_FALSE(second.updatedMtimes.contains(gone.string()));
    EXPECT_EQ(second.updatedMtimes.size(), 1u);
}

TEST(ClaudeScan, AFileThatBecameUnusableLosesItsRecords) {
    TempTree tree;
    const auto file = tree.write("p/s.jsonl", Line{.id = "a"}.json());
    const auto first = CCUsageParser::parseChanged(tree.root(), {}, {});
    tree.append("p/s.jsonl", "\xFF\n");
    TempTree::shiftMtime(file, 5s);
    const auto second = CCUsageParser::parseChanged(tree.root(), first.updatedMtimes, first.records);
    EXPECT_TRUE(second.records.empty());
    EXPECT_TRUE(second.updatedMtimes.contains(file.string()));
}

TEST(ClaudeScan, CopiesCountedElsewhereCountOnceTheirFirstCopyIsGone) {
    TempTree tree;
    const auto first = tree.write("p/a.jsonl", Line{.id = "m", .model = "from-a"}.json());
    tree.write("p/b.jsonl", Line{.id = "m", .model = "from-b"}.json());
    const auto before = CCUsageParser::parseChanged(tree.root(), {}, {});
    ASSERT_EQ(before.records.size(), 1u);
    EXPECT_EQ(before.records[0].model, "from-a");

    tree.write("p/a.jsonl", userLine());
    TempTree::shiftMtime(first, 5s);
    const auto after = CCUsageParser::parseChanged(tree.root(), before.updatedMtimes, before.records);
    ASSERT_EQ(after.records.size(), 1u);
    EXPECT_EQ(after.records[0].model, "from-b");
}

TEST(ClaudeScan, FilesSharingAKeyKeepBothFilesRecordsWithoutCountingTwice) {
    TempTree tree;
    const auto shallow = tree.write("p/agent-1.jsonl", Line{.id = "x"}.json() + Line{.id = "shared"}.json());
    const auto deep =
        tree.write("p/sess/subagents/agent-1.jsonl", Line{.id = "y"}.json() + Line{.id = "shared"}.json());
    const auto first = CCUsageParser::parseChanged(tree.root(), {}, {});
    EXPECT_EQ(outputByMessage(first.records),
              (std::map<std::string, std::int64_t>{{"shared", 20}, {"x", 20}, {"y", 20}}));

    for (const auto& changed : {deep, shallow}) {
        tree.append(changed.string().substr(tree.root().string().size() + 1),
                    Line{.id = changed.string()}.json());
        TempTree::shiftMtime(changed, 5s);
    }
    auto second = CCUsageParser::parseChanged(tree.root(), first.updatedMtimes, first.records);
    EXPECT_EQ(second.records.size(), 5u);
    EXPECT_EQ(outputByMessage(second.records).at("shared"), 20);

    tree.append("p/agent-1.jsonl", Line{.id = "z"}.json());
    TempTree::shiftMtime(shallow, 5s);
    const auto third = CCUsageParser::parseChanged(tree.root(), second.updatedMtimes, second.records);
    EXPECT_EQ(third.records.size(), 6u);
    EXPECT_EQ(outputByMessage(third.records).at("shared"), 20);
    EXPECT_NE(findMessage(third.records, "y"), nullptr);
}

TEST(ClaudeScan, ManyFilesReadInParallelMatchASequentialReading) {
    TempTree tree;
    std::int64_t expectedOutput = 0;
    for (int file = 0; file < 64; ++file) {
        std::string content;
        for (int line = 0; line < 50; ++line) {
            // Every message appears in two neighbouring files; the earlier file in name order wins.
            const int message = file * 50 + line;
            content += Line{.id = "m" + std::to_string(message), .output = message}.json();
            content += Line{.id = "m" + std::to_string(message + 50), .output = message + 50}.json();
        }
        tree.write("p/f" + std::string(file < 10 ? "0" : "") + std::to_string(file) + ".jsonl", content);
    }
    for (int message = 0; message < 64 * 50 + 50; ++message) {
        expectedOutput += message;
    }
    const auto result = CCUsageParser::parseChanged(tree.root(), {}, {});
    EXPECT_EQ(result.records.size(), 64u * 50 + 50);
    std::int64_t output = 0;
    for (const auto& record : result.records) {
        output += record.outputTokens;
    }
    EXPECT_EQ(output, expectedOutput);
    EXPECT_EQ(findMessage(result.records, "m60")->sessionId, "f00");
}

} // namespace
} // namespace fernhollow
