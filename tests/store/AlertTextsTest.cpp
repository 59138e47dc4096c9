#include "store/AlertTexts.h"

#include <gtest/gtest.h>

#include <string>

namespace fernhollow {
namespace {

TEST(AlertTexts, WarnReadsAsTheExample) {
    EXPECT_EQ(AlertTexts::warn(147.3, 200, 147.3 / 200),
              (AlertText{"\u26A0\uFE0F Fernhollow \u2014 73% of monthly budget used",
                         "You've burned $147.30 of $200.00 this month.", false}));
}

TEST(AlertTexts, CriticalAsksForTheSound) {
    EXPECT_EQ(AlertTexts::critical(180, 200, 0.9),
              (AlertText{"\U0001F6A8 Fernhollow \u2014 90% of monthly budget",
                         "$180.00 / $200.00. Burn slowly for the rest of the month.", true}));
}

TEST(AlertTexts, EmergencyTellsTheOverspend) {
    EXPECT_EQ(
        AlertTexts::emergency(250, 200),
        (AlertText{"\U0001F525 Fernhollow \u2014 Monthly budget BLOWN",
                   "$50.00 over budget ($250.00 / $200.00). Switch to Haiku, or lift the cap in Settings.",
                   true}));
}

TEST(AlertTexts, TestIsQuiet) {
    EXPECT_EQ(AlertTexts::test(), (AlertText{"Fernhollow \u2014 Test", "Notifications are working.", false}));
}

// The exact bytes, since the variation selector is invisible in any editor.
TEST(AlertTexts, TitlesAreUtf8WithTheEmojiSelectorAndAnEmDash) {
    EXPECT_EQ(AlertTexts::warn(1, 2, 0.5).title.substr(0, 22),
              "\xE2\x9A\xA0\xEF\xB8\x8F Fernhollow \xE2\x80\x94 ");
    EXPECT_EQ(AlertTexts::critical(1, 2, 0.5).title.substr(0, 20),
              "\xF0\x9F\x9A\xA8 Fernhollow \xE2\x80\x94 ");
    EXPECT_EQ(AlertTexts::emergency(3, 2).title.substr(0, 20), "\xF0\x9F\x94\xA5 Fernhollow \xE2\x80\x94 ");
    EXPECT_EQ(AlertTexts::test().title, "Fernhollow \xE2\x80\x94 Test");
}

std::string warnPercent(double pct) {
    const std::string title = AlertTexts::warn(0, 1, pct).title;
    const std::string prefix = "\u26A0\uFE0F Fernhollow \u2014 ";
    const std::string suffix = "% of monthly budget used";
    EXPECT_EQ(title.substr(0, prefix.size()), prefix);
    EXPECT_EQ(title.substr(title.size() - suffix.size()), suffix);
    return title.substr(prefix.size(), title.size() - prefix.size() - suffix.size());
}

TEST(AlertTexts, PercentIsCutTowardZero) {
    EXPECT_EQ(warnPercent(0.7399), "73");
    EXPECT_EQ(warnPercent(0.7365), "73");
    EXPECT_EQ(warnPercent(0.999999), "99");
    EXPECT_EQ(warnPercent(0.0099), "0");
    EXPECT_EQ(warnPercent(1.2599), "125");
    EXPECT_EQ(warnPercent(-0.0199), "-1");
}

// Thresholds are fractions such as 0.7 or 0.57, and a ratio exactly at one must show its own
// percent even where the fraction is stored a hair below itself (0.29 × 100 < 29 in doubles).
TEST(AlertTexts, PercentOfARatioExactlyAtAThresholdIsThatThreshold) {
    EXPECT_EQ(warnPercent(0.7), "70");
    EXPECT_EQ(warnPercent(0.9), "90");
    EXPECT_EQ(warnPercent(0.29), "29");
    EXPECT_EQ(warnPercent(0.57), "57");
    EXPECT_EQ(warnPercent(140.0 / 200.0), "70");
    EXPECT_EQ(warnPercent(58.0 / 200.0), "29");
    for (int percent = 0; percent <= 300; ++percent) {
        SCOPED_TRACE(percent);
        EXPECT_EQ(warnPercent(percent / 100.0), std::to_string(percent));
        if (percent > 0) {
            EXPECT_EQ(warnPercent((percent - 0.01) / 100.0), std::to_string(percent - 1));
        }
    }
}

std::string criticalBody(double spent) {
    return AlertTexts::critical(spent, 1000, spent / 1000).body;
}

TEST(AlertTexts, DollarsHaveTwoDecimalsRoundedAsPrintfDoes) {
    EXPECT_EQ(criticalBody(147.3), "$147.30 / $1000.00. Burn slowly for the rest of the month.");
    EXPECT_EQ(criticalBody(0), "$0.00 / $1000.00. Burn slowly for the rest of the month.");
    EXPECT_EQ(criticalBody(0.005), "$0.01 / $1000.00. Burn slowly for the rest of the month.");
    EXPECT_EQ(criticalBody(1.005), "$1.00 / $1000.00. Burn slowly for the rest of the month.");
    EXPECT_EQ(criticalBody(2.675), "$2.67 / $1000.00. Burn slowly for the rest of the month.");
    EXPECT_EQ(criticalBody(0.125), "$0.12 / $1000.00. Burn slowly for the rest of the month.");
    EXPECT_EQ(criticalBody(999.999), "$1000.00 / $1000.00. Burn slowly for the rest of the month.");
    EXPECT_EQ(criticalBody(1234567.891), "$1234567.89 / $1000.00. Burn slowly for the rest of the month.");
}

TEST(AlertTexts, EmergencyOverspendIsSpentMinusBudget) {
    EXPECT_EQ(AlertTexts::emergency(200.004, 200).body,
              "$0.00 over budget ($200.00 / $200.00). Switch to Haiku, or lift the cap in Settings.");
    EXPECT_EQ(AlertTexts::emergency(1000.5, 99.25).body,
              "$901.25 over budget ($1000.50 / $99.25). Switch to Haiku, or lift the cap in Settings.");
}

TEST(AlertTexts, OnlyCriticalAndEmergencyAskForTheSound) {
    EXPECT_FALSE(AlertTexts::warn(150, 200, 0.75).sound);
    EXPECT_TRUE(AlertTexts::critical(190, 200, 0.95).sound);
    EXPECT_TRUE(AlertTexts::emergency(210, 200).sound);
    EXPECT_FALSE(AlertTexts::test().sound);
}

} // namespace
} // namespace fernhollow
