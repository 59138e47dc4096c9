#include "store/UsageStore.h"

#include "model/IsoDate.h"
#include "model/PricingConfig.h"
#include "settings/AppSettings.h"
#include "sources/CCUsageParser.h"
#include "sources/Keychain.h"
#include "sources/OpenAIUsageClient.h"
#include "sources/OpenClawParser.h"
#include "store/Notifications.h"
#include "store/PersistenceStore.h"

#include <QCoroFuture>
#include <QFuture>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace fernhollow {
namespace {

constexpr int openAIDays = 30;
constexpr int progressIntervalMs = 100;

void sortByTime(std::vector<UsageRecord>& records) {
    std::stable_sort(records.begin(), records.end(),
                     [](const UsageRecord& a, const UsageRecord& b) { return a.timestamp < b.timestamp; });
}

std::shared_ptr<const std::vector<UsageRecord>> shared(std::vector<UsageRecord> records) {
    return std::make_shared<const std::vector<UsageRecord>>(std::move(records));
}

// A scan's result reaches the main thread by pointer: the future hands out copies of what it
// holds, and a copy of the lists there would stall the interface on large trees.
template <typename Scan> auto scanOffMainThread(Scan scan) {
    return QtConcurrent::run([scan = std::move(scan)]() mutable {
        auto result = std::make_shared<ScanResult>(scan());
        // A scan that read no record hands back the prior list as it was, already in order.
        if (result->recordsReread) {
            sortByTime(result->records);
        }
        return result;
    });
}

// Runs a pass (or an alert decision) that nobody awaits; the store is its context, so nothing
// is called back once the store is gone.
void detach(QCoro::Task<> task, QObject* context) {
    QCoro::connect(std::move(task), context, [] {});
}

} // namespace

std::filesystem::path UsageStore::defaultClaudeProjectsRoot() {
    std::filesystem::path home = "/";
    if (const char* variable = std::getenv("HOME"); variable != nullptr && *variable != '\0') {
        home = variable;
    } else if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        home = entry->pw_dir;
    }
    return home / ".claude" / "projects";
}

UsageStore::UsageStore(AppSettings& settings, QNetworkAccessManager& network, const LocalCalendar& calendar,
                       Options options, const Clock& clock, QObject* parent)
    : QObject(parent), settings_(settings), network_(network), calendar_(calendar), clock_(clock),
      options_(std::move(options)) {
    PricingConfig::loadUserOverrides();
    PricingConfig::loadRemoteCache();
    if (auto state = PersistenceStore::load()) {
        sortByTime(state->records);
        records_ = shared(std::move(state->records));
        fileMtimes_ = std::move(state->fileMtimes);
        publishRecords();
        recomputeStatus();
    } else {
        publishRecords();
    }
    // Saves are a background chore: one at a time, at low priority.
    savePool_.setMaxThreadCount(1);
    savePool_.setThreadPriority(QThread::LowPriority);
    progressTimer_.setInterval(progressIntervalMs);
    connect(&progressTimer_, &QTimer::timeout, this, &UsageStore::publishScanProgress);
    if (options_.interactive) {
        QTimer::singleShot(0, this, [this] { detach(refresh(), this); });
        refreshTimer_.setInterval(options_.refreshInterval);
        connect(&refreshTimer_, &QTimer::timeout, this, [this] { detach(refresh(), this); });
        refreshTimer_.start();
    }
}

