#pragma once

#include "core/ledger/StoredRecord.h"
#include "core/sync/DeviceIdentity.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace fernhollow {

// What one write of a machine added to its file: records with their names by index into `names`.
struct SharedBlock {
    double writtenAt = 0.0; // seconds since 1970, by the writer's clock
    std::vector<std::string> names;
    std::vector<StoredRecord> records; // model, project and session index `names`; no device
};

// A shared usage file: a text header that says whose it is, then blocks, each one zstd frame
// with its own checksum. A write appends a block, so a reader that has read the file before
// reads only the blocks after what it read.
namespace sharedfile {

inline constexpr std::string_view extension = ".fernhollow-usage";
inline constexpr int version = 1;

// The file's name in the shared folder: the host for people, the id for uniqueness.
std::string fileName(const DeviceIdentity& device);
std::string header(const DeviceIdentity& device);
std::string encodeBlock(const SharedBlock& block);

struct Contents {
    DeviceIdentity device;
    std::vector<SharedBlock> blocks;
    std::uint64_t headerEnd = 0;
};

// The blocks of `bytes` (a whole file) from `from` on, `from` being 0 or the end of a block read
// before. A file that is cut short, damaged, or of a newer version gives only an error: it is
// never read in part.
std::variant<Contents, std::string> decode(std::string_view bytes, std::uint64_t from = 0);

} // namespace sharedfile
} // namespace fernhollow
