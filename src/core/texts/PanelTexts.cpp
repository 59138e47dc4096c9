#include "core/texts/PanelTexts.h"

#include "core/common/FixedDecimal.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace fernhollow::PanelTexts {
namespace {

// Whole seconds from `then` to `now`, cut toward zero, never negative.
std::int64_t elapsedSeconds(double then, double now) {
    const double seconds = std::trunc(now - then);
    if (!(seconds > 0.0)) {
        return 0;
    }
    return seconds >= 9.0e18 ? std::int64_t{9'000'000'000'000'000'000} : static_cast<std::int64_t>(seconds);
}

std::string wholePercent(double monthUSD, double budgetUSD) {
    return std::to_string(static_cast<std::int64_t>(std::trunc(monthUSD / std::max(budgetUSD, 1.0) * 100.0)));
}

} // namespace

std::string dollars(double usd) {
    return "$" + fixedDecimal(usd, 2);
}

std::string todayDelta(double todayUSD, double avg7dPriorDaily) {
    if (!(avg7dPriorDaily > 0.0)) {
        return {};
    }
    const double delta = (todayUSD - avg7dPriorDaily) / avg7dPriorDaily * 100.0;
    if (std::abs(delta) < 5.0) {
        return "\u2248 7d avg";
    }
    return (delta >= 0.0 ? "+" : "") + fixedDecimal(delta, 0) + "% vs 7d avg";
}

std::string budgetLine(double monthUSD, double budgetUSD) {
    const double percent = std::min(monthUSD / std::max(budgetUSD, 1.0) * 100.0, 100.0);
    return "$" + fixedDecimal(monthUSD, 2) + " / $" + fixedDecimal(budgetUSD, 0) + "  (" +
           fixedDecimal(percent, 0) + "%)";
}

double budgetBarFraction(double monthUSD, double budgetUSD) {
    const double fraction = budgetUSD > 1.0 ? monthUSD / budgetUSD : monthUSD;
    return std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
}

std::string refreshedAgo(std::optional<double> lastRefresh, double now) {
    if (!lastRefresh) {
        return "\u2014";
    }
    const std::int64_t seconds = elapsedSeconds(*lastRefresh, now);
    return seconds > 59 ? std::to_string(seconds / 60) + "m ago" : std::to_string(seconds) + "s ago";
}

std::string sessionAge(double lastActivity, double now) {
    const std::int64_t seconds = elapsedSeconds(lastActivity, now);
    return seconds > 59 ? std::to_string(seconds / 60) + "m" : std::to_string(seconds) + "s";
}

std::string lastSeen(double lastSeen, double now) {
    if (lastSeen == 0.0) {
        return "never";
    }
    const std::int64_t minutes = elapsedSeconds(lastSeen, now) / 60;
    if (minutes == 0) {
        return "just now";
    }
    if (minutes < 60) {
        return std::to_string(minutes) + "m ago";
    }
    return minutes < 24 * 60 ? std::to_string(minutes / 60) + "h ago"
                             : std::to_string(minutes / (24 * 60)) + "d ago";
}

StatusSymbol statusSymbol(BudgetStatus status) {
    switch (status) {
    case BudgetStatus::warn:
        return {"exclamationmark.triangle", Tint::yellow};
    case BudgetStatus::critical:
        return {"exclamationmark.triangle.fill", Tint::orange};
    case BudgetStatus::over:
        return {"flame.fill", Tint::red};
    case BudgetStatus::ok:
        break;
    }
    return {"dollarsign.circle", Tint::primary};
}

Tint barTint(BudgetStatus status) {
    const Tint tint = statusSymbol(status).tint;
    return tint == Tint::primary ? Tint::green : tint;
}

std::optional<KillswitchAdvice> killswitchAdvice(BudgetStatus status, double monthUSD, double budgetUSD) {
    const StatusSymbol symbol = statusSymbol(status);
    switch (status) {
    case BudgetStatus::ok:
        return std::nullopt;
    case BudgetStatus::warn:
        return KillswitchAdvice{symbol.icon,
                                "Warning \u2014 " + wholePercent(monthUSD, budgetUSD) + "% of monthly budget",
                                "Switch non-critical work to Sonnet. Save Opus for the hardest tasks.",
                                "claude --model claude-sonnet-4-6", symbol.tint};
    case BudgetStatus::critical:
        return KillswitchAdvice{
            symbol.icon, "Critical \u2014 " + wholePercent(monthUSD, budgetUSD) + "% of monthly budget",
            "Drop to Haiku for the rest of the month, or raise the cap in Settings.",
            "claude --model claude-haiku-4-5", symbol.tint};
    case BudgetStatus::over:
        return KillswitchAdvice{
            symbol.icon, "BLOWN \u2014 " + dollars(monthUSD - budgetUSD) + " over budget",
            "Use Haiku only, or raise the cap. Anthropic Max plan caps your actual cash bill "
            "at $100-$200, so this is API-equivalent value, not a real invoice.",
            "claude --model claude-haiku-4-5", symbol.tint};
    }
    return std::nullopt;
}

std::string unpricedHeadline(std::size_t count) {
    return std::to_string(count) + " unpriced model" + (count == 1 ? "" : "s") + " \u2014 billed as Sonnet";
}

std::string unpricedNames(const std::vector<std::string>& models) {
    std::string text;
    for (std::size_t i = 0; i < std::min<std::size_t>(models.size(), 3); ++i) {
        text += (i == 0 ? "" : ", ") + models[i];
    }
    if (models.size() >= 4) {
        text += " +" + std::to_string(models.size() - 3) + " more";
    }
    return text;
}

double sparklineMax(const std::vector<double>& dailyUSD) {
    double max = 0.0;
    for (const double usd : dailyUSD) {
        max = std::max(max, usd);
    }
    return max > 0.01 ? max : 0.01;
}

double sparklineBarHeight(double usd, double max, double frameHeight) {
    const double height = usd / max * frameHeight;
    return std::isnan(height) ? 2.0 : std::clamp(height, 2.0, frameHeight);
}

std::string duration(double seconds) {
    const auto whole =
        static_cast<long long>(std::max(0.0, std::isfinite(seconds) ? std::floor(seconds) : 0.0));
    if (whole < 60) {
        return std::to_string(whole) + "s";
    }
    const long long minutes = whole / 60;
    return minutes < 60 ? std::to_string(minutes) + "m"
                        : std::to_string(minutes / 60) + "h " + std::to_string(minutes % 60) + "m";
}

std::string rateLimitLine(std::string_view agent, bool weekly, double usedPercent,
                          const std::string& resetsAt) {
    std::string line = std::string(agent) + " \u00b7 " + (weekly ? "Weekly window: " : "5-hour window: ") +
                       fixedDecimal(usedPercent, 0) + "% used";
    return resetsAt.empty() ? line : line + ", resets " + resetsAt;
}

std::string windowEstimateLine(double usd, double burnRatePerHour, double projectedUSD, double secondsLeft) {
    return "5-hour window (estimate): " + dollars(usd) + ", " + dollars(burnRatePerHour) + "/h, " +
           dollars(projectedUSD) + " by the end, " + duration(secondsLeft) + " left";
}

std::string agentName(UsageSource source) {
    switch (source) {
    case UsageSource::claudeCode:
        return "Claude Code";
    case UsageSource::openClaw:
        return "OpenClaw";
    case UsageSource::openAI:
        return "OpenAI";
    case UsageSource::codex:
        return "Codex";
    case UsageSource::gemini:
        return "Gemini";
    }
    return "Unknown";
}

} // namespace fernhollow::PanelTexts
