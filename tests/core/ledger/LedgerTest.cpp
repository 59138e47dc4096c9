#include "core/ledger/LedgerPass.h"
#include "core/ledger/LegacyImport.h"
#include "core/ledger/StateFile.h"
#include "core/sources/CCUsageParser.h"

#include "support/LedgerTotals.h"
#include "support/SaveFaults.h"
#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

namespace fernhollow {
namespace {

namespace fs = std::filesystem;
using test::TempTree;

// A Claude Code reply of fixed length, so that a log's read end tells how many lines it holds.
std::string reply(std::string_view id, int output, std::string_view session = "s") {
    char line[200];
    std::snprintf(
        line, sizeof line,
        R"({"type":"assistant","sessionId":"%.8s","message":{"id":"%.12s","model":"claude-sonnet-4-5",)"
        R"("usage":{"input_tokens":1,"output_tokens":%6d}},"timestamp":"2026-03-01T10:00:00Z"})"
        "\n",
        std::string(session).c_str(), std::string(id).c_str(), output);
    return line;
}

// A Sonnet record of one input token, as the app's own log "s" of project "app" would give it.
UsageRecord record(std::string messageId, double timestamp, std::int64_t output) {
    UsageRecord r;
    r.messageId = std::move(messageId);
    r.timestamp = timestamp;
    r.model = "claude-sonnet-4-5";
    r.inputTokens = 1;
    r.outputTokens = output;
    r.projectPath = "-home-dev-app";
    r.sessionId = "s";
    return r;
}

using test::LedgerTotals;
using test::totalsOf;

class LedgerTest : public testing::Test {
public:
    fs::path ledgerPath() const { return tree / "ledger.sqlite3"; }
    fs::path log(std::string_view name) const { return tree / "projects" / "-home-dev-app" / name; }

    void write(std::string_view name, const std::string& content) const {
        tree.write(("projects/-home-dev-app/" + std::string(name)), content);
    }
    void append(std::string_view name, const std::string& content) const {
        std::ofstream(log(name), std::ios::binary | std::ios::app) << content;
    }

    std::optional<sqlite::Error> tryPass(bool wholeFiles = false) const {
        return passIntoLedger(ledgerPath(), UsageSource::claudeCode, wholeFiles,
                              [this](const LogFileStates& known, bool whole, const RecordSink& sink) {
                                  const fs::path root = tree / "projects";
                                  return CCUsageParser::parseChanged(std::span(&root, 1), known, whole,
                                                                     nullptr, sink);
                              });
    }

    void pass(bool wholeFiles = false) const {
        const auto error = tryPass(wholeFiles);
        ASSERT_FALSE(error) << error->what();
    }

