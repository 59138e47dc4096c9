// Bytes of an archive that claims to be zstd, decompressed as a session archive or a database
// row is: within the bound given, and what the input compresses to comes back as the input.
#include "FuzzTarget.h"
#include "Require.h"

#include "core/common/Zstd.h"

#include <zstd.h>

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using fernhollow::decompressZstd;
    using fernhollow::fuzz::require;
    constexpr std::size_t bound = 1 << 20;
    const std::string_view bytes = fernhollow::fuzz::asText(data, size);
    if (const auto text = decompressZstd(bytes, bound)) {
        require(text->bytes().size() <= bound, "decompression stays within its bound");
    }
    std::string compressed(ZSTD_compressBound(size), '\0');
    compressed.resize(ZSTD_compress(compressed.data(), compressed.size(), data, size, 1));
    const auto roundTrip = decompressZstd(compressed, size);
    require(roundTrip && roundTrip->bytes() == bytes, "compressed bytes decompress to themselves");
    return 0;
}
