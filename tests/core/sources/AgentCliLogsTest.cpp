#include "core/ledger/LedgerPass.h"
#include "core/sources/CodexParser.h"
#include "core/sources/GeminiParser.h"

#include "support/LedgerTotals.h"
#include "support/TempTree.h"

#include <gtest/gtest.h>

namespace fernhollow {
namespace {

using test::LedgerTotals;
namespace fs = std::filesystem;

using Parse = ScanResult (*)(const fs::path&, const LogFileStates&, bool, ScanProgress*);

struct AgentCase {
    const char* name;
    UsageSource source;
    Parse parse;
    fs::path root;
    LedgerTotals expected;
};

// Each turn or message of every shape the agents write shows up exactly once in the totals.
TEST(AgentCliLogs, EveryTurnCountsOnceAndAnIdlePassReadsNothing) {
    const AgentCase cases[] = {
        // A session with a null info, a re-emitted total, a counter reset and a context-size
        // event (3 turns); the same session archived; a fork and a sibling fork and a resumed
        // copy without a marker, each repeating that history before a turn of its own; a
        // rollout without turn contexts; a legacy rollout without usage.
        {"Codex",
         UsageSource::codex,
         CodexParser::parseChanged,
         FERNHOLLOW_TEST_DATA_DIR "/codex-home",
         {7, 3000, 500, 2000}},
        // A document whose reply is written twice, lines with an update line and a reply
        // written twice, and a sub-agent's document.
        {"Gemini",
         UsageSource::gemini,
         GeminiParser::parseChanged,
         FERNHOLLOW_TEST_DATA_DIR "/gemini-home/.gemini/tmp",
         {3, 1230, 360, 400}},
    };
    for (const AgentCase& c : cases) {
        SCOPED_TRACE(c.name);
        const test::TempTree tree;
        const fs::path ledger = tree / "ledger.sqlite3";
        bool readSomething = false;
        const auto pass = [&] {
            const auto error = passIntoLedger(
                ledger, c.source, false, [&](const LogFileStates& known, bool whole, const RecordSink&) {
                    const ScanResult result = c.parse(c.root, known, whole, nullptr);
                    readSomething = !result.changesNothing();
                    return result;
                });
            ASSERT_FALSE(error) << error->what();
        };
        pass();
        EXPECT_EQ(test::totalsOf(ledger, c.source), c.expected);
        pass();
        EXPECT_FALSE(readSomething);
        EXPECT_EQ(test::totalsOf(ledger, c.source), c.expected);
    }
}

TEST(AgentCliLogs, CodexTurnsKeepTheirModelAndProject) {
    simdjson::dom::parser parser;
    const auto text =
        test::readFile(FERNHOLLOW_TEST_DATA_DIR
                       "/codex-home/sessions/2025/06/01/rollout-2025-06-01T10-00-00-0197-eeee.jsonl");
    ASSERT_TRUE(text);
    const simdjson::padded_string padded(*text);
    const auto records = CodexParser::readRollout(padded, parser);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(
        std::tuple(records[0].model.str(), records[0].projectPath.str(), records[0].sessionId.str(),
                   records[0].timestamp),
        std::tuple(std::string(CodexParser::assumedModel), "-home-dev-beta", "0197-eeee", 1748772005.0));
}

} // namespace
} // namespace fernhollow
