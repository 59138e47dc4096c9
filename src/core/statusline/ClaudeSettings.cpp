#include "core/statusline/ClaudeSettings.h"

#include "core/common/AtomicFile.h"
#include "core/model/JsonWriter.h"

#include <simdjson.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace fernhollow::ClaudeSettings {
namespace {

constexpr std::string_view memberName = "statusLine";
constexpr std::uintmax_t largestSettingsFile = 16 * 1024 * 1024;

// Where one member of the top-level object lies in the text.
struct Member {
    std::string key;
    std::size_t keyStart = 0;
    std::size_t valueStart = 0;
    std::size_t valueEnd = 0;
};

struct TopLevel {
    std::size_t open = 0;  // the object's "{"
    std::size_t close = 0; // its "}"
    std::vector<Member> members;
};

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::size_t skipSpace(std::string_view text, std::size_t i) {
    while (i < text.size() && isSpace(text[i])) {
        ++i;
    }
    return i;
}

// Just past the string that opens at `i`.
std::size_t stringEnd(std::string_view text, std::size_t i) {
    for (++i; i < text.size() && text[i] != '"'; ++i) {
        i += text[i] == '\\' ? 1 : 0;
    }
    return i + 1;
}

// The end of the value that starts at `i`, its trailing space left out.
std::size_t valueEnd(std::string_view text, std::size_t i) {
    int depth = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '"') {
            i = stringEnd(text, i);
            continue;
        }
        if ((c == ',' || c == '}' || c == ']') && depth == 0) {
            break;
        }
        depth += c == '{' || c == '[' ? 1 : c == '}' || c == ']' ? -1 : 0;
        ++i;
    }
    while (i > 0 && isSpace(text[i - 1])) {
        --i;
    }
    return i;
}

// An editor may have begun the file with a byte order mark, which JSON itself does not allow.
std::size_t byteOrderMark(std::string_view text) {
    return text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
}

std::optional<simdjson::dom::element> parsed(std::string_view text, simdjson::dom::parser& parser) {
    text.remove_prefix(byteOrderMark(text));
    simdjson::dom::element root;
    if (parser.parse(text.data(), text.size()).get(root) != simdjson::SUCCESS || !root.is_object()) {
        return std::nullopt;
    }
    return root;
}

// The members of the object `text` holds; none when it is not one valid JSON object.
std::optional<TopLevel> topLevelOf(std::string_view text, simdjson::dom::parser& parser) {
    if (!parsed(text, parser)) {
        return std::nullopt;
    }
    // Valid JSON from here on: the scan below only has to find where things are.
    TopLevel top;
    std::size_t i = skipSpace(text, byteOrderMark(text));
    top.open = i;
    i = skipSpace(text, i + 1);
    while (i < text.size() && text[i] != '}') {
        Member member;
        member.keyStart = i;
        const std::size_t keyEnd = stringEnd(text, i);
        std::string_view key;
        simdjson::dom::element parsedKey;
        // The key as JSON reads it, escapes and all: "statusL\u0069ne" is that member too.
        if (parser.parse(text.data() + i, keyEnd - i).get(parsedKey) == simdjson::SUCCESS &&
            parsedKey.get_string().get(key) == simdjson::SUCCESS) {
            member.key = key;
        }
        member.valueStart = skipSpace(text, skipSpace(text, keyEnd) + 1);
        member.valueEnd = valueEnd(text, member.valueStart);
        top.members.push_back(std::move(member));
        i = skipSpace(text, top.members.back().valueEnd);
        i = text[i] == ',' ? skipSpace(text, i + 1) : i;
    }
    top.close = i;
    return top;
}

std::string statusLineValue(std::string_view command) {
    std::string value = R"({"type": "command", "command": )";
    json::appendString(value, command);
    return value + "}";
}

// The space before the first member, so an added one lines up with the others.
std::string indentOf(std::string_view text, const TopLevel& top) {
    if (top.members.empty()) {
        return "  ";
    }
    const std::size_t start = top.members.front().keyStart;
    const std::size_t lineStart = text.rfind('\n', start);
    return lineStart == std::string_view::npos || lineStart < top.open
               ? std::string()
               : std::string(text.substr(lineStart + 1, start - lineStart - 1));
}

