// The LiteLLM catalogue as downloaded: arbitrary bytes converted to rates, then cached.
#include "FuzzTarget.h"
#include "RateTableChecks.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fernhollow;
    const auto rates = PricingFiles::parseLiteLLM(fuzz::asText(data, size));
    for (const auto& [model, rate] : rates) {
        fuzz::require(!model.empty() && rate.input > 0.0 && rate.output > 0.0,
                      "a catalogue rate names its model and prices input and output");
        for (const double price :
             {rate.input, rate.output, rate.cacheWrite, rate.cacheWrite1h, rate.cacheRead}) {
            fuzz::require(std::isfinite(price), "a catalogue price is finite");
        }
    }
    fuzz::requireRateTableRoundTrip(rates);
    return 0;
}
