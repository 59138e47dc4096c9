#pragma once

#include "core/model/UsageRecord.h"
#include "core/sources/IncrementalScan.h"

#include <filesystem>
#include <span>
#include <vector>

// Reads the Claude Code agent's per-session JSON Lines logs below its projects folder.
namespace fernhollow::CCUsageParser {

using ParseResult = ScanResult;

// The records of one log file, in line order. The project is the first folder below
// `projectsRoot` (a log directly in the root is its own project); the session is the
// file's name without its extension.
std::vector<UsageRecord> parseFile(const std::filesystem::path& file,
                                   const std::filesystem::path& projectsRoot);

// Scans the projects folders incrementally from the states the last pass left. A folder
// reached twice (a link, a trailing slash) is read once; one that cannot be listed changes
// nothing of its logs. A message found in two folders is one record in the ledger. The records
// go to `sink` as each log is read, or come back in the result when it is empty.
ParseResult parseChanged(std::span<const std::filesystem::path> projectsRoots, const LogFileStates& known,
                         bool wholeFiles, ScanProgress* progress = nullptr, const RecordSink& sink = {});
// The usage a log line carries, if any: for a reader of a log's newest lines.
extern const LineRecordReader lineReader;

// The same over one projects folder.
ParseResult parseChanged(const std::filesystem::path& projectsRoot, const LogFileStates& known,
                         bool wholeFiles, ScanProgress* progress = nullptr);

} // namespace fernhollow::CCUsageParser
