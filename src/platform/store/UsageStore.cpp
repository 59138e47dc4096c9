#include "platform/store/UsageStore.h"

#include "core/figures/LedgerFigures.h"
#include "core/ledger/LedgerPass.h"
#include "core/ledger/LegacyImport.h"
#include "core/ledger/PersistenceStore.h"
#include "core/model/IsoDate.h"
#include "core/model/PricingFolder.h"
#include "core/sources/CCUsageParser.h"
#include "core/sources/CodexParser.h"
#include "core/sources/GeminiParser.h"
#include "core/sources/LogFileWalker.h"
#include "core/sources/OpenClawParser.h"
#include "core/sync/SharedFolder.h"
#include "platform/net/OpenAIUsageClient.h"
#include "platform/net/PricingConfig.h"
#include "platform/settings/AppSettings.h"
#include "platform/system/Keychain.h"
#include "platform/system/Notifications.h"

#include <QCoroFuture>
#include <QFuture>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <functional>
#include <set>
#include <utility>

namespace fernhollow {
namespace {

constexpr int openAIDays = 30;
constexpr int progressIntervalMs = 100;
// A write of the shared file copies the whole file; while an agent works, records come every few
// seconds, and the other machines need them within minutes, not at once.
constexpr double shareWriteIntervalSeconds = 600.0;

// Runs a pass (or an alert decision) that nobody awaits; the store is its context, so nothing
// is called back once the store is gone.
void detach(QCoro::Task<> task, QObject* context) {
    QCoro::connect(std::move(task), context, [] {});
}

std::string passFailure(const sqlite::Error& error) {
    return std::string("Could not update the usage ledger: ") + error.what() +
           ". The figures show what was recorded before; the next refresh tries again.";
}

} // namespace

UsageStore::UsageStore(AppSettings& settings, QNetworkAccessManager& network, const LocalCalendar& calendar,
                       Options options, const Clock& clock, QObject* parent)
    : QObject(parent), settings_(settings), network_(network), calendar_(calendar), clock_(clock),
      options_(std::move(options)), ledgerPath_(options_.ledgerPath.value_or(PersistenceStore::ledgerURL())) {
    PricingFolder::loadUserOverrides();
    PricingFolder::loadRemoteCache();
    if (!options_.ledgerPath) {
        importLegacyState(ledgerPath_, PersistenceStore::legacyStateURL());
    }
    openLedger();
    publishRecords();
    recomputeStatus();
    connect(&settings_, &AppSettings::sharedFolderChanged, this, &UsageStore::sharingChanged);
    connect(&settings_, &AppSettings::showAllMachinesChanged, this, [this] {
        publishRecords();
        recomputeStatus();
    });
    progressTimer_.setInterval(progressIntervalMs);
    connect(&progressTimer_, &QTimer::timeout, this, &UsageStore::publishScanProgress);
    if (options_.interactive) {
        QTimer::singleShot(0, this, [this] { detach(refresh(), this); });
        refreshTimer_.setInterval(options_.refreshInterval);
        connect(&refreshTimer_, &QTimer::timeout, this, [this] { detach(refresh(), this); });
        refreshTimer_.start();
    }
}

UsageStore::~UsageStore() = default;

void UsageStore::openLedger() {
    ledger_.reset();
    try {
        std::string notice;
        ledger_ = openLedgerOrRebuild(ledgerPath_, notice);
        if (!options_.interactive) {
            // A report starts, reads its figures and ends: copies of pages would all be fresh memory.
            ledger_->readThroughMemoryMap();
        }
        if (!notice.empty()) {
            setLedgerNotice(std::move(notice));
        }
    } catch (const sqlite::Error& error) {
        setLedgerFailure(std::string("Could not open the usage ledger: ") + error.what());
    }
}

QCoro::Task<UsageStore::ScanOutcome> UsageStore::scanIntoLedger(bool wholeFiles) {
    const std::shared_ptr<ScanProgress> progress = scanProgress_;
    using Scan = std::function<ScanResult(const LogFileStates&, bool, ScanProgress*, const RecordSink&)>;
    using Parse = ScanResult (*)(const std::filesystem::path&, const LogFileStates&, bool, ScanProgress*);
    const auto below = [](Parse parse, const std::filesystem::path& root) -> Scan {
        return [parse, root](const LogFileStates& known, bool whole, ScanProgress* progress,
                             const RecordSink&) { return parse(root, known, whole, progress); };
    };
    std::vector<std::pair<UsageSource, Scan>> sources;
    sources.emplace_back(UsageSource::claudeCode,
                         [roots = claudeProjectsRoots()](const LogFileStates& known, bool whole,
                                                         ScanProgress* progress, const RecordSink& sink) {
                             return CCUsageParser::parseChanged(roots, known, whole, progress, sink);
                         });
    sources.emplace_back(UsageSource::openClaw, below(OpenClawParser::parseChanged, openClawAgentsRoot()));
    // A source without a folder reads nothing; a folder named that is missing likewise.
    if (const auto home = options_.codexHome ? options_.codexHome : CodexParser::defaultHome();
        home && options_.readCodex) {
        sources.emplace_back(UsageSource::codex, below(CodexParser::parseChanged, *home));
    }
    if (const auto root = options_.geminiRoot ? options_.geminiRoot : GeminiParser::defaultRoot();
        root && options_.readGemini) {
        sources.emplace_back(UsageSource::gemini, below(GeminiParser::parseChanged, *root));
    }
    struct SourcePass {
        std::optional<sqlite::Error> error;
        std::vector<std::string> problems;
    };
    std::vector<std::pair<UsageSource, QFuture<SourcePass>>> scans;
    for (const auto& [source, scan] : sources) {
        scans.emplace_back(
            source, QtConcurrent::run([path = ledgerPath_, source, scan, wholeFiles, progress] {
                SourcePass pass;
                bool readLogs = false;
                pass.error =
                    passIntoLedger(path, source, wholeFiles,
                                   [&](const LogFileStates& known, bool whole, const RecordSink& sink) {
                                       ScanResult result = scan(known, whole, progress.get(), sink);
                                       readLogs = !result.changesNothing();
                                       pass.problems = std::move(result.problems);
                                       return result;
                                   });
            // A pass that read logs leaves the allocator holding the high-water mark of its
            // reads; a tray app that runs all day should stay near the size of what it keeps.
#if defined(__GLIBC__)
                if (readLogs) {
                    ::malloc_trim(0);
                }
#endif
                return pass;
            }));
    }
    ScanOutcome outcome;
    for (auto& [source, scan] : scans) {
        SourcePass pass = co_await scan;
        if (pass.error && !outcome.error) {
            outcome.error = passFailure(*pass.error);
            outcome.damaged = pass.error->isDamage();
        }
        outcome.problems[source] = std::move(pass.problems);
    }
    co_return outcome;
}

std::vector<std::filesystem::path> UsageStore::claudeProjectsRoots() const {
    std::vector<std::filesystem::path> roots = options_.claudeProjectsRoots;
    for (const QString& folder : settings_.claudeFolders()) {
        roots.push_back(Folders::claudeProjectsFolderOf(folder.toStdString()));
    }
    return distinctFolders(roots);
}

std::filesystem::path UsageStore::openClawAgentsRoot() const {
    return OpenClawParser::agentsRootOf(
        options_.openClawStateFolder
            ? *options_.openClawStateFolder
            : Folders::openClawStateFolder(settings_.openClawStateFolder().toStdString()));
}

const std::vector<UsageStore::FolderRecords>& UsageStore::claudeFolderRecords() const {
    if (claudeFolderRecords_) {
        return *claudeFolderRecords_;
    }
    claudeFolderRecords_.emplace();
    LogFileStates states;
    try {
        if (ledger_ != nullptr) {
            states = ledger_->fileStates(UsageSource::claudeCode);
        }
        for (const std::filesystem::path& root : claudeProjectsRoots()) {
            std::error_code ignored;
            const std::string prefix = root.string() + "/";
            std::set<std::string> sessions;
            for (const auto& [path, state] : states) {
                if (path.starts_with(prefix)) {
                    sessions.insert(sessionIdOf(path));
                }
            }
            claudeFolderRecords_->push_back(
                {root, std::filesystem::is_directory(root, ignored),
                 sessions.empty() ? 0 : ledger_->recordCountOfSessions(sessions)});
        }
    } catch (const sqlite::Error&) {
        // The counts are a detail of the row; the ledger's failure is told where the figures are.
    }
    return *claudeFolderRecords_;
}

const std::vector<std::string>& UsageStore::sourceProblems(UsageSource source) const {
    static const std::vector<std::string> none;
    const auto it = sourceProblems_.find(source);
    return it != sourceProblems_.end() ? it->second : none;
}

QCoro::Task<> UsageStore::refresh() {
    const QPointer<UsageStore> alive(this);
    setRefreshing(true);
    if (settings_.syncRemotePricing() && !didSyncRemoteThisLaunch_) {
        // Set before the sync: a failed sync waits for the next start, not the next pass.
        didSyncRemoteThisLaunch_ = true;
        co_await PricingConfig::syncRemote(network_);
        if (!alive) {
            co_return;
        }
    }

    // One scan at a time: two would read the same new lines and write them twice over.
    while (scanDone_) {
        const QFuture<void> done = scanDone_->future();
        co_await done;
        if (!alive) {
            co_return;
        }
    }
    scanDone_.emplace();
    scanDone_->start();
    progressTimer_.start();
    const bool wholeFiles = std::exchange(readWholeLogs_, false);
    ScanOutcome outcome = co_await scanIntoLedger(wholeFiles);
    if (!alive) {
        co_return;
    }
    if (outcome.damaged) {
        // The file is set aside and a new ledger filled from the logs at once.
        ledger_.reset();
        setLedgerNotice(setLedgerAside(ledgerPath_));
        openLedger();
        outcome = co_await scanIntoLedger(true);
        if (!alive) {
            co_return;
        }
    }
    co_await shareThroughFolder();
    if (!alive) {
        co_return;
    }
    progressTimer_.stop();
    sourceProblems_ = std::move(outcome.problems);
    scanProgress_ = std::make_shared<ScanProgress>();
    publishScanProgress();
    if (!outcome.error && ledger_ == nullptr) {
        openLedger();
    }
    setLedgerFailure(outcome.error);
    lastRefresh_ = clock_.now();
    emit lastRefreshChanged();
    // "Today" and "live" move with the clock, so the figures are taken again after every pass.
    publishRecords();
    std::exchange(scanDone_, std::nullopt)->finish();

    // Awaited tasks are held in locals: GCC 12 mishandles temporaries that live across a
    // co_await inside a larger expression.
    std::optional<QString> key;
    if (options_.fetchOpenAI) {
        const QString account = QString::fromLatin1(Keychain::openAIAccount);
        auto reading = Keychain::get(account);
        key = co_await std::move(reading);
        if (!alive) {
            co_return;
        }
    }
    if (key && !key->isEmpty()) {
        auto fetching = OpenAIUsageClient::fetchRecent(network_, openAIDays, key->toStdString(), clock_);
        auto result = co_await std::move(fetching);
        if (!alive) {
            co_return;
        }
        if (auto* records = std::get_if<std::vector<UsageRecord>>(&result)) {
            setOpenAIError(std::nullopt);
            applyOpenAI(std::move(*records));
        } else {
            // The figures keep showing the usage of the fetches that worked.
            setOpenAIError(std::get<OpenAIUsageClient::ClientError>(result).description());
        }
    } else {
        setOpenAIError(std::nullopt);
    }
    recomputeStatusAndMaybeNotify();
    setRefreshing(false);
}

QCoro::Task<> UsageStore::shareThroughFolder() {
    if (!isSharing()) {
        sharingProblems_.clear();
        co_return;
    }
    const QPointer<UsageStore> alive(this);
    const double now = clock_.now();
    const OwnFileWrite write = !options_.interactive ? OwnFileWrite::none
                               : !lastShareWrite_ || now - *lastShareWrite_ >= shareWriteIntervalSeconds
                                   ? OwnFileWrite::withNewRecords
                                   : OwnFileWrite::ifNotAsLeft;
    const std::filesystem::path folder = settings_.sharedFolder().toStdString();
    if (!device_) {
        device_ = thisDevice(ledgerPath_.parent_path());
    }
    auto passing = QtConcurrent::run([path = ledgerPath_, folder, now, write, self = device_] {
        SharedFolderPass pass;
        if (!self) {
            pass.problems.push_back("Could not keep this machine's id in " + path.parent_path().string() +
                                    "; nothing is shared until it can.");
            return pass;
        }
        try {
            Ledger ledger(path);
            pass = passSharedFolder(ledger, folder, *self, now, write);
        } catch (const sqlite::Error& error) {
            pass.problems.push_back(passFailure(error));
        }
        return pass;
    });
    SharedFolderPass pass = co_await passing;
    if (!alive) {
        co_return;
    }
    if (pass.wrote) {
        lastShareWrite_ = now;
    }
    sharingProblems_ = std::move(pass.problems);
}

void UsageStore::sharingChanged() {
    if (!isSharing() && ledger_ != nullptr) {
        try {
            ledger_->stopSharing();
        } catch (const sqlite::Error& error) {
            setLedgerFailure(passFailure(error));
        }
    }
    lastShareWrite_.reset();
    publishRecords();
    if (options_.interactive) {
        detach(refresh(), this);
    }
}

bool UsageStore::isSharing() const {
    return !settings_.sharedFolder().isEmpty();
}

void UsageStore::forgetMachine(std::int64_t id) {
    if (ledger_ == nullptr) {
        return;
    }
    try {
        ledger_->forgetDevice(id);
    } catch (const sqlite::Error& error) {
        setLedgerFailure(passFailure(error));
    }
    publishRecords();
    // Records it shared with a machine still there come back as that machine's.
    if (options_.interactive) {
        detach(refresh(), this);
    }
}

void UsageStore::setDeviceScope(std::optional<std::int64_t> device) {
    chosenDeviceScope_ = device;
    publishRecords();
    recomputeStatus();
}

void UsageStore::applyOpenAI(std::vector<UsageRecord> records) {
    if (ledger_ == nullptr) {
        return;
    }
    try {
        ledger_->apply({UsageSource::openAI, RecordRule::replace, std::move(records), {}, {}});
        publishRecords();
    } catch (const sqlite::Error& error) {
        setLedgerFailure(passFailure(error));
    }
}

QCoro::Task<> UsageStore::forceFullRescan() {
    readWholeLogs_ = true;
    co_await refresh();
}

QCoro::Task<> UsageStore::forgetHistory() {
    if (ledger_ != nullptr) {
        try {
            ledger_->forget();
        } catch (const sqlite::Error& error) {
            setLedgerFailure(passFailure(error));
        }
        publishRecords();
    }
    co_await refresh();
}

std::int64_t UsageStore::recordCount(UsageSource source) const {
    const auto it = recordCounts_.find(source);
    return it != recordCounts_.end() ? it->second : 0;
}

std::int64_t UsageStore::recordCount() const {
    std::int64_t total = 0;
    for (const auto& [source, count] : recordCounts_) {
        total += count;
    }
    return total;
}

void UsageStore::recomputeStatus() {
    setStatus(budgetStatus(snapshot_.monthUSD, settings_.monthlyBudgetUSD(), settings_.warnThresholdPct(),
                           settings_.criticalThresholdPct()));
}

void UsageStore::recomputeStatusAndMaybeNotify() {
    const double spent = snapshot_.monthUSD;
    const double budget = settings_.monthlyBudgetUSD();
    if (!(budget > 0.0)) {
        setStatus(BudgetStatus::ok);
        return;
    }
    const BudgetStatus before = status_;
    const BudgetStatus after =
        budgetStatus(spent, budget, settings_.warnThresholdPct(), settings_.criticalThresholdPct());
    setStatus(after);
    if (options_.interactive) {
        detach(decideAlert(before, after, spent, budget, spent / budget), this);
    }
}

QCoro::Task<> UsageStore::decideAlert(BudgetStatus before, BudgetStatus after, double spent, double budget,
                                      double ratio) {
    const auto kind = alertForRise(before, after);
    if (!kind || settings_.hasFiredToday(*kind)) {
        co_return;
    }
    const QPointer<UsageStore> alive(this);
    switch (*kind) {
    case ThresholdKind::warn:
        co_await Notifications::fireWarn(spent, budget, ratio);
        break;
    case ThresholdKind::critical:
        co_await Notifications::fireCritical(spent, budget, ratio);
        break;
    case ThresholdKind::emergency:
        co_await Notifications::fireEmergency(spent, budget);
        break;
    }
    // Written whether or not the desktop showed it: the level stays quiet for the rest of the day.
    if (alive) {
        settings_.setLastFiredISO(*kind,
                                  QString::fromStdString(isodate::formatUtcWholeSeconds(clock_.now())));
    }
}

QString UsageStore::statusRawValue() const {
    const std::string_view raw = rawValue(status_);
    return QString::fromLatin1(raw.data(), static_cast<qsizetype>(raw.size()));
}

QString UsageStore::ledgerErrorText() const {
    return QString::fromStdString(ledgerError().value_or(std::string()));
}

QString UsageStore::openaiErrorText() const {
    return openaiError_ ? QString::fromStdString(*openaiError_) : QString();
}

void UsageStore::setRefreshing(bool refreshing) {
    if (isRefreshing_ != refreshing) {
        isRefreshing_ = refreshing;
        emit isRefreshingChanged();
    }
}

void UsageStore::setStatus(BudgetStatus status) {
    if (status_ != status) {
        status_ = status;
        emit statusChanged();
    }
}

void UsageStore::setOpenAIError(std::optional<std::string> error) {
    if (openaiError_ != error) {
        openaiError_ = std::move(error);
        emit openaiErrorChanged();
    }
}

void UsageStore::setLedgerFailure(std::optional<std::string> failure) {
    if (ledgerFailure_ != failure) {
        ledgerFailure_ = std::move(failure);
        emit ledgerErrorChanged();
    }
}

void UsageStore::setLedgerNotice(std::string notice) {
    ledgerNotice_ = std::move(notice);
    emit ledgerErrorChanged();
}

void UsageStore::publishRecords() {
    claudeFolderRecords_.reset();
    if (ledger_ != nullptr) {
        try {
            const bool allMachines = isSharing() && settings_.showAllMachines();
            ledger_->setDeviceScope(
                chosenDeviceScope_.value_or(allMachines ? std::nullopt : std::optional<std::int64_t>(0)));
            snapshot_ = LedgerFigures::snapshot(*ledger_, clock_, calendar_);
            recordCounts_ = ledger_->recordCounts();
            publishMachines();
        } catch (const sqlite::Error& error) {
            setLedgerFailure(std::string("Could not read the usage ledger: ") + error.what());
        }
    }
    emit recordsChanged();
}

void UsageStore::publishMachines() {
    machines_.clear();
    if (!isSharing()) {
        return;
    }
    std::map<std::int64_t, double> spend = LedgerFigures::monthSpendByDevice(*ledger_, clock_, calendar_);
    machines_.push_back(
        {0, device_ ? device_->host : std::string("This machine"), lastRefresh_.value_or(0.0), spend[0]});
    for (const Device& device : ledger_->devices()) {
        machines_.push_back({device.id, device.host, device.lastSeen, spend[device.id], device.fileFound});
    }
}

void UsageStore::publishScanProgress() {
    const int read = static_cast<int>(scanProgress_->filesRead.load());
    const int toRead = static_cast<int>(scanProgress_->filesToRead.load());
    if (read != scanFilesRead_ || toRead != scanFilesToRead_) {
        scanFilesRead_ = read;
        scanFilesToRead_ = toRead;
        emit scanProgressChanged();
    }
}

} // namespace fernhollow
