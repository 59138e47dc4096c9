#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string_view>

namespace fernhollow {

// Writes `bytes` in place of `path` at once, through `temporary` in the same folder: a reader
// sees the old file or the new, never half. False when any step fails; the temporary is gone.
bool writeAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t mode,
                     const std::filesystem::path& temporary);

} // namespace fernhollow
