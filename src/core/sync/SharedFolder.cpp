#include "core/sync/SharedFolder.h"

#include "core/common/AtomicFile.h"
#include "core/common/PaddedFile.h"
#include "core/common/RegularFile.h"
#include "core/figures/UsageAggregates.h"
#include "core/sources/IncrementalScan.h"
#include "core/sync/SharedUsageFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <unordered_map>

namespace fernhollow {
namespace {

// A write appends a block; past this many the file is written again as few, so that a machine
// reading it whole does not decompress thousands of small frames.
constexpr std::int64_t mostBlocks = 512;
// Blocks of a whole write stay this small, so neither side holds a whole history uncompressed.
constexpr std::size_t recordsPerBlock = 65'536;

struct FileStat {
    std::uint64_t size = 0;
    double mtime = 0.0;
};

std::optional<FileStat> statOf(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return FileStat{static_cast<std::uint64_t>(info.st_size), modificationTime(info)};
}

// The records as they leave the machine: of each project only its own name, never the folders
// above it, and no name that no record uses.
ShareExport forSharing(const ShareExport& share) {
    ShareExport out;
    out.records = share.records;
    std::unordered_map<std::string, std::int64_t> indexes;
    const auto indexOf = [&](std::string text) {
        const auto [it, added] =
            indexes.emplace(std::move(text), static_cast<std::int64_t>(out.names.size()));
        if (added) {
            out.names.push_back(it->first);
        }
        return it->second;
    };
    const auto name = [&](std::int64_t index) -> const std::string& {
        return share.names[static_cast<std::size_t>(index)];
    };
    for (StoredRecord& record : out.records) {
        record.model = indexOf(name(record.model));
        record.project = indexOf(UsageAggregates::shortenProjectName(name(record.project)));
        record.session = indexOf(name(record.session));
    }
    return out;
}

std::string blocksOf(const ShareExport& share, double now, std::int64_t& blocks) {
    std::string bytes;
    const auto records = share.records.begin();
    std::size_t first = 0;
    do {
        const std::size_t end = std::min(share.records.size(), first + recordsPerBlock);
        bytes += sharedfile::encodeBlock({now, share.names,
                                          StoredRecords(records + static_cast<std::ptrdiff_t>(first),
                                                        records + static_cast<std::ptrdiff_t>(end))});
        ++blocks;
        first = end;
    } while (first < share.records.size());
    return bytes;
}

// Writes this machine's file; gives what went wrong, if anything did.
std::optional<std::string> writeOwnFile(Ledger& ledger, const std::filesystem::path& folder,
                                        const DeviceIdentity& self, double now, OwnFileWrite write,
                                        bool& wrote) {
    const std::filesystem::path path = folder / sharedfile::fileName(self);
    const std::optional<OwnShare> last = ledger.ownShare();
    const std::optional<FileStat> found = statOf(path);
    const bool asLeft = last && last->path == path.string() && found && found->size == last->size &&
                        found->mtime == last->mtime && last->blocks < mostBlocks;
    std::string bytes;
    std::int64_t blocks = 0;
    ShareExport share;
    if (asLeft) {
        if (write != OwnFileWrite::withNewRecords) {
            return std::nullopt;
        }
        share = ledger.recordsToShare(false);
        if (share.records.empty()) {
            return std::nullopt;
        }
        const auto before = PaddedFile::read(path);
        if (!before || before->bytes().size() != last->size) {
            return "Could not read " + path.string() + " to add to it";
        }
        bytes = std::string(before->bytes()) + blocksOf(forSharing(share), now, blocks);
        blocks += last->blocks;
    } else {
        share = ledger.recordsToShare(true);
        bytes = sharedfile::header(self) + blocksOf(forSharing(share), now, blocks);
    }
    const std::filesystem::path temporary = folder / ("~" + path.filename().string() + ".tmp");
    if (!writeAtomically(path, bytes, 0600, temporary)) {
        return "Could not write " + path.string();
    }
    const std::optional<FileStat> written = statOf(path);
    if (!written) {
        return "Could not find " + path.string() + " after writing it";
    }
    // The machine's file under its old host name goes; a copy of it would only be read again. A
    // file in a folder the user no longer shares through stays where it is.
    if (last && last->path != path.string() && std::filesystem::path(last->path).parent_path() == folder) {
        std::error_code ignored;
        std::filesystem::remove(last->path, ignored);
    }
    ledger.setOwnShare({path.string(), written->size, written->mtime, blocks}, share.records);
    wrote = true;
    return std::nullopt;
}

bool isSharedFile(const std::filesystem::directory_entry& entry) {
    const std::string name = entry.path().filename().string();
    // A temporary name of a write in progress, ours or a sync tool's, is never read.
    return name.ends_with(sharedfile::extension) && !name.starts_with('~') && !name.starts_with('.');
}

struct FileRead {
    sharedfile::Header header;
    std::vector<SharedBlock> blocks;
    LogFileState state;
};

// What changed in a shared file since `known` (none: never read): the blocks after the last read
// when the file only grew, else every block.
std::variant<FileRead, std::string> readChanges(const std::filesystem::path& path, double mtime,
                                                const LogFileState* known) {
    const auto head = PaddedFile::read(path, 0, sharedfile::longestHeader);
    if (!head) {
        return std::string("it cannot be read");
    }
    auto header = sharedfile::decodeHeader(head->bytes());
    if (auto* why = std::get_if<std::string>(&header)) {
        return std::move(*why);
    }
    FileRead read{std::get<sharedfile::Header>(header), {}, {}};
    const std::string_view headWindow = head->bytes();
    std::uint64_t from = 0;
    bool grown = false;
    std::optional<PaddedFile> rest;
    if (known != nullptr && known->readEnd >= read.header.end) {
        // Only blocks were added when the file's start, where the header is, and the bytes before
        // the end of the last read are as they were.
        const std::uint64_t checkedFrom = windowStart(known->readEnd);
        rest = PaddedFile::read(path, checkedFrom);
        const std::uint64_t window = known->readEnd - checkedFrom;
        if (rest && rest->bytes().size() >= window &&
            windowsHash(headWindow.substr(0, std::min<std::uint64_t>(headWindow.size(), known->readEnd)),
                        rest->bytes().substr(0, window)) == known->windowHash) {
            from = checkedFrom;
            grown = true;
        } else {
            rest.reset();
        }
    }
    if (!rest) {
        rest = PaddedFile::read(path);
        if (!rest) {
            return std::string("it cannot be read");
        }
    }
    const std::string_view bytes = rest->bytes();
    const std::uint64_t end = from + bytes.size();
    const std::uint64_t framesStart = grown ? known->readEnd : read.header.end;
    auto blocks =
        sharedfile::decodeBlocks(bytes.substr(std::min<std::uint64_t>(bytes.size(), framesStart - from)));
    if (auto* why = std::get_if<std::string>(&blocks)) {
        return std::move(*why);
    }
    read.blocks = std::move(std::get<std::vector<SharedBlock>>(blocks));
    read.state = {end, mtime, end,
                  windowsHash(headWindow.substr(0, std::min<std::uint64_t>(headWindow.size(), end)),
                              bytes.substr(std::max(windowStart(end), from) - from))};
    return read;
}

SharedBatch batchOf(Ledger& ledger, FileRead& changes, const std::string& path, const DeviceIdentity& self) {
    const DeviceIdentity& device = changes.header.device;
    SharedBatch batch;
    // A conflict copy of this machine's own file holds this machine's records.
    batch.device = device.id == self.id ? 0 : ledger.deviceRow(device.id, device.host);
    batch.path = path;
    batch.file = changes.state;
    for (SharedBlock& block : changes.blocks) {
        const auto offset = static_cast<std::int64_t>(batch.names.size());
        std::move(block.names.begin(), block.names.end(), std::back_inserter(batch.names));
        for (StoredRecord& record : block.records) {
            record.model += offset;
            record.project += offset;
            record.session += offset;
        }
        batch.blocks.push_back(std::move(block.records));
        batch.lastSeen = std::max(batch.lastSeen, block.writtenAt);
    }
    return batch;
}

} // namespace

SharedFolderPass passSharedFolder(Ledger& ledger, const std::filesystem::path& folder,
                                  const DeviceIdentity& self, double now, OwnFileWrite write) {
    SharedFolderPass pass;
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    if (error) {
        pass.problems.push_back("Cannot read the shared folder " + folder.string() + ": " + error.message());
        return pass;
    }
    if (write != OwnFileWrite::none) {
        if (auto problem = writeOwnFile(ledger, folder, self, now, write, pass.wrote)) {
            pass.problems.push_back(std::move(*problem));
        }
    }
    const LogFileStates known = ledger.sharedFileStates();
    std::set<std::string> present;
    struct ChangedFile {
        std::filesystem::path path;
        double mtime = 0.0;
        const LogFileState* known = nullptr; // as the last read left it; none: never read
    };
    std::vector<ChangedFile> changed;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (!isSharedFile(entry)) {
            continue;
        }
        const std::string path = entry.path().string();
        present.insert(path);
        const std::optional<FileStat> stat = statOf(entry.path());
        const auto was = known.find(path);
        if (stat &&
            (was == known.end() || was->second.size != stat->size || was->second.mtime != stat->mtime)) {
            changed.push_back({entry.path(), stat->mtime, was != known.end() ? &was->second : nullptr});
        }
    }
    // In name order, the same on every machine: a record that two machines' files hold goes to the
    // same one of them everywhere, and not by how this file system happens to list the folder.
    std::ranges::sort(changed, {}, &ChangedFile::path);
    // Read one at a time as the merge takes them: a folder of years of records is never held whole.
    if (!changed.empty()) {
        std::size_t nextFile = 0;
        ledger.mergeShared([&]() -> std::optional<SharedBatch> {
            while (nextFile < changed.size()) {
                const ChangedFile& file = changed[nextFile++];
                auto read = readChanges(file.path, file.mtime, file.known);
                if (auto* why = std::get_if<std::string>(&read)) {
                    pass.problems.push_back(file.path.filename().string() + " was skipped: " + *why);
                    continue;
                }
                ++pass.filesRead;
                return batchOf(ledger, std::get<FileRead>(read), file.path.string(), self);
            }
            return std::nullopt;
        });
    }
    if (error) {
        pass.problems.push_back("Cannot read the shared folder " + folder.string() + ": " + error.message());
        return pass;
    }
    std::vector<std::string> gone;
    for (const auto& [path, state] : known) {
        if (!present.contains(path)) {
            gone.push_back(path);
        }
    }
    ledger.dropSharedFiles(gone);
    return pass;
}

} // namespace fernhollow
