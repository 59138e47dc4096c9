#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// Claude Code's user settings file, where its status line command is named. Only the
// "statusLine" member is ever touched; every other byte of the file stays as it was.
namespace fernhollow::ClaudeSettings {

// $CLAUDE_CONFIG_DIR/settings.json, else ~/.claude/settings.json.
std::filesystem::path defaultPath();

// The command Claude Code is to run, for the running `program`: the status line's own small
// program when it was installed beside it, else the program's statusline command.
std::string commandFor(const std::filesystem::path& program);

// Whether a status line command is one this program put there.
bool isOurs(std::string_view command);

// `settings` (one JSON object) with its status line set to run `command`; none when it is not
// one JSON object. `previous` receives the status line it had, as JSON text, if any.
std::optional<std::string> withStatusLine(std::string_view settings, std::string_view command,
                                          std::optional<std::string>& previous);
// `settings` without its status line, or with `restored` (JSON text) in its place; none when
// it is not one JSON object.
std::optional<std::string> withoutStatusLine(std::string_view settings,
                                             const std::optional<std::string>& restored);
// The status line command the settings name, if any ("" when it names no command).
std::optional<std::string> statusLineCommand(std::string_view settings);

struct Outcome {
    bool ok = false;
    std::string message;
};

// Whether the settings file names one of this program's commands as the status line.
bool isInstalled(const std::filesystem::path& settingsFile);

// Points the status line at `command`, keeping a copy of the file as it was beside it.
Outcome install(const std::filesystem::path& settingsFile, std::string_view command);
// Takes out the status line `install` put in, bringing back the one it replaced when the copy
// still holds it; a status line someone else set stays.
Outcome uninstall(const std::filesystem::path& settingsFile);

// The copy `install` keeps: "<file>.fernhollow-backup".
std::filesystem::path backupPath(const std::filesystem::path& settingsFile);

} // namespace fernhollow::ClaudeSettings
