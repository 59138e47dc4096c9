#include "core/model/PricingMode.h"

namespace fernhollow {

std::string_view rawValue(PricingMode mode) {
    return mode == PricingMode::ccusageCompatible ? "ccusage" : "anthropic";
}

std::optional<PricingMode> pricingModeFromRawValue(std::string_view raw) {
    if (raw == "anthropic") {
        return PricingMode::anthropicOfficial;
    }
    if (raw == "ccusage") {
        return PricingMode::ccusageCompatible;
    }
    return std::nullopt;
}

} // namespace fernhollow
