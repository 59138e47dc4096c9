#pragma once

#include <string>

// Texts built from the figures, shared by the panel and the headless report.
namespace fernhollow::PanelTexts {

// Today against the mean of the seven days before: "" without a prior week, "≈ 7d avg" within
// 5 %, else "+42% vs 7d avg" or "-18% vs 7d avg".
std::string todayDelta(double todayUSD, double avg7dPriorDaily);

// "$147.30 / $200  (74%)": the month's spend, the budget, and the share spent (at most 100 %,
// against a budget of at least one dollar).
std::string budgetLine(double monthUSD, double budgetUSD);

} // namespace fernhollow::PanelTexts