std::optional<std::string> readSmallFile(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error) ||
        std::filesystem::file_size(path, error) > largestSettingsFile) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return in ? std::optional(bytes.str()) : std::nullopt;
}

std::filesystem::path temporaryOf(const std::filesystem::path& path) {
    return path.string() + ".fernhollow-writing";
}

// The file itself when `path` is a link to it (a dotfiles folder), so the link stays a link.
std::filesystem::path fileBehind(const std::filesystem::path& path) {
    std::error_code error;
    const std::filesystem::path target = std::filesystem::canonical(path, error);
    return error ? path : target;
}

mode_t modeOf(const std::filesystem::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0600;
}

std::string shellQuoted(const std::string& word) {
    if (word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/._-+") ==
        std::string::npos) {
        return word;
    }
    std::string quoted = "'";
    for (const char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

} // namespace

std::string commandFor(const std::filesystem::path& program) {
    const std::filesystem::path helper = program.parent_path() / "fernhollow-statusline";
    std::error_code error;
    if (program.filename() == helper.filename() || std::filesystem::is_regular_file(helper, error)) {
        return shellQuoted(helper.string());
    }
    return shellQuoted(program.string()) + " statusline";
}

bool isInstalled(const std::filesystem::path& settingsFile) {
    const auto settings = readSmallFile(fileBehind(settingsFile));
    const auto command = settings ? statusLineCommand(*settings) : std::nullopt;
    return command && isOurs(*command);
}

std::filesystem::path defaultPath() {
    if (const char* folder = std::getenv("CLAUDE_CONFIG_DIR"); folder != nullptr && *folder != '\0') {
        return std::filesystem::path(folder) / "settings.json";
    }
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : "/") / ".claude" / "settings.json";
}

bool isOurs(std::string_view command) {
    if (command.ends_with('\'')) {
        command.remove_suffix(1); // a quoted path
    }
    return command.find("fernhollow") != std::string_view::npos &&
           (command.ends_with(" statusline") || command.ends_with("/fernhollow-statusline"));
}

std::optional<std::string> withStatusLine(std::string_view settings, std::string_view command,
                                          std::optional<std::string>& previous) {
    simdjson::dom::parser parser;
    const auto top = topLevelOf(settings, parser);
    if (!top) {
        return std::nullopt;
    }
    const std::string value = statusLineValue(command);
    std::string out(settings);
    bool replaced = false;
    // From the end, so the places found before stay true.
    for (auto member = top->members.rbegin(); member != top->members.rend(); ++member) {
        if (member->key == memberName) {
            previous =
                std::string(settings.substr(member->valueStart, member->valueEnd - member->valueStart));
            out.replace(member->valueStart, member->valueEnd - member->valueStart, value);
            replaced = true;
        }
    }
    if (replaced) {
        return out;
    }
    previous.reset();
    const std::string indent = indentOf(settings, *top);
    std::string member;
    json::appendString(member, memberName);
    member += ": " + value;
    if (top->members.empty()) {
        out.replace(top->open + 1, top->close - top->open - 1, "\n" + indent + member + "\n");
    } else {
        out.insert(top->members.back().valueEnd, (indent.empty() ? ", " : ",\n" + indent) + member);
    }
    return out;
}

std::optional<std::string> withoutStatusLine(std::string_view settings,
                                             const std::optional<std::string>& restored) {
    simdjson::dom::parser parser;
    const auto top = topLevelOf(settings, parser);
    if (!top) {
        return std::nullopt;
    }
    std::string out(settings);
    const auto& members = top->members;
    for (std::size_t i = members.size(); i-- > 0;) {
        const Member& member = members[i];
        if (member.key != memberName) {
            continue;
        }
        if (restored) {
            out.replace(member.valueStart, member.valueEnd - member.valueStart, *restored);
        } else if (i > 0) {
            out.erase(members[i - 1].valueEnd, member.valueEnd - members[i - 1].valueEnd);
        } else if (members.size() > 1) {
            out.erase(member.keyStart, members[1].keyStart - member.keyStart);
        } else {
            out.erase(top->open + 1, top->close - top->open - 1);
        }
    }
    return out;
}

