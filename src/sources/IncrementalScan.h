#pragma once

#include "model/UsageRecord.h"

#include <simdjson.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace fernhollow {

// Full path of a log file -> its content modification time, seconds since 1970.
using FileTimes = std::unordered_map<std::string, double>;

struct ScanResult {
    std::vector<UsageRecord> records; // every record of the source after the scan, in no set order
    FileTimes updatedMtimes;          // every log file found by this scan; 0.0 for one to read again
    // Whether a file was read that held or now holds records; when not, `records` is the prior
    // list as it was.
    bool recordsReread = false;
};

// A log file found by a source's walk, with the names its records will carry.
struct LogFile {
    std::string path;
    double mtime = 0.0;
    std::uint64_t size = 0;
    InternedString projectPath;
    InternedString sessionId;
};

// The key that ties records to the file they came from: project, "/", session, ".jsonl".
std::string fileKey(std::string_view projectPath, std::string_view sessionId);

// How far the scans in flight have come, counted in files; written by scanning threads and
// read by whoever shows it. Several scans may share one.
struct ScanProgress {
    std::atomic<std::size_t> filesToRead{0};
    std::atomic<std::size_t> filesRead{0};
};

using LogFileReader =
    std::function<std::vector<UsageRecord>(const LogFile& file, simdjson::dom::parser& parser)>;

// The incremental scan shared by the log sources. `files` is the walk, in walk order.
// Files whose time did not advance keep their prior records unread; the rest, and, when
// anything changed, the files that gave no records, are read in parallel, then filtered in
// walk order against the message ids already counted, so the first copy of a message in
// walk order wins. Files sharing a key (same name at different depths) form one group,
// re-read together whenever one of them is. A file stamped within two seconds of the scan may
// yet grow under the same time, so it is timed 0.0 and the next scan reads it again.
ScanResult scanIncrementally(const std::vector<LogFile>& files, const FileTimes& knownMtimes,
                             std::vector<UsageRecord> priorRecords, const LogFileReader& read,
                             ScanProgress* progress = nullptr);

} // namespace fernhollow
