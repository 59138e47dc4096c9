#include "core/sources/IncrementalScan.h"

#include "core/common/PaddedFile.h"
#include "core/common/Parallel.h"
#include "core/ledger/RecordIdentity.h"
#include "core/sources/JsonlRecordReader.h"

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

struct FileOutcome {
    std::vector<UsageRecord> records;
    LogFileState state;
    std::size_t bytesRead = 0;
};

Reading planFor(const LogFile& file, const LogFileState* known, bool wholeFiles) {
    if (wholeFiles || known == nullptr) {
        return Reading::whole;
    }
    if (file.size == known->size && file.mtime == known->mtime) {
        return Reading::none;
    }
    if (file.size < known->readEnd) {
        return Reading::whole;
    }
    // Same size, another time: the window check below decides between a touch and a rewrite;
    // a grown log is read from where the last read ended.
    return Reading::tail;
}

std::uint64_t windowStart(std::uint64_t end) {
    return end > checkedWindowBytes ? end - checkedWindowBytes : 0;
}

LogFileState stateAfter(const LogFile& file, std::string_view text, std::uint64_t textStart,
                        std::uint64_t endOfLastLine, const LogFileState& before) {
    LogFileState state{file.size, file.mtime, before.readEnd, before.windowHash};
    if (endOfLastLine > 0) {
        state.readEnd = textStart + endOfLastLine;
        const std::uint64_t from = windowStart(state.readEnd);
        state.windowHash = bytesHash(text.substr(from - textStart, state.readEnd - from));
    }
    return state;
}

std::optional<FileOutcome> readWhole(const LogFile& file, simdjson::dom::parser& parser,
                                     const LineRecordReader& readLine) {
    const auto bytes = PaddedFile::read(file.path);
    if (!bytes) {
        return std::nullopt;
    }
    const std::string_view text = bytes->bytes();
    JsonlRead read = readJsonlText(text, file, parser, readLine);
    LogFile seen = file;
    seen.size = text.size();
    return FileOutcome{std::move(read.records), stateAfter(seen, text, 0, read.endOfLastLine, {}), text.size()};
}

// Reads from the window before the old end; when the window's bytes changed the log was
// rewritten, and it is read whole.
std::optional<FileOutcome> readTail(const LogFile& file, const LogFileState& before, simdjson::dom::parser& parser,
                                    const LineRecordReader& readLine) {
    const std::uint64_t from = windowStart(before.readEnd);
    const auto bytes = PaddedFile::read(file.path, from);
    if (!bytes) {
        return std::nullopt;
    }
    const std::string_view text = bytes->bytes();
    const std::uint64_t windowLength = before.readEnd - from;
    if (text.size() < windowLength || bytesHash(text.substr(0, windowLength)) != before.windowHash) {
        return readWhole(file, parser, readLine);
    }
    // The rest starts where a line started, and is padded like the whole buffer.
    const std::string_view rest = text.substr(windowLength);
    JsonlRead read = readJsonlText(rest, file, parser, readLine);
    LogFile seen = file;
    seen.size = from + text.size();
    const std::uint64_t lastLine = read.endOfLastLine > 0 ? windowLength + read.endOfLastLine : 0;
    return FileOutcome{std::move(read.records), stateAfter(seen, text, from, lastLine, before), text.size()};
}

} // namespace

ScanResult scanIncrementally(const std::vector<LogFile>& files, const LogFileStates& known,
                             const LineRecordReader& readLine, bool wholeFiles, ScanProgress* progress) {
    ScanResult result;
    std::vector<PlannedRead> plan;
    std::unordered_set<std::string_view> found;
    found.reserve(files.size());
    for (const LogFile& file : files) {
        found.insert(file.path);
        const auto it = known.find(file.path);
        const LogFileState* state = it != known.end() ? &it->second : nullptr;
        const Reading reading = planFor(file, state, wholeFiles);
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
    std::vector<std::optional<FileOutcome>> outcomes(plan.size());
    parallelFor<simdjson::dom::parser>(plan.size(), threadsFor(plan.size(), 1),
                                       [&](simdjson::dom::parser& parser, std::size_t k) {
                                           const PlannedRead& read = plan[k];
                                           outcomes[k] = read.reading == Reading::whole
                                                             ? readWhole(*read.file, parser, readLine)
                                                             : readTail(*read.file, read.before, parser, readLine);
                                           if (progress != nullptr) {
                                               ++progress->filesRead;
                                           }
                                       });

    std::size_t total = 0;
    for (const auto& outcome : outcomes) {
        total += outcome ? outcome->records.size() : 0;
    }
    result.records.reserve(total);
    for (std::size_t k = 0; k < plan.size(); ++k) {
        // A log that could not be opened keeps its old state and is tried again next pass.
        if (!outcomes[k]) {
            continue;
        }
        FileOutcome& outcome = *outcomes[k];
        std::move(outcome.records.begin(), outcome.records.end(), std::back_inserter(result.records));
        result.files.emplace_back(plan[k].file->path, outcome.state);
        result.bytesRead += outcome.bytesRead;
    }
    return result;
}

} // namespace fernhollow
