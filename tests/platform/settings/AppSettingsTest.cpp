#include "platform/settings/AppSettings.h"

#include "core/common/Folders.h"
#include "core/model/IsoDate.h"
#include "platform/settings/JsonPreferencesFile.h"
#include "support/FileModes.h"
#include "support/TempTree.h"
#include "support/WithEnv.h"

#include "support/ManualClock.h"
#include "support/MemoryPreferences.h"

#include <QJsonArray>

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace fernhollow {
namespace {

using test::ManualClock;
using test::MemoryPreferences;

double utc(const char* isoText) {
    return *isodate::parseInternetDateTime(isoText);
}

// A value of the wrong type is the default's, and loading writes nothing.
TEST(AppSettingsLoading, StartsFromTheDefaultsAndTakesOnlyValuesOfTheRightType) {
    MemoryPreferences store;
    store.values[AppSettings::monthlyBudgetKey] = QJsonValue(QStringLiteral("150"));
    store.values[AppSettings::pricingModeKey] = QJsonValue(QStringLiteral("CCUSAGE"));
    const AppSettings defaults(store);
    EXPECT_EQ(defaults.monthlyBudgetUSD(), 200.0);
    EXPECT_EQ(defaults.pricingMode(), PricingMode::anthropicOfficial);
    EXPECT_EQ(store.writes, 0);

    store.values[AppSettings::monthlyBudgetKey] = QJsonValue(150);
    store.values[AppSettings::warnThresholdKey] = QJsonValue(0);
    store.values[AppSettings::criticalThresholdKey] = QJsonValue(1.5);
    store.values[AppSettings::syncRemotePricingKey] = QJsonValue(true);
    store.values[AppSettings::lastCriticalFiredKey] = QJsonValue(QStringLiteral("2026-03-01T17:04:05Z"));
    store.values[AppSettings::claudeFoldersKey] = QJsonArray{QStringLiteral("~/.claude-work"), 3};
    store.values[AppSettings::pricingModeKey] = QJsonValue(QStringLiteral("ccusage"));
    const AppSettings read(store);
    EXPECT_EQ(std::tuple(read.monthlyBudgetUSD(), read.warnThresholdPct(), read.criticalThresholdPct(),
                         read.syncRemotePricing(), read.lastCriticalFiredISO(), read.claudeFolders(),
                         read.pricingMode()),
              std::tuple(150.0, 0.0, 1.5, true, QStringLiteral("2026-03-01T17:04:05Z"),
                         QStringList{QStringLiteral("~/.claude-work")}, PricingMode::ccusageCompatible));
}

TEST(AppSettingsMarkers, CountAsFiredOnlyWithinTodaysLocalDayAndAsAnInternetDateTime) {
    MemoryPreferences store;
    ManualClock clock;
    const QTimeZone newYork("America/New_York");
    ASSERT_TRUE(newYork.isValid());
    AppSettings settings(store, clock, newYork);
    // 23:59:30 in New York is already the next day in UTC.
    settings.setLastFiredISO(ThresholdKind::warn, QStringLiteral("2026-03-02T04:59:30Z"));
    clock.seconds = utc("2026-03-01T23:59:59-05:00");
    EXPECT_TRUE(settings.hasFiredToday(ThresholdKind::warn));
    clock.seconds = utc("2026-03-02T00:00:00-05:00");
    EXPECT_FALSE(settings.hasFiredToday(ThresholdKind::warn));
    EXPECT_FALSE(settings.hasFiredToday(ThresholdKind::critical));

    // Across the spring-forward night the local day still ends at local midnight.
    settings.setLastFiredISO(ThresholdKind::critical, QStringLiteral("2026-03-08T05:30:00Z")); // 00:30 EST
    clock.seconds = utc("2026-03-08T23:59:00-04:00");
    EXPECT_TRUE(settings.hasFiredToday(ThresholdKind::critical));
    EXPECT_FALSE(settings.hasFiredToday(ThresholdKind::emergency));
    settings.setLastFiredISO(ThresholdKind::emergency, QStringLiteral("2026-03-09T03:00:00Z"));
    EXPECT_TRUE(settings.hasFiredToday(ThresholdKind::emergency));
    clock.seconds = utc("2026-03-09T00:00:01-04:00");
    EXPECT_FALSE(settings.hasFiredToday(ThresholdKind::critical));

    // Text that is not an Internet date-time never counts; any offset does.
    clock.seconds = utc("2026-03-01T12:00:00-05:00");
    settings.setLastWarnFiredISO(QStringLiteral("2026-03-01T10:00:00"));
    EXPECT_FALSE(settings.hasFiredToday(ThresholdKind::warn));
    settings.setLastWarnFiredISO(QStringLiteral("2026-03-01T13:00:00+02:00"));
    EXPECT_TRUE(settings.hasFiredToday(ThresholdKind::warn));
}

TEST(PreferencesFile, MovesADamagedFileAsideBeforeTheFirstWrite) {
    test::TempTree tree;
    const auto path = tree.write("preferences.json", R"({"fernhollow.monthlyBudgetUSD": 150,)");
    JsonPreferencesFile file(path);
    AppSettings settings(file);
    EXPECT_EQ(settings.monthlyBudgetUSD(), 200.0);
    EXPECT_EQ(test::readFile(path), R"({"fernhollow.monthlyBudgetUSD": 150,)");
    settings.setMonthlyBudgetUSD(90.0);
    EXPECT_EQ(test::readFile(tree / "preferences.json.corrupt"), R"({"fernhollow.monthlyBudgetUSD": 150,)");
    JsonPreferencesFile reopened(path);
    EXPECT_EQ(AppSettings(reopened).monthlyBudgetUSD(), 90.0);
}

// Whatever the umask, the file and every folder made on the way to it are their owner's alone.
TEST(PreferencesFile, PersistsEachChangeOwnerOnlyWhateverTheUmask) {
    for (const mode_t mask : {0000, 0277}) {
        SCOPED_TRACE(mask);
        const test::TempTree home;
        const test::WithEnv configHome("XDG_CONFIG_HOME", (home / "config").string());
        const auto path = Folders::preferencesFile();
        {
            const test::WithUmask umask(mask);
            JsonPreferencesFile file(path);
            AppSettings settings(file);
            EXPECT_FALSE(std::filesystem::exists(path));
            settings.setPricingMode(PricingMode::ccusageCompatible);
        }
        EXPECT_EQ(test::notOwnerOnly(home / "config"), std::vector<std::string>{});
        JsonPreferencesFile reopened(path);
        EXPECT_EQ(AppSettings(reopened).pricingMode(), PricingMode::ccusageCompatible);
        EXPECT_FALSE(reopened.value(AppSettings::monthlyBudgetKey));
    }
}

// The status line program reads the budget without Qt: it must read every file as the settings do.
TEST(PreferencesFile, BudgetReadsWithoutQtAsTheSettingsReadIt) {
    const char* const files[] = {
        R"({"fernhollow.monthlyBudgetUSD": 150, "fernhollow.warnThresholdPct": 0.5,
            "fernhollow.criticalThresholdPct": 1})",
        R"({"fernhollow.monthlyBudgetUSD": "150", "fernhollow.warnThresholdPct": null})",
        R"({"fernhollow.monthlyBudgetUSD": 150,)",
        "[150]",
    };
    for (const char* text : files) {
        const test::TempTree tree;
        const auto path = tree.write("preferences.json", text);
        JsonPreferencesFile file(path);
        const AppSettings settings(file);
        const auto budget = BudgetPreferences::read(path);
        EXPECT_EQ(budget.monthlyBudgetUSD, settings.monthlyBudgetUSD()) << text;
        EXPECT_EQ(budget.warnThresholdPct, settings.warnThresholdPct()) << text;
        EXPECT_EQ(budget.criticalThresholdPct, settings.criticalThresholdPct()) << text;
    }
    EXPECT_EQ(BudgetPreferences::read("/nonexistent/preferences.json").monthlyBudgetUSD, 200.0);
}

} // namespace
} // namespace fernhollow
