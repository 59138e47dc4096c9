#pragma once

#include "Require.h"

#include "core/model/PricingFiles.h"

#include <variant>

namespace fernhollow::fuzz {

// Both the overrides and the synced catalogue are kept on disk through encodeRateTable and
// read back with decodeRateTable, so every table either produces must survive that trip.
inline void requireRateTableRoundTrip(const ModelPricing::RateTable& rates) {
    const auto again = PricingFiles::decodeRateTable(PricingFiles::encodeRateTable(rates));
    const auto* decoded = std::get_if<ModelPricing::RateTable>(&again);
    require(decoded != nullptr && *decoded == rates, "a rate table reads back as it was written");
}

} // namespace fernhollow::fuzz
