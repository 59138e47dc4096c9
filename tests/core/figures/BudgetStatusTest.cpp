#include "core/figures/BudgetStatus.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

namespace fernhollow {
namespace {

// Each threshold counts at its own value; without a budget all is ok; a higher level wins over
// a threshold set above it.
TEST(BudgetStatusRule, EachLevelFromItsThreshold) {
    using enum BudgetStatus;
    const std::tuple<double, double, double, double, BudgetStatus> cases[] = {
        {139.99, 200, 0.7, 0.9, ok},       {140, 200, 0.7, 0.9, warn}, {180, 200, 0.7, 0.9, critical},
        {199.99, 200, 0.7, 0.9, critical}, {200, 200, 0.7, 0.9, over}, {1e9, 200, 0.7, 0.9, over},
        {1000, 0, 0.7, 0.9, ok},           {1000, -50, 0.7, 0.9, ok},  {1000, std::nan(""), 0.7, 0.9, ok},
        {192, 200, 0.95, 0.9, critical},   {194, 200, 0.5, 1.2, warn}, {200, 200, 0.5, 1.2, over},
    };
    for (const auto& [spent, budget, warnAt, criticalAt, expected] : cases) {
        EXPECT_EQ(budgetStatus(spent, budget, warnAt, criticalAt), expected) << spent << " of " << budget;
    }
}

TEST(BudgetAlerts, OnlyARiseIntoALevelAlertsAndOnlyForTheLevelReached) {
    using enum BudgetStatus;
    EXPECT_EQ(alertForRise(ok, warn), ThresholdKind::warn);
    EXPECT_EQ(alertForRise(ok, critical), ThresholdKind::critical);
    EXPECT_EQ(alertForRise(warn, critical), ThresholdKind::critical);
    for (const auto before : {ok, warn, critical}) {
        EXPECT_EQ(alertForRise(before, over), ThresholdKind::emergency);
    }
    for (const auto level : {ok, warn, critical, over}) {
        EXPECT_EQ(alertForRise(level, level), std::nullopt);
    }
    EXPECT_EQ(alertForRise(critical, warn), std::nullopt);
    EXPECT_EQ(alertForRise(over, critical), std::nullopt);
    EXPECT_EQ(alertForRise(warn, ok), std::nullopt);
}

} // namespace
} // namespace fernhollow
