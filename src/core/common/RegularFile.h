#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <filesystem>
#include <optional>

namespace fernhollow {

// An open descriptor of a regular file (never a folder, device or pipe) and its size when
// opened. The caller closes it.
struct RegularFile {
    int descriptor;
    std::size_t size;

    static std::optional<RegularFile> open(const std::filesystem::path& path);
};

// A file's content modification time, in seconds since 1970 with its nanoseconds.
double modificationTime(const struct stat& info);

} // namespace fernhollow
