#pragma once

#include "core/figures/BudgetStatus.h"

#include <optional>
#include <string>
#include <vector>

// Texts and proportions built from the figures, shared by the tray label, the panel, the
// settings window and the headless report. Numbers are written as printf would in the C locale.
namespace fernhollow::PanelTexts {

// "$12.34".
std::string dollars(double usd);

// Today against the mean of the seven days before: "" without a prior week, "≈ 7d avg" within
// 5 %, else "+42% vs 7d avg" or "-18% vs 7d avg".
std::string todayDelta(double todayUSD, double avg7dPriorDaily);

// "$147.30 / $200  (74%)": the month's spend, the budget, and the share spent (at most 100 %,
// against a budget of at least one dollar).
std::string budgetLine(double monthUSD, double budgetUSD);

// How much of the budget bar is filled, 0 to 1. Without a budget above one dollar the spend
// itself is the fraction.
double budgetBarFraction(double monthUSD, double budgetUSD);

// "—" before the first refresh, else "45s ago" or "12m ago" (no hour unit). A moment ahead of
// `now` (the clock was set back) reads as just now.
std::string refreshedAgo(std::optional<double> lastRefresh, double now);

// A live session's age: "42s" or "3m".
std::string sessionAge(double lastActivity, double now);

enum class Tint { primary, green, yellow, orange, red };

// The tray symbol and its tint for a budget status.
struct StatusSymbol {
    std::string icon;
    Tint tint;
};
StatusSymbol statusSymbol(BudgetStatus status);
Tint barTint(BudgetStatus status);

// What to do about a budget level that has been reached; nothing while all is ok.
struct KillswitchAdvice {
    std::string icon;
    std::string title;
    std::string body;
    std::optional<std::string> command;
    Tint color;
};
std::optional<KillswitchAdvice> killswitchAdvice(BudgetStatus status, double monthUSD, double budgetUSD);

// "3 unpriced models — billed as Sonnet", and "a, b, c +2 more".
std::string unpricedHeadline(std::size_t count);
std::string unpricedNames(const std::vector<std::string>& models);

// The sparkline's scale: the largest day, at least one cent; and one bar's height in points
// within `frameHeight`, at least two points so an empty day still shows.
double sparklineMax(const std::vector<double>& dailyUSD);
double sparklineBarHeight(double usd, double max, double frameHeight);

} // namespace fernhollow::PanelTexts
