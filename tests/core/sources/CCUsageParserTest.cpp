#include "core/sources/CCUsageParser.h"
#include "core/sources/JsonLines.h"

#include "support/TempTree.h"

#include <gtest/gtest.h>

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

std::vector<UsageRecord> parseOne(std::string_view content) {
    const TempTree tree;
    return CCUsageParser::parseFile(tree.write("proj/session.jsonl", content), tree.root());
}

// "id:output tokens" of each record, in order.
std::vector<std::string> summaryOf(const std::vector<UsageRecord>& records) {
    std::vector<std::string> ids;
    for (const UsageRecord& record : records) {
        ids.push_back(record.messageId + ":" + std::to_string(record.outputTokens));
    }
    return ids;
}

// Message id, model, input, output, cache write, cache read, the 1-hour part of the writes.
using Counts = std::tuple<std::string, std::string, std::int64_t, std::int64_t, std::int64_t, std::int64_t,
                          std::int64_t>;

// What one line alone in a log counts, or that it counts nothing.
TEST(ClaudeLogLine, EachShapeCountsWhatItCarries) {
    const std::pair<std::string, std::optional<Counts>> cases[] = {
        {Line{"msg_A", "claude-opus-4-1", 1, 2, 300, 40, 100}.json(),
         Counts{"msg_A", "claude-opus-4-1", 1, 2, 300, 40, 100}},
        // The message's usage first, the line's when the message has none.
        {R"({"message":{"id":"both","usage":{"input_tokens":7}},"usage":{"input_tokens":99}})",
         Counts{"both", "unknown", 7, 0, 0, 0, 0}},
        {R"({"message":{"id":"top","model":"m"},"usage":{"input_tokens":5}})",
         Counts{"top", "m", 5, 0, 0, 0, 0}},
        {R"({"message":"text","usage":{"output_tokens":6}})", Counts{"", "unknown", 0, 6, 0, 0, 0}},
        {R"({"message":{"usage":"text"},"usage":{"cache_read_input_tokens":8}})",
         Counts{"", "unknown", 0, 0, 0, 8, 0}},
        {R"({"message":{"id":"none"}})", std::nullopt},
        // Nothing counted, a 1-hour part alone or counts that cancel: no record. A cache read alone is one.
        {Line{.input = 0, .output = 0}.json(), std::nullopt},
        {Line{.input = 0, .output = 0, .oneHour = 500}.json(), std::nullopt},
        {R"({"message":{"usage":{"input_tokens":5,"output_tokens":-5}}})", std::nullopt},
        {R"({"message":{"usage":{"cache_read_input_tokens":3}}})", Counts{"", "unknown", 0, 0, 0, 3, 0}},
        // Only integers are counts, an integral float included; beyond 64 signed bits is zero,
        // and counts whose sum overflows drop the line.
        {R"({"message":{"usage":{"input_tokens":"12","output_tokens":1.5,"cache_read_input_tokens":null,)"
         R"("cache_creation_input_tokens":4.0,"cache_creation":{"ephemeral_1h_input_tokens":"2"}}}})",
         Counts{"", "unknown", 0, 0, 4, 0, 0}},
        {R"({"message":{"usage":{"input_tokens":18446744073709551615,"output_tokens":1}}})",
         Counts{"", "unknown", 0, 1, 0, 0, 0}},
        {R"({"message":{"usage":{"input_tokens":9223372036854775807,"output_tokens":9223372036854775807}}})",
         std::nullopt},
        // The line's model stands in for the message's; the id is the message's, and text only.
        {R"({"model":"top-model","id":"top-id","message":{"usage":{"input_tokens":1}}})",
         Counts{"", "top-model", 1, 0, 0, 0, 0}},
        {R"({"message":{"model":42,"usage":{"input_tokens":1}}})", Counts{"", "unknown", 1, 0, 0, 0, 0}},
        {R"({"message":{"model":"inner","id":7,"usage":{"input_tokens":1}},"model":"top"})",
         Counts{"", "inner", 1, 0, 0, 0, 0}},
        {"[1,2]", std::nullopt},
        {"not json", std::nullopt},
        {R"({"message":{"usage":{"input_tokens":1}}} trailing)", std::nullopt},
        // The line is walked, not parsed whole: the first field of a name counts, and a value no
        // record takes goes unchecked but for how many brackets it opens and closes, where one
        // that is read must be sound.
        {R"({"message":{"usage":"text","usage":{"input_tokens":4}},"usage":{"input_tokens":2}})",
         Counts{"", "unknown", 2, 0, 0, 0, 0}},
        {R"({"message":{"usage":{"input_tokens":1}},"content":[tru,"\q"]})",
         Counts{"", "unknown", 1, 0, 0, 0, 0}},
        {R"({"message":{"usage":{"input_tokens":1}}}{"message":{"usage":{"input_tokens":2}}})", std::nullopt},
        {R"({"message":{"usage":{"input_tokens":1,"output_tokens":1e999}}})", std::nullopt},
    };
    for (const auto& [line, expected] : cases) {
        const auto records = parseOne(line.ends_with('\n') ? line : line + "\n");
        std::optional<Counts> counted;
        if (!records.empty()) {
            const UsageRecord& r = records.at(0);
            counted = Counts{r.messageId,
                             r.model.str(),
                             r.inputTokens,
                             r.outputTokens,
                             r.cacheCreationInputTokens,
                             r.cacheReadInputTokens,
                             r.cacheCreation1hTokens};
        }
        EXPECT_EQ(counted, expected) << line;
        EXPECT_LE(records.size(), 1u) << line;
    }
}

