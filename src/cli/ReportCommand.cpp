#include "cli/ReportCommand.h"

#include "cli/UsageReport.h"
#include "model/PricingConfig.h"
#include "sources/CCUsageParser.h"
#include "store/PersistenceStore.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>

namespace fernhollow {
namespace {

constexpr std::string_view usage = "usage: fernhollow report [--json] [--claude-dir DIR]";

struct ReportOptions {
    bool json = false;
    std::optional<std::filesystem::path> claudeDir;
};

std::filesystem::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return "/";
}

// Parses the arguments after "report"; on failure writes one line to `err`.
std::optional<ReportOptions> parseOptions(std::span<const std::string> args, std::ostream& err) {
    ReportOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--json") {
            options.json = true;
        } else if (arg == "--claude-dir") {
            if (i + 1 == args.size() || args[i + 1].empty()) {
                err << "fernhollow report: --claude-dir needs a folder\n";
                return std::nullopt;
            }
            options.claudeDir = args[++i];
        } else if (arg.starts_with("--claude-dir=") && arg.size() > 13) {
            options.claudeDir = arg.substr(13);
        } else {
            err << "fernhollow report: unknown argument '" << arg << "' (" << usage << ")\n";
            return std::nullopt;
        }
    }
    return options;
}

} // namespace

int runReportCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << usage << "\n";
        return 0;
    }
    const auto options = parseOptions(args, err);
    if (!options) {
        return 2;
    }
    const std::filesystem::path root = options->claudeDir.value_or(homeFolder() / ".claude" / "projects");
    // The same start as the app's: prices first, then the cache, so the dollars and the
    // records match what the app shows, and an unchanged tree opens no log file.
    PricingConfig::loadUserOverrides();
    PricingConfig::loadRemoteCache();
    PersistenceStore::State cached = PersistenceStore::load().value_or(PersistenceStore::State{});
    const PersistenceStore::SaveTicket ticket = PersistenceStore::nextSaveTicket();
    auto scan = CCUsageParser::parseChanged(root, cached.fileMtimes, std::move(cached.records));
    const UsageReport report = buildUsageReport(scan.records);
    PersistenceStore::save({std::move(scan.records), std::move(scan.updatedMtimes)}, ticket);
    out << (options->json ? formatReportJson(report) : formatReportTable(report));
    out.flush();
    return out.good() ? 0 : 1;
}

} // namespace fernhollow
