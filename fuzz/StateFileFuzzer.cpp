// The state file: arbitrary bytes decoded; whatever decodes must survive its own encoding.
#include "FuzzTarget.h"
#include "Require.h"

#include "store/StateFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fernhollow;
    const auto state = decodeState(fuzz::asText(data, size));
    if (state) {
        const auto again = decodeState(encodeState(*state));
        fuzz::require(again && *again == *state, "a decoded state encodes to bytes that decode to it");
    }
    return 0;
}
