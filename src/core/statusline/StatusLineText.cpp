#include "core/statusline/StatusLineText.h"

#include "core/common/FixedDecimal.h"
#include "core/texts/PanelTexts.h"

#include <vector>

namespace fernhollow {
namespace {

constexpr std::string_view reset = "\033[0m";

std::string tinted(std::string text, std::string_view colour, bool useColour) {
    return useColour ? std::string(colour) + text + std::string(reset) : text;
}

std::string_view usageColour(double usedPercent) {
    return usedPercent >= 90.0 ? "\033[31m" : usedPercent >= 70.0 ? "\033[33m" : "\033[32m";
}

// A terminal has no tray icons: a dot while all is well, a warning sign, then a flame.
std::pair<std::string, std::string_view> statusMark(BudgetStatus status) {
    switch (status) {
    case BudgetStatus::warn:
        return {"\u26a0", "\033[33m"};
    case BudgetStatus::critical:
        return {"\u26a0", "\033[38;5;208m"};
    case BudgetStatus::over:
        return {"\U0001f525", "\033[31m"};
    case BudgetStatus::ok:
        break;
    }
    return {"\u25cf", "\033[32m"};
}

} // namespace

std::string statusLineText(const StatusLineFigures& figures, double now, bool colour) {
    std::vector<std::string> parts;
    if (!figures.model.empty()) {
        parts.push_back(tinted(figures.model, "\033[1m", colour));
    }
    if (figures.sessionUSD) {
        parts.push_back("session " + PanelTexts::dollars(*figures.sessionUSD));
    }
    if (figures.todayUSD) {
        parts.push_back("today " + PanelTexts::dollars(*figures.todayUSD));
    }
    if (figures.fiveHour) {
        std::string window = tinted(fixedDecimal(figures.fiveHour->usedPercent, 0) + "%",
                                    usageColour(figures.fiveHour->usedPercent), colour);
        if (figures.fiveHour->resetsAt && *figures.fiveHour->resetsAt > now) {
            window += " used, resets in " + PanelTexts::duration(*figures.fiveHour->resetsAt - now);
        }
        parts.push_back("5h " + window);
    } else if (figures.estimateUSD && figures.estimateSecondsLeft) {
        parts.push_back("5h \u2248" + PanelTexts::dollars(*figures.estimateUSD) + ", " +
                        PanelTexts::duration(*figures.estimateSecondsLeft) + " left");
    }
    if (figures.status) {
        const auto [mark, markColour] = statusMark(*figures.status);
        parts.push_back(tinted(mark, markColour, colour));
    }
    std::string line;
    for (const std::string& part : parts) {
        line += line.empty() ? part : " \u00b7 " + part;
    }
    return line;
}

} // namespace fernhollow
