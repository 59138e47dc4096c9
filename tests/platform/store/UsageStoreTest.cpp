#include "platform/store/UsageStore.h"

#include "core/model/IsoDate.h"
#include "core/model/ModelPricing.h"
#include "platform/settings/AppSettings.h"
#include "platform/system/Keychain.h"
#include "platform/system/QtLocalCalendar.h"
#include "support/FakeNotificationServer.h"
#include "support/LocalHttpServer.h"
#include "support/TempTree.h"

#include "support/ManualClock.h"
#include "support/MemoryPreferences.h"

#include <QCoroTask>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <utility>

namespace fernhollow {
namespace {

using test::ManualClock;
using test::MemoryPreferences;
using test::TempTree;

// One assistant reply worth `input` million Sonnet input tokens, i.e. 3 dollars a million.
std::string reply(std::string_view id, std::int64_t input, std::string_view timestamp) {
    return R"({"type":"assistant","timestamp":")" + std::string(timestamp) + R"(","message":{"id":")" +
           std::string(id) + R"(","model":"claude-sonnet-4-5","usage":{"input_tokens":)" +
           std::to_string(input) + "}}}\n";
}

class UsageStoreTest : public testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(tree / "data");
        QCoro::waitFor(Keychain::remove(QString::fromLatin1(Keychain::openAIAccount)));
    }
    void TearDown() override {
        QCoro::waitFor(Keychain::remove(QString::fromLatin1(Keychain::openAIAccount)));
        qunsetenv("FERNHOLLOW_OPENAI_BASE_URL");
        qunsetenv("FERNHOLLOW_LITELLM_BASE_URL");
        qunsetenv("FERNHOLLOW_HTTP_TIMEOUT_MS");
        ModelPricing::setRemoteRates({});
    }

    std::unique_ptr<UsageStore> makeStore(bool interactive = false) {
        UsageStore::Options options;
        options.claudeProjectsRoots = {tree / "claude"};
        options.openClawStateFolder = tree / "openclaw";
        options.interactive = interactive;
        options.refreshInterval = std::chrono::milliseconds(50);
        options.ledgerPath = ledgerPath();
        return std::make_unique<UsageStore>(settings, network, calendar, options, clock);
    }

    static void storeKey(const char* key) {
        ASSERT_TRUE(QCoro::waitFor(
            Keychain::set(QString::fromLatin1(key), QString::fromLatin1(Keychain::openAIAccount))));
    }

    std::filesystem::path ledgerPath() const { return tree / "data/ledger.sqlite3"; }

    TempTree tree;
    ManualClock clock{*isodate::parseInternetDateTime("2026-03-10T12:00:00Z")};
    QtLocalCalendar calendar{QTimeZone::utc()};
    MemoryPreferences preferences;
    AppSettings settings{preferences, clock, QTimeZone::utc()};
    QNetworkAccessManager network;
};

// A damaged ledger is set aside and refilled from the logs, a folder added in the settings
// with the others, and an OpenClaw database whose tables are not the known ones is told in the
// source's row.
TEST_F(UsageStoreTest, SetsADamagedLedgerAsideAndTellsWhatItCannotRead) {
    tree.write("claude/p/s.jsonl", reply("a", 1000, "2026-03-10T09:00:00Z"));
    tree.write("work/projects/q/t.jsonl", reply("b", 1000, "2026-03-10T10:00:00Z"));
    tree.write("openclaw/main/agent/openclaw-agent.sqlite", "");
    tree.write("data/ledger.sqlite3", std::string(4096, '\x17'));
    settings.setClaudeFolders({QString::fromStdString((tree / "work").string())});
    const auto store = makeStore();
    QCoro::waitFor(store->refresh());
    ASSERT_TRUE(store->ledgerError().has_value());
    EXPECT_NE(store->ledgerError()->find("was damaged"), std::string::npos);
    EXPECT_EQ(store->recordCount(UsageSource::claudeCode), 2);
    EXPECT_EQ(store->claudeFolderRecords().back().records, 1);
    EXPECT_EQ(store->sourceProblems(UsageSource::openClaw),
              std::vector<std::string>{"OpenClaw database format not recognised"});
    int setAside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(tree / "data")) {
        setAside += entry.path().filename().string().starts_with("ledger.sqlite3.damaged-") ? 1 : 0;
    }
    EXPECT_EQ(setAside, 1);
}

