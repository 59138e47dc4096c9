#include "cli/HeadlessPass.h"

#include "cli/DeviceOption.h"
#include "core/common/Folders.h"

#include <unistd.h>

#include <ostream>

namespace fernhollow {

HeadlessPass::HeadlessPass(const ReportOptions& options, QNetworkAccessManager& network)
    : preferences_(Folders::preferencesFile()), settings_(preferences_),
      store_(settings_, network, calendar_, storeOptions(options)) {}

UsageStore::Options HeadlessPass::storeOptions(const ReportOptions& options) {
    UsageStore::Options storeOptions;
    for (const std::filesystem::path& folder : options.claudeDirs) {
        storeOptions.claudeProjectsRoots.push_back(Folders::claudeProjectsFolderOf(folder.string()));
    }
    storeOptions.openClawStateFolder = options.openClawDir;
    storeOptions.codexHome = options.codexDir;
    storeOptions.geminiRoot = options.geminiDir;
    storeOptions.readCodex = options.codex;
    storeOptions.readGemini = options.gemini;
    storeOptions.interactive = false;
    storeOptions.fetchOpenAI = options.openAI;
    return storeOptions;
}

QCoro::Task<> HeadlessPass::run(std::string_view command, std::ostream& err) {
    // While a long scan runs, one line on a terminal's stderr, rewritten in place.
    if (::isatty(STDERR_FILENO) != 0) {
        QObject::connect(&store_, &UsageStore::scanProgressChanged, &store_, [this, &err] {
            if (store_.scanFilesToRead() > 0) {
                err << "\rReading logs: " << store_.scanFilesRead() << " of " << store_.scanFilesToRead()
                    << " files" << std::flush;
            } else {
                err << "\r\033[K" << std::flush;
            }
        });
    }
    co_await store_.refresh();
    if (store_.openaiError()) {
        err << "fernhollow " << command << ": " << *store_.openaiError() << "\n";
    }
    if (store_.ledgerError()) {
        err << "fernhollow " << command << ": " << *store_.ledgerError() << "\n";
    }
    for (const std::string& problem : store_.sharingProblems()) {
        err << "fernhollow " << command << ": " << problem << "\n";
    }
}

std::optional<DeviceIdentity> HeadlessPass::thisMachine() const {
    return thisDevice(store_.ledgerPath().parent_path());
}

std::optional<int> HeadlessPass::countMachines(const std::optional<std::string>& device,
                                               std::string_view command, std::ostream& err) {
    Ledger* ledger = store_.ledger();
    if (!device || ledger == nullptr) {
        return std::nullopt;
    }
    try {
        const auto scope = deviceScopeOf(*device, ledger->devices(), thisMachine());
        if (const auto* problem = std::get_if<std::string>(&scope)) {
            err << "fernhollow " << command << ": " << *problem << "\n";
            return 2;
        }
        store_.setDeviceScope(std::get<DeviceScope>(scope));
    } catch (const sqlite::Error& error) {
        err << "fernhollow " << command << ": could not read the usage ledger: " << error.what() << "\n";
        return 1;
    }
    return std::nullopt;
}

} // namespace fernhollow
