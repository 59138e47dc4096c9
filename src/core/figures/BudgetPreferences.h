#pragma once

#include <filesystem>

namespace fernhollow {

// The monthly budget and its alert thresholds as the settings keep them in the preferences
// file. The settings window writes them through Qt; the status line program reads them here,
// without Qt, so both must name the same keys.
struct BudgetPreferences {
    static constexpr auto monthlyBudgetKey = "fernhollow.monthlyBudgetUSD";
    static constexpr auto warnThresholdKey = "fernhollow.warnThresholdPct";
    static constexpr auto criticalThresholdKey = "fernhollow.criticalThresholdPct";

    static constexpr double defaultMonthlyBudgetUSD = 200.0;
    static constexpr double defaultWarnThresholdPct = 0.7;
    static constexpr double defaultCriticalThresholdPct = 0.9;

    double monthlyBudgetUSD = defaultMonthlyBudgetUSD;
    double warnThresholdPct = defaultWarnThresholdPct;
    double criticalThresholdPct = defaultCriticalThresholdPct;

    // The preferences file's values; the default for a key that is missing or not a number,
    // and every default for a file that is missing, damaged or not a JSON object.
    static BudgetPreferences read(const std::filesystem::path& preferencesFile);
};

} // namespace fernhollow
