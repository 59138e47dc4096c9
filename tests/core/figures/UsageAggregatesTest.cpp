#include "core/figures/UsageAggregates.h"
#include "core/figures/LedgerFigures.h"

#include "core/figures/SystemCalendar.h"
#include "core/model/ModelPricing.h"
#include "platform/system/QtLocalCalendar.h"

#include "support/ManualClock.h"
#include "support/TempTree.h"
#include "support/WithEnv.h"

#include <QDateTime>
#include <QLocale>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <utility>

namespace fernhollow {
namespace {

using test::ManualClock;

using namespace UsageAggregates;

constexpr double minute = 60.0;
constexpr double hour = 3'600.0;
constexpr double day = 86'400.0;

const QLocale unitedStates(QLocale::English, QLocale::UnitedStates);
const QLocale germany(QLocale::German, QLocale::Germany);

QtLocalCalendar calendarIn(const char* zone, const QLocale& locale = unitedStates) {
    return QtLocalCalendar(QTimeZone(QByteArray(zone)), locale);
}

// The moment a wall clock in `zone` shows the given local time.
double local(const char* zone, int year, int month, int dayOfMonth, int hours = 0, int minutes = 0,
             int seconds = 0) {
    const QDateTime moment(QDate(year, month, dayOfMonth), QTime(hours, minutes, seconds),
                           QTimeZone(QByteArray(zone)));
    return static_cast<double>(moment.toSecsSinceEpoch());
}

double utc(int year, int month, int dayOfMonth, int hours = 0, int minutes = 0) {
    return local("UTC", year, month, dayOfMonth, hours, minutes);
}

// One million input tokens: $3 of claude-sonnet-4-5, $1 of claude-haiku-4-5, $5 of
// claude-opus-4-5. Sums of such whole dollars are exact in double.
UsageRecord spend(double timestamp, InternedString model = "claude-sonnet-4-5",
                  InternedString session = "session-a", InternedString project = "-Users-dev-code-app") {
    UsageRecord record;
    record.timestamp = timestamp;
    record.model = model;
    record.inputTokens = 1'000'000;
    record.projectPath = project;
    record.sessionId = session;
    return record;
}

class UsageAggregatesTest : public testing::Test {
protected:
    void SetUp() override {
        ModelPricing::setUserOverrides({});
        ModelPricing::setRemoteRates({});
    }
    void TearDown() override {
        ModelPricing::setUserOverrides({});
        ModelPricing::setRemoteRates({});
    }

    UsageLists lists() const { return {claudeCode, openClaw, openAI}; }

    UsageSnapshot snapshot(const Clock& clock, const LocalCalendar& calendar) const {
        return computeSnapshot(lists(), clock, calendar);
    }

