#pragma once

#include "core/figures/BudgetStatus.h"
#include "core/model/UsageSource.h"

#include <optional>
#include <string>
#include <string_view>
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

// When a machine last wrote its shared file, by its own clock: "never" for 0, "just now" within a
// minute or ahead of `now` (the clocks disagree), else "12m ago", "5h ago" or "3d ago".
std::string lastSeen(double lastSeen, double now);

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

// A span of time as "2h 13m", "13m" or "45s"; none below zero.
std::string duration(double seconds);

// An agent's own reading of a plan window: "Claude Code · 5-hour window: 42% used, resets
// 16:00" (or "Weekly window"); `resetsAt` is the reset's local time as the caller writes it,
// empty when the agent did not say.
std::string rateLimitLine(std::string_view agent, bool weekly, double usedPercent,
                          const std::string& resetsAt);

// The 5-hour window as the local logs show it, named an estimate since use on other machines
// and the web never reaches them: "5-hour window (estimate): $12.34, $3.21/h, $20.00 by the
// end, 2h 13m left".
std::string windowEstimateLine(double usd, double burnRatePerHour, double projectedUSD, double secondsLeft);

// The agent's name as a person would say it: "Claude Code", "Codex".
std::string agentName(UsageSource source);

} // namespace fernhollow::PanelTexts
