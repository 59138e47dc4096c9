// A model id of arbitrary bytes, as logs and answers name models: canonicalised and priced.
#include "FuzzTarget.h"
#include "Require.h"

#include "core/model/ModelPricing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fernhollow::ModelPricing;
    using fernhollow::fuzz::require;
    // Lookups reach all three tables only when the two replaceable ones hold something.
    [[maybe_unused]] static const bool tablesFilled = [] {
        setUserOverrides({{"override-model", Rate{1.0, 2.0, 3.0, 4.0, 5.0}}});
        setRemoteRates({{"catalogue-model", Rate{6.0, 7.0, 8.0, 9.0, 10.0}}});
        return true;
    }();
    const std::string_view model = fernhollow::fuzz::asText(data, size);
    const std::string canonical = canonicalize(model);
    require(canonicalize(canonical) == canonical, "a canonical id is its own canonical id");
    const auto rate = effectiveRate(model);
    const Pricer pricer;
    const Rate* pricerRate = pricer.effectiveRate(model);
    require(rate ? pricerRate != nullptr && *pricerRate == *rate : pricerRate == nullptr,
            "the pricer and the one-off lookup find the same rate");
    fernhollow::UsageRecord record;
    record.model = model;
    record.cacheReadInputTokens = 300'000;
    const fernhollow::PriceClass priceClass = priceClassOf(record, fernhollow::priceClass::fast);
    require((priceClass & fernhollow::priceClass::fast) != 0, "a requested tier is kept");
    return 0;
}