std::optional<std::string> statusLineCommand(std::string_view settings) {
    simdjson::dom::parser parser;
    const auto root = parsed(settings, parser);
    simdjson::dom::element line;
    if (!root || (*root)[memberName].get(line) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    std::string_view command;
    return line["command"].get_string().get(command) == simdjson::SUCCESS ? std::string(command)
                                                                          : std::string();
}

std::filesystem::path backupPath(const std::filesystem::path& settingsFile) {
    return settingsFile.string() + ".fernhollow-backup";
}

Outcome install(const std::filesystem::path& settingsFile, std::string_view command) {
    const std::filesystem::path file = fileBehind(settingsFile);
    std::error_code error;
    const bool exists = std::filesystem::exists(file, error);
    const auto settings = exists ? readSmallFile(file) : std::optional<std::string>("{}\n");
    if (!settings) {
        return {false, "Could not read " + settingsFile.string() + "; it was left unchanged."};
    }
    if (statusLineCommand(*settings) == std::string(command)) {
        return {true, "The status line in " + settingsFile.string() + " already runs " +
                          std::string(command) + "."};
    }
    std::optional<std::string> previous;
    const auto edited = withStatusLine(*settings, command, previous);
    if (!edited) {
        return {false, settingsFile.string() + " is not one JSON object; it was left unchanged."};
    }
    if (exists && !writeAtomically(backupPath(settingsFile), *settings, modeOf(file),
                                   temporaryOf(backupPath(settingsFile)))) {
        return {false, "Could not write the backup " + backupPath(settingsFile).string() +
                           "; the settings were left unchanged."};
    }
    std::filesystem::create_directories(file.parent_path(), error);
    if (!writeAtomically(file, *edited, exists ? modeOf(file) : 0600, temporaryOf(file))) {
        return {false, "Could not write " + settingsFile.string() + "; it was left unchanged."};
    }
    std::string message = "Claude Code's status line now runs " + std::string(command) + " (set in " +
                          settingsFile.string() + ").";
    if (exists) {
        message += " The file as it was is kept in " + backupPath(settingsFile).string() + ".";
    }
    return {true, message};
}

Outcome uninstall(const std::filesystem::path& settingsFile) {
    const std::filesystem::path file = fileBehind(settingsFile);
    std::error_code error;
    if (!std::filesystem::exists(file, error)) {
        return {true, "There is no " + settingsFile.string() + "; nothing to take out."};
    }
    const auto settings = readSmallFile(file);
    if (!settings) {
        return {false, "Could not read " + settingsFile.string() + "; it was left unchanged."};
    }
    const auto command = statusLineCommand(*settings);
    if (!command || !isOurs(*command)) {
        return {true, "The status line in " + settingsFile.string() +
                          (command ? " is not Fernhollow's; it was left as it is."
                                   : " is not set; nothing to take out.")};
    }
    // The status line the backup holds is the one the install replaced, unless it is ours.
    std::optional<std::string> restored;
    if (const auto backup = readSmallFile(backupPath(settingsFile))) {
        std::optional<std::string> before;
        const auto backupCommand = statusLineCommand(*backup);
        if (backupCommand && !isOurs(*backupCommand) && withStatusLine(*backup, "", before)) {
            restored = before;
        }
    }
    const auto edited = withoutStatusLine(*settings, restored);
    if (!edited) {
        return {false, settingsFile.string() + " is not one JSON object; it was left unchanged."};
    }
    if (!writeAtomically(file, *edited, modeOf(file), temporaryOf(file))) {
        return {false, "Could not write " + settingsFile.string() + "; it was left unchanged."};
    }
    return {true, restored ? "Claude Code's status line runs its earlier command again (set in " +
                                 settingsFile.string() + ")."
                           : "Took Fernhollow's status line out of " + settingsFile.string() + "."};
}

} // namespace fernhollow::ClaudeSettings
