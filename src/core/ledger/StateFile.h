#pragma once

#include "core/model/UsageRecord.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace fernhollow {

// Full path of a log file -> its content modification time, seconds since 1970.
using FileTimes = std::unordered_map<std::string, double>;

// What survives between runs: the Claude Code records and the times of the logs they came from.
struct PersistedState {
    static constexpr std::int64_t currentSchemaVersion = 3;

    std::vector<UsageRecord> records;
    FileTimes fileMtimes;
    std::int64_t schemaVersion = currentSchemaVersion;

    friend bool operator==(const PersistedState&, const PersistedState&) = default;
};

// Compact JSON with "\/" for every slash, the form earlier versions wrote. The text comes in
// consecutive pieces (encoded in parallel); their concatenation is the document. Log paths
// that are not valid UTF-8 are left out.
std::vector<std::string> encodeStatePieces(const PersistedState& state);
std::string encodeState(const PersistedState& state);

// Strict: all three members, every record whole, whole-second "Z" dates. Any fault fails
// the whole document. The schema version is returned as found; the caller judges it.
std::optional<PersistedState> decodeState(std::string_view bytes);

// Reads and decodes `path`; nothing when it is missing, unreadable, undecodable or of
// another schema version. Never changes the file.
std::optional<PersistedState> loadStateFile(const std::filesystem::path& path);

} // namespace fernhollow
