#include "core/sources/CCUsageParser.h"

#include "core/ledger/LedgerPass.h"
#include "support/LedgerTotals.h"
#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>

namespace fernhollow {
namespace {

using test::TempTree;

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

std::vector<UsageRecord> parseOne(std::string_view content) {
    const TempTree tree;
    return CCUsageParser::parseFile(tree.write("proj/session.jsonl", content), tree.root());
}

const UsageRecord* findMessage(const std::vector<UsageRecord>& records, std::string_view id) {
    const auto it =
        std::find_if(records.begin(), records.end(), [&](const auto& r) { return r.messageId == id; });
    return it == records.end() ? nullptr : &*it;
}

TEST(ClaudeLogLine, ReadsEveryFieldOfAnAssistantLine) {
    const auto records = parseOne(
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
    const auto records =
        parseOne(R"({"message":{"id":"both","usage":{"input_tokens":7}},"usage":{"input_tokens":99}})"
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
    const auto records =
        parseOne(Line{.id = "zero", .input = 0, .output = 0}.json() +
                 Line{.id = "hour-only", .input = 0, .output = 0, .oneHour = 500}.json() +
                 Line{.id = "read-only", .input = 0, .output = 0, .cacheRead = 3}.json() +
                 R"({"message":{"id":"cancels","usage":{"input_tokens":5,"output_tokens":-5}}})"
                 "\n");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].messageId, "read-only");
}

TEST(ClaudeLogLine, TakesZeroForCountsThatAreNotIntegers) {
    const auto records = parseOne(
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
    const auto records = parseOne(
        R"({"message":{"id":"huge","usage":{"input_tokens":9223372036854775807,"output_tokens":9223372036854775807}}})"
        "\n" +
        Line{.id = "fine"}.json());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].messageId, "fine");
}

TEST(ClaudeLogLine, FallsBackForModelAndHasNoTopLevelMessageId) {
    const auto records =
        parseOne(R"({"model":"top-model","id":"top-id","message":{"usage":{"input_tokens":1}}})"
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
    const double before = now();
    const auto records = parseOne(Line{.id = "a", .timestamp = "2025-11-05T14:03:27Z"}.json() +
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

TEST(ClaudeLogFile, CollapsesStreamedCopiesToTheLargestAtTheFirstPosition) {
    const auto records = parseOne(
        Line{.id = "reply", .input = 4, .output = 10, .cacheWrite = 2000}.json() +
        Line{.id = "other", .output = 1}.json() +
        Line{.id = "reply", .input = 4, .output = 299, .cacheWrite = 2000}.json() +
        Line{
            .id = "reply", .input = 4, .output = 850, .cacheWrite = 2000, .timestamp = "2025-11-05T10:00:09Z"}
            .json() +
        Line{.id = "reply", .input = 4, .output = 5, .cacheWrite = 2000}.json());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].messageId, "reply");
    EXPECT_EQ(records[0].outputTokens, 850);
    EXPECT_DOUBLE_EQ(records[0].timestamp, 1762336809.0);
    EXPECT_EQ(records[1].messageId, "other");

    // Copies that tie: the later one wins.
    const auto tied = parseOne(Line{.id = "reply", .model = "first", .input = 5, .output = 5}.json() +
                               Line{.id = "reply", .model = "second", .input = 8, .output = 2}.json());
    ASSERT_EQ(tied.size(), 1u);
    EXPECT_EQ(tied[0].model, "second");

    // Without a message id nothing is a copy.
    const std::string line = R"({"message":{"usage":{"input_tokens":3}}})"
                             "\n";
    EXPECT_EQ(parseOne(line + line + line).size(), 3u);
}

TEST(ClaudeLogFile, YieldsNothingWhenAnyByteIsNotUtf8) {
    EXPECT_TRUE(parseOne(Line{.id = "a"}.json() + "{\"type\":\"user\",\"text\":\"caf\xE9\"}\n").empty());
    EXPECT_TRUE(parseOne(Line{.id = "a"}.json() + "\xFF\n").empty());
    EXPECT_TRUE(parseOne(Line{.id = "a", .model = "bad\xC3"}.json()).empty());
    EXPECT_EQ(parseOne(Line{.id = "a", .model = "caf\xC3\xA9"}.json()).size(), 1u);
}

TEST(ClaudeLogFile, IgnoresAHalfWrittenLastLineUntilItIsComplete) {
    const std::string complete = Line{.id = "last", .output = 777}.json();
    const std::string truncated = complete.substr(0, complete.find("777") + 2); // a valid-looking prefix
    const auto partial = parseOne(Line{.id = "a"}.json() + truncated);
    ASSERT_EQ(partial.size(), 1u);
    EXPECT_EQ(partial[0].messageId, "a");
    const auto whole = parseOne(Line{.id = "a"}.json() + complete);
    ASSERT_EQ(whole.size(), 2u);
    EXPECT_EQ(whole[1].outputTokens, 777);
}

TEST(ClaudeLogFile, AHalfWrittenLastLineMayEndInsideACharacter) {
    for (const std::string character : {"\xC3\xA9", "\xE2\x86\x92", "\xF0\x9F\x93\x9D"}) {
        const std::string complete = Line{.id = "last", .model = "caf" + character}.json();
        for (std::size_t cut = 1; cut < character.size(); ++cut) {
            const std::string truncated = complete.substr(0, complete.find(character) + cut);
            const auto partial = parseOne(Line{.id = "a"}.json() + truncated);
            ASSERT_EQ(partial.size(), 1u) << character.size() << "-byte character cut after " << cut;
            EXPECT_EQ(partial[0].messageId, "a");
        }
        EXPECT_EQ(parseOne(Line{.id = "a"}.json() + complete).size(), 2u);
    }
    // Only a character still being written is excused, not bytes that can never begin one.
    for (const std::string bad : {"\xFF", "\xE0\x80"}) {
        EXPECT_TRUE(parseOne(Line{.id = "a"}.json() + R"({"type":"user","text":"caf)" + bad).empty());
    }
}

TEST(ClaudeLogFile, SplitsLinesAtLfCrAndCrLfOnly) {
    auto unterminated = [](const Line& line) {
        std::string text = line.json();
        text.pop_back();
        return text;
    };
    const auto records =
        parseOne(unterminated(Line{.id = "a"}) + "\r\n" + unterminated(Line{.id = "b"}) + "\r" +
                 unterminated(Line{.id = "c"}) + "\n\n\r\n" + unterminated(Line{.id = "d"}));
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[3].messageId, "d");
    // Raw U+2028 and U+2029 are legal inside JSON strings; a split there would lose the line.
    const auto separators = parseOne(Line{.id = "sep",
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
        parseOne("[1,2]\n42\nnot json\n{\"message\":{\"usage\":{\"input_tokens\":1}}} trailing\n" +
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
    const auto result = CCUsageParser::parseChanged(tree.root(), {}, false);
    std::set<std::string> stated;
    for (const auto& [path, state] : result.files) {
        stated.insert(path);
    }
    std::size_t read = 0;
    for (const auto& [file, project, session] : cases) {
        const UsageRecord* record = findMessage(result.records, file);
        EXPECT_EQ(stated.contains((tree / file).string()), project != nullptr) << file;
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
    EXPECT_EQ(result.files.size(), read);
}

// Several config folders: one reached again through a link, a trailing slash or "..", is read
// once; a message copied into another is one record; a folder that is missing keeps its logs.
TEST(ClaudeLogWalk, ReadsTheUnionOfFoldersAndCountsEachMessageOnce) {
    TempTree tree;
    tree.write("work/projects/p/s1.jsonl",
               Line{.id = "msg_a"}.json() + Line{.id = "msg_b", .input = 5}.json());
    tree.write("home/projects/p/s1.jsonl", Line{.id = "msg_a"}.json());
    std::filesystem::create_directory_symlink(tree / "work/projects", tree / "link");
    const std::vector<std::filesystem::path> roots = {tree / "work/projects", tree / "work/projects/",
                                                      tree / "link",          tree / "home/../work/projects",
                                                      tree / "home/projects", tree / "missing"};
    const std::string gone = (tree / "home/projects/p/gone.jsonl").string();
    const LogFileStates known = {{(tree / "missing/p/old.jsonl").string(), LogFileState{1, 1.0, 1, 0}},
                                 {gone, LogFileState{1, 1.0, 1, 0}}};
    ScanResult result;
    const auto ledger = tree / "ledger.sqlite3";
    passIntoLedger(ledger, UsageSource::claudeCode, false, [&](const LogFileStates&, bool) {
        return result = CCUsageParser::parseChanged(roots, known, false);
    });
    ASSERT_EQ(result.files.size(), 2u);
    EXPECT_EQ(result.files[0].first.substr(0, tree.root().string().size() + 14),
              (tree / "work/projects").string());
    EXPECT_EQ(result.goneFiles, std::vector<std::string>{gone});
    EXPECT_EQ(test::totalsOf(ledger, UsageSource::claudeCode), (test::LedgerTotals{2, 15, 40, 0}));
}

} // namespace
} // namespace fernhollow
