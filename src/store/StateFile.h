#pragma once

#include "model/UsageRecord.h"
#include "sources/IncrementalScan.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fernhollow {

// What survives between runs: the Claude Code records and the times of the logs they came from.
struct PersistedState {
    static constexpr std::int64_t currentSchemaVersion = 3;

    std::vector<UsageRecord> records;
    FileTimes fileMtimes;
    std::int64_t schemaVersion = currentSchemaVersion;

    friend bool operator==(const PersistedState&, const PersistedState&) = default;
};

// Compact JSON with "\/" for every slash, the form earlier versions wrote.
std::string encodeState(const PersistedState& state);

// Strict: all three members, every record whole, whole-second "Z" dates. Any fault fails
// the whole document. The schema version is returned as found; the caller judges it.
std::optional<PersistedState> decodeState(std::string_view bytes);

// Reads and decodes `path`; nothing when it is missing, unreadable, undecodable or of
// another schema version. Never changes the file.
std::optional<PersistedState> loadStateFile(const std::filesystem::path& path);

enum class SaveOutcome { written, unchanged, failed };

// Replaces `path` with `bytes` so that a crash at any moment leaves either the old or the
// new file whole: the bytes go to "<path>.tmp", are flushed, and are renamed over `path`.
// Saves from any number of threads or processes are serialised by an advisory lock on
// "<path>.lock". Bytes equal to the file already there are not written again.
SaveOutcome saveStateFile(const std::filesystem::path& path, std::string_view bytes);

} // namespace fernhollow
