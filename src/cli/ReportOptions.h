#pragma once

#include "core/model/UsageSource.h"

#include <QDate>

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace fernhollow {

// What every report command takes: where the logs are, and for the commands over a range of
// time, which range, in which time zone, of which sources, in which order.
struct ReportOptions {
    bool json = false;
    bool openAI = true;
    bool codex = true;
    bool gemini = true;
    std::vector<std::filesystem::path> claudeDirs; // read besides the folders the environment names
    std::optional<std::filesystem::path> openClawDir;
    std::optional<std::filesystem::path> codexDir;
    std::optional<std::filesystem::path> geminiDir;
    // "this", "all", or a machine's host name or device id; none counts as the settings say.
    std::optional<std::string> device;

    std::optional<QDate> since;
    std::optional<QDate> until;          // the last day counted, whole
    std::optional<std::string> timeZone; // an IANA name; none follows the system's
    std::vector<UsageSource> sources;    // none takes every source
    bool breakdown = false;
    bool descending = false;
};

// `command` names the command in messages; `ranged` accepts the options of a range of time.
struct CommandSyntax {
    std::string_view command;
    bool ranged = false;
};

std::string usageOf(const CommandSyntax& syntax);

// Parses the arguments after the command's name. Gives the options, or the exit code of a
// command that is done: 0 after printing its usage for "--help" to `out`, 2 after writing one
// line to `err` that names the argument it cannot use.
std::variant<ReportOptions, int> parseReportOptions(const CommandSyntax& syntax,
                                                    std::span<const std::string> args, std::ostream& out,
                                                    std::ostream& err);

} // namespace fernhollow