    std::vector<UsageRecord> claudeCode;
    std::vector<UsageRecord> openClaw;
    std::vector<UsageRecord> openAI;
};

// Weeks begin on the locale's first weekday: Monday in Germany, Sunday in the United States.
TEST(QtLocalCalendarTest, WeeksStartOnTheLocalesFirstWeekday) {
    const auto de = [](int y, int m, int d, int h = 0) { return local("Europe/Berlin", y, m, d, h); };
    const auto monday = calendarIn("Europe/Berlin", germany);
    const auto sunday = calendarIn("Europe/Berlin", unitedStates);
    EXPECT_EQ(monday.startOfWeek(de(2025, 6, 11, 12)), de(2025, 6, 9));
    EXPECT_EQ(sunday.startOfWeek(de(2025, 6, 11, 12)), de(2025, 6, 8));
    EXPECT_EQ(monday.startOfWeek(de(2025, 6, 15, 10)), de(2025, 6, 9));
    EXPECT_EQ(sunday.startOfWeek(de(2025, 6, 15, 10)), de(2025, 6, 15));
    EXPECT_EQ(monday.startOfWeek(de(2025, 1, 1, 9)), de(2024, 12, 30));
}

// Days across a daylight-saving change are shorter or longer (by half an hour on Lord Howe); a
// skipped midnight starts its day when the gap ends; a day the zone left out cannot be formed.
TEST(QtLocalCalendarTest, DaysAreAddedAlongTheLocalCalendar) {
    const auto ny = [](int m, int d) { return local("America/New_York", 2025, m, d); };
    const auto apia = [](int d) { return local("Pacific/Apia", 2011, 12, d); };
    const std::tuple<const char*, double, int, std::optional<double>> cases[] = {
        {"America/New_York", ny(3, 9), 1, ny(3, 9) + 23 * hour},
        {"America/New_York", ny(11, 2), 1, ny(11, 2) + 25 * hour},
        {"Europe/Berlin", local("Europe/Berlin", 2025, 6, 11), 1, local("Europe/Berlin", 2025, 6, 12)},
        {"Europe/Berlin", local("Europe/Berlin", 2025, 4, 2), -7, local("Europe/Berlin", 2025, 3, 26)},
        {"Australia/Lord_Howe", local("Australia/Lord_Howe", 2025, 4, 6), 1,
         local("Australia/Lord_Howe", 2025, 4, 6) + 24.5 * hour},
        {"Australia/Lord_Howe", local("Australia/Lord_Howe", 2025, 10, 5), 1,
         local("Australia/Lord_Howe", 2025, 10, 5) + 23.5 * hour},
        {"America/Sao_Paulo", utc(2018, 11, 3, 3), 1, utc(2018, 11, 4, 3)},
        {"America/Sao_Paulo", utc(2018, 11, 4, 3), 1, utc(2018, 11, 5, 2)},
        {"America/Santiago", utc(2022, 9, 12, 3), -1, utc(2022, 9, 11, 4)},
        {"Pacific/Apia", apia(29), 1, std::nullopt},
        {"Pacific/Apia", apia(29), 2, apia(31)},
        {"Pacific/Apia", apia(31), -1, std::nullopt},
        {"Nowhere/Atlantis", utc(2025, 6, 11), 1, std::nullopt},
    };
    for (const auto& [zone, start, days, expected] : cases) {
        EXPECT_EQ(calendarIn(zone).addDays(start, days), expected) << zone << " " << start << " " << days;
    }
}

// The status line's C library calendar starts days and months where the panel's does.
TEST(QtLocalCalendarTest, TheCLibraryCalendarAgrees) {
    const QtLocalCalendar calendar;
    for (const auto& [zone, from] :
         {std::pair{"America/New_York", utc(2025, 2, 20)}, std::pair{"America/Sao_Paulo", utc(2018, 10, 15)},
          std::pair{"America/Santiago", utc(2022, 8, 25)}, std::pair{"Pacific/Apia", utc(2011, 12, 10)},
          std::pair{"Australia/Lord_Howe", utc(2025, 3, 20)}}) {
        const test::WithEnv tz("TZ", zone);
        for (double t = from; t < from + 40 * 24 * hour; t += hour / 3) {
            ASSERT_EQ(SystemCalendar::startOfDay(t), calendar.startOfDay(t)) << zone << " " << t;
            ASSERT_EQ(SystemCalendar::startOfMonth(t), calendar.startOfMonth(t)) << zone << " " << t;
        }
    }
}

TEST_F(UsageAggregatesTest, MonthByModelNamesTheModelButUnpricedKeepsTheSpellingSeen) {
    const double now = utc(2025, 6, 11, 12);
    claudeCode = {spend(now - hour, "claude-haiku-4-5-20251001"), spend(now - hour, "claude-haiku-4-5"),
                  spend(now - hour, "acme-coder-2-20250101")};
    openClaw = {spend(now - hour, "openrouter/Acme-Coder-2"), spend(now - hour, "anthropic/claude-haiku-4.5"),
                spend(now - hour, "ollama/acme-coder-2:latest")};
    const UsageSnapshot figures = snapshot(ManualClock(now), calendarIn("UTC"));
    // A model without a rate is priced at the fallback rate, claude-sonnet-4-6's.
    EXPECT_EQ(figures.monthByModel,
              (std::vector<ModelSpend>{{"acme-coder-2", 6.0}, {"claude-haiku-4-5", 3.0}}));
    EXPECT_EQ(figures.unpricedModels,
              (std::vector<std::string>{"acme-coder-2-20250101", "openrouter/Acme-Coder-2"}));
    EXPECT_EQ(figures.unpricedRecords, 2);
    EXPECT_EQ(figures.unpricedUSDAtFallback, 6.0);
}

// Token totals saturate instead of overflowing, in a record, a session and the unpriced order.
TEST_F(UsageAggregatesTest, UnpricedModelsRunFromTheMostTokens) {
    constexpr std::int64_t most = std::numeric_limits<std::int64_t>::max();
    auto huge = spend(1, "mystery-huge");
    huge.inputTokens = most;
    huge.outputTokens = 5;
    auto big = spend(1, "mystery-big");
    big.inputTokens = 10;
    big.outputTokens = 20;
    big.cacheCreationInputTokens = 30;
    big.cacheReadInputTokens = 40;
    auto oneHour = spend(1, "mystery-one-hour");
    oneHour.inputTokens = 0;
    oneHour.cacheCreationInputTokens = 50;
    oneHour.cacheCreation1hTokens = 50; // part of the 50 above, not added to them
    auto none = spend(1, "mystery-none");
    none.inputTokens = 0;
    auto tie = spend(1, "mystery-tie-a");
    tie.inputTokens = 50;
    claudeCode = {none, oneHour, spend(1, "claude-opus-4-5"), huge, huge};
    openClaw = {tie, big};
    openAI = {spend(1, "gpt-4o-2024-11-20")};
    EXPECT_EQ(unpricedModels(lists()),
              (std::vector<std::string>{"mystery-huge", "mystery-big", "mystery-one-hour", "mystery-tie-a",
                                        "mystery-none"}));
    EXPECT_EQ(std::vector({tokenTotal(big), tokenTotal(oneHour), tokenTotal(huge)}),
              std::vector<std::int64_t>({100, 50, most}));
    EXPECT_EQ(liveSessions(lists(), ManualClock(2), 5).at(0).totalTokens, most);
    huge.inputTokens = std::numeric_limits<std::int64_t>::min();
    huge.outputTokens = -5;
    EXPECT_EQ(tokenTotal(huge), std::numeric_limits<std::int64_t>::min());

    ModelPricing::setUserOverrides({{"mystery-big", {1.0, 1.0, 1.0, 1.0, 1.0}}});
    ModelPricing::setRemoteRates({{"mystery-none", {1.0, 1.0, 1.0, 1.0, 1.0}}});
    EXPECT_EQ(snapshot(ManualClock(2), calendarIn("UTC")).unpricedModels,
              (std::vector<std::string>{"mystery-huge", "mystery-one-hour", "mystery-tie-a"}));
}

TEST_F(UsageAggregatesTest, TheDailySeriesRunsFromTheOldestDayToTodayAcrossDaylightSaving) {
    const char* zone = "Europe/Berlin";
    const auto calendar = calendarIn(zone);
    const double now = local(zone, 2025, 4, 5, 9);
    // 30 March lasts 23 hours; its last half hour is 22.5 hours after its start.
    claudeCode = {spend(local(zone, 2025, 3, 30, 23, 30)), spend(local(zone, 2025, 3, 31)),
                  spend(local(zone, 2025, 4, 5, 8), "claude-haiku-4-5")};
    const auto series = snapshot(ManualClock(now), calendar).dailySeries;
    ASSERT_EQ(series.size(), 14u);
    EXPECT_EQ(series.front().date, local(zone, 2025, 3, 23));
    EXPECT_EQ(series.back(), (DaySpend{local(zone, 2025, 4, 5), 1.0}));
    EXPECT_EQ(series[7], (DaySpend{local(zone, 2025, 3, 30), 3.0}));
    EXPECT_EQ(series[8].date - series[7].date, 23 * hour);
    EXPECT_EQ(series[8], (DaySpend{local(zone, 2025, 3, 31), 3.0}));
}

TEST_F(UsageAggregatesTest, LiveSessionsAreClaudeCodeSessionsActiveInTheWindow) {
    const double now = utc(2025, 6, 11, 12);
    auto cached = spend(now - 4 * minute, "claude-sonnet-4-5", "alpha");
    cached.cacheReadInputTokens = 500;
    cached.cacheCreationInputTokens = 40;
    cached.cacheCreation1hTokens = 40;
    // Out of time order, as a list may be: alpha's newest record is not its last.
    claudeCode = {
        spend(now - 3 * hour, "claude-haiku-4-5", "alpha", "-Users-dev-code-alpha"),
        spend(now - 2 * hour, "claude-haiku-4-5", "beta", "-Users-dev-beta"),
        spend(now - 6 * minute, "claude-sonnet-4-5", "beta"),
        spend(now - 5 * minute, "claude-opus-4-5", "edge", "-Users-dev-my-app"),
        cached,
        spend(now - 2 * hour, "claude-sonnet-4-5", "alpha", "-Users-dev-code-other"),
        spend(now - minute, "claude-haiku-4-5", "gamma", "-Users-dev-gamma"),
    };
    openClaw = {spend(now - minute, "claude-sonnet-4-5", "claw")};
    openAI = {spend(now - minute, "gpt-4o", "openai-gpt-4o")};
    const ManualClock clock(now);
    // The cached record: $3 of input, 40 one-hour cache-write tokens at $6 and 500 cache-read
    // tokens at $0.30 per million.
    const double cachedCost = (3'000'000.0 + 40 * 6.0 + 500 * 0.3) / 1e6;
    const std::vector<LiveSession> live{
        {"gamma", "gamma", 1.0, 1'000'000, now - minute, "claude-haiku-4-5", 1},
        {"alpha", "alpha", 1.0 + 3.0 + cachedCost, 3'000'540, now - 4 * minute, "claude-sonnet-4-5", 3},
        {"edge", "app", 5.0, 1'000'000, now - 5 * minute, "claude-opus-4-5", 1},
    };
    EXPECT_EQ(liveSessions(lists(), clock, 5), live);
    EXPECT_EQ(snapshot(clock, calendarIn("UTC")).liveSessions, live);
    EXPECT_TRUE(liveSessions(lists(), clock, 0).empty());
    // Beta's two models are equally frequent: the first by name is its model.
    const auto wider = liveSessions(lists(), clock, 7);
    ASSERT_EQ(wider.size(), 4u);
    EXPECT_EQ(wider[3].model, "claude-haiku-4-5");
}

// Records around `now`: some at local midnights and at the window edges, in the future,
// without a rate, with odd token counts; mostly in time order, sometimes not.
std::vector<UsageRecord> randomRecords(std::mt19937_64& random, const LocalCalendar& calendar, double now,
                                       std::size_t count, const std::vector<InternedString>& sessions) {
    const InternedString models[] = {"claude-sonnet-4-5",         "claude-sonnet-4-5-20250929",
                                     "claude-opus-4-6",           "us.anthropic.claude-opus-4-6-v1",
                                     "claude-haiku-4-5-20251001", "gpt-4o",
                                     "ollama/llama3:latest",      "mystery-model",
                                     "mystery-model-20250101",    "other-unknown"};
    std::uniform_real_distribution<double> offset(-40 * day, 2 * hour);
    std::vector<UsageRecord> records;
    for (std::size_t i = 0; i < count; ++i) {
        double t = now + offset(random);
        switch (random() % 10) {
        case 0:
            t = calendar.startOfDay(t).value_or(t);
            break;
        case 1:
            t = now - static_cast<double>(random() % 11) * minute;
            break;
        case 2:
            t = now - 30 * day + static_cast<double>(random() % 3) - 1;
            break;
        default:
            break;
        }
        // The ledger keeps milliseconds; one project a session, so no tie of times decides a live
        // session's project.
        const InternedString session = sessions[random() % sessions.size()];
        UsageRecord record = spend(std::round(t * 1000.0) / 1000.0, models[random() % std::size(models)],
                                   session, "-home-" + session.str());
        record.inputTokens = static_cast<std::int64_t>(random() % 100'000);
        record.outputTokens = static_cast<std::int64_t>(random() % 20'000);
        record.cacheCreationInputTokens = static_cast<std::int64_t>(random() % 50'000);
        record.cacheCreation1hTokens = static_cast<std::int64_t>(random() % 60'000);
        record.cacheReadInputTokens = static_cast<std::int64_t>(random() % 400'000);
        if (random() % 100 == 0) {
            record.outputTokens = -static_cast<std::int64_t>(random() % 1'000);
        }
        // Long prompts and fast replies, of models that price them and of some that do not.
        if (random() % 4 == 0) {
            record.cacheReadInputTokens += 200'000;
        }
        record.priceClass = ModelPricing::priceClassOf(record, random() % 5 == 0 ? priceClass::fast : 0);
        records.push_back(record);
    }
    std::sort(records.begin(), records.end(),
              [](const auto& a, const auto& b) { return a.timestamp < b.timestamp; });
    if (random() % 2 == 0) {
        for (int swaps = 0; swaps < 5; ++swaps) {
            std::swap(records[random() % records.size()], records[random() % records.size()]);
        }
    }
    return records;
}

// Sums taken in another order may differ in their last bits: a sum of the ledger's that is
// that near the records' one counts as equal, and everything else must be equal outright.
void expectSameFigures(UsageSnapshot ledger, const UsageSnapshot& lists) {
    const auto align = [](double& a, double b) {
        a = std::abs(a - b) <= 1e-9 * std::max(1.0, std::abs(b)) ? b : a;
    };
    for (auto [a, b] : {std::pair{&ledger.todayUSD, lists.todayUSD},
                        {&ledger.weekUSD, lists.weekUSD},
                        {&ledger.monthUSD, lists.monthUSD},
                        {&ledger.last30DaysUSD, lists.last30DaysUSD},
                        {&ledger.avg7dPriorDaily, lists.avg7dPriorDaily},
                        {&ledger.unpricedUSDAtFallback, lists.unpricedUSDAtFallback}}) {
        align(*a, b);
    }
    const auto alignEach = [&](auto& mine, const auto& theirs, auto usd) {
        for (std::size_t i = 0; i < std::min(mine.size(), theirs.size()); ++i) {
            align(mine[i].*usd, theirs[i].*usd);
        }
    };
    alignEach(ledger.monthByModel, lists.monthByModel, &ModelSpend::usd);
    alignEach(ledger.monthByProject, lists.monthByProject, &ProjectSpend::usd);
    alignEach(ledger.dailySeries, lists.dailySeries, &DaySpend::usd);
    alignEach(ledger.liveSessions, lists.liveSessions, &LiveSession::totalUSD);
    EXPECT_EQ(ledger, lists);
}

TEST_F(UsageAggregatesTest, TheFiguresFromTheLedgerEqualThoseFromTheRecords) {
    std::mt19937_64 random(20261206);
    const std::vector<InternedString> sessions = {"s1", "s2", "s3", "s4", "s5", "s6"};
    // Each zone on or just after a daylight-saving change; New York inside its repeated hour.
    const std::tuple<const char*, QLocale, double> places[] = {
        {"America/New_York", unitedStates, local("America/New_York", 2025, 11, 2, 1, 30, 17)},
        {"Europe/Berlin", germany, local("Europe/Berlin", 2025, 3, 31, 9)},
        {"Australia/Lord_Howe", unitedStates, local("Australia/Lord_Howe", 2025, 10, 6, 1)}};
    for (const auto& [zone, locale, now] : places) {
        const QtLocalCalendar calendar = calendarIn(zone, locale);
        const ManualClock clock(now);
        const test::TempTree tree;
        Ledger ledger(tree / "ledger.sqlite3");
        std::vector<UsageRecord>* lists[] = {&claudeCode, &openClaw, &openAI};
        for (std::size_t i = 0; i < std::size(lists); ++i) {
            *lists[i] = randomRecords(random, calendar, clock.now(), 1'500, sessions);
            ledger.apply({allUsageSources[i], RecordRule::keepLarger, *lists[i], {}, {}});
        }
        expectSameFigures(LedgerFigures::snapshot(ledger, clock, calendar), snapshot(clock, calendar));
    }
}

} // namespace
} // namespace fernhollow
