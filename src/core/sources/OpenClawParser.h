#pragma once

#include "core/model/UsageRecord.h"
#include "core/sources/IncrementalScan.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// Reads what the OpenClaw agent keeps of its sessions below its agents folder: per agent, the
// session logs below <agent>/sessions (live, archived at a reset or a deletion, and the backups
// and snapshots that repeat them) and the database that later versions keep the live ones in,
// <agent>/agent/openclaw-agent.sqlite.
namespace fernhollow::OpenClawParser {

using ParseResult = ScanResult;

enum class FileType { ignored, log, archive, backup, database };

struct FileKind {
    FileType type = FileType::ignored;
    bool compressed = false; // a zstd file ("….zst")
};

// What a file of this name holds: "<session>.jsonl" and its checkpoints are logs;
// "<session>.jsonl.reset.<time>" and ".deleted.<time>" archives that hold records found nowhere
// else; "*.jsonl.bak*", "*.pre-doctor-*.bak" and "*.broken-*" backups repeating a log.
// Trajectories repeat usage in another schema and are ignored, as is an incognito database.
FileKind fileKindOf(std::string_view name);

// The session a file of this name belongs to: its name up to ".jsonl" or the suffix of a copy.
std::string sessionIdOfName(std::string_view name);

// The agents folder of an OpenClaw state folder. A folder that holds no "agents" but exists is
// taken as the agents folder itself, as earlier versions were given it.
std::filesystem::path agentsRootOf(const std::filesystem::path& stateFolder);

// The records of one log file of `agent`, in line order.
std::vector<UsageRecord> parseFile(const std::filesystem::path& file, const std::string& agent);

// Scans `agentsRoot` incrementally from the states the last pass left. A root that cannot be
// listed changes nothing. Every event may be found in several files and in a database: the
// ledger keeps it once, by its message id or its event id and time.
ParseResult parseChanged(const std::filesystem::path& agentsRoot, const LogFileStates& known, bool wholeFiles,
                         ScanProgress* progress = nullptr);

} // namespace fernhollow::OpenClawParser
