#include "store/PanelTexts.h"

#include "common/FixedDecimal.h"

#include <algorithm>
#include <cmath>

namespace fernhollow::PanelTexts {

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

} // namespace fernhollow::PanelTexts
