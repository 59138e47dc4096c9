#include "core/texts/SettingsTexts.h"

#include "core/common/FixedDecimal.h"
#include "core/texts/PanelTexts.h"

#include <charconv>
#include <cmath>

namespace fernhollow::SettingsTexts {

std::optional<double> parseBudget(std::string_view text) {
    std::string kept;
    for (const char c : text) {
        if (c != '$' && c != ',') {
            kept += c;
        }
    }
    constexpr std::string_view whiteSpace = " \t\n\r\f\v";
    const std::size_t first = kept.find_first_not_of(whiteSpace);
    if (first == std::string::npos) {
        return std::nullopt;
    }
    const std::string_view number =
        std::string_view(kept).substr(first, kept.find_last_not_of(whiteSpace) - first + 1);
    double value = 0.0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc{} || end != number.data() + number.size() || !std::isfinite(value) ||
        value < 1.0) {
        return std::nullopt;
    }
    return value;
}

std::string budgetText(double budgetUSD) {
    return fixedDecimal(budgetUSD, 0);
}

std::string thresholdPercent(double fraction) {
    return fixedDecimal(std::trunc(fraction * 100.0 + 1e-9), 0) + "%";
}

std::string cacheSize(std::uint64_t bytes) {
    return "Cache size on disk: " + fixedDecimal(static_cast<double>(bytes) / 1'048'576.0, 1) + " MB";
}

std::string machineDetail(bool thisMachine, bool fileFound, double lastSeen, double monthUSD, double now) {
    const std::string month = " \u00B7 " + PanelTexts::dollars(monthUSD) + " this month";
    if (thisMachine) {
        return "This machine" + month;
    }
    const std::string seen = PanelTexts::lastSeen(lastSeen, now);
    return fileFound ? "Last seen " + seen + month
                     : "File no longer in the folder \u00B7 last seen " + seen + month;
}

} // namespace fernhollow::SettingsTexts
