// Date-time text of arbitrary bytes through every parser, and the input's first eight bytes
// as a moment through the formatter our files are written with.
#include "FuzzTarget.h"
#include "Require.h"

#include "core/model/IsoDate.h"

#include <cmath>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fernhollow::isodate;
    using fernhollow::fuzz::require;
    const std::string_view text = fernhollow::fuzz::asText(data, size);
    const auto withFraction = parseInternetDateTime(text);
    const auto withoutFraction = parseInternetDateTime(text, FractionalSeconds::forbidden);
    require(!withoutFraction || withoutFraction == withFraction, "forbidding fractions only ever refuses");
    if (const auto utc = parseUtcWholeSeconds(text)) {
        require(utc == withoutFraction, "the strict form reads as the general one does");
        require(formatUtcWholeSeconds(*utc) == text, "a strict date-time is written back as it was read");
    }
    if (size >= sizeof(double)) {
        double moment = 0.0;
        std::memcpy(&moment, data, sizeof moment);
        const std::string written = formatUtcWholeSeconds(moment);
        const auto read = parseUtcWholeSeconds(written);
        require(read && (*read == std::floor(moment) || written == "0000-01-01T00:00:00Z"),
                "a moment is written as its whole second, or as the first moment when beyond the format");
    }
    return 0;
}
