// The user's price overrides file: arbitrary bytes decoded, then written and read again.
#include "FuzzTarget.h"
#include "RateTableChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fernhollow;
    const auto decoded = PricingFiles::decodeRateTable(fuzz::asText(data, size));
    if (const auto* rates = std::get_if<ModelPricing::RateTable>(&decoded)) {
        fuzz::requireRateTableRoundTrip(*rates);
    } else {
        fuzz::require(!std::get<PricingFiles::DecodeError>(decoded).description.empty(),
                      "a refused file is told why");
    }
    return 0;
}
