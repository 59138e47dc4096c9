#include "cli/ReportCommand.h"

#include "cli/UsageReport.h"
#include "model/PricingConfig.h"
#include "sources/CCUsageParser.h"
#include "sources/Keychain.h"
#include "sources/OpenAIUsageClient.h"
#include "sources/OpenClawParser.h"
#include "store/PersistenceStore.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <optional>
#include <ostream>

namespace fernhollow {
namespace {

constexpr std::string_view usage =
    "usage: fernhollow report [--json] [--claude-dir DIR] [--openclaw-dir DIR] [--no-openai]";
constexpr int openAIDays = 30;

struct ReportOptions {
    bool json = false;
    bool openAI = true;
    std::optional<std::filesystem::path> claudeDir;
    std::optional<std::filesystem::path> openClawDir;
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

// Reads the folder that follows `name`, as "--name DIR" or "--name=DIR".
bool folderOption(std::span<const std::string> args, std::size_t& i, std::string_view name,
                  std::optional<std::filesystem::path>& folder, std::ostream& err) {
    const std::string& arg = args[i];
    std::string value;
    if (arg == name) {
        value = i + 1 < args.size() ? args[++i] : std::string();
    } else {
        value = arg.substr(name.size() + 1);
    }
    if (value.empty()) {
        err << "fernhollow report: " << name << " needs a folder\n";
        return false;
    }
    folder = value;
    return true;
}

// Parses the arguments after "report"; on failure writes one line to `err`.
std::optional<ReportOptions> parseOptions(std::span<const std::string> args, std::ostream& err) {
    ReportOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        bool ok = true;
        if (arg == "--json") {
            options.json = true;
        } else if (arg == "--no-openai") {
            options.openAI = false;
        } else if (arg == "--claude-dir" || arg.starts_with("--claude-dir=")) {
            ok = folderOption(args, i, "--claude-dir", options.claudeDir, err);
        } else if (arg == "--openclaw-dir" || arg.starts_with("--openclaw-dir=")) {
            ok = folderOption(args, i, "--openclaw-dir", options.openClawDir, err);
        } else {
            err << "fernhollow report: unknown argument '" << arg << "' (" << usage << ")\n";
            return std::nullopt;
        }
        if (!ok) {
            return std::nullopt;
        }
    }
    return options;
}

// The Claude Code records, read as the app reads them: from the cache, re-reading only the
// logs that changed, and saving the cache again, so an unchanged tree opens no log file.
std::vector<UsageRecord> claudeRecords(const std::filesystem::path& root) {
    PersistenceStore::State cached = PersistenceStore::load().value_or(PersistenceStore::State{});
    const PersistenceStore::SaveTicket ticket = PersistenceStore::nextSaveTicket();
    auto scan = CCUsageParser::parseChanged(root, cached.fileMtimes, std::move(cached.records));
    PersistenceStore::save({scan.records, std::move(scan.updatedMtimes)}, ticket);
    return std::move(scan.records);
}

std::vector<UsageRecord> openClawRecords(const std::optional<std::filesystem::path>& root) {
    return (root ? OpenClawParser::parseChanged(*root, {}, {}) : OpenClawParser::parseChanged({}, {}))
        .records;
}

// OpenAI usage when a key is stored; a failed fetch is told on `err` and adds nothing.
QCoro::Task<std::vector<UsageRecord>> openAIRecords(QNetworkAccessManager& network, std::ostream& err) {
    const auto key = co_await Keychain::get(QString::fromLatin1(Keychain::openAIAccount));
    if (!key || key->isEmpty()) {
        co_return std::vector<UsageRecord>{};
    }
    auto result = co_await OpenAIUsageClient::fetchRecent(network, openAIDays, key->toStdString());
    if (const auto* error = std::get_if<OpenAIUsageClient::ClientError>(&result)) {
        err << "fernhollow report: " << error->description() << "\n";
        co_return std::vector<UsageRecord>{};
    }
    co_return std::move(std::get<std::vector<UsageRecord>>(result));
}

} // namespace

QCoro::Task<int> runReportCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err,
                                  QNetworkAccessManager& network) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << usage << "\n";
        co_return 0;
    }
    const auto options = parseOptions(args, err);
    if (!options) {
        co_return 2;
    }
    // Prices first, as the app starts, so the dollars match what the app shows.
    PricingConfig::loadUserOverrides();
    PricingConfig::loadRemoteCache();
    std::vector<UsageRecord> records =
        claudeRecords(options->claudeDir.value_or(homeFolder() / ".claude" / "projects"));
    std::ranges::move(openClawRecords(options->openClawDir), std::back_inserter(records));
    if (options->openAI) {
        std::ranges::move(co_await openAIRecords(network, err), std::back_inserter(records));
    }
    const UsageReport report = buildUsageReport(records);
    out << (options->json ? formatReportJson(report) : formatReportTable(report));
    out.flush();
    co_return out.good() ? 0 : 1;
}

} // namespace fernhollow
