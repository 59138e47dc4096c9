// The state file: arbitrary bytes decoded; whatever decodes must survive its own encoding.
#include "FuzzTarget.h"
#include "Require.h"

#include "core/ledger/StateFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fernhollow;
    const std::string_view bytes = fuzz::asText(data, size);
    const auto state = decodeState(bytes);
    // Leading white space keeps the fast reading of our own layout out of the way.
    fuzz::require(decodeState(" " + std::string(bytes)) == state,
                  "the fast reading of our own layout agrees with the general reading");
    if (state) {
        const auto again = decodeState(encodeState(*state));
        fuzz::require(again && *again == *state, "a decoded state encodes to bytes that decode to it");
    }
    return 0;
}
