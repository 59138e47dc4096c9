#pragma once

#include <filesystem>

namespace fernhollow::Folders {

// The per-user data folder: $XDG_DATA_HOME/Fernhollow on Linux (~/.local/share/Fernhollow),
// ~/Library/Application Support/Fernhollow on macOS. Created on every call, owner-only like
// every folder missing on the way to it; a failure to create it is left for the file
// operation that follows to meet.
std::filesystem::path data();

// The per-user configuration folder: $XDG_CONFIG_HOME/Fernhollow on Linux. Created likewise.
std::filesystem::path config();

} // namespace fernhollow::Folders
