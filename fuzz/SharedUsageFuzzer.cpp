// Bytes of a file found in the shared folder, read as another machine's usage: a header, then
// blocks. Whatever they hold, a block read whole names only names it carries, and what a
// block is written as reads back as that block.
#include "FuzzTarget.h"
#include "Require.h"

#include "core/sync/SharedUsageFile.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fernhollow;
    using fuzz::require;
    const std::string_view bytes = fuzz::asText(data, size);
    const auto header = sharedfile::decodeHeader(bytes);
    const std::uint64_t framesStart =
        std::holds_alternative<sharedfile::Header>(header) ? std::get<sharedfile::Header>(header).end : 0;
    const auto blocks = sharedfile::decodeBlocks(bytes.substr(framesStart));
    if (const auto* read = std::get_if<std::vector<SharedBlock>>(&blocks)) {
        for (const SharedBlock& block : *read) {
            for (const StoredRecord& record : block.records) {
                require(static_cast<std::size_t>(record.model) < block.names.size() &&
                            static_cast<std::size_t>(record.project) < block.names.size() &&
                            static_cast<std::size_t>(record.session) < block.names.size(),
                        "a record names only names of its block");
            }
            SharedBlock again{0.0, block.names, block.records};
            const auto reread = sharedfile::decodeBlocks(sharedfile::encodeBlock(again));
            const auto* back = std::get_if<std::vector<SharedBlock>>(&reread);
            require(back != nullptr && back->size() == 1 && (*back)[0].names == again.names &&
                        (*back)[0].records == again.records,
                    "a block reads back as it was written");
        }
    }
    return 0;
}
