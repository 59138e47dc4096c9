#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace fernhollow::Folders {

// The per-user data folder: $XDG_DATA_HOME/Fernhollow, or ~/.local/share/Fernhollow when that
// is unset or not an absolute path. Created on every call, owner-only like every folder missing
// on the way to it; a failure to create it is left for the file operation that follows to meet.
// Plain C++, so that the status line program starts without Qt.
std::filesystem::path data();

// The per-user configuration folder: $XDG_CONFIG_HOME/Fernhollow, else ~/.config/Fernhollow.
// Created likewise.
std::filesystem::path config();

// The settings' preferences.json in the configuration folder.
std::filesystem::path preferencesFile();

// The user's home folder: $HOME, else the one the password database names.
std::filesystem::path home();

// A path as the user would type it: one below the home folder as "~/…".
std::string homeRelative(const std::filesystem::path& path);

// The Claude Code projects folders this environment names, in order: those of every item of
// CLAUDE_CONFIG_DIR (items between commas), ~/.claude/projects, and
// ${XDG_CONFIG_HOME:-~/.config}/claude/projects, where builds of mid-2025 wrote. Whether they
// exist, or are one folder reached twice, is left to the scan.
std::vector<std::filesystem::path> claudeProjectsFolders();

// The projects folder of a folder named for Claude Code ("~/" stands for the home folder): its
// "projects" when it has one, or when it is missing and not itself named "projects"; else the
// folder itself, taken as a projects folder.
std::filesystem::path claudeProjectsFolderOf(std::string_view named);

// OpenClaw's state folder: `chosen` when not empty ("~/" for the home folder); else
// OPENCLAW_STATE_DIR, or its older name CLAWDBOT_STATE_DIR; else ~/.openclaw when it exists,
// else the first of the legacy ~/.clawdbot, ~/.moldbot and ~/.moltbot that exists; else
// ~/.openclaw.
std::filesystem::path openClawStateFolder(std::string_view chosen = {});

} // namespace fernhollow::Folders
