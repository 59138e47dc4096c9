#include "platform/store/UsageStore.h"

#include "core/model/IsoDate.h"
#include "core/model/ModelPricing.h"
#include "platform/system/QtLocalCalendar.h"
#include "platform/settings/AppSettings.h"
#include "core/sources/CCUsageParser.h"
#include "platform/system/Keychain.h"
#include "platform/store/PersistenceStore.h"
#include "support/FakeNotificationServer.h"
#include "support/LocalHttpServer.h"
#include "support/SaveFaults.h"
#include "support/TempTree.h"

#include "support/ManualClock.h"
#include "support/MemoryPreferences.h"

#include <QCoroTask>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <map>

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

std::string usagePage(std::int64_t input) {
    return R"({"data":[{"start_time":1773100800,"results":[{"model":"gpt-4o","input_tokens":)" +
           std::to_string(input) + "}]}]}";
}

// Holds the OpenClaw scan of every pass started meanwhile in open() of a new log, until
// released: a write lease makes any other open wait for its holder. The lease's break signal
// is ours to ignore, and the pool needs a thread beyond the held one.
class HeldOpenClawScan {
public:
    explicit HeldOpenClawScan(const TempTree& tree)
        : log_(tree.write("openclaw/main/sessions/held.jsonl", "")),
          lease_(::open(log_.c_str(), O_RDONLY | O_CLOEXEC)) {
        EXPECT_GE(lease_, 0);
        EXPECT_EQ(::fcntl(lease_, F_SETLEASE, F_WRLCK), 0) << std::strerror(errno);
        QThreadPool::globalInstance()->setMaxThreadCount(std::max(previousThreads_, 3));
    }
    ~HeldOpenClawScan() {
        release();
        QThreadPool::globalInstance()->setMaxThreadCount(previousThreads_);
        std::signal(SIGIO, previousSigio_);
    }
    HeldOpenClawScan(const HeldOpenClawScan&) = delete;
    HeldOpenClawScan& operator=(const HeldOpenClawScan&) = delete;

    // Waits until a scan is held.
    bool waitForScan() const {
        return QTest::qWaitFor([this] { return ::fcntl(lease_, F_GETLEASE) != F_WRLCK; });
    }
    void release() {
        if (lease_ >= 0) {
            ::fcntl(lease_, F_SETLEASE, F_UNLCK);
            ::close(lease_);
            lease_ = -1;
        }
    }

private:
    const std::filesystem::path log_;
    const decltype(SIG_IGN) previousSigio_ = std::signal(SIGIO, SIG_IGN);
    const int previousThreads_ = QThreadPool::globalInstance()->maxThreadCount();
    int lease_;
};

class UsageStoreTest : public testing::Test {
protected:
    void SetUp() override {
        PersistenceStore::clear();
        QCoro::waitFor(Keychain::remove(QString::fromLatin1(Keychain::openAIAccount)));
    }
    void TearDown() override {
        QCoro::waitFor(Keychain::remove(QString::fromLatin1(Keychain::openAIAccount)));
        qunsetenv("FERNHOLLOW_OPENAI_BASE_URL");
        qunsetenv("FERNHOLLOW_LITELLM_BASE_URL");
        ModelPricing::setRemoteRates({});
        PersistenceStore::clear();
    }

    std::unique_ptr<UsageStore> makeStore(bool interactive = false) {
        UsageStore::Options options;
        options.claudeProjectsRoot = tree / "claude";
        options.openClawAgentsRoot = tree / "openclaw";
        options.interactive = interactive;
        options.refreshInterval = std::chrono::milliseconds(50);
        return std::make_unique<UsageStore>(settings, network, calendar, options, clock);
    }

    static void storeKey(const char* key) {
        ASSERT_TRUE(QCoro::waitFor(
            Keychain::set(QString::fromLatin1(key), QString::fromLatin1(Keychain::openAIAccount))));
    }

    TempTree tree;
    ManualClock clock{*isodate::parseInternetDateTime("2026-03-10T12:00:00Z")};
    QtLocalCalendar calendar{QTimeZone::utc()};
    MemoryPreferences preferences;
    AppSettings settings{preferences, clock, QTimeZone::utc()};
    QNetworkAccessManager network;
};

TEST_F(UsageStoreTest, AFirstPassWithNothingToReadLeavesAnEmptySettledStore) {
    const auto store = makeStore();
    QCoro::waitFor(store->refresh());
    EXPECT_TRUE(store->records().empty());
    EXPECT_TRUE(store->openclawRecords().empty());
    EXPECT_TRUE(store->openaiRecords().empty());
    EXPECT_EQ(store->lastRefresh(), clock.seconds);
    EXPECT_EQ(store->openaiError(), std::nullopt);
    EXPECT_FALSE(store->isRefreshing());
    EXPECT_EQ(store->status(), BudgetStatus::ok);
}

