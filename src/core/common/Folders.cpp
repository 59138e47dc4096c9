#include "core/common/Folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace fernhollow::Folders {
namespace {

// Every folder made on the way is owner-only whatever the umask: the XDG base folder itself
// may be among them, and the user's data is below it.
void createPrivately(const std::filesystem::path& folder) {
    std::error_code ignored;
    if (folder.empty() || std::filesystem::is_directory(folder, ignored)) {
        return;
    }
    createPrivately(folder.parent_path());
    if (::mkdir(folder.c_str(), 0700) == 0) {
        ::chmod(folder.c_str(), 0700);
    }
}

std::string_view environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The base directory an XDG variable names; a relative one is invalid and passed over.
std::filesystem::path ensureFolder(const char* variable, const char* belowHome) {
    const std::filesystem::path named(environment(variable));
    const std::filesystem::path folder = (named.is_absolute() ? named : home() / belowHome) / "Fernhollow";
    createPrivately(folder);
    return folder;
}

// Folders are often named in quotes, where the shell leaves "~" alone.
std::filesystem::path expandHome(std::string_view named) {
    if (named == "~") {
        return home();
    }
    return named.starts_with("~/") ? home() / named.substr(2) : std::filesystem::path(named);
}

bool isFolder(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::is_directory(path, ignored);
}

} // namespace

std::filesystem::path home() {
    if (const std::string_view variable = environment("HOME"); !variable.empty()) {
        return variable;
    }
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return "/";
}

std::string homeRelative(const std::filesystem::path& path) {
    const std::string full = path.string();
    const std::string prefix = home().string() + "/";
    return full.starts_with(prefix) && prefix.size() > 1 ? "~/" + full.substr(prefix.size()) : full;
}

std::vector<std::filesystem::path> claudeProjectsFolders() {
    std::vector<std::filesystem::path> folders;
    const std::string_view configured = environment("CLAUDE_CONFIG_DIR");
    for (std::size_t start = 0; start < configured.size();) {
        const std::size_t comma = std::min(configured.find(',', start), configured.size());
        const std::string_view item = configured.substr(start, comma - start);
        if (const std::size_t first = item.find_first_not_of(' '); first != std::string_view::npos) {
            folders.push_back(
                claudeProjectsFolderOf(item.substr(first, item.find_last_not_of(' ') + 1 - first)));
        }
        start = comma + 1;
    }
    folders.push_back(home() / ".claude" / "projects");
    const std::string_view xdgConfig = environment("XDG_CONFIG_HOME");
    folders.push_back((xdgConfig.empty() ? home() / ".config" : std::filesystem::path(xdgConfig)) / "claude" /
                      "projects");
    return folders;
}

std::filesystem::path claudeProjectsFolderOf(std::string_view named) {
    std::filesystem::path folder = expandHome(named).lexically_normal();
    if (folder.filename().empty()) {
        folder = folder.parent_path(); // a trailing slash
    }
    const std::filesystem::path projects = folder / "projects";
    if (isFolder(projects) || (!isFolder(folder) && folder.filename() != "projects")) {
        return projects;
    }
    return folder;
}

std::filesystem::path openClawStateFolder(std::string_view chosen) {
    if (!chosen.empty()) {
        return expandHome(chosen);
    }
    for (const char* variable : {"OPENCLAW_STATE_DIR", "CLAWDBOT_STATE_DIR"}) {
        if (const std::string_view named = environment(variable); !named.empty()) {
            return expandHome(named);
        }
    }
    for (const char* name : {".openclaw", ".clawdbot", ".moldbot", ".moltbot"}) {
        if (isFolder(home() / name)) {
            return home() / name;
        }
    }
    return home() / ".openclaw";
}

std::filesystem::path data() {
    return ensureFolder("XDG_DATA_HOME", ".local/share");
}

std::filesystem::path config() {
    return ensureFolder("XDG_CONFIG_HOME", ".config");
}

std::filesystem::path preferencesFile() {
    return config() / "preferences.json";
}

} // namespace fernhollow::Folders