// What the logs no longer hold stays in the ledger, in a restart's first figures and through a
// rescan, until the history is forgotten.
TEST_F(UsageStoreTest, KeepsWhatTheLogsNoLongerHoldUntilTheHistoryIsForgotten) {
    const auto log = tree.write("claude/p/s.jsonl", reply("a", 1000, "2026-03-10T09:00:00Z"));
    tree.write(
        "openclaw/main/sessions/t.jsonl",
        R"({"id":"e1","timestamp":"2026-03-10T08:00:00Z","message":{"role":"assistant","model":"gpt-4.1","usage":{"input":5}}})"
        "\n");
    const double todayUSD = 0.003 + 5 * 2.0 / 1e6;
    {
        const auto store = makeStore();
        QCoro::waitFor(store->refresh());
        EXPECT_DOUBLE_EQ(store->snapshot().todayUSD, todayUSD);
    }
    // OpenClaw prunes old sessions; Claude's log is rewritten with its size and time kept, so only
    // a rescan sees the new reply.
    std::filesystem::remove_all(tree / "openclaw");
    const auto mtime = std::filesystem::last_write_time(log);
    tree.write("claude/p/s.jsonl", reply("b", 1000, "2026-03-10T09:00:00Z"));
    std::filesystem::last_write_time(log, mtime);
    const auto store = makeStore();
    EXPECT_DOUBLE_EQ(store->snapshot().todayUSD, todayUSD) << "before any pass";
    const auto counts = [&] {
        return std::pair<int, int>(store->recordCount(UsageSource::claudeCode),
                                   store->recordCount(UsageSource::openClaw));
    };
    QCoro::waitFor(store->refresh());
    EXPECT_EQ(counts(), std::pair(1, 1));
    QCoro::waitFor(store->forceFullRescan());
    EXPECT_EQ(counts(), std::pair(2, 1)) << "a and b, and the pruned session's";
    QCoro::waitFor(store->forgetHistory());
    EXPECT_EQ(counts(), std::pair(1, 0)) << "only what the logs still hold";
}

TEST_F(UsageStoreTest, AnIdlePassWritesNothingButMovesTheFiguresOn) {
    tree.write("claude/p/s.jsonl", reply("a", 1000, "2026-03-10T11:00:00Z"));
    const auto store = makeStore();
    QCoro::waitFor(store->refresh());
    EXPECT_DOUBLE_EQ(store->snapshot().todayUSD, 0.003);
    const auto before = test::readFile(ledgerPath().string() + "-wal");
    clock.seconds += 86'400;
    QCoro::waitFor(store->refresh());
    EXPECT_EQ(test::readFile(ledgerPath().string() + "-wal"), before);
    EXPECT_EQ(store->snapshot().todayUSD, 0.0);
    EXPECT_EQ(store->recordCount(UsageSource::claudeCode), 1);
}

// The catalogue is synced once per run, even when the sync failed, and only with the setting on.
TEST_F(UsageStoreTest, KeepsTheOpenAIUsageOfEveryFetchThatWorkedAndSyncsTheCatalogueOnce) {
    storeKey("sk-admin-store-test");
    const test::LocalHttpServer catalogue({.status = 500, .reason = "Server Error"});
    qputenv("FERNHOLLOW_LITELLM_BASE_URL", catalogue.baseUrl().toUtf8());
    const test::LocalHttpServer good(
        {.body =
             R"({"data":[{"start_time":1773100800,"results":[{"model":"gpt-4o","input_tokens":1000}]}]})"});
    const test::LocalHttpServer bad({.status = 500, .reason = "Server Error", .body = "down"});
    const auto store = makeStore();

    qputenv("FERNHOLLOW_OPENAI_BASE_URL", good.baseUrl().toUtf8());
    QCoro::waitFor(store->refresh());
    EXPECT_TRUE(catalogue.requests().empty());
    settings.setSyncRemotePricing(true);
    QCoro::waitFor(store->refresh());
    EXPECT_EQ(store->recordCount(UsageSource::openAI), 1) << "a refetched bucket replaces itself";
    EXPECT_EQ(store->openaiError(), std::nullopt);

    qputenv("FERNHOLLOW_OPENAI_BASE_URL", bad.baseUrl().toUtf8());
    QCoro::waitFor(store->refresh());
    EXPECT_EQ(store->recordCount(UsageSource::openAI), 1);
    EXPECT_EQ(store->openaiError(), "OpenAI HTTP 500: down");

    // Without a key (an empty one counts as none) nothing is asked, and the error goes.
    storeKey("");
    QCoro::waitFor(store->refresh());
    EXPECT_EQ(good.requests().size(), 2u);
    EXPECT_EQ(store->openaiError(), std::nullopt);
    EXPECT_EQ(store->recordCount(UsageSource::openAI), 1);
    EXPECT_EQ(catalogue.requests().size(), 1u);
}

