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

// Scans the default agents root incrementally from the states the last pass left; without
// one, changes nothing.
ParseResult parseChanged(const LogFileStates& known, bool wholeFiles, ScanProgress* progress = nullptr);

// The same below another agents root (tests, `fernhollow report --openclaw-dir`).
ParseResult parseChanged(const std::filesystem::path& agentsRoot, const LogFileStates& known, bool wholeFiles,
                         ScanProgress* progress = nullptr);

} // namespace fernhollow::OpenClawParser
