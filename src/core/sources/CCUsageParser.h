#pragma once

#include "core/model/UsageRecord.h"
#include "core/sources/IncrementalScan.h"

#include <filesystem>
#include <vector>

// Reads the Claude Code agent's per-session JSON Lines logs below its projects folder.
namespace fernhollow::CCUsageParser {

using ParseResult = ScanResult;

// The records of one log file, in line order. The project is the first folder below
// `projectsRoot` (a log directly in the root is its own project); the session is the
// file's name without its extension.
std::vector<UsageRecord> parseFile(const std::filesystem::path& file,
                                   const std::filesystem::path& projectsRoot);

// Scans `projectsRoot` incrementally from the states the last pass left. A root that cannot
// be listed changes nothing.
ParseResult parseChanged(const std::filesystem::path& projectsRoot, const LogFileStates& known,
                         bool wholeFiles, ScanProgress* progress = nullptr);

} // namespace fernhollow::CCUsageParser
