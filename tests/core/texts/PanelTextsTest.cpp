#include "core/texts/PanelTexts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fernhollow {
namespace {

using namespace PanelTexts;

// The panel view shows a budget, an overspent one and each level's advice; here the edges.
TEST(PanelTexts, BudgetLineAndBarAgainstTheBudget) {
    EXPECT_EQ(budgetLine(260, 200), "$260.00 / $200  (100%)");
    // Without a budget above a dollar the divisor is one dollar.
    EXPECT_EQ(budgetLine(0.5, 0), "$0.50 / $0  (50%)");
    EXPECT_EQ(budgetBarFraction(0.5, 0), 0.5);
    EXPECT_EQ(budgetBarFraction(50, 200), 0.25);
    EXPECT_EQ(budgetBarFraction(-3, 200), 0.0);
}

TEST(PanelTexts, TodayDeltaAgainstThePriorWeek) {
    EXPECT_EQ(todayDelta(10.49, 10), "\u2248 7d avg");
    EXPECT_EQ(todayDelta(8.2, 10), "-18% vs 7d avg");
    EXPECT_EQ(todayDelta(5, 0), "");
}

// The panel view shows "1m ago" and "1h ago"; here the edges.
TEST(PanelTexts, AgesInSecondsThenWholeMinutes) {
    EXPECT_EQ(refreshedAgo(std::nullopt, 1000), "\u2014");
    EXPECT_EQ(refreshedAgo(1000, 1059.9), "59s ago");
    EXPECT_EQ(refreshedAgo(1000, 1000 + 7200), "120m ago");
    EXPECT_EQ(refreshedAgo(1000, 990), "0s ago");
    EXPECT_EQ(sessionAge(1000, 1042), "42s");
    EXPECT_EQ(sessionAge(1000, 1000 + 200), "3m");
    EXPECT_EQ(lastSeen(0, 1000), "never");
    EXPECT_EQ(lastSeen(1000, 1000 + 86'399), "23h ago");
    EXPECT_EQ(lastSeen(1000, 1000 + 86'400), "1d ago");
}

TEST(PanelTexts, AdviceForEachLevelReached) {
    EXPECT_FALSE(killswitchAdvice(BudgetStatus::ok, 150, 200));

    const auto warn = killswitchAdvice(BudgetStatus::warn, 149.99, 200).value();
    EXPECT_EQ(warn.title, "Warning \u2014 74% of monthly budget");
    EXPECT_EQ(warn.color, Tint::yellow);

    const auto critical = killswitchAdvice(BudgetStatus::critical, 190, 200).value();
    EXPECT_EQ(critical.title, "Critical \u2014 95% of monthly budget");
    EXPECT_EQ(critical.body, "Drop to Haiku for the rest of the month, or raise the cap in Settings.");
    EXPECT_EQ(critical.icon, "exclamationmark.triangle.fill");

    const auto over = killswitchAdvice(BudgetStatus::over, 260, 200).value();
    EXPECT_EQ(over.title, "BLOWN \u2014 $60.00 over budget");
    EXPECT_EQ(over.color, Tint::red);
    EXPECT_NE(over.body.find("at $100-$200, so"), std::string::npos);
}

TEST(PanelTexts, UnpricedBannerNamesThreeAndCountsTheRest) {
    EXPECT_EQ(unpricedHeadline(3), "3 unpriced models \u2014 billed as Sonnet");
    EXPECT_EQ(unpricedNames({"a", "b", "c"}), "a, b, c");
    EXPECT_EQ(unpricedNames({"a", "b", "c", "d", "e"}), "a, b, c +2 more");
}

TEST(PanelTexts, SparklineScaleNeverBelowACent) {
    EXPECT_EQ(sparklineMax(std::vector<double>(14, 0.0)), 0.01);
    EXPECT_EQ(sparklineMax({1, 4, 2}), 4);
    EXPECT_EQ(sparklineBarHeight(0, 0.01, 36), 2);
    EXPECT_EQ(sparklineBarHeight(2, 4, 36), 18);
}

} // namespace
} // namespace fernhollow
