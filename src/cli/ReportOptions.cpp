#include "cli/ReportOptions.h"

#include <QTimeZone>

#include <ostream>

namespace fernhollow {
namespace {

// Takes the value of `name`, given as "--name VALUE" or "--name=VALUE"; none when `arg` is
// another option. An empty value is a value: the caller refuses it by name.
std::optional<std::string> valueOf(std::span<const std::string> args, std::size_t& i, std::string_view name) {
    const std::string& arg = args[i];
    if (arg == name) {
        return i + 1 < args.size() ? args[++i] : std::string();
    }
    if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
        return arg.substr(name.size() + 1);
    }
    return std::nullopt;
}

std::optional<QDate> dateOf(const std::string& text) {
    const QDate date = QDate::fromString(QString::fromStdString(text), QStringLiteral("yyyy-MM-dd"));
    return date.isValid() ? std::optional(date) : std::nullopt;
}

std::optional<UsageSource> sourceOf(std::string_view key) {
    for (const UsageSource source : allUsageSources) {
        if (sourceKey(source) == key) {
            return source;
        }
    }
    return std::nullopt;
}

// Reads one option of a range of time; false when `arg` is none of them. `problem` says what
// is wrong with its value.
bool readRangeOption(std::span<const std::string> args, std::size_t& i, ReportOptions& options,
                     std::string& problem) {
    const std::string& arg = args[i];
    if (arg == "--breakdown") {
        options.breakdown = true;
    } else if (const auto since = valueOf(args, i, "--since")) {
        options.since = dateOf(*since);
        problem = options.since ? "" : "--since needs a date as YYYY-MM-DD, not '" + *since + "'";
    } else if (const auto until = valueOf(args, i, "--until")) {
        options.until = dateOf(*until);
        problem = options.until ? "" : "--until needs a date as YYYY-MM-DD, not '" + *until + "'";
    } else if (const auto zone = valueOf(args, i, "--timezone")) {
        options.timeZone = *zone;
        if (!QTimeZone(QByteArray::fromStdString(*zone)).isValid()) {
            problem = "--timezone needs a time zone such as Europe/Berlin or UTC, not '" + *zone + "'";
        }
    } else if (const auto key = valueOf(args, i, "--source")) {
        if (const auto source = sourceOf(*key)) {
            options.sources.push_back(*source);
        } else {
            problem = "--source needs one of claude, openclaw, codex, gemini, openai, not '" + *key + "'";
        }
    } else if (const auto order = valueOf(args, i, "--order")) {
        options.descending = *order == "desc";
        if (*order != "asc" && *order != "desc") {
            problem = "--order needs asc or desc, not '" + *order + "'";
        }
    } else {
        return false;
    }
    return true;
}

} // namespace

std::string usageOf(const CommandSyntax& syntax) {
    std::string usage = "usage: fernhollow " + std::string(syntax.command) + " [--json]";
    if (syntax.ranged) {
        usage += " [--since YYYY-MM-DD] [--until YYYY-MM-DD] [--timezone ZONE] [--source NAME]... "
                 "[--breakdown] [--order asc|desc]";
    }
    return usage +
           " [--device NAME|ID|this|all] [--claude-dir DIR]... [--openclaw-dir DIR] [--codex-dir DIR] "
           "[--gemini-dir DIR] [--no-codex] [--no-gemini] [--no-openai]";
}

std::variant<ReportOptions, int> parseReportOptions(const CommandSyntax& syntax,
                                                    std::span<const std::string> args, std::ostream& out,
                                                    std::ostream& err) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << usageOf(syntax) << "\n";
        return 0;
    }
    ReportOptions options;
    const std::pair<std::string_view, std::optional<std::filesystem::path>*> folders[] = {
        {"--openclaw-dir", &options.openClawDir},
        {"--codex-dir", &options.codexDir},
        {"--gemini-dir", &options.geminiDir},
    };
    const std::pair<std::string_view, bool*> switches[] = {
        {"--json", &options.json},
        {"--no-openai", &options.openAI},
        {"--no-codex", &options.codex},
        {"--no-gemini", &options.gemini},
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string problem;
        bool known = false;
        for (const auto& [name, flag] : switches) {
            if (arg == name) {
                // "--json" sets its flag; the "--no-" switches clear theirs.
                *flag = !name.starts_with("--no-");
                known = true;
            }
        }
        // Claude Code folders add up: each --claude-dir is read besides the others.
        if (const auto value = known ? std::nullopt : valueOf(args, i, "--claude-dir")) {
            known = true;
            if (value->empty()) {
                problem = "--claude-dir needs a folder";
            } else {
                options.claudeDirs.emplace_back(*value);
            }
        }
        // Which machine it names is known only once the pass has read the shared folder.
        if (const auto value = known ? std::nullopt : valueOf(args, i, "--device")) {
            known = true;
            options.device = *value;
            if (value->empty()) {
                problem = "--device needs this, all, or a machine's name or id";
            }
        }
        for (const auto& [name, folder] : folders) {
            if (const auto value = known ? std::nullopt : valueOf(args, i, name)) {
                known = true;
                if (value->empty()) {
                    problem = std::string(name) + " needs a folder";
                } else {
                    *folder = *value;
                }
            }
        }
        if (!known && syntax.ranged) {
            known = readRangeOption(args, i, options, problem);
        }
        if (!known) {
            problem = "unknown argument '" + arg + "' (" + usageOf(syntax) + ")";
        }
        if (!problem.empty()) {
            err << "fernhollow " << syntax.command << ": " << problem << "\n";
            return 2;
        }
    }
    if (options.since && options.until && *options.since > *options.until) {
        err << "fernhollow " << syntax.command << ": --since "
            << options.since->toString(Qt::ISODate).toStdString() << " is after --until "
            << options.until->toString(Qt::ISODate).toStdString() << "\n";
        return 2;
    }
    return options;
}

} // namespace fernhollow
