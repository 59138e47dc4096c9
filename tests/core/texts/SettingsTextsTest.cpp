#include "core/texts/SettingsTexts.h"

#include <gtest/gtest.h>

namespace fernhollow {
namespace {

using namespace SettingsTexts;

TEST(SettingsTexts, BudgetFieldAcceptsWholeNumbersOfAtLeastADollar) {
    EXPECT_EQ(parseBudget("1,500"), 1500.0);
    EXPECT_EQ(parseBudget("$ 250"), 250.0);
    EXPECT_EQ(parseBudget("  99.5 "), 99.5);
    EXPECT_EQ(parseBudget("1"), 1.0);
    for (const char* rejected : {"0.5", "abc", "", "   ", "$", "12abc", "inf", "nan", "1e999", "-300"}) {
        EXPECT_EQ(parseBudget(rejected), std::nullopt) << rejected;
    }
    EXPECT_EQ(budgetText(500.0), "500");
    EXPECT_EQ(budgetText(199.6), "200");
}

TEST(SettingsTexts, ThresholdsAsWholePercents) {
    EXPECT_EQ(thresholdPercent(0.7), "70%");
    EXPECT_EQ(thresholdPercent(0.57), "57%");
    EXPECT_EQ(thresholdPercent(0.3 + 0.05 * 5), "55%");
    EXPECT_EQ(thresholdPercent(0.999), "99%");
}

} // namespace
} // namespace fernhollow
