#pragma once

#include "core/model/InternedString.h"
#include "core/sources/IncrementalScan.h"

#include <string>
#include <string_view>

namespace fernhollow {

// What a source's row says of an agent database whose tables are not the ones we know.
inline constexpr std::string_view openClawFormatNotRecognised = "OpenClaw database format not recognised";

// Adds to `result` the usage in one OpenClaw agent database (openclaw-agent.sqlite: the live
// transcripts, one row an event, and whole archived transcripts) that the states in `known`
// say was not read yet, with the states that say it now is. The database belongs to a running
// gateway: it is opened read-only and waited for when busy. Unless `wholeFiles`, a database
// whose file and write-ahead log kept their sizes and times is not opened at all; one that
// changed has only the events after each session's last read sequence number read. A database
// that cannot be opened or whose columns are not the known ones adds a problem and no state,
// so the next pass looks again.
void scanOpenClawDatabase(const std::string& path, double mtime, std::uint64_t size,
                          const InternedString& project, const LogFileStates& known, bool wholeFiles,
                          const LineRecordReader& readLine, ScanResult& result);

// Whether a log state's key belongs to the database at `path`: the database's own, or one of
// its sessions' or archives'.
bool isOpenClawDatabaseKey(std::string_view key, std::string_view path);

} // namespace fernhollow
