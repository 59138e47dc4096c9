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
    StoredRecords records; // model, project and session index `names`; no device
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

// The header ends within the first bytes of the file: a reader of a file it read before reads
// only those and what follows its last read.
inline constexpr std::size_t longestHeader = 4096;

struct Header {
    DeviceIdentity device;
    std::uint64_t end = 0; // where the first block starts
};

// The header at the start of `bytes`: an error when they are not a shared usage file, or one of
// a newer version.
std::variant<Header, std::string> decodeHeader(std::string_view bytes);

// The blocks of `frames`, which start where a block starts and run to the end of the file. Frames
// cut short or damaged give only an error: a file is never read in part.
std::variant<std::vector<SharedBlock>, std::string> decodeBlocks(std::string_view frames);

} // namespace sharedfile
} // namespace fernhollow
