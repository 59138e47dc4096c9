#pragma once

#include "core/model/UsageRecord.h"
#include "core/sources/IncrementalScan.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Reads the session logs of the OpenClaw agent: <root>/<agent>/sessions/**/<session>.jsonl.
namespace fernhollow::OpenClawParser {

using ParseResult = ScanResult;

// ~/.openclaw/agents when something exists there.
std::optional<std::filesystem::path> defaultAgentsRoot();
bool isInstalled();

// The records of one log file of `agent`, in line order.
std::vector<UsageRecord> parseFile(const std::filesystem::path& file, const std::string& agent);

// Scans `agentsRoot` incrementally from the states the last pass left. A root that cannot be
// listed changes nothing.
ParseResult parseChanged(const std::filesystem::path& agentsRoot, const LogFileStates& known, bool wholeFiles,
                         ScanProgress* progress = nullptr);

} // namespace fernhollow::OpenClawParser
