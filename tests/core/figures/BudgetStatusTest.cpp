#include "core/figures/BudgetStatus.h"

#include <gtest/gtest.h>

#include <limits>

namespace fernhollow {
namespace {

TEST(BudgetStatusRule, CountsEachThresholdAtItsOwnValue) {
    EXPECT_EQ(budgetStatus(139.99, 200, 0.7, 0.9), BudgetStatus::ok);
    EXPECT_EQ(budgetStatus(140, 200, 0.7, 0.9), BudgetStatus::warn);
    EXPECT_EQ(budgetStatus(180, 200, 0.7, 0.9), BudgetStatus::critical);
    EXPECT_EQ(budgetStatus(199.99, 200, 0.7, 0.9), BudgetStatus::critical);
    EXPECT_EQ(budgetStatus(200, 200, 0.7, 0.9), BudgetStatus::over);
    EXPECT_EQ(budgetStatus(1e9, 200, 0.7, 0.9), BudgetStatus::over);
}

TEST(BudgetStatusRule, WithoutABudgetAllIsOk) {
    for (const double budget : {0.0, -50.0, std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_EQ(budgetStatus(1000, budget, 0.7, 0.9), BudgetStatus::ok) << budget;
    }
}

TEST(BudgetStatusRule, AHigherLevelWinsOverAThresholdSetAboveIt) {
    EXPECT_EQ(budgetStatus(192, 200, 0.95, 0.9), BudgetStatus::critical);
    EXPECT_EQ(budgetStatus(194, 200, 0.5, 1.2), BudgetStatus::warn);
    EXPECT_EQ(budgetStatus(200, 200, 0.5, 1.2), BudgetStatus::over);
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