std::string unterminated(const Line& line) {
    std::string text = line.json();
    text.pop_back();
    return text;
}

// Lines without "usage\"" are never parsed: the search must find it wherever it lies against
// the sixteen-byte steps it takes, and take nothing that only begins and ends like it.
TEST(ClaudeLogFile, TheUsageMarkIsFoundAtEveryPlace) {
    for (std::size_t at = 0; at + 6 <= 40; ++at) {
        std::string text(40, 'u');
        text.replace(at, 6, "usage\"");
        EXPECT_TRUE(holdsText(text, "usage\"")) << at;
        text.replace(at, 6, "usafe\"");
        EXPECT_FALSE(holdsText(text, "usage\"")) << at;
    }
}

// A byte that is not UTF-8 loses the log, but for a character still being written at its end; an
// unfinished last line waits. Lines end at LF, CR and CRLF, never U+2028/U+2029. Copies of a reply
// collapse to the largest, the later of a tie, at the first one's place; without an id none is a copy.
TEST(ClaudeLogFile, ReadsWholeValidLinesOnceEach) {
    const std::string a = Line{.id = "a"}.json();
    const std::string last = Line{.id = "last", .model = "caf\xF0\x9F\x93\x9D", .output = 777}.json();
    const std::string noId = R"({"message":{"usage":{"input_tokens":3}}})"
                             "\n";
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {a + last, {"a:20", "last:777"}},
        {a + last.substr(0, last.find("777") + 2), {"a:20"}},
        {a + last.substr(0, last.find("\xF0") + 3), {"a:20"}},
        {a + R"({"type":"user","text":"caf)" + "\xE0\x80", {}},
        {a + "\xFF\n", {}},
        {Line{.id = "a", .model = "bad\xC3"}.json(), {}},
        {unterminated(Line{.id = "a"}) + "\r\n" + unterminated(Line{.id = "b"}) + "\r" +
             unterminated(Line{.id = "c"}) + "\n\n\r\n" + unterminated(Line{.id = "d"}),
         {"a:20", "b:20", "c:20", "d:20"}},
        {Line{.id = "sep",
              .model = "a\xE2\x80\xA8"
                       "b\xE2\x80\xA9"
                       "c"}
             .json(),
         {"sep:20"}},
        {Line{.id = "r", .output = 10}.json() + Line{.id = "other", .output = 1}.json() +
             Line{.id = "r", .output = 850}.json() + Line{.id = "r", .output = 5}.json(),
         {"r:850", "other:1"}},
        {Line{.id = "r", .input = 5, .output = 5}.json() + Line{.id = "r", .input = 8, .output = 2}.json(),
         {"r:2"}},
        {noId + noId, {":0", ":0"}},
    };
    for (const auto& [text, summary] : cases) {
        EXPECT_EQ(summaryOf(parseOne(text)), summary) << text;
    }
}

} // namespace
} // namespace fernhollow