    TempTree tree;
};

// Each row: a log as first read, what then happens to it, and what the ledger holds after the
// next pass. Lines of equal length keep file sizes equal where a row needs it.
TEST_F(LedgerTest, ARecordOnceCountedStaysCountedAndTheLargerCopyWins) {
    using Then = std::function<void(const LedgerTest&)>;
    const auto rewrite = [](std::string text, std::string name = "s.jsonl") -> Then {
        return [=](const LedgerTest& t) { t.write(name, text); };
    };
    const auto add = [](std::string text) -> Then {
        return [=](const LedgerTest& t) { t.append("s.jsonl", text); };
    };
    const Then deleted = [](const LedgerTest& t) { fs::remove(t.log("s.jsonl")); };
    const Then shortened = [](const LedgerTest& t) { fs::resize_file(t.log("s.jsonl"), 10); };
    const std::string a = reply("a", 10);
    const std::string a50 = reply("a", 50);
    const std::string ab = a + reply("b", 20);
    const std::string three = ab + reply("c", 30);
    const std::tuple<const char*, std::string, Then, bool, LedgerTotals> cases[] = {
        {"rewritten holding only its last reply", three, rewrite(reply("c", 30)), false, {3, 3, 60}},
        {"shortened", three, shortened, false, {3, 3, 60}},
        {"deleted", three, deleted, false, {3, 3, 60}},
        {"deleted, then a forced rescan", three, deleted, true, {3, 3, 60}},
        {"a streamed copy with more tokens appended", a, add(a50), false, {1, 1, 50}},
        {"rewritten with a smaller copy", a50, rewrite(a), false, {1, 1, 50}},
        {"rewritten with a smaller copy, then a forced rescan", a50, rewrite(a), true, {1, 1, 10}},
        {"rewritten before its end, same size", ab, rewrite(a + reply("x", 20)), false, {3, 3, 50}},
        {"the same message in a second log", a, rewrite(reply("a", 10, "t"), "t.jsonl"), false, {1, 1, 10}},
        {"a reply appended", a, add(reply("b", 5)), false, {2, 2, 15}},
    };
    for (const auto& [name, first, then, wholeFiles, expected] : cases) {
        fs::remove_all(tree / "projects");
        Ledger(ledgerPath()).forget();
        write("s.jsonl", first);
        pass();
        then(*this);
        pass(wholeFiles);
        EXPECT_EQ(totalsOf(ledgerPath()), expected) << name;
    }
}

// A first pass is large enough to build the indexes after its records, and a merge of other
// machines' records to append them; they must leave the indexes, totals and journal as small ones would.
TEST_F(LedgerTest, LargeWritesLeaveTheIndexesTheyBuiltAfterTheirRecords) {
    LedgerBatch large{UsageSource::claudeCode, RecordRule::keepLarger, {}, {}, {}};
    for (int i = 0; i < 50'000; ++i) {
        UsageRecord& record = large.records.emplace_back();
        record.messageId = std::to_string(i);
        record.timestamp = 1772359200 + i;
        record.sessionId = "s" + std::to_string(i % 7);
        record.outputTokens = 1;
    }
    const auto shared = [](int first, int count) {
        SharedBatch made{1,  {"model", "project", "session"}, {{}}, "machine-" + std::to_string(first), {},
                         0.0};
        for (int i = first; i < first + count; ++i) {
            made.blocks[0].push_back({i, 0, 1772359200000LL + i, 0, 1, 2, {0, 1, 0, 0, 0}, 0, 0});
        }
        return made;
    };
    {
        Ledger ledger(ledgerPath());
        ledger.apply(large);
        // The second batch overlaps the first by 10,000 records.
        const SharedBatch batches[] = {shared(100'000, 70'000), shared(160'000, 45'000)};
        std::size_t taken = 0;
        ledger.mergeShared([&]() -> std::optional<SharedBatch> {
            return taken < std::size(batches) ? std::optional(batches[taken++]) : std::nullopt;
        });
        EXPECT_EQ(fs::file_size(ledgerPath().string() + "-wal"), 0u) << "the merge's journal goes with it";
    }
    EXPECT_EQ(totalsOf(ledgerPath()), (LedgerTotals{155'000, 0, 155'000, 0}));
    sqlite::Database db(ledgerPath(), sqlite::Database::Mode::readOnly);
    auto indexes =
        db.prepare("SELECT group_concat(sql, '; ') FROM sqlite_master WHERE name LIKE 'records_by_%'");
    ASSERT_TRUE(indexes.step());
    EXPECT_EQ(indexes.text(0), "CREATE INDEX records_by_time ON records(at); "
                               "CREATE INDEX records_by_session ON records(session, at)");
    indexes.run();
}

TEST_F(LedgerTest, APassWithNothingChangedWritesNothing) {
    write("s.jsonl", reply("a", 10));
    pass();
    const auto before = test::readFile(ledgerPath());
    const auto time = fs::last_write_time(ledgerPath());
    pass();
    EXPECT_EQ(test::readFile(ledgerPath()), before);
    EXPECT_EQ(fs::last_write_time(ledgerPath()), time);
    EXPECT_FALSE(fs::exists(ledgerPath().string() + "-wal") &&
                 fs::file_size(ledgerPath().string() + "-wal") > 0);
}

TEST_F(LedgerTest, AnOldStateFileIsImportedOnceAndItsRecordsAreNotCountedTwice) {
    // One reply still in its log, one whose log is gone, one without an id.
    const PersistedState state{
        {record("a", 1772359200, 10), record("gone", 1772359200, 7), record("", 1772359201, 3)}, {}};
    const fs::path stateFile = tree.write("state.json", encodeState(state));
    ASSERT_TRUE(importLegacyState(ledgerPath(), stateFile));
    EXPECT_FALSE(importLegacyState(ledgerPath(), stateFile)) << "once only";
    EXPECT_TRUE(fs::exists(stateFile)) << "left where it is";
    EXPECT_EQ(totalsOf(ledgerPath()), (LedgerTotals{3, 3, 20}));

    write("s.jsonl", reply("a", 10));
    pass();
    EXPECT_EQ(totalsOf(ledgerPath()), (LedgerTotals{3, 3, 20}));
}

TEST_F(LedgerTest, AProcessKilledDuringPassesLeavesEachPassWholeOrNotAtAll) {
    constexpr int logs = 8;
    // Ids of one length, so that every line is as long.
    const auto line = [](int n) { return reply(std::to_string(1'000'000 + n), 1); };
    const std::size_t lineLength = line(0).size();
    std::mt19937 random(20261206);
    int nextLine = 0;
    fs::create_directories(log("").parent_path());
    for (int kill = 0; kill < 100; ++kill) {
        // Now and then a pass large enough to write its records twice while it still reads.
        const bool large = kill % 10 == 0;
        if (large) {
            for (int log = 0; log < logs; ++log) {
                std::string lines;
                for (int n = 0; n < 4'200; ++n) {
                    lines += line(nextLine++);
                }
                append("log" + std::to_string(log) + ".jsonl", lines);
            }
        }
        const pid_t child = ::fork();
        if (child == 0) {
            pass();
            for (int n = nextLine;; ++n) {
                append("log" + std::to_string(n % logs) + ".jsonl", line(n));
                pass();
            }
        }
        ::usleep(large ? 1'000 + random() % 150'000 : 2'000 + random() % 20'000);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        nextLine += 1'000; // ids of a killed child's lines are never reused

        // Every log's read end counts whole lines, and the ledger holds exactly the records of
        // the lines read: a pass's records and its log states commit together.
        Ledger ledger(ledgerPath());
        std::int64_t linesRead = 0;
        for (const auto& [path, state] : ledger.fileStates(UsageSource::claudeCode)) {
            ASSERT_EQ(state.readEnd % lineLength, 0u) << path;
            linesRead += static_cast<std::int64_t>(state.readEnd / lineLength);
        }
        ASSERT_EQ(totalsOf(ledgerPath()).records, linesRead) << "after kill " << kill;
    }
}

TEST_F(LedgerTest, TwoProcessesPassingAtOnceCountEachMessageOnce) {
    for (int n = 0; n < 200; ++n) {
        const std::string name = "log" + std::to_string(n % 20) + ".jsonl";
        if (n < 20) {
            write(name, "");
        }
        append(name, reply(std::to_string(n), 1));
    }
    const auto passes = [this] {
        for (int round = 0; round < 10; ++round) {
            pass(round % 2 == 1);
        }
    };
    const pid_t other = ::fork();
    if (other == 0) {
        passes();
        ::_exit(testing::Test::HasFailure() ? 1 : 0);
    }
    passes();
    int status = 0;
    ::waitpid(other, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(totalsOf(ledgerPath()), (LedgerTotals{200, 200, 200}));
}

TEST_F(LedgerTest, APassThatMeetsAFullDiskOrAReadOnlyFolderFailsWholeAndALaterOneSucceeds) {
    write("s.jsonl", reply("a", 1));
    pass();
    std::int64_t replies = 1;
    for (const auto fault : {test::SaveFault::readOnlyFolder, test::SaveFault::fullDisk}) {
        SCOPED_TRACE(test::name(fault));
        for (int n = 0; n < 200; ++n) {
            append("s.jsonl", reply(std::to_string(++replies), 1));
        }
        test::whileSavingFails(fault, tree.root(), 4096, [this] { EXPECT_TRUE(tryPass().has_value()); });
        EXPECT_EQ(totalsOf(ledgerPath()).records, replies - 200) << "nothing of the failed pass";
        pass();
        EXPECT_EQ(totalsOf(ledgerPath()).records, replies);
    }
}

} // namespace
} // namespace fernhollow