TEST_F(UsageStoreTest, ReadsBothLogSourcesSortedAndCachesTheClaudeCodePart) {
    tree.write("claude/p/s.jsonl",
               reply("b", 1000, "2026-03-10T10:00:00Z") + reply("a", 2000, "2026-03-10T09:00:00Z"));
    tree.write(
        "openclaw/main/sessions/t.jsonl",
        R"({"id":"e1","timestamp":"2026-03-10T08:00:00Z","message":{"role":"assistant","model":"gpt-4.1","usage":{"input":5}}})"
        "\n");
    {
        const auto store = makeStore();
        QSignalSpy changes(store.get(), &UsageStore::recordsChanged);
        QCoro::waitFor(store->refresh());
        ASSERT_EQ(store->records().size(), 2u);
        EXPECT_EQ(store->records()[0].messageId, "a");
        EXPECT_EQ(store->openclawRecords().size(), 1u);
        EXPECT_GE(changes.count(), 1);
        EXPECT_DOUBLE_EQ(store->snapshot().todayUSD, 0.009 + 5 * 2.0 / 1e6);
    } // the store waits for its background save when it goes
    const auto cached = PersistenceStore::load();
    ASSERT_TRUE(cached);
    EXPECT_EQ(cached->records.size(), 2u);

    // A new store starts from the cache, before any pass.
    const auto restarted = makeStore();
    EXPECT_EQ(restarted->records().size(), 2u);
    EXPECT_TRUE(restarted->openclawRecords().empty());
}

TEST_F(UsageStoreTest, AnIdlePassWritesNoCacheButMovesTheFiguresOn) {
    // Written a minute ago: a file written within the last seconds is read again.
    TempTree::shiftMtime(tree.write("claude/p/s.jsonl", reply("a", 1000, "2026-03-10T11:00:00Z")),
                         -std::chrono::minutes(1));
    {
        const auto store = makeStore();
        QCoro::waitFor(store->refresh());
        ASSERT_TRUE(QTest::qWaitFor([] { return std::filesystem::exists(PersistenceStore::stateURL()); }));
        std::filesystem::remove(PersistenceStore::stateURL());

        clock.seconds += 86'400;
        QCoro::waitFor(store->refresh());
        EXPECT_EQ(store->records().size(), 1u);
        EXPECT_EQ(store->snapshot().todayUSD, 0.0);
    } // the store waits for its background saves when it goes
    EXPECT_FALSE(std::filesystem::exists(PersistenceStore::stateURL()));
}

// An empty stored key counts as none.
TEST_F(UsageStoreTest, KeepsTheLastOpenAIUsageWhileAFetchFailsAndDropsItWithTheKey) {
    storeKey("sk-admin-store-test");
    const test::LocalHttpServer good({.body = QByteArray::fromStdString(usagePage(1000))});
    const test::LocalHttpServer bad({.status = 500, .reason = "Server Error", .body = "down"});
    const auto store = makeStore();

    qputenv("FERNHOLLOW_OPENAI_BASE_URL", good.baseUrl().toUtf8());
    QCoro::waitFor(store->refresh());
    ASSERT_EQ(store->openaiRecords().size(), 1u);
    EXPECT_EQ(store->openaiError(), std::nullopt);

    qputenv("FERNHOLLOW_OPENAI_BASE_URL", bad.baseUrl().toUtf8());
    QCoro::waitFor(store->refresh());
    EXPECT_EQ(store->openaiRecords().size(), 1u);
    EXPECT_EQ(store->openaiError(), "OpenAI HTTP 500: down");

    qputenv("FERNHOLLOW_OPENAI_BASE_URL", good.baseUrl().toUtf8());
    QCoro::waitFor(store->refresh());
    EXPECT_EQ(store->openaiError(), std::nullopt);

    QCoro::waitFor(Keychain::remove(QString::fromLatin1(Keychain::openAIAccount)));
    QCoro::waitFor(store->refresh());
    EXPECT_TRUE(store->openaiRecords().empty());
    storeKey("");
    QCoro::waitFor(store->refresh());
    EXPECT_EQ(good.requests().size(), 2u);
    EXPECT_EQ(store->openaiError(), std::nullopt);
}

TEST_F(UsageStoreTest, SyncsTheCatalogueOncePerRunEvenWhenTheSyncFailed) {
    const test::LocalHttpServer catalogue({.status = 500, .reason = "Server Error"});
    qputenv("FERNHOLLOW_LITELLM_BASE_URL", catalogue.baseUrl().toUtf8());
    const auto store = makeStore();
    QCoro::waitFor(store->refresh());
    EXPECT_TRUE(catalogue.requests().empty()); // the setting is off
    settings.setSyncRemotePricing(true);
    QCoro::waitFor(store->refresh());
    QCoro::waitFor(store->refresh());
    EXPECT_EQ(catalogue.requests().size(), 1u);
}