// Which rise alerts is the budget rule's test, and when a local day ends the settings' own.
TEST_F(UsageStoreTest, AlertsOncePerLocalDayOnARiseIntoALevel) {
    test::FakeNotificationServer notifications;
    ASSERT_TRUE(notifications.isRegistered());
    // 150 dollars of this month's spend (a prompt past 200k tokens: $6 a million) against a
    // 200-dollar budget: warn (75 %).
    tree.write("claude/p/s.jsonl", reply("a", 25'000'000, "2026-03-10T09:00:00Z"));
    clock.seconds = *isodate::parseInternetDateTime("2026-03-10T23:50:00Z");
    auto store = makeStore(true);
    // An interactive store passes on its own once created, and again on its timer.
    QSignalSpy passes(store.get(), &UsageStore::lastRefreshChanged);
    EXPECT_TRUE(passes.wait(5000));
    EXPECT_TRUE(passes.wait(5000));
    const auto settle = [&] {
        QCoro::waitFor(store->refresh());
        QTest::qWait(100);
    };
    settle();
    ASSERT_EQ(store->status(), BudgetStatus::warn);
    ASSERT_EQ(notifications.received().size(), 1u);
    EXPECT_EQ(notifications.received()[0].summary,
              QStringLiteral("⚠️ Fernhollow — 75% of monthly budget used"));
    EXPECT_EQ(settings.lastWarnFiredISO(), QStringLiteral("2026-03-10T23:50:00Z"));

    settings.setMonthlyBudgetUSD(1000); // a fall ...
    settle();
    EXPECT_EQ(store->status(), BudgetStatus::ok);
    settings.setMonthlyBudgetUSD(200); // ... and a rise again the same day: no second alert
    clock.seconds = *isodate::parseInternetDateTime("2026-03-10T23:55:00Z");
    settle();
    EXPECT_EQ(store->status(), BudgetStatus::warn);
    EXPECT_EQ(notifications.received().size(), 1u);

    // A headless store, the command line's, never alerts, not even on a rise into a new level.
    store.reset();
    const auto headless = makeStore(false);
    settings.setMonthlyBudgetUSD(100);
    QCoro::waitFor(headless->refresh());
    QTest::qWait(100);
    EXPECT_EQ(headless->status(), BudgetStatus::over);
    EXPECT_EQ(notifications.received().size(), 1u);
    EXPECT_TRUE(settings.lastEmergencyFiredISO().isEmpty());
}

TEST_F(UsageStoreTest, OverlappingPassesBothLand) {
    storeKey("sk-admin-store-test");
    test::LocalHttpServer slow({.neverAnswer = true});
    qputenv("FERNHOLLOW_OPENAI_BASE_URL", slow.baseUrl().toUtf8());
    qputenv("FERNHOLLOW_HTTP_TIMEOUT_MS", "400");
    tree.write("claude/p/s.jsonl", reply("a", 1000, "2026-03-10T09:00:00Z"));
    const auto store = makeStore();
    auto first = store->refresh();
    tree.append("claude/p/s.jsonl", reply("b", 1000, "2026-03-10T09:05:00Z"));
    auto second = store->refresh();
    QCoro::waitFor(std::move(first));
    QCoro::waitFor(std::move(second));
    EXPECT_EQ(store->recordCount(UsageSource::claudeCode), 2);
    EXPECT_FALSE(store->isRefreshing());
    EXPECT_TRUE(store->openaiError().has_value());
}

} // namespace
} // namespace fernhollow
