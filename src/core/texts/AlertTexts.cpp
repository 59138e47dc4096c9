#include "core/texts/AlertTexts.h"

#include "core/common/FixedDecimal.h"

#include <cmath>

namespace fernhollow::AlertTexts {
namespace {

std::string dollars(double amount) {
    return "$" + fixedDecimal(amount, 2);
}

// A ratio such as 0.29 is stored just below itself, so 0.29 × 100 lands a hair under 29 and
// a bare cut would show 28 %. The nudge, far above that rounding error and far below a cent
// of any real budget, restores the whole number without ever rounding 73.99 up.
std::string wholePercent(double pct) {
    constexpr double representationSlack = 1e-12;
    return fixedDecimal(std::trunc(pct * 100.0 * (1.0 + representationSlack)), 0);
}

// U+FE0F asks for the colour emoji form of the warning sign (U+26A0), which would otherwise
// often be drawn as a plain text symbol; the police light and the fire are emoji already.
constexpr auto warnPrefix = "\u26A0\uFE0F Fernhollow \u2014 ";
constexpr auto criticalPrefix = "\U0001F6A8 Fernhollow \u2014 ";
constexpr auto emergencyPrefix = "\U0001F525 Fernhollow \u2014 ";

} // namespace

AlertText warn(double spent, double budget, double pct) {
    return {warnPrefix + wholePercent(pct) + "% of monthly budget used",
            "You've burned " + dollars(spent) + " of " + dollars(budget) + " this month.", false};
}

AlertText critical(double spent, double budget, double pct) {
    return {criticalPrefix + wholePercent(pct) + "% of monthly budget",
            dollars(spent) + " / " + dollars(budget) + ". Burn slowly for the rest of the month.", true};
}

AlertText emergency(double spent, double budget) {
    return {std::string(emergencyPrefix) + "Monthly budget BLOWN",
            dollars(spent - budget) + " over budget (" + dollars(spent) + " / " + dollars(budget) +
                "). Switch to Haiku, or lift the cap in Settings.",
            true};
}

AlertText test() {
    return {"Fernhollow \u2014 Test", "Notifications are working.", false};
}

} // namespace fernhollow::AlertTexts
