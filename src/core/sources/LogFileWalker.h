#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fernhollow {

struct FoundLogFile {
    std::string path;              // full path as found below the root
    std::string_view relativePath; // the part of `path` below the root
    double mtime = 0.0;            // content modification time, seconds since 1970; 0.0 when unreadable
    std::uint64_t size = 0;
};

// Whether a file of this name is a log.
using LogNamePredicate = std::function<bool(std::string_view name)>;

// Visits every regular file below `root` whose name `isLogName` takes, as below.
bool walkLogFiles(const std::filesystem::path& root, const LogNamePredicate& isLogName,
                  const std::function<void(const FoundLogFile&)>& visit);

// Visits every "*.jsonl" regular file below `root` at any depth, in name order within each
// folder. Hidden files and folders are skipped; symbolic links are followed, but no folder
// is entered twice, so a link loop ends the descent. Returns false when `root` cannot be
// listed as a folder at all.
bool walkJsonlFiles(const std::filesystem::path& root, const std::function<void(const FoundLogFile&)>& visit);

// `folders` without repeats, in order: a folder reached twice (through a link, or written with a
// trailing slash or "..") is kept once, as first named. Trailing slashes are dropped.
std::vector<std::filesystem::path> distinctFolders(std::span<const std::filesystem::path> folders);

// The file's name without its final extension, as text (ill-formed UTF-8 replaced).
std::string sessionIdOf(std::string_view path);

} // namespace fernhollow
