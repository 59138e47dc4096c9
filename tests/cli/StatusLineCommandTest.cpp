#include "cli/StatusLineCommand.h"
#include "core/common/Folders.h"
#include "core/ledger/Ledger.h"
#include "core/model/IsoDate.h"
#include "support/ManualClock.h"
#include "support/TempTree.h"
#include "support/WithEnv.h"

#include <gtest/gtest.h>

#include <sstream>

namespace fernhollow {
namespace {

// A reply of a million output tokens of Sonnet 4.5: $15.00 each.
std::string reply(const std::string& id, double timestamp, std::size_t textLength = 10) {
    return R"({"type":"assistant","timestamp":")" + isodate::formatUtcWholeSeconds(timestamp) +
           R"(","message":{"id":")" + id +
           R"(","model":"claude-sonnet-4-5","content":[{"type":"text","text":")" +
           std::string(textLength, 'x') + R"("}],"usage":{"input_tokens":0,"output_tokens":1000000}}})";
}

// A transcript's lines the ledger has not counted are added, read a piece at a time: a line
// across two pieces, one longer than a piece, a last one without its line break.
TEST(StatusLineCommand, AddsTheTranscriptLinesTheLedgerHasNotCounted) {
    const test::TempTree home;
    const test::WithEnv data("XDG_DATA_HOME", (home / "data").string());
    const test::WithEnv config("XDG_CONFIG_HOME", (home / "config").string());
    const test::WithEnv zone("TZ", "UTC");
    const test::WithEnv noColour("NO_COLOR", "1");
    const test::ManualClock clock(*isodate::parseInternetDateTime("2026-03-01T12:00:00Z"));
    const double earlier = clock.seconds - 600;
    {
        Ledger ledger(Folders::data() / Ledger::fileName);
        UsageRecord counted;
        counted.messageId = "counted";
        counted.timestamp = earlier;
        counted.model = "claude-sonnet-4-5";
        counted.sessionId = "live";
        counted.outputTokens = 1'000'000;
        ledger.apply({UsageSource::claudeCode, RecordRule::keepLarger, {counted}, {}, {}});
    }
    const std::string transcript = reply("counted", earlier) + "\n" + reply("across", earlier, 250'000) +
                                   "\n" + reply("long", earlier, 600'000) + "\n" + reply("last", earlier);
    const auto path = home.write("projects/p/live.jsonl", transcript);

    std::istringstream in(R"({"session_id":"live","transcript_path":")" + path.string() +
                          R"(","model":{"display_name":"Sonnet 4.5"}})");
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(runStatusLineCommand({}, in, out, err, clock), 0);
    EXPECT_EQ(out.str().substr(0, out.str().find(" \u00b7 ", out.str().find("today"))),
              "Sonnet 4.5 \u00b7 session $60.00 \u00b7 today $60.00")
        << out.str();
}

} // namespace
} // namespace fernhollow