UsageStore::~UsageStore() {
    savePool_.waitForDone();
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

    // One scan at a time, each from the lists the one before it left. Two scans from the same
    // lists would each apply without what the other read, and a log deleted in between would
    // keep the older view of its records for good.
    while (scanApplied_) {
        const QFuture<void> applied = scanApplied_->future();
        co_await applied;
        if (!alive) {
            co_return;
        }
    }
    scanApplied_.emplace();
    scanApplied_->start();
    progressTimer_.start();
    const std::uint64_t generation = listsGeneration_;
    const std::shared_ptr<ScanProgress> progress = scanProgress_;
    const FileTimes claudeKnown = fileMtimes_;
    const FileTimes openClawKnown = openclawMtimes_;
    auto claudeScan = scanOffMainThread(
        [root = options_.claudeProjectsRoot, known = claudeKnown, prior = records_, progress] {
            return CCUsageParser::parseChanged(root, known, *prior, progress.get());
        });
    auto openClawScan = scanOffMainThread(
        [root = options_.openClawAgentsRoot, known = openClawKnown, prior = openclawRecords_, progress] {
            return root ? OpenClawParser::parseChanged(*root, known, *prior, progress.get())
                        : OpenClawParser::parseChanged(known, *prior, progress.get());
        });
    const std::shared_ptr<ScanResult> claudeResult = co_await claudeScan;
    const std::shared_ptr<ScanResult> openClawResult = co_await openClawScan;
    ScanResult& claude = *claudeResult;
    ScanResult& openClaw = *openClawResult;
    if (!alive) {
        co_return;
    }
    progressTimer_.stop();
    scanProgress_ = std::make_shared<ScanProgress>();
    publishScanProgress();

    // A forced rescan emptied the lists while this scan ran from the old ones: its result is
    // not applied, and the rescan's own pass, waiting for this one, reads everything.
    // An idle pass (no record read, no file come or gone) leaves the lists and the cache as
    // they are: a tray app makes such passes all day, over lists of millions of records. The
    // figures are still recomputed, since "today" and "live" move with the clock.
    bool cacheChanged = false;
    if (generation == listsGeneration_) {
        const bool claudeChanged = claude.recordsReread || claude.updatedMtimes != claudeKnown;
        const bool openClawChanged = openClaw.recordsReread || openClaw.updatedMtimes != openClawKnown;
        cacheChanged = claudeChanged || !didSaveScan_;
        if (claudeChanged) {
            records_ = shared(std::move(claude.records));
            fileMtimes_ = std::move(claude.updatedMtimes);
        }
        if (openClawChanged) {
            openclawRecords_ = shared(std::move(openClaw.records));
            openclawMtimes_ = std::move(openClaw.updatedMtimes);
        }
        lastRefresh_ = clock_.now();
        emit lastRefreshChanged();
        publishRecords();
    }
    std::exchange(scanApplied_, std::nullopt)->finish();

    if (cacheChanged) {
        didSaveScan_ = true;
        // The ticket is taken with the snapshot, so a save finishing late never wins over a newer one.
        // The snapshot is copied on the saving thread, not here.
        savePool_.start(
            [records = records_, mtimes = fileMtimes_, ticket = PersistenceStore::nextSaveTicket()] {
                PersistenceStore::save(PersistenceStore::State{*records, mtimes}, ticket);
            });
        // A pass that read logs leaves the allocator holding the high-water mark of its reads
        // and its save; the pages go back once the save's copy is gone, so a tray app that runs
        // all day stays near the size of what it keeps.
#if defined(__GLIBC__)
        savePool_.start([] { ::malloc_trim(0); });
#endif
    }

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
            openaiRecords_ = std::move(*records);
            setOpenAIError(std::nullopt);
            publishRecords();
        } else {
            // The figures keep showing the usage of the last fetch that worked.
            setOpenAIError(std::get<OpenAIUsageClient::ClientError>(result).description());
        }
    } else {
        const bool hadRecords = !openaiRecords_.empty();
        openaiRecords_.clear();
        setOpenAIError(std::nullopt);
        if (hadRecords) {
            publishRecords();
        }
    }
    recomputeStatusAndMaybeNotify();
    setRefreshing(false);
}

QCoro::Task<> UsageStore::forceFullRescan() {
    ++listsGeneration_;
    PersistenceStore::clear();
    records_ = shared({});
    openclawRecords_ = shared({});
    fileMtimes_.clear();
    openclawMtimes_.clear();
    publishRecords();
    co_await refresh();
}

void UsageStore::recomputeStatus() {
    const double spent = UsageAggregates::monthUSD(lists(), clock_, calendar_);
    setStatus(budgetStatus(spent, settings_.monthlyBudgetUSD(), settings_.warnThresholdPct(),
                           settings_.criticalThresholdPct()));
}

void UsageStore::recomputeStatusAndMaybeNotify() {
    const double spent = UsageAggregates::monthUSD(lists(), clock_, calendar_);
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

void UsageStore::publishRecords() {
    snapshot_ = UsageAggregates::computeSnapshot(lists(), clock_, calendar_);
    emit recordsChanged();
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
