#pragma once

#include "core/common/PaddedFile.h"
#include "core/model/RateLimit.h"
#include "core/model/UsageRecord.h"

#include <simdjson.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace fernhollow {

// What is remembered of a log between passes, so the next pass reads only what is new.
struct LogFileState {
    std::uint64_t size = 0;
    double mtime = 0.0;        // content modification time, seconds since 1970
    std::uint64_t readEnd = 0; // just past the last line break read
    std::uint64_t windowHash =
        0; // of the first bytes and of those just before `readEnd`: a grown log keeps both
    friend bool operator==(const LogFileState&, const LogFileState&) = default;
};

// Full path of a log -> what the last pass that read it saw.
using LogFileStates = std::unordered_map<std::string, LogFileState>;

// A log file found by a source's walk, with the names its records will carry.
struct LogFile {
    std::string path;
    double mtime = 0.0;
    std::uint64_t size = 0;
    InternedString projectPath;
    InternedString sessionId;
    // A zstd archive: read whole and decompressed, never from where an earlier read ended.
    bool compressed = false;
};

struct ScanResult {
    std::vector<UsageRecord> records; // the records of what was read: new logs, new lines, rewritten logs
    std::vector<std::pair<std::string, LogFileState>> files; // every log read or found retimed
    std::vector<std::string> goneFiles;                      // logs known before and not found now
    std::vector<RateLimit> rateLimits; // the latest plan windows' use that the logs read tell of
    std::size_t bytesRead = 0;
    // What the source's row should tell the user: a store it found and could not read.
    std::vector<std::string> problems;

    bool changesNothing() const { return records.empty() && files.empty() && goneFiles.empty(); }
};

// How far the scans in flight have come, counted in files; written by scanning threads and
// read by whoever shows it. Several scans may share one.
struct ScanProgress {
    std::atomic<std::size_t> filesToRead{0};
    std::atomic<std::size_t> filesRead{0};
};

// What a source's line reader takes from one log line: the counts, model and message id in
// `record`, and the line's time as written. The shared reader adds the time and the file's
// project and session.
struct LineUsage {
    UsageRecord record;
    std::string_view timestamp;
};

// Takes the records of each log read, in the order of the logs, on the thread that called the
// scan and while the other logs are still read: a pass writes them meanwhile, rather than after
// holding them all.
using RecordSink = std::function<void(std::vector<UsageRecord> records)>;

// A source's line reader, and text that every line it takes a record from holds as written:
// a line without it is not parsed, only checked to be UTF-8. Most of a log's bytes are prompts
// and tool output that carry no usage, and no agent's JSON writer escapes the letters of a key.
//
// A reader takes the line parsed whole (DOM), every value of it checked; or walks the line itself
// (On-Demand), for the lines most common by far, checking only the values it reads. A walker goes
// through every field of the line when it takes a record, so that a line that is not one complete
// JSON object (cut short, unbalanced, with more after it) still gives nothing.
struct LineRecordReader {
    using Parsed = std::function<std::optional<LineUsage>(simdjson::dom::object line)>;
    using Walked = std::function<std::optional<LineUsage>(simdjson::ondemand::document& line)>;
    std::variant<Parsed, Walked> read;
    std::string_view mark; // empty: every line is parsed
};

// The parsers one thread reads log lines with, each reader taking its own kind; they keep their
// buffers from line to line, and the log's bytes keep their memory from log to log.
struct LineParsers {
    simdjson::dom::parser parsed;
    simdjson::ondemand::parser walked;
    PaddedFile log;
};

// How much of a log before the end of the last read is compared to tell growth from rewriting.
inline constexpr std::uint64_t checkedWindowBytes = 4096;

// Where the window before `end` starts.
std::uint64_t windowStart(std::uint64_t end);

// What is compared to tell growth from rewriting: the window at the start of what was read
// and the one before its end. An agent that rewrites a log (a compaction, a resume) changes
// its start; an edit near the end changes the other.
std::uint64_t windowsHash(std::string_view head, std::string_view tail);

// The incremental scan shared by the log sources, over `files` (the walk) and `known` (the
// states the last pass left). A log whose size and time are as known is not opened. A log
// that grew, and whose bytes before the old read end are unchanged, is read from that end.
// Any other change (shorter, or rewritten before the old end), and every log when `wholeFiles`,
// is read whole: its records come back all again and the ledger keeps each once. Logs are
// read in parallel. Their records go to `sink`, or come back in the result when it is empty.
ScanResult scanIncrementally(const std::vector<LogFile>& files, const LogFileStates& known,
                             const LineRecordReader& readLine, bool wholeFiles,
                             ScanProgress* progress = nullptr, const RecordSink& sink = {});

// Turns a whole log (its text, followed by simdjson's padding) into records: for logs that are
// one JSON document, or whose lines mean something only after the lines before them.
using WholeLogReader = std::function<std::vector<UsageRecord>(std::string_view text, const LogFile& file,
                                                              simdjson::dom::parser& parser)>;

// The same scan for such logs: a log whose size or time changed is read whole.
ScanResult scanWholeLogs(const std::vector<LogFile>& files, const LogFileStates& known,
                         const WholeLogReader& read, bool wholeFiles, ScanProgress* progress = nullptr);

} // namespace fernhollow
