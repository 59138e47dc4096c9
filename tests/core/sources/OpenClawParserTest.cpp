#include "core/sources/OpenClawParser.h"

#include "core/ledger/LedgerPass.h"
#include "core/model/ModelPricing.h"
#include "core/sources/OpenClawDatabase.h"
#include "support/LedgerTotals.h"
#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace fernhollow {
namespace {

using test::TempTree;

std::string assistant(std::string_view eventId, std::string_view usage) {
    return R"({"type":"message","id":")" + std::string(eventId) +
           R"(","timestamp":"2026-01-05T10:00:00.000Z","message":{"role":"assistant","model":"m","usage":)" +
           std::string(usage) + "}}\n";
}

void addEvent(sqlite::Database& db, std::string_view session, int seq, std::string line) {
    line.pop_back();
    db.prepare("INSERT INTO transcript_events(session_id, seq, event_json) VALUES(?1, ?2, ?3)")
        .bind(1, session)
        .bind(2, std::int64_t{seq})
        .bind(3, line)
        .run();
}

// Every kind of file and database OpenClaw writes: backups, checkpoints, reset, deleted and broken
// copies; old and new databases; incognito and unknown ones, not read. Each event counts a
// different power of two, so the input total tells an event counted twice or missed.
class OpenClawTree : public testing::Test {
protected:
    void SetUp() override {
        std::filesystem::copy(FERNHOLLOW_TEST_DATA_DIR "/openclaw-tree", tree.root(),
                              std::filesystem::copy_options::recursive);
    }

    ScanResult pass() const {
        ScanResult scanned;
        const auto error =
            passIntoLedger(ledger, UsageSource::openClaw, false,
                           [&](const LogFileStates& known, bool whole, const RecordSink&) {
                               return scanned = OpenClawParser::parseChanged(tree / "agents", known, whole);
                           });
        EXPECT_FALSE(error) << error->what();
        return scanned;
    }

    TempTree tree;
    const std::filesystem::path ledger = tree / "ledger.sqlite3";
    const std::filesystem::path newLayout = tree / "agents/db/agent/openclaw-agent.sqlite";
};

// An idle pass reads nothing. The gateway holds its database open, maybe mid-write: what it
// committed is read without waiting, from where the last pass ended; the rest once committed.
TEST_F(OpenClawTree, EveryEventCountsOnceAndADatabaseInUseIsReadFromWhereTheLastPassEnded) {
    const ScanResult first = pass();
    EXPECT_EQ(test::totalsOf(ledger, UsageSource::openClaw), (test::LedgerTotals{11, 2047, 0, 0}));
    EXPECT_EQ(first.problems, std::vector<std::string>{std::string(openClawFormatNotRecognised)});
    const auto named = [&](std::string_view id) {
        return *std::find_if(first.records.begin(), first.records.end(), [&](const UsageRecord& record) {
            return record.messageId.starts_with("event:" + std::string(id) + "@");
        });
    };
    EXPECT_EQ(named("n2").model, "anthropic/claude-sonnet-4-5");
    EXPECT_EQ(named("n2").sessionId, "n1");
    EXPECT_EQ(ModelPricing::cost(named("l1"), PricingMode::anthropicOfficial), 0.0);
    const ScanResult idle = pass();
    EXPECT_TRUE(idle.changesNothing() && idle.bytesRead == 0 && idle.problems.size() == 1);

    sqlite::Database gateway(newLayout, sqlite::Database::Mode::readWriteCreate);
    addEvent(gateway, "n1", 2, assistant("n3", R"({"input":2048})"));
    addEvent(gateway, "n4", 0, assistant("n4", R"({"input":4096})"));
    gateway
        .prepare("INSERT INTO session_transcript_archives(session_id, generation, archive_blob) "
                 "VALUES('a2', 1, CAST(?1 AS BLOB))")
        .bind(1, assistant("z1", R"({"input":16384})"))
        .run();
    gateway.execute("BEGIN IMMEDIATE");
    addEvent(gateway, "n1", 3, assistant("n5", R"({"input":8192})"));
    EXPECT_EQ(pass().records.size(), 3u);
    gateway.execute("COMMIT");
    EXPECT_EQ(pass().records.size(), 1u);
    EXPECT_EQ(test::totalsOf(ledger, UsageSource::openClaw), (test::LedgerTotals{15, 32767, 0, 0}));
}

} // namespace
} // namespace fernhollow
