#pragma once

#include <optional>
#include <string_view>

namespace fernhollow {

// Both modes price every record alike; the mode only changes how the panel labels itself.
enum class PricingMode { anthropicOfficial, ccusageCompatible };

std::string_view rawValue(PricingMode mode);
std::optional<PricingMode> pricingModeFromRawValue(std::string_view raw);

} // namespace fernhollow
