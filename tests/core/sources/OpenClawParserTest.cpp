#include "core/sources/OpenClawParser.h"

#include "core/ledger/LedgerPass.h"
#include "core/model/ModelPricing.h"
#include "core/sources/OpenClawDatabase.h"
#include "support/LedgerTotals.h"
#include "support/TempTree.h"

#include <gtest/gtest.h>
#include <zstd.h>

#include <algorithm>

namespace fernhollow {
namespace {

using test::TempTree;

std::string assistant(std::string_view eventId, std::string_view usage, std::string_view extra = "",
                      std::string_view timestamp = "2026-01-05T10:00:00.000Z") {
    return R"({"type":"message","id":")" + std::string(eventId) + R"(","timestamp":")" +
           std::string(timestamp) + R"(","message":{"role":"assistant","model":"m")" + std::string(extra) +
           R"(,"usage":)" + std::string(usage) + "}}\n";
}

std::string zstd(std::string_view text) {
    std::string out(ZSTD_compressBound(text.size()), '\0');
    out.resize(ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 3));
    return out;
}

// An agent database as OpenClaw writes it; the later layout may keep an event compressed only.
void createDatabase(const std::filesystem::path& path, bool compressedLayout) {
    std::filesystem::create_directories(path.parent_path());
    sqlite::Database db(path, sqlite::Database::Mode::readWriteCreate);
    db.execute("PRAGMA journal_mode = WAL");
    db.execute(
        std::string("CREATE TABLE transcript_events(session_id TEXT NOT NULL, seq INTEGER NOT NULL, ") +
        (compressedLayout ? "event_json TEXT, event_zstd BLOB" : "event_json TEXT NOT NULL") +
        ", created_at INTEGER, PRIMARY KEY(session_id, seq));"
        "CREATE TABLE session_transcript_archives(session_id TEXT, generation INTEGER, session_key TEXT, "
        "reason TEXT, encoding TEXT, archive_blob BLOB, archive_name TEXT, created_at INTEGER);"
        "CREATE TABLE session_windows(session_id TEXT PRIMARY KEY, model_provider TEXT, model TEXT)");
}

// Adds a row on `db`; `compressed` keeps the event in event_zstd alone.
void addEvent(sqlite::Database& db, std::string_view session, int seq, std::string line,
              bool compressed = false) {
    line.pop_back();
    db.prepare(
          compressed
              ? "INSERT INTO transcript_events(session_id, seq, event_zstd) VALUES(?1, ?2, CAST(?3 AS BLOB))"
              : "INSERT INTO transcript_events(session_id, seq, event_json) VALUES(?1, ?2, ?3)")
        .bind(1, session)
        .bind(2, std::int64_t{seq})
        .bind(3, compressed ? zstd(line) : line)
        .run();
}

// One tree with every kind of file and database. Each event counts a different power of two,
// so the input total tells an event counted twice, or missed, from the right sum.
class OpenClawTree : public testing::Test {
protected:
    void SetUp() override {
        const std::string e1 = assistant("e1", R"({"input":1})");
        const std::string e2 = assistant("e2", R"({"input":2})");
        tree.write("agents/main/sessions/s1.jsonl", e1 + e2);
        tree.write("agents/main/sessions/s1.checkpoint.c1.jsonl", e1);
        tree.write("agents/main/sessions/s1.jsonl.bak", e1 + e2);
        tree.write("agents/main/sessions/s1.jsonl.pre-doctor-20260801.bak", e2);
        tree.write("agents/main/sessions/s1.jsonl.broken-1754000000", e1);
        tree.write("agents/main/sessions/s0.jsonl.reset.2026-08-01T10-00-00.000Z",
                   assistant("e0", R"({"input":4})"));
        tree.write("agents/main/sessions/s9.jsonl.deleted.2026-08-02T10-00-00.000Z.zst",
                   zstd(assistant("e9", R"({"input":8})")));
        tree.write("agents/main/sessions/s1.trajectory.jsonl", assistant("t1", R"({"input":100000})"));
        tree.write("agents/main/sessions/local.jsonl",
                   assistant("l1", R"({"input":16})", R"(,"provider":"vllm")"));
        // Neither is read: an incognito session's, and one whose tables are not the known ones.
        tree.write("agents/main/agent/incognito-openclaw-agent.sqlite", "");
        tree.write("agents/odd/agent/openclaw-agent.sqlite", "");

        createDatabase(oldLayout, false);
        sqlite::Database old(oldLayout, sqlite::Database::Mode::readWriteCreate);
        addEvent(old, "d1", 1, assistant("d1", R"({"input":32})"));
        addEvent(old, "d1", 2, assistant("d2", R"({"input":64})"));

        createDatabase(newLayout, true);
        sqlite::Database db(newLayout, sqlite::Database::Mode::readWriteCreate);
        addEvent(db, "n1", 0, assistant("n1", R"({"input":128})"));
        addEvent(
            db, "n1", 1,
            R"({"type":"message","id":"n2","timestamp":"2026-01-05T10:00:00Z","message":{"role":"assistant","usage":{"input":256}}})"
            "\n",
            true);
        db.execute("INSERT INTO session_windows VALUES('n1', 'anthropic', 'claude-sonnet-4-5')");
        // A deleted session kept whole in the database and exported to a file beside it.
        const std::string archived =
            assistant("a1", R"({"input":512})") + assistant("a2", R"({"input":1024})");
        db.prepare("INSERT INTO session_transcript_archives(session_id, generation, reason, encoding, "
                   "archive_blob) VALUES('a1', 1, 'deleted', 'zstd', CAST(?1 AS BLOB))")
            .bind(1, zstd(archived))
            .run();
        tree.write("agents/db/sessions/a1.jsonl.deleted.2026-08-03T00-00-00.000Z", archived);
    }

    ScanResult pass() const {
        ScanResult scanned;
        const auto error =
            passIntoLedger(ledger, UsageSource::openClaw, false, [&](const LogFileStates& known, bool whole) {
                return scanned = OpenClawParser::parseChanged(tree / "agents", known, whole);
            });
        EXPECT_FALSE(error) << error->what();
        return scanned;
    }

    TempTree tree;
    const std::filesystem::path ledger = tree / "ledger.sqlite3";
    const std::filesystem::path oldLayout = tree / "agents/main/agent/openclaw-agent.sqlite";
    const std::filesystem::path newLayout = tree / "agents/db/agent/openclaw-agent.sqlite";
};

// Every event counts once; an idle pass reads nothing. The gateway holds its database open and
// may be midway through a write: what it committed is read without waiting for it, from where
// the last pass ended; what it has not is read once it has.
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
    addEvent(gateway, "n4", 0, assistant("n4", R"({"input":4096})"), true);
    gateway.execute("BEGIN IMMEDIATE");
    addEvent(gateway, "n1", 3, assistant("n5", R"({"input":8192})"));
    EXPECT_EQ(pass().records.size(), 2u);
    gateway.execute("COMMIT");
    EXPECT_EQ(pass().records.size(), 1u);
    EXPECT_EQ(test::totalsOf(ledger, UsageSource::openClaw), (test::LedgerTotals{14, 16383, 0, 0}));
}

} // namespace
} // namespace fernhollow
