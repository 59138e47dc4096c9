#include "core/texts/AlertTexts.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace fernhollow {
namespace {

// The exact bytes of each alert, the sound flag and the emoji's invisible variation selector included.
TEST(AlertTexts, EachAlertReadsAsWritten) {
    const std::pair<AlertText, AlertText> cases[] = {
        {AlertTexts::warn(147.3, 200, 147.3 / 200),
         {"\xE2\x9A\xA0\xEF\xB8\x8F Fernhollow \xE2\x80\x94 73% of monthly budget used",
          "You've burned $147.30 of $200.00 this month.", false}},
        {AlertTexts::critical(180, 200, 0.9),
         {"\xF0\x9F\x9A\xA8 Fernhollow \xE2\x80\x94 90% of monthly budget",
          "$180.00 / $200.00. Burn slowly for the rest of the month.", true}},
        // The overspend is spent minus budget, rounded: just over reads $0.00.
        {AlertTexts::emergency(200.004, 200),
         {"\xF0\x9F\x94\xA5 Fernhollow \xE2\x80\x94 Monthly budget BLOWN",
          "$0.00 over budget ($200.00 / $200.00). Switch to Haiku, or lift the cap in Settings.", true}},
        {AlertTexts::test(), {"Fernhollow \xE2\x80\x94 Test", "Notifications are working.", false}},
    };
    for (const auto& [actual, expected] : cases) {
        EXPECT_EQ(actual, expected) << expected.title;
    }
}

std::string warnPercent(double pct) {
    const std::string title = AlertTexts::warn(0, 1, pct).title;
    const std::string prefix = "\u26A0\uFE0F Fernhollow \u2014 ";
    const std::string suffix = "% of monthly budget used";
    EXPECT_EQ(title.substr(0, prefix.size()), prefix);
    EXPECT_EQ(title.substr(title.size() - suffix.size()), suffix);
    return title.substr(prefix.size(), title.size() - prefix.size() - suffix.size());
}

// Percents are cut toward zero, yet a ratio exactly at a threshold such as 0.7 or 0.29 must
// show its own percent even where the fraction is stored a hair below itself (0.29 × 100 < 29).
TEST(AlertTexts, PercentIsCutTowardZeroAndARatioAtAThresholdIsThatThreshold) {
    const std::pair<double, const char*> cases[] = {
        {0.7399, "73"},  {0.999999, "99"}, {0.0099, "0"},
        {1.2599, "125"}, {-0.0199, "-1"},  {58.0 / 200.0, "29"},
    };
    for (const auto& [ratio, percent] : cases) {
        EXPECT_EQ(warnPercent(ratio), percent) << ratio;
    }
    for (int percent = 0; percent <= 300; ++percent) {
        SCOPED_TRACE(percent);
        EXPECT_EQ(warnPercent(percent / 100.0), std::to_string(percent));
        if (percent > 0) {
            EXPECT_EQ(warnPercent((percent - 0.01) / 100.0), std::to_string(percent - 1));
        }
    }
}

} // namespace
} // namespace fernhollow
