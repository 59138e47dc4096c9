#pragma once

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

} // namespace fernhollow