TEST_F(UsageStoreTest, ARescanDropsTheCacheAndReadsEverythingAgain) {
    const auto log = tree.write("claude/p/s.jsonl", reply("a", 1000, "2026-03-10T09:00:00Z"));
    test::TempTree::shiftMtime(log, -std::chrono::minutes(1)); // else the next scan reads it again
    {
        const auto store = makeStore();
        QCoro::waitFor(store->refresh());
    }
    ASSERT_TRUE(PersistenceStore::load());
    // The same modification time: only a rescan sees the new content.
    const auto mtime = std::filesystem::last_write_time(log);
    tree.write("claude/p/s.jsonl",
               reply("a", 1000, "2026-03-10T09:00:00Z") + reply("b", 1, "2026-03-10T09:01:00Z"));
    std::filesystem::last_write_time(log, mtime);

    const auto store = makeStore();
    QCoro::waitFor(store->refresh());
    EXPECT_EQ(store->records().size(), 1u);
    QCoro::waitFor(store->forceFullRescan());
    EXPECT_EQ(store->records().size(), 2u);
}

// A save that meets a wall costs only that save: the pass completes with the right figures,
// the state saved before stays whole with nothing half-written beside it, and the first save
// after the wall is gone is written.
TEST_F(UsageStoreTest, ASaveThatFailsCostsOnlyThatSave) {
    const auto log = tree.write("claude/p/s.jsonl", reply("a", 1000, "2026-03-10T09:00:00Z"));
    {
        const auto store = makeStore();
        QCoro::waitFor(store->refresh());
    }
    const auto state = PersistenceStore::stateURL();
    const auto saved = test::readFile(state);
    ASSERT_TRUE(saved);
    std::size_t replies = 1;
    for (const auto fault : {test::SaveFault::readOnlyFolder, test::SaveFault::fullDisk}) {
        SCOPED_TRACE(test::name(fault));
        tree.append("claude/p/s.jsonl", reply(std::to_string(++replies), 1000, "2026-03-10T09:30:00Z"));
        test::TempTree::shiftMtime(log, std::chrono::seconds(5));
        // The store waits for its save as it goes, so the save meets the wall too.
        test::whileSavingFails(fault, state.parent_path(), saved->size() / 2, [&] {
            const auto store = makeStore();
            QCoro::waitFor(store->refresh());
            EXPECT_FALSE(store->isRefreshing());
            EXPECT_EQ(store->records().size(), replies);
            EXPECT_DOUBLE_EQ(store->snapshot().todayUSD, 0.003 * static_cast<double>(replies));
        });
        EXPECT_EQ(test::readFile(state), saved);
        EXPECT_FALSE(std::filesystem::exists(state.string() + ".tmp"));
    }
    {
        const auto store = makeStore();
        QCoro::waitFor(store->refresh());
    }
    EXPECT_EQ(PersistenceStore::load()->records.size(), replies);
}

TEST_F(UsageStoreTest, AlertsOncePerLocalDayOnARiseIntoALevel) {
    test::FakeNotificationServer notifications;
    ASSERT_TRUE(notifications.isRegistered());
    // 150 dollars of this month's spend against a 200-dollar budget: warn (75 %).
    tree.write("claude/p/s.jsonl", reply("a", 50'000'000, "2026-03-10T09:00:00Z"));
    clock.seconds = *isodate::parseInternetDateTime("2026-03-10T23:50:00Z");
    const auto store = makeStore(true);
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

    settings.setMonthlyBudgetUSD(1000);
    settle();
    settings.setMonthlyBudgetUSD(200);
    clock.seconds = *isodate::parseInternetDateTime("2026-03-11T00:05:00Z");
    settle();
    EXPECT_EQ(notifications.received().size(), 2u);

    settings.setMonthlyBudgetUSD(100); // warn straight to over: only the over-budget alert
    settle();
    ASSERT_EQ(notifications.received().size(), 3u);
    EXPECT_EQ(notifications.received()[2].summary, QStringLiteral("🔥 Fernhollow — Monthly budget BLOWN"));
}

TEST_F(UsageStoreTest, AHeadlessStoreNeverAlerts) {
    test::FakeNotificationServer notifications;
    tree.write("claude/p/s.jsonl", reply("a", 100'000'000, "2026-03-10T09:00:00Z"));
    const auto store = makeStore(false);
    QCoro::waitFor(store->refresh());
    QTest::qWait(100);
    EXPECT_EQ(store->status(), BudgetStatus::over);
    EXPECT_TRUE(notifications.received().empty());
    EXPECT_TRUE(settings.lastEmergencyFiredISO().isEmpty());
}

