#pragma once

#include "model/Clock.h"
#include "model/UsageRecord.h"
#include "sources/IncrementalScan.h"
#include "store/BudgetStatus.h"
#include "store/LocalCalendar.h"
#include "store/UsageAggregates.h"

#include <QCoroTask>
#include <QObject>
#include <QPromise>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

class QNetworkAccessManager;

namespace fernhollow {

class AppSettings;

// The one live store of usage records and the app's main loop: it loads the cache, refreshes
// at once and then on a timer (both log scans off the main thread, in parallel; the cache save
// in the background; the catalogue sync and the OpenAI fetch awaited without blocking), and
// keeps the budget status. Confined to the main thread. Passes may overlap; each applies one
// complete scan result, unless a pass that started after it has already applied its own.
class UsageStore final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isRefreshing READ isRefreshing NOTIFY isRefreshingChanged)
    Q_PROPERTY(QString status READ statusRawValue NOTIFY statusChanged)
    Q_PROPERTY(QString openaiError READ openaiErrorText NOTIFY openaiErrorChanged)
    Q_PROPERTY(double lastRefresh READ lastRefreshSeconds NOTIFY lastRefreshChanged)
    Q_PROPERTY(int scanFilesRead READ scanFilesRead NOTIFY scanProgressChanged)
    Q_PROPERTY(int scanFilesToRead READ scanFilesToRead NOTIFY scanProgressChanged)

public:
    struct Options {
        // Where the logs are; by default below the user's home folder.
        std::filesystem::path claudeProjectsRoot = defaultClaudeProjectsRoot();
        std::optional<std::filesystem::path> openClawAgentsRoot; // none: the OpenClaw default
        std::chrono::milliseconds refreshInterval{60'000};
        // False for a headless run: no pass at creation, no timer, and no alert is ever posted
        // nor remembered; the caller drives `refresh`.
        bool interactive = true;
        // False keeps the OpenAI usage out, whether or not a key is stored.
        bool fetchOpenAI = true;
    };

    static std::filesystem::path defaultClaudeProjectsRoot();

    // `settings`, `network`, `clock` and `calendar` must outlive the store.
    UsageStore(AppSettings& settings, QNetworkAccessManager& network, const LocalCalendar& calendar,
               Options options, const Clock& clock = Clock::system(), QObject* parent = nullptr);
    ~UsageStore() override;

    QCoro::Task<> refresh();
    QCoro::Task<> forceFullRescan();

    // Sets `status` from this month's spend; never notifies.
    void recomputeStatus();
    // Sets `status`, then decides on an alert in a task of its own with the values of this call.
    void recomputeStatusAndMaybeNotify();

    const std::vector<UsageRecord>& records() const { return *records_; }
    const std::vector<UsageRecord>& openclawRecords() const { return *openclawRecords_; }
    const std::vector<UsageRecord>& openaiRecords() const { return openaiRecords_; }
    const FileTimes& fileMtimes() const { return fileMtimes_; }
    const FileTimes& openclawMtimes() const { return openclawMtimes_; }
    const std::optional<std::string>& openaiError() const { return openaiError_; }
    std::optional<double> lastRefresh() const { return lastRefresh_; }
    bool isRefreshing() const { return isRefreshing_; }
    BudgetStatus status() const { return status_; }

    UsageAggregates::UsageLists lists() const { return {*records_, *openclawRecords_, openaiRecords_}; }
    // Every figure the panel shows, computed in one pass whenever the records change.
    const UsageAggregates::UsageSnapshot& snapshot() const { return snapshot_; }

    QString statusRawValue() const;
    QString openaiErrorText() const;
    double lastRefreshSeconds() const { return lastRefresh_.value_or(0.0); }
    int scanFilesRead() const { return scanFilesRead_; }
    int scanFilesToRead() const { return scanFilesToRead_; }

signals:
    void recordsChanged();
    void isRefreshingChanged();
    void statusChanged();
    void openaiErrorChanged();
    void lastRefreshChanged();
    void scanProgressChanged();

private:
    QCoro::Task<> decideAlert(BudgetStatus before, BudgetStatus after, double spent, double budget,
                              double ratio);
    void setRefreshing(bool refreshing);
    void setStatus(BudgetStatus status);
    void setOpenAIError(std::optional<std::string> error);
    void publishRecords();
    void publishScanProgress();

    AppSettings& settings_;
    QNetworkAccessManager& network_;
    const LocalCalendar& calendar_;
    const Clock& clock_;
    Options options_;

    // Shared with the scanning threads, which copy them there rather than on the main thread.
    std::shared_ptr<const std::vector<UsageRecord>> records_ =
        std::make_shared<const std::vector<UsageRecord>>();
    std::shared_ptr<const std::vector<UsageRecord>> openclawRecords_ =
        std::make_shared<const std::vector<UsageRecord>>();
    std::vector<UsageRecord> openaiRecords_;
    std::optional<std::string> openaiError_;
    FileTimes fileMtimes_;
    FileTimes openclawMtimes_;
    std::optional<double> lastRefresh_;
    bool isRefreshing_ = false;
    BudgetStatus status_ = BudgetStatus::ok;
    bool didSyncRemoteThisLaunch_ = false;
    // The first pass always saves, whatever it found, so a cache that could not be read is
    // written anew.
    bool didSaveScan_ = false;
    UsageAggregates::UsageSnapshot snapshot_;

    // Shared with the scanning threads, which may outlive a pass's interest in them.
    std::shared_ptr<ScanProgress> scanProgress_ = std::make_shared<ScanProgress>();
    // Present while a scan runs; finished once its result is applied, or not.
    std::optional<QPromise<void>> scanApplied_;
    // Moved on by a forced rescan, so a scan started before it does not apply.
    std::uint64_t listsGeneration_ = 0;
    int scanFilesRead_ = 0;
    int scanFilesToRead_ = 0;
    QTimer progressTimer_;

    QThreadPool savePool_;
    QTimer refreshTimer_;
};

} // namespace fernhollow
