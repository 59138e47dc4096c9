#include "core/sources/IncrementalScan.h"

#include "core/common/PaddedFile.h"
#include "core/common/Parallel.h"
#include "core/common/RegularFile.h"
#include "core/common/Zstd.h"
#include "core/ledger/RecordIdentity.h"
#include "core/sources/JsonlRecordReader.h"

#include <unistd.h>

#include <algorithm>
#include <numeric>
#include <unordered_set>

namespace fernhollow {
namespace {

enum class Reading { none, tail, whole };

struct PlannedRead {
    const LogFile* file;
    Reading reading;
    LogFileState before; // as known, for a tail
};

// One of the two ways a source reads its logs.
struct Reader {
    const LineRecordReader* lines = nullptr;
    const WholeLogReader* whole = nullptr;
};

struct FileOutcome {
    std::vector<UsageRecord> records;
    LogFileState state;
    std::size_t bytesRead = 0;
};

Reading planFor(const LogFile& file, const LogFileState* known, bool wholeFiles, bool tails) {
    if (wholeFiles || known == nullptr) {
        return Reading::whole;
    }
    if (file.size == known->size && file.mtime == known->mtime) {
        return Reading::none;
    }
    if (!tails || file.compressed || file.size < known->readEnd) {
        return Reading::whole;
    }
    // Same size, another time: the window check below decides between a touch and a rewrite;
    // a grown log is read from where the last read ended.
    return Reading::tail;
}

// The first bytes of a log, up to a window's worth.
std::optional<std::string> readHead(const std::string& path, std::uint64_t readEnd) {
    const auto file = RegularFile::open(path);
    if (!file) {
        return std::nullopt;
    }
    std::string head(std::min(readEnd, checkedWindowBytes), '\0');
    const ssize_t got = ::pread(file->descriptor, head.data(), head.size(), 0);
    ::close(file->descriptor);
    if (got != static_cast<ssize_t>(head.size())) {
        return std::nullopt;
    }
    return head;
}

// `text` holds the log from `textStart` on; `head` its first window.
LogFileState stateAfter(const LogFile& file, std::string_view text, std::uint64_t textStart,
                        std::uint64_t endOfLastLine, const LogFileState& before, std::string_view head) {
    LogFileState state{file.size, file.mtime, before.readEnd, before.windowHash};
    if (endOfLastLine > 0) {
        state.readEnd = textStart + endOfLastLine;
        const std::uint64_t from = windowStart(state.readEnd);
        state.windowHash = windowsHash(head.substr(0, std::min<std::uint64_t>(head.size(), state.readEnd)),
                                       text.substr(from - textStart, state.readEnd - from));
    }
    return state;
}

std::optional<FileOutcome> readWhole(const LogFile& file, LineParsers& parsers, const Reader& reader) {
    if (!parsers.log.readAgain(file.path)) {
        return std::nullopt;
    }
    const std::uint64_t sizeRead = parsers.log.bytes().size();
    std::optional<PaddedFile> decompressed;
    if (file.compressed) {
        // An archive that does not decompress (cut short, or not zstd after all) yields
        // nothing, and is not tried again until it changes.
        decompressed = decompressZstd(parsers.log.bytes()).value_or(PaddedFile());
    }
    const std::string_view text = decompressed ? decompressed->bytes() : parsers.log.bytes();
    JsonlRead read = reader.lines != nullptr
                         ? readJsonlText(text, file, parsers, *reader.lines)
                         : JsonlRead{(*reader.whole)(text, file, parsers.parsed), text.size()};
    LogFile seen = file;
    seen.size = sizeRead;
    return FileOutcome{std::move(read.records),
                       stateAfter(seen, text, 0, read.endOfLastLine, {}, text.substr(0, checkedWindowBytes)),
                       sizeRead};
}

// Reads from the window before the old end; when the windows' bytes changed the log was
// rewritten, and it is read whole.
std::optional<FileOutcome> readTail(const LogFile& file, const LogFileState& before, LineParsers& parsers,
                                    const Reader& reader) {
    const std::uint64_t from = windowStart(before.readEnd);
    const bool tailRead = parsers.log.readAgain(file.path, from);
    // A log read from its start holds its own first window.
    const auto head = from > 0 ? readHead(file.path, before.readEnd) : std::optional<std::string>("");
    if (!tailRead || !head) {
        return std::nullopt;
    }
    // Read again whole below, into the same memory, when the log was rewritten.
    const std::string_view text = parsers.log.bytes();
    const std::string_view headWindow =
        from > 0 ? std::string_view(*head) : text.substr(0, checkedWindowBytes);
    const std::uint64_t windowLength = before.readEnd - from;
    if (text.size() < windowLength ||
        windowsHash(headWindow.substr(0, std::min<std::uint64_t>(headWindow.size(), before.readEnd)),
                    text.substr(0, windowLength)) != before.windowHash) {
        return readWhole(file, parsers, reader);
    }
    // The rest starts where a line started, and is padded like the whole buffer.
    const std::string_view rest = text.substr(windowLength);
    JsonlRead read = readJsonlText(rest, file, parsers, *reader.lines);
    LogFile seen = file;
    seen.size = from + text.size();
    const std::uint64_t lastLine = read.endOfLastLine > 0 ? windowLength + read.endOfLastLine : 0;
    return FileOutcome{std::move(read.records), stateAfter(seen, text, from, lastLine, before, headWindow),
                       text.size()};
}

ScanResult scan(const std::vector<LogFile>& files, const LogFileStates& known, const Reader& reader,
                bool wholeFiles, ScanProgress* progress, const RecordSink& sink) {
    ScanResult result;
    std::vector<PlannedRead> plan;
    std::unordered_set<std::string_view> found;
    found.reserve(files.size());
    for (const LogFile& file : files) {
        found.insert(file.path);
        const auto it = known.find(file.path);
        const LogFileState* state = it != known.end() ? &it->second : nullptr;
        const Reading reading = planFor(file, state, wholeFiles, reader.lines != nullptr);
        if (reading != Reading::none) {
            plan.push_back({&file, reading, state != nullptr ? *state : LogFileState{}});
        }
    }
    for (const auto& [path, state] : known) {
        if (!found.contains(path)) {
            result.goneFiles.push_back(path);
        }
    }
    std::sort(result.goneFiles.begin(), result.goneFiles.end());
    if (plan.empty()) {
        return result;
    }

    // Largest first, so one big file read last does not leave the other cores idle.
    std::stable_sort(plan.begin(), plan.end(),
                     [](const PlannedRead& a, const PlannedRead& b) { return a.file->size > b.file->size; });
    if (progress != nullptr) {
        progress->filesToRead += plan.size();
    }
    const RecordSink collect = [&](std::vector<UsageRecord> records) {
        std::move(records.begin(), records.end(), std::back_inserter(result.records));
    };
    const RecordSink& take = sink ? sink : collect;
    parallelForInOrder<LineParsers>(
        plan.size(), threadsFor(plan.size(), 1),
        [&](LineParsers& parsers, std::size_t k) {
            const PlannedRead& read = plan[k];
            std::optional<FileOutcome> outcome = read.reading == Reading::whole
                                                     ? readWhole(*read.file, parsers, reader)
                                                     : readTail(*read.file, read.before, parsers, reader);
            if (progress != nullptr) {
                ++progress->filesRead;
            }
            return outcome;
        },
        [&](std::size_t k, std::optional<FileOutcome> outcome) {
            // A log that could not be opened keeps its old state and is tried again next pass.
            if (!outcome) {
                return;
            }
            take(std::move(outcome->records));
            result.files.emplace_back(plan[k].file->path, outcome->state);
            result.bytesRead += outcome->bytesRead;
        });
    return result;
}

} // namespace

std::uint64_t windowStart(std::uint64_t end) {
    return end > checkedWindowBytes ? end - checkedWindowBytes : 0;
}

std::uint64_t windowsHash(std::string_view head, std::string_view tail) {
    return bytesHash(head) ^ (bytesHash(tail) * 0x9e3779b97f4a7c15ULL);
}

ScanResult scanIncrementally(const std::vector<LogFile>& files, const LogFileStates& known,
                             const LineRecordReader& readLine, bool wholeFiles, ScanProgress* progress,
                             const RecordSink& sink) {
    return scan(files, known, Reader{&readLine, nullptr}, wholeFiles, progress, sink);
}

ScanResult scanWholeLogs(const std::vector<LogFile>& files, const LogFileStates& known,
                         const WholeLogReader& read, bool wholeFiles, ScanProgress* progress) {
    return scan(files, known, Reader{nullptr, &read}, wholeFiles, progress, {});
}

} // namespace fernhollow