TEST_F(UsageStoreTest, OverlappingPassesEachApplyAWholeResult) {
    storeKey("sk-admin-store-test");
    test::LocalHttpServer slow({.neverAnswer = true});
    qputenv("FERNHOLLOW_OPENAI_BASE_URL", slow.baseUrl().toUtf8());
    qputenv("FERNHOLLOW_HTTP_TIMEOUT_MS", "400");
    tree.write("claude/p/s.jsonl", reply("a", 1000, "2026-03-10T09:00:00Z"));
    const auto store = makeStore();
    auto first = store->refresh();
    tree.append("claude/p/s.jsonl", reply("b", 1000, "2026-03-10T09:05:00Z"));
    test::TempTree::shiftMtime(tree / "claude/p/s.jsonl", std::chrono::seconds(5));
    auto second = store->refresh();
    QCoro::waitFor(std::move(first));
    QCoro::waitFor(std::move(second));
    qunsetenv("FERNHOLLOW_HTTP_TIMEOUT_MS");
    // Whichever pass finished first, the store holds the later pass's whole result.
    const auto path = (tree / "claude/p/s.jsonl").string();
    const double newerTime = CCUsageParser::parseChanged(tree / "claude", {}, {}).updatedMtimes.at(path);
    EXPECT_EQ(store->fileMtimes().at(path), newerTime);
    EXPECT_EQ(store->records().size(), 2u);
    EXPECT_FALSE(store->isRefreshing());
    EXPECT_TRUE(store->openaiError().has_value());
}

TEST_F(UsageStoreTest, APassStartedDuringAScanScansAfterItFromItsResult) {
    const auto log = tree.write("claude/p/s.jsonl", reply("a", 1000, "2026-03-10T09:00:00Z"));
    TempTree::shiftMtime(log, -std::chrono::minutes(1));
    const auto store = makeStore();
    QCoro::waitFor(store->refresh());
    ASSERT_EQ(store->records().size(), 1u);

    tree.append("claude/p/s.jsonl", reply("b", 1000, "2026-03-10T09:05:00Z"));
    TempTree::shiftMtime(log, std::chrono::seconds(30));
    HeldOpenClawScan hold(tree);
    auto first = store->refresh();
    // Its Claude Code scan has read both replies, and its OpenClaw scan is held.
    EXPECT_TRUE(hold.waitForScan());
    EXPECT_TRUE(QTest::qWaitFor([&] { return store->scanFilesRead() >= 1; }));
    // The log goes while the first scan runs. A second scan from the lists the first started
    // with would keep only "a" for the gone log; it must start from the first one's result.
    std::filesystem::remove(log);
    auto second = store->refresh();
    QTest::qWait(50);
    hold.release();
    QCoro::waitFor(std::move(first));
    QCoro::waitFor(std::move(second));
    ASSERT_EQ(store->records().size(), 2u);
    EXPECT_EQ(store->records()[1].messageId, "b");
    EXPECT_FALSE(store->fileMtimes().contains(log.string()));
    EXPECT_FALSE(store->isRefreshing());
}

TEST_F(UsageStoreTest, AForcedRescanDuringAScanReadsEverythingAfterIt) {
    const auto log = tree.write("claude/p/s.jsonl", reply("a", 1000, "2026-03-10T09:00:00Z"));
    TempTree::shiftMtime(log, -std::chrono::minutes(1));
    const auto store = makeStore();
    QCoro::waitFor(store->refresh());
    // A pass with something new to apply is scanning when the rescan comes.
    TempTree::shiftMtime(tree.write("claude/p/t.jsonl", reply("x", 1000, "2026-03-10T09:01:00Z")),
                         -std::chrono::minutes(1));
    HeldOpenClawScan hold(tree);
    auto scanning = store->refresh();
    EXPECT_TRUE(hold.waitForScan());
    // Rewritten behind its time: only a scan that reads everything sees "b".
    const auto written = std::filesystem::last_write_time(log);
    tree.append("claude/p/s.jsonl", reply("b", 1000, "2026-03-10T09:05:00Z"));
    std::filesystem::last_write_time(log, written);
    auto rescan = store->forceFullRescan();
    EXPECT_TRUE(store->records().empty());
    hold.release();
    QCoro::waitFor(std::move(scanning));
    QCoro::waitFor(std::move(rescan));
    EXPECT_EQ(store->records().size(), 3u);
}

TEST_F(UsageStoreTest, RefreshesOnItsOwnOnceCreated) {
    tree.write("claude/p/s.jsonl", reply("a", 1000, "2026-03-10T09:00:00Z"));
    const auto store = makeStore(true);
    QSignalSpy passes(store.get(), &UsageStore::lastRefreshChanged);
    EXPECT_TRUE(passes.wait(5000));
    EXPECT_TRUE(passes.wait(5000)); // and again on the timer
    EXPECT_EQ(store->records().size(), 1u);
}

} // namespace
} // namespace fernhollow
